// The whole chain on loopback: simulated hosts, the orvanite-exporter
// program over TLS with basic authentication (after it refused a web
// configuration with a plain password), and a real Prometheus server scraping
// it every second; curl tries the locked exporter without a password and with
// the wrong CA, and the values are read back through Prometheus's query API.
// promtool checks a whole scrape, the exporter's own series included, and the
// log tells the refused logon once however often Prometheus scrapes.
// Then floods of idle, slow-header and unauthenticated clients beside a
// Prometheus scrape that must keep being served.
#include "config/ConfigFile.h"

#include "ExporterTestSupport.h"
#include "support/HttpFlood.h"
#include "support/ServiceFixtures.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <map>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

void writeHostFile(const QString& folder, const HostSim& sim)
{
    ConnectionSettings s;
    s.HostAddress = "127.0.0.1";
    s.Port = sim.serverPort();
    QFile file(QDir(folder).filePath(u"%1.hcf"_s.arg(sim.serverPort())));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ConfigLine(s, '5'));
}

} // namespace

class TestExporterPrometheus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_prometheus = QStandardPaths::findExecutable(u"prometheus"_s);
        if (m_prometheus.isEmpty())
            QSKIP("prometheus is not installed (scripts/setup.sh installs it)");
        m_exporter = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-exporter"_s;
        QVERIFY2(QFile::exists(m_exporter), qPrintable(m_exporter));
    }

    void versionText()
    {
        QProcess p;
        p.start(m_exporter, {u"--version"_s});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], "orvanite-exporter 2.1.2.2");
        QVERIFY2(QRegularExpression(u"^  revision: ([0-9a-f]{12}|unknown)$"_s)
                     .match(QString::fromLatin1(lines[1]))
                     .hasMatch(),
                 lines[1].constData());
        QVERIFY2(QRegularExpression(u"^  build date: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"_s)
                     .match(QString::fromLatin1(lines[2]))
                     .hasMatch(),
                 lines[2].constData());
        QCOMPARE(lines[3], "  Qt version: " + QByteArray(qVersion()));
    }

    void prometheusSeesEveryHost()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString said = TestCertificates::make(dir.path());
        QVERIFY2(said.isEmpty(), qPrintable(said));
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
        const QString goodHost = u"127.0.0.1:%1"_s.arg(good.serverPort());
        const QString refusingHost = u"127.0.0.1:%1"_s.arg(refusing.serverPort());
        QDir(dir.path()).mkdir(u"hosts"_s);
        writeHostFile(dir.filePath(u"hosts"_s), good);
        writeHostFile(dir.filePath(u"hosts"_s), refusing);
        // A password that is not a bcrypt hash stops the program at start-up.
        QFile web(dir.filePath(u"web.yml"_s));
        QVERIFY(web.open(QIODevice::WriteOnly));
        web.write("basic_auth_users:\n  prometheus: s3cret\n");
        web.close();
        QProcess stopped;
        stopped.start(m_exporter, {u"--config-dir"_s, dir.filePath(u"hosts"_s),
                                   u"--web.config.file"_s, web.fileName()});
        QVERIFY(stopped.waitForFinished(10000));
        QCOMPARE(stopped.exitCode(), 2);
        QCOMPARE(stopped.readAllStandardOutput(), QByteArray());
        QCOMPARE(stopped.readAllStandardError(),
                 "orvanite-exporter: " + web.fileName().toUtf8() +
                     ":2: basic_auth_users: the password of 'prometheus' is not a bcrypt hash "
                     "($2y$...)\n");
        // bcrypt (cost 5) of "s3cret".
        QVERIFY(web.open(QIODevice::WriteOnly | QIODevice::Truncate));
        web.write("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                  "basic_auth_users:\n"
                  "  prometheus: $2b$05$mHuNxoUp7iXcEGS.VdWz1unJu2C0VPxRAjp2Rok7e.ZA91if76oja\n");
        web.close();

        QProcess exporter;
        // No console's preferences but the test's own.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, dir.path());
        exporter.setProcessEnvironment(environment);
        const quint16 port = startExporter(
            exporter, {u"--config-dir"_s, dir.filePath(u"hosts"_s), u"--web.config.file"_s,
                       web.fileName(), u"--collect.processes"_s, u"--log.level"_s, u"info"_s});
        QVERIFY(port != 0);

        const QString curl = QStandardPaths::findExecutable(u"curl"_s);
        QVERIFY2(!curl.isEmpty(), "curl is not installed (scripts/setup.sh installs it)");
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
            QStringList arguments = u"-s -o /dev/null -w %{http_code} --cacert"_s.split(u' ');
            arguments << dir.filePath(QLatin1String(t.ca))
                      << u"https://127.0.0.1:%1/metrics"_s.arg(port);
            if (t.user)
                arguments << u"-u"_s << QLatin1String(t.user);
            QProcess client;
            client.start(curl, arguments);
            // The simulators answer from this process: wait with the event loop running.
            QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 30000));
            QCOMPARE(client.exitCode(), t.exitCode);
            QCOMPARE(client.readAllStandardOutput(), QByteArray(t.status));
        }

        QProcess server;
        const quint16 prometheusPort =
            startPrometheus(server, dir.path(),
                            u"    scheme: https\n    tls_config:\n      ca_file: %1\n"
                            "    basic_auth:\n      username: prometheus\n      password: s3cret\n"
                            "    static_configs:\n      - targets: ['127.0.0.1:%2']\n"_s
                                .arg(dir.filePath(u"ca.crt"_s))
                                .arg(port)
                                .toUtf8());
        QVERIFY(prometheusPort != 0);
        std::map<QString, double> up =
            query(server, prometheusPort, u"orvanite_up"_s, u"host"_s, 2);
        QVERIFY2(up.size() == 2, server.readAll().constData());
        QCOMPARE(up[goodHost], 1.0);
        QCOMPARE(up[refusingHost], 0.0);
        const std::map<QString, double> expected = {
            {goodHost + u" 11"_s, 2}, {goodHost + u" 12"_s, 1}, {goodHost + u" 13"_s, 0}};
        QCOMPARE(query(server, prometheusPort, u"orvanite_listener_processes"_s, u"host,pin"_s, 3),
                 expected);
        const std::map<QString, double> refused =
            query(server, prometheusPort,
                  u"orvanite_collect_errors_total{reason=\"logon_refused\"} > 0"_s, u"host"_s, 1);
        QCOMPARE(refused.size(), size_t(1));
        QVERIFY(refused.count(refusingHost) == 1);
        // The refusing host waits out its back-off: the time of the next logon.
        QCOMPARE(
            query(server, prometheusPort, u"orvanite_next_logon_timestamp_seconds"_s, u"host"_s, 1)
                .count(refusingHost),
            size_t(1));

        // A whole scrape, the exporter's own series included, as promtool reads it.
        QProcess client;
        client.start(curl, {u"-s"_s, u"--cacert"_s, dir.filePath(u"ca.crt"_s), u"-u"_s,
                            u"prometheus:s3cret"_s, u"https://127.0.0.1:%1/metrics"_s.arg(port)});
        QVERIFY(QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 30000));
        const QByteArray scrape = client.readAllStandardOutput();
        QVERIFY2(scrape.contains("\norvanite_exporter_build_info{version=\"2.1.2.2\",revision=\""),
                 scrape.constData());
        QVERIFY(scrape.contains("\n# TYPE orvanite_process_cpu_seconds_total counter\n"
                                "orvanite_process_cpu_seconds_total{host="));
        for (const char* family :
             {"process_cpu_seconds_total", "process_resident_memory_bytes", "process_open_fds",
              "process_max_fds", "process_start_time_seconds", "process_virtual_memory_bytes"})
            QVERIFY2(scrape.contains("\n# TYPE " + QByteArray(family)), family);
        const QString promtool = QStandardPaths::findExecutable(u"promtool"_s);
        QVERIFY2(!promtool.isEmpty(), "promtool is not installed (scripts/setup.sh installs it)");
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(promtool, {u"check"_s, u"metrics"_s});
        check.write(scrape);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.readAll(), QByteArray());
        QCOMPARE(check.exitCode(), 0);

        stopProcess(server);
        stopProcess(exporter);
        QCOMPARE(exporter.exitStatus(), QProcess::NormalExit);
        QCOMPARE(exporter.exitCode(), 0);
        // Every change of state once, however often Prometheus scraped.
        const QByteArray log = exporter.readAllStandardError();
        QCOMPARE(log.count("msg=\"logon refused\" host=" + refusingHost.toUtf8() + ' '), 1);
        QCOMPARE(log.count("msg=\"host up\" host=" + goodHost.toUtf8() + '\n'), 1);
        QVERIFY2(log.count('\n') == 2, log.constData());
    }

    void scrapedThroughFloods()
    {
        // Over plain HTTP with a password: 200 idle connections, 64 that
        // send a header a byte every 2 s and 32 without the right password
        // (half with a wrong one, half with none) keep at the exporter for
        // 10 s while Prometheus scrapes it every second: every scrape is
        // served, within Prometheus's 1 s time-out.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        HostSim host;
        host.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}}};
        QVERIFY(host.listen());
        QDir(dir.path()).mkdir(u"hosts"_s);
        writeHostFile(dir.filePath(u"hosts"_s), host);
        QFile web(dir.filePath(u"web.yml"_s));
        QVERIFY(web.open(QIODevice::WriteOnly));
        // bcrypt (cost 5) of "s3cret".
        web.write("basic_auth_users:\n"
                  "  prometheus: $2b$05$mHuNxoUp7iXcEGS.VdWz1unJu2C0VPxRAjp2Rok7e.ZA91if76oja\n");
        web.close();
        QProcess exporter;
        const quint16 port = startExporter(exporter, {u"--config-dir"_s, dir.filePath(u"hosts"_s),
                                                      u"--web.config.file"_s, web.fileName()});
        QVERIFY(port != 0);
        QProcess server;
        const quint16 prometheusPort =
            startPrometheus(server, dir.path(),
                            u"    basic_auth:\n      username: prometheus\n      password: s3cret\n"
                            "    static_configs:\n      - targets: ['127.0.0.1:%1']\n"_s.arg(port)
                                .toUtf8());
        QVERIFY(prometheusPort != 0);
        const QString up = u"up{job=\"orvanite\"} == 1"_s;
        QCOMPARE(query(server, prometheusPort, up, u"job"_s, 1).size(), size_t(1));

        std::vector<std::unique_ptr<Flood>> floods;
        // A client asks again 20 ms after an answer: a flood, but one that
        // leaves this thread's simulator time to answer the exporter.
        floods.push_back(std::make_unique<Flood>(port, Flood::Kind::Idle, 200, 20));
        floods.push_back(std::make_unique<Flood>(port, Flood::Kind::SlowHeader, 64, 20));
        floods.push_back(std::make_unique<Flood>(port, Flood::Kind::BadLogin, 16, 20));
        floods.push_back(std::make_unique<Flood>(port, Flood::Kind::NoLogin, 16, 20));
        // The floods' length; they run on this thread's event loop meanwhile.
        QTest::qWait(11000);
        // Prometheus's own record of the last 10 s: ten scrapes or so, each
        // served (up 1) within its time-out.
        const std::map<QString, double> scrapes = query(
            server, prometheusPort, u"count_over_time(up{job=\"orvanite\"}[10s])"_s, u"job"_s, 1);
        const std::map<QString, double> served = query(
            server, prometheusPort, u"sum_over_time(up{job=\"orvanite\"}[10s])"_s, u"job"_s, 1);
        QVERIFY2(scrapes.size() == 1 && scrapes.begin()->second >= 7,
                 qPrintable(QString::number(scrapes.empty() ? 0 : scrapes.begin()->second)));
        QCOMPARE(served, scrapes);
        // The floods did reach it: closed slow and idle clients, refusals.
        QVERIFY(floods[0]->closed > 0);
        QVERIFY(floods[1]->closed > 0);
        QVERIFY(floods[2]->answers > 0);
        QVERIFY(floods[3]->answers > 0);
        floods.clear();

        stopProcess(server);
        stopProcess(exporter);
        QCOMPARE(exporter.exitCode(), 0);
    }

