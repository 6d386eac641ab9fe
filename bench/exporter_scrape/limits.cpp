// orvanite-exporter under long use and idle clients. 1,000 scrapes of two
// hosts, one of them refusing every logon: the exporter's resident memory
// after the first 100 and after all, and the time per scrape. Then 1,000
// connections opened and left idle: scrapes are still answered, the
// exporter's CPU time while they are held, how many it keeps open, and how
// long until every one has been closed by its idle time (set short here).
// The simulators run on a thread of their own. Prints one JSON line.
#include "../common/BenchExporter.h"
#include "../common/BenchFigures.h"
#include "../common/BenchProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Resident memory in KiB.
qint64 rssKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

// Runs the event loop until done() or ms pass; returns done().
template <typename Done> bool waitUntil(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

struct Scraper
{
    QNetworkAccessManager network;
    QNetworkRequest request;

    explicit Scraper(quint16 port)
        : request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)))
    {
        request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", "10");
    }
    // The wall time in ms, or -1 when the answer was not 200.
    double scrape()
    {
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = network.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const bool ok = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
        reply->deleteLater();
        return ok ? double(clock.nsecsElapsed()) / 1e6 : -1;
    }
};

struct Figures
{
    qint64 rssAfter100 = 0, rssAfterAll = 0;
    double scrapeMedianMs = 0, scrapeMaxMs = 0;
    int scrapesFailed = 0;
    int idleOpened = 0, idleScrapesOk = 0, keptOpen = 0;
    double idleCpuMsPerSecond = 0, closedAfterMs = -1, idleScrapeMedianMs = 0;
};

void soak(Scraper& scraper, qint64 pid, int scrapes, Figures& f)
{
    std::vector<double> times;
    for (int i = 0; i < scrapes; ++i) {
        const double ms = scraper.scrape();
        if (ms < 0)
            ++f.scrapesFailed;
        else
            times.push_back(ms);
        if (i == 99)
            f.rssAfter100 = rssKiB(pid);
    }
    f.rssAfterAll = rssKiB(pid);
    f.scrapeMedianMs = medianOf(times);
    f.scrapeMaxMs = times.empty() ? 0 : *std::max_element(times.begin(), times.end());
}

void idleClients(Scraper& scraper, quint16 port, qint64 pid, int count, int idleMs, Figures& f)
{
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < count; ++i) {
        auto& s = idle.emplace_back(std::make_unique<QTcpSocket>());
        s->connectToHost(QHostAddress::LocalHost, port);
        if (s->waitForConnected(5000))
            ++f.idleOpened;
    }
    const auto open = [&] {
        return int(std::count_if(idle.begin(), idle.end(), [](const auto& s) {
            return s->state() == QAbstractSocket::ConnectedState;
        }));
    };
    std::vector<double> times;
    const qint64 cpuBefore = processCpuNs(pid);
    QElapsedTimer window;
    window.start();
    for (int i = 0; i < 10; ++i) {
        const double ms = scraper.scrape();
        if (ms >= 0) {
            ++f.idleScrapesOk;
            times.push_back(ms);
        }
    }
    // The idle clients held a while longer, with nothing asked.
    waitUntil([] { return false; }, std::max(0, idleMs / 2 - int(window.elapsed())));
    f.idleCpuMsPerSecond = double(processCpuNs(pid) - cpuBefore) / 1e6 /
                           std::max(0.001, double(window.elapsed()) / 1000);
    f.idleScrapeMedianMs = medianOf(times);
    f.keptOpen = open();
    QElapsedTimer clock;
    clock.start();
    if (waitUntil([&] { return open() == 0; }, idleMs * 3 + 5000))
        f.closedAfterMs = double(clock.elapsed());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("scrapes"), QStringLiteral("Scrapes in a row."),
                      QStringLiteral("N"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("idle"), QStringLiteral("Idle connections opened."),
                      QStringLiteral("N"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("idle-seconds"),
                      QStringLiteral("The exporter's idle time for this run."), QStringLiteral("S"),
                      QStringLiteral("3")});
    parser.process(app);
    const int scrapes = std::max(100, parser.value(QStringLiteral("scrapes")).toInt());
    const int idleCount = std::max(1, parser.value(QStringLiteral("idle")).toInt());
    const int idleMs = std::max(1, parser.value(QStringLiteral("idle-seconds")).toInt()) * 1000;

    // Two hosts: one live, one refusing every logon.
    SimThread sims;
    const quint16 livePort = sims.add([](HostSim& sim) {
        sim.Listeners = {{"1000", "30002", "CNDSRVR", "8", "0", {}}};
        sim.populate(100);
    });
    const quint16 refusingPort = sims.add([](HostSim& sim) { sim.Credentials[0] = "SOMEONE"; });
    if (livePort == 0 || refusingPort == 0)
        return 1;
    QTemporaryDir dir;
    for (const quint16 hostPort : {livePort, refusingPort})
        if (!writeExporterHostFile(dir.filePath(QStringLiteral("%1.hcf").arg(hostPort)), hostPort))
            return 1;
    QProcess exporter;
    const quint16 port =
        startExporter(exporter, QCoreApplication::applicationDirPath(), dir.path(),
                      {QStringLiteral("--web.idle-timeout"), QString::number(idleMs / 1000)},
                      "bench-exporter-limits");
    if (port == 0)
        return 1;

    Figures f;
    Scraper scraper(port);
    soak(scraper, exporter.processId(), scrapes, f);
    idleClients(scraper, port, exporter.processId(), idleCount, idleMs, f);
    exporter.terminate();
    exporter.waitForFinished(10000);

    std::printf("{\"scrapes\": %d, \"scrapes_failed\": %d, \"rss_after_100_kib\": %lld, "
                "\"rss_after_all_kib\": %lld, \"scrape_median_ms\": %.2f, \"scrape_max_ms\": %.1f, "
                "\"idle_opened\": %d, \"idle_scrapes_ok\": %d, \"idle_scrape_median_ms\": %.2f, "
                "\"idle_cpu_ms_per_s\": %.1f, \"idle_kept_open\": %d, \"idle_seconds\": %d, "
                "\"idle_closed_after_ms\": %.0f, \"goal_rss_growth_kib\": 2048, "
                "\"goal_idle_cpu_ms_per_s\": 50}\n",
                scrapes, f.scrapesFailed, qlonglong(f.rssAfter100), qlonglong(f.rssAfterAll),
                f.scrapeMedianMs, f.scrapeMaxMs, f.idleOpened, f.idleScrapesOk,
                f.idleScrapeMedianMs, f.idleCpuMsPerSecond, f.keptOpen, idleMs / 1000,
                f.closedAfterMs);
    return f.scrapesFailed == 0 && f.idleScrapesOk == 10 && f.closedAfterMs >= 0 ? 0 : 1;
}
