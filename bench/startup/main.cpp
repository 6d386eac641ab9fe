// Times the console's start-up: from the start of a program until its
// listener table holds the host's 10 listeners, against orvanite-hostsim
// (--processes 100 --listeners 10) and a configuration file naming it.
//
// Two figures, each the median of several fresh processes:
//  - window: this program, re-run as a child, creates the windows as the
//    program entry does (main window with the configuration file as its
//    argument and its dialogs, About box), shows the main window and stops
//    the clock when the first connection has filled the listener table (its
//    "KELD32 002" progress
//    caption, which follows the listener refresh). Messages are printed and
//    the event-log entries dropped instead of going to the system.
//  - program: the real orvanite-console started with the configuration file;
//    the clock stops when the simulator logs the process request, which the
//    console sends only once the listener list has been read into the table.
// The clock starts just before the process is started (CLOCK_MONOTONIC, which
// is the same in every process). Prints both, then one JSON line.

#include "../common/BenchConfig.h"
#include "../common/BenchFigures.h"
#include "../common/BenchHostsim.h"
#include "../common/BenchPrompts.h"
#include "app/AboutBox.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/MainWindow.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

namespace {

constexpr int Listeners = 10;

// The child: the windows as the program entry makes them, timed from the
// parent's clock reading t0 until the listener table is filled.
int RunChild(QApplication& app, const QString& config, qint64 t0)
{
    QApplication::setApplicationName(QStringLiteral("Orvanite Server Console"));
    const QString programPath = QCoreApplication::applicationFilePath();
    PrintingPrompts prompts;
    NoEventLog log;
    MainWindow::Environment environment;
    environment.prompts = &prompts;
    environment.eventLog = &log;
    environment.arguments = QStringList{config};
    environment.programPath = programPath;
    QTemporaryDir settingsDir; // nothing remembered from an operator's runs
    environment.settingsFile = settingsDir.filePath(QStringLiteral("console.ini"));

    MainWindow mainWindow(environment);
    HostController* host = mainWindow.host(0)->controller();
    auto* aboutBox = new AboutBox(programPath, &mainWindow);
    aboutBox->setCountdown(3000);
    aboutBox->setVersionText(QStringLiteral("Version: 2.0 32-bit"));
    mainWindow.setWindowTitle(QStringLiteral("Orvanite Server Console 32-bit"));

    std::optional<qint64> filled;
    int rows = 0;
    QObject::connect(&mainWindow, &QWidget::windowTitleChanged, &app, [&](const QString& title) {
        // The listener refresh of the first connection has just ended.
        if (!filled && title == QStringLiteral("KELD32 002")) {
            filled = monotonicNs();
            rows = host->session()->listeners()->rows();
        }
    });
    mainWindow.show();
    QElapsedTimer guard;
    guard.start();
    while (!filled || host->isBusy()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (guard.elapsed() > 30000 || host->isClosing()) {
            std::fprintf(stderr, "the listener table was not filled\n");
            return 1;
        }
    }
    if (rows != Listeners) {
        std::fprintf(stderr, "expected %d listener rows, got %d\n", Listeners, rows);
        return 1;
    }
    std::printf("filled_ms %.3f\n", double(*filled - t0) / 1e6);
    std::fflush(stdout);
    mainWindow.close();
    return 0;
}

struct Options
{
    int runs = 1;
    QString bin;
    bool child = false; // one timed start-up in this process, with childConfig
    QString childConfig;
    qint64 t0 = 0;
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Start-ups timed of each kind."),
                      QStringLiteral("N"), QStringLiteral("7")});
    parser.addOption({QStringLiteral("bin"),
                      QStringLiteral("Folder of orvanite-hostsim and "
                                     "orvanite-console."),
                      QStringLiteral("DIR"), QCoreApplication::applicationDirPath()});
    parser.addOption({QStringLiteral("child"),
                      QStringLiteral("(internal) Run one timed start-up "
                                     "with this configuration file."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("t0"), QStringLiteral("(internal) Start of the clock."),
                      QStringLiteral("NS")});
    parser.process(app);
    Options options;
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.bin = parser.value(QStringLiteral("bin"));
    options.child = parser.isSet(QStringLiteral("child"));
    options.childConfig = parser.value(QStringLiteral("child"));
    options.t0 = parser.value(QStringLiteral("t0")).toLongLong();
    return options;
}

