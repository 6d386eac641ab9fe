// Byte-level tests of the simulated server job: a plain socket against an
// in-process HostSim on an ephemeral port.

#include "hostsim/HostSim.h"
#include "RawClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray frame(const QByteArray& body)
{
    return QByteArray::number(body.size()).rightJustified(4, '0') + body;
}

QList<SimListener> twoListeners()
{
    return {{"1234", "30001", "PROGNAME", "2", "0", {}},
            {"77", "30002", "MY PROG", "8", "10", "|X"}};
}

QList<SimProcess> someProcesses()
{
    QList<SimProcess> p(3);
    p[0] = {"1234", "123", "456", "PROG", "USER", 2500, 3, {}};
    p[1] = {"1234", "", "457", "PROG", "USER", 2500, 0, {}};
    p[2] = {"1234", "", "", "", "", 0, 0, "P|458|PROG|USER|2500"};
    return p;
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

    void start()
    {
        sim = std::make_unique<HostSim>();
        sim->Listeners = twoListeners();
        sim->Processes = someProcesses();
        QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    }

private Q_SLOTS:
    void init() { start(); }
    void cleanup() { sim.reset(); }

    void logonAccepted()
    {
        QSignalSpy logons(sim.get(), &HostSim::logonReceived);
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        const QByteArray logon = RawClient::managerLogon();
        QCOMPARE(logon, "000001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(45, ' '));
        QCOMPARE(logon.size(), 118);
        // In two pieces: the logon is taken only once all 118 bytes are there.
        client.send(logon.left(50));
        QTest::qWait(0);
        client.send(logon.mid(50));
        QVERIFY(client.waitForBytes(1));
        QCOMPARE(client.take(), "0");
        QCOMPARE(logons.size(), 1);
        QCOMPARE(logons[0][0].toByteArray(), logon);
        QCOMPARE(sim->received(), logon);
    }

    void logonRefused_data()
    {
        QTest::addColumn<QByteArray>("logon");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray pad(16, ' ');
        QTest::newRow("lower-case user")
            << RawClient::logonBytes({"manager", "", "", "", "SYS", "", ""}) << "1"_ba;
        QTest::newRow("wrong account")
            << RawClient::logonBytes({"MANAGER", "", "", "", "SYSX", "", ""}) << "1"_ba;
        QTest::newRow("password given")
            << RawClient::logonBytes({"MANAGER", "PW", "", "", "SYS", "", ""}) << "1"_ba;
        QTest::newRow("extra given")
            << RawClient::logonBytes({"MANAGER", "", "", "", "SYS", "", "X"}) << "1"_ba;
        // A five-digit kind shifts every field by one byte.
        QTest::newRow("shifted") << ("00001MANAGER" + QByteArray(57, ' ') + "SYS" +
                                     QByteArray(46, ' '))
                                 << "1"_ba;
        QTest::newRow("group in the user slot")
            << RawClient::logonBytes({"", "", "MANAGER", "", "SYS", "", ""}) << "1"_ba;
    }
    void logonRefused()
    {
        QFETCH(QByteArray, logon);
        QFETCH(QByteArray, reply);
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        client.send(logon);
        QVERIFY(client.waitForBytes(1));
        QCOMPARE(client.take(), reply);
        // Refused: lists are not served, Quit still closes.
        client.send("0001G0001Q");
        QVERIFY(client.waitForClose());
        QCOMPARE(client.data(), QByteArray());
    }

    void longCredentialsAreCutTo16()
    {
        sim->Credentials = {"ABCDEFGHIJKLMNOPQRST", "SECRET", "", "", "SYS", "", ""};
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        client.send(RawClient::logonBytes({"ABCDEFGHIJKLMNOP", "SECRET", "", "", "SYS", "", ""}));
        QVERIFY(client.waitForBytes(1));
        QCOMPARE(client.take(), "0");
    }

    void listFraming()
    {
        QSignalSpy lists(sim.get(), &HostSim::listSent);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ListenerBytes);
        client.send("0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ProcessBytes);
        client.send("0001H000277"); // a listener without processes
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0000");
        QTRY_COMPARE(lists.size(), 3);
        QCOMPARE(lists[0][0].toByteArray(), "G");
        QCOMPARE(lists[0][1].toInt(), 2);
        QCOMPARE(lists[1][1].toInt(), 3);
    }

    void emptyListenerList()
    {
        sim->Listeners.clear();
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0000");
    }

    void requestsSplitAnyWay()
    {
        QSignalSpy requests(sim.get(), &HostSim::requestReceived);
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
        // Several requests in one write are all answered, in order.
        client.send("0001G0001H000412340001G");
        QVERIFY(client.waitForBytes(2 * ListenerBytes.size() + ProcessBytes.size()));
        QCOMPARE(client.take(), ListenerBytes + ProcessBytes + ListenerBytes);
    }

    void startListener()
    {
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        QSignalSpy requests(sim.get(), &HostSim::requestReceived);
        const QByteArray argument = "16|30004|5|VGDSRVR.KQ.ORVANITE;PRI=DS S";
        client.send("0001S" + frame(argument) + "0001G");
        QVERIFY(client.waitForListEnd());
        QList<QByteArray> bodies;
        bool ended = false;
        QVERIFY(RawClient::frames(client.take(), &bodies, &ended));
        QCOMPARE(bodies.size(), 3);
        QCOMPARE(requests[0][1].toByteArray(), argument);
        const QByteArray added = bodies[2];
        QVERIFY2(added.endsWith("|30004 VGDSRVR|16|5"), added.constData());
        const QByteArray pin = added.mid(1, added.indexOf('|') - 1);
        QVERIFY(pin != "1234" && pin != "77" && !pin.isEmpty());
        QCOMPARE(sim->Listeners.last().Pin, pin);
    }

    void startListenerRefused_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::newRow("product not decimal") << "x|30004|5|VGDSRVR.KQ"_ba;
        QTest::newRow("port missing") << "16||5|VGDSRVR.KQ"_ba;
        QTest::newRow("too few bars") << "16|30004|VGDSRVR.KQ"_ba;
        QTest::newRow("no command") << "16|30004|5|"_ba;
    }
    void startListenerRefused()
    {
        QFETCH(QByteArray, argument);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001S" + frame(argument) + "0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ListenerBytes);
    }

    void killListenerAndProcess()
    {
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        // Wrong main PIN: nothing dies.
        client.send("0001K" + frame("P999|456") + "0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ProcessBytes);
        client.send("0001K" + frame("P123|456") + "0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0021P1|457|PROG|USER|2500"
                                "0020P|458|PROG|USER|2500"
                                "0000");
        client.send("0001K" + frame("S1234") + "0001G0001H00041234");
        QVERIFY(client.waitForBytes(32 + 4));
        QCOMPARE(client.take(), "0024S77|30002 MY PROG|8|10|X0000"
                                "0000");
        QCOMPARE(sim->Processes.size(), 0);
    }

    void setPriority()
    {
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001P0000"); // no queue chosen: nothing changes
        client.send("0001P" + frame("457|4") + "0001P" + frame("456|2") + "0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0026P0123|456|PROG|USER|2500|2"
                                "0023P1|457|PROG|USER|2500|4"
                                "0020P|458|PROG|USER|2500"
                                "0000");
        client.send("0001P" + frame("457|7") + "0001H00041234"); // not a queue
        QVERIFY(client.waitForListEnd());
        QVERIFY(client.take().contains("0023P1|457|PROG|USER|2500|4"));
    }

    void shutdownClosesEveryConnection()
    {
        QSignalSpy shutdown(sim.get(), &HostSim::shutdownRequested);
        RawClient first;
        RawClient second;
        QVERIFY(first.logOn(sim->serverPort()));
        QVERIFY(second.logOn(sim->serverPort()));
        first.send("0001E");
        QVERIFY(first.waitForClose());
        QVERIFY(second.waitForClose());
        QCOMPARE(shutdown.size(), 1);
        QVERIFY(sim->Listeners.isEmpty());
        QVERIFY(sim->Processes.isEmpty());
        // The job is gone; a new connection finds no listeners.
        RawClient later;
        QVERIFY(later.logOn(sim->serverPort()));
        later.send("0001G");
        QVERIFY(later.waitForListEnd());
        QCOMPARE(later.take(), "0000");
    }

    void quitClosesOnlyThatConnection()
    {
        QSignalSpy gone(sim.get(), &HostSim::clientDisconnected);
        RawClient first;
        RawClient second;
        QVERIFY(first.logOn(sim->serverPort()));
        QVERIFY(second.logOn(sim->serverPort()));
        first.send("0001Q");
        QVERIFY(first.waitForClose());
        QTRY_COMPARE(gone.size(), 1);
        second.send("0001G");
        QVERIFY(second.waitForListEnd());
        QCOMPARE(second.take(), ListenerBytes);
        QCOMPARE(sim->connectionCount(), 2);
        QCOMPARE(sim->openConnections(), 1);
    }

    void unknownLetterIgnoredBadHeaderCloses()
    {
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001Z0002GG0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ListenerBytes);
        client.send("00x1G");
        QVERIFY(client.waitForClose());
    }

    // Each fault that shapes a list, against the two-listener list.
    void listFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("closes");
        const QByteArray first = "S1234|30001 PROGNAME|2|0";
        const QByteArray second = "0024S77|30002 MY PROG|8|10|X";
        QTest::newRow("bad header") << u"bad"_s << "00x1" + first + second + "0000" << false;
        QTest::newRow("long frame") << u"long"_s << "0023" + first + second + "0000" << false;
        QTest::newRow("short frame") << u"short"_s << "0029" + first + second + "0000" << false;
        QTest::newRow("close after 1") << u"close1"_s << "0024" + first << true;
        QTest::newRow("close after 0") << u"close0"_s << QByteArray() << true;
        QTest::newRow("close after 2") << u"close2"_s << "0024" + first + second << true;
        QTest::newRow("close after 3: whole list") << u"close3"_s << ListenerBytes << false;
        QTest::newRow("split writes") << u"split"_s << ListenerBytes << false;
        QTest::newRow("trickle") << u"trickle"_s << ListenerBytes << false;
    }
    void listFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, expected);
        QFETCH(bool, closes);
        HostSimFaults& f = sim->Faults;
        f.BadHeader = fault == u"bad";
        f.LongFrame = fault == u"long";
        f.ShortFrame = fault == u"short";
        f.SplitWrites = fault == u"split";
        f.TrickleSeconds = fault == u"trickle" ? 0.05 : 0;
        if (fault.startsWith(u"close"))
            f.CloseAfterRecords = fault.back().digitValue();
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        QElapsedTimer clock;
        clock.start();
        client.send("0001G");
        if (closes) {
            QVERIFY(client.waitForClose());
        } else {
            QVERIFY(client.waitForBytes(expected.size()));
            // Nothing more is sent: the next list follows right behind.
            f = HostSimFaults();
            client.send("0001G");
            QVERIFY(client.waitForBytes(expected.size() + ListenerBytes.size()));
            expected += ListenerBytes;
        }
        QCOMPARE(client.data(), expected);
        if (fault == u"split")
            QVERIFY2(client.reads() > 10, qPrintable(QString::number(client.reads())));
        if (fault == u"trickle")
            QVERIFY(clock.elapsed() >= 3 * 50); // two records and the end, one per interval
    }

    void sRecordInProcessList()
    {
        sim->Faults.SRecordInProcessList = true;
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0024S1234|30001 PROGNAME|2|0" + ProcessBytes);
    }

    void replyDelay()
    {
        sim->Faults.ReplyDelaySeconds = 0.2;
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        QElapsedTimer clock;
        clock.start();
        client.send(RawClient::managerLogon() + "0001G");
        QVERIFY(client.waitForBytes(1 + ListenerBytes.size()));
        QVERIFY(clock.elapsed() >= 200);
        QCOMPARE(client.take(), "0" + ListenerBytes);
    }

    void logonFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("reply 9") << u"9"_s << "9"_ba;
        QTest::newRow("never") << u"never"_s << QByteArray();
        QTest::newRow("silent") << u"silent"_s << QByteArray();
        QTest::newRow("close during logon") << u"close"_s << QByteArray();
    }
    void logonFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, expected);
        HostSimFaults& f = sim->Faults;
        if (fault == u"9")
            f.LogonReply = "9";
        f.LogonNever = fault == u"never";
        f.Silent = fault == u"silent";
        f.CloseDuringLogon = fault == u"close";
        RawClient client;
        QVERIFY(client.connectTo(sim->serverPort()));
        QSignalSpy requests(sim.get(), &HostSim::requestReceived);
        // Whatever the logon got, a list is not served; Quit closes, so the
        // close proves nothing else was coming.
        client.send(RawClient::managerLogon() + "0001G0001Q");
        QVERIFY(client.waitForClose());
        QCOMPARE(client.data(), expected);
        QCOMPARE(requests.size(), fault == u"close" ? 0 : 2);
    }

    void resetAfterRecords()
    {
        // A plain POSIX socket: only recv() tells a reset (ECONNRESET) from a close.
        sim->Faults.ResetAfterRecords = 1;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(sim->serverPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
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

    void preparedRepliesAreTheEncodedBytes()
    {
        sim->setPrepared(true);
        RawClient client;
        QVERIFY(client.logOn(sim->serverPort()));
        client.send("0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ListenerBytes);
        client.send("0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ProcessBytes);
        client.send("0001H00049999");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0000"_ba);
        // A request that changes the population is seen by the next list.
        client.send("0001K0008P123|456" + "0001H00041234"_ba);
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0021P1|457|PROG|USER|2500"
                                "0020P|458|PROG|USER|2500"
                                "0000"_ba);
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
        client.send("0001G");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0024S1234|30001 PROGNAME|2|0"
                                "0027S1235|30002 CND SRVR|8|25|X"
                                "0000");
        client.send("0001H00041234");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), ProcessBytes);
        client.send("0001H00041235");
        QVERIFY(client.waitForListEnd());
        QCOMPARE(client.take(), "0033P01235|459|CNDSESS|REN\xc9\0HIDDEN|10"_ba + "0000");
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
        qint64 before = 0;
        for (const SimProcess& p : std::as_const(sim->Processes))
            before += p.CpuMs;
        sim->setDemoInterval(5);
        QTRY_VERIFY([&] {
            qint64 now = 0;
            for (const SimProcess& p : std::as_const(sim->Processes))
                now += p.CpuMs;
            return now > before + 5000;
        }());
    }
};

QTEST_GUILESS_MAIN(tst_HostSim)
#include "tst_HostSim.moc"
