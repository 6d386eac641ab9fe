#include "console/HostView.h"

#include "config/ConfigLocation.h"
#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/EventLog.h"
#include "console/HostPalette.h"
#include "console/ListProgress.h"
#include "console/Notifier.h"
#include "console/Prompts.h"
#include "console/RecordTableView.h"
#include "console/SplitterBar.h"
#include "console/dialogs/AddListenerDialog.h"
#include "console/dialogs/ChangePriorityDialog.h"
#include "console/dialogs/ConfigureDialog.h"
#include "host_link/AppErrors.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"
#include "session/TrendCollector.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace {

const QString ProductTitle = QStringLiteral("Orvanite Server Console");

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace

HostView::HostView(const Environment& environment, QWidget* parent)
    : QMainWindow(parent), m_environment(environment), m_session(new HostSession(this)),
      m_store(std::make_unique<ConsoleSettings>(environment.settingsFile))
{
    Q_ASSERT(m_environment.prompts && m_environment.eventLog);
    // A main window is a window of its own unless told otherwise: inside the
    // window of many hosts it is a page.
    if (parent)
        setWindowFlags(Qt::Widget);
    m_random.seed(std::mt19937::result_type(QDateTime::currentMSecsSinceEpoch()));
    // Rows read before the link dropped stay on screen, greyed.
    m_session->setKeepRowsOnLinkLoss(true);
    m_reconnector = new Reconnector(m_session, this);
    buildWidgets();
    buildMenus();
    buildViewParts();
    connectSession();
    buildHistory();
    // Client area 715 x 426 between the menu and the status line; no larger
    // than the screen (at a scale factor of 2 a screen is half as wide).
    QSize wanted(715, 426 + chromeHeight());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        wanted = wanted.boundedTo(area.size() - QSize(8, 54));
        resize(wanted);
        if (isWindow())
            move(area.center() - QPoint(width() / 2, height() / 2));
    } else {
        resize(wanted);
    }
    arrangeClient(QSize(wanted.width(), wanted.height() - chromeHeight()));
    restoreSettings();

    m_addListenerDialog = new AddListenerDialog(this);
    m_changePriorityDialog = new ChangePriorityDialog(this);
    m_configureDialog = new ConfigureDialog(this);
    connect(m_configureDialog, &ConfigureDialog::loadRequested, this, [this] {
        // A load that ended with an error (already shown) keeps the dialog
        // open for another try; otherwise it ends with OK.
        if (openConfigFile(OpenMode::FillDialog))
            m_configureDialog->accept();
    });

    if (!m_environment.arguments.isEmpty()) {
        // A path with a separator is used as it stands; a bare name is looked
        // for beside the program, then in the current folder.
        const ConfigLocation location = LocateConfigFile(
            m_environment.arguments.first(), m_environment.programPath, QDir::currentPath());
        m_settings.ConfigPath = location.Path;
        m_missingConfig = location.Missing;
    }
    if (!m_settings.ConfigPath.isEmpty())
        setWindowTitle(ProductTitle + QStringLiteral(" - ") + m_settings.ConfigPath);
    // Busy until the first connection has filled the tables.
    updateBusy();
}

HostView::~HostView()
{
    // The session ends with the window; nothing it says now reaches us.
    m_session->disconnect(this);
    m_session->quit();
    if (m_cursorSet && isWindow())
        QGuiApplication::restoreOverrideCursor();
}

