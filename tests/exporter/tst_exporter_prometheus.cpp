// The whole chain on loopback: simulated hosts, the orvanite-exporter
// program, and a real Prometheus server scraping it every second, in the
// open and over TLS with basic authentication; the values are read back
// through Prometheus's query API, and curl tries the locked exporter
// without a password and with the wrong CA.
#include "config/ConfigFile.h"

#include "ExporterTestSupport.h"

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
    void initTestCase();
    void prometheusSeesEveryHost();
    void lockedExporter();
    void badWebConfigStopsStartUp();

private:
    // Starts the program with arguments; returns the port it listens on.
    quint16 startExporter(QProcess& exporter, const QStringList& arguments);
    // Starts Prometheus with one scrape job (YAML lines under "- job_name:
    // orvanite") in folder; returns its port.
    quint16 startPrometheus(QProcess& server, const QString& folder, const QByteArray& job);
    // Queries until count series answer expr (or 45 s pass).
    std::map<QString, double> waitFor(QProcess& server, quint16 port, const QString& expr,
                                      const QString& key, size_t count);
    void writeHostFile(const QString& folder, const HostSim& sim);

    // host -> value of every series of a query's instant vector; keyed by
    // the labels asked for.
    std::map<QString, double> query(quint16 port, const QString& expr, const QString& key);

    QNetworkAccessManager m_network;
    QString m_prometheus;
    QString m_exporter;
};

void TestExporterPrometheus::initTestCase()
{
    m_prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (m_prometheus.isEmpty())
        QSKIP("prometheus is not installed (scripts/setup.sh installs it)");
    m_exporter = qEnvironmentVariable("ORV_BIN_DIR") + QStringLiteral("/orvanite-exporter");
    QVERIFY2(QFile::exists(m_exporter), qPrintable(m_exporter));
}

quint16 TestExporterPrometheus::startExporter(QProcess& exporter, const QStringList& arguments)
{
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(m_exporter,
                   QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} +
                       arguments);
    if (!exporter.waitForStarted())
        return 0;
    // The simulators live in this process: wait with the event loop running.
    if (!QTest::qWaitFor([&] { return exporter.canReadLine(); }, 10000))
        return 0;
    const QByteArray line = exporter.readLine();
    const qsizetype colon = line.indexOf(':');
    return line.mid(colon + 1).split(',').first().toUShort();
}

quint16 TestExporterPrometheus::startPrometheus(QProcess& server, const QString& folder,
                                                const QByteArray& job)
{
    quint16 port = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        port = probe.serverPort();
    }
    QFile config(QDir(folder).filePath(QStringLiteral("prometheus.yml")));
    if (!config.open(QIODevice::WriteOnly))
        return 0;
    config.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                 "scrape_configs:\n  - job_name: orvanite\n" +
                 job);
    config.close();
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(m_prometheus, {QStringLiteral("--config.file=") + config.fileName(),
                                QStringLiteral("--storage.tsdb.path=") +
                                    QDir(folder).filePath(QStringLiteral("tsdb")),
                                QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                                QStringLiteral("--log.level=warn")});
    return server.waitForStarted() ? port : 0;
}

std::map<QString, double> TestExporterPrometheus::waitFor(QProcess& server, quint16 port,
                                                          const QString& expr, const QString& key,
                                                          size_t count)
{
    // Prometheus starts, then scrapes at some point within its first interval.
    std::map<QString, double> values;
    const QDeadlineTimer deadline(45000);
    while (!deadline.hasExpired() && server.state() == QProcess::Running) {
        values = query(port, expr, key);
        if (values.size() == count)
            break;
        QTest::qWait(200); // polling Prometheus, bounded by the deadline
    }
    return values;
}

