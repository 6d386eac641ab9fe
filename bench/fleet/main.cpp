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
#include "config/ConfigFile.h"
#include "hostsim/HostSim.h"
#include "hostsim/SimPopulation.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The child: the simulated hosts, their ports on stdout, one per line; with
// requests, then "G <host>" for each listener request.
int serve(int hosts, int processes, bool requests, QCoreApplication& app)
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
            sim->Faults.Silent = i == 0; // the first host never answers
        } else {
            // A console that cannot log on closes the host; this one falls
            // silent after its first lists instead.
            HostSim* s = sim.get();
            QObject::connect(s, &HostSim::requestReceived, &app,
                             [s, i, &out](const QByteArray& letter) {
                                 if (letter != "G")
                                     return;
                                 out << "G " << i << '\n';
                                 out.flush();
                                 if (i == 0)
                                     s->Faults.ReplyDelaySeconds = 3600;
                             });
        }
        out << sim->serverPort() << '\n';
        sims.push_back(std::move(sim));
    }
    out.flush();
    return app.exec();
}

// CPU time of a process in seconds (user and system, whole clock ticks).
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (close < 0 || fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The real console on every host: see the top of the file.
int watchByConsole(const QString& console, int hosts, int processes, int interval, int seconds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--serve"), QStringLiteral("--requests"), QStringLiteral("--hosts"),
                 QString::number(hosts), QStringLiteral("--processes"),
                 QString::number(processes)});
    std::vector<quint16> ports;
    while (int(ports.size()) < hosts && child.waitForReadyRead(60000))
        while (int(ports.size()) < hosts && child.canReadLine())
            ports.push_back(quint16(child.readLine().trimmed().toUInt()));
    if (int(ports.size()) < hosts) {
        std::fprintf(stderr, "the simulated hosts did not start\n");
        return 1;
    }
    QTemporaryDir home;
    std::mt19937 random(1);
    QStringList arguments;
    for (int i = 0; i < hosts; ++i) {
        ConnectionSettings settings;
        settings.HostAddress = "127.0.0.1";
        settings.Port = ports[std::size_t(i)];
        settings.RefreshInterval = interval * 1000;
        const QString file =
            home.filePath(QStringLiteral("host%1.hcf").arg(i, 2, 10, QLatin1Char('0')));
        if (!saveConfig(file, settings, random).ok()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        if (i > 0)
            arguments << QStringLiteral("--add");
        arguments << file;
    }
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Its settings and audit trail in a folder of its own.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(console, arguments);
    if (!window.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(console));
        return 1;
    }

    // Each host's listener requests, by the bench's clock.
    QElapsedTimer clock;
    clock.start();
    auto listed = std::vector<QList<qint64>>(std::size_t(hosts));
    const auto readRequests = [&] {
        while (child.canReadLine()) {
            const QList<QByteArray> words = child.readLine().trimmed().split(' ');
            if (words.size() == 2 && words[0] == "G")
                listed[std::size_t(words[1].toInt())].append(clock.elapsed());
        }
    };
    // Every host listed once (the first one too, before it fell silent).
    while (clock.elapsed() < 120000 &&
           std::any_of(listed.begin(), listed.end(), [](const auto& l) { return l.isEmpty(); })) {
        child.waitForReadyRead(200);
        readRequests();
    }
    const qint64 start = clock.elapsed();
    const double cpuBefore = processCpuSeconds(window.processId());
    while (clock.elapsed() - start < seconds * 1000LL) {
        child.waitForReadyRead(200);
        readRequests();
    }
    const double cpu = processCpuSeconds(window.processId()) - cpuBefore;
    const bool running = window.state() == QProcess::Running;
    window.terminate();
    if (!window.waitForFinished(10000))
        window.kill();
    child.kill();
    child.waitForFinished(5000);

    // How late each live host's refreshes came after the measuring began:
    // the time past one interval since its previous one.
    qint64 worst = 0;
    int fewest = std::numeric_limits<int>::max();
    for (std::size_t i = 1; i < listed.size(); ++i) {
        int refreshes = 0;
        for (qsizetype k = 1; k < listed[i].size(); ++k) {
            if (listed[i][k] < start)
                continue;
            ++refreshes;
            worst = std::max(worst, listed[i][k] - listed[i][k - 1] - interval * 1000LL);
        }
        // The wait since the last one counts too.
        if (!listed[i].isEmpty())
            worst =
                std::max(worst, start + seconds * 1000LL - listed[i].last() - interval * 1000LL);
        fewest = std::min(fewest, refreshes);
    }
    const double cpuPerMinute = cpu * 60.0 / seconds;
    const double share = cpu / seconds * 100.0;
    std::printf("orvanite-console with %d hosts x %d processes, refresh every %d s, one host "
                "silent: %.2f CPU s per minute (%.1f%% of one core); worst refresh %lld ms late "
                "(interval %d ms); fewest refreshes of a host %d%s\n",
                hosts, processes, interval, cpuPerMinute, share, static_cast<long long>(worst),
                interval * 1000, fewest, running ? "" : "; THE CONSOLE ENDED EARLY");
    std::printf("{\"benchmark\":\"fleet_console\",\"hosts\":%d,\"processes\":%d,"
                "\"interval_s\":%d,\"seconds\":%d,\"cpu_s_per_minute\":%.3f,"
                "\"cpu_percent\":%.2f,\"goal_cpu_percent\":10,\"worst_late_ms\":%lld,"
                "\"goal_worst_late_ms\":%d,\"fewest_refreshes\":%d,\"ran_throughout\":%s}\n",
                hosts, processes, interval, seconds, cpuPerMinute, share,
                static_cast<long long>(worst), interval * 1000, fewest, running ? "true" : "false");
    return running ? 0 : 1;
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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
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
    parser.addOption({QStringLiteral("console"),
                      QStringLiteral("Watch the hosts with this orvanite-console instead."),
                      QStringLiteral("PATH")});
    parser.process(app);
    const int hosts = std::max(2, parser.value(QStringLiteral("hosts")).toInt());
    const int processes = parser.value(QStringLiteral("processes")).toInt();
    const int interval = std::max(1, parser.value(QStringLiteral("interval")).toInt());
    const int seconds = std::max(interval, parser.value(QStringLiteral("seconds")).toInt());
    if (parser.isSet(QStringLiteral("serve")))
        return serve(hosts, processes, parser.isSet(QStringLiteral("requests")), app);
    if (parser.isSet(QStringLiteral("console")))
        return watchByConsole(parser.value(QStringLiteral("console")), hosts, processes, interval,
                              seconds);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--serve"), QStringLiteral("--hosts"), QString::number(hosts),
                 QStringLiteral("--processes"), QString::number(processes)});
    std::vector<quint16> ports;
    while (int(ports.size()) < hosts && child.waitForReadyRead(60000))
        while (child.canReadLine())
            ports.push_back(quint16(child.readLine().trimmed().toUInt()));
    if (int(ports.size()) < hosts) {
        std::fprintf(stderr, "the simulated hosts did not start\n");
        return 1;
    }

    std::vector<std::unique_ptr<Host>> fleet;
    for (int i = 0; i < hosts; ++i) {
        auto host = std::make_unique<Host>();
        Host* h = host.get();
        h->session = std::make_unique<HostSession>();
        ConnectionSettings settings;
        settings.HostAddress = "127.0.0.1";
        settings.Port = ports[std::size_t(i)];
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
    // Every host but the silent one logged on and listed, then the clocks start.
    QElapsedTimer startup;
    startup.start();
    while (startup.elapsed() < 60000) {
        const auto ready = std::count_if(fleet.begin() + 1, fleet.end(), [](const auto& h) {
            return !h->session->isBusy() &&
                   h->session->linkState() == HostSession::LinkState::LoggedOn;
        });
        if (ready == hosts - 1)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    for (auto& h : fleet)
        h->timer.start();

    const double cpuBefore = cpuSeconds();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpuSeconds() - cpuBefore;

    qint64 worst = 0;
    int fewest = std::numeric_limits<int>::max();
    for (std::size_t i = 1; i < fleet.size(); ++i) {
        worst = std::max(worst, fleet[i]->worstLateMs);
        fewest = std::min(fewest, fleet[i]->refreshes);
    }
    const int rows = fleet[1]->session->processes()->rows();
    for (auto& h : fleet) {
        h->reconnector->hold();
        h->session->quit();
    }
    child.kill();
    child.waitForFinished(5000);

    const double cpuPerMinute = cpu * 60.0 / seconds;
    const double share = cpu / seconds * 100.0;
    std::printf("%d hosts x %d processes, refresh every %d s, one host silent: %.2f CPU s per "
                "minute (%.1f%% of one core); worst refresh ended %lld ms after it was due "
                "(interval %d ms); fewest refreshes of a host %d; %d rows per host\n",
                hosts, processes, interval, cpuPerMinute, share, static_cast<long long>(worst),
                interval * 1000, fewest, rows);
    std::printf("{\"benchmark\":\"fleet\",\"hosts\":%d,\"processes\":%d,\"interval_s\":%d,"
                "\"seconds\":%d,\"cpu_s_per_minute\":%.3f,\"cpu_percent\":%.2f,"
                "\"goal_cpu_percent\":10,\"worst_late_ms\":%lld,\"goal_worst_late_ms\":%d,"
                "\"fewest_refreshes\":%d}\n",
                hosts, processes, interval, seconds, cpuPerMinute, share,
                static_cast<long long>(worst), interval * 1000, fewest);
    return 0;
}
