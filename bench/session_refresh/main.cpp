// End-to-end refresh of one listener's processes through HostSession into
// ProcessTableModel, against orvanite-hostsim --prepared holding N processes
// in its own process (so the simulator's work is not counted here). Prints
// the median wall time of the runs and the peak RSS as one JSON line.
#include "../common/BenchHostsim.h"
#include "../common/BenchProcess.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/RecordSortFilterModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

void waitIdle(HostSession& session)
{
    if (!session.isBusy())
        return;
    QEventLoop loop;
    QObject::connect(&session, &HostSession::busyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of the listener."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Refreshes timed."),
                      QStringLiteral("N"), QStringLiteral("7")});
    parser.addOption(
        {QStringLiteral("hostsim"), QStringLiteral("Path of orvanite-hostsim."),
         QStringLiteral("PATH"),
         QCoreApplication::applicationDirPath() + QStringLiteral("/orvanite-hostsim")});
    parser.addOption({QStringLiteral("sort-filter"),
                      QStringLiteral("Refresh under a sort by CPU time and a filter, and time a "
                                     "keystroke in the filter.")});
    parser.process(app);
    const bool sortFilter = parser.isSet(QStringLiteral("sort-filter"));
    const int processes = parser.value(QStringLiteral("processes")).toInt();
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());

    QProcess sim;
    const quint16 simPort = startHostsim(sim, parser.value(QStringLiteral("hostsim")),
                                         {QStringLiteral("--processes"), QString::number(processes),
                                          QStringLiteral("--listeners"), QStringLiteral("1"),
                                          QStringLiteral("--prepared")},
                                         60000);
    if (simPort == 0)
        return 1;

    const long rssBefore = peakRssKiB();
    HostSession session;
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = simPort;
    session.setSettings(settings);
    // The operator's view: sorted by CPU time, filtered by a text that most
    // rows hold, so that both the sort and the filter have all their work,
    // and the rows that are new since the last refresh marked.
    RecordSortFilterModel view;
    if (sortFilter) {
        session.processes()->setMarkNewRows(int(ProcessColumn::Pin));
        view.setTable(session.processes(), int(ProcessColumn::Pin));
        view.sort(int(ProcessColumn::CpuTime), Qt::DescendingOrder);
        view.setFilterText(QStringLiteral("1"));
    }
    session.connectToHost();
    waitIdle(session);
    if (session.processes()->rows() != processes) {
        std::fprintf(stderr, "expected %d process rows, got %d\n", processes,
                     session.processes()->rows());
        return 1;
    }
    std::vector<double> times, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        const qint64 c0 = selfCpuNs();
        session.refreshProcesses();
        waitIdle(session);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        cpu.push_back(double(selfCpuNs() - c0) / 1e6);
        if (session.processes()->rows() != processes) {
            std::fprintf(stderr, "run %d: %d rows\n", i, session.processes()->rows());
            return 1;
        }
    }
    // A keystroke in the filter: the first character searches every row, the
    // second only the rows the first kept.
    double firstKey = 0, secondKey = 0;
    int shown = 0;
    if (sortFilter) {
        view.setFilterText(QString());
        QElapsedTimer clock;
        clock.start();
        view.setFilterText(QStringLiteral("1"));
        firstKey = double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        view.setFilterText(QStringLiteral("12"));
        secondKey = double(clock.nsecsElapsed()) / 1e6;
        shown = view.rowCount();
    }
    session.quit();
    sim.kill();
    sim.waitForFinished(5000);
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::sort(cpu.begin(), cpu.end());
    const double medianCpu = cpu[cpu.size() / 2];
    std::printf(
        "refresh of %d processes through HostSession into the process table: median "
        "%.1f ms (CPU %.1f ms) over %d runs, peak RSS %.1f MiB (%.1f MiB before the session)\n",
        processes, median, medianCpu, runs, peakRssKiB() / 1024.0, rssBefore / 1024.0);
    if (sortFilter)
        std::printf("under a sort and a filter; a keystroke in the filter: %.1f ms (first "
                    "character), %.1f ms (second, %d rows shown)\n",
                    firstKey, secondKey, shown);
    std::printf("{\"benchmark\":\"session_refresh\",\"processes\":%d,\"median_ms\":%.2f,"
                "\"median_cpu_ms\":%.2f,"
                "\"peak_rss_mib\":%.1f,\"goal_peak_rss_mib\":%d,\"sort_filter\":%s,"
                "\"first_key_ms\":%.2f,\"second_key_ms\":%.2f}\n",
                processes, median, medianCpu, peakRssKiB() / 1024.0,
                processes >= 1000000 ? 160 : 150, sortFilter ? "true" : "false", firstKey,
                secondKey);
    return 0;
}
