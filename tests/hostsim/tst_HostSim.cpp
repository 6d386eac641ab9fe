// Byte-level tests of the simulated server job: a plain socket against an
// in-process HostSim on an ephemeral port.

#include "RawClient.h"
#include "hostsim/HostSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <netinet/in.h>
#include <numeric>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(HostSimFaults)

namespace {

QByteArray frame(const QByteArray& body)
{
    return QByteArray::number(body.size()).rightJustified(4, '0') + body;
}

const QByteArray ListenerBytes = "0024S1234|30001 PROGNAME|2|0"
                                 "0024S77|30002 MY PROG|8|10|X"
                                 "0000";
const QByteArray ProcessBytes = "0026P0123|456|PROG|USER|2500|3"
                                "0021P1|457|PROG|USER|2500"
                                "0020P|458|PROG|USER|2500"
                                "0000";

} // namespace

class tst_HostSim : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HostSim> sim;

private Q_SLOTS:
    void init()
    {
        sim = std::make_unique<HostSim>();
        sim->Listeners = {{"1234", "30001", "PROGNAME", "2", "0", {}},
                          {"77", "30002", "MY PROG", "8", "10", "|X"}};
        sim->Processes = {{"1234", "123", "456", "PROG", "USER", 2500, 3, {}},
                          {"1234", "", "457", "PROG", "USER", 2500, 0, {}},
                          {"1234", "", "", "", "", 0, 0, "P|458|PROG|USER|2500"}};
        QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    }
    void cleanup() { sim.reset(); }

    // The logon in two writes (it is taken only once all 118 bytes are
    // there), a list request and Quit: what comes back before the close.
    // Only an accepted logon is served lists.
    void logonReplies_data()
    {
        QTest::addColumn<QByteArray>("logon");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("requests"); // the host took after the logon
        const auto row = [](const char* name, const QByteArray& logon, const QString& fault,
                            const QByteArray& expected, int requests) {
            QTest::newRow(name) << logon << fault << expected << requests;
        };
        const QByteArray manager = RawClient::managerLogon();
        QCOMPARE(manager, "000001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(45, ' '));
        row("accepted", manager, QString(), "0" + ListenerBytes, 2);
        const auto refused = [&](const char* name, const QList<QByteArray>& fields) {
            row(name, RawClient::logonBytes(fields), QString(), "1", 2);
        };
        refused("lower-case user", {"manager", "", "", "", "SYS", "", ""});
        refused("wrong account", {"MANAGER", "", "", "", "SYSX", "", ""});
        refused("password given", {"MANAGER", "PW", "", "", "SYS", "", ""});
        refused("extra given", {"MANAGER", "", "", "", "SYS", "", "X"});
        refused("group in the user slot", {"", "", "MANAGER", "", "SYS", "", ""});
        // A five-digit kind shifts every field by one byte.
        row("shifted", "00001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(46, ' '),
            QString(), "1", 2);
        row("long credentials cut to 16",
            RawClient::logonBytes({"ABCDEFGHIJKLMNOP", "SECRET", "", "", "SYS", "", ""}), u"long"_s,
            "0" + ListenerBytes, 2);
        row("reply 9", manager, u"9"_s, "9", 2);
        row("never", manager, u"never"_s, QByteArray(), 2);
        row("silent", manager, u"silent"_s, QByteArray(), 2);
        row("close during logon", manager, u"close"_s, QByteArray(), 0);
    }
    void logonReplies()
    {
        QFETCH(QByteArray, logon);
        QFETCH(QString, fault);
        QFETCH(QByteArray, expected);
        QFETCH(int, requests);
        HostSimFaults& f = sim->Faults;
        if (fault == u"long")
            sim->Credentials = {"ABCDEFGHIJKLMNOPQRST", "SECRET", "", "", "SYS", "", ""};
        if (fault == u"9")
            f.LogonReply = "9";
        f.LogonNever = fault == u"never";
        f.Silent = fault == u"silent";
        f.CloseDuringLogon = fault == u"close";
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        QSignalSpy logons(sim.get(), &HostSim::logonReceived);
        QSignalSpy taken(sim.get(), &HostSim::requestReceived);
        client.send(logon.left(50));
        QTest::qWait(0);
        QCOMPARE(logons.size(), 0);
        client.send(logon.mid(50) + "0001G0001Q");
        QVERIFY(client.waitForClose());
        QCOMPARE(client.data(), expected);
        QCOMPARE(taken.size(), requests);
        QCOMPARE(logons.size(), 1);
        QCOMPARE(logons[0][0].toByteArray(), logon);
        QCOMPARE(sim->received(), logon + "0001G0001Q");
    }

    // Requests in one write and every byte of the replies, the population
    // as init() leaves it; replies encoded per request, then prepared. Each
    // request that changes the population is seen by the next list.
    void exchanges_data()
    {
        QTest::addColumn<bool>("prepared");
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("quit"); // Quit follows (else the requests end the connection)
        const auto row = [](const char* name, const QByteArray& requests,
                            const QByteArray& expected, bool quit = true) {
            for (const bool prepared : {false, true})
                QTest::addRow("%s%s", name, prepared ? ", prepared" : "")
                    << prepared << requests << expected << quit;
        };
        const QByteArray h1234 = "0001H00041234";
        row("listeners", "0001G", ListenerBytes);
        row("processes", h1234, ProcessBytes);
        row("listener without processes", "0001H000277", "0000");
        row("no such listener", "0001H00049999", "0000");
        row("several requests", "0001G" + h1234 + "0001G",
            ListenerBytes + ProcessBytes + ListenerBytes);
        // An unknown letter is ignored; a header that is not a number closes.
        row("unknown letter, then a bad header", "0001Z0002GG0001G00x1G", ListenerBytes, false);
        // The new listener takes the next PIN above every PIN in use, and the
        // command's first word up to its first dot.
        row("start listener", "0001S" + frame("16|30004|5|VGDSRVR.KQ.ORVANITE;PRI=DS S") + "0001G",
            ListenerBytes.chopped(4) + "0024S1235|30004 VGDSRVR|16|50000");
        row("start: product not decimal", "0001S" + frame("x|30004|5|VGDSRVR.KQ") + "0001G",
            ListenerBytes);
        row("start: port missing", "0001S" + frame("16||5|VGDSRVR.KQ") + "0001G", ListenerBytes);
        row("start: too few bars", "0001S" + frame("16|30004|VGDSRVR.KQ") + "0001G", ListenerBytes);
        row("start: no command", "0001S" + frame("16|30004|5|") + "0001G", ListenerBytes);
        row("kill process, wrong main PIN", "0001K" + frame("P999|456") + h1234, ProcessBytes);
        row("kill process", "0001K" + frame("P123|456") + h1234,
            "0021P1|457|PROG|USER|2500"
            "0020P|458|PROG|USER|2500"
            "0000");
        row("kill listener and its processes", "0001K" + frame("S1234") + "0001G" + h1234,
            "0024S77|30002 MY PROG|8|10|X0000"
            "0000");
        // No queue chosen, or not a queue (7): nothing changes.
        row("set priority",
            "0001P0000" + ("0001P" + frame("457|4")) + ("0001P" + frame("456|2")) +
                ("0001P" + frame("457|7")) + h1234,
            "0026P0123|456|PROG|USER|2500|2"
            "0023P1|457|PROG|USER|2500|4"
            "0020P|458|PROG|USER|2500"
            "0000");
    }
    void exchanges()
    {
        QFETCH(bool, prepared);
        QFETCH(QByteArray, requests);
        QFETCH(QByteArray, expected);
        QFETCH(bool, quit);
        sim->setPrepared(prepared);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send(quit ? requests + "0001Q" : requests);
        QVERIFY(client.waitForClose());
        QCOMPARE(client.data(), expected);
    }

    // A request is taken once its last byte is there, and its list told.
    void requestsSplitAnyWay_data()
    {
        QTest::addColumn<bool>("prepared");
        QTest::newRow("encoded per request") << false;
        QTest::newRow("prepared") << true;
    }
    void requestsSplitAnyWay()
    {
        QFETCH(bool, prepared);
        sim->setPrepared(prepared);
        QSignalSpy requests(sim.get(), &HostSim::requestReceived);
        QSignalSpy lists(sim.get(), &HostSim::listSent);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        const QByteArray bytes = "0001H00041234";
        for (char c : bytes) {
            QVERIFY(client.data().isEmpty()); // nothing before the argument is complete
            QCOMPARE(requests.size(), 0);
            client.send(QByteArray(1, c));
            QTest::qWait(1);
        }
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ProcessBytes);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0][0].toByteArray(), "H");
        QCOMPARE(requests[0][1].toByteArray(), "1234");
        QCOMPARE(client.ask("0001G"), ListenerBytes);
        QTRY_COMPARE(lists.size(), 2);
        QCOMPARE(lists[0][0].toByteArray(), "H");
        QCOMPARE(lists[0][1].toInt(), 3);
        QCOMPARE(lists[1][0].toByteArray(), "G");
        QCOMPARE(lists[1][1].toInt(), 2);
    }

    // Of two connections, Quit closes the one it came on; shutdown closes
    // both and ends the job, whose listeners a new connection no longer finds.
    void quitAndShutdown_data()
    {
        QTest::addColumn<bool>("shutdown");
        QTest::newRow("Quit") << false;
        QTest::newRow("shutdown") << true;
    }
    void quitAndShutdown()
    {
        QFETCH(bool, shutdown);
        QSignalSpy shutdowns(sim.get(), &HostSim::shutdownRequested);
        QSignalSpy gone(sim.get(), &HostSim::clientDisconnected);
        RawClient first;
        RawClient second;
        QVERIFY(first.logOn(sim->serverPort()));
        QVERIFY(second.logOn(sim->serverPort()));
        first.send(shutdown ? "0001E" : "0001Q");
        QVERIFY(first.waitForClose());
        QTRY_COMPARE(gone.size(), shutdown ? 2 : 1);
        QCOMPARE(sim->openConnections(), shutdown ? 0 : 1);
        QCOMPARE(shutdowns.size(), shutdown ? 1 : 0);
        if (!shutdown)
            QCOMPARE(second.ask("0001G"), ListenerBytes);
        QCOMPARE(sim->Processes.isEmpty(), shutdown);
        RawClient later;
        QVERIFY(later.logOn(sim->serverPort()));
        QCOMPARE(later.ask("0001G"), shutdown ? "0000"_ba : ListenerBytes);
        QCOMPARE(sim->connectionCount(), 3);
    }

    // Each fault that shapes a list, against the two-listener list (the
    // stray listener record against the process list).
    void listFaults_data()
    {
        QTest::addColumn<HostSimFaults>("faults");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<int>("minMs"); // the list takes at least this long
        const QByteArray first = "S1234|30001 PROGNAME|2|0";
        const QByteArray second = "0024S77|30002 MY PROG|8|10|X";
        const auto row = [](const char* name, const HostSimFaults& faults,
                            const QByteArray& expected, bool closes = false, int minMs = 0) {
            QTest::newRow(name) << faults << expected << closes << minMs;
        };
        row("bad header", {.BadHeader = true}, "00x1" + first + second + "0000");
        row("long frame", {.LongFrame = true}, "0023" + first + second + "0000");
        row("short frame", {.ShortFrame = true}, "0029" + first + second + "0000");
        row("close after 0", {.CloseAfterRecords = 0}, QByteArray(), true);
        row("close after 1", {.CloseAfterRecords = 1}, "0024" + first, true);
        row("close after 2", {.CloseAfterRecords = 2}, "0024" + first + second, true);
        row("close after 3: whole list", {.CloseAfterRecords = 3}, ListenerBytes);
        row("split writes", {.SplitWrites = true}, ListenerBytes);
        row("trickle", {.TrickleSeconds = 0.05}, ListenerBytes, false, 150); // 3 writes
        row("reply delay", {.ReplyDelaySeconds = 0.2}, ListenerBytes, false, 200);
        row("listener record in the process list", {.SRecordInProcessList = true},
            "0024" + first + ProcessBytes);
    }
    void listFaults()
    {
        QFETCH(HostSimFaults, faults);
        QFETCH(QByteArray, expected);
        QFETCH(bool, closes);
        QFETCH(int, minMs);
        sim->Faults = faults;
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        QElapsedTimer clock;
        clock.start();
        client.send(faults.SRecordInProcessList ? "0001H00041234" : "0001G");
        if (closes) {
            QVERIFY(client.waitForClose());
        } else {
            QVERIFY(client.waitForBytes(expected.size()));
            // Nothing more is sent: the next list follows right behind.
            sim->Faults = HostSimFaults();
            client.send("0001G");
            QVERIFY(client.waitForBytes(expected.size() + ListenerBytes.size()));
            expected += ListenerBytes;
        }
        QCOMPARE(client.data(), expected);
        if (faults.SplitWrites)
            QVERIFY2(client.reads() > 10, qPrintable(QString::number(client.reads())));
        QVERIFY(clock.elapsed() >= minMs);
    }

    void resetAfterRecords()
    {
        // A plain POSIX socket: only recv() tells a reset (ECONNRESET) from a close.
        sim->Faults.ResetAfterRecords = 1;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        const sockaddr_in address{.sin_family = AF_INET,
                                  .sin_port = htons(sim->serverPort()),
                                  .sin_addr = {htonl(INADDR_LOOPBACK)},
                                  .sin_zero = {}};
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        QVERIFY(QTest::qWaitFor([&] { return sim->openConnections() == 1; }));
        const QByteArray request = RawClient::managerLogon() + "0001G";
        QCOMPARE(::send(fd, request.constData(), size_t(request.size()), 0), request.size());
        QByteArray got;
        int error = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                char buffer[4096];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    got.append(buffer, n);
                else if (n == 0)
                    error = -1; // an orderly close is the wrong answer
                else if (errno != EAGAIN)
                    error = errno;
                return error != 0;
            },
            5000));
        ::close(fd);
        QCOMPARE(error, ECONNRESET);
        QCOMPARE(got, "00024S1234|30001 PROGNAME|2|0"_ba);
    }

    void neverEndingList()
    {
        sim->Faults.NeverEndingList = true;
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001G");
        // Far past the simulator's own write buffer: it keeps producing as we read.
        QVERIFY(client.waitForBytes(2 * 1024 * 1024, 20000));
        const QByteArray bytes = client.data();
        QList<QByteArray> bodies;
        bool ended = false;
        RawClient::frames(bytes.left(bytes.size() - 200), &bodies, &ended);
        QVERIFY(!ended);
        QVERIFY(bodies.size() > 10000);
        QCOMPARE(bodies[0], "S1234|30001 PROGNAME|2|0");
        for (const QByteArray& body : std::as_const(bodies))
            QVERIFY(body.startsWith('S'));
    }

    void flood()
    {
        sim->Faults.FloodBytes = 100000;
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001G");
        QVERIFY(client.waitForBytes(100000));
        sim->Faults = HostSimFaults();
        client.send("0001Q");
        QVERIFY(client.waitForClose());
        const QByteArray bytes = client.data();
        QCOMPARE(bytes.size(), 100000);
        // Whole 9999-byte frames across the simulator's write batches; only
        // the last one is cut where the byte count ends.
        QList<QByteArray> bodies;
        bool ended = false;
        QVERIFY(RawClient::frames(bytes.left(9 * 10003), &bodies, &ended));
        QVERIFY(!ended);
        QCOMPARE(bodies.size(), 9);
        for (const QByteArray& body : std::as_const(bodies))
            QVERIFY(body.startsWith("P1|") && body.endsWith("XX|0"));
    }

    void populateLargeList()
    {
        sim->Listeners = {{"10", "30001", "PCLSRVR", "2", "0", {}}};
        sim->populate(100000);
        QCOMPARE(sim->Processes.size(), 100000);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001H000210");
        QVERIFY(client.waitForListEnd(30000));
        QList<QByteArray> bodies;
        bool ended = false;
        QVERIFY(RawClient::frames(client.data(), &bodies, &ended));
        QVERIFY(ended);
        QCOMPARE(bodies.size(), 100000);
        QVERIFY(bodies[1].startsWith("P010|"));
    }

    void populateSpreadsOverStandardListeners()
    {
        sim->Listeners.clear();
        sim->populate(1000);
        QCOMPARE(sim->Listeners.size(), 7);
        QCOMPARE(sim->Processes.size(), 1000);
        for (const SimListener& l : std::as_const(sim->Listeners)) {
            const auto n =
                std::count_if(sim->Processes.cbegin(), sim->Processes.cend(),
                              [&](const SimProcess& p) { return p.ListenerPin == l.Pin; });
            QVERIFY(n == 142 || n == 143);
        }
    }

    void scenarioExample()
    {
        QString error;
        QVERIFY2(sim->loadScenario(qEnvironmentVariable("ORV_SOURCE_DIR") +
                                       u"/data/scenarios/example.json"_s,
                                   &error),
                 qPrintable(error));
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        QCOMPARE(client.ask("0001G"), "0024S1234|30001 PROGNAME|2|0"
                                      "0027S1235|30002 CND SRVR|8|25|X"
                                      "0000");
        QCOMPARE(client.ask("0001H00041234"), ProcessBytes);
        QCOMPARE(client.ask("0001H00041235"),
                 "0033P01235|459|CNDSESS|REN\xc9\0HIDDEN|10"_ba + "0000");
    }

    void scenarioErrors_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        QTest::newRow("syntax") << "{\"listeners\": [}"_ba << u"line 1"_s;
        QTest::newRow("unknown key")
            << R"({"listeners":[{"pin":"1","port":"2","program":"P","product":"2","colour":"red"}]})"_ba
            << u"unknown key \"colour\""_s;
        QTest::newRow("missing pin")
            << R"({"listeners":[{"port":"2","program":"P","product":"2"}]})"_ba
            << u"\"pin\" is missing"_s;
        QTest::newRow("wide character")
            << R"({"processes":[{"listener":"1","raw":"P|1|\u20ac|U|1"}]})"_ba
            << u"not a single byte"_s;
        QTest::newRow("priority")
            << R"({"processes":[{"listener":"1","pin":"1","program":"P","user":"U","cpuMs":1,"priority":12}]})"_ba
            << u"priority"_s;
        QTest::newRow("not an object") << "[1]"_ba << u"one JSON object"_s;
    }
    void scenarioErrors()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"s.json"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        QString error;
        QVERIFY(!sim->loadScenario(file.fileName(), &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(sim->Listeners.size(), 2); // nothing lost on bad input
        QCOMPARE(sim->Processes.size(), 3);
    }

    void demoLivesOverTime()
    {
        sim->loadDemo();
        QStringList products;
        for (const SimListener& l : std::as_const(sim->Listeners))
            products.append(QString::fromLatin1(l.Product));
        QCOMPARE(products, (QStringList{u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"8"_s, u"16"_s, u"18"_s}));
        QVERIFY(sim->Processes.size() >= 24);
        QVERIFY(std::any_of(sim->Processes.cbegin(), sim->Processes.cend(),
                            [](const SimProcess& p) { return p.Priority > 0; }));
        const auto cpuMs = [this] {
            return std::accumulate(sim->Processes.cbegin(), sim->Processes.cend(), qint64(0),
                                   [](qint64 sum, const SimProcess& p) { return sum + p.CpuMs; });
        };
        const qint64 before = cpuMs();
        sim->setDemoInterval(5);
        QTRY_VERIFY(cpuMs() > before + 5000);
    }
};

QTEST_GUILESS_MAIN(tst_HostSim)
#include "tst_HostSim.moc"
