// Measures the CPU seconds the process uses while a session's read waits out
// its whole time-out for a reply that never comes: the simulated host (in
// process) accepts the connection and stays silent. A waiting read must sleep
// in the event loop, not poll. Prints one line for people and one JSON
// line for the report.
#include "../common/BenchProcess.h"
#include "hostsim/HostSim.h"
#include "session/HostSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>

namespace {

// The goal: a wait of ten seconds and more costs less than this.
constexpr double GoalCpuSeconds = 0.05;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The console's wait for a reply; the socket gives up after one second more.
    int timeout = 10;
    if (argc > 1)
        timeout = std::atoi(argv[1]);

    HostSim sim;
    sim.Faults.Silent = true;
    if (!sim.listen()) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    // The session logs on to a host that never answers: the logon's read
    // waits out the whole time-out.
    HostSession session;
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = sim.serverPort();
    session.setSettings(settings);
    session.setLogonTimeout(timeout);
    int reported = 0;
    QObject::connect(&session, &HostSession::socketError, &app,
                     [&reported](int error, const QString&) { reported = error; });
    QObject::connect(&session, &HostSession::connectFinished, &app, [&app] { app.quit(); });

    const qint64 cpuBefore = selfCpuNs();
    QElapsedTimer clock;
    clock.start();
    session.logOn();
    app.exec();
    const double waited = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = double(selfCpuNs() - cpuBefore) / 1e9;
    if (reported != 10060) {
        std::fprintf(stderr, "the read did not time out (error %d)\n", reported);
        return 1;
    }

    QTextStream out(stdout);
    out << "waiting read of " << QString::number(waited, 'f', 2) << " s (time-out " << timeout
        << "): " << QString::number(cpu, 'f', 4) << " CPU seconds, goal under " << GoalCpuSeconds
        << "\n";
    out << "{\"benchmark\":\"wait_cpu\",\"read_timeout_s\":" << timeout
        << ",\"waited_s\":" << QString::number(waited, 'f', 3)
        << ",\"cpu_s\":" << QString::number(cpu, 'f', 4) << ",\"goal_cpu_s\":" << GoalCpuSeconds
        << "}\n";
    out.flush();
    session.quit();
    return 0;
}