void TestExporterPrometheus::writeHostFile(const QString& folder, const HostSim& sim)
{
    ConnectionSettings s;
    s.HostAddress = "127.0.0.1";
    s.Port = sim.serverPort();
    QFile file(QDir(folder).filePath(QStringLiteral("%1.hcf").arg(sim.serverPort())));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ConfigLine(s, '5'));
}

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
    writeHostFile(dir.path(), good);
    writeHostFile(dir.path(), refusing);

    QProcess exporter;
    const quint16 exporterPort =
        startExporter(exporter, {QStringLiteral("--config-dir"), dir.path()});
    QVERIFY(exporterPort != 0);
    QProcess server;
    const quint16 prometheusPort =
        startPrometheus(server, dir.path(),
                        QStringLiteral("    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                            .arg(exporterPort)
                            .toUtf8());
    QVERIFY(prometheusPort != 0);

    std::map<QString, double> up =
        waitFor(server, prometheusPort, QStringLiteral("orvanite_up"), QStringLiteral("host"), 2);
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

void TestExporterPrometheus::lockedExporter()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString said = TestCertificates::make(dir.path());
    QVERIFY2(said.isEmpty(), qPrintable(said));
    HostSim host;
    host.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}}};
    QVERIFY(host.listen());
    QDir(dir.path()).mkdir(QStringLiteral("hosts"));
    writeHostFile(dir.filePath(QStringLiteral("hosts")), host);
    // bcrypt (cost 5) of "s3cret".
    QFile web(dir.filePath(QStringLiteral("web.yml")));
    QVERIFY(web.open(QIODevice::WriteOnly));
    web.write("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
              "basic_auth_users:\n"
              "  prometheus: $2b$05$mHuNxoUp7iXcEGS.VdWz1unJu2C0VPxRAjp2Rok7e.ZA91if76oja\n");
    web.close();

    QProcess exporter;
    const quint16 port = startExporter(
        exporter, {QStringLiteral("--config-dir"), dir.filePath(QStringLiteral("hosts")),
                   QStringLiteral("--web.config.file"), web.fileName()});
    QVERIFY(port != 0);

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    QVERIFY2(!curl.isEmpty(), "curl is not installed (scripts/setup.sh installs it)");
    const QString url = QStringLiteral("https://127.0.0.1:%1/metrics").arg(port);
    struct Try
    {
        const char* ca;
        const char* user;
        int exitCode;       // curl's: 0, or 60 for a certificate it cannot verify
        const char* status; // HTTP status written by -w
    };
    for (const Try& t :
         {Try{"ca.crt", nullptr, 0, "401"}, Try{"ca.crt", "prometheus:wrong", 0, "401"},
          Try{"ca.crt", "prometheus:s3cret", 0, "200"},
          Try{"other-ca.crt", "prometheus:s3cret", 60, "000"}}) {
        QStringList arguments = {QStringLiteral("-s"),
                                 QStringLiteral("-o"),
                                 QStringLiteral("/dev/null"),
                                 QStringLiteral("-w"),
                                 QStringLiteral("%{http_code}"),
                                 QStringLiteral("--cacert"),
                                 dir.filePath(QLatin1String(t.ca)),
                                 url};
        if (t.user)
            arguments << QStringLiteral("-u") << QLatin1String(t.user);
        QProcess client;
        client.start(curl, arguments);
        // The simulator answers from this process: wait with the event loop running.
        QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(client.exitCode(), t.exitCode);
        QCOMPARE(client.readAllStandardOutput(), QByteArray(t.status));
    }

    QProcess server;
    const quint16 prometheusPort = startPrometheus(
        server, dir.path(),
        QStringLiteral("    scheme: https\n    tls_config:\n      ca_file: %1\n"
                       "    basic_auth:\n      username: prometheus\n      password: s3cret\n"
                       "    static_configs:\n      - targets: ['127.0.0.1:%2']\n")
            .arg(dir.filePath(QStringLiteral("ca.crt")))
            .arg(port)
            .toUtf8());
    QVERIFY(prometheusPort != 0);
    std::map<QString, double> up =
        waitFor(server, prometheusPort, QStringLiteral("orvanite_up"), QStringLiteral("host"), 1);
    const QByteArray serverLog = server.readAll();
    QVERIFY2(up.size() == 1, serverLog.constData());
    QCOMPARE(up[QStringLiteral("127.0.0.1:%1").arg(host.serverPort())], 1.0);
    stop(server);
    stop(exporter);
}

void TestExporterPrometheus::badWebConfigStopsStartUp()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HostSim host;
    QVERIFY(host.listen());
    writeHostFile(dir.path(), host);
    QFile web(dir.filePath(QStringLiteral("web.yml")));
    QVERIFY(web.open(QIODevice::WriteOnly));
    web.write("basic_auth_users:\n  prometheus: s3cret\n");
    web.close();
    QProcess exporter;
    exporter.start(m_exporter, {QStringLiteral("--config-dir"), dir.path(),
                                QStringLiteral("--web.config.file"), web.fileName()});
    QVERIFY(exporter.waitForFinished(10000));
    QCOMPARE(exporter.exitCode(), 2);
    QCOMPARE(exporter.readAllStandardOutput(), QByteArray());
    QCOMPARE(exporter.readAllStandardError(),
             "orvanite-exporter: " + web.fileName().toUtf8() +
                 ":2: basic_auth_users: the password of 'prometheus' is not a bcrypt hash "
                 "($2y$...)\n");
}

QTEST_GUILESS_MAIN(TestExporterPrometheus)
#include "tst_exporter_prometheus.moc"
