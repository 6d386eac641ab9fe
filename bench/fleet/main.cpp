// Many hosts watched at once: --hosts simulated hosts (one of them silent),
// each with --processes processes under one listener, served by a child copy
// of this program so that the simulators' work is not counted; here, one
// session per host on the one event loop, each refreshed every --interval
// seconds by its own timer, as the console does. Over --seconds it measures
// this process's CPU time per minute and how late each host's refreshes
// ended, the silent host left out (its refresh waits out the read time-out,
// which is the point: it must not hold up the others). Prints the figures,
// then one JSON line.
//
// With --console PATH the same hosts are watched by the real console
// instead: PATH started offscreen on the first host's .hcf file with --add
// for each other one. Its CPU time is read from /proc, and its lateness from
// the simulators' side: the child reports each listener request, and a
// host's refresh is late by how much more than one interval passed since
// its previous one. The silent host answers its logon and first lists, then
// never again, so that its refreshes wait out the reply time-out and its
// reconnections keep coming.
//
// With --console PATH --scaling 5,10,20,40 the console watches that many
// hosts in turn, none of them silent, and the figure is its CPU time per
// host refresh at each count: what one host's refresh costs should not grow
// with the number of hosts beside it.
#include "../common/BenchConfig.h"
#include "../common/BenchProcess.h"
#include "hostsim/HostSim.h"
#include "hostsim/SimPopulation.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace {

// The child: the simulated hosts, their ports on stdout, one per line; with
// requests, then "G <host>" for each listener request.
int serve(int hosts, int processes, bool requests, bool allAnswer, QCoreApplication& app)
{
    std::vector<std::unique_ptr<HostSim>> sims;
    QTextStream out(stdout);
    for (int i = 0; i < hosts; ++i) {
        auto sim = std::make_unique<HostSim>();
        if (!sim->listen()) {
            std::fprintf(stderr, "cannot listen: %s\n", qPrintable(sim->errorString()));
            return 1;
        }
        sim->Listeners = SimPopulation::standardListeners(1, 1000);
        sim->populate(processes);
        sim->setPrepared(true);
        if (!requests) {
            sim->Faults.Silent = i == 0 && !allAnswer; // the first host never answers
        } else {
            // A console that cannot log on closes the host; this one falls
            // silent after its first lists instead.
            HostSim* s = sim.get();
            QObject::connect(s, &HostSim::requestReceived, &app,
                             [s, i, allAnswer, &out](const QByteArray& letter) {
                                 if (letter != "G")
                                     return;
                                 out << "G " << i << '\n';
                                 out.flush();
                                 if (i == 0 && !allAnswer)
                                     s->Faults.ReplyDelaySeconds = 3600;
                             });
        }
        out << sim->serverPort() << '\n';
        sims.push_back(std::move(sim));
    }
    out.flush();
    return app.exec();
}

// Starts the simulated hosts in a child copy of this program: their ports,
// fewer than hosts (after saying why) when they did not start.
std::vector<quint16> startHosts(QProcess& child, int hosts, int processes, bool requests,
                                bool allAnswer = false)
{
    QStringList arguments{QStringLiteral("--serve")};
    if (requests)
        arguments << QStringLiteral("--requests");
    if (allAnswer)
        arguments << QStringLiteral("--all-answer");
    arguments << QStringLiteral("--hosts") << QString::number(hosts)
              << QStringLiteral("--processes") << QString::number(processes);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    std::vector<quint16> ports;
    while (int(ports.size()) < hosts && child.waitForReadyRead(60000))
        while (int(ports.size()) < hosts && child.canReadLine())
            ports.push_back(quint16(child.readLine().trimmed().toUInt()));
    if (int(ports.size()) < hosts)
        std::fprintf(stderr, "the simulated hosts did not start\n");
    return ports;
}

// One .hcf file in home for each host: the console's arguments, the first
// file and --add for each other one; nothing, after saying why, when a file
// could not be written.
std::optional<QStringList> writeHostFiles(const QTemporaryDir& home,
                                          const std::vector<quint16>& ports, int interval)
{
    std::mt19937 random(1);
    QStringList arguments;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const QString file =
            home.filePath(QStringLiteral("host%1.hcf").arg(int(i), 2, 10, QLatin1Char('0')));
        if (!writeHostFile(file, ports[i], interval * 1000, random))
            return std::nullopt;
        if (i > 0)
            arguments << QStringLiteral("--add");
        arguments << file;
    }
    return arguments;
}

// The console offscreen, its settings and audit trail in home.
bool startConsole(QProcess& window, const QString& console, const QTemporaryDir& home,
                  const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(console, arguments);
    if (!window.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(console));
        return false;
    }
    return true;
}