void HostView::buildWidgets()
{
    setObjectName(QStringLiteral("hostView"));
    setWindowTitle(ProductTitle);
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setAutoFillBackground(true);
    client->setBackgroundRole(QPalette::Button);
    setCentralWidget(client);
    client->installEventFilter(this);

    m_listenerBox = new QGroupBox(QStringLiteral("Listeners"), client);
    m_listenerBox->setObjectName(QStringLiteral("listenerBox"));
    m_listenerTable = new RecordTableView(m_listenerBox);
    m_listenerTable->setObjectName(QStringLiteral("listenerTable"));
    m_listenerTable->setToolTip(QStringLiteral("Listeners"));
    m_listenerTable->setRecordTable(m_session->listeners(), int(ListenerColumn::Pin));
    m_listenerTable->setColumnShares({7, 23, 40, 15, 15});

    m_splitter = new SplitterBar(client);

    m_processBox = new QGroupBox(QStringLiteral("User Processes"), client);
    m_processBox->setObjectName(QStringLiteral("processBox"));
    m_processTable = new RecordTableView(m_processBox);
    m_processTable->setObjectName(QStringLiteral("processTable"));
    m_processTable->setToolTip(QStringLiteral("User Processes"));
    m_processTable->setRecordTable(m_session->processes(), int(ProcessColumn::Pin));
    m_processTable->setColumnShares({7, 7, 30, 40, 10, 6});

    const int listenerWidths[] = {54, 152, 233, 64, 73};
    for (int c = 0; c < 5; ++c)
        m_listenerTable->setColumnWidth(c, listenerWidths[c]);
    const int processWidths[] = {45, 40, 184, 217, 59};
    for (int c = 0; c < 5; ++c)
        m_processTable->setColumnWidth(c, processWidths[c]);

    auto* bar = new QFrame(client);
    bar->setObjectName(QStringLiteral("buttonBar"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_buttonBar = bar;
    auto button = [bar](const char* caption, const char* name, int left) {
        auto* b = new QPushButton(QString::fromLatin1(caption), bar);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, 8, 105, 25);
        return b;
    };
    m_refreshButton = button("&Refresh", "refreshButton", 8);
    m_startListenerButton = button("&Start Listener", "startListenerButton", 120);
    m_killListenerButton = button("Kill &Listener", "killListenerButton", 232);
    m_killProcessButton = button("Kill &Process", "killProcessButton", 344);
    m_changePriorityButton = button("&Change Pri", "changePriorityButton", 456);
    // The priority column and its button come with the first priority.
    m_changePriorityButton->hide();
    m_statusBar = new ConsoleStatusBar(this);
    setStatusBar(m_statusBar);

    // Tab order: the button bar, then the listeners, then the processes.
    setTabOrder(m_changePriorityButton, m_refreshButton);
    setTabOrder(m_refreshButton, m_startListenerButton);
    setTabOrder(m_startListenerButton, m_killListenerButton);
    setTabOrder(m_killListenerButton, m_killProcessButton);
    setTabOrder(m_killProcessButton, m_listenerTable);
    setTabOrder(m_listenerTable, m_processTable);

    connect(m_listenerTable, &RecordTableView::rowChosen, this, &HostView::listenerChosen);
    connect(m_processTable, &RecordTableView::rowChosen, this, [this](int row) {
        m_processPin = m_session->processes()->cell(row, ProcessColumn::Pin).toByteArray();
    });
    connect(m_splitter, &SplitterBar::dragged, this, &HostView::splitterDragged);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    m_refreshTimer->setInterval(5000);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        // A tick while a command's dialog is open is skipped: the next one
        // comes. While the link is down there is nothing to list.
        if (!m_busy && !m_commandRunning && !m_dialogOpen && !m_closing &&
            m_session->linkState() == HostSession::LinkState::LoggedOn)
            m_session->refresh();
    });
}

void HostView::connectSession()
{
    HostSession* s = m_session;
    connect(s, &HostSession::busyChanged, this, &HostView::updateBusy);
    connect(s, &HostSession::logonProgress, this, &HostView::showProgress);
    connect(s, &HostSession::logonFailed, this, [this](HostSession::LogonResult result) {
        // An attempt to bring the link back tells in the status line.
        if (m_linkAttempt)
            return;
        if (result == HostSession::LogonResult::Refused)
            m_environment.prompts->showMessage(QStringLiteral("Invalid Login!"));
        else if (result == HostSession::LogonResult::Failed)
            m_environment.prompts->showMessage(QStringLiteral("Error creating server process!"));
    });
    connect(s, &HostSession::connectFinished, this, &HostView::connectFinished);
    connect(s, &HostSession::socketError, this, &HostView::showSocketError);
    connect(s, &HostSession::tunnelError, this, [this](const QString& text) {
        if (!m_linkAttempt)
            m_environment.prompts->showMessage(text);
    });
    connect(s, &HostSession::listenersChanged, this, &HostView::listenersChanged);
    connect(s, &HostSession::processesChanged, this, &HostView::processesChanged);
    connect(s, &HostSession::processListRequested, this, &HostView::processListRequested);
    new ListProgress(s, m_statusBar, this);
    connect(s, &HostSession::listEnded, this, [this] { m_statusBar->setStopVisible(false); });
    connect(s, &HostSession::notices, this,
            [this](const QStringList& lines) { showStatus(lines.join(QLatin1Char(' '))); });
    connect(s->processes(), &ProcessTableModel::priorityColumnAdded, this, [this] {
        m_changePriorityButton->setVisible(true);
        const QList<int> stored = m_store->table(QStringLiteral("processes")).widths;
        const int priority = int(ProcessColumn::Priority);
        m_processTable->setColumnWidth(priority, stored.size() > priority
                                                     ? stored[priority]
                                                     : int(m_processTable->width() * 0.05));
    });
}

