// Connects a console window to a running simulator (--demo), fills it, and
// saves PNGs of the main window, the Add New Listener and Change Process
// Priority dialogs, a kill confirmation, the trends pane and the audit
// trail, a cut cell's and a trend curve's tooltips, and a window of three
// hosts with its tabs and All hosts view.
// Meant to run under Xvfb.

#include "config/ConfigFile.h"
#include "console/EventLog.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/MainWindow.h"
#include "console/RecordTableView.h"
#include "console/WidgetPrompts.h"
#include "console/dialogs/AddListenerDialog.h"
#include "console/dialogs/AuditDialog.h"
#include "console/dialogs/ChangePriorityDialog.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

class NoEventLog : public EventLog
{
public:
    void report(const QString&, std::uint16_t, std::uint16_t, std::uint32_t) override {}
};

void settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget* widget, const QString& folder, const char* name)
{
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    // The window as the window system shows it; the widget's own rendering
    // when the screen cannot be read.
    QPixmap picture;
    if (QScreen* screen = widget->screen())
        picture = screen->grabWindow(widget->winId());
    if (picture.isNull() || picture.width() < widget->width() / 2)
        picture = widget->grab();
    const bool ok = picture.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), picture.width(),
                picture.height());
    return ok;
}

// The screen where widget is, with whatever tooltip is shown over it.
bool saveScreenAround(QWidget* widget, const QString& folder, const char* name)
{
    QScreen* screen = widget->screen();
    if (!screen)
        return false;
    const QRect area = widget->window()->frameGeometry().adjusted(0, 0, 200, 60);
    const QPixmap picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
    const bool ok = picture.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), picture.width(),
                picture.height());
    return ok;
}

