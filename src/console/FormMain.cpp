#include "FormMain.h"

#include "Add_Serv.h"
#include "AppErrors.h"
#include "ConfigLocation.h"
#include "EventLog.h"
#include "HostSocket.h"
#include "Proc_Pri.h"
#include "Prompts.h"
#include "RecordDisplay.h"
#include "SplitterBar.h"
#include "StringGrid.h"
#include "Wire.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <utility>

namespace {

const QString ProductTitle = QStringLiteral("Orvanite Server Console");

QString Latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

QByteArray Bytes(const QString& text)
{
    return text.toLatin1();
}

} // namespace

// ---------------------------------------------------------------------------
// Creation and layout
// ---------------------------------------------------------------------------

TMainAppForm::TMainAppForm(const MainFormDeps& deps, QWidget* parent)
    : QMainWindow(parent), m_deps(deps)
{
    Q_ASSERT(m_deps.Prompts && m_deps.EventLog);
    BuildControls();
    FormCreate();
}

TMainAppForm::~TMainAppForm()
{
    FormDestroy();
    // The window is gone: the hourglass it set goes with it.
    if (m_cursorSet) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorSet = false;
    }
}

void TMainAppForm::BuildControls()
{
    setObjectName(QStringLiteral("MainAppForm"));
    setWindowTitle(ProductTitle);
    QFont windowFont = font();
    windowFont.setPixelSize(13);
    setFont(windowFont);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    client->setBackgroundRole(QPalette::Button);
    setCentralWidget(client);
    client->installEventFilter(this);

    QFont gridFont = windowFont;
    gridFont.setPixelSize(12);

    GroupBox1 = new QGroupBox(QStringLiteral("Listeners"), client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    ListenerArray = new StringGrid(GroupBox1);
    ListenerArray->setObjectName(QStringLiteral("ListenerArray"));
    ListenerArray->setFont(gridFont);
    ListenerArray->setToolTip(QStringLiteral("Listeners"));

    Splitter1 = new SplitterBar(client);

    GroupBox2 = new QGroupBox(QStringLiteral("User Processes"), client);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    QFont boxFont = windowFont;
    boxFont.setPixelSize(13);
    GroupBox2->setFont(boxFont);
    ProcessArray = new StringGrid(GroupBox2);
    ProcessArray->setObjectName(QStringLiteral("ProcessArray"));
    ProcessArray->setFont(gridFont);
    ProcessArray->setToolTip(QStringLiteral("User Processes"));

    ListenerArray->SetColCount(5);
    ProcessArray->SetColCount(6);
    const int listenerWidths[] = {54, 152, 233, 64, 73};
    for (int c = 0; c < 5; ++c)
        ListenerArray->SetColWidth(c, listenerWidths[c]);
    const int processWidths[] = {45, 40, 184, 217, 59, 26};
    for (int c = 0; c < 6; ++c)
        ProcessArray->SetColWidth(c, processWidths[c]);

    auto* panel = new QFrame(client);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1 = panel;
    auto button = [panel](const char* caption, const char* name, int left) {
        auto* b = new QPushButton(QString::fromLatin1(caption), panel);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, 8, 105, 25);
        return b;
    };
    btnManualRefresh = button("&Refresh", "btnManualRefresh", 8);
    btnStartListener = button("&Start Listener", "btnStartListener", 120);
    btnKillListener = button("Kill &Listener", "btnKillListener", 232);
    btnKillProcess = button("Kill &Process", "btnKillProcess", 344);
    BtnChangePri = button("&Change Pri", "BtnChangePri", 456);
    StatusLine = new QLabel(panel);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));

    // Tab order: the button bar, then the listeners, then the processes.
    setTabOrder(BtnChangePri, btnManualRefresh);
    setTabOrder(btnManualRefresh, btnStartListener);
    setTabOrder(btnStartListener, btnKillListener);
    setTabOrder(btnKillListener, btnKillProcess);
    setTabOrder(btnKillProcess, ListenerArray);
    setTabOrder(ListenerArray, ProcessArray);

    // The main menu. A button and its menu twin run the same handler.
    auto item = [this](QMenu* menu, const char* caption, const char* name) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    menuConfigLoad = item(File1, "&Load", "menuConfigLoad");
    menuConfigSave = item(File1, "&Save", "menuConfigSave");
    menuSaveAs = item(File1, "Save &As", "menuSaveAs");
    menuConfigure = item(File1, "&Configure", "menuConfigure");
    File1->addSeparator();
    menuShutdownJob = item(File1, "Shutdown Job", "menuShutdownJob");
    File1->addSeparator();
    menuExit = item(File1, "E&xit", "menuExit");
    menuExit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    menuExit->setShortcutContext(Qt::WindowShortcut);
    addAction(menuExit); // the shortcut works while the menu is closed

    Control1 = menuBar()->addMenu(QStringLiteral("C&ontrol"));
    Control1->setObjectName(QStringLiteral("Control1"));
    RefreshList1 = item(Control1, "Refresh List", "RefreshList1");
    Control1->addSeparator();
    StartListener1 = item(Control1, "Start Listener", "StartListener1");
    KillListener1 = item(Control1, "Kill Listener", "KillListener1");
    Control1->addSeparator();
    KillProcess1 = item(Control1, "Kill Process", "KillProcess1");
    ChangePriority1 = item(Control1, "Change Priority", "ChangePriority1");

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    menuAbout = item(Help1, "&About...", "menuAbout");

    auto twin = [this](QPushButton* b, QAction* a, void (TMainAppForm::*handler)()) {
        if (b)
            connect(b, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    twin(btnManualRefresh, RefreshList1, &TMainAppForm::btnManualRefreshClick);
    twin(btnStartListener, StartListener1, &TMainAppForm::btnStartListenerClick);
    twin(btnKillListener, KillListener1, &TMainAppForm::btnKillListenerClick);
    twin(btnKillProcess, KillProcess1, &TMainAppForm::btnKillProcessClick);
    twin(BtnChangePri, ChangePriority1, &TMainAppForm::BtnChangePriClick);
    twin(nullptr, menuShutdownJob, &TMainAppForm::menuShutdownJobClick);
    twin(nullptr, menuExit, &TMainAppForm::menuExitClick);

    // The file commands talk to the host (Load reconnects, Configure too):
    // they wait for a running exchange like every other command.
    auto fileCommand = [this](QAction* a, void (TMainAppForm::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] {
            WithHost(HostWork::Command, [this, handler] { (this->*handler)(); });
        });
    };
    fileCommand(menuConfigLoad, &TMainAppForm::menuConfigLoadClick);
    fileCommand(menuConfigSave, &TMainAppForm::menuConfigSaveClick);
    fileCommand(menuSaveAs, &TMainAppForm::menuSaveAsClick);
    fileCommand(menuConfigure, &TMainAppForm::menuConfigureClick);
    connect(menuAbout, &QAction::triggered, this,
            [this] { Guarded([this] { menuAboutClick(); }); });

    connect(ListenerArray, &StringGrid::Clicked, this, [this] { ListenerArrayClick(); });
    connect(ProcessArray, &StringGrid::Clicked, this, [this] { ProcessArrayClick(); });
    connect(Splitter1, &SplitterBar::Dragged, this, &TMainAppForm::SplitterDragged);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(5000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    dlgOpen = new QFileDialog(this);
    dlgOpen->setObjectName(QStringLiteral("dlgOpen"));
    QtPrompts::SetUpFileDialog(*dlgOpen, false);
    dlgSave = new QFileDialog(this);
    dlgSave->setObjectName(QStringLiteral("dlgSave"));
    QtPrompts::SetUpFileDialog(*dlgSave, true);
    if (auto* prompts = dynamic_cast<QtPrompts*>(m_deps.Prompts))
        prompts->UseFileDialogs(dlgOpen, dlgSave);

    // Client area 715 x 426 below the menu; with the window manager's frame
    // the window measures 723 x 480. Centred on the screen.
    resize(715, 426 + MenuBarHeight());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    ArrangeClient(QSize(715, 426));
}

int TMainAppForm::MenuBarHeight() const
{
    QMenuBar* bar = menuBar();
    if (!bar || bar->isHidden() || bar->isNativeMenuBar())
        return 0;
    const int h = bar->heightForWidth(width());
    return h < 0 ? bar->sizeHint().height() : h;
}

QSize TMainAppForm::ClientSize() const
{
    return QSize(width(), height() - MenuBarHeight());
}

QSize TMainAppForm::OuterSize() const
{
    return isWindow() && testAttribute(Qt::WA_WState_Created) ? frameGeometry().size() : size();
}

void TMainAppForm::ArrangeClient(QSize client)
{
    // Top-aligned listener box and splitter, bottom-aligned button bar, and
    // the process box in what is left between them (possibly nothing).
    const int w = client.width();
    const int h = client.height();
    const int top = m_listenerBoxHeight;
    GroupBox1->setGeometry(0, 0, w, top);
    Splitter1->setGeometry(0, top, w, 8);
    Panel1->setGeometry(0, h - 40, w, 40);
    GroupBox2->setGeometry(0, top + 8, w, std::max(0, h - 40 - top - 8));
    // Inside a box: 2 pixels on each side, the caption's height above.
    auto inside = [](QGroupBox* box, QWidget* child) {
        const int captionHeight = box->fontMetrics().height();
        child->setGeometry(2, captionHeight + 2, std::max(0, box->width() - 4),
                           std::max(0, box->height() - captionHeight - 4));
    };
    inside(GroupBox1, ListenerArray);
    inside(GroupBox2, ProcessArray);
    const int statusLeft = 568;
    StatusLine->setGeometry(statusLeft, 8, std::max(0, w - statusLeft - 8), 25);
}

void TMainAppForm::SplitterDragged(int top)
{
    const int h = ClientSize().height();
    const int min = Splitter1->MinSize;
    const int max = h - 40 - 8 - min; // leaves MinSize for the process box
    if (max < min)
        return;
    m_listenerBoxHeight = std::clamp(top, min, max);
    ArrangeClient(centralWidget()->size());
}

void TMainAppForm::FormResize()
{
    QSize client = ClientSize();
    const Qt::WindowStates state = windowState();
    const bool minimized = state & Qt::WindowMinimized;
    const bool normal =
        !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    if (normal) {
        const QSize outer = OuterSize();
        QSize wanted = outer;
        if (wanted.width() < 400)
            wanted.setWidth(400);
        if (wanted.height() < 300)
            wanted.setHeight(300);
        if (wanted != outer) {
            // The rest works with the corrected size at once, whenever the
            // window system gets round to applying it.
            const QSize grow = wanted - outer;
            client += grow;
            resize(size() + grow);
        }
    }
    const int h = client.height();
    if (h - 120 < m_listenerBoxHeight)
        m_listenerBoxHeight = std::max(0, h - 127);
    ArrangeClient(client);
    if (minimized)
        return;

    const int listenerB = ListenerArray->width() - 24;
    const int listenerPercent[] = {7, 23, 40, 15, 15};
    for (int c = 0; c < 5; ++c)
        ListenerArray->SetColWidth(c, listenerB * listenerPercent[c] / 100);
    const int processB = ProcessArray->width() - 24;
    const int processPercent[] = {7, 7, 30, 40, 10};
    for (int c = 0; c < 5; ++c)
        ProcessArray->SetColWidth(c, processB * processPercent[c] / 100);
    if (ProcessArray->ColCount() == 6)
        ProcessArray->SetColWidth(5, processB * 6 / 100);
}

bool TMainAppForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        ArrangeClient(centralWidget()->size());
    return QMainWindow::eventFilter(watched, event);
}

void TMainAppForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainAppForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous() || !FirstShow || m_showQueued)
        return;
    // The window paints first; the first-show flow then runs from the event loop.
    m_showQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_showQueued = false;
            WithHost(HostWork::Command, [this] { FormShow(); });
        },
        Qt::QueuedConnection);
}

void TMainAppForm::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

// ---------------------------------------------------------------------------
// Connection control
// ---------------------------------------------------------------------------

void TMainAppForm::FormCreate()
{
    SetBusy(true);
    Random.seed(std::mt19937::result_type(QDateTime::currentMSecsSinceEpoch()));
    BtnChangePri->hide();
    SelectedProcessRow = 1;
    SelectedListenerRow = 1;

    m_socket = new THostSocket(this);
    m_socket->OnError = [this](THostSocket* sender, int code, const QString& text) {
        SocketError(sender, code, text);
    };
    m_protocol = std::make_unique<TConsoleProtocol>(*m_socket);
    m_protocol->ShowMessage = [this](const QString& text) { m_deps.Prompts->ShowMessage(text); };

    ProcessArray->SetColCount(5);
    const char* listenerTitles[] = {"Pin", "Product", "Program", "Port", "MaxUsers"};
    for (int c = 0; c < 5; ++c)
        ListenerArray->SetCell(c, 0, listenerTitles[c]);
    const char* processTitles[] = {"Main", "Pin", "Program", "User", "CPU Time"};
    for (int c = 0; c < 5; ++c)
        ProcessArray->SetCell(c, 0, processTitles[c]);

    Settings.Port = 30000;
    Settings.User = "MANAGER";
    Settings.Account = "SYS";

    if (!m_deps.Arguments.isEmpty()) {
        // A path with a separator is used as it stands; a bare name is looked
        // for beside the program, then in the current folder.
        const ConfigLocation location =
            LocateConfigFile(m_deps.Arguments.first(), m_deps.ProgramPath, QDir::currentPath());
        Settings.ConfigPath = location.Path;
        m_missingConfig = location.Missing;
    }
    if (!Settings.ConfigPath.isEmpty())
        setWindowTitle(ProductTitle + QStringLiteral(" - ") + Settings.ConfigPath);
    FirstShow = true;
}

