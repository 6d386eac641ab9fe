// The console protocol over THostSocket against the simulated server job:
// logon bytes and replies, framed requests, list reading and its endings,
// refusal of bodies the header cannot announce.
#include "AppErrors.h"
#include "ConsoleProtocol.h"
#include "HostLinkTestSupport.h"
#include "HostSim.h"
#include "HostSocket.h"
#include "Wire.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

class TstConsoleProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void logonSends118Bytes();
    void logonCutsFieldsTo16();
    void logonReplies_data();
    void logonReplies();
    void logonWithoutHost();
    void logonPeerCloses();
    void readsEveryRecordExample_data();
    void readsEveryRecordExample();
    void emptyList();
    void badHeaderEndsListAndNextRequestRecovers();
    void peerCloseMidList();
    void requestBytesOnTheWire();
    void refusesBodiesLongerThan9999();
    void notConnectedSendsNothing();
    void tenSecondRule();

private:
    void logOn();
    // Sends a list request and reads the whole reply.
    QList<QByteArray> readList(char letter, std::optional<QByteArrayView> argument = std::nullopt);

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<THostSocket> socket;
    std::unique_ptr<TConsoleProtocol> protocol;
    std::unique_ptr<ErrorRecorder> errors;
    QStringList events; // socket errors and messages, in the order they reached the operator
};

void TstConsoleProtocol::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    socket = std::make_unique<THostSocket>();
    events.clear();
    protocol = MakeProtocol(*socket, sim->serverPort(), events);
}

void TstConsoleProtocol::cleanup()
{
    protocol.reset();
    socket.reset();
    sim.reset();
}

void TstConsoleProtocol::logOn()
{
    QVERIFY(protocol->Logon());
    QVERIFY(events.isEmpty());
}

QList<QByteArray> TstConsoleProtocol::readList(char letter, std::optional<QByteArrayView> argument)
{
    protocol->SendCommand(letter, argument);
    QList<QByteArray> bodies;
    QByteArray body;
    while (protocol->ReadReply(body) > 0)
        bodies.append(body);
    return bodies;
}

void TstConsoleProtocol::logonSends118Bytes()
{
    QSignalSpy logon(sim.get(), &HostSim::logonReceived);
    logOn();
    QCOMPARE(protocol->LastLogonOutcome(), TConsoleProtocol::LogonOutcome::Accepted);
    QVERIFY(socket->Authorized);
    const QByteArray expected = "000001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(45, ' ');
    QCOMPARE(expected.size(), 118);
    QCOMPARE(sim->received(), expected);
    QCOMPARE(logon.count(), 1);
}

void TstConsoleProtocol::logonCutsFieldsTo16()
{
    sim->Credentials[0] = "ABCDEFGHIJKLMNOP";
    socket->LogonFields[0] = "ABCDEFGHIJKLMNOPQRST";
    logOn();
    QCOMPARE(sim->received().mid(6, 16), "ABCDEFGHIJKLMNOP"_ba);
}

void TstConsoleProtocol::logonReplies_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: never answered
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("outcome");

    using O = TConsoleProtocol::LogonOutcome;
    QTest::newRow("0") << "0"_ba << true << QStringList{} << int(O::Accepted);
    QTest::newRow("1") << "1"_ba << false << QStringList{u"Invalid Login!"_s} << int(O::Refused);
    QTest::newRow("9") << "9"_ba << false << QStringList{u"Error creating server process!"_s}
                       << int(O::Failed);
    QTest::newRow("none") << QByteArray() << false
                          << QStringList{u"10060 Connection timed out"_s,
                                         u"Error creating server process!"_s}
                          << int(O::Failed);
}

void TstConsoleProtocol::logonReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QFETCH(QStringList, shown);
    QFETCH(int, outcome);
    sim->Faults.LogonReply = reply;
    sim->Faults.LogonNever = reply.isEmpty();
    socket->ReadTimeout = 0; // the wait's length is not what this test is about
    QCOMPARE(protocol->Logon(), accepted);
    QCOMPARE(events, shown);
    QCOMPARE(int(protocol->LastLogonOutcome()), outcome);
    // A failed logon leaves the connection open; the caller decides.
    QCOMPARE(socket->State(), hsConnected);
}

void TstConsoleProtocol::logonWithoutHost()
{
    socket->HostAddress.clear();
    QVERIFY(!protocol->Logon());
    QCOMPARE(protocol->LastLogonOutcome(), TConsoleProtocol::LogonOutcome::NoHost);
    QVERIFY(events.isEmpty());
    QVERIFY(!socket->Authorized);
    QCOMPARE(socket->SocketHandle(), -1);
    QCOMPARE(sim->connectionCount(), 0);
}

