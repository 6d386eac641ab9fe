// orvanite-exporter in process: the exposition's text, the per-host deadline
// a scrape allows, the command line, and collections against simulated hosts
// (values, failures that hold nobody up, a session kept between scrapes),
// ending with a real exposition served over HTTP and checked by promtool.
#include "config/ConfigFile.h"
#include "exporter/ExporterOptions.h"
#include "exporter/Exposition.h"
#include "exporter/FleetCollector.h"
#include "exporter/HostCollector.h"
#include "exporter/MetricsServer.h"

#include "hostsim/HostSim.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

namespace {

HostTarget targetFor(const HostSim& sim)
{
    HostTarget target;
    target.settings.HostAddress = "127.0.0.1";
    target.settings.Port = sim.serverPort();
    target.label = QStringLiteral("127.0.0.1:%1").arg(sim.serverPort());
    return target;
}

// Two listeners; the second's processes include an awkward user and program.
void populate(HostSim& sim)
{
    sim.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}},
                     {"12", "30002", "ODD\"\\PROG", "77", "5", {}}};
    sim.Processes = {{"11", "11", "101", "PCLXFER", "ANN", 1500, 0, {}},
                     {"11", "11", "102", "PCLXFER", "BOB", 250, 2, {}},
                     {"12", {}, "201", "X\xe9", "Q\"\\", 1, 0, {}}};
}

QByteArray seriesLines(const QByteArray& text, const QByteArray& family)
{
    QByteArray out;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(family + '{') || line.startsWith(family + ' '))
            out += line + '\n';
    return out;
}

} // namespace

class TestExporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exposition();
    void secondsFromMilliseconds_data();
    void secondsFromMilliseconds();
    void hostDeadline_data();
    void hostDeadline();
    void commandLine_data();
    void commandLine();
    void listenAddress_data();
    void listenAddress();
    void collectsEveryListener();
    void processLimit_data();
    void processLimit();
    void failingHostsHoldNobodyUp();
    void failuresByReason_data();
    void failuresByReason();
    void sessionKeptBetweenScrapes();
    void servedExpositionPassesPromtool();
};

void TestExporter::exposition()
{
    HostSample up;
    up.host = QStringLiteral("east:30000");
    up.up = true;
    up.durationSeconds = 0.25;
    up.listeners = {{"11", "Parcel Transfer", "A\"B\\C\nD", "30001", 0, 2, 1750}};
    up.processes = {{"11", "101", "J\xe9", "PCLXFER", 1500}};
    HostSample down;
    down.host = QStringLiteral("west:30000");
    down.errors[size_t(CollectError::Timeout)] = 3;

    const QByteArray text = Exposition::write({&up, &down}, true);
    QCOMPARE(
        seriesLines(text, "orvanite_up"),
        QByteArray("orvanite_up{host=\"east:30000\"} 1\norvanite_up{host=\"west:30000\"} 0\n"));
    QCOMPARE(seriesLines(text, "orvanite_listener_info"),
             QByteArray("orvanite_listener_info{host=\"east:30000\",pin=\"11\",product=\"Parcel "
                        "Transfer\",program=\"A\\\"B\\\\C\\nD\",port=\"30001\"} 1\n"));
    QCOMPARE(seriesLines(text, "orvanite_listener_cpu_seconds"),
             QByteArray("orvanite_listener_cpu_seconds{host=\"east:30000\",pin=\"11\"} 1.75\n"));
    QCOMPARE(seriesLines(text, "orvanite_process_cpu_seconds"),
             QByteArray("orvanite_process_cpu_seconds{host=\"east:30000\",listener=\"11\",pin="
                        "\"101\",user=\"J\xc3\xa9\",program=\"PCLXFER\"} 1.5\n"));
    QVERIFY(text.contains("# TYPE orvanite_collect_errors_total counter\n"));
    QVERIFY(
        text.contains("orvanite_collect_errors_total{host=\"west:30000\",reason=\"timeout\"} 3\n"));
    QVERIFY(text.contains(
        "orvanite_collect_errors_total{host=\"west:30000\",reason=\"logon_refused\"} 0\n"));
    // Without per-process series their family is not written at all.
    QVERIFY(!Exposition::write({&up}, false).contains("orvanite_process_cpu_seconds"));
}