void TMainAppForm::FormShow()
{
    // Only the first show connects; a later show leaves the state alone.
    if (!FirstShow || m_closing)
        return;
    SetBusy(true);
    if (!m_missingConfig.isEmpty()) {
        // The operator named a file: an empty Configure dialog would hide the
        // mistake.
        m_deps.Prompts->ShowMessage(m_missingConfig);
        close();
        return;
    }
    if (!Settings.ConfigPath.isEmpty())
        LoadConfigFile();
    if (Settings.HostAddress.isEmpty())
        EditSettings();
    if (Settings.HostAddress.isEmpty()) {
        close();
        return;
    }
    ConnectAndLogon();
    if (Connected() && !m_closing) {
        SetBusy(false);
        btnManualRefresh->setFocus();
        FirstShow = false;
    }
}

void TMainAppForm::FormClose()
{
    // Once closing, nothing more is asked of the host and no new connection
    // is made; what waits is dropped.
    m_closing = true;
    m_pending.clear();
    SetBusy(true);
    if (m_exchanging) {
        // An exchange is still running: Quit must not cut into it. It is
        // sent as soon as that exchange ends.
        m_quitPending = true;
        return;
    }
    SendRequest(QByteArrayView(&Wire::Quit, 1));
    m_socket->Disconnect();
}

