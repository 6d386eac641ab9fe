// End-to-end refresh of one listener's processes through HostSession into
// ProcessTableModel, against orvanite-hostsim --prepared holding N processes
// in its own process (so the simulator's work is not counted here). Prints
// the median wall time of the runs and the peak RSS as one JSON line.
#include "../common/BenchFigures.h"
#include "../common/BenchHostsim.h"
#include "../common/BenchProcess.h"
#include "../common/BenchSession.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/RecordSortFilterModel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Options
{
    int processes = 0;
    int runs = 1;
    QString hostsim;
    bool sortFilter = false;
};

Options parseOptions(const QCoreApplication& app)
{
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
    Options options;
    options.sortFilter = parser.isSet(QStringLiteral("sort-filter"));
    options.processes = parser.value(QStringLiteral("processes")).toInt();
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.hostsim = parser.value(QStringLiteral("hostsim"));
    return options;
}

// The operator's view: sorted by CPU time, filtered by a text that most rows
// hold, so that both the sort and the filter have all their work, and the
// rows that are new since the last refresh marked.
void watchSortedFiltered(HostSession& session, RecordSortFilterModel& view)
{
    session.processes()->setMarkNewRows(int(ProcessColumn::Pin));
    view.setTable(session.processes(), int(ProcessColumn::Pin));
    view.sort(int(ProcessColumn::CpuTime), Qt::DescendingOrder);
    view.setFilterText(QStringLiteral("1"));
}

struct Timings
{
    std::vector<double> wall, cpu;
};

// The timed refreshes; false, after saying why, when a run lost rows.
bool timeRefreshes(HostSession& session, const Options& options, Timings& timings)
{
    for (int i = 0; i < options.runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        const qint64 c0 = selfCpuNs();
        session.refreshProcesses();
        waitIdle(session);
        timings.wall.push_back(double(clock.nsecsElapsed()) / 1e6);
        timings.cpu.push_back(double(selfCpuNs() - c0) / 1e6);
        if (session.processes()->rows() != options.processes) {
            std::fprintf(stderr, "run %d: %d rows\n", i, session.processes()->rows());
            return false;
        }
    }
    return true;
}

struct Keystroke
{
    double firstMs = 0, secondMs = 0;
    int shown = 0;
};

// A keystroke in the filter: the first character searches every row, the
// second only the rows the first kept.
Keystroke timeKeystroke(RecordSortFilterModel& view)
{
    Keystroke key;
    view.setFilterText(QString());
    QElapsedTimer clock;
    clock.start();
    view.setFilterText(QStringLiteral("1"));
    key.firstMs = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    view.setFilterText(QStringLiteral("12"));
    key.secondMs = double(clock.nsecsElapsed()) / 1e6;
    key.shown = view.rowCount();
    return key;
}

void printFigures(const Options& options, const Timings& timings, const Keystroke& key,
                  long rssBefore)
{
    const double median = medianOf(timings.wall);
    const double medianCpu = medianOf(timings.cpu);
    std::printf(
        "refresh of %d processes through HostSession into the process table: median "
        "%.1f ms (CPU %.1f ms) over %d runs, peak RSS %.1f MiB (%.1f MiB before the session)\n",
        options.processes, median, medianCpu, options.runs, peakRssKiB() / 1024.0,
        rssBefore / 1024.0);
    if (options.sortFilter)
        std::printf("under a sort and a filter; a keystroke in the filter: %.1f ms (first "
                    "character), %.1f ms (second, %d rows shown)\n",
                    key.firstMs, key.secondMs, key.shown);
    std::printf("{\"benchmark\":\"session_refresh\",\"processes\":%d,\"median_ms\":%.2f,"
                "\"median_cpu_ms\":%.2f,"
                "\"peak_rss_mib\":%.1f,\"goal_peak_rss_mib\":%d,\"sort_filter\":%s,"
                "\"first_key_ms\":%.2f,\"second_key_ms\":%.2f}\n",
                options.processes, median, medianCpu, peakRssKiB() / 1024.0,
                options.processes >= 1000000 ? 160 : 150, options.sortFilter ? "true" : "false",
                key.firstMs, key.secondMs);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);

    QProcess sim;
    const quint16 simPort = startHostsim(
        sim, options.hostsim,
        {QStringLiteral("--processes"), QString::number(options.processes),
         QStringLiteral("--listeners"), QStringLiteral("1"), QStringLiteral("--prepared")},
        60000);
    if (simPort == 0)
        return 1;

    const long rssBefore = peakRssKiB();
    HostSession session;
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = simPort;
    session.setSettings(settings);
    RecordSortFilterModel view;
    if (options.sortFilter)
        watchSortedFiltered(session, view);
    session.connectToHost();
    waitIdle(session);
    if (session.processes()->rows() != options.processes) {
        std::fprintf(stderr, "expected %d process rows, got %d\n", options.processes,
                     session.processes()->rows());
        return 1;
    }
    Timings timings;
    if (!timeRefreshes(session, options, timings))
        return 1;
    const Keystroke key = options.sortFilter ? timeKeystroke(view) : Keystroke{};
    session.quit();
    sim.kill();
    sim.waitForFinished(5000);
    printFigures(options, timings, key, rssBefore);
    return 0;
}
