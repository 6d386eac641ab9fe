#include "console/MainWindow.h"

#include "console/AllHostsTable.h"
#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/DialogKeyFilter.h"
#include "console/HostActions.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/HostPalette.h"
#include "console/HostPrompts.h"
#include "console/HostSummaryModel.h"
#include "console/Notifier.h"
#include "console/WindowPlacement.h"
#include "session/HostSession.h"
#include "session/Reconnector.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString ProductTitle = QStringLiteral("Orvanite Server Console");

// How a host's link stands, as its tab shows it.
enum class TabLink
{
    Up,           // logged on
    Connecting,   // the first connection is under way
    Reconnecting, // the link was up and a connection is under way again
    Down,         // the link was up and is down
    Offline,      // never connected
};

TabLink tabLink(const HostController* host)
{
    const HostSession::LinkState state = host->session()->linkState();
    if (state == HostSession::LinkState::LoggedOn)
        return TabLink::Up;
    const bool underWay = state != HostSession::LinkState::Disconnected;
    if (host->linkDown())
        return underWay ? TabLink::Reconnecting : TabLink::Down;
    return underWay ? TabLink::Connecting : TabLink::Offline;
}

// The host's colour as a spot, filled while the link is up, a ring while it
// is being made, a struck-through ring while it is down; two bars on it
// while the refresh is paused.
QIcon tabIcon(const QColor& colour, TabLink link, bool paused)
{
    // Drawn at the screen's pixel ratio, sharp at a scale factor of 2.
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap spot(QSize(14, 14) * ratio);
    spot.setDevicePixelRatio(ratio);
    spot.fill(Qt::transparent);
    QPainter painter(&spot);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(1, 1, 12, 12);
    const bool filled = link == TabLink::Up;
    if (filled) {
        painter.setPen(QPen(colour.darker(140), 1));
        painter.setBrush(colour);
    } else {
        painter.setPen(QPen(link == TabLink::Offline ? QColor(Qt::gray) : colour, 2));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
    if (link == TabLink::Down)
        painter.drawLine(QPointF(3, 11), QPointF(11, 3));
    if (paused) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(filled ? HostPalette::textOn(colour) : colour);
        painter.drawRect(QRectF(4.5, 4, 1.8, 6));
        painter.drawRect(QRectF(7.7, 4, 1.8, 6));
    }
    return QIcon(spot);
}

// The tab's text: the host's name, and what is amiss in words.
QString tabText(const HostController* host, TabLink link)
{
    const QString name = host->hostName();
    QStringList marks;
    switch (link) {
    case TabLink::Up:
        break;
    case TabLink::Connecting:
        marks.append(QStringLiteral("connecting"));
        break;
    case TabLink::Reconnecting:
        marks.append(QStringLiteral("reconnecting"));
        break;
    case TabLink::Down:
        marks.append(QStringLiteral("down"));
        break;
    case TabLink::Offline:
        marks.append(QStringLiteral("not connected"));
        break;
    }
    if (host->isPaused())
        marks.append(QStringLiteral("paused"));
    QString text = name.isEmpty() ? QStringLiteral("(new host)") : name;
    if (!marks.isEmpty())
        text += QStringLiteral(" (") + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

} // namespace

MainWindow::MainWindow(const Environment& environment, QWidget* parent)
    : QMainWindow(parent), m_environment(environment),
      m_store(std::make_unique<ConsoleSettings>(environment.settingsFile))
{
    Q_ASSERT(m_environment.prompts && m_environment.eventLog);
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(ProductTitle);
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_tabs = new QTabWidget(client);
    m_tabs->setObjectName(QStringLiteral("hostTabWidget"));
    m_tabs->tabBar()->setObjectName(QStringLiteral("hostTabs"));
    m_tabs->setDocumentMode(true);
    m_tabs->tabBar()->setExpanding(false);
    m_tabs->tabBar()->hide();
    // The status line of the host shown.
    m_statusLines = new QStackedWidget(client);
    m_statusLines->setObjectName(QStringLiteral("statusLines"));
    m_allHostsStatus = new QStatusBar(m_statusLines);
    static_cast<QStatusBar*>(m_allHostsStatus)->setSizeGripEnabled(false);
    m_statusLines->addWidget(m_allHostsStatus);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_statusLines);
    setCentralWidget(client);
    // The window's least size is 400 x 300 outside; the window manager is
    // told (less the frame, once known) so that neither a corner drag nor a
    // request of its own makes it smaller, and resizeEvent keeps it where a
    // window manager does not listen.
    fitMinimumSize();
    // Space never answers a dialog (it pauses the host shown).
    qApp->installEventFilter(new DialogKeyFilter(this));
    m_summaries = new HostSummaryModel(this);
    m_actions = new HostActions(
        menuBar(), this, m_store.get(), [this] { return currentHost(); },
        [this] { return QList<HostPage*>(m_pages.begin(), m_pages.end()); });
    connect(m_actions, &HostActions::addHostRequested, this, &MainWindow::chooseHostFile);
    connect(m_actions, &HostActions::aboutRequested, this, &MainWindow::aboutRequested);
    connect(m_actions, &HostActions::exitRequested, this, &QWidget::close);
    buildAllHostsPage();
    buildHostSwitching();
    connect(m_tabs, &QTabWidget::currentChanged, this, &MainWindow::tabChosen);

    // The first host is the one named as the program's argument (or none:
    // its Configure dialog asks), then those of --add, then those of the last
    // run when that is the preference.
    // Of the last run's hosts only the files still there are opened, and
    // only regular ones (a FIFO would hold the window until written to).
    QStringList reopened;
    if (m_store->reopenHosts())
        for (const QString& file : m_store->lastHosts())
            if (QFileInfo(file).isFile())
                reopened.append(file);
    QStringList more = m_environment.added;
    if (m_environment.arguments.isEmpty() && !more.isEmpty())
        createHost({more.takeFirst()});
    else if (!m_environment.arguments.isEmpty() || reopened.isEmpty())
        createHost(m_environment.arguments);
    for (const QString& file : std::as_const(more))
        addHost(file);
    for (const QString& file : std::as_const(reopened))
        addHost(file);
    placeOnScreen();
    showHost(0);
}