void TMainAppForm::FormDestroy()
{
    SetBusy(true);
    SendRequest(QByteArrayView(&Wire::Quit, 1));
    m_socket->Disconnect();
}

bool TMainAppForm::IsBusy() const
{
    return m_busy;
}

void TMainAppForm::SetBusy(bool busy)
{
    m_busy = busy;
    if (busy) {
        Timer1->stop();
    } else if (!m_closing) {
        if (Settings.RefreshInterval != m_appliedInterval && Settings.RefreshInterval > 0) {
            m_appliedInterval = Settings.RefreshInterval;
            Timer1->setInterval(m_appliedInterval);
        }
        Timer1->start();
    }
    btnManualRefresh->setEnabled(!busy);
    // One override cursor at most: busy states do not nest.
    if (busy && !m_cursorSet) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_cursorSet = true;
    } else if (!busy && m_cursorSet) {
        QGuiApplication::restoreOverrideCursor();
        m_cursorSet = false;
    }
}

void TMainAppForm::ShowProgress(const QString& text)
{
    setWindowTitle(text);
    QCoreApplication::processEvents();
    LogEvent(text, 4, 3, 1000);
}

void TMainAppForm::LogEvent(const QString& text, quint16 type, quint16 category, quint32 id)
{
    m_deps.EventLog->Report(text, type, category, id);
}

void TMainAppForm::SocketError(THostSocket* sender, int code, const QString& text)
{
    Q_UNUSED(sender);
    SetBusy(true);
    m_deps.Prompts->ShowMessage(QStringLiteral("WINSOCK error: %1\n%2").arg(code).arg(text));
    SetBusy(false);
}

void TMainAppForm::ConnectAndLogon()
{
    if (m_closing)
        return;
    SetBusy(true);
    // A new connection: what was noted about the old one no longer applies.
    m_notices.clear();
    m_socket->HostAddress = Settings.HostAddress;
    m_socket->Port = QByteArray::number(Settings.Port);
    const QByteArray* fields[7] = {
        &Settings.User,    &Settings.UserPassword,    &Settings.Group,     &Settings.GroupPassword,
        &Settings.Account, &Settings.AccountPassword, &Settings.LogonExtra};
    for (int i = 0; i < 7; ++i)
        m_socket->LogonFields[std::size_t(i)] = fields[i]->left(Wire::LogonFieldLength);
    m_socket->LogonKind = 1;
    if (Logon()) {
        ShowProgress(QStringLiteral("KELD32 001"));
        RefreshListeners();
        ShowProgress(QStringLiteral("KELD32 002"));
        RefreshProcesses();
        ShowProgress(QStringLiteral("KELD32 003"));
        if (!Settings.ConfigPath.isEmpty())
            setWindowTitle(ProductTitle + QStringLiteral(" - ") + Settings.ConfigPath);
        else
            setWindowTitle(ProductTitle + QStringLiteral(" - (") + Latin1(Settings.HostAddress) +
                           QStringLiteral(")"));
        SetBusy(false);
    } else {
        close();
    }
}

