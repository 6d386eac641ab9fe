// orvanite-exporter's HTTP side in process: the web configuration file and
// its mistakes, basic authentication and its gate (hashes off the event
// loop, verified headers remembered, wrong passwords throttled), client
// certificates, the bounds kept on clients (header size and time, idle
// connections, the number of connections), HTTP/1.1 (HEAD, pipelining,
// Connection: close, over TLS too), and a scrape that joins a collection
// already running, checked by promtool.
#include "exporter/AuthGate.h"
#include "exporter/BasicAuth.h"
#include "exporter/FleetCollector.h"
#include "exporter/MetricsServer.h"
#include "exporter/WebConfig.h"

#include "config/ConfigFile.h"

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

#include <signal.h>
#include <sys/stat.h>

#include <map>
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

    bool start(int idleMs, int headerMs = 10000, const std::optional<TlsSettings>& tls = {})
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
        limits.headerMs = headerMs;
        QString error;
        port = server->start(QHostAddress::LocalHost, 0, limits, tls, error);
        return port != 0;
    }
};

bool closedByPeer(QTcpSocket& socket)
{
    return socket.state() == QAbstractSocket::UnconnectedState;
}

struct HttpAnswer
{
    QByteArray status;                        // "200", or "HEAD 200" for an answer to HEAD
    std::map<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// The whole answers at the start of data, the answers to HEAD (heads[i])
// without a body; rest: what follows the last whole one.
std::vector<HttpAnswer> splitAnswers(const QByteArray& data, const std::vector<bool>& heads,
                                     QByteArray& rest)
{
    std::vector<HttpAnswer> answers;
    qsizetype at = 0;
    while (answers.size() < heads.size()) {
        const qsizetype end = data.indexOf("\r\n\r\n", at);
        if (end < 0)
            break;
        HttpAnswer a;
        const QList<QByteArray> lines = data.mid(at, end - at).split('\n');
        a.status = lines.front().mid(9, 3);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            a.headers[lines[i].left(colon).toLower()] = lines[i].mid(colon + 1).trimmed();
        }
        const bool head = heads[answers.size()];
        const qsizetype length = head ? 0 : a.headers["content-length"].toLongLong();
        if (data.size() < end + 4 + length)
            break;
        a.body = data.mid(end + 4, length);
        if (head)
            a.status.prepend("HEAD ");
        answers.push_back(a);
        at = end + 4 + length;
    }
    rest = data.mid(at);
    return answers;
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
        // A bracket left open is named where it was opened, not at the end.
        row("not YAML", "basic_auth_users:\n  alice: [open\n", ":2: ");
        row("YAML error on line 5",
            "basic_auth_users:\n  alice: a\n  bob: b\n  carol: c\n  dave: [open\n\n", ":5: ");
        row("YAML error before the end", "a: 1\nb: 2\nc: 3\nd: 4\n\te: 5\nf: 6\n", ":5: ");
        row("key of another certificate",
            "tls_server_config:\n  cert_file: server.crt\n  key_file: client.key\n",
            ":3: key_file: *client.key is not the key of the certificate in ");
        QByteArray cost = AliceHash;
        row("bcrypt cost 3", "basic_auth_users:\n  alice: " + cost.replace(4, 2, "03") + "\n",
            ":2: basic_auth_users: the password of 'alice' has cost 3; bcrypt takes 4 to 31");
        row("bcrypt cost 32", "basic_auth_users:\n  alice: " + cost.replace(4, 2, "32") + "\n",
            ":2: basic_auth_users: the password of 'alice' has cost 32; bcrypt takes 4 to 31");
        // Read, not hashed: hashing it once would take days.
        row("bcrypt cost 31", "basic_auth_users:\n  alice: " + cost.replace(4, 2, "31") + "\n", "",
            1);
        row("bcrypt with a letter out of its alphabet",
            "basic_auth_users:\n  alice: " + cost.replace(30, 1, "!") + "\n",
            ":2: basic_auth_users: the password of 'alice' is not a bcrypt hash");
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
            // "start*part": the message starts with start and holds part.
            QVERIFY(!ok);
            QVERIFY2(said.startsWith(path + error.section(u'*', 0, 0)), qPrintable(said));
            QVERIFY2(said.contains(error.section(u'*', 1)), qPrintable(said));
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

