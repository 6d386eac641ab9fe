// Many hosts watched at once: --hosts simulated hosts (one of them silent),
// each with --processes processes under one listener, served by a child copy
// of this program so that the simulators' work is not counted; here, one
// session per host on the one event loop, each refreshed every --interval
// seconds by its own timer, as the console does. Over --seconds it measures
// this process's CPU time per minute and how late each host's refreshes
// ended, the silent host left out (its refresh waits out the read time-out,
// which is the point: it must not hold up the others). Prints the figures,
// then one JSON line.
#include "hostsim/HostSim.h"
#include "hostsim/SimPopulation.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

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

// The child: the simulated hosts, their ports on stdout, one per line.
int serve(int hosts, int processes, QCoreApplication& app)
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
        sim->Faults.Silent = i == 0; // the first host never answers
        out << sim->serverPort() << '\n';
        sims.push_back(std::move(sim));
    }
    out.flush();
    return app.exec();
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
    parser.process(app);
    const int hosts = std::max(2, parser.value(QStringLiteral("hosts")).toInt());
    const int processes = parser.value(QStringLiteral("processes")).toInt();
    const int interval = std::max(1, parser.value(QStringLiteral("interval")).toInt());
    const int seconds = std::max(interval, parser.value(QStringLiteral("seconds")).toInt());
    if (parser.isSet(QStringLiteral("serve")))
        return serve(hosts, processes, app);

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