MainWindow::~MainWindow()
{
    // The pages go before the prompts they speak through.
    const std::vector<HostPage*> pages = m_pages;
    m_pages.clear();
    for (HostPage* page : pages) {
        page->controller()->disconnect(this);
        delete page;
    }
}

void MainWindow::placeOnScreen()
{
    const QByteArray geometry = m_store->geometry();
    if (!geometry.isEmpty() && restoreGeometry(geometry)) {
        WindowPlacement::keepReachable(*this);
        return;
    }
    // A page of 715 x 426 between the menu bar and the status line; no larger
    // than the screen (at a scale factor of 2 a screen is half as wide).
    QSize wanted(715, 426 + menuBar()->sizeHint().height() + m_statusLines->sizeHint().height());
    if (m_tabs->tabBar()->isVisibleTo(this))
        wanted.rheight() += m_tabs->tabBar()->sizeHint().height();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(wanted.boundedTo(area.size() - QSize(8, 30)));
        move(area.center() - QPoint(width() / 2, height() / 2));
    } else {
        resize(wanted);
    }
}

void MainWindow::buildHostSwitching()
{
    // Ctrl+Tab and Ctrl+PgDown go to the next tab, Ctrl+Shift+Tab and
    // Ctrl+PgUp to the one before, round the end.
    auto step = [this](const char* name, QList<QKeySequence> keys, int by) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, by] {
            const int count = m_tabs->count();
            if (count > 1)
                m_tabs->setCurrentIndex((m_tabs->currentIndex() + by + count) % count);
        });
        addAction(action);
    };
    step("nextHostAction",
         {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, 1);
    step("previousHostAction",
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
         -1);
}

HostPage* MainWindow::host(int index) const
{
    return index >= 0 && index < hostCount() ? m_pages[size_t(index)] : nullptr;
}

HostPage* MainWindow::currentHost() const
{
    return qobject_cast<HostPage*>(m_tabs->currentWidget());
}

int MainWindow::indexOf(const HostPage* page) const
{
    for (int i = 0; i < hostCount(); ++i)
        if (m_pages[size_t(i)] == page)
            return i;
    return -1;
}

void MainWindow::buildAllHostsPage()
{
    m_allHostsPage = new QWidget(this);
    m_allHostsPage->setObjectName(QStringLiteral("allHostsPage"));
    m_allHostsPage->hide();
    auto* layout = new QVBoxLayout(m_allHostsPage);
    m_allHostsTable =
        new AllHostsTable({HostSummaryModel::Link, HostSummaryModel::Name}, m_allHostsPage);
    m_allHostsTable->setObjectName(QStringLiteral("allHostsTable"));
    m_allHostsTable->setModel(m_summaries);
    m_allHostsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_allHostsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_allHostsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_allHostsTable->setTabKeyNavigation(false);
    m_allHostsTable->verticalHeader()->hide();
    connect(m_allHostsTable, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { showHost(index.row()); });
    connect(m_allHostsTable, &QTableView::activated, this,
            [this](const QModelIndex& index) { showHost(index.row()); });
    auto* note = new QLabel(
        QStringLiteral("Processes and CPU Time count every listener's processes after each "
                       "refresh (the selected listener's until the first count). Double-click "
                       "a host to open its tab."),
        m_allHostsPage);
    note->setObjectName(QStringLiteral("allHostsNote"));
    note->setWordWrap(true);
    layout->addWidget(m_allHostsTable, 1);
    layout->addWidget(note);
}

