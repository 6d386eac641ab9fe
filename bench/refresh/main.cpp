// Times a full refresh (listener list, then the process list of the one
// listener) of the console's main window against orvanite-hostsim holding
// N processes, run as its own program (or in process with --in-process),
// encoding each list per request or, with --prepared, sending it ready-made.
// Prints the median wall time, each run and the peak resident memory, then
// the same as one JSON line.

#include "../common/BenchFigures.h"
#include "../common/BenchHostsim.h"
#include "../common/BenchProcess.h"
#include "../common/BenchPrompts.h"
#include "../common/BenchSession.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/MainWindow.h"
#include "hostsim/HostSim.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct Options
{
    int processes = 0;
    int runs = 1;
    QString hostsim;
    bool inProcess = false;
    bool prepared = false;
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of the listener."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Timed refreshes."),
                      QStringLiteral("N"), QStringLiteral("9")});
    parser.addOption(
        {QStringLiteral("hostsim"), QStringLiteral("Path of orvanite-hostsim."),
         QStringLiteral("PATH"),
         QCoreApplication::applicationDirPath() + QStringLiteral("/orvanite-hostsim")});
    parser.addOption(
        {QStringLiteral("in-process"), QStringLiteral("Run the simulator inside this program.")});
    parser.addOption({QStringLiteral("prepared"),
                      QStringLiteral("The simulator sends each list as one prepared block.")});
    parser.process(app);
    Options options;
    options.processes = parser.value(QStringLiteral("processes")).toInt();
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.hostsim = parser.value(QStringLiteral("hostsim"));
    options.inProcess = parser.isSet(QStringLiteral("in-process"));
    options.prepared = parser.isSet(QStringLiteral("prepared"));
    return options;
}

// The simulator, in this program or as its own; it listens on the port
// returned, 0 (after saying why) when it could not start.
quint16 startSimulator(const Options& options, std::unique_ptr<HostSim>& sim, QProcess& simProcess)
{
    if (!options.inProcess) {
        QStringList arguments{QStringLiteral("--processes"), QString::number(options.processes),
                              QStringLiteral("--listeners"), QStringLiteral("1")};
        if (options.prepared)
            arguments.append(QStringLiteral("--prepared"));
        return startHostsim(simProcess, options.hostsim, arguments, 120000);
    }
    sim = std::make_unique<HostSim>();
    sim->Listeners = {SimListener{"1000", "30002", "CNDSRVR", "8", "0", {}}};
    sim->populate(options.processes);
    sim->setPrepared(options.prepared);
    if (!sim->listen()) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(sim->errorString()));
        return 0;
    }
    return sim->serverPort();
}

// Waits for the first connection's lists; false, after saying why, when
// they did not come within a minute.
bool waitConnected(HostController& host)
{
    QElapsedTimer connectTimer;
    connectTimer.start();
    while (host.isBusy() && !host.isClosing()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (connectTimer.elapsed() > 60000) {
            std::fprintf(stderr, "no connection\n");
            return false;
        }
    }
    return true;
}

// The wall time and this process's CPU time of each refresh, in ms.
struct Runs
{
    std::vector<double> wall, cpu;
};

// The timed refreshes, each until the rows have reached the view and the
// window is painted; nothing, after saying why, when a run lost rows.
std::optional<Runs> timeRefreshes(MainWindow& window, HostSession& session, int runs, int processes)
{
    Runs times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const qint64 cpu0 = selfCpuNs();
        session.refresh();
        waitIdle(session);
        QCoreApplication::processEvents();
        window.repaint();
        times.wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        times.cpu.push_back(double(selfCpuNs() - cpu0) / 1e6);
        if (session.processes()->rows() != processes) {
            std::fprintf(stderr, "run %d: %d rows\n", i, session.processes()->rows());
            return std::nullopt;
        }
    }
    return times;
}

void printFigures(const Options& options, const Runs& runs, long rssBefore)
{
    const std::vector<double>& times = runs.wall;
    const double median = medianOf(times);
    const double medianCpu = medianOf(runs.cpu);
    const auto [fastest, slowest] = std::minmax_element(times.begin(), times.end());
    const long peak = peakRssKiB();
    const char* hostsim = options.inProcess ? "in-process" : "separate";

    QTextStream out(stdout);
    out << "refresh of " << options.processes << " processes (" << hostsim
        << (options.prepared ? " prepared" : "") << " hostsim, " << options.runs << " runs)\n";
    out << "  median " << QString::number(median, 'f', 1) << " ms, min "
        << QString::number(*fastest, 'f', 1) << " ms, max " << QString::number(*slowest, 'f', 1)
        << " ms; CPU median " << QString::number(medianCpu, 'f', 1) << " ms\n";
    out << "  peak RSS " << QString::number(peak / 1024.0, 'f', 1) << " MiB (before the window "
        << QString::number(rssBefore / 1024.0, 'f', 1) << " MiB)\n";
    out << "{\"benchmark\":\"refresh_processes\",\"processes\":" << options.processes
        << ",\"hostsim\":\"" << hostsim
        << "\",\"prepared\":" << (options.prepared ? "true" : "false")
        << ",\"runs\":" << options.runs << ",\"median_ms\":" << QString::number(median, 'f', 2)
        << ",\"median_cpu_ms\":" << QString::number(medianCpu, 'f', 2) << ",\"runs_ms\":[" << joinRuns(times, 2)
        << "],\"peak_rss_mib\":" << QString::number(peak / 1024.0, 'f', 1)
        << ",\"goal_ms\":100,\"goal_rss_mib\":150}\n";
    out.flush();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const Options options = parseOptions(app);

    std::unique_ptr<HostSim> sim;
    QProcess simProcess;
    const quint16 port = startSimulator(options, sim, simProcess);
    if (port == 0)
        return 1;

    PrintingPrompts prompts;
    NoEventLog log;
    const long rssBefore = peakRssKiB();
    // A settings store of its own: nothing remembered from an operator's runs.
    QTemporaryDir settingsDir;
    MainWindow window({&prompts,
                       &log,
                       {},
                       {},
                       QCoreApplication::applicationFilePath(),
                       settingsDir.filePath(QStringLiteral("console.ini"))});
    HostController* host = window.host(0)->controller();
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = port;
    settings.RefreshInterval = 60000;
    host->setSettings(settings);
    HostSession* session = host->session();
    window.show();
    if (!waitConnected(*host))
        return 1;
    const int rows = session->processes()->rows();
    if (rows != options.processes) {
        std::fprintf(stderr, "expected %d process rows, got %d\n", options.processes, rows);
        return 1;
    }

    const std::optional<Runs> times =
        timeRefreshes(window, *session, options.runs, options.processes);
    if (!times)
        return 1;
    printFigures(options, *times, rssBefore);

    window.close();
    if (!options.inProcess) {
        simProcess.terminate();
        simProcess.waitForFinished(5000);
    }
    return 0;
}