void TMainAppForm::menuExitClick()
{
    close();
}

bool TMainAppForm::Connected() const
{
    return m_socket->State() == hsConnected;
}

bool TMainAppForm::Logon()
{
    return m_protocol->Logon();
}

void TMainAppForm::SendRequest(QByteArrayView text)
{
    m_protocol->SendRequest(text);
}

int TMainAppForm::ReadReply(QByteArray& body)
{
    return m_protocol->ReadReply(body);
}

// ---------------------------------------------------------------------------
// One exchange at a time
// ---------------------------------------------------------------------------

void TMainAppForm::Guarded(const std::function<void()>& job)
{
    try {
        job();
    } catch (const EAppError& error) {
        // The command ends here; the operator is told and is not left with a
        // dead Refresh button.
        m_deps.Prompts->ShowMessage(error.message());
        if (!m_closing)
            SetBusy(false);
    }
}

void TMainAppForm::WithHost(HostWork kind, std::function<void()> job)
{
    if (m_closing)
        return;
    if (!m_exchanging) {
        RunExclusive(job);
        return;
    }
    // Merge repeats: one waiting refresh is enough, and of several clicks
    // on listeners only the last one counts.
    for (PendingWork& waiting : m_pending) {
        if (waiting.Kind == kind && kind == HostWork::Refresh)
            return;
        if (waiting.Kind == kind && kind == HostWork::ListenerClick) {
            waiting.Job = std::move(job);
            return;
        }
    }
    m_pending.push_back(PendingWork{kind, std::move(job)});
}

void TMainAppForm::RunOne(const std::function<void()>& job)
{
    {
        QScopedValueRollback<bool> running(m_exchanging, true);
        Guarded(job);
    }
    if (m_quitPending) {
        m_quitPending = false;
        SendRequest(QByteArrayView(&Wire::Quit, 1));
        m_socket->Disconnect();
    }
}

