// How much CPU the console uses while the operator only watches: starts
// orvanite-hostsim --demo and the real orvanite-console (offscreen) on a
// configuration file with a 5-second refresh, lets the console settle, then
// reads its CPU time from /proc before and after a window of
// --seconds (60 by default) and reports it as milliseconds per minute.
// Prints the figure, then one JSON line.

#include "../common/BenchConfig.h"
#include "../common/BenchHostsim.h"
#include "../common/BenchProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>
#include <thread>

namespace {

struct Options
{
    double seconds = 1;
    double settle = 0;
    QString bin;
};

Options parseOptions(const QCoreApplication& app)
{
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
    Options options;
    options.seconds = std::max(1.0, parser.value(QStringLiteral("seconds")).toDouble());
    options.settle = std::max(0.0, parser.value(QStringLiteral("settle")).toDouble());
    options.bin = parser.value(QStringLiteral("bin"));
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto [seconds, settle, bin] = parseOptions(app);

    QProcess sim;
    const quint16 simPort = startHostsim(sim, bin + QStringLiteral("/orvanite-hostsim"),
                                         {QStringLiteral("--demo")}, 10000);
    if (simPort == 0)
        return 1;

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("idle.hcf"));
    std::mt19937 rng(1);
    if (!writeHostFile(config, simPort, 5000, rng))
        return 1;

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
    const qint64 before = processCpuNs(pid);
    QElapsedTimer window;
    window.start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const qint64 after = processCpuNs(pid);
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