void TestExporter::secondsFromMilliseconds_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("zero") << qint64(0) << QByteArray("0");
    QTest::newRow("one ms") << qint64(1) << QByteArray("0.001");
    QTest::newRow("trailing zeros") << qint64(1500) << QByteArray("1.5");
    QTest::newRow("whole") << qint64(7000) << QByteArray("7");
    QTest::newRow("three decimals") << qint64(123456) << QByteArray("123.456");
    QTest::newRow("negative") << qint64(-1020) << QByteArray("-1.02");
    QTest::newRow("past 2^53") << qint64(9007199254740993) << QByteArray("9007199254740.993");
}

void TestExporter::secondsFromMilliseconds()
{
    QFETCH(qint64, ms);
    QFETCH(QByteArray, text);
    QCOMPARE(Exposition::millisecondsAsSeconds(ms), text);
}

void TestExporter::hostDeadline_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("capMs");
    QTest::addColumn<int>("deadlineMs");
    QTest::newRow("no header") << QByteArray() << 9000 << 9000;
    QTest::newRow("Prometheus default 10 s") << QByteArray("10") << 9000 << 9000;
    QTest::newRow("2 s keeps 0.2 s") << QByteArray("2") << 9000 << 1800;
    QTest::newRow("fraction") << QByteArray("0.5") << 9000 << 400;
    QTest::newRow("long scrape keeps 1 s") << QByteArray("60") << 120000 << 59000;
    QTest::newRow("capped") << QByteArray("60") << 9000 << 9000;
    QTest::newRow("garbage") << QByteArray("ten") << 9000 << 9000;
    QTest::newRow("shorter than the margin") << QByteArray("0.05") << 9000 << 1;
}

void TestExporter::hostDeadline()
{
    QFETCH(QByteArray, header);
    QFETCH(int, capMs);
    QFETCH(int, deadlineMs);
    QCOMPARE(MetricsServer::hostDeadlineMs(header, capMs), deadlineMs);
}

void TestExporter::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("hosts"); // empty: a usage error containing errorPart
    QTest::addColumn<QString>("errorPart");
    auto L = [](std::initializer_list<const char*> items) {
        QStringList out;
        for (const char* item : items)
            out << QString::fromLatin1(item);
        return out;
    };
    QTest::newRow("two files") << L({"--config", "a.hcf", "--config=sub/b.hcf"})
                               << L({"10.0.0.1:30000", "10.0.0.2:31000"}) << QString();
    QTest::newRow("folder, by name")
        << L({"--config-dir", "sub"}) << L({"10.0.0.2:31000", "10.0.0.3:30000"}) << QString();
    QTest::newRow("same file twice")
        << L({"--config", "a.hcf", "--config", "./a.hcf"}) << L({"10.0.0.1:30000"}) << QString();
    QTest::newRow("same host, two files")
        << L({"--config", "a.hcf", "--config", "twin.hcf"}) << QStringList()
        << QStringLiteral("both name the host 10.0.0.1:30000");
    QTest::newRow("no host") << L({"--collect.processes"}) << QStringList()
                             << QStringLiteral("no host");
    QTest::newRow("missing file") << L({"--config", "nowhere.hcf"}) << QStringList()
                                  << QStringLiteral("nowhere.hcf");
    QTest::newRow("a FIFO, not waited on") << L({"--config", "fifo.hcf"}) << QStringList()
                                           << QStringLiteral("fifo.hcf: not a regular file");
    QTest::newRow("file without host") << L({"--config", "empty.hcf"}) << QStringList()
                                       << QStringLiteral("is not a valid integer value");
    QTest::newRow("empty folder") << L({"--config-dir", "none"}) << QStringList()
                                  << QStringLiteral("no .hcf file");
    QTest::newRow("bad timeout") << L({"--config", "a.hcf", "--collect.timeout", "0"})
                                 << QStringList() << QStringLiteral("--collect.timeout");
    QTest::newRow("unknown") << L({"--config", "a.hcf", "--verbose"}) << QStringList()
                             << QStringLiteral("unknown argument '--verbose'");
    QTest::newRow("unknown, with a value")
        << L({"--config", "a.hcf", "--verbose=2"}) << QStringList()
        << QStringLiteral("unknown argument '--verbose=2'");
    QTest::newRow("stray word") << L({"--config", "a.hcf", "b.hcf"}) << QStringList()
                                << QStringLiteral("unknown argument 'b.hcf'");
    QTest::newRow("value missing")
        << L({"--config"}) << QStringList() << QStringLiteral("--config needs a value");
    QTest::newRow("value to a switch")
        << L({"--config", "a.hcf", "--collect.processes=1"}) << QStringList()
        << QStringLiteral("--collect.processes takes no value");
    QTest::newRow("negative limit")
        << L({"--config", "a.hcf", "--collect.processes.limit", "-1"}) << QStringList()
        << QStringLiteral("--collect.processes.limit: '-1'");
    QTest::newRow("limit and web file")
        << L({"--config", "a.hcf", "--collect.processes.limit=0", "--web.config.file", "w.yml"})
        << L({"10.0.0.1:30000"}) << QString();
}

