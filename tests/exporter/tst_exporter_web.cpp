// orvanite-exporter's HTTP side in process: the web configuration file and
// its mistakes, basic authentication, client certificates, the bounds kept
// on clients (header size, idle connections, the number of connections), and
// a scrape that joins a collection already running, checked by promtool.
#include "exporter/BasicAuth.h"
#include "exporter/FleetCollector.h"
#include "exporter/MetricsServer.h"
#include "exporter/WebConfig.h"

#include "ExporterTestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// bcrypt (cost 5) of "s3cret" and of "other".
const QByteArray AliceHash = "$2b$05$mHuNxoUp7iXcEGS.VdWz1unJu2C0VPxRAjp2Rok7e.ZA91if76oja";
const QByteArray BobHash = "$2b$05$HOgY.LywBYvU0ql/tqTrde3H7kWzPx096DpHtJ3LvT9gHSrTVEERe";

// One live host (with a process) and one that never answers, served on loopback.
struct Served
{
    HostSim live;
    HostSim silent;
    std::unique_ptr<FleetCollector> fleet;
    std::unique_ptr<MetricsServer> server;
    quint16 port = 0;

    bool start(int idleMs)
    {
        live.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}}};
        live.Processes = {{"11", "11", "101", "X\xe9", "Q\"\\", 1500, 0, {}}};
        silent.Faults.Silent = true;
        if (!live.listen() || !silent.listen())
            return false;
        fleet = std::make_unique<FleetCollector>(
            QList<HostTarget>{targetFor(live), targetFor(silent)}, true);
        server = std::make_unique<MetricsServer>(*fleet, 20000);
        ConnectionGuard::Limits limits;
        limits.idleMs = idleMs;
        QString error;
        port = server->start(QHostAddress::LocalHost, 0, limits, std::nullopt, error);
        return port != 0;
    }
};

bool closedByPeer(QTcpSocket& socket)
{
    return socket.state() == QAbstractSocket::UnconnectedState;
}

} // namespace

