// End-to-end refresh of one listener's processes through HostSession into
// ProcessTableModel, against orvanite-hostsim --prepared holding N processes
// in its own process (so the simulator's work is not counted here). Prints
// the median wall time of the runs and the peak RSS as one JSON line.
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"

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
    parser.addOption({QStringLiteral("hostsim"), QStringLiteral("Path of orvanite-hostsim."),
                      QStringLiteral("PATH"),
                      QCoreApplication::applicationDirPath() + QStringLiteral("/orvanite-hostsim")});
    parser.process(app);
    const int processes = parser.value(QStringLiteral("processes")).toInt();
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());

    QProcess sim;
    sim.setStandardErrorFile(QProcess::nullDevice());
    sim.start(parser.value(QStringLiteral("hostsim")),
              {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--processes"),
               QString::number(processes), QStringLiteral("--listeners"), QStringLiteral("1"),
               QStringLiteral("--prepared")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(60000)) {
        std::fprintf(stderr, "orvanite-hostsim did not start\n");
        return 1;
    }
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("listening on [^:]+:(\\d+)"))
                                          .match(QString::fromLatin1(sim.readLine()));
    if (!m.hasMatch()) {
        std::fprintf(stderr, "unexpected first line from orvanite-hostsim\n");
        return 1;
    }

    const long rssBefore = peakRssKiB();
    HostSession session;
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = quint16(m.captured(1).toUInt());
    session.setSettings(settings);
    session.connectToHost();
    waitIdle(session);
    if (session.processes()->rows() != processes) {
        std::fprintf(stderr, "expected %d process rows, got %d\n", processes,
                     session.processes()->rows());
        return 1;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        session.refreshProcesses();
        waitIdle(session);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (session.processes()->rows() != processes) {
            std::fprintf(stderr, "run %d: %d rows\n", i, session.processes()->rows());
            return 1;
        }
    }
    session.quit();
    sim.kill();
    sim.waitForFinished(5000);
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("refresh of %d processes through HostSession into the process table: median "
                "%.1f ms over %d runs, peak RSS %.1f MiB (%.1f MiB before the session)\n",
                processes, median, runs, peakRssKiB() / 1024.0, rssBefore / 1024.0);
    std::printf("{\"benchmark\":\"session_refresh\",\"processes\":%d,\"median_ms\":%.2f,"
                "\"peak_rss_mib\":%.1f,\"goal_peak_rss_mib\":%d}\n",
                processes, median, peakRssKiB() / 1024.0, processes >= 1000000 ? 160 : 150);
    return 0;
}