void TstConsoleProtocol::logonPeerCloses()
{
    sim->Faults.CloseDuringLogon = true;
    QVERIFY(!protocol->Logon());
    QCOMPARE(events, QStringList{u"Error creating server process!"_s});
    QCOMPARE(socket->State(), hsClosed);
}

void TstConsoleProtocol::readsEveryRecordExample_data()
{
    QTest::addColumn<bool>("splitWrites");
    QTest::newRow("whole writes") << false;
    QTest::newRow("one byte at a time") << true;
}

void TstConsoleProtocol::readsEveryRecordExample()
{
    QFETCH(bool, splitWrites);
    sim->Listeners = {{"1234", "30001", "PROGNAME", "2", "0", {}},
                      {"1235", "30002", "PROGNAME", "2", "0", "|X"},
                      {"77", "30004", "VGDSRVR.KQ.ORVANITE;PRI=DS S", "16", "30", {}}};
    SimProcess withMain{"1234", "123", "456", "PROG", "USER", 2500, 3, {}};
    withMain.RawRecord = "P0123|456|PROG|USER|2500|3";
    SimProcess noMain{"1234", {}, "456", "PROG", "USER", 2500, 0, {}};
    noMain.RawRecord = "P1999|456|PROG|USER|2500";
    SimProcess barFlag{"1234", {}, "456", "PROG", "USER", 2500, 0, {}};
    barFlag.RawRecord = "P|456|PROG|USER|2500";
    sim->Processes = {withMain, noMain, barFlag};
    logOn();
    sim->Faults.SplitWrites = splitWrites;

    const QList<QByteArray> listeners = readList(Wire::GetListeners);
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::EndOfList);
    QCOMPARE(listeners, (QList<QByteArray>{"S1234|30001 PROGNAME|2|0", "S1235|30002 PROGNAME|2|0|X",
                                           "S77|30004 VGDSRVR.KQ.ORVANITE;PRI=DS S|16|30"}));
    for (const QByteArray& body : listeners) {
        const Wire::SplitResult r = Wire::splitRecord(body);
        QVERIFY2(r.ok(), qPrintable(Wire::errorText(r)));
        QCOMPARE(r.kind, Wire::RecordKind::Listener);
    }
    const Wire::SplitResult tail = Wire::splitRecord(listeners[1]);
    QCOMPARE(tail.listener.pin, QByteArrayView("1235"));
    QCOMPARE(tail.listener.userLimitNumber, 0);
    const Wire::SplitResult spaced = Wire::splitRecord(listeners[2]);
    QCOMPARE(spaced.listener.program, QByteArrayView("VGDSRVR.KQ.ORVANITE;PRI=DS S"));

    const QList<QByteArray> processes = readList(Wire::GetProcesses, QByteArrayView("1234"));
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::EndOfList);
    QCOMPARE(processes, (QList<QByteArray>{"P0123|456|PROG|USER|2500|3", "P1999|456|PROG|USER|2500",
                                           "P|456|PROG|USER|2500"}));
    const Wire::SplitResult p = Wire::splitRecord(processes[0]);
    QCOMPARE(p.process.mainPin, QByteArrayView("123"));
    QCOMPARE(p.process.priority, 3);
    QCOMPARE(Wire::priorityText(p.process.priority), "DS"_ba);
    QVERIFY(events.isEmpty());
}

void TstConsoleProtocol::emptyList()
{
    sim->Listeners.clear();
    logOn();
    QVERIFY(readList(Wire::GetListeners).isEmpty());
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::EndOfList);
    QCOMPARE(socket->ReadTimeout, 10); // every framed read sets it
    QVERIFY(events.isEmpty());
}

void TstConsoleProtocol::badHeaderEndsListAndNextRequestRecovers()
{
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}}, {"22", "30002", "TWO", "3", "5", {}}};
    logOn();
    sim->Faults.BadHeader = true;
    QVERIFY(readList(Wire::GetListeners).isEmpty());
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::BadHeader);
    QVERIFY(events.isEmpty()); // nothing reported
    QCOMPARE(socket->State(), hsConnected);
    // What was left of that reply is dropped by the next request.
    sim->Faults.BadHeader = false;
    QTRY_VERIFY(socket->RecvCount() > 0);
    QCOMPARE(readList(Wire::GetListeners),
             (QList<QByteArray>{"S11|30001 ONE|2|0", "S22|30002 TWO|3|5"}));
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::EndOfList);
}