HostPage* MainWindow::createHost(const QStringList& arguments)
{
    m_prompts.push_back(std::make_unique<HostPrompts>(m_environment.prompts));
    HostPrompts* hostPrompts = m_prompts.back().get();
    HostController::Environment environment;
    environment.prompts = hostPrompts;
    environment.eventLog = m_environment.eventLog;
    environment.arguments = arguments;
    environment.programPath = m_environment.programPath;
    environment.store = m_store.get();
    auto* controller = new HostController(environment, this);
    auto* page = new HostPage(controller, m_tabs);
    // Boxes name the host while more than one is open.
    hostPrompts->setSubjectSource(
        [this, controller] { return hostCount() > 1 ? controller->hostName() : QString(); });
    m_pages.push_back(page);
    m_statusLines->addWidget(page->statusBar());
    m_actions->attach(page);
    m_summaries->insertHost(hostCount() - 1, controller->summary());
    connect(controller, &HostController::closed, this, [this, page] { hostClosed(page); });
    connect(controller, &HostController::summaryChanged, this, [this, page] { hostChanged(page); });
    connect(controller, &HostController::pausedChanged, this, [this, page] { hostChanged(page); });
    // Notifications name the host as the window title does.
    controller->notifier()->setHostName([controller] { return controller->hostName(); });
    connect(controller, &HostController::captionChanged, this, [this, page] {
        if (page == currentHost())
            updateTitle();
    });
    updateTabs();
    if (m_shown) {
        controller->setStartCaption(m_startTitle);
        controller->start();
    }
    return page;
}

HostPage* MainWindow::addHost(const QString& file)
{
    if (!file.isEmpty()) {
        const QString path = QFileInfo(file).absoluteFilePath();
        for (HostPage* page : m_pages) {
            const QString key = page->controller()->hostKey();
            if (key == path || key == file) {
                showHost(indexOf(page));
                return page;
            }
        }
    }
    return createHost(file.isEmpty() ? QStringList() : QStringList{file});
}

void MainWindow::chooseHostFile()
{
    FileDialogSetup setup;
    setup.title = QStringLiteral("Add Host");
    // Where the operator's files are: beside the shown host's file, else
    // where the last one was chosen, else the home folder.
    QString folder = m_lastHostFolder;
    if (const HostPage* shown = currentHost();
        shown && !shown->controller()->settings().ConfigPath.isEmpty())
        folder = QFileInfo(shown->controller()->settings().ConfigPath).absolutePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    setup.folder = folder;
    setup.filters = {QStringLiteral("HCF Cfg Files(*.hcf)"), QStringLiteral("All Files(*.*)")};
    setup.defaultSuffix = QStringLiteral("HCF");
    const QString chosen = m_environment.prompts->chooseOpenFile(setup);
    if (chosen.isEmpty())
        return;
    m_lastHostFolder = QFileInfo(chosen).absolutePath();
    HostPage* page = addHost(QFileInfo(chosen).absoluteFilePath());
    showHost(indexOf(page));
}

void MainWindow::showHost(int index)
{
    if (HostPage* page = host(index))
        m_tabs->setCurrentWidget(page);
}

void MainWindow::showAllHosts()
{
    if (hostCount() > 1)
        m_tabs->setCurrentWidget(m_allHostsPage);
}

void MainWindow::tabChosen(int index)
{
    if (m_updatingTabs || index < 0)
        return;
    HostPage* page = currentHost();
    m_statusLines->setCurrentWidget(page ? static_cast<QWidget*>(page->statusBar())
                                         : m_allHostsStatus);
    // With two hosts or more, every host counts all its listeners'
    // processes after each refresh, whichever tab is shown, so that All
    // hosts has every host's whole figures (and a host that drops keeps
    // its last ones); with one, only the trends ask for it. Only the host
    // on show may open a message box.
    const bool many = hostCount() > 1;
    for (HostPage* p : m_pages) {
        p->controller()->setCountingEveryListener(many);
        p->controller()->setShown(p == page);
    }
    m_actions->sync();
    updateTitle();
}

void MainWindow::hostChanged(HostPage* page)
{
    const int index = indexOf(page);
    if (index < 0)
        return;
    m_summaries->updateHost(index, page->controller()->summary());
    // Only this host's tab: the others have not changed.
    updateTab(index);
    if (page == currentHost())
        updateTitle();
}