// ---------------------------------------------------------------------------
// Connection control
// ---------------------------------------------------------------------------

void HostView::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous() || !m_firstShow || m_startQueued)
        return;
    start();
}

void HostView::start()
{
    if (m_started || m_startQueued)
        return;
    // The window paints first; the start-up then runs from the event loop.
    m_startQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_startQueued = false;
            m_started = true;
            guarded([this] { startUp(); });
        },
        Qt::QueuedConnection);
}

void HostView::startUp()
{
    // Only the first show connects; a later show leaves the state alone.
    if (!m_firstShow || m_closing)
        return;
    if (!m_missingConfig.isEmpty()) {
        // The operator named a file: an empty Configure dialog would hide the
        // mistake.
        m_environment.prompts->showMessage(m_missingConfig);
        close();
        return;
    }
    if (!m_settings.ConfigPath.isEmpty() && !loadConfigFile()) {
        m_connecting = false;
        updateBusy();
        return;
    }
    if (m_settings.HostAddress.isEmpty() && !editSettings())
        return;
    if (m_settings.HostAddress.isEmpty()) {
        close();
        return;
    }
    connectAndLogon();
}

void HostView::connectAndLogon()
{
    if (m_closing || keyringLookupFirst())
        return;
    m_connecting = true;
    updateBusy();
    // Rows of another host are nothing to compare with.
    m_session->listeners()->forgetPreviousList();
    m_session->processes()->forgetPreviousList();
    restoreFilters();
    m_session->setSettings(m_settings);
    m_session->connectToHost();
}

void HostView::connectFinished(bool loggedOn)
{
    const bool attempt = m_linkAttempt;
    m_linkAttempt = false;
    if (!loggedOn && attempt) {
        // The link stays down; the rows stay greyed and the status line
        // tells why and when the next attempt comes.
        m_connecting = false;
        updateBusy();
        return;
    }
    if (!loggedOn) {
        close();
        return;
    }
    m_connecting = false;
    showConfigPath();
    if (m_settings.ConfigPath.isEmpty())
        setWindowTitle(ProductTitle + QStringLiteral(" - (") + latin1(m_settings.HostAddress) +
                       QStringLiteral(")"));
    updateBusy();
    if (m_firstShow) {
        m_firstShow = false;
        m_refreshButton->setFocus();
    }
}

void HostView::showProgress(int step)
{
    const QString text = QStringLiteral("KELD32 00%1").arg(step);
    setWindowTitle(text);
    m_environment.eventLog->report(text, 4, 3, 1000);
}

void HostView::showSocketError(int code, const QString& text)
{
    if (m_linkAttempt)
        return; // the reconnector shows it in the status line
    m_environment.prompts->showMessage(QStringLiteral("WINSOCK error: %1\n%2").arg(code).arg(text));
}

void HostView::closeEvent(QCloseEvent* event)
{
    // Once closing, nothing more is asked of the host and no new connection
    // is made; what waits is dropped.
    m_closing = true;
    m_reconnector->hold();
    saveSettings();
    updateBusy();
    m_notifier->expectLinkEnd();
    m_session->quit();
    event->accept();
    Q_EMIT closed();
}

bool HostView::connected() const
{
    return m_session->isConnected();
}

void HostView::updateBusy()
{
    setBusy(m_closing || m_connecting || m_commandRunning || m_session->isBusy());
}

void HostView::holdBusy()
{
    m_commandRunning = true;
    updateBusy();
}

void HostView::setBusy(bool busy)
{
    m_busy = busy;
    if (busy) {
        m_refreshTimer->stop();
    } else if (!m_closing) {
        if (m_settings.RefreshInterval != m_appliedInterval && m_settings.RefreshInterval > 0) {
            m_appliedInterval = m_settings.RefreshInterval;
            m_refreshTimer->setInterval(m_appliedInterval);
        }
        if (m_paused)
            m_refreshTimer->stop();
        else if (!m_refreshTimer->isActive())
            m_refreshTimer->start();
    }
    m_refreshButton->setEnabled(!busy);
    // One override cursor at most: busy states do not nest. A host among
    // many shows the hourglass over its own view only, so that the others
    // stay plainly usable.
    if (busy && !m_cursorSet) {
        if (isWindow())
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            setCursor(Qt::WaitCursor);
        m_cursorSet = true;
    } else if (!busy && m_cursorSet) {
        if (isWindow())
            QGuiApplication::restoreOverrideCursor();
        else
            unsetCursor();
        m_cursorSet = false;
    }
}