void TestExporter::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, hosts);
    QFETCH(QString, errorPart);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("sub")));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("none")));
    const auto save = [&](const char* name, const char* host, quint16 port) {
        ConnectionSettings s;
        s.HostAddress = host;
        s.Port = port;
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ConfigLine(s, '7'));
    };
    save("a.hcf", "10.0.0.1", 30000);
    save("twin.hcf", "10.0.0.1", 30000);
    save("sub/b.hcf", "10.0.0.2", 31000);
    save("sub/c.HCF", "10.0.0.3", 30000);
    QFile(dir.filePath(QStringLiteral("empty.hcf"))).open(QIODevice::WriteOnly);
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.hcf"))).constData(),
                     0600) == 0);

    ExporterOptions options;
    QString error;
    const bool ok = options.parse(arguments, dir.filePath(QStringLiteral("bin/orvanite-exporter")),
                                  dir.path(), error);
    if (hosts.isEmpty()) {
        QVERIFY(!ok);
        QVERIFY2(error.contains(errorPart), qPrintable(error));
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QStringList labels;
    for (const HostTarget& target : options.hosts)
        labels << target.label;
    QCOMPARE(labels, hosts);
}

void TestExporter::listenAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: refused
    QTest::addColumn<int>("port");
    QTest::newRow("every address") << QStringLiteral(":9100") << QStringLiteral("0.0.0.0") << 9100;
    QTest::newRow("IPv6") << QStringLiteral("[::1]:0") << QStringLiteral("::1") << 0;
    QTest::newRow("no port") << QStringLiteral("127.0.0.1") << QString() << 0;
    QTest::newRow("port too big") << QStringLiteral(":65536") << QString() << 0;
    QTest::newRow("not an address") << QStringLiteral("east:80") << QString() << 0;
}

void TestExporter::listenAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(int, port);
    QHostAddress parsed;
    quint16 parsedPort = 1;
    const bool ok = parseListenAddress(text, parsed, parsedPort);
    QCOMPARE(ok, !address.isEmpty());
    if (ok) {
        QCOMPARE(parsed.toString(), address);
        QCOMPARE(int(parsedPort), port);
    }
}