// Each host's listener requests, by the bench's clock, as the child reports
// them, and the console's CPU time over the measured seconds.
struct Watched
{
    std::vector<QList<qint64>> listed;
    qint64 start = 0; // when the measuring began
    double cpu = 0;
};

Watched watchRequests(QProcess& child, const QProcess& window, int hosts, int seconds)
{
    Watched watched;
    watched.listed.resize(std::size_t(hosts));
    QElapsedTimer clock;
    clock.start();
    const auto readRequests = [&] {
        child.waitForReadyRead(200);
        while (child.canReadLine()) {
            const QList<QByteArray> words = child.readLine().trimmed().split(' ');
            if (words.size() == 2 && words[0] == "G")
                watched.listed[std::size_t(words[1].toInt())].append(clock.elapsed());
        }
    };
    // Every host listed once (the first one too, before it fell silent).
    while (clock.elapsed() < 120000 && std::any_of(watched.listed.begin(), watched.listed.end(),
                                                   [](const auto& l) { return l.isEmpty(); }))
        readRequests();
    watched.start = clock.elapsed();
    const qint64 cpuBefore = processCpuNs(window.processId());
    while (clock.elapsed() - watched.start < seconds * 1000LL)
        readRequests();
    watched.cpu = double(processCpuNs(window.processId()) - cpuBefore) / 1e9;
    return watched;
}

struct Lateness
{
    qint64 worstMs = 0;
    int fewestRefreshes = std::numeric_limits<int>::max();
};

// How late each live host's refreshes came after the measuring began: the
// time past one interval since its previous one.
Lateness latenessOf(const Watched& watched, int interval, int seconds)
{
    Lateness late;
    const auto& listed = watched.listed;
    for (std::size_t i = 1; i < listed.size(); ++i) {
        int refreshes = 0;
        for (qsizetype k = 1; k < listed[i].size(); ++k) {
            if (listed[i][k] < watched.start)
                continue;
            ++refreshes;
            late.worstMs =
                std::max(late.worstMs, listed[i][k] - listed[i][k - 1] - interval * 1000LL);
        }
        // The wait since the last one counts too.
        if (!listed[i].isEmpty())
            late.worstMs = std::max(late.worstMs, watched.start + seconds * 1000LL -
                                                      listed[i].last() - interval * 1000LL);
        late.fewestRefreshes = std::min(late.fewestRefreshes, refreshes);
    }
    return late;
}

// One run of the real console on simulated hosts, watched for `seconds`:
// what the hosts were asked and whether the console ran throughout; nothing
// when the hosts or the console could not start.
struct ConsoleRun
{
    Watched watched;
    bool running = false;
};

std::optional<ConsoleRun> runConsole(const QString& console, int hosts, int processes, int interval,
                                     int seconds, bool allAnswer)
{
    QProcess child;
    const std::vector<quint16> ports = startHosts(child, hosts, processes, true, allAnswer);
    if (int(ports.size()) < hosts)
        return std::nullopt;
    QTemporaryDir home;
    const std::optional<QStringList> arguments = writeHostFiles(home, ports, interval);
    QProcess window;
    if (!arguments || !startConsole(window, console, home, *arguments))
        return std::nullopt;
    ConsoleRun run{watchRequests(child, window, hosts, seconds),
                   window.state() == QProcess::Running};
    window.terminate();
    if (!window.waitForFinished(10000))
        window.kill();
    child.kill();
    child.waitForFinished(5000);
    return run;
}

// The real console on every host: see the top of the file.
int watchByConsole(const QString& console, int hosts, int processes, int interval, int seconds)
{
    const std::optional<ConsoleRun> run =
        runConsole(console, hosts, processes, interval, seconds, false);
    if (!run)
        return 1;
    const Watched& watched = run->watched;
    const bool running = run->running;

    const Lateness late = latenessOf(watched, interval, seconds);
    const double cpuPerMinute = watched.cpu * 60.0 / seconds;
    const double share = watched.cpu / seconds * 100.0;
    std::printf("orvanite-console with %d hosts x %d processes, refresh every %d s, one host "
                "silent: %.2f CPU s per minute (%.1f%% of one core); worst refresh %lld ms late "
                "(interval %d ms); fewest refreshes of a host %d%s\n",
                hosts, processes, interval, cpuPerMinute, share,
                static_cast<long long>(late.worstMs), interval * 1000, late.fewestRefreshes,
                running ? "" : "; THE CONSOLE ENDED EARLY");
    std::printf("{\"benchmark\":\"fleet_console\",\"hosts\":%d,\"processes\":%d,"
                "\"interval_s\":%d,\"seconds\":%d,\"cpu_s_per_minute\":%.3f,"
                "\"cpu_percent\":%.2f,\"goal_cpu_percent\":10,\"worst_late_ms\":%lld,"
                "\"goal_worst_late_ms\":%d,\"fewest_refreshes\":%d,\"ran_throughout\":%s}\n",
                hosts, processes, interval, seconds, cpuPerMinute, share,
                static_cast<long long>(late.worstMs), interval * 1000, late.fewestRefreshes,
                running ? "true" : "false");
    return running ? 0 : 1;
}