void HostView::guarded(const std::function<void()>& command)
{
    try {
        command();
    } catch (const EAppError& error) {
        // The command ends here; the operator is told and is not left with a
        // dead Refresh button.
        m_commandRunning = false;
        m_connecting = false;
        m_environment.prompts->showMessage(error.message());
        updateBusy();
    }
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

void HostView::listenerChosen(int row)
{
    if (m_restoringSelection)
        return;
    const QByteArray pin = m_session->listeners()->cell(row, ListenerColumn::Pin).toByteArray();
    if (pin.isEmpty())
        return;
    m_session->selectListener(pin);
    m_session->refreshProcesses();
}

void HostView::listenersChanged()
{
    // The session follows the chosen listener by PIN; a vanished one selects nothing.
    QScopedValueRollback<bool> restoring(m_restoringSelection, true);
    const QByteArray pin = m_session->selectedListener();
    m_listenerTable->selectRow(pin.isEmpty() ? -1 : m_session->listeners()->findPin(pin));
}

void HostView::processesChanged()
{
    QScopedValueRollback<bool> restoring(m_restoringSelection, true);
    ProcessTableModel* processes = m_session->processes();
    if (m_processPin.isEmpty()) {
        // Before any choice the first process shown is the selected one.
        const int first = m_processTable->tableRowAt(0);
        m_processTable->selectRow(first);
        m_processPin = processes->cell(first, ProcessColumn::Pin).toByteArray();
        return;
    }
    m_processTable->selectRow(processes->findPin(m_processPin));
}

void HostView::processListRequested(const QByteArray& listenerPin)
{
    m_changesKnown = listenerPin == m_listedPin;
    if (listenerPin != m_listedPin) {
        // Another listener's processes: the first of them is selected, and
        // none of them is new.
        m_listedPin = listenerPin;
        m_processPin.clear();
        m_session->processes()->forgetPreviousList();
    }
    const ListenerTableModel* listeners = m_session->listeners();
    const int row = listeners->findPin(listenerPin);
    m_processBox->setTitle(QStringLiteral("User Processes for (%1:%2:%3:%4)")
                               .arg(latin1(listenerPin),
                                    latin1(listeners->cell(row, ListenerColumn::Product)),
                                    latin1(listeners->cell(row, ListenerColumn::Program)),
                                    latin1(listeners->cell(row, ListenerColumn::Port))));
}

void HostView::stopList()
{
    if (!m_session->isReadingList())
        return;
    // The same long list would start again with the next tick.
    m_listStopped = true;
    setPaused(true);
    m_session->stopList();
}

void HostView::showStatus(const QString& text)
{
    m_statusBar->setMessage(text);
}

void HostView::closeHost()
{
    // As closing the window: Quit goes to this host, and only to it.
    close();
}

QString HostView::hostName() const
{
    if (!m_settings.ConfigPath.isEmpty())
        return QFileInfo(m_settings.ConfigPath).completeBaseName();
    if (m_settings.HostAddress.isEmpty())
        return QString();
    return latin1(m_settings.HostAddress) + QLatin1Char(':') + QString::number(m_settings.Port);
}

QColor HostView::accentFor(const QString& key)
{
    return HostPalette::colours().at(HostPalette::preferredIndex(key));
}

void HostView::setAccent(const QColor& colour)
{
    m_accent = colour;
    setAccentShown(m_accentShown);
}

QColor HostView::accent() const
{
    return m_accent.isValid() ? m_accent : accentFor(hostKey());
}

void HostView::setAccentShown(bool shown)
{
    m_accentShown = shown;
    m_statusBar->setAccent(shown ? hostName() : QString(), accent());
}

HostView::Summary HostView::summary() const
{
    Summary s;
    s.name = hostName();
    s.accent = accent();
    s.link = m_reconnector->statusText();
    s.reconnections = m_reconnector->reconnections();
    // Every listener's figures once the census has been taken; a host that
    // went down keeps them, marked stale.
    const CensusSummary& census = m_trendCollector->census().summary();
    if (m_trendCollector->isEnabled() && census.taken()) {
        s.everyListener = true;
        s.census = census;
        return s;
    }
    if (!m_lastRead.isValid())
        return s;
    // Until then, the selected listener's processes, summed as they arrived.
    s.census.listeners = m_session->listeners()->rows();
    s.census.processes = m_session->processes()->rows();
    s.census.cpuMs = m_session->processes()->total();
    s.census.takenAt = m_lastRead;
    s.census.stale = m_session->linkState() != HostSession::LinkState::LoggedOn;
    return s;
}