void TestExporter::collectsEveryListener()
{
    HostSim sim;
    populate(sim);
    QVERIFY(sim.listen());
    HostTarget target = targetFor(sim);
    target.settings.HostAddress = "localhost"; // a name, looked up off the thread
    HostCollector host(target, true);
    QSignalSpy done(&host, &HostCollector::finished);
    host.collect(5000);
    QVERIFY(done.wait(5000));
    const HostSample& s = host.sample();
    QVERIFY(s.up);
    QCOMPARE(s.listeners.size(), size_t(2));
    QCOMPARE(s.listeners[0].product, QByteArray("Parcel Transfer"));
    QCOMPARE(s.listeners[0].processes, 2);
    QCOMPARE(s.listeners[0].cpuMs, 1750);
    QCOMPARE(s.listeners[1].product, QByteArray("77"));
    QCOMPARE(s.listeners[1].maxUsers, 5);
    QCOMPARE(s.listeners[1].processes, 1);
    QCOMPARE(s.processes.size(), size_t(3));
    QCOMPARE(s.processes[2].listener, QByteArray("12"));
    QCOMPARE(s.processes[2].user, QByteArray("Q\"\\"));
}

void TestExporter::processLimit_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QByteArray>("pins"); // of the process series kept
    QTest::addColumn<QByteArray>("omitted");
    QTest::newRow("none") << qint64(0) << QByteArray() << QByteArray("3");
    QTest::newRow("one short") << qint64(2) << QByteArray("101 102") << QByteArray("1");
    QTest::newRow("exactly") << qint64(3) << QByteArray("101 102 201") << QByteArray("0");
}

void TestExporter::processLimit()
{
    QFETCH(qint64, limit);
    QFETCH(QByteArray, pins);
    QFETCH(QByteArray, omitted);
    HostSim sim;
    populate(sim);
    QVERIFY(sim.listen());
    HostCollector host(targetFor(sim), true);
    host.setProcessLimit(limit);
    QSignalSpy done(&host, &HostCollector::finished);
    host.collect(5000);
    QVERIFY(done.wait(5000));
    QByteArrayList kept;
    for (const ProcessSample& p : host.sample().processes)
        kept << p.pin;
    QCOMPARE(kept.join(' '), pins);
    // The listeners' sums still count every process.
    QCOMPARE(host.sample().listeners[0].processes, 2);
    QCOMPARE(host.sample().listeners[1].processes, 1);
    const QByteArray text = Exposition::write({&host.sample()}, true);
    QCOMPARE(seriesLines(text, "orvanite_process_series_omitted"),
             QStringLiteral("orvanite_process_series_omitted{host=\"127.0.0.1:%1\"} ")
                     .arg(sim.serverPort())
                     .toUtf8() +
                 omitted + '\n');
}

void TestExporter::failingHostsHoldNobodyUp()
{
    HostSim good, silent;
    populate(good);
    silent.Faults.Silent = true;
    QVERIFY(good.listen());
    QVERIFY(silent.listen());
    HostCollector slow(targetFor(silent), false);
    HostCollector fast(targetFor(good), false);
    QSignalSpy slowDone(&slow, &HostCollector::finished);
    QSignalSpy fastDone(&fast, &HostCollector::finished);
    slow.collect(1500);
    fast.collect(1500);
    // The live host is listed while the silent one still waits.
    QVERIFY(fastDone.wait(5000));
    QVERIFY(slow.isCollecting());
    QVERIFY(fast.sample().up);
    QVERIFY(slowDone.wait(5000));
    QVERIFY(!slow.sample().up);
    QCOMPARE(slow.sample().errors[size_t(CollectError::Timeout)], 1u);
}

void TestExporter::failuresByReason_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("reason");
    QTest::addColumn<qint64>("processesOf11");
    QTest::newRow("refused") << QByteArray("refused") << false << int(CollectError::LogonRefused)
                             << qint64(0);
    QTest::newRow("no server process")
        << QByteArray("failed") << false << int(CollectError::LogonFailed) << qint64(0);
    QTest::newRow("nobody listens")
        << QByteArray("closed port") << false << int(CollectError::Connect) << qint64(0);
    QTest::newRow("closed in a list")
        << QByteArray("close") << false << int(CollectError::Closed) << qint64(0);
    QTest::newRow("bad header") << QByteArray("header") << false << int(CollectError::BadReply)
                                << qint64(0);
    QTest::newRow("unreadable record")
        << QByteArray("malformed") << true << int(CollectError::MalformedRecord) << qint64(2);
}

