// Connects a console window to a running simulator (--demo), fills it, and
// saves PNGs of the main window, the Add New Listener and Change Process
// Priority dialogs, a kill confirmation, the trends pane and the audit
// trail, a cut cell's and a trend curve's tooltips, and a window of three
// hosts with its tabs and All hosts view.
// Meant to run under Xvfb.

#include "config/ConfigFile.h"
#include "console/EventLog.h"
#include "console/HostView.h"
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

    WidgetPrompts prompts;
    NoEventLog log;
    QTemporaryDir settingsDir;
    HostView window({&prompts,
                     &log,
                     {},
                     QCoreApplication::applicationFilePath(),
                     settingsDir.filePath(QStringLiteral("console.ini"))});
    ConnectionSettings settings = window.settings();
    settings.HostAddress = "127.0.0.1";
    settings.Port = quint16(parser.value(QStringLiteral("port")).toUInt());
    window.setSettings(settings);
    HostSession* session = window.session();
    auto waitIdle = [&](int ms) {
        QElapsedTimer wait;
        wait.start();
        while ((window.isBusy() || session->isBusy()) && !window.isClosing() && wait.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    };
    window.show();
    waitIdle(20000);
    if (window.isBusy() || window.isClosing()) {
        std::fprintf(stderr, "could not connect to the simulator\n");
        return 1;
    }
    // The listener with the most processes, with a process selected.
    auto* listeners = window.findChild<RecordTableView*>(QStringLiteral("listenerTable"));
    auto* processes = window.findChild<RecordTableView*>(QStringLiteral("processTable"));
    auto choose = [&](int row) {
        listeners->selectRow(row);
        session->selectListener(listeners->model()->index(row, 0).data().toString().toLatin1());
        session->refreshProcesses();
        waitIdle(20000);
    };
    int best = 0;
    int bestRows = 0;
    for (int r = 0; r < listeners->model()->rowCount(); ++r) {
        choose(r);
        if (processes->model()->rowCount() > bestRows) {
            bestRows = processes->model()->rowCount();
            best = r;
        }
    }
    choose(best);
    processes->selectRow(std::min(2, processes->model()->rowCount() - 1));
    settle();
    bool ok = save(&window, folder, "main-window.png");
    if (parser.isSet(QStringLiteral("main-only"))) {
        // The widest dialog, which must still fit the screen.
        window.findChild<QAction*>(QStringLiteral("auditTrailAction"))->trigger();
        settle();
        if (auto* audit = window.findChild<AuditDialog*>()) {
            ok = save(audit, folder, "audit-trail.png") && ok;
            if (QScreen* screen = audit->screen())
                ok = screen->grabWindow(0).save(folder +
                                                QStringLiteral("/screen-audit-trail.png")) &&
                     ok;
            audit->hide();
        }
        window.close();
        return ok ? 0 : 1;
    }

    // A CPU time cut by a narrow column, read whole in its tooltip.
    {
        const int cpu = int(ProcessColumn::CpuTime);
        const int width = processes->columnWidth(cpu);
        processes->setColumnWidth(cpu, 30);
        settle();
        const QModelIndex cell = processes->model()->index(0, cpu);
        showToolTipAt(processes->viewport(), processes->visualRect(cell).center());
        settle(600);
        ok = saveScreenAround(&window, folder, "cell-tooltip.png") && ok;
        processes->setColumnWidth(cpu, width);
    }

    // Sorted by CPU time, highest first, and filtered; the status line.
    processes->sortBy(int(ProcessColumn::CpuTime), Qt::DescendingOrder);
    auto* filter = window.findChild<QLineEdit*>(QStringLiteral("processesFilter"));
    filter->setText(QStringLiteral("m"));
    settle();
    session->refresh();
    waitIdle(20000);
    processes->setFocus();
    settle();
    ok = save(&window, folder, "sorted-filtered.png") && ok;
    ok = save(window.statusBar(), folder, "status-bar.png") && ok;

    // The trends over a dozen refreshes of the changing demo host.
    window.findChild<QAction*>(QStringLiteral("trendsAction"))->setChecked(true);
    for (int i = 0; i < 12; ++i) {
        settle(1500);
        window.findChild<QAction*>(QStringLiteral("refreshAction"))->trigger();
        waitIdle(20000);
    }
    settle(500);
    ok = save(&window, folder, "trends-pane.png") && ok;
    // The mouse resting over the whole host's curves.
    if (auto* trend = window.findChild<QAbstractScrollArea*>(QStringLiteral("hostTrend"))) {
        QWidget* viewport = trend->viewport();
        showToolTipAt(viewport, viewport->rect().center());
        settle(600);
        ok = saveScreenAround(&window, folder, "trend-tooltip.png") && ok;
    }

    auto* addListener = window.findChild<AddListenerDialog*>();
    addListener->findChild<QComboBox*>(QStringLiteral("productBox"))->setCurrentIndex(5);
    addListener->findChild<QLineEdit*>(QStringLiteral("usersEdit"))->setText(QStringLiteral("25"));
    addListener->show();
    settle();
    ok = save(addListener, folder, "add-listener.png") && ok;
    addListener->hide();

    auto* priority = window.findChild<ChangePriorityDialog*>();
    const ProcessTableModel* rows = session->processes();
    const int row = processes->selectedRow();
    // Preselected from the row's queue, as the Change Priority command does;
    // DS where the row has none of the three.
    priority->showProcess(
        rows->cell(row, ProcessColumn::Pin), rows->cell(row, ProcessColumn::Program),
        rows->cell(row, ProcessColumn::User), rows->cell(row, ProcessColumn::Priority));
    if (priority->queueCode() == 0)
        priority->findChild<QRadioButton*>(QStringLiteral("dsButton"))->setChecked(true);
    priority->show();
    settle();
    ok = save(priority, folder, "process-priority.png") && ok;
    priority->hide();

    // The kill confirmation, answered No once it has been taken.
    QTimer::singleShot(500, &window, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            std::fprintf(stderr, "no confirmation box\n");
            ok = false;
            return;
        }
        settle();
        ok = save(box, folder, "confirm-kill-listener.png") && ok;
        if (QScreen* screen = box->screen()) {
            const QPixmap whole = screen->grabWindow(0);
            ok = whole.save(folder + QStringLiteral("/screen-with-confirmation.png")) && ok;
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("&No"))
                button->click();
    });
    window.findChild<QAction*>(QStringLiteral("killListenerAction"))->trigger();
    waitIdle(20000);

    // Two processes killed, answered Yes, then the trail that records them.
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(300, &window, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == QStringLiteral("&Yes"))
                        button->click();
        });
        processes->selectRow(processes->tableRowAt(0)); // the first row shown
        window.findChild<QAction*>(QStringLiteral("killProcessAction"))->trigger();
        waitIdle(20000);
        settle(500);
    }
    window.findChild<QAction*>(QStringLiteral("auditTrailAction"))->trigger();
    auto* audit = window.findChild<AuditDialog*>();
    settle();
    ok = (audit && save(audit, folder, "audit-trail.png")) && ok;
    audit->hide();

    // The link drops: the rows stay, greyed, and the status line says so.
    window.reconnector()->setEnabled(false);
    session->disconnectFromHost();
    settle(1200);
    ok = save(&window, folder, "stale-view.png") && ok;
    window.close();

    // Three hosts in one window (three files on the one simulator): the
    // tabs in their colours, then the All hosts tab.
    std::mt19937 random(7);
    QStringList files;
    for (const char* name : {"east", "west", "north"}) {
        const QString file =
            settingsDir.filePath(QString::fromLatin1(name) + QStringLiteral(".hcf"));
        saveConfig(file, settings, random);
        files << file;
    }
    MainWindow hosts({&prompts,
                      &log,
                      {files[0]},
                      {files[1], files[2]},
                      QCoreApplication::applicationFilePath(),
                      settingsDir.filePath(QStringLiteral("hosts.ini"))});
    hosts.show();
    QElapsedTimer wait;
    wait.start();
    auto anyBusy = [&hosts] {
        for (int i = 0; i < hosts.hostCount(); ++i)
            if (hosts.host(i)->isBusy())
                return true;
        return false;
    };
    while ((hosts.hostCount() < 3 || anyBusy()) && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    hosts.showHost(1);
    settle(800);
    ok = save(&hosts, folder, "hosts-tabs.png") && ok;
    hosts.showAllHosts();
    settle(800);
    ok = save(&hosts, folder, "all-hosts.png") && ok;
    hosts.close();
    return ok ? 0 : 1;
}
