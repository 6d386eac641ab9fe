#include "console/HostPage.h"

#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/FocusFrameStyle.h"
#include "console/HostCommands.h"
#include "console/HostController.h"
#include "console/ListProgress.h"
#include "console/PageSplitter.h"
#include "console/Prompts.h"
#include "console/RecordItemDelegate.h"
#include "console/RecordTableView.h"
#include "console/SparklineDelegate.h"
#include "console/TableFilterBar.h"
#include "console/TableTransfer.h"
#include "console/TrendsPane.h"
#include "console/dialogs/AuditDialog.h"
#include "console/dialogs/PreferencesDialog.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"
#include "session/RecordSortFilterModel.h"
#include "session/TrendCollector.h"

#include <QBoxLayout>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QShowEvent>

#include <algorithm>
#include <utility>

namespace {

const QString ListenerTableName = QStringLiteral("listeners");
const QString ProcessTableName = QStringLiteral("processes");
const QString TrendsKey = QStringLiteral("trends");

constexpr int ButtonBarHeight = 40;

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

QString clock(const QDateTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

// A group box whose table (and filter box, while open) fill it, 2 pixels in
// from its sides and below its caption. The box takes any height it is
// given: the page decides how high it is.
QGroupBox* tableBox(const QString& title, const char* name, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setMinimumHeight(1);
    auto* layout = new QVBoxLayout(box);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    return box;
}

} // namespace

HostPage::HostPage(HostController* controller, QWidget* parent)
    : QWidget(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("hostPage"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    buildTables();
    buildButtonBar();
    buildFilters();
    m_statusBar = new ConsoleStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    m_commands = new HostCommands(m_controller, m_listenerTable, m_processTable, this);
    m_preferencesDialog = new PreferencesDialog(this);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_buttonBar);

    // Tab order: the button bar, then the listeners, then the processes,
    // then the filter boxes.
    setTabOrder(m_changePriorityButton, m_refreshButton);
    setTabOrder(m_refreshButton, m_startListenerButton);
    setTabOrder(m_startListenerButton, m_killListenerButton);
    setTabOrder(m_killListenerButton, m_killProcessButton);
    setTabOrder(m_killProcessButton, m_listenerTable);
    setTabOrder(m_listenerTable, m_processTable);
    setTabOrder(m_processTable, m_listenerFilter->edit());
    setTabOrder(m_listenerFilter->edit(), m_processFilter->edit());

    connectController();
    restoreSettings();
    linkStateChanged();
    showBusy(m_controller->isBusy());
    // The last child: it goes after the views over its tables.
    m_controller->setParent(this);
}

HostPage::~HostPage()
{
    // The host ends after the tables over its models (it is the page's last
    // child); nothing it says on the way reaches the half-gone page.
    for (QObject* sender : std::initializer_list<QObject*>{
             m_controller, m_controller->session(), m_controller->session()->processes(),
             m_controller->reconnector(), m_controller->trends()})
        sender->disconnect(this);
    // The window shows the status line among the others; it goes with the page.
    delete m_statusBar;
}

void HostPage::buildTables()
{
    m_listenerBox = tableBox(QStringLiteral("Listeners"), "listenerBox", this);
    m_processBox = tableBox(QStringLiteral("User Processes"), "processBox", this);
    m_splitter = new PageSplitter(this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->addWidget(m_listenerBox);
    m_splitter->addWidget(m_processBox);
    // A taller window gives its extra height to the process box.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    connect(m_splitter, &QSplitter::splitterMoved, this,
            [this](int top, int) { splitterMoved(top); });

    HostSession* session = m_controller->session();
    session->listeners()->setMarkNewRows(int(ListenerColumn::Pin));
    session->processes()->setMarkNewRows(int(ProcessColumn::Pin));
    auto table = [](QGroupBox* box, const char* name) {
        auto* view = new RecordTableView(box);
        view->setObjectName(QString::fromLatin1(name));
        view->setToolTip(box->title());
        // One Tab stop per table: the arrows move within it.
        view->setTabKeyNavigation(false);
        box->layout()->addWidget(view);
        return view;
    };
    m_listenerTable = table(m_listenerBox, "listenerTable");
    m_listenerTable->setRecordTable(session->listeners(), int(ListenerColumn::Pin));
    m_listenerTable->setColumnShares({7, 23, 40, 15, 15});
    m_processTable = table(m_processBox, "processTable");
    m_processTable->setRecordTable(session->processes(), int(ProcessColumn::Pin));
    m_processTable->setColumnShares({7, 7, 30, 40, 10, 6});
    m_processTable->itemDelegate()->setRightAligned({int(ProcessColumn::CpuTime)});
    const int listenerWidths[] = {54, 152, 233, 64, 73};
    for (int c = 0; c < 5; ++c)
        m_listenerTable->setColumnWidth(c, listenerWidths[c]);
    const int processWidths[] = {45, 40, 184, 217, 59};
    for (int c = 0; c < 5; ++c)
        m_processTable->setColumnWidth(c, processWidths[c]);

    // The listener table's delegate also draws the sparklines; it takes over
    // what the plain one was told.
    m_sparklines =
        new SparklineDelegate(&m_controller->trends()->history(), int(ListenerColumn::Pin),
                              int(ListenerColumn::MaxUsers), this);
    m_listenerTable->setRecordDelegate(m_sparklines);
}

void HostPage::buildButtonBar()
{
    auto* bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("buttonBar"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Raised);
    bar->setFixedHeight(ButtonBarHeight);
    auto* row = new QHBoxLayout(bar);
    // Buttons of 105 x 25, 8 pixels from the bar's top and their left edges
    // 112 pixels apart (the bar's raised edge is inside its 8 pixels).
    const int edge = bar->frameWidth();
    row->setContentsMargins(8 - edge, 8 - edge, 0, 0);
    row->setSpacing(112 - 105);
    row->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_buttonBar = bar;
    // A focused button shows it, however it got the focus.
    auto* style = new FocusFrameStyle;
    style->setParent(this);
    auto button = [bar, row, style](const char* caption, const char* name) {
        auto* b = new QPushButton(QString::fromLatin1(caption), bar);
        b->setObjectName(QString::fromLatin1(name));
        b->setStyle(style);
        b->setFixedSize(105, 25);
        row->addWidget(b, 0, Qt::AlignTop);
        return b;
    };
    m_refreshButton = button("&Refresh", "refreshButton");
    m_startListenerButton = button("&Start Listener", "startListenerButton");
    m_killListenerButton = button("Kill &Listener", "killListenerButton");
    m_killProcessButton = button("Kill &Process", "killProcessButton");
    m_changePriorityButton = button("&Change Pri", "changePriorityButton");
    row->addStretch(1);
    // The priority column and its button come with the first priority.
    m_changePriorityButton->hide();
}

void HostPage::buildFilters()
{
    auto filterFor = [this](RecordTableView* view, QGroupBox* box, const QString& table,
                            const char* noun) {
        auto* bar = new TableFilterBar(view->sortFilter(), QString::fromLatin1(noun), box);
        bar->setObjectName(table + QStringLiteral("FilterBar"));
        bar->edit()->setObjectName(table + QStringLiteral("Filter"));
        static_cast<QVBoxLayout*>(box->layout())->insertWidget(0, bar);
        connect(bar, &TableFilterBar::filterChanged, this, [this, table](const QString& text) {
            m_controller->store()->setFilter(m_controller->hostKey(), table, text);
        });
        connect(bar, &TableFilterBar::closed, this, [view] { view->setFocus(); });
        connect(bar, &TableFilterBar::countChanged, this, &HostPage::updateCounts);
        return bar;
    };
    m_listenerFilter = filterFor(m_listenerTable, m_listenerBox, ListenerTableName, "listener");
    m_processFilter = filterFor(m_processTable, m_processBox, ProcessTableName, "process");

    Prompts* prompts = m_controller->prompts();
    new TableTransfer(m_listenerTable, prompts, ListenerTableName);
    new TableTransfer(m_processTable, prompts, ProcessTableName);

    // Sort and widths are remembered as soon as the operator sets them.
    for (auto [view, name] : {std::pair{m_listenerTable, ListenerTableName},
                              std::pair{m_processTable, ProcessTableName}}) {
        auto store = [this, view, name] {
            ConsoleSettings::Table t;
            if (view->operatorSized())
                t.widths = view->columnWidths();
            t.sortColumn = view->sortFilter()->sortColumn();
            t.descending = view->sortFilter()->sortOrder() == Qt::DescendingOrder;
            m_controller->store()->setTable(name, t);
        };
        connect(view, &RecordTableView::sortChanged, this, store);
        connect(view, &RecordTableView::columnsResized, this, store);
    }
}

void HostPage::connectController()
{
    HostController* c = m_controller;
    HostSession* s = c->session();
    connect(c, &HostController::busyChanged, this, &HostPage::showBusy);
    connect(c, &HostController::connectionReady, this, [this] {
        // After the first connection Refresh has the focus, once it is
        // enabled; a connection that comes back leaves the focus where the
        // operator put it.
        if (std::exchange(m_firstConnection, false)) {
            m_focusRefresh = true;
            showBusy(m_controller->isBusy());
        }
    });
    connect(c, &HostController::hostChanged, this, &HostPage::restoreFilters);
    // Another host's listeners are none of the last one's.
    connect(c, &HostController::hostChanged, this, [this] { m_listedPin.clear(); });
    connect(c, &HostController::listsRead, this, &HostPage::listsRead);
    connect(c, &HostController::statusMessage, m_statusBar, &ConsoleStatusBar::setMessage);
    connect(c, &HostController::pausedChanged, m_statusBar, &ConsoleStatusBar::setPaused);
    connect(c->reconnector(), &Reconnector::statusChanged, this, &HostPage::linkStateChanged);
    connect(c->trends(), &TrendCollector::sampled, this, &HostPage::trendsSampled);
    connect(s, &HostSession::linkStateChanged, this, &HostPage::linkStateChanged);
    connect(s, &HostSession::listenersChanged, this, &HostPage::listenersChanged);
    connect(s, &HostSession::processesChanged, this, &HostPage::processesChanged);
    connect(s, &HostSession::processListRequested, this, &HostPage::processListRequested);
    new ListProgress(s, m_statusBar, this);
    connect(s, &HostSession::listEnded, this, [this] { m_statusBar->setStopVisible(false); });
    connect(s->processes(), &ProcessTableModel::priorityColumnAdded, this,
            &HostPage::priorityColumnAdded);
    connect(m_listenerTable, &RecordTableView::rowChosen, this, &HostPage::listenerChosen);
    connect(m_processTable, &RecordTableView::rowChosen, this, [this](int row) {
        m_processPin =
            m_controller->session()->processes()->cell(row, ProcessColumn::Pin).toByteArray();
    });
}

void HostPage::restoreSettings()
{
    ConsoleSettings* store = m_controller->store();
    if (const int height = store->listenerBoxHeight(); height > 0)
        m_listenerBoxHeight = height;
    applySplit();
    for (auto [view, name] : {std::pair{m_listenerTable, ListenerTableName},
                              std::pair{m_processTable, ProcessTableName}}) {
        const ConsoleSettings::Table t = store->table(name);
        view->restoreColumnWidths(t.widths);
        if (t.sortColumn >= 0)
            view->sortBy(t.sortColumn, t.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    m_markNewRows = store->markNewRows();
    m_sparklines->setMarkNewRows(m_markNewRows);
    m_processTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    // The pane is hidden until the operator asks for it, and stays as left.
    setTrendsShown(store->preference(TrendsKey, false));
}

void HostPage::applySplit()
{
    const int below =
        std::max(0, m_splitter->height() - PageSplitter::HandleHeight - m_listenerBoxHeight);
    m_splitter->setSizes({m_listenerBoxHeight, below});
}

void HostPage::splitterMoved(int top)
{
    m_listenerBoxHeight = top;
    m_controller->store()->setListenerBoxHeight(top);
    fitTrends();
}

void HostPage::fitTrends()
{
    // The trends take what the process box can spare beyond 120 pixels,
    // between their least and their preferred height: a tall window shows
    // them whole, a short one keeps room for the processes.
    if (!m_trendsPane || m_trendsPane->isHidden())
        return;
    const int spare =
        height() - ButtonBarHeight - PageSplitter::HandleHeight - m_listenerBoxHeight - 120;
    m_trendsPane->setMaximumHeight(std::clamp(spare, m_trendsPane->minimumSizeHint().height(),
                                              m_trendsPane->sizeHint().height()));
}

void HostPage::fitBoxMargins()
{
    // A table sits 2 pixels in from its box's sides and bottom and 2 below
    // the caption, whatever room the style would keep around the contents
    // (the box sets its own margins again when its style or font changes).
    for (QGroupBox* box : {m_listenerBox, m_processBox})
        box->setContentsMargins(2, box->fontMetrics().height() + 2, 2, 2);
}

void HostPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitBoxMargins();
    // Fewer than 120 pixels below the splitter's top: the splitter goes to
    // 127 pixels above the bottom. A taller page never raises it again.
    // The rule works with the window's corrected size: a window manager or a
    // drag may make the window smaller than its least size for a moment, and
    // a height kept from that moment would leave the listener box collapsed
    // after the window is set back or grows again.
    int h = height();
    const QWidget* w = window();
    if (!(w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        h += std::max(0, w->minimumHeight() - w->height());
    if (h - 120 < m_listenerBoxHeight)
        m_listenerBoxHeight = std::max(PageSplitter::MinimumBoxHeight, h - 127);
    fitTrends();
    applySplit();
    // The shares apply until the operator sets a width of his own. A
    // minimized window keeps its widths.
    if (!window()->isMinimized())
        fitColumns();
}

void HostPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A page resized while another tab was shown has its tables' widths only
    // now.
    if (!event->spontaneous() && !window()->isMinimized())
        fitColumns();
}

void HostPage::fitColumns()
{
    m_listenerTable->fitColumns();
    m_processTable->fitColumns();
    widenCpuColumn();
}

void HostPage::widenCpuColumn()
{
    // The shares give the widths to start from; a CPU time that does not fit
    // its share widens the column to it (never narrower, and never over a
    // width the operator set). The longest text is the widest: the digits
    // are as wide as each other.
    if (m_processTable->operatorSized())
        return;
    const ProcessTableModel* processes = m_controller->session()->processes();
    const int column = int(ProcessColumn::CpuTime);
    QByteArrayView longest;
    for (int row = 0; row < processes->rows(); ++row)
        if (const QByteArrayView cell = processes->cellAt(row, column).trimmed();
            cell.size() > longest.size())
            longest = cell;
    if (longest.isEmpty())
        return;
    const int needed = RecordItemDelegate::wholeWidth(m_processTable, latin1(longest));
    if (m_processTable->columnWidth(column) < needed)
        m_processTable->setColumnWidth(column, needed);
}

void HostPage::setButtonEnabled(QPushButton* button, bool enabled)
{
    // A focused button that is disabled hands the focus to its table, never
    // to the next button, where a key meant for this one would press it.
    if (!enabled && button->isEnabled() && window()->focusWidget() == button) {
        RecordTableView* table = button == m_killProcessButton || button == m_changePriorityButton
                                     ? m_processTable
                                     : m_listenerTable;
        table->setFocus(Qt::OtherFocusReason);
    }
    button->setEnabled(enabled);
}

void HostPage::showBusy(bool busy)
{
    setButtonEnabled(m_refreshButton, !busy);
    // The hourglass over this host only, so that the others stay usable.
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
    if (!busy && m_focusRefresh) {
        m_focusRefresh = false;
        // Only on the host shown, and not from a text box the operator is
        // typing in: a host in a tab behind would take the window's focus
        // unseen.
        const QWidget* focused = window()->focusWidget();
        if (m_refreshButton->isVisible() && !qobject_cast<const QLineEdit*>(focused))
            m_refreshButton->setFocus(Qt::OtherFocusReason);
    }
}

void HostPage::restoreFilters()
{
    const QString host = m_controller->hostKey();
    ConsoleSettings* store = m_controller->store();
    m_listenerFilter->setText(store->filter(host, ListenerTableName));
    m_processFilter->setText(store->filter(host, ProcessTableName));
    // A host reached through an SSH route says so beside its address.
    const QString route = m_controller->routeText();
    m_statusBar->setHost(route.isEmpty() ? m_controller->hostAddress()
                                         : m_controller->hostAddress() + u' ' + route);
    // The name and colour follow the host.
    setAccentShown(m_accentShown);
}

void HostPage::setAccentShown(bool shown)
{
    m_accentShown = shown;
    m_statusBar->setAccent(shown ? m_controller->hostName() : QString(), m_controller->accent());
}

bool HostPage::commandsAllowed() const
{
    // While the link is down the rows are only a picture of the past:
    // nothing may be asked of the host on their strength.
    return !m_controller->linkDown();
}

void HostPage::linkStateChanged()
{
    HostSession* session = m_controller->session();
    const bool up = session->linkState() == HostSession::LinkState::LoggedOn;
    m_statusBar->setLink(m_controller->reconnector()->statusText(),
                         up || !m_controller->linkDown());
    const bool stale = session->listeners()->isStale();
    const QDateTime read = m_controller->lastRead();
    const QString note =
        stale && read.isValid()
            ? QStringLiteral("Read at %1, before the link dropped").arg(clock(read))
            : QString();
    m_listenerTable->itemDelegate()->setStaleNote(note);
    m_processTable->itemDelegate()->setStaleNote(note);
    if (stale && read.isValid())
        m_statusBar->setRefreshed(QStringLiteral("Rows read at %1").arg(clock(read)));
    // (Shutdown Job without a link closes the host and sends nothing.)
    const bool allowed = commandsAllowed();
    for (QPushButton* b :
         {m_startListenerButton, m_killListenerButton, m_killProcessButton, m_changePriorityButton})
        setButtonEnabled(b, allowed);
    Q_EMIT commandsAllowedChanged();
}

void HostPage::updateCounts()
{
    m_statusBar->setCounts(m_listenerFilter->countText() + QStringLiteral(" \u00b7 ") +
                           m_processFilter->countText());
}

void HostPage::listsRead()
{
    HostSession* session = m_controller->session();
    const QDateTime read = m_controller->lastRead();
    if (!session->listeners()->isStale() &&
        session->linkState() == HostSession::LinkState::LoggedOn && read.isValid())
        m_statusBar->setRefreshed(QStringLiteral("Refreshed %1").arg(clock(read)));
    const ProcessTableModel* processes = session->processes();
    const bool changed = processes->rowsStarted() > 0 || processes->rowsEnded() > 0;
    m_statusBar->setChanges(m_changesKnown && changed ? QStringLiteral("%1 started, %2 ended")
                                                            .arg(processes->rowsStarted())
                                                            .arg(processes->rowsEnded())
                                                      : QString());
    updateCounts();
}

void HostPage::listenerChosen(int row)
{
    if (m_restoringSelection)
        return;
    HostSession* session = m_controller->session();
    const QByteArray pin = session->listeners()->cell(row, ListenerColumn::Pin).toByteArray();
    if (pin.isEmpty())
        return;
    session->selectListener(pin);
    session->refreshProcesses();
}

void HostPage::listenersChanged()
{
    // The session follows the chosen listener by PIN; a vanished one selects nothing.
    QScopedValueRollback<bool> restoring(m_restoringSelection, true);
    HostSession* session = m_controller->session();
    const QByteArray pin = session->selectedListener();
    m_listenerTable->selectRow(pin.isEmpty() ? -1 : session->listeners()->findPin(pin));
    if (pin.isEmpty() && !m_listedPin.isEmpty()) {
        // The listener whose processes were shown is no longer listed: its
        // caption says so rather than stand over an empty table.
        m_processBox->setTitle(m_processBox->title() + QStringLiteral(": the listener is gone"));
        m_listedPin.clear();
    }
}

void HostPage::processesChanged()
{
    widenCpuColumn();
    QScopedValueRollback<bool> restoring(m_restoringSelection, true);
    ProcessTableModel* processes = m_controller->session()->processes();
    if (m_processPin.isEmpty()) {
        // Before any choice the first process shown is the selected one.
        const int first = m_processTable->tableRowAt(0);
        m_processTable->selectRow(first);
        m_processPin = processes->cell(first, ProcessColumn::Pin).toByteArray();
        return;
    }
    m_processTable->selectRow(processes->findPin(m_processPin));
}

void HostPage::processListRequested(const QByteArray& listenerPin)
{
    m_changesKnown = listenerPin == m_listedPin;
    if (listenerPin != m_listedPin) {
        // Another listener's processes: the rows of the one before go now,
        // not when the new list arrives, so that none stands under the new
        // caption (the list is gathered only after this signal). The first
        // of the new ones is selected, and none of them is new.
        m_listedPin = listenerPin;
        m_processPin.clear();
        ProcessTableModel* processes = m_controller->session()->processes();
        processes->clearRows();
        processes->forgetPreviousList();
    }
    const ListenerTableModel* listeners = m_controller->session()->listeners();
    const int row = listeners->findPin(listenerPin);
    m_processBox->setTitle(QStringLiteral("User Processes for (%1:%2:%3:%4)")
                               .arg(latin1(listenerPin),
                                    latin1(listeners->cell(row, ListenerColumn::Product)),
                                    latin1(listeners->cell(row, ListenerColumn::Program)),
                                    latin1(listeners->cell(row, ListenerColumn::Port))));
    updateTrendListener();
}

void HostPage::priorityColumnAdded()
{
    m_changePriorityButton->setVisible(true);
    // Change Pri is the first Tab stop once shown.
    setTabOrder(m_changePriorityButton, m_refreshButton);
    const QList<int> stored = m_controller->store()->table(ProcessTableName).widths;
    const int priority = int(ProcessColumn::Priority);
    m_processTable->setColumnWidth(priority, stored.size() > priority
                                                 ? stored[priority]
                                                 : int(m_processTable->width() * 0.05));
}

void HostPage::openFilter()
{
    TableFilterBar* bar = m_listenerTable->hasFocus() || m_listenerFilter->edit()->hasFocus()
                              ? m_listenerFilter
                              : m_processFilter;
    bar->open();
}

void HostPage::editPreferences()
{
    ConsoleSettings* store = m_controller->store();
    Reconnector* reconnector = m_controller->reconnector();
    m_preferencesDialog->showPreferences(reconnector->isEnabled(), m_markNewRows,
                                         store->reopenHosts());
    m_preferencesDialog->setRequireAudit(m_controller->audit()->isRequired());
    m_preferencesDialog->setKeyringPasswords(store->keyringPasswords());
    if (m_controller->prompts()->runDialog(*m_preferencesDialog) != QDialog::Accepted)
        return;
    store->setRequireAudit(m_preferencesDialog->requireAudit());
    m_controller->audit()->setRequired(m_preferencesDialog->requireAudit());
    store->setKeyringPasswords(m_preferencesDialog->keyringPasswords());
    store->setAutoReconnect(m_preferencesDialog->autoReconnect());
    store->setMarkNewRows(m_preferencesDialog->markNewRows());
    store->setReopenHosts(m_preferencesDialog->reopenHosts());
    reconnector->setEnabled(m_preferencesDialog->autoReconnect());
    m_markNewRows = m_preferencesDialog->markNewRows();
    m_sparklines->setMarkNewRows(m_markNewRows);
    m_processTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    m_listenerTable->viewport()->update();
    m_processTable->viewport()->update();
}

void HostPage::setTrendsShown(bool shown)
{
    m_trendsShown = shown;
    m_controller->store()->setPreference(TrendsKey, shown);
    if (shown && !m_trendsPane) {
        m_trendsPane = new TrendsPane(&m_controller->trends()->history(), this);
        m_trendsPane->setObjectName(QStringLiteral("trendsPane"));
        static_cast<QVBoxLayout*>(layout())->insertWidget(1, m_trendsPane);
    }
    if (m_trendsPane)
        m_trendsPane->setVisible(shown);
    fitTrends();
    m_sparklines->setActive(shown);
    // Every listener's processes are listed after each refresh only while
    // the trends (or the All hosts summary) need them.
    m_controller->setTrendsShown(shown);
    if (shown) {
        updateTrendListener();
        m_trendsPane->updateCharts();
    }
    m_listenerTable->viewport()->update();
}

void HostPage::trendsSampled()
{
    if (!m_trendsPane || m_trendsPane->isHidden())
        return;
    updateTrendListener();
    m_trendsPane->updateCharts();
    m_listenerTable->viewport()->update();
}

void HostPage::updateTrendListener()
{
    if (!m_trendsPane || m_trendsPane->isHidden())
        return;
    const QByteArray pin = m_controller->session()->selectedListener();
    const ListenerTableModel* listeners = m_controller->session()->listeners();
    const int row = listeners->findPin(pin);
    const QString caption =
        row < 0 ? latin1(pin)
                : QStringLiteral("%1 (%2, port %3)")
                      .arg(latin1(pin), latin1(listeners->cell(row, ListenerColumn::Program)),
                           latin1(listeners->cell(row, ListenerColumn::Port)));
    m_trendsPane->setListener(pin, caption);
}

void HostPage::showAuditTrail()
{
    if (!m_auditDialog)
        m_auditDialog = new AuditDialog(m_controller->audit()->trail().path(), this);
    // Not modal: the operator may keep it open beside the tables.
    if (m_auditDialog->isVisible())
        m_auditDialog->reload();
    m_auditDialog->show();
    m_auditDialog->raise();
    m_auditDialog->activateWindow();
}