// A tooltip asked for at pos in widget, as the mouse resting there does.
void showToolTipAt(QWidget* widget, const QPoint& pos)
{
    QHelpEvent event(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
}

// One run of pictures: a window of one host on the simulator, then a window
// of three.
class Shots
{
public:
    explicit Shots(const QString& folder) : m_folder(folder) {}

    bool connectTo(quint16 port);
    void mainWindow();
    void auditTrailFits();
    void cutCellTooltip();
    void sortedAndFiltered();
    void trends();
    void dialogs();
    void killConfirmation();
    void killsAndAuditTrail();
    void staleView();
    void manyHosts();
    bool ok() const { return m_ok; }

private:
    void shot(QWidget* widget, const char* name) { m_ok = save(widget, m_folder, name) && m_ok; }
    void waitIdle(int ms = 20000);
    void chooseListener(int row);
    QAction* action(const char* name) const
    {
        return m_window->findChild<QAction*>(QString::fromLatin1(name));
    }

    QString m_folder;
    WidgetPrompts m_prompts;
    NoEventLog m_log;
    QTemporaryDir m_settingsDir;
    ConnectionSettings m_settings;
    std::unique_ptr<MainWindow> m_window;
    HostController* m_host = nullptr;
    HostSession* m_session = nullptr;
    RecordTableView* m_listeners = nullptr;
    RecordTableView* m_processes = nullptr;
    bool m_ok = true;
};

void Shots::waitIdle(int ms)
{
    QElapsedTimer wait;
    wait.start();
    while ((m_host->isBusy() || m_session->isBusy()) && !m_host->isClosing() && wait.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool Shots::connectTo(quint16 port)
{
    m_window = std::make_unique<MainWindow>(
        MainWindow::Environment{&m_prompts,
                                &m_log,
                                {},
                                {},
                                QCoreApplication::applicationFilePath(),
                                m_settingsDir.filePath(QStringLiteral("console.ini"))});
    HostPage* page = m_window->host(0);
    m_host = page->controller();
    m_session = m_host->session();
    m_listeners = page->listenerTable();
    m_processes = page->processTable();
    m_settings = m_host->settings();
    m_settings.HostAddress = "127.0.0.1";
    m_settings.Port = port;
    m_host->setSettings(m_settings);
    m_window->show();
    waitIdle();
    return !m_host->isBusy() && !m_host->isClosing();
}

void Shots::chooseListener(int row)
{
    m_listeners->selectRow(row);
    m_session->selectListener(m_listeners->model()->index(row, 0).data().toString().toLatin1());
    m_session->refreshProcesses();
    waitIdle();
}

void Shots::mainWindow()
{
    // The listener with the most processes, with a process selected.
    int best = 0;
    int bestRows = 0;
    for (int r = 0; r < m_listeners->model()->rowCount(); ++r) {
        chooseListener(r);
        if (m_processes->model()->rowCount() > bestRows) {
            bestRows = m_processes->model()->rowCount();
            best = r;
        }
    }
    chooseListener(best);
    m_processes->selectRow(std::min(2, m_processes->model()->rowCount() - 1));
    settle();
    shot(m_window.get(), "main-window.png");
}

void Shots::sortedAndFiltered()
{
    // Sorted by CPU time, highest first, and filtered; the status line.
    m_processes->sortBy(int(ProcessColumn::CpuTime), Qt::DescendingOrder);
    m_window->findChild<QLineEdit*>(QStringLiteral("processesFilter"))
        ->setText(QStringLiteral("m"));
    settle();
    m_session->refresh();
    waitIdle();
    m_processes->setFocus();
    settle();
    shot(m_window.get(), "sorted-filtered.png");
    shot(m_window->host(0)->statusBar(), "status-bar.png");
}

void Shots::trends()
{
    // The trends over a dozen refreshes of the changing demo host, in a
    // window of 1000 x 800, wholly on the screen.
    const QRect placed = m_window->geometry();
    m_window->resize(1000, 800);
    if (const QScreen* screen = m_window->screen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    action("trendsAction")->setChecked(true);
    for (int i = 0; i < 12; ++i) {
        settle(1500);
        action("refreshAction")->trigger();
        waitIdle();
    }
    settle(500);
    shot(m_window.get(), "trends-pane.png");
    // The mouse resting over the whole host's curves.
    if (auto* trend = m_window->findChild<QAbstractScrollArea*>(QStringLiteral("hostTrend"))) {
        QWidget* viewport = trend->viewport();
        showToolTipAt(viewport, viewport->rect().center());
        settle(600);
        m_ok = saveScreenAround(m_window.get(), m_folder, "trend-tooltip.png") && m_ok;
    }
    m_window->setGeometry(placed);
}

void Shots::auditTrailFits()
{
    // The widest dialog, which must still fit the screen.
    action("auditTrailAction")->trigger();
    settle();
    if (auto* audit = m_window->findChild<AuditDialog*>()) {
        shot(audit, "audit-trail.png");
        if (QScreen* screen = audit->screen())
            m_ok =
                screen->grabWindow(0).save(m_folder + QStringLiteral("/screen-audit-trail.png")) &&
                m_ok;
        audit->hide();
    }
}

void Shots::cutCellTooltip()
{
    // A CPU time cut by a narrow column, read whole in its tooltip.
    const int cpu = int(ProcessColumn::CpuTime);
    const int width = m_processes->columnWidth(cpu);
    m_processes->setColumnWidth(cpu, 30);
    settle();
    const QModelIndex cell = m_processes->model()->index(0, cpu);
    showToolTipAt(m_processes->viewport(), m_processes->visualRect(cell).center());
    settle(600);
    m_ok = saveScreenAround(m_window.get(), m_folder, "cell-tooltip.png") && m_ok;
    m_processes->setColumnWidth(cpu, width);
}

void Shots::dialogs()
{
    auto* addListener = m_window->findChild<AddListenerDialog*>();
    addListener->findChild<QComboBox*>(QStringLiteral("productBox"))->setCurrentIndex(5);
    addListener->findChild<QLineEdit*>(QStringLiteral("usersEdit"))->setText(QStringLiteral("25"));
    addListener->show();
    settle();
    shot(addListener, "add-listener.png");
    addListener->hide();

    auto* priority = m_window->findChild<ChangePriorityDialog*>();
    const ProcessTableModel* rows = m_session->processes();
    const int row = m_processes->selectedRow();
    // Preselected from the row's queue, as the Change Priority command does;
    // DS where the row has none of the three.
    priority->showProcess(
        rows->cell(row, ProcessColumn::Pin), rows->cell(row, ProcessColumn::Program),
        rows->cell(row, ProcessColumn::User), rows->cell(row, ProcessColumn::Priority));
    if (priority->queueCode() == 0)
        priority->findChild<QRadioButton*>(QStringLiteral("dsButton"))->setChecked(true);
    priority->show();
    settle();
    shot(priority, "process-priority.png");
    priority->hide();
}

void Shots::killConfirmation()
{
    // The kill confirmation, answered No once it has been taken.
    QTimer::singleShot(500, m_window.get(), [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            std::fprintf(stderr, "no confirmation box\n");
            m_ok = false;
            return;
        }
        settle();
        shot(box, "confirm-kill-listener.png");
        if (QScreen* screen = box->screen()) {
            const QPixmap whole = screen->grabWindow(0);
            m_ok = whole.save(m_folder + QStringLiteral("/screen-with-confirmation.png")) && m_ok;
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("&No"))
                button->click();
    });
    action("killListenerAction")->trigger();
    waitIdle();
}

void Shots::killsAndAuditTrail()
{
    // Two processes killed, answered Yes, then the trail that records them.
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(300, m_window.get(), [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == QStringLiteral("&Yes"))
                        button->click();
        });
        m_processes->selectRow(m_processes->tableRowAt(0)); // the first row shown
        action("killProcessAction")->trigger();
        waitIdle();
        settle(500);
    }
    action("auditTrailAction")->trigger();
    auto* audit = m_window->findChild<AuditDialog*>();
    settle();
    m_ok = audit && save(audit, m_folder, "audit-trail.png") && m_ok;
    if (audit)
        audit->hide();
}

void Shots::staleView()
{
    // The link drops: the rows stay, greyed, and the status line says so.
    m_host->reconnector()->setEnabled(false);
    m_session->disconnectFromHost();
    settle(1200);
    shot(m_window.get(), "stale-view.png");
    m_window->close();
}

void Shots::manyHosts()
{
    // Three hosts in one window (three files on the one simulator): the
    // tabs in their colours below the one menu bar, then the All hosts tab.
    std::mt19937 random(7);
    QStringList files;
    for (const char* name : {"east", "west", "north"}) {
        const QString file =
            m_settingsDir.filePath(QString::fromLatin1(name) + QStringLiteral(".hcf"));
        saveConfig(file, m_settings, random);
        files << file;
    }
    MainWindow hosts({&m_prompts,
                      &m_log,
                      {files[0]},
                      {files[1], files[2]},
                      QCoreApplication::applicationFilePath(),
                      m_settingsDir.filePath(QStringLiteral("hosts.ini"))});
    hosts.show();
    QElapsedTimer wait;
    wait.start();
    auto anyBusy = [&hosts] {
        for (int i = 0; i < hosts.hostCount(); ++i)
            if (hosts.host(i)->controller()->isBusy())
                return true;
        return false;
    };
    while ((hosts.hostCount() < 3 || anyBusy()) && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    // West paused, north's link down: their tabs say so.
    hosts.host(1)->controller()->setPaused(true);
    HostController* north = hosts.host(2)->controller();
    north->reconnector()->setEnabled(false);
    north->session()->disconnectFromHost();
    hosts.showHost(0);
    settle(800);
    shot(&hosts, "hosts-tabs.png");
    hosts.showAllHosts();
    settle(800);
    shot(&hosts, "all-hosts.png");
    hosts.close();
}

} // namespace

int main(int argc, char** argv)
{
    // The pictures' commands go to a trail of their own, and their view
    // preferences are not the operator's.
    QTemporaryDir home;
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.filePath(QStringLiteral("state"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvanite Server Console"));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port of the running simulator."),
                      QStringLiteral("N"), QStringLiteral("30000")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the PNG files."),
                      QStringLiteral("DIR"), QStringLiteral("screenshots")});
    parser.addOption({QStringLiteral("main-only"), QStringLiteral("Only the main window.")});
    parser.process(app);
    const QString folder = parser.value(QStringLiteral("out"));
    QDir().mkpath(folder);

    Shots shots(folder);
    if (!shots.connectTo(quint16(parser.value(QStringLiteral("port")).toUInt()))) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return 1;
    }
    shots.mainWindow();
    if (parser.isSet(QStringLiteral("main-only"))) {
        shots.auditTrailFits();
    } else {
        shots.cutCellTooltip();
        shots.sortedAndFiltered();
        shots.trends();
        shots.dialogs();
        shots.killConfirmation();
        shots.killsAndAuditTrail();
        shots.staleView();
        shots.manyHosts();
    }
    return shots.ok() ? 0 : 1;
}
