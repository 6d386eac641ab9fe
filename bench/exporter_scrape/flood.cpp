// orvanite-exporter with basic authentication under clients that try to
// stall it. An authorised scrape's wall time alone, then while 200 idle
// connections, 64 clients sending a header a byte every 2 s and 32 clients
// without the right password (half a wrong one, half none) hammer the port;
// the exporter's CPU meanwhile. Then, in this process, what checking a
// password costs for a user of cost 12, a user of cost 4 listed first, and
// an unknown user: the same as the costliest one. Prints one JSON line.
#include "../../tests/support/HttpFlood.h"
#include "../common/BenchExporter.h"
#include "../common/BenchFigures.h"
#include "../common/BenchProcess.h"
#include "exporter/BasicAuth.h"

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

// bcrypt of "s3cret" (cost 10 and 12) and of "quick" (cost 4).
const QByteArray Cost10 = "$2b$10$VI7qnXtb9wteXSb3F4agWO6ZI0SouwoahLEvBzIGM0sTiFoV8f7zm";
const QByteArray Cost12 = "$2b$12$ux9UPmz.ubxzZaL.ZGtGY.js4a2jwREZwTob22U15Caj3CmnQloc2";
const QByteArray Cost4 = "$2b$04$sWjx.mbvZjvdbUCWj3mboe1z6XRdd.zBi.K3N63JepuBKeWsCBeaO";

// Authorised scrapes, one every intervalMs: their wall times (ms) and how
// many failed.
struct Scrapes
{
    std::vector<double> ms;
    int failed = 0;
};

Scrapes scrapeRepeatedly(quint16 port, int count, int intervalMs)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)));
    request.setRawHeader("Authorization", "Basic " + QByteArray("prometheus:s3cret").toBase64());
    request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", "10");
    Scrapes out;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = network.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
            out.ms.push_back(ms);
        else
            ++out.failed;
        reply->deleteLater();
        QEventLoop pause;
        QTimer::singleShot(std::max(0, intervalMs - int(ms)), &pause, &QEventLoop::quit);
        pause.exec();
    }
    return out;
}

double maxOf(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The median ms of checking header against users, over runs.
double checkMs(const BasicAuth& users, const QByteArray& credentials, int runs)
{
    std::vector<double> times;
    const QByteArray header = "Basic " + credentials.toBase64();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        [[maybe_unused]] const bool ok = users.check(header);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return medianOf(times);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("scrapes"), QStringLiteral("Scrapes in each phase."),
                      QStringLiteral("N"), QStringLiteral("20")});
    parser.process(app);
    const int scrapes = std::max(5, parser.value(QStringLiteral("scrapes")).toInt());

    SimThread sims;
    const quint16 hostPort = sims.add([](HostSim& sim) {
        sim.Listeners = {{"1000", "30002", "CNDSRVR", "8", "0", {}}};
        sim.populate(20);
    });
    if (hostPort == 0)
        return 1;
    QTemporaryDir dir;
    if (!writeExporterHostFile(dir.filePath(QStringLiteral("h.hcf")), hostPort))
        return 1;
    QFile web(dir.filePath(QStringLiteral("web.yml")));
    if (!web.open(QIODevice::WriteOnly))
        return 1;
    web.write("basic_auth_users:\n  quick: " + Cost4 + "\n  prometheus: " + Cost10 + "\n");
    web.close();
    QProcess exporter;
    const quint16 port = startExporter(exporter, QCoreApplication::applicationDirPath(), dir.path(),
                                       {QStringLiteral("--web.config.file"), web.fileName()},
                                       "bench-exporter-flood");
    if (port == 0)
        return 1;

    const Scrapes alone = scrapeRepeatedly(port, scrapes, 250);
    std::vector<std::unique_ptr<Flood>> floods;
    floods.push_back(std::make_unique<Flood>(port, Flood::Kind::Idle, 200));
    floods.push_back(std::make_unique<Flood>(port, Flood::Kind::SlowHeader, 64));
    floods.push_back(std::make_unique<Flood>(port, Flood::Kind::BadLogin, 16));
    floods.push_back(std::make_unique<Flood>(port, Flood::Kind::NoLogin, 16));
    const qint64 cpuBefore = processCpuNs(exporter.processId());
    QElapsedTimer window;
    window.start();
    const Scrapes flooded = scrapeRepeatedly(port, scrapes, 500);
    const double cpuMsPerS = double(processCpuNs(exporter.processId()) - cpuBefore) / 1e6 /
                             std::max(0.001, double(window.elapsed()) / 1000);
    const int refusals = floods[2]->answers + floods[3]->answers;
    const int slowClosed = floods[1]->closed;
    floods.clear();
    exporter.terminate();
    exporter.waitForFinished(10000);

    const BasicAuth users({{"quick", Cost4}, {"prometheus", Cost12}});
    const double knownMs = checkMs(users, "prometheus:wrong", 5);
    const double cheapMs = checkMs(users, "quick:wrong", 5);
    const double unknownMs = checkMs(users, "nobody:wrong", 5);

    std::printf("{\"scrapes\": %d, \"alone_median_ms\": %.2f, \"alone_max_ms\": %.2f, "
                "\"alone_failed\": %d, \"flood_median_ms\": %.2f, \"flood_max_ms\": %.2f, "
                "\"flood_failed\": %d, \"flood_cpu_ms_per_s\": %.1f, \"flood_refusals\": %d, "
                "\"flood_slow_closed\": %d, \"check_cost12_ms\": %.2f, \"check_cost4_ms\": %.2f, "
                "\"check_unknown_ms\": %.2f}\n",
                scrapes, medianOf(alone.ms), maxOf(alone.ms), alone.failed, medianOf(flooded.ms),
                maxOf(flooded.ms), flooded.failed, cpuMsPerS, refusals, slowClosed, knownMs,
                cheapMs, unknownMs);
    return alone.failed == 0 && flooded.failed == 0 ? 0 : 1;
}