class TestExporterWeb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_certs.isValid());
        const QString said = TestCertificates::make(m_certs.path());
        QVERIFY2(said.isEmpty(), qPrintable(said));
        QVERIFY(QFile::link(m_certs.path(), m_certs.filePath(u"tls"_s)));
    }

    void webConfig_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // the message's start after the path; empty: read
        QTest::addColumn<int>("users");
        QTest::addColumn<QByteArray>("login"); // one user's name and password
        const auto row = [](const char* name, const QByteArray& content, const char* error,
                            int users = 0, const QByteArray& login = {}) {
            QTest::newRow(name) << content << QString::fromLatin1(error) << users << login;
        };
        const QByteArray tls =
            "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";
        row("TLS and two users",
            tls + "  min_version: TLS13\nbasic_auth_users:\n  alice: " + AliceHash + "\n  bob: '" +
                BobHash + "'\n",
            "", 2, "bob:other");
        // Its certificate names are under tls/ beside it.
        QFile shipped(qEnvironmentVariable("ORV_SOURCE_DIR") +
                      u"/contrib/prometheus/orvanite-web.yml"_s);
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        row("the shipped example", shipped.readAll(), "", 1, "prometheus:change-me");
        row("empty file", "", "");
        row("unknown key", tls + "http_server_config:\n  http2: false\n",
            ":4: unknown key 'http_server_config'");
        row("unknown TLS key", tls + "  cipher_suites: [X]\n",
            ":4: tls_server_config: unknown key");
        row("no key file", "\ntls_server_config:\n  cert_file: server.crt\n",
            ":2: tls_server_config needs key_file");
        row("missing certificate",
            "tls_server_config:\n  cert_file: nowhere.crt\n  key_file: server.key\n",
            ":2: cert_file: cannot read");
        row("certificate as key",
            "tls_server_config:\n  cert_file: server.crt\n  key_file: ca.crt\n",
            ":3: key_file: no unencrypted");
        row("client auth type", tls + "  client_auth_type: Sometimes\n",
            ":4: client_auth_type: 'Sometimes'");
        row("verify without CA", tls + "  client_auth_type: RequireAndVerifyClientCert\n",
            ":4: client_auth_type RequireAndVerifyClientCert needs client_ca_file");
        row("min version", tls + "  min_version: TLS14\n", ":4: min_version: 'TLS14'");
        row("plain password", "basic_auth_users:\n  alice: s3cret\n",
            ":2: basic_auth_users: the password of 'alice' is not a bcrypt hash");
        row("user twice",
            "basic_auth_users:\n  alice: " + AliceHash + "\n  alice: " + BobHash + "\n",
            ":3: basic_auth_users: 'alice' is given twice");
        row("users as a list", "basic_auth_users:\n  - alice\n",
            ":2: basic_auth_users must be a mapping");
        row("not YAML", "basic_auth_users:\n  alice: [open\n", ":3: ");
    }

    void webConfig()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(int, users);
        QFETCH(QByteArray, login);
        const QString path = m_certs.filePath(u"web.yml"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();

        WebConfig config;
        QString said;
        const bool ok = config.load(path, said);
        if (!error.isEmpty()) {
            QVERIFY(!ok);
            QVERIFY2(said.startsWith(path + error), qPrintable(said));
            return;
        }
        QVERIFY2(ok, qPrintable(said));
        QCOMPARE(bool(config.tls), content.contains("tls_server_config"));
        if (config.tls) {
            QCOMPARE(config.tls->configuration.protocol(), content.contains("min_version: TLS13")
                                                               ? QSsl::TlsV1_3OrLater
                                                               : QSsl::TlsV1_2OrLater);
            QCOMPARE(config.tls->configuration.localCertificate().subjectInfo(
                         QSslCertificate::CommonName),
                     QStringList{u"127.0.0.1"_s});
        }
        QCOMPARE(config.users.size(), size_t(users));
        QVERIFY(login.isEmpty() || BasicAuth(config.users).check("Basic " + login.toBase64()));
    }

    void basicAuth_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("accepted");
        const auto basic = [](const char* name, const QByteArray& pair, bool accepted) {
            QTest::newRow(name) << "Basic " + pair.toBase64() << accepted;
        };
        basic("right", "alice:s3cret", true);
        basic("second user", "bob:other", true);
        QTest::newRow("scheme in lower case")
            << "basic " + QByteArray("bob:other").toBase64() << true;
        basic("wrong password", "alice:s3creT", false);
        basic("another user's password", "alice:other", false);
        basic("unknown user, first user's password", "carol:s3cret", false);
        basic("user as a prefix", "alic:s3cret", false);
        basic("no colon", "alices3cret", false);
        basic("NUL after the password", QByteArray("alice:s3cret\0x", 14), false);
        basic("empty password", "alice:", false);
        QTest::newRow("no header") << QByteArray() << false;
        QTest::newRow("other scheme") << QByteArray("Bearer YWxpY2U6czNjcmV0") << false;
        QTest::newRow("not base64") << QByteArray("Basic YWxpY2U6czNjcmV0!!") << false;
    }

    void basicAuth()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, accepted);
        const BasicAuth auth({{"alice", AliceHash}, {"bob", BobHash}});
        QCOMPARE(auth.check(header), accepted);
        QVERIFY(BasicAuth().check(header)); // no users: everybody
    }

    void clientBounds_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("pieces"); // sent in this many writes
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<QByteArray>("status"); // of the answer; empty: none
        QTest::addColumn<bool>("closed");       // by the server, its place freed
        // A request line, fields and the blank line of this many bytes.
        const auto header = [](int bytes) {
            QByteArray request = "GET /none HTTP/1.1\r\nHost: x\r\nX-Fill: ";
            return request + QByteArray(bytes - request.size() - 4, 'a') + "\r\n\r\n";
        };
        QTest::newRow("header of 8 KiB")
            << header(8192) << 1 << 30000 << QByteArray("404") << false;
        QTest::newRow("header of 8 KiB + 1")
            << header(8193) << 1 << 30000 << QByteArray("431") << true;
        QTest::newRow("header of 8 KiB + 1 in pieces")
            << header(8193) << 7 << 30000 << QByteArray("431") << true;
        QTest::newRow("header never ending, in pieces")
            << header(64 * 1024) << 16 << 30000 << QByteArray("431") << true;
        QTest::newRow("idle: silent") << QByteArray() << 1 << 300 << QByteArray() << true;
        QTest::newRow("idle after an answer") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n")
                                              << 1 << 300 << QByteArray("200") << true;
        QTest::newRow("idle: header never ended")
            << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << 1 << 300 << QByteArray() << true;
        // The idle time does not run while a scrape is collected.
        QTest::newRow("scrape longer than the idle time")
            << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n"
                          "X-Prometheus-Scrape-Timeout-Seconds: 1.5\r\n\r\n")
            << 1 << 300 << QByteArray("200") << true;
    }

    void clientBounds()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, pieces);
        QFETCH(int, idleMs);
        QFETCH(QByteArray, status);
        QFETCH(bool, closed);
        Served served;
        QVERIFY(served.start(idleMs));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, served.port);
        QVERIFY(client.waitForConnected(5000));
        const qsizetype piece = std::max<qsizetype>(1, (request.size() + pieces - 1) / pieces);
        for (qsizetype at = 0;
             at < request.size() && client.state() == QAbstractSocket::ConnectedState;
             at += piece) {
            client.write(request.mid(at, piece));
            QTRY_VERIFY(client.bytesToWrite() == 0);
        }
        if (closed)
            QTRY_VERIFY_WITH_TIMEOUT(closedByPeer(client), 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() >= 12, 5000);
        const QByteArray answer = client.readAll();
        if (status.isEmpty())
            QCOMPARE(answer, QByteArray());
        else
            QVERIFY2(answer.startsWith("HTTP/1.1 " + status), answer.left(80).constData());
        if (closed)
            QTRY_COMPARE(served.server->openConnections(), 0);
    }

    void connectionLimit_data()
    {
        QTest::addColumn<QByteArray>("heldWith"); // what each of the first 64 sent
        QTest::addColumn<bool>("lastServed");
        QTest::newRow("64 in the middle of a request") << QByteArray("GET / HTTP/1.1\r\n") << false;
        QTest::newRow("64 quiet") << QByteArray() << true;
    }

    void connectionLimit()
    {
        QFETCH(QByteArray, heldWith);
        QFETCH(bool, lastServed);
        Served served;
        QVERIFY(served.start(30000));
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 64; ++i) {
            auto& socket = held.emplace_back(std::make_unique<QTcpSocket>());
            socket->connectToHost(QHostAddress::LocalHost, served.port);
            QVERIFY(socket->waitForConnected(5000));
            socket->write(heldWith);
            QVERIFY(socket->waitForBytesWritten(5000) || heldWith.isEmpty());
            // One at a time, so that the first is the one quiet longest.
            QTRY_COMPARE(served.server->openConnections(), i + 1);
        }
        QTRY_COMPARE(served.server->quietConnections(), heldWith.isEmpty() ? 64 : 0);

        QTcpSocket last;
        last.connectToHost(QHostAddress::LocalHost, served.port);
        QVERIFY(last.waitForConnected(5000));
        last.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(last.bytesAvailable() > 0 || closedByPeer(last), 5000);
        QCOMPARE(last.readAll().startsWith("HTTP/1.1 200"), lastServed);
        // Room was made by closing the connection quiet longest, and only that one.
        QTRY_COMPARE(closedByPeer(*held.front()), lastServed);
        QCOMPARE(served.server->openConnections(), 64);
        for (size_t i = 1; i < held.size(); ++i)
            QVERIFY(!closedByPeer(*held[i]));
    }

    void servedScrape()
    {
        // A scrape that joins a collection already running keeps its own
        // deadline; what it is served passes promtool's checks.
        Served served;
        QVERIFY(served.start(30000));
        QNetworkAccessManager network;
        const auto get = [&](const char* path, const char* timeout) {
            QNetworkRequest request(
                QUrl(u"http://127.0.0.1:%1"_s.arg(served.port) + QLatin1StringView(path)));
            request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", timeout);
            return network.get(request);
        };
        QNetworkReply* longScrape = get("/metrics", "20");
        // The collection runs once the silent host has been reached.
        QTRY_COMPARE(served.silent.connectionCount(), 1);
        QNetworkReply* shortScrape = get("/metrics", "1");
        QSignalSpy shortDone(shortScrape, &QNetworkReply::finished);
        QVERIFY(shortDone.wait(10000));
        QVERIFY(!longScrape->isFinished());
        QCOMPARE(shortScrape->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(shortScrape->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
                 QByteArray("text/plain; version=0.0.4; charset=utf-8"));
        const QByteArray body = shortScrape->readAll();
        QVERIFY(body.contains(
            u"orvanite_up{host=\"127.0.0.1:%1\"} 1\n"_s.arg(served.live.serverPort()).toUtf8()));
        QVERIFY(body.contains(
            u"orvanite_up{host=\"127.0.0.1:%1\"} 0\n"_s.arg(served.silent.serverPort()).toUtf8()));
        longScrape->abort();
        QNetworkReply* index = get("/", "1");
        QSignalSpy indexDone(index, &QNetworkReply::finished);
        QVERIFY(indexDone.wait(10000));
        QVERIFY(index->readAll().contains("<a href=\"/metrics\">"));

        const QString promtool = QStandardPaths::findExecutable(u"promtool"_s);
        if (promtool.isEmpty())
            QSKIP("promtool is not installed (scripts/setup.sh installs it)");
        QProcess check;
        check.start(promtool, {u"check"_s, u"metrics"_s});
        check.write(body);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    }

    void clientCertificates_data()
    {
        QTest::addColumn<QByteArray>("mode");
        // The certificate shown: none, client (our CA's) or other-ca.
        QTest::addColumn<QString>("client");
        QTest::addColumn<bool>("served");
        const auto row = [](const char* name, const char* mode, const char* client, bool served) {
            QTest::newRow(name) << QByteArray(mode) << QString::fromLatin1(client) << served;
        };
        row("verify: none", "RequireAndVerifyClientCert", "", false);
        row("verify: ours", "RequireAndVerifyClientCert", "client", true);
        row("verify: unknown CA", "RequireAndVerifyClientCert", "other-ca", false);
        row("if given: none", "VerifyClientCertIfGiven", "", true);
        row("if given: unknown CA", "VerifyClientCertIfGiven", "other-ca", false);
        row("any: none", "RequireAnyClientCert", "", false);
        row("any: unknown CA", "RequireAnyClientCert", "other-ca", true);
        row("no client cert: unknown CA", "NoClientCert", "other-ca", true);
    }

    void clientCertificates()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QString, client);
        QFETCH(bool, served);
        const bool verifies = mode.startsWith("Verify") || mode.startsWith("RequireAnd");
        QFile file(m_certs.filePath(u"web.yml"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                   "  client_auth_type: " +
                   mode + "\n" + (verifies ? "  client_ca_file: ca.crt\n" : ""));
        file.close();
        WebConfig config;
        QString error;
        QVERIFY2(config.load(file.fileName(), error), qPrintable(error));
        FleetCollector fleet({}, false);
        MetricsServer server(fleet, 1000);
        const quint16 port = server.start(QHostAddress::LocalHost, 0, {}, config.tls, error);
        QVERIFY2(port != 0, qPrintable(error));

        QSslSocket socket;
        QSslConfiguration tls = socket.sslConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(m_certs.filePath(u"ca.crt"_s)));
        if (!client.isEmpty()) {
            tls.setLocalCertificate(
                QSslCertificate::fromPath(m_certs.filePath(client + u".crt"_s)).value(0));
            QFile key(m_certs.filePath(client + u".key"_s));
            QVERIFY(key.open(QIODevice::ReadOnly));
            tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        }
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(u"127.0.0.1"_s, port);
        socket.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(socket.bytesAvailable() >= 12 || closedByPeer(socket), 5000);
        QCOMPARE(socket.readAll().startsWith("HTTP/1.1 200"), served);
        // A refused handshake keeps no place among the connections.
        if (!served)
            QTRY_COMPARE(server.openConnections(), 0);
    }

private:
    QTemporaryDir m_certs;
};

QTEST_GUILESS_MAIN(TestExporterWeb)
#include "tst_exporter_web.moc"