// The console's CPU time per host refresh with each number of hosts (none
// silent): one run of the console per count.
int scaleByConsole(const QString& console, const QList<int>& counts, int processes, int interval,
                   int seconds)
{
    QStringList fields;
    QList<double> perRefresh;
    for (const int hosts : counts) {
        const std::optional<ConsoleRun> run =
            runConsole(console, hosts, processes, interval, seconds, true);
        if (!run)
            return 1;
        const Watched& watched = run->watched;
        const bool running = run->running;
        qint64 refreshes = 0;
        for (const QList<qint64>& listed : watched.listed)
            refreshes += std::count_if(listed.begin(), listed.end(),
                                       [&watched](qint64 at) { return at >= watched.start; });
        const double ms = refreshes > 0 ? watched.cpu * 1000.0 / double(refreshes) : 0.0;
        perRefresh.append(ms);
        std::printf("orvanite-console with %d hosts x %d processes, refresh every %d s: %lld host "
                    "refreshes in %d s, %.3f ms CPU per host refresh%s\n",
                    hosts, processes, interval, static_cast<long long>(refreshes), seconds, ms,
                    running ? "" : "; THE CONSOLE ENDED EARLY");
        std::fflush(stdout);
        if (!running || refreshes == 0)
            return 1;
        fields << QStringLiteral("\"cpu_ms_per_host_refresh_%1\":%2").arg(hosts).arg(ms, 0, 'f', 3);
    }
    // Flat: the largest count costs at most half as much again per refresh
    // as the smallest.
    const double growth = perRefresh.first() > 0 ? perRefresh.last() / perRefresh.first() : 0.0;
    std::printf("{\"benchmark\":\"fleet_console_scaling\",\"processes\":%d,\"interval_s\":%d,"
                "\"seconds\":%d,%s,\"growth\":%.2f,\"goal_growth\":1.5}\n",
                processes, interval, seconds, qPrintable(fields.join(QLatin1Char(','))), growth);
    return 0;
}

struct Host
{
    std::unique_ptr<HostSession> session;
    std::unique_ptr<Reconnector> reconnector; // the silent host is tried again and again
    QTimer timer;
    QElapsedTimer tick; // when the refresh in hand was due
    bool due = false;
    qint64 worstLateMs = 0;
    int refreshes = 0;
};

struct Options
{
    int hosts = 2;
    int processes = 0;
    int interval = 1;
    int seconds = 1;
    bool serve = false;
    bool requests = false;
    bool allAnswer = false;
    QString console;
    QList<int> scaling; // host counts, one console run each
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("hosts"), QStringLiteral("Hosts."), QStringLiteral("N"),
                      QStringLiteral("50")});
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes per host."),
                      QStringLiteral("N"), QStringLiteral("2000")});
    parser.addOption({QStringLiteral("interval"), QStringLiteral("Refresh interval, seconds."),
                      QStringLiteral("S"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Measured time."),
                      QStringLiteral("S"), QStringLiteral("60")});
    parser.addOption({QStringLiteral("serve"), QStringLiteral("Be the simulated hosts.")});
    parser.addOption(
        {QStringLiteral("requests"), QStringLiteral("With --serve: report listener requests.")});
    parser.addOption(
        {QStringLiteral("all-answer"), QStringLiteral("With --serve: no host falls silent.")});
    parser.addOption({QStringLiteral("scaling"),
                      QStringLiteral("With --console: CPU per host refresh at each host count."),
                      QStringLiteral("N,N,...")});
    parser.addOption({QStringLiteral("console"),
                      QStringLiteral("Watch the hosts with this orvanite-console instead."),
                      QStringLiteral("PATH")});
    parser.process(app);
    Options options;
    options.hosts = std::max(2, parser.value(QStringLiteral("hosts")).toInt());
    options.processes = parser.value(QStringLiteral("processes")).toInt();
    options.interval = std::max(1, parser.value(QStringLiteral("interval")).toInt());
    options.seconds = std::max(options.interval, parser.value(QStringLiteral("seconds")).toInt());
    options.serve = parser.isSet(QStringLiteral("serve"));
    options.requests = parser.isSet(QStringLiteral("requests"));
    options.allAnswer = parser.isSet(QStringLiteral("all-answer"));
    for (const QString& count :
         parser.value(QStringLiteral("scaling")).split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const int hosts = count.toInt(); hosts > 0)
            options.scaling.append(hosts);
    if (parser.isSet(QStringLiteral("console")))
        options.console = parser.value(QStringLiteral("console"));
    return options;
}

