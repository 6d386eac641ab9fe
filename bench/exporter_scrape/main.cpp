// One scrape of N simulated hosts (one listener of P processes each, so one
// list of P records per host) through the orvanite-exporter program, timed
// end to end with the exporter's CPU time; then the same N lists read by
// orvanite-ctl, one program run after another, as a script would. The
// simulators run on a thread of their own in this process. Prints one JSON
// line.
#include "config/ConfigFile.h"

#include "../common/BenchProcess.h"

#include "hostsim/HostSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("hosts"), QStringLiteral("Simulated hosts."),
                      QStringLiteral("N"), QStringLiteral("100")});
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of each host."),
                      QStringLiteral("N"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Scrapes timed after the first."),
                      QStringLiteral("N"), QStringLiteral("5")});
    parser.process(app);
    const int hostCount = std::max(1, parser.value(QStringLiteral("hosts")).toInt());
    const int processCount = std::max(0, parser.value(QStringLiteral("processes")).toInt());
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const QString bin = QCoreApplication::applicationDirPath();

    // The hosts, on their own thread so that they answer while this one waits.
    QThread simThread;
    simThread.start();
    QObject simContext;
    simContext.moveToThread(&simThread);
    std::vector<std::unique_ptr<HostSim>> sims(static_cast<size_t>(hostCount));
    std::vector<quint16> ports(static_cast<size_t>(hostCount));
    bool listening = true;
    QMetaObject::invokeMethod(
        &simContext,
        [&] {
            for (int i = 0; i < hostCount; ++i) {
                auto sim = std::make_unique<HostSim>();
                sim->Listeners = {{"1000", "30002", "CNDSRVR", "8", "0", {}}};
                sim->populate(processCount);
                sim->setPrepared(true);
                listening = listening && sim->listen();
                ports[size_t(i)] = sim->serverPort();
                sims[size_t(i)] = std::move(sim);
            }
        },
        Qt::BlockingQueuedConnection);
    const auto cleanUp = [&] {
        QMetaObject::invokeMethod(
            &simContext, [&] { sims.clear(); }, Qt::BlockingQueuedConnection);
        simThread.quit();
        simThread.wait();
    };
    if (!listening) {
        std::fprintf(stderr, "bench-exporter-scrape: a simulator could not listen\n");
        cleanUp();
        return 1;
    }

    QTemporaryDir dir;
    for (int i = 0; i < hostCount; ++i) {
        ConnectionSettings s;
        s.HostAddress = "127.0.0.1";
        s.Port = ports[size_t(i)];
        QFile file(dir.filePath(QStringLiteral("host%1.hcf").arg(i, 3, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(ConfigLine(s, '5')) < 0)
            return 1;
    }

    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(bin + QStringLiteral("/orvanite-exporter"),
                   {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                    QStringLiteral("--config-dir"), dir.path()});
    if (!exporter.waitForStarted() || !exporter.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench-exporter-scrape: orvanite-exporter did not start\n");
        cleanUp();
        return 1;
    }
    const QByteArray line = exporter.readLine();
    const quint16 port = line.mid(line.indexOf(':') + 1).split(',').first().toUShort();

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)));
    request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", "10");
    int hostsUp = 0;
    const auto scrape = [&](double& wallMs, double& cpuMs) {
        const qint64 cpuBefore = processCpuNs(exporter.processId());
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = network.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        wallMs = double(clock.nsecsElapsed()) / 1e6;
        cpuMs = double(processCpuNs(exporter.processId()) - cpuBefore) / 1e6;
        reply->deleteLater();
    };

    double firstWall = 0, firstCpu = 0;
    scrape(firstWall, firstCpu);
    std::vector<double> walls, cpus;
    for (int run = 0; run < runs; ++run) {
        double wall = 0, cpu = 0;
        scrape(wall, cpu);
        walls.push_back(wall);
        cpus.push_back(cpu);
    }
    {
        QNetworkReply* reply = network.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        for (const QByteArray& l : reply->readAll().split('\n'))
            if (l.startsWith("orvanite_up{") && l.endsWith(" 1"))
                ++hostsUp;
        reply->deleteLater();
    }
    exporter.terminate();
    exporter.waitForFinished(10000);

    // The same lists, one orvanite-ctl run per host, one after another.
    QElapsedTimer clock;
    clock.start();
    int ctlFailures = 0;
    for (int i = 0; i < hostCount; ++i) {
        QProcess ctl;
        ctl.setStandardOutputFile(QProcess::nullDevice());
        ctl.start(bin + QStringLiteral("/orvanite-ctl"),
                  {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                   QString::number(ports[size_t(i)]), QStringLiteral("processes"),
                   QStringLiteral("1000")});
        if (!ctl.waitForFinished(60000) || ctl.exitCode() != 0)
            ++ctlFailures;
    }
    const double ctlMs = double(clock.nsecsElapsed()) / 1e6;
    cleanUp();

    const double scrapeMs = median(walls);
    std::printf("{\"hosts\": %d, \"processes_per_host\": %d, \"hosts_up\": %d, "
                "\"first_scrape_ms\": %.1f, \"first_scrape_cpu_ms\": %.1f, "
                "\"scrape_median_ms\": %.1f, \"scrape_cpu_median_ms\": %.1f, "
                "\"ctl_sequential_ms\": %.1f, \"ctl_failures\": %d, \"speedup\": %.1f, "
                "\"speedup_first\": %.1f, "
                "\"goal_scrape_median_ms\": 2000, \"goal_speedup\": 10}\n",
                hostCount, processCount, hostsUp, firstWall, firstCpu, scrapeMs, median(cpus),
                ctlMs, ctlFailures, ctlMs / std::max(scrapeMs, 0.001),
                ctlMs / std::max(firstWall, 0.001));
    return hostsUp == hostCount && ctlFailures == 0 ? 0 : 1;
}