    void webConfigNotRegular_data()
    {
        QTest::addColumn<QString>("fifo"); // the file made a FIFO
        QTest::addColumn<QString>("error");
        QTest::newRow("the web configuration")
            << u"web.yml"_s << u"cannot read %1: not a regular file"_s;
        QTest::newRow("the certificate")
            << u"fifo.crt"_s << u"%1:2: cert_file: %2 is not a regular file"_s;
    }

    void webConfigNotRegular()
    {
        // A FIFO nobody writes to would block start-up for ever.
        QFETCH(QString, fifo);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString web = dir.filePath(u"web.yml"_s);
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(fifo)).constData(), 0600) == 0);
        if (fifo != u"web.yml"_s) {
            QFile file(web);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("tls_server_config:\n  cert_file: fifo.crt\n  key_file: " +
                       QFile::encodeName(m_certs.filePath(u"server.key"_s)) + "\n");
        }
        WebConfig config;
        QString said;
        QVERIFY(!config.load(web, said));
        QCOMPARE(said, QString(error).replace(u"%1"_s, web).replace(u"%2"_s, dir.filePath(fifo)));
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

    void authGate()
    {
        // The verdict on each header, and whether it came at once (known
        // without a hash) or later from the event loop (hashed off it).
        AuthGate gate;
        gate.setUsers(BasicAuth({{"alice", AliceHash}, {"bob", BobHash}}));
        struct Step
        {
            const char* credentials; // user:password; nullptr: no header
            const char* address;
            AuthGate::Verdict verdict;
            bool atOnce;
        };
        using V = AuthGate::Verdict;
        const Step steps[] = {
            {"alice:s3cret", "127.0.0.1", V::Accepted, false},
            {"alice:s3cret", "127.0.0.1", V::Accepted, true}, // remembered
            {nullptr, "127.0.0.1", V::Refused, true},
            {"alice:wrong", "127.0.0.2", V::Refused, false},
            {"alice:wrong", "127.0.0.2", V::Refused, false},  // one mistake is forgiven
            {"bob:other", "127.0.0.2", V::Throttled, true},   // two are not
            {"alice:s3cret", "127.0.0.2", V::Accepted, true}, // remembered all the same
            {"bob:other", "127.0.0.3", V::Accepted, false},
            {"carol:s3cret", "127.0.0.4", V::Refused, false}, // unknown user, hashed too
        };
        for (const Step& step : steps) {
            const QByteArray header = step.credentials
                                          ? "Basic " + QByteArray(step.credentials).toBase64()
                                          : QByteArray();
            std::optional<AuthGate::Verdict> verdict;
            gate.check(header, QHostAddress(QLatin1StringView(step.address)),
                       [&verdict](AuthGate::Verdict v) { verdict = v; });
            QCOMPARE(verdict.has_value(), step.atOnce);
            QTRY_VERIFY(verdict.has_value());
            QCOMPARE(*verdict, step.verdict);
        }
        // Checks from one address run one after another: the third wrong
        // password waits for the first two and is then throttled.
        std::vector<AuthGate::Verdict> verdicts;
        for (const char* credentials : {"bob:wrong", "bob:wrong2", "alice:wrong3", "bob:wrong4"})
            gate.check("Basic " + QByteArray(credentials).toBase64(), QHostAddress(u"127.0.0.5"_s),
                       [&verdicts](AuthGate::Verdict v) { verdicts.push_back(v); });
        QTRY_COMPARE(verdicts.size(), size_t(4));
        QCOMPARE(verdicts, (std::vector<V>{V::Refused, V::Refused, V::Throttled, V::Throttled}));
        // New users: nothing verified before is taken on trust.
        gate.setUsers(BasicAuth({{"alice", BobHash}}));
        std::optional<AuthGate::Verdict> verdict;
        gate.check("Basic " + QByteArray("alice:s3cret").toBase64(), QHostAddress(u"127.0.0.1"_s),
                   [&verdict](AuthGate::Verdict v) { verdict = v; });
        QTRY_VERIFY(verdict.has_value());
        QCOMPARE(*verdict, V::Refused);
    }

    void clientBounds_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("pieces"); // sent in this many writes
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("headerMs");
        QTest::addColumn<QByteArray>("status"); // of the answer; empty: none
        QTest::addColumn<bool>("closed");       // by the server, its place freed
        QTest::addColumn<bool>("tls");          // the server's; the client makes no handshake
        const auto row = [](const char* name, const QByteArray& request, int pieces, int idleMs,
                            int headerMs, const char* status, bool closed, bool tls = false) {
            QTest::newRow(name) << request << pieces << idleMs << headerMs << QByteArray(status)
                                << closed << tls;
        };
        // A request line, fields and the blank line of this many bytes.
        const auto header = [](int bytes) {
            QByteArray request = "GET /none HTTP/1.1\r\nHost: x\r\nX-Fill: ";
            return request + QByteArray(bytes - request.size() - 4, 'a') + "\r\n\r\n";
        };
        row("header of 8 KiB", header(8192), 1, 30000, 10000, "404", false);
        row("header of 8 KiB in pieces", header(8192), 9, 30000, 10000, "404", false);
        row("header of 8 KiB + 1", header(8193), 1, 30000, 10000, "431", true);
        row("header of 8 KiB + 1 in pieces", header(8193), 7, 30000, 10000, "431", true);
        row("header never ending, in pieces", header(64 * 1024), 16, 30000, 10000, "431", true);
        row("idle: silent", {}, 1, 300, 10000, "", true);
        row("idle after an answer", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", 1, 300, 10000, "200",
            true);
        row("idle: header never ended", "GET / HTTP/1.1\r\nHost: x\r\n", 1, 300, 10000, "", true);
        // A header must be whole within its time, however busy its sender.
        row("header not whole in its time", "GET / HTTP/1.1\r\nHost: x\r\n", 1, 30000, 300, "408",
            true);
        row("TLS: no handshake in the header time", {}, 1, 30000, 300, "", true, true);
        row("TLS: half a handshake in the header time", "\x16\x03\x01\x02\x00\x01", 1, 30000, 300,
            "", true, true);
        // More pipelined than a scraper sends: the connection is dropped.
        QByteArray many;
        for (int i = 0; i < 17; ++i)
            many += "GET /metrics HTTP/1.1\r\nX-Prometheus-Scrape-Timeout-Seconds: 20\r\n\r\n";
        row("17 pipelined behind a scrape", many, 1, 30000, 10000, "", true);
        // The idle time does not run while a scrape is collected.
        row("scrape longer than the idle time",
            "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Prometheus-Scrape-Timeout-Seconds: 1.5\r\n\r\n",
            1, 300, 10000, "200", true);
    }

    void clientBounds()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, pieces);
        QFETCH(int, idleMs);
        QFETCH(int, headerMs);
        QFETCH(QByteArray, status);
        QFETCH(bool, closed);
        QFETCH(bool, tls);
        Served served;
        QVERIFY(served.start(idleMs, headerMs, tls ? tlsSettings() : std::nullopt));
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
        // Answers being collected keep their places.
        QTest::newRow("64 scrapes being answered")
            << QByteArray(
                   "GET /metrics HTTP/1.1\r\nX-Prometheus-Scrape-Timeout-Seconds: 30\r\n\r\n")
            << false;
        // A header not yet whole gives way, as a quiet connection does.
        QTest::newRow("64 sending a header") << QByteArray("GET / HTTP/1.1\r\n") << true;
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
        if (!lastServed) // every scrape waits for the silent host
            QTRY_COMPARE(served.silent.connectionCount(), 1);

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

    void http11_data()
    {
        // Each written once the answers to the ones before have come, but
        // the last; the requests are pipelined within one.
        QTest::addColumn<QByteArrayList>("writes");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArrayList>("answers"); // statuses, "HEAD 200" for HEAD's
        QTest::addColumn<QByteArrayList>("types");   // each answer's Content-Type, its start
        QTest::addColumn<bool>("closed");            // by the server after the last
        const QByteArray metrics = "GET /metrics HTTP/1.1\r\nHost: x\r\n"
                                   "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n\r\n";
        const QByteArray index = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray closing =
            "GET / HTTP/1.1\r\nHost: x\r\nConnection: keep-alive, Close\r\n\r\n";
        const QByteArray big =
            "GET /none HTTP/1.1\r\nHost: x\r\nX-Fill: " + QByteArray(6000, 'a') + "\r\n\r\n";
        const QByteArray exposition = "text/plain; version=0.0.4";
        for (const bool tls : {false, true}) {
            const auto row = [tls](const char* name) {
                return std::ref(QTest::addRow("%s%s", name, tls ? " over TLS" : ""));
            };
            row("HEAD /metrics") << QByteArrayList{"HEAD /metrics HTTP/1.1\r\nHost: x\r\n"
                                                   "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n\r\n"}
                                 << tls << QByteArrayList{"HEAD 200"} << QByteArrayList{exposition}
                                 << false;
            row("POST") << QByteArrayList{"POST /metrics HTTP/1.1\r\nHost: x\r\n"
                                          "Content-Length: 0\r\n\r\n"}
                        << tls << QByteArrayList{"405"} << QByteArrayList{"text/plain"} << false;
            // The scrape waits for the silent host; the others wait for it.
            row("pipelined after a scrape")
                << QByteArrayList{metrics + index + "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n" + big}
                << tls << QByteArrayList{"200", "200", "HEAD 200", "404"}
                << QByteArrayList{exposition, "text/html", "text/html", "text/plain"} << false;
            // Pipelined headers are counted once each, not again when read.
            row("two pipelined headers of 6 KB")
                << QByteArrayList{big + big} << tls << QByteArrayList{"404", "404"}
                << QByteArrayList{"text/plain", "text/plain"} << false;
            // The second is left unread while the first is answered.
            row("a pipelined header of 6 KB finished later")
                << QByteArrayList{big + big.left(5000), big.mid(5000)} << tls
                << QByteArrayList{"404", "404"} << QByteArrayList{"text/plain", "text/plain"}
                << false;
            row("Connection: close")
                << QByteArrayList{closing + index} << tls << QByteArrayList{"200"}
                << QByteArrayList{"text/html"} << true;
            row("Connection: close after a scrape")
                << QByteArrayList{metrics + closing + index} << tls << QByteArrayList{"200", "200"}
                << QByteArrayList{exposition, "text/html"} << true;
        }
    }

    void http11()
    {
        QFETCH(QByteArrayList, writes);
        QFETCH(bool, tls);
        QFETCH(QByteArrayList, answers);
        QFETCH(QByteArrayList, types);
        QFETCH(bool, closed);
        Served served;
        QVERIFY(served.start(30000, 10000, tls ? tlsSettings() : std::nullopt));
        QSslSocket client;
        if (tls) {
            QSslConfiguration c = client.sslConfiguration();
            c.setCaCertificates(QSslCertificate::fromPath(m_certs.filePath(u"ca.crt"_s)));
            client.setSslConfiguration(c);
            client.connectToHostEncrypted(u"127.0.0.1"_s, served.port);
            // The server answers from this thread: no blocking wait.
            QTRY_VERIFY_WITH_TIMEOUT(client.isEncrypted(), 5000);
        } else {
            client.connectToHost(QHostAddress::LocalHost, served.port);
            QVERIFY(client.waitForConnected(5000));
        }
        std::vector<bool> heads;
        for (const QByteArray& a : answers)
            heads.push_back(a.startsWith("HEAD "));
        QByteArray received, rest;
        std::vector<HttpAnswer> got;
        for (qsizetype i = 0; i < writes.size(); ++i) {
            client.write(writes[i]);
            const qsizetype awaited = i + 1 < writes.size() ? i + 1 : answers.size();
            QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll(),
                                      got = splitAnswers(received, heads, rest),
                                      qsizetype(got.size()) >= awaited),
                                     10000);
        }
        for (size_t i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].status, answers[qsizetype(i)]);
            QVERIFY2(got[i].headers["content-type"].startsWith(types[qsizetype(i)]),
                     got[i].headers["content-type"].constData());
            QVERIFY(got[i].headers["content-length"].toLongLong() > 0);
        }
        if (answers.contains("405"))
            QCOMPARE(got.front().headers["allow"], QByteArray("GET, HEAD"));
        if (closed) {
            QTRY_VERIFY_WITH_TIMEOUT(closedByPeer(client), 5000);
            QCOMPARE(got.back().headers["connection"], QByteArray("close"));
        }
        // Nothing more: no body after HEAD's headers, no answer after the close.
        splitAnswers(received + client.readAll(), heads, rest);
        QCOMPARE(rest, QByteArray());
        if (!closed)
            QVERIFY(!closedByPeer(client));
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

    void reloadUnderARunningProgram()
    {
        // The program over TLS; its certificate replaced, a key that is not
        // the certificate's, a bad file and a good one on SIGHUP. A client
        // of each new connection sees the certificate serving.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString made = TestCertificates::make(dir.path());
        QVERIFY2(made.isEmpty(), qPrintable(made));
        ConnectionSettings host;
        host.HostAddress = "127.0.0.1";
        host.Port = 1;
        QFile hostFile(dir.filePath(u"h.hcf"_s));
        QVERIFY(hostFile.open(QIODevice::WriteOnly));
        hostFile.write(ConfigLine(host, '5'));
        hostFile.close();
        const auto writeFile = [&](const QString& name, const QByteArray& content) {
            // Written beside and renamed, as a deployment tool does.
            QFile file(dir.filePath(name + u".new"_s));
            return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                   file.flush() && (file.close(), true) &&
                   std::rename(QFile::encodeName(file.fileName()).constData(),
                               QFile::encodeName(dir.filePath(name)).constData()) == 0;
        };
        const QByteArray tlsOnly =
            "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";
        QVERIFY(writeFile(u"web.yml"_s, tlsOnly));

        QProcess program;
        program.start(qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-exporter"_s,
                      {u"--listen"_s, u"127.0.0.1:0"_s, u"--config"_s, hostFile.fileName(),
                       u"--web.config.file"_s, dir.filePath(u"web.yml"_s)});
        QVERIFY(program.waitForStarted());
        QVERIFY(program.waitForReadyRead(10000));
        const QByteArray line = program.readLine();
        const quint16 port = line.mid(line.indexOf(':') + 1).split(',').first().toUShort();
        QVERIFY2(port != 0, line.constData());

        // The serial of the certificate a new connection gets and the
        // status of GET /; empty and 0 when no handshake was made.
        const auto visit = [&](QByteArray& serial) {
            QSslSocket client;
            QSslConfiguration c = client.sslConfiguration();
            c.setCaCertificates(QSslCertificate::fromPath(dir.filePath(u"ca.crt"_s)));
            client.setSslConfiguration(c);
            client.connectToHostEncrypted(u"127.0.0.1"_s, port);
            serial.clear();
            if (!client.waitForEncrypted(5000))
                return 0;
            serial = client.peerCertificate().serialNumber();
            client.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
            QByteArray answer;
            while (answer.size() < 12 && client.waitForReadyRead(5000))
                answer += client.readAll();
            return answer.mid(9, 3).toInt();
        };
        const auto serialOf = [&](const QString& name) {
            return QSslCertificate::fromPath(dir.filePath(name)).value(0).serialNumber();
        };
        const auto stderrHas = [&](const QByteArray& text) {
            QByteArray said;
            while (!said.contains(text) && program.waitForReadyRead(5000))
                said += program.readAllStandardError();
            program.readAllStandardOutput();
            return said.contains(text);
        };
        program.setReadChannel(QProcess::StandardError);
        QByteArray serial;
        QCOMPARE(visit(serial), 200);
        QCOMPARE(serial, serialOf(u"server.crt"_s));

        // A new certificate for the same key, signed by the same CA.
        QProcess openssl;
        openssl.setWorkingDirectory(dir.path());
        openssl.start(u"openssl"_s,
                      u"x509 -req -in server.csr -out next.crt -extfile server.ext "
                      "-CA ca.crt -CAkey ca.key -CAcreateserial -days 2"_s.split(u' '));
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        QFile next(dir.filePath(u"next.crt"_s));
        QVERIFY(next.open(QIODevice::ReadOnly));
        const QByteArray nextPem = next.readAll();
        QVERIFY(serialOf(u"next.crt"_s) != serial);
        QVERIFY(writeFile(u"server.crt"_s, nextPem));
        QCOMPARE(visit(serial), 200);
        QCOMPARE(serial, serialOf(u"next.crt"_s));
        QVERIFY(stderrHas("reloaded the web configuration"));

        // A key of another certificate: the one serving stays, and says why.
        QFile clientKey(dir.filePath(u"client.key"_s));
        QVERIFY(clientKey.open(QIODevice::ReadOnly));
        QFile serverKey(dir.filePath(u"server.key"_s));
        QVERIFY(serverKey.open(QIODevice::ReadOnly));
        const QByteArray goodKey = serverKey.readAll();
        QVERIFY(writeFile(u"server.key"_s, clientKey.readAll()));
        QCOMPARE(visit(serial), 200);
        QCOMPARE(serial, serialOf(u"next.crt"_s));
        QVERIFY(stderrHas("is not the key of the certificate"));
        QVERIFY(writeFile(u"server.key"_s, goodKey));

        // SIGHUP with a file that does not load: still serving, as before.
        QVERIFY(writeFile(u"web.yml"_s, tlsOnly + "basic_auth_users:\n  prometheus: s3cret\n"));
        QCOMPARE(::kill(pid_t(program.processId()), SIGHUP), 0);
        QVERIFY(stderrHas("web.yml:5: basic_auth_users: the password of 'prometheus' is not a "
                          "bcrypt hash"));
        QCOMPARE(program.state(), QProcess::Running);
        QCOMPARE(visit(serial), 200);
        // SIGHUP with a good one: its users are asked for.
        QVERIFY(writeFile(u"web.yml"_s,
                          tlsOnly + "basic_auth_users:\n  prometheus: " + AliceHash + "\n"));
        QCOMPARE(::kill(pid_t(program.processId()), SIGHUP), 0);
        QVERIFY(stderrHas("reloaded the web configuration"));
        QCOMPARE(visit(serial), 401);

        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

private:
    // The server's certificate and key, as a web configuration gives them.
    std::optional<TlsSettings> tlsSettings()
    {
        QFile file(m_certs.filePath(u"tls-only.yml"_s));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return std::nullopt;
        file.write("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n");
        file.close();
        WebConfig config;
        QString error;
        return config.load(file.fileName(), error) ? config.tls : std::nullopt;
    }

    QTemporaryDir m_certs;
};

QTEST_GUILESS_MAIN(TestExporterWeb)
#include "tst_exporter_web.moc"