void TstConsoleProtocol::peerCloseMidList()
{
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                      {"22", "30002", "TWO", "3", "5", {}},
                      {"33", "30003", "THREE", "4", "0", {}}};
    logOn();
    sim->Faults.CloseAfterRecords = 1;
    protocol->SendCommand(Wire::GetListeners);
    QByteArray body;
    QVERIFY(protocol->ReadReply(body) > 0);
    QCOMPARE(body, "S11|30001 ONE|2|0"_ba);
    QCOMPARE(protocol->ReadReply(body), 0);
    QVERIFY(protocol->LastReplyEnd() == TConsoleProtocol::ReplyEnd::Closed ||
            protocol->LastReplyEnd() == TConsoleProtocol::ReplyEnd::NotConnected);
    QCOMPARE(socket->State(), hsClosed);
    QVERIFY(events.isEmpty());
}

void TstConsoleProtocol::requestBytesOnTheWire()
{
    sim->Listeners = {{"1234", "30001", "ONE", "2", "0", {}}};
    logOn();
    QSignalSpy requests(sim.get(), &HostSim::requestReceived);
    const qsizetype before = sim->received().size();

    // The simulator may take a request in while the sender still pumps events.
    protocol->SendCommand(Wire::SetPriority, Wire::setPriorityArgument("456", 0));
    QTRY_COMPARE(requests.count(), 1);
    protocol->SendCommand(Wire::Kill, Wire::killProcessArgument("123", "456"));
    QTRY_COMPARE(requests.count(), 2);
    protocol->SendCommand(Wire::GetProcesses, QByteArrayView("1234"));
    QTRY_COMPARE(requests.count(), 3);

    QCOMPARE(sim->received().mid(before), "0001P0000"
                                          "0001K0008P123|456"
                                          "0001H00041234"_ba);
}

void TstConsoleProtocol::refusesBodiesLongerThan9999()
{
    logOn();
    const qsizetype before = sim->received().size();
    QVERIFY_THROWS_EXCEPTION(EAppError, protocol->SendRequest(QByteArray(10000, 'x')));
    // The letter is not sent either when its argument is refused.
    try {
        protocol->SendCommand(Wire::StartListener, QByteArray(10000, 'x'));
        QFAIL("a 10000-byte argument was accepted");
    } catch (const EAppError& e) {
        QVERIFY(e.message().contains(u"9999"_s));
    }
    // The longest body that can be framed still goes out.
    QSignalSpy requests(sim.get(), &HostSim::requestReceived);
    const QByteArray longest = "16|30009|5|" + QByteArray(9999 - 11, 'C');
    protocol->SendCommand(Wire::StartListener, longest);
    QTRY_COMPARE(requests.count(), 1);
    QCOMPARE(sim->received().mid(before), "0001S9999" + longest);
}

void TstConsoleProtocol::notConnectedSendsNothing()
{
    protocol->SendRequest("G");
    protocol->SendCommand(Wire::GetProcesses, QByteArrayView("1"));
    QByteArray body = "untouched";
    QCOMPARE(protocol->ReadReply(body), 0);
    QCOMPARE(body, "untouched"_ba);
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::NotConnected);
    QVERIFY(events.isEmpty());
    QCOMPARE(sim->connectionCount(), 0);
}

static double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void TstConsoleProtocol::tenSecondRule()
{
    // The real time-out of a framed read: ReadTimeout 10 gives 10060 after 11
    // whole seconds, not before, and the wait does not spin.
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}}};
    logOn();
    sim->Faults.ReplyDelaySeconds = 60;
    protocol->SendCommand(Wire::GetListeners);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QByteArray body;
    QCOMPARE(protocol->ReadReply(body), 0);
    const qint64 waited = clock.elapsed();
    QCOMPARE(socket->ReadTimeout, 10);
    QCOMPARE(events, QStringList{u"10060 Connection timed out"_s});
    QCOMPARE(protocol->LastReplyEnd(), TConsoleProtocol::ReplyEnd::TimedOut);
    QVERIFY2(waited >= 11000, qPrintable(u"reported after %1 ms"_s.arg(waited)));
    QVERIFY2(waited < 14000, qPrintable(u"reported after %1 ms"_s.arg(waited)));
    // A spinning wait would burn about 11 s of CPU.
    QVERIFY2(cpuSeconds() - cpuBefore < 2.0, "the wait kept a core busy");
    QCOMPARE(socket->State(), hsConnected);
}

QTEST_GUILESS_MAIN(TstConsoleProtocol)
#include "tst_ConsoleProtocol.moc"
