// orvanite-ctl's process listing beside its floor. Starts orvanite-hostsim
// --prepared with N processes on one listener, then runs, as child programs,
// the floor client (bench-ctl-floor: receive and count only) and
// "orvanite-ctl processes PIN" in each output format with its output thrown
// away. Each run is timed from the start of the child to its exit; the peak
// resident memory is the child's own (wait4). Prints the medians, then the
// same as one JSON line.

#include "../common/BenchFigures.h"
#include "../common/BenchHostsim.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

extern char** environ;

namespace {

struct Run
{
    double ms = 0;
    double cpuMs = 0; // user and system time of the child
    double peakMib = 0;
    bool ok = false;
};

// Runs a program with its output to /dev/null (or to outFile when given).
Run runChild(const QStringList& command, const char* outFile = "/dev/null")
{
    std::vector<QByteArray> args;
    for (const QString& a : command)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile, O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Run run;
    pid_t pid = 0;
    const qint64 t0 = monotonicNs();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.ms = double(monotonicNs() - t0) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    run.peakMib = usage.ru_maxrss / 1024.0;
    run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

struct Options
{
    int processes = 0;
    int runs = 1;
    QString bin;
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of the listener."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Timed runs of each program."),
                      QStringLiteral("N"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("bin"), QStringLiteral("Folder of the programs."),
                      QStringLiteral("DIR"), QCoreApplication::applicationDirPath()});
    parser.process(app);
    Options options;
    options.processes = parser.value(QStringLiteral("processes")).toInt();
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.bin = parser.value(QStringLiteral("bin"));
    return options;
}

// The listener's PIN, from the listener list; empty when none was listed.
QString listenerPin(const QStringList& host)
{
    QProcess list;
    list.start(host.first(),
               host.mid(1) + QStringList{QStringLiteral("--format"), QStringLiteral("csv"),
                                         QStringLiteral("--no-headers"),
                                         QStringLiteral("listeners")});
    list.waitForFinished(60000);
    return QString::fromLatin1(list.readAllStandardOutput()).section(u',', 0, 0);
}

struct Subject
{
    const char* key;
    QStringList command;
};

// The floor first: the others are measured against it.
std::vector<Subject> subjectsFor(const QString& bin, const QString& port, const QString& pin)
{
    const QStringList host = {bin + QStringLiteral("/orvanite-ctl"), QStringLiteral("--host"),
                              QStringLiteral("127.0.0.1"), QStringLiteral("--port"), port};
    const QStringList processesCommand = {QStringLiteral("processes"), pin};
    return {
        {"floor", {bin + QStringLiteral("/bench-ctl-floor"), port, pin}},
        {"table", host + processesCommand},
        {"no_align", host + QStringList{QStringLiteral("--no-align")} + processesCommand},
        {"json",
         host + QStringList{QStringLiteral("--format"), QStringLiteral("json")} + processesCommand},
        {"csv",
         host + QStringList{QStringLiteral("--format"), QStringLiteral("csv")} + processesCommand},
    };
}

// The floor's count checks the population once; false, after saying why,
// when it ran short or failed.
bool floorCountsAll(const Subject& floor, int processes)
{
    const char* countFile = "/tmp/bench-ctl-floor.count";
    if (!runChild(floor.command, countFile).ok) {
        std::fprintf(stderr, "bench-ctl-floor failed\n");
        return false;
    }
    QByteArray counted;
    if (FILE* f = std::fopen(countFile, "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, f))
            counted = QByteArray(line).trimmed();
        std::fclose(f);
        std::remove(countFile);
    }
    if (counted.toInt() != processes) {
        std::fprintf(stderr, "the floor counted %s records, expected %d\n", counted.constData(),
                     processes);
        return false;
    }
    return true;
}

// Each subject run `runs` times, its medians printed beside the floor's;
// the JSON members of every subject, or nothing, after saying why, when a
// run failed.
std::optional<QStringList> timeSubjects(const std::vector<Subject>& subjects, int runs)
{
    QStringList json;
    double floorMs = 0, floorCpu = 0;
    for (const Subject& s : subjects) {
        std::vector<double> times, cpu;
        double peak = 0;
        for (int i = 0; i < runs; ++i) {
            const Run r = runChild(s.command);
            if (!r.ok) {
                std::fprintf(stderr, "%s failed\n", s.key);
                return std::nullopt;
            }
            times.push_back(r.ms);
            cpu.push_back(r.cpuMs);
            peak = std::max(peak, r.peakMib);
        }
        const double ms = medianOf(times);
        const double cpuMs = medianOf(cpu);
        if (floorMs == 0) {
            floorMs = ms;
            floorCpu = cpuMs;
        }
        std::printf("  %-9s %9.1f ms  %6.2fx the floor  CPU %7.1f ms  %6.2fx the floor's  "
                    "peak RSS %7.1f MiB\n",
                    s.key, ms, ms / floorMs, cpuMs, cpuMs / floorCpu, peak);
        json << QStringLiteral("\"%1\":{\"median_ms\":%2,\"median_cpu_ms\":%3,\"peak_rss_mib\":%4}")
                    .arg(QLatin1StringView(s.key))
                    .arg(ms, 0, 'f', 2)
                    .arg(cpuMs, 0, 'f', 2)
                    .arg(peak, 0, 'f', 1);
    }
    return json;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);

    QProcess sim;
    const quint16 simPort = startHostsim(
        sim, options.bin + QStringLiteral("/orvanite-hostsim"),
        {QStringLiteral("--prepared"), QStringLiteral("--processes"),
         QString::number(options.processes), QStringLiteral("--listeners"), QStringLiteral("1")},
        120000);
    if (simPort == 0)
        return 1;
    const QString port = QString::number(simPort);
    const QString pin =
        listenerPin({options.bin + QStringLiteral("/orvanite-ctl"), QStringLiteral("--host"),
                     QStringLiteral("127.0.0.1"), QStringLiteral("--port"), port});
    if (pin.isEmpty()) {
        std::fprintf(stderr, "no listener listed\n");
        return 1;
    }
    const std::vector<Subject> subjects = subjectsFor(options.bin, port, pin);
    if (!floorCountsAll(subjects[0], options.processes))
        return 1;

    std::printf("orvanite-ctl processes, %d records (%d runs each, median)\n", options.processes,
                options.runs);
    const std::optional<QStringList> json = timeSubjects(subjects, options.runs);
    if (!json)
        return 1;
    sim.terminate();
    sim.waitForFinished(5000);
    std::printf("{\"benchmark\":\"ctl\",\"processes\":%d,\"runs\":%d,%s}\n", options.processes,
                options.runs, qPrintable(json->join(u',')));
    return 0;
}