private:
    // Starts the program with arguments; returns the port it listens on.
    quint16 startExporter(QProcess& exporter, const QStringList& arguments)
    {
        exporter.start(m_exporter, QStringList{u"--listen"_s, u"127.0.0.1:0"_s} + arguments);
        if (!exporter.waitForStarted())
            return 0;
        // The simulators live in this process: wait with the event loop running.
        if (!QTest::qWaitFor([&] { return exporter.canReadLine(); }, 10000))
            return 0;
        const QByteArray line = exporter.readLine();
        return line.mid(line.indexOf(':') + 1).split(',').first().toUShort();
    }

    // Starts Prometheus with one scrape job (YAML lines under "- job_name:
    // orvanite") in folder; returns its port.
    quint16 startPrometheus(QProcess& server, const QString& folder, const QByteArray& job)
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = probe.serverPort();
        probe.close();
        QFile config(QDir(folder).filePath(u"prometheus.yml"_s));
        if (!config.open(QIODevice::WriteOnly))
            return 0;
        config.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                     "scrape_configs:\n  - job_name: orvanite\n" +
                     job);
        config.close();
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(m_prometheus,
                     {u"--config.file="_s + config.fileName(),
                      u"--storage.tsdb.path="_s + QDir(folder).filePath(u"tsdb"_s),
                      u"--web.listen-address=127.0.0.1:%1"_s.arg(port), u"--log.level=warn"_s});
        return server.waitForStarted() ? port : 0;
    }

    // The value of each series of expr's instant vector, by the labels in
    // key; asked again until count series answer (or 45 s pass): Prometheus
    // starts, then scrapes at some point within its first interval.
    std::map<QString, double> query(QProcess& server, quint16 port, const QString& expr,
                                    const QString& key, size_t count)
    {
        QUrl url(u"http://127.0.0.1:%1/api/v1/query"_s.arg(port));
        url.setQuery(QUrlQuery{{u"query"_s, expr}});
        std::map<QString, double> values;
        const QDeadlineTimer deadline(45000);
        while (!deadline.hasExpired() && server.state() == QProcess::Running) {
            QNetworkReply* reply = m_network.get(QNetworkRequest(url));
            QSignalSpy finished(reply, &QNetworkReply::finished);
            finished.wait(5000);
            reply->deleteLater();
            values.clear();
            const QJsonObject doc = QJsonDocument::fromJson(reply->readAll()).object();
            for (const QJsonValue& item : doc[u"data"_s][u"result"_s].toArray()) {
                QString name;
                for (const QString& part : key.split(u','))
                    name += item[u"metric"_s][part].toString() + u' ';
                values[name.trimmed()] = item[u"value"_s].toArray().at(1).toString().toDouble();
            }
            if (values.size() == count)
                break;
            QTest::qWait(200); // polling Prometheus, bounded by the deadline
        }
        return values;
    }

    QNetworkAccessManager m_network;
    QString m_prometheus;
    QString m_exporter;
};

QTEST_GUILESS_MAIN(TestExporterPrometheus)
#include "tst_exporter_prometheus.moc"