// One session per host, each refreshed by its own timer (not started yet),
// noting how long after it was due each refresh ended.
std::vector<std::unique_ptr<Host>> connectFleet(const std::vector<quint16>& ports, int interval,
                                                QCoreApplication& app)
{
    std::vector<std::unique_ptr<Host>> fleet;
    for (quint16 port : ports) {
        auto host = std::make_unique<Host>();
        Host* h = host.get();
        h->session = std::make_unique<HostSession>();
        ConnectionSettings settings;
        settings.HostAddress = "127.0.0.1";
        settings.Port = port;
        h->session->setSettings(settings);
        h->reconnector = std::make_unique<Reconnector>(h->session.get());
        h->timer.setInterval(interval * 1000);
        QObject::connect(&h->timer, &QTimer::timeout, &app, [h] {
            if (!h->due) {
                h->due = true;
                h->tick.start();
            }
            h->session->refresh();
        });
        QObject::connect(h->session.get(), &HostSession::busyChanged, &app, [h](bool busy) {
            if (busy || !h->due)
                return;
            h->due = false;
            ++h->refreshes;
            h->worstLateMs = std::max(h->worstLateMs, h->tick.elapsed());
        });
        h->session->connectToHost();
        fleet.push_back(std::move(host));
    }
    return fleet;
}

// Every host but the silent first one logged on and listed, or a minute past.
void waitFleetReady(const std::vector<std::unique_ptr<Host>>& fleet)
{
    QElapsedTimer startup;
    startup.start();
    while (startup.elapsed() < 60000) {
        const auto ready = std::count_if(fleet.begin() + 1, fleet.end(), [](const auto& h) {
            return !h->session->isBusy() &&
                   h->session->linkState() == HostSession::LinkState::LoggedOn;
        });
        if (ready == std::ssize(fleet) - 1)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
}

void printFleetFigures(const Options& options, const std::vector<std::unique_ptr<Host>>& fleet,
                       double cpu)
{
    qint64 worst = 0;
    int fewest = std::numeric_limits<int>::max();
    for (std::size_t i = 1; i < fleet.size(); ++i) {
        worst = std::max(worst, fleet[i]->worstLateMs);
        fewest = std::min(fewest, fleet[i]->refreshes);
    }
    const int rows = fleet[1]->session->processes()->rows();
    const double cpuPerMinute = cpu * 60.0 / options.seconds;
    const double share = cpu / options.seconds * 100.0;
    std::printf("%d hosts x %d processes, refresh every %d s, one host silent: %.2f CPU s per "
                "minute (%.1f%% of one core); worst refresh ended %lld ms after it was due "
                "(interval %d ms); fewest refreshes of a host %d; %d rows per host\n",
                options.hosts, options.processes, options.interval, cpuPerMinute, share,
                static_cast<long long>(worst), options.interval * 1000, fewest, rows);
    std::printf("{\"benchmark\":\"fleet\",\"hosts\":%d,\"processes\":%d,\"interval_s\":%d,"
                "\"seconds\":%d,\"cpu_s_per_minute\":%.3f,\"cpu_percent\":%.2f,"
                "\"goal_cpu_percent\":10,\"worst_late_ms\":%lld,\"goal_worst_late_ms\":%d,"
                "\"fewest_refreshes\":%d}\n",
                options.hosts, options.processes, options.interval, options.seconds, cpuPerMinute,
                share, static_cast<long long>(worst), options.interval * 1000, fewest);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);
    if (options.serve)
        return serve(options.hosts, options.processes, options.requests, options.allAnswer, app);
    if (!options.console.isNull() && !options.scaling.isEmpty())
        return scaleByConsole(options.console, options.scaling, options.processes, options.interval,
                              options.seconds);
    if (!options.console.isNull())
        return watchByConsole(options.console, options.hosts, options.processes, options.interval,
                              options.seconds);

    QProcess child;
    const std::vector<quint16> ports = startHosts(child, options.hosts, options.processes, false);
    if (int(ports.size()) < options.hosts)
        return 1;
    std::vector<std::unique_ptr<Host>> fleet = connectFleet(ports, options.interval, app);
    waitFleetReady(fleet);
    for (auto& h : fleet)
        h->timer.start();

    const qint64 cpuBefore = selfCpuNs();
    QTimer::singleShot(options.seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = double(selfCpuNs() - cpuBefore) / 1e9;
    printFleetFigures(options, fleet, cpu);
    for (auto& h : fleet) {
        h->reconnector->hold();
        h->session->quit();
    }
    child.kill();
    child.waitForFinished(5000);
    return 0;
}
