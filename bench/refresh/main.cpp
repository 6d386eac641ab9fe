// Times a full refresh (listener list, then the process list of the one
// listener) of the console's main window against orvanite-hostsim holding
// N processes, run as its own program (or in process with --in-process),
// encoding each list per request or, with --prepared, sending it ready-made.
// Prints the median wall time, each run and the peak resident memory, then
// the same as one JSON line.

#include "../common/BenchPrompts.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/MainWindow.h"
#include "hostsim/HostSim.h"
#include "session/HostSession.h"
#include "session/ProcessTableModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

ConnectionSettings simSettingsFor(quint16 port)
{
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = port;
    return settings;
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of the listener."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Timed refreshes."),
                      QStringLiteral("N"), QStringLiteral("9")});
    parser.addOption(
        {QStringLiteral("hostsim"), QStringLiteral("Path of orvanite-hostsim."),
         QStringLiteral("PATH"),
         QCoreApplication::applicationDirPath() + QStringLiteral("/orvanite-hostsim")});
    parser.addOption(
        {QStringLiteral("in-process"), QStringLiteral("Run the simulator inside this program.")});
    parser.addOption({QStringLiteral("prepared"),
                      QStringLiteral("The simulator sends each list as one prepared block.")});
    parser.process(app);
    const int processes = parser.value(QStringLiteral("processes")).toInt();
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const bool inProcess = parser.isSet(QStringLiteral("in-process"));
    const bool prepared = parser.isSet(QStringLiteral("prepared"));

    std::unique_ptr<HostSim> sim;
    QProcess simProcess;
    quint16 port = 0;
    if (inProcess) {
        sim = std::make_unique<HostSim>();
        sim->Listeners = {SimListener{"1000", "30002", "CNDSRVR", "8", "0", {}}};
        sim->populate(processes);
        sim->setPrepared(prepared);
        if (!sim->listen()) {
            std::fprintf(stderr, "cannot listen: %s\n", qPrintable(sim->errorString()));
            return 1;
        }
        port = sim->serverPort();
    } else {
        simProcess.setProcessChannelMode(QProcess::SeparateChannels);
        simProcess.setStandardErrorFile(QProcess::nullDevice());
        QStringList arguments{QStringLiteral("--port"),      QStringLiteral("0"),
                              QStringLiteral("--processes"), QString::number(processes),
                              QStringLiteral("--listeners"), QStringLiteral("1")};
        if (prepared)
            arguments.append(QStringLiteral("--prepared"));
        simProcess.start(parser.value(QStringLiteral("hostsim")), arguments);
        if (!simProcess.waitForStarted(5000) || !simProcess.waitForReadyRead(120000)) {
            std::fprintf(stderr, "orvanite-hostsim did not start\n");
            return 1;
        }
        const QString line = QString::fromLatin1(simProcess.readLine());
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("listening on [^:]+:(\\d+)")).match(line);
        if (!m.hasMatch()) {
            std::fprintf(stderr, "unexpected first line: %s\n", qPrintable(line));
            return 1;
        }
        port = quint16(m.captured(1).toUInt());
    }

    PrintingPrompts prompts;
    NoEventLog log;
    const long rssBefore = PeakRssKiB();
    // A settings store of its own: nothing remembered from an operator's runs.
    QTemporaryDir settingsDir;
    MainWindow window({&prompts,
                       &log,
                       {},
                       {},
                       QCoreApplication::applicationFilePath(),
                       settingsDir.filePath(QStringLiteral("console.ini"))});
    HostController* host = window.host(0)->controller();
    ConnectionSettings settings = simSettingsFor(port);
    settings.RefreshInterval = 60000;
    host->setSettings(settings);
    HostSession* session = host->session();
    window.show();
    QElapsedTimer connectTimer;
    connectTimer.start();
    while (host->isBusy() && !host->isClosing()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (connectTimer.elapsed() > 60000) {
            std::fprintf(stderr, "no connection\n");
            return 1;
        }
    }
    const int rows = session->processes()->rows();
    if (rows != processes) {
        std::fprintf(stderr, "expected %d process rows, got %d\n", processes, rows);
        return 1;
    }

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        session->refresh();
        while (session->isBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        // The rows reach the view and the window is painted.
        QCoreApplication::processEvents();
        window.repaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (session->processes()->rows() != processes) {
            std::fprintf(stderr, "run %d: %d rows\n", i, session->processes()->rows());
            return 1;
        }
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const long peak = PeakRssKiB();

    QTextStream out(stdout);
    out << "refresh of " << processes << " processes (" << (inProcess ? "in-process" : "separate")
        << (prepared ? " prepared" : "") << " hostsim, " << runs << " runs)\n";
    out << "  median " << QString::number(median, 'f', 1) << " ms, min "
        << QString::number(sorted.front(), 'f', 1) << " ms, max "
        << QString::number(sorted.back(), 'f', 1) << " ms\n";
    out << "  peak RSS " << QString::number(peak / 1024.0, 'f', 1) << " MiB (before the window "
        << QString::number(rssBefore / 1024.0, 'f', 1) << " MiB)\n";
    QStringList each;
    for (double t : times)
        each.append(QString::number(t, 'f', 2));
    out << "{\"benchmark\":\"refresh_processes\",\"processes\":" << processes << ",\"hostsim\":\""
        << (inProcess ? "in-process" : "separate")
        << "\",\"prepared\":" << (prepared ? "true" : "false") << ",\"runs\":" << runs
        << ",\"median_ms\":" << QString::number(median, 'f', 2) << ",\"runs_ms\":["
        << each.join(QLatin1Char(','))
        << "],\"peak_rss_mib\":" << QString::number(peak / 1024.0, 'f', 1)
        << ",\"goal_ms\":100,\"goal_rss_mib\":150}\n";
    out.flush();

    window.close();
    if (!inProcess) {
        simProcess.terminate();
        simProcess.waitForFinished(5000);
    }
    return 0;
}
