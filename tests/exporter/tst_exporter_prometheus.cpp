// The whole chain on loopback: two simulated hosts (one refusing the logon),
// the orvanite-exporter program, and a real Prometheus server scraping it
// every second; the values are read back through Prometheus's query API.
#include "config/ConfigFile.h"

#include "hostsim/HostSim.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <map>

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace

class TestExporterPrometheus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void prometheusSeesEveryHost();

private:
    // host -> value of every series of a query's instant vector; keyed by
    // the labels asked for.
    std::map<QString, double> query(quint16 port, const QString& expr, const QString& key);

    QNetworkAccessManager m_network;
};

std::map<QString, double> TestExporterPrometheus::query(quint16 port, const QString& expr,
                                                        const QString& key)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(port));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("query"), expr);
    url.setQuery(q);
    QNetworkReply* reply = m_network.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(5000);
    reply->deleteLater();
    std::map<QString, double> values;
    const QJsonObject doc = QJsonDocument::fromJson(reply->readAll()).object();
    for (const QJsonValue& item : doc[QStringLiteral("data")][QStringLiteral("result")].toArray()) {
        const QJsonObject metric = item[QStringLiteral("metric")].toObject();
        QString name;
        for (const QString& part : key.split(u','))
            name += metric[part].toString() + u' ';
        values[name.trimmed()] =
            item[QStringLiteral("value")].toArray().at(1).toString().toDouble();
    }
    return values;
}

void TestExporterPrometheus::prometheusSeesEveryHost()
{
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (prometheus.isEmpty())
        QSKIP("prometheus is not installed (scripts/setup.sh installs it)");
    const QString exporterPath =
        qEnvironmentVariable("ORV_BIN_DIR") + QStringLiteral("/orvanite-exporter");
    QVERIFY2(QFile::exists(exporterPath), qPrintable(exporterPath));

    HostSim good, refusing;
    good.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}},
                      {"12", "30002", "CNDSRVR", "8", "40", {}},
                      {"13", "30005", "QRYSRVR", "5", "0", {}}};
    good.Processes = {{"11", "11", "101", "PCLXFER", "ANN", 1500, 0, {}},
                      {"11", "11", "102", "PCLXFER", "BOB", 250, 0, {}},
                      {"12", "12", "201", "CND", "CAT", 10, 2, {}}};
    refusing.Listeners = good.Listeners;
    refusing.Credentials[0] = "SOMEONE";
    QVERIFY(good.listen());
    QVERIFY(refusing.listen());
    const QString goodHost = QStringLiteral("127.0.0.1:%1").arg(good.serverPort());
    const QString refusingHost = QStringLiteral("127.0.0.1:%1").arg(refusing.serverPort());

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const HostSim* sim : {&good, &refusing}) {
        ConnectionSettings s;
        s.HostAddress = "127.0.0.1";
        s.Port = sim->serverPort();
        QFile file(dir.filePath(QStringLiteral("%1.hcf").arg(sim->serverPort())));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ConfigLine(s, '5'));
    }

    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(exporterPath, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--config-dir"), dir.path()});
    QVERIFY(exporter.waitForStarted());
    // The simulators live in this process: wait with the event loop running.
    QTRY_VERIFY_WITH_TIMEOUT(exporter.canReadLine(), 10000);
    const QByteArray line = exporter.readLine();
    const qsizetype colon = line.indexOf(':');
    const quint16 exporterPort = line.mid(colon + 1).split(',').first().toUShort();
    QVERIFY2(exporterPort != 0, line.constData());

    quint16 prometheusPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        prometheusPort = probe.serverPort();
    }
    QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                "scrape_configs:\n  - job_name: orvanite\n    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(exporterPort)
                     .toUtf8());
    config.close();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(prometheus,
                 {QStringLiteral("--config.file=") + config.fileName(),
                  QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("tsdb")),
                  QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort),
                  QStringLiteral("--log.level=warn")});
    QVERIFY(server.waitForStarted());

    // Prometheus starts, then scrapes at some point within its first interval.
    std::map<QString, double> up;
    const QDeadlineTimer deadline(45000);
    while (!deadline.hasExpired() && server.state() == QProcess::Running) {
        up = query(prometheusPort, QStringLiteral("orvanite_up"), QStringLiteral("host"));
        if (up.size() == 2)
            break;
        QTest::qWait(200); // polling Prometheus, bounded by the deadline
    }
    const QByteArray serverLog = server.readAll();
    QVERIFY2(up.size() == 2, serverLog.constData());
    QCOMPARE(up[goodHost], 1.0);
    QCOMPARE(up[refusingHost], 0.0);

    const std::map<QString, double> processes = query(
        prometheusPort, QStringLiteral("orvanite_listener_processes"), QStringLiteral("host,pin"));
    const std::map<QString, double> expected = {{goodHost + QStringLiteral(" 11"), 2},
                                                {goodHost + QStringLiteral(" 12"), 1},
                                                {goodHost + QStringLiteral(" 13"), 0}};
    QCOMPARE(processes, expected);
    const std::map<QString, double> refused =
        query(prometheusPort,
              QStringLiteral("orvanite_collect_errors_total{reason=\"logon_refused\"} > 0"),
              QStringLiteral("host"));
    QCOMPARE(refused.size(), size_t(1));
    QVERIFY(refused.count(refusingHost) == 1);

    stop(server);
    stop(exporter);
    QCOMPARE(exporter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(exporter.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestExporterPrometheus)
#include "tst_exporter_prometheus.moc"