// The windows in a fresh process of this program: the time it reports.
std::optional<double> timeWindowStartup(const QString& config, const QProcessEnvironment& env,
                                        int run)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const qint64 t0 = monotonicNs();
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), config, QStringLiteral("--t0"), QString::number(t0)});
    if (!child.waitForFinished(60000) || child.exitCode() != 0) {
        std::fprintf(stderr, "run %d: the timed start-up failed\n", run);
        return std::nullopt;
    }
    const QString out = QString::fromLatin1(child.readAllStandardOutput());
    const QRegularExpressionMatch filled =
        QRegularExpression(QStringLiteral("filled_ms ([0-9.]+)")).match(out);
    if (!filled.hasMatch()) {
        std::fprintf(stderr, "run %d: no time reported\n", run);
        return std::nullopt;
    }
    return filled.captured(1).toDouble();
}

// The program itself; the simulator's log tells when the listener list has
// been read.
std::optional<double> timeProgramStartup(QProcess& sim, const QString& console,
                                         const QString& config, const QProcessEnvironment& env,
                                         int run)
{
    sim.waitForReadyRead(50);
    sim.readAll();
    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(QProcess::nullDevice());
    const qint64 p0 = monotonicNs();
    program.start(console, {config});
    QByteArray log;
    std::optional<qint64> asked;
    QElapsedTimer guard;
    guard.start();
    while (!asked && guard.elapsed() < 30000) {
        if (!sim.waitForReadyRead(5000))
            continue;
        log += sim.readAll();
        if (log.contains(" request H"))
            asked = monotonicNs();
    }
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    if (!asked) {
        std::fprintf(stderr, "run %d: orvanite-console never asked for processes\n", run);
        return std::nullopt;
    }
    return double(*asked - p0) / 1e6;
}

void printFigures(int runs, const std::vector<double>& window, const std::vector<double>& program)
{
    const double windowMedian = medianOf(window);
    const double programMedian = medianOf(program);
    QTextStream out(stdout);
    out << "start-up to a filled listener table, " << Listeners << " listeners, " << runs
        << " runs each\n";
    out << "  main window created as the program entry does: median "
        << QString::number(windowMedian, 'f', 1) << " ms (" << joinRuns(window, 1) << ")\n";
    out << "  orvanite-console with a configuration file:    median "
        << QString::number(programMedian, 'f', 1) << " ms (" << joinRuns(program, 1) << ")\n";
    out << "{\"benchmark\":\"startup\",\"listeners\":" << Listeners << ",\"runs\":" << runs
        << ",\"startup_ms\":" << QString::number(windowMedian, 'f', 1) << ",\"runs_ms\":["
        << joinRuns(window, 1)
        << "],\"program_startup_ms\":" << QString::number(programMedian, 'f', 1)
        << ",\"program_runs_ms\":[" << joinRuns(program, 1) << "],\"goal_ms\":1000}\n";
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    const Options options = parseOptions(app);
    if (options.child)
        return RunChild(app, options.childConfig, options.t0);

    // The simulator, as its own program.
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels); // its log comes on stderr
    const quint16 simPort =
        startHostsim(sim, options.bin + QStringLiteral("/orvanite-hostsim"),
                     {QStringLiteral("--processes"), QStringLiteral("100"),
                      QStringLiteral("--listeners"), QString::number(Listeners)},
                     10000);
    if (simPort == 0)
        return 1;

    // The configuration file the console is started with.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bench.hcf"));
    std::mt19937 rng(1);
    if (!writeHostFile(config, simPort, 60000, rng))
        return 1;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    std::vector<double> window;
    std::vector<double> program;
    for (int i = 0; i < options.runs; ++i) {
        const std::optional<double> windowMs = timeWindowStartup(config, env, i);
        if (!windowMs)
            return 1;
        window.push_back(*windowMs);
        const std::optional<double> programMs = timeProgramStartup(
            sim, options.bin + QStringLiteral("/orvanite-console"), config, env, i);
        if (!programMs)
            return 1;
        program.push_back(*programMs);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    printFigures(options.runs, window, program);
    return 0;
}