void TMainAppForm::RunExclusive(const std::function<void()>& job)
{
    RunOne(job);
    while (!m_closing && !m_pending.empty() && !m_exchanging) {
        PendingWork next = std::move(m_pending.front());
        m_pending.pop_front();
        RunOne(next.Job);
    }
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

void TMainAppForm::ResetSkipReport()
{
    m_skipped = 0;
    m_firstSkipReason.clear();
}

void TMainAppForm::ReportSkipped()
{
    QStringList lines = std::exchange(m_notices, QStringList());
    if (m_skipped == 1)
        lines.append(QStringLiteral("1 record skipped: %1").arg(m_firstSkipReason));
    else if (m_skipped > 1)
        lines.append(QStringLiteral("%1 records skipped, the first: %2")
                         .arg(m_skipped)
                         .arg(m_firstSkipReason));
    ShowStatus(lines.join(QLatin1Char(' ')));
}

void TMainAppForm::StayInStep()
{
    if (m_closing || !m_protocol->OutOfStep())
        return;
    // The protocol has no request ids: after a lost, late or cut-short reply
    // the next reply read could answer an earlier request. A fresh logon on
    // the same settings is the only way back; the request that went unanswered
    // is not sent again (it may have changed the host already).
    if (m_protocol->Resync()) {
        m_notices.append(TConsoleProtocol::ResyncNotice());
    } else if (!m_closing) {
        // The socket and the logon have said why. A refused logon leaves the
        // connection open but not logged on: end it as a refused first logon
        // is ended, so that no request goes to a host that would ignore it.
        // The tables stay empty until the operator connects again.
        if (Connected()) {
            SendRequest(QByteArrayView(&Wire::Quit, 1));
            m_socket->Disconnect();
        }
        m_notices.append(QStringLiteral("The connection could not be renewed; use File, "
                                        "Configure to connect again."));
    }
}

void TMainAppForm::NoteListEnd()
{
    // Reported once per list, in the status label: a box for every timer tick
    // would stack up while the host misbehaves. A time-out has had its own box.
    const QString message = m_protocol->LastReplyMessage();
    if (!message.isEmpty() && !m_notices.contains(message))
        m_notices.append(message);
}

void TMainAppForm::ShowStatus(const QString& text)
{
    StatusLine->setToolTip(text);
    StatusLine->setText(StatusLine->fontMetrics().elidedText(text, Qt::ElideRight,
                                                             std::max(0, StatusLine->width())));
    StatusLine->setProperty("fullText", text);
}

void TMainAppForm::SelectWholeRow(StringGrid* grid, int row)
{
    grid->SetSelection(GridRect{0, row, grid->ColCount() - 1, row});
}

int TMainAppForm::RestoreRow(StringGrid* grid, int col, const QByteArray& pin, int foundRow,
                             int rememberedRow)
{
    int row = 0;
    if (!pin.isEmpty()) {
        if (foundRow > 0 && grid->Cell(col, foundRow) == pin) {
            row = foundRow;
        } else {
            // The operator chose another row while the list was coming in.
            for (int r = 1; r < grid->RowCount() && row == 0; ++r)
                if (grid->Cell(col, r) == pin)
                    row = r;
        }
    }
    if (row == 0 && rememberedRow < grid->RowCount())
        row = rememberedRow;
    if (row > 0)
        SelectWholeRow(grid, row);
    return grid->Row();
}

void TMainAppForm::RefreshListeners()
{
    // Renewed before the tables are emptied: the old rows stay in sight while
    // the logon runs.
    StayInStep();
    SelectedProcessRow = ProcessArray->Row();
    SelectedListenerRow = ListenerArray->Row();
    if (const QByteArray pin = ListenerArray->CellText(0, SelectedListenerRow); !pin.isEmpty())
        m_listenerPin = pin;
    if (const QByteArray pin = ProcessArray->CellText(1, SelectedProcessRow); !pin.isEmpty())
        m_processPin = pin;
    ResetSkipReport();
    m_listenerPassDone = true;
    m_foundListenerRow = 0;
    m_foundProcessRow = 0;
    m_decimalSeparator = QLocale().decimalPoint().at(0).toLatin1();

    ProcessRows = 1;
    ListenerRows = 1;
    ListenerArray->SetRowCount(2);
    ListenerArray->ClearRow(1);
    ProcessArray->SetRowCount(2);
    ProcessArray->ClearRow(1);
    if (!Connected() || m_closing)
        return;

    SendRequest(QByteArrayView(&Wire::GetListeners, 1));
    m_protocol->BeginList();
    QByteArray body;
    while (ReadReply(body) > 0)
        AddRecordRow(body);
    NoteListEnd();

    SelectedProcessRow =
        RestoreRow(ProcessArray, 1, m_processPin, m_foundProcessRow, SelectedProcessRow);
    SelectedListenerRow =
        RestoreRow(ListenerArray, 0, m_listenerPin, m_foundListenerRow, SelectedListenerRow);
    if (const QByteArray pin = ListenerArray->CellText(0, SelectedListenerRow); !pin.isEmpty())
        m_listenerPin = pin;
    ProcessArray->SetCol(1);
}

void TMainAppForm::RefreshProcesses()
{
    StayInStep();
    SelectedProcessRow = ProcessArray->Row();
    if (const QByteArray pin = ProcessArray->CellText(1, SelectedProcessRow); !pin.isEmpty())
        m_processPin = pin;
    if (!m_listenerPassDone)
        ResetSkipReport();
    m_listenerPassDone = false;
    m_foundProcessRow = 0;
    m_decimalSeparator = QLocale().decimalPoint().at(0).toLatin1();

    ProcessRows = 1;
    ProcessArray->SetRowCount(2);
    ProcessArray->ClearRow(1);
    if (!Connected() || m_closing) {
        ReportSkipped();
        return;
    }
    // The commands act on the row the operator sees: the remembered row is
    // the current one.
    SelectedListenerRow = ListenerArray->Row();
    const QByteArray pin = ListenerArray->CellText(0, SelectedListenerRow);
    if (pin.isEmpty()) {
        ReportSkipped();
        return;
    }
    m_protocol->SendCommand(Wire::GetProcesses, pin);
    m_protocol->BeginList();
    GroupBox2->setTitle(QStringLiteral("User Processes for (%1:%2:%3:%4)")
                            .arg(Latin1(pin), Latin1(ListenerArray->Cell(1, SelectedListenerRow)),
                                 Latin1(ListenerArray->Cell(2, SelectedListenerRow)),
                                 Latin1(ListenerArray->Cell(3, SelectedListenerRow))));
    QCoreApplication::processEvents();

    QByteArray body;
    while (ReadReply(body) > 0)
        AddRecordRow(body);
    NoteListEnd();

    SelectedProcessRow =
        RestoreRow(ProcessArray, 1, m_processPin, m_foundProcessRow, SelectedProcessRow);
    if (const QByteArray current = ProcessArray->CellText(1, SelectedProcessRow);
        !current.isEmpty())
        m_processPin = current;
    ProcessArray->SetCol(1);
    ReportSkipped();
}

void TMainAppForm::AddRecordRow(const QByteArray& body)
{
    const Wire::SplitResult record = Wire::splitRecord(body);
    if (!record.ok()) {
        // Skipped and counted; the rows around it are placed and the list is
        // read to its end, so the replies stay in step.
        if (m_skipped++ == 0)
            m_firstSkipReason = Wire::errorText(record);
        return;
    }
    if (record.kind == Wire::RecordKind::Listener) {
        const Wire::ListenerFields& f = record.listener;
        ++ListenerRows;
        ListenerArray->SetRowCount(ListenerRows);
        const int r = ListenerRows - 1;
        ListenerArray->SetCell(0, r, f.pin);
        ListenerArray->SetCell(3, r, f.port);
        ListenerArray->SetCell(2, r, f.program);
        ListenerArray->SetCell(1, r, RecordDisplay::ProductName(f.product, f.productNumber));
        ListenerArray->SetCell(4, r, RecordDisplay::UserLimitText(f.userLimit, f.userLimitNumber));
        if (m_foundListenerRow == 0 && !m_listenerPin.isEmpty() && f.pin == m_listenerPin)
            m_foundListenerRow = r;
        return;
    }

    const Wire::ProcessFields& f = record.process;
    ++ProcessRows;
    ProcessArray->SetRowCount(ProcessRows);
    const int r = ProcessRows - 1;
    char cpuText[RecordDisplay::CpuTimeCapacity];
    // One call for the row's five cells: a list can hold 100,000 of them.
    const QByteArrayView cells[] = {
        f.mainPin, f.pin, f.program, f.user,
        RecordDisplay::WriteCpuTime(cpuText, f.cpuMs, m_decimalSeparator)};
    ProcessArray->SetRowCells(r, cells);
    if (f.priority != 0) {
        if (ProcessArray->ColCount() < 6) {
            // The priority column and its button come with the first
            // priority and stay.
            BtnChangePri->setVisible(true);
            ProcessArray->SetColCount(6);
            ProcessArray->SetColWidth(5, int(ProcessArray->width() * 0.05));
            ProcessArray->SetCell(5, 0, "Pri");
        }
        ProcessArray->SetCell(5, r, Wire::priorityText(f.priority));
    }
    if (m_foundProcessRow == 0 && !m_processPin.isEmpty() && f.pin == m_processPin)
        m_foundProcessRow = r;
}

void TMainAppForm::Timer1Timer()
{
    // A tick while an exchange runs is skipped, not queued: the next one comes.
    if (m_exchanging || m_closing)
        return;
    RunExclusive([this] {
        SetBusy(true);
        RefreshListeners();
        RefreshProcesses();
        SetBusy(false);
    });
}

void TMainAppForm::ListenerArrayClick()
{
    // What the operator chose counts from this moment, even when the work
    // has to wait for a running exchange.
    const int row = ListenerArray->Row();
    const QByteArray pin = ListenerArray->CellText(0, row);
    ListenerArray->SetCol(0);
    SelectWholeRow(ListenerArray, row);
    if (!pin.isEmpty())
        m_listenerPin = pin;
    WithHost(HostWork::ListenerClick, [this, row, pin] {
        int at = row;
        if (!pin.isEmpty() && ListenerArray->Cell(0, row) != pin) {
            // A refresh ran meanwhile: find the listener where it is now.
            at = 0;
            for (int r = 1; r < ListenerArray->RowCount() && at == 0; ++r)
                if (ListenerArray->Cell(0, r) == pin)
                    at = r;
            if (at == 0)
                at = ListenerArray->Row();
        }
        SelectWholeRow(ListenerArray, at);
        SelectedListenerRow = ListenerArray->Row();
        SetBusy(true);
        RefreshProcesses();
        SetBusy(false);
    });
}

void TMainAppForm::ProcessArrayClick()
{
    const int row = ProcessArray->Row();
    SelectWholeRow(ProcessArray, row);
    ProcessArray->SetCol(1);
    SelectedProcessRow = ProcessArray->Row();
    if (const QByteArray pin = ProcessArray->CellText(1, SelectedProcessRow); !pin.isEmpty())
        m_processPin = pin;
}

// ---------------------------------------------------------------------------
// Operator commands
// ---------------------------------------------------------------------------

void TMainAppForm::CommandTail()
{
    RefreshListeners();
    RefreshProcesses();
    SetBusy(false);
}

void TMainAppForm::btnManualRefreshClick()
{
    WithHost(HostWork::Refresh, [this] {
        SetBusy(true);
        CommandTail();
    });
}

void TMainAppForm::btnStartListenerClick()
{
    WithHost(HostWork::Command, [this] {
        if (!Connected())
            return;
        SetBusy(true);
        if (!AddListener)
            AddListener = new TAddListener(this);
        if (m_deps.Prompts->RunDialog(*AddListener) == QDialog::Accepted) {
            const QByteArray text = Bytes(AddListener->ProductID->currentText());
            // The product number is what stands before " - " in the items.
            const qsizetype dash = text.indexOf('-');
            const QByteArray product =
                dash < 0 ? text : text.left(std::max<qsizetype>(0, dash - 1));
            StayInStep();
            m_protocol->SendCommand(
                Wire::StartListener,
                Wire::startListenerArgument(product, Bytes(AddListener->edPort->text()),
                                            Bytes(AddListener->edUsers->text()),
                                            Bytes(AddListener->edCommand->text())));
        }
        CommandTail();
    });
}

void TMainAppForm::btnKillListenerClick()
{
    WithHost(HostWork::Command, [this] {
        const int row = ListenerArray->Row();
        SelectedListenerRow = row;
        const QByteArray pin = ListenerArray->CellText(0, row);
        if (!Connected() || pin.isEmpty())
            return;
        SetBusy(true);
        const QString text =
            QStringLiteral("This will abort all users connected via this listener!\r"
                           "Kill listener for port:") +
            Latin1(ListenerArray->Cell(3, row)) + QLatin1Char('\r') +
            Latin1(ListenerArray->Cell(1, row)) + QLatin1Char('\r') +
            Latin1(ListenerArray->Cell(2, row));
        if (m_deps.Prompts->Confirm(text)) {
            StayInStep();
            m_protocol->SendCommand(Wire::Kill, Wire::killListenerArgument(pin));
        }
        CommandTail();
    });
}

void TMainAppForm::btnKillProcessClick()
{
    WithHost(HostWork::Command, [this] {
        const int row = ProcessArray->Row();
        SelectedProcessRow = row;
        const QByteArray mainPin = ProcessArray->CellText(0, row);
        if (!Connected() || mainPin.isEmpty())
            return;
        SetBusy(true);
        const QByteArray pin = ProcessArray->CellText(1, row);
        const QString text =
            QStringLiteral("This will abort the user connected to this process!\rKill Process:") +
            Latin1(pin) + QLatin1Char('\r') + Latin1(ProcessArray->Cell(2, row)) +
            QLatin1Char('\r') + Latin1(ProcessArray->Cell(3, row));
        if (m_deps.Prompts->Confirm(text)) {
            StayInStep();
            m_protocol->SendCommand(Wire::Kill, Wire::killProcessArgument(mainPin, pin));
        }
        CommandTail();
    });
}

void TMainAppForm::BtnChangePriClick()
{
    WithHost(HostWork::Command, [this] {
        const int row = ProcessArray->Row();
        SelectedProcessRow = row;
        const QByteArray pin = ProcessArray->CellText(1, row);
        if (!Connected() || pin.isEmpty())
            return;
        SetBusy(true);
        if (!ProcessPri)
            ProcessPri = new TProcessPri(this);
        ProcessPri->Label1->setText(QStringLiteral("Pin: ") + Latin1(pin));
        ProcessPri->Label2->setText(QStringLiteral("Program: ") +
                                    Latin1(ProcessArray->Cell(2, row)));
        ProcessPri->Label3->setText(QStringLiteral("User: ") + Latin1(ProcessArray->Cell(3, row)));
        const QByteArrayView queue = ProcessArray->Cell(5, row);
        switch (Wire::priorityCode(queue)) {
        case 2:
            ProcessPri->rbCS->setChecked(true);
            break;
        case 3:
            ProcessPri->rbDS->setChecked(true);
            break;
        case 4:
            ProcessPri->rbES->setChecked(true);
            break;
        default:
            break;
        }
        if (m_deps.Prompts->RunDialog(*ProcessPri) == QDialog::Accepted) {
            StayInStep();
            m_protocol->SendCommand(Wire::SetPriority,
                                    Wire::setPriorityArgument(pin, ProcessPri->CheckedCode()));
        }
        CommandTail();
    });
}

void TMainAppForm::menuShutdownJobClick()
{
    WithHost(HostWork::Command, [this] {
        SetBusy(true);
        if (!Connected()) {
            // Nothing to shut down: the window closes and nothing is sent.
            close();
            return;
        }
        if (m_deps.Prompts->Confirm(
                QStringLiteral("WARNING: This will abort all users!\rAre you sure?"))) {
            StayInStep();
            m_protocol->SendCommand(Wire::ShutdownJob);
            close();
        }
        SetBusy(false);
    });
}
