// How much CPU the console uses while the operator only watches: starts
// orvanite-hostsim --demo and the real orvanite-console (offscreen) on a
// configuration file with a 5-second refresh, lets the console settle, then
// reads its CPU time from /proc before and after a window of
// --seconds (60 by default) and reports it as milliseconds per minute.
// Prints the figure, then one JSON line.

#include "../common/BenchHostsim.h"
#include "config/ConfigFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <random>
#include <thread>

namespace {

qint64 cpuTicks(qint64 pid);

// CPU time of a process in nanoseconds, -1 when unreadable: the sum over its
// threads of the scheduler's running time (nanoseconds), else user plus
// system time from its stat line (whole clock ticks, 10 ms as a rule).
qint64 cpuNs(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    qint64 sum = 0;
    int threads = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!schedstat.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 ns = schedstat.readAll().split(' ').value(0).toLongLong(&ok);
        if (ok) {
            sum += ns;
            ++threads;
        }
    }
    if (threads > 0)
        return sum;
    const qint64 ticks = cpuTicks(pid);
    return ticks < 0 ? -1 : ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

// User plus system CPU time of a process in clock ticks, -1 when unreadable.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name is in parentheses and may hold blanks: fields are
    // counted from after its closing one (state is field 3, utime 14, stime 15).
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of the measured window."),
                      QStringLiteral("S"), QStringLiteral("60")});
    parser.addOption({QStringLiteral("settle"),
                      QStringLiteral("Seconds the console runs before the window starts."),
                      QStringLiteral("S"), QStringLiteral("6")});
    parser.addOption({QStringLiteral("bin"),
                      QStringLiteral("Folder of orvanite-hostsim and orvanite-console."),
                      QStringLiteral("DIR"), QCoreApplication::applicationDirPath()});
    parser.process(app);
    const double seconds = std::max(1.0, parser.value(QStringLiteral("seconds")).toDouble());
    const double settle = std::max(0.0, parser.value(QStringLiteral("settle")).toDouble());
    const QString bin = parser.value(QStringLiteral("bin"));

    QProcess sim;
    const quint16 simPort = startHostsim(sim, bin + QStringLiteral("/orvanite-hostsim"),
                                         {QStringLiteral("--demo")}, 10000);
    if (simPort == 0)
        return 1;

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("idle.hcf"));
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = simPort;
    settings.RefreshInterval = 5000;
    std::mt19937 rng(1);
    if (const QString error = SaveConfigFile(config, settings, rng); !error.isEmpty()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(config), qPrintable(error));
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess console;
    console.setProcessEnvironment(env);
    console.setStandardOutputFile(QProcess::nullDevice());
    console.setStandardErrorFile(QProcess::nullDevice());
    console.start(bin + QStringLiteral("/orvanite-console"), {config});
    if (!console.waitForStarted(5000)) {
        std::fprintf(stderr, "orvanite-console did not start\n");
        return 1;
    }
    const qint64 pid = console.processId();
    std::this_thread::sleep_for(std::chrono::duration<double>(settle));
    const qint64 before = cpuNs(pid);
    QElapsedTimer window;
    window.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const qint64 after = cpuNs(pid);
    const double elapsed = double(window.nsecsElapsed()) / 1e9;
    const bool running = console.state() == QProcess::Running && after >= 0;

    console.terminate();
    if (!console.waitForFinished(5000)) {
        console.kill();
        console.waitForFinished(5000);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    if (before < 0 || !running) {
        std::fprintf(stderr, "orvanite-console ended before the window closed\n");
        return 1;
    }

    const double cpuMs = double(after - before) / 1e6;
    const double perMinute = cpuMs * 60.0 / elapsed;
    std::printf("orvanite-console on the demo host, 5 s refresh: %.1f ms CPU in %.1f s, "
                "%.1f ms per minute\n",
                cpuMs, elapsed, perMinute);
    std::printf("{\"benchmark\":\"idle_cpu\",\"window_s\":%.1f,\"cpu_ms\":%.1f,"
                "\"cpu_ms_per_minute\":%.1f,\"goal_cpu_ms_per_minute\":20}\n",
                elapsed, cpuMs, perMinute);
    return 0;
}