void TestExporter::failuresByReason()
{
    QFETCH(QByteArray, fault);
    QFETCH(bool, up);
    QFETCH(int, reason);
    QFETCH(qint64, processesOf11);
    auto sim = std::make_unique<HostSim>();
    populate(*sim);
    if (fault == "refused")
        sim->Credentials[0] = "OTHER";
    else if (fault == "failed")
        sim->Faults.LogonReply = "2";
    else if (fault == "close")
        sim->Faults.CloseAfterRecords = 1;
    else if (fault == "header")
        sim->Faults.BadHeader = true;
    else if (fault == "malformed")
        sim->Processes.append({"11", "11", "103", "P", "U", 0, 0, "P0x|103|P|U|12a"});
    QVERIFY(sim->listen());
    const HostTarget target = targetFor(*sim);
    if (fault == "closed port")
        sim.reset();

    HostCollector host(target, false);
    QSignalSpy done(&host, &HostCollector::finished);
    host.collect(5000);
    QVERIFY(done.wait(5000));
    QCOMPARE(host.sample().up, up);
    for (int r = 0; r < CollectErrorCount; ++r)
        QCOMPARE(host.sample().errors[size_t(r)], r == reason ? 1u : 0u);
    if (up)
        QCOMPARE(host.sample().listeners[0].processes, processesOf11);
    else
        QVERIFY(host.sample().listeners.empty());
}

void TestExporter::sessionKeptBetweenScrapes()
{
    HostSim sim;
    populate(sim);
    QVERIFY(sim.listen());
    HostCollector host(targetFor(sim), false);
    QSignalSpy done(&host, &HostCollector::finished);
    for (int scrape = 0; scrape < 3; ++scrape) {
        host.collect(5000);
        QVERIFY(done.wait(5000));
        QVERIFY(host.sample().up);
    }
    QCOMPARE(sim.connectionCount(), 1);

    // A failed collection drops the connection; the next one logs on afresh.
    sim.Faults.CloseAfterRecords = 0;
    host.collect(5000);
    QVERIFY(done.wait(5000));
    QVERIFY(!host.sample().up);
    sim.Faults.CloseAfterRecords = -1;
    host.collect(5000);
    QVERIFY(done.wait(5000));
    QVERIFY(host.sample().up);
    QCOMPARE(host.sample().errors[size_t(CollectError::Closed)], 1u);
    QCOMPARE(sim.connectionCount(), 2);
}

void TestExporter::servedExpositionPassesPromtool()
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (scripts/setup.sh installs it)");
    HostSim good, refusing;
    populate(good);
    refusing.Credentials[0] = "OTHER";
    QVERIFY(good.listen());
    QVERIFY(refusing.listen());
    FleetCollector fleet({targetFor(good), targetFor(refusing)}, true);
    MetricsServer server(fleet, 5000);
    QString error;
    const quint16 port = server.start(QHostAddress::LocalHost, 0, {}, std::nullopt, error);
    QVERIFY(port != 0);

    QNetworkAccessManager network;
    const auto get = [&](const char* path) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QString::fromLatin1(path))));
        request.setRawHeader("X-Prometheus-Scrape-Timeout-Seconds", "3");
        QNetworkReply* reply = network.get(request);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(10000);
        reply->deleteLater();
        return reply;
    };
    QNetworkReply* missing = get("/other");
    QCOMPARE(missing->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QNetworkReply* index = get("/");
    QVERIFY(index->readAll().contains("<a href=\"/metrics\">"));
    QNetworkReply* metrics = get("/metrics");
    QCOMPARE(metrics->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(metrics->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
             QByteArray("text/plain; version=0.0.4; charset=utf-8"));
    const QByteArray body = metrics->readAll();
    QVERIFY(body.contains(QStringLiteral("orvanite_up{host=\"127.0.0.1:%1\"} 0\n")
                              .arg(refusing.serverPort())
                              .toUtf8()));
    QVERIFY(body.contains("program=\"ODD\\\"\\\\PROG\""));

    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(body);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
}

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