void MainWindow::updateTab(int index)
{
    if (hostCount() < 2 || index >= m_tabs->count())
        return;
    HostPage* page = m_pages[size_t(index)];
    const HostController* host = page->controller();
    const TabLink link = tabLink(host);
    TabLook look{tabText(host, link),
                 host->hostKey() + QLatin1Char('\n') + host->reconnector()->statusText(),
                 host->accent().rgb(), int(link), host->isPaused()};
    TabLook& shown = m_tabLooks[page];
    if (look.text != shown.text)
        m_tabs->setTabText(index, look.text);
    if (look.toolTip != shown.toolTip)
        m_tabs->setTabToolTip(index, look.toolTip);
    // A new icon only when it would look different: each one repaints the bar.
    if (look.colour != shown.colour || look.link != shown.link || look.paused != shown.paused ||
        m_tabs->tabIcon(index).isNull())
        m_tabs->setTabIcon(index, tabIcon(host->accent(), link, look.paused));
    if (look.colour != shown.colour)
        page->setAccentShown(true);
    shown = look;
}

void MainWindow::updateTabs()
{
    // One tab per host, and "All hosts" last while there are two or more.
    const bool many = hostCount() > 1;
    QWidget* current = m_tabs->currentWidget();
    m_updatingTabs = true;
    while (m_tabs->count() > 0)
        m_tabs->removeTab(0);
    m_tabLooks.clear();
    for (HostPage* page : m_pages) {
        m_tabs->addTab(page, QString());
        page->setAccentShown(many);
    }
    if (many)
        m_tabs->addTab(m_allHostsPage, QStringLiteral("All hosts"));
    else
        m_allHostsPage->hide();
    for (int i = 0; i < hostCount(); ++i)
        updateTab(i);
    m_tabs->tabBar()->setVisible(many);
    // The tab bar is a Tab stop only while shown: a hidden one would keep
    // Tab in the process table, the stop before it.
    m_tabs->setFocusPolicy(many ? Qt::TabFocus : Qt::NoFocus);
    m_updatingTabs = false;
    const int index = current ? m_tabs->indexOf(current) : -1;
    m_tabs->setCurrentIndex(std::max(index, 0));
    tabChosen(m_tabs->currentIndex());
}

void MainWindow::updateTitle()
{
    HostPage* page = currentHost();
    if (!page) {
        setWindowTitle(ProductTitle + QStringLiteral(" - All hosts"));
        return;
    }
    QString title = page->controller()->caption();
    const QString name = page->controller()->hostName();
    if (hostCount() > 1 && !name.isEmpty() && !title.contains(name))
        title += QStringLiteral(" [") + name + QLatin1Char(']');
    setWindowTitle(title);
}

void MainWindow::hostClosed(HostPage* page)
{
    const int index = indexOf(page);
    if (index < 0)
        return;
    if (hostCount() == 1) {
        // The last host gone ends the window, and with it the program; its
        // page stays as it was until then.
        if (!m_closing)
            close();
        return;
    }
    m_pages.erase(m_pages.begin() + index);
    m_summaries->removeHost(index);
    page->controller()->disconnect(this);
    m_tabs->removeTab(m_tabs->indexOf(page));
    page->hide();
    page->deleteLater();
    if (!m_closing)
        updateTabs();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // The title the program gave the window stands until each host's
    // connection sequence sets its own.
    m_startTitle = windowTitle();
    // Every host connects now, each on its own; the one shown first.
    const std::vector<HostPage*> pages = m_pages;
    for (HostPage* page : pages) {
        page->controller()->setStartCaption(m_startTitle);
        page->controller()->start();
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_closing = true;
    QStringList files;
    for (const HostPage* page : m_pages)
        if (QFileInfo(page->controller()->hostKey()).isAbsolute())
            files.append(page->controller()->hostKey());
    if (!m_pages.empty())
        m_store->setLastHosts(files);
    m_store->setGeometry(saveGeometry());
    m_store->sync();
    // Quit goes to every host.
    const std::vector<HostPage*> pages = m_pages;
    for (HostPage* page : pages)
        page->controller()->close();
    event->accept();
}

void MainWindow::fitMinimumSize()
{
    const QSize frame =
        testAttribute(Qt::WA_WState_Created) ? frameGeometry().size() - size() : QSize(0, 0);
    const QSize least = (QSize(400, 300) - frame).expandedTo(QSize(1, 1));
    if (minimumSize() != least)
        setMinimumSize(least);
}

bool MainWindow::event(QEvent* event)
{
    // The frame's size is known once the window manager has put one round
    // the window, which it tells with a move.
    if (event->type() == QEvent::Move || event->type() == QEvent::Show)
        fitMinimumSize();
    return QMainWindow::event(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    fitMinimumSize();
    QMainWindow::resizeEvent(event);
    // In the normal state the window is at least 400 x 300 outside; a
    // maximized or minimized one is not held to it.
    const Qt::WindowStates state = windowState();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    const QSize outer = testAttribute(Qt::WA_WState_Created) ? frameGeometry().size() : size();
    const QSize wanted = outer.expandedTo(QSize(400, 300));
    if (wanted != outer)
        resize(size() + (wanted - outer));
}
