// One scrape of N simulated hosts (one listener of P processes each, so one
// list of P records per host) through the orvanite-exporter program, timed
// end to end with the exporter's CPU time; then the same N lists read by
// orvanite-ctl, one program run after another, as a script would. With
// --collect-processes the exporter serves one series per process as well
// (100,000 of them for 100 hosts of 1,000). The simulators run on a thread of
// their own in this process. Prints one JSON line.
#include "../common/BenchExporter.h"
#include "../common/BenchFigures.h"
#include "../common/BenchProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Options
{
    int hosts = 1;
    int processes = 0;
    int runs = 1;
    bool collectProcesses = false;
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("hosts"), QStringLiteral("Simulated hosts."),
                      QStringLiteral("N"), QStringLiteral("100")});
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of each host."),
                      QStringLiteral("N"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Scrapes timed after the first."),
                      QStringLiteral("N"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("collect-processes"),
                      QStringLiteral("Serve one series per process (--collect.processes).")});
    parser.process(app);
    Options options;
    options.hosts = std::max(1, parser.value(QStringLiteral("hosts")).toInt());
    options.processes = std::max(0, parser.value(QStringLiteral("processes")).toInt());
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.collectProcesses = parser.isSet(QStringLiteral("collect-processes"));
    return options;
}

// One scrape, finished; the caller deletes the reply.
QNetworkReply* scrape(QNetworkAccessManager& network, const QNetworkRequest& request)
{
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply;
}

struct Timing
{
    double wallMs = 0, cpuMs = 0; // the exporter's CPU time
};

Timing timeScrape(QNetworkAccessManager& network, const QNetworkRequest& request, qint64 pid)
{
    const qint64 cpuBefore = processCpuNs(pid);
    QElapsedTimer clock;
    clock.start();
    scrape(network, request)->deleteLater();
    return {double(clock.nsecsElapsed()) / 1e6, double(processCpuNs(pid) - cpuBefore) / 1e6};
}

struct Counts
{
    int hostsUp = 0;
    qint64 processSeries = 0;
    qint64 bytes = 0;
};

Counts countSeries(QNetworkAccessManager& network, const QNetworkRequest& request)
{
    QNetworkReply* reply = scrape(network, request);
    Counts counts;
    const QByteArray text = reply->readAll();
    counts.bytes = text.size();
    for (const QByteArray& l : text.split('\n')) {
        if (l.startsWith("orvanite_up{") && l.endsWith(" 1"))
            ++counts.hostsUp;
        else if (l.startsWith("orvanite_process_cpu_seconds_total{"))
            ++counts.processSeries;
    }
    reply->deleteLater();
    return counts;
}

// The same lists, one orvanite-ctl run per host, one after another: the
// time they all took.
double timeCtlSequential(const QString& bin, const std::vector<quint16>& ports, int& failures)
{
    QElapsedTimer clock;
    clock.start();
    for (quint16 port : ports) {
        QProcess ctl;
        ctl.setStandardOutputFile(QProcess::nullDevice());
        ctl.start(bin + QStringLiteral("/orvanite-ctl"),
                  {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                   QString::number(port), QStringLiteral("processes"), QStringLiteral("1000")});
        if (!ctl.waitForFinished(60000) || ctl.exitCode() != 0)
            ++failures;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);
    const QString bin = QCoreApplication::applicationDirPath();

    SimThread sims;
    std::vector<quint16> ports;
    QTemporaryDir dir;
    for (int i = 0; i < options.hosts; ++i) {
        ports.push_back(sims.add([&](HostSim& sim) {
            sim.Listeners = {{"1000", "30002", "CNDSRVR", "8", "0", {}}};
            sim.populate(options.processes);
            sim.setPrepared(true);
        }));
        if (ports.back() == 0) {
            std::fprintf(stderr, "bench-exporter-scrape: a simulator could not listen\n");
            return 1;
        }
        if (!writeExporterHostFile(
                dir.filePath(QStringLiteral("host%1.hcf").arg(i, 3, 10, QLatin1Char('0'))),
                ports.back()))
            return 1;
    }
    QProcess exporter;
    QStringList more;
    if (options.collectProcesses)
        more << QStringLiteral("--collect.processes") << QStringLiteral("--collect.processes.limit")
             << QString::number(options.processes);
    const quint16 port = startExporter(exporter, bin, dir.path(), more, "bench-exporter-scrape");
    if (port == 0)
        return 1;

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)));
    request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", "10");
    const Timing first = timeScrape(network, request, exporter.processId());
    std::vector<double> walls, cpus;
    for (int run = 0; run < options.runs; ++run) {
        const Timing t = timeScrape(network, request, exporter.processId());
        walls.push_back(t.wallMs);
        cpus.push_back(t.cpuMs);
    }
    const Counts counts = countSeries(network, request);
    const int hostsUp = counts.hostsUp;
    exporter.terminate();
    exporter.waitForFinished(10000);

    int ctlFailures = 0;
    const double ctlMs = timeCtlSequential(bin, ports, ctlFailures);
    const double scrapeMs = medianOf(walls);
    std::printf("{\"hosts\": %d, \"processes_per_host\": %d, \"collect_processes\": %s, "
                "\"process_series\": %lld, \"scrape_bytes\": %lld, \"hosts_up\": %d, "
                "\"first_scrape_ms\": %.1f, \"first_scrape_cpu_ms\": %.1f, "
                "\"scrape_median_ms\": %.1f, \"scrape_cpu_median_ms\": %.1f, "
                "\"ctl_sequential_ms\": %.1f, \"ctl_failures\": %d, \"speedup\": %.1f, "
                "\"speedup_first\": %.1f, "
                "\"goal_scrape_median_ms\": 2000, \"goal_speedup\": 10}\n",
                options.hosts, options.processes, options.collectProcesses ? "true" : "false",
                qlonglong(counts.processSeries), qlonglong(counts.bytes), hostsUp, first.wallMs,
                first.cpuMs, scrapeMs, medianOf(cpus), ctlMs, ctlFailures,
                ctlMs / std::max(scrapeMs, 0.001), ctlMs / std::max(first.wallMs, 0.001));
    const bool seriesWhole =
        !options.collectProcesses ||
        counts.processSeries == qint64(options.hosts) * qint64(options.processes);
    return hostsUp == options.hosts && ctlFailures == 0 && seriesWhole ? 0 : 1;
}
