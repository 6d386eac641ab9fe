// Staying in step with the host: after a reply went missing, came late or was
// cut short, Resync renews the connection and the next list is exactly the
// host's current one; lists that never end or trickle are cut off by the
// record cap and the deadline. All against the simulator's fault flags.
#include "ConsoleProtocol.h"
#include "HostLinkTestSupport.h"
#include "HostSim.h"
#include "HostSocket.h"
#include "Wire.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using End = TConsoleProtocol::ReplyEnd;

class TstResync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void lateReplyIsNeverReadAfterResync();
    void cutShortThenResync_data();
    void cutShortThenResync();
    void listDeadline_data();
    void listDeadline();
    void recordCap_data();
    void recordCap();
    void millionRecordList();
    void resyncFails_data();
    void resyncFails();

private:
    void logOn();
    // Sends a list request and reads the list to its end.
    QList<QByteArray> readList(char letter, std::optional<QByteArrayView> argument = std::nullopt);
    // The listener records the host holds now, as it would send them.
    QList<QByteArray> currentListeners() const;

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<THostSocket> socket;
    std::unique_ptr<TConsoleProtocol> protocol;
    QStringList events; // socket errors and protocol messages, in order
};

void TstResync::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                      {"22", "30002", "TWO", "3", "5", {}},
                      {"33", "30003", "THREE", "4", "0", {}}};
    sim->Processes = {{"11", "11", "101", "PROG", "USER", 2500, 3, {}},
                      {"11", "11", "102", "PROG", "OTHER", 10, 0, {}}};
    socket = std::make_unique<THostSocket>();
    events.clear();
    protocol = MakeProtocol(*socket, sim->serverPort(), events);
}

void TstResync::cleanup()
{
    protocol.reset();
    socket.reset();
    sim.reset();
}

void TstResync::logOn()
{
    QVERIFY(protocol->Logon());
    QVERIFY(events.isEmpty());
}

QList<QByteArray> TstResync::readList(char letter, std::optional<QByteArrayView> argument)
{
    protocol->SendCommand(letter, argument);
    protocol->BeginList();
    QList<QByteArray> bodies;
    QByteArray body;
    while (protocol->ReadReply(body) > 0)
        bodies.append(body);
    return bodies;
}

QList<QByteArray> TstResync::currentListeners() const
{
    QList<QByteArray> out;
    for (const SimListener& l : sim->Listeners)
        out.append("S" + l.Pin + "|" + l.Port + " " + l.Program + "|" + l.Product + "|" +
                   l.UserLimit + l.Tail);
    return out;
}

void TstResync::lateReplyIsNeverReadAfterResync()
{
    logOn();
    // The shortest wait the socket has (about a second), and a host that
    // answers just after it.
    protocol->ReplyTimeout = 0;
    sim->Faults.ReplyDelaySeconds = 1.6;
    protocol->SendCommand(Wire::GetProcesses, QByteArrayView("11"));
    QByteArray body;
    QCOMPARE(protocol->ReadReply(body), 0);
    QCOMPARE(socket->ReadTimeout, 0); // the settable wait reached the socket
    QCOMPARE(protocol->LastReplyEnd(), End::TimedOut);
    QCOMPARE(events, QStringList{u"10060 Connection timed out"_s});
    QVERIFY(protocol->OutOfStep());
    QCOMPARE(socket->State(), hsConnected);
    // The late process list does arrive; read now, it would pass for the
    // answer to the next request.
    QTRY_VERIFY(socket->RecvCount() > 0);

    sim->Faults.ReplyDelaySeconds = 0;
    sim->Listeners.removeFirst(); // the host changed meanwhile
    QSignalSpy requests(sim.get(), &HostSim::requestReceived);
    const int connectionsBefore = sim->connectionCount();
    QVERIFY(protocol->Resync());
    QVERIFY(!protocol->OutOfStep());
    QCOMPARE(sim->connectionCount(), connectionsBefore + 1);
    QCOMPARE(events.size(), 1);    // a renewal that works shows nothing more
    QCOMPARE(requests.count(), 0); // nothing is resent

    protocol->ReplyTimeout = TConsoleProtocol::DefaultReplyTimeout;
    QCOMPARE(readList(Wire::GetListeners), currentListeners());
    QCOMPARE(protocol->LastReplyEnd(), End::EndOfList);
    QCOMPARE(socket->ReadTimeout, 10);
    QVERIFY(!protocol->OutOfStep());
    QCOMPARE(requests.count(), 1);
    QCOMPARE(requests.first().first().toByteArray(), "G"_ba);
}

void TstResync::cutShortThenResync_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("recordsRead");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("stillConnected");
    QTest::newRow("header not a number") << u"BadHeader"_s << 0 << int(End::BadHeader) << true;
    QTest::newRow("closed after 1 record") << u"Close"_s << 1 << int(End::Closed) << false;
    QTest::newRow("reset after 2 records") << u"Reset"_s << 2 << int(End::Closed) << false;
    QTest::newRow("frame shorter than announced")
        << u"ShortFrame"_s << 1 << int(End::BadHeader) << true;
}

void TstResync::cutShortThenResync()
{
    QFETCH(QString, fault);
    QFETCH(int, recordsRead);
    QFETCH(int, end);
    QFETCH(bool, stillConnected);
    logOn();
    HostSimFaults& f = sim->Faults;
    if (fault == u"BadHeader"_s)
        f.BadHeader = true;
    else if (fault == u"Close"_s)
        f.CloseAfterRecords = 1;
    else if (fault == u"Reset"_s)
        f.ResetAfterRecords = 2;
    else
        f.ShortFrame = true; // the first body swallows the next header
    const QList<QByteArray> got = readList(Wire::GetListeners);
    // Records buffered before a close are not read once the socket is closed.
    QVERIFY(got.size() <= recordsRead);
    QCOMPARE(int(protocol->LastReplyEnd()), end);
    QVERIFY(protocol->OutOfStep());
    QVERIFY(!protocol->LastReplyMessage().isEmpty());
    QCOMPARE(socket->State() == hsConnected, stillConnected);
    QVERIFY(events.isEmpty()); // nothing reported by the socket

    sim->Faults = HostSimFaults();
    QVERIFY(protocol->Resync());
    QVERIFY(events.isEmpty());
    QCOMPARE(readList(Wire::GetListeners), currentListeners());
    QCOMPARE(protocol->LastReplyEnd(), End::EndOfList);
    QVERIFY(!protocol->OutOfStep());
}

void TstResync::listDeadline_data()
{
    QTest::addColumn<bool>("endless");
    QTest::addColumn<double>("trickle");
    // A host that sends as fast as it can runs into the record cap or the
    // receive limit first (recordCap); here the list goes on steadily.
    QTest::newRow("list that never ends") << true << 0.02;
    // One record every 0.3 s, each well inside the reply wait.
    QTest::newRow("trickle") << false << 0.3;
}

void TstResync::listDeadline()
{
    QFETCH(bool, endless);
    QFETCH(double, trickle);
    // Enough records that the trickle outlasts the deadline.
    for (int i = 0; i < 20; ++i)
        sim->Listeners.append({QByteArray::number(100 + i), "31000", "MORE", "2", "0", {}});
    logOn();
    protocol->ListDeadlineMs = 1000;
    protocol->ListRecordCap =
        std::numeric_limits<int>::max(); // a fast host passes a million in less
    sim->Faults.NeverEndingList = endless;
    sim->Faults.TrickleSeconds = trickle;

    const QList<QByteArray> got = readList(Wire::GetListeners);
    QCOMPARE(protocol->LastReplyEnd(), End::ListDeadline);
    QVERIFY(!got.isEmpty());
    QCOMPARE(protocol->ListRecords(), int(got.size()));
    QVERIFY(protocol->OutOfStep());
    // Cut off at once, without a time-out report; the connection is dropped
    // because the host is still sending.
    QVERIFY(events.isEmpty());
    QCOMPARE(socket->State(), hsClosed);
    QCOMPARE(socket->RecvCount(), 0);
    const QString message = protocol->LastReplyMessage();
    QVERIFY2(message.contains(u"longer than 1 seconds"_s), qPrintable(message));
    QVERIFY2(message.contains(u"after %1 records"_s.arg(got.size())), qPrintable(message));

    sim->Faults = HostSimFaults();
    QVERIFY(protocol->Resync());
    QCOMPARE(readList(Wire::GetListeners), currentListeners());
    QCOMPARE(protocol->LastReplyEnd(), End::EndOfList);
}

void TstResync::recordCap_data()
{
    QTest::addColumn<int>("listeners");
    QTest::addColumn<bool>("endless");
    QTest::addColumn<int>("recordsRead");
    QTest::addColumn<int>("end");
    QTest::newRow("exactly the cap") << 5 << false << 5 << int(End::EndOfList);
    QTest::newRow("one past the cap") << 6 << false << 5 << int(End::TooManyRecords);
    QTest::newRow("never ends") << 3 << true << 5 << int(End::TooManyRecords);
}

void TstResync::recordCap()
{
    QFETCH(int, listeners);
    QFETCH(bool, endless);
    QFETCH(int, recordsRead);
    QFETCH(int, end);
    sim->Listeners.clear();
    for (int i = 0; i < listeners; ++i)
        sim->Listeners.append({QByteArray::number(100 + i), "31000", "LISTENER", "2", "0", {}});
    logOn();
    protocol->ListRecordCap = 5;
    sim->Faults.NeverEndingList = endless;
    QCOMPARE(readList(Wire::GetListeners).size(), recordsRead);
    QCOMPARE(int(protocol->LastReplyEnd()), end);
    const bool cut = end == int(End::TooManyRecords);
    QCOMPARE(protocol->OutOfStep(), cut);
    QCOMPARE(socket->State() == hsConnected, !cut);
    QVERIFY(events.isEmpty());
    if (!cut)
        return;
    QVERIFY2(protocol->LastReplyMessage().contains(u"more than 5 records"_s),
             qPrintable(protocol->LastReplyMessage()));

    sim->Faults = HostSimFaults();
    sim->Listeners.resize(2);
    QVERIFY(protocol->Resync());
    QCOMPARE(readList(Wire::GetListeners), currentListeners());
}

void TstResync::millionRecordList()
{
    // The cap is not hit by a list of exactly a million records.
    static_assert(TConsoleProtocol::MaxListRecords >= 1'000'000);
    sim->Listeners = {{"4242", "30001", "BIG", "2", "0", {}}};
    sim->Processes.clear();
    sim->populate(1'000'000);
    logOn();
    protocol->SendCommand(Wire::GetProcesses, QByteArrayView("4242"));
    protocol->BeginList();
    QByteArray body;
    int records = 0;
    QByteArray last;
    while (protocol->ReadReply(body) > 0) {
        ++records;
        if (records == 1'000'000)
            last = body;
    }
    QCOMPARE(protocol->LastReplyEnd(), End::EndOfList);
    QCOMPARE(records, 1'000'000);
    QVERIFY(Wire::splitRecord(last).ok());
    QVERIFY(!protocol->OutOfStep());
    QVERIFY(events.isEmpty());
}

void TstResync::resyncFails_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("host went away") << u"gone"_s << QStringList{u"10061 Connection refused"_s};
    QTest::newRow("logon now refused") << u"refused"_s << QStringList{u"Invalid Login!"_s};
}

void TstResync::resyncFails()
{
    QFETCH(QString, how);
    QFETCH(QStringList, shown);
    logOn();
    sim->Faults.BadHeader = true;
    readList(Wire::GetListeners);
    QVERIFY(protocol->OutOfStep());
    if (how == u"gone"_s)
        sim.reset();
    else
        sim->Faults.LogonReply = "1";

    QVERIFY(!protocol->Resync());
    QCOMPARE(events, shown);
    // Failed cleanly: no longer out of step, and nothing more is sent or read.
    QVERIFY(!protocol->OutOfStep());
    if (how == u"gone"_s) {
        QCOMPARE(socket->State(), hsClosed);
        QCOMPARE(socket->SocketHandle(), -1);
        QCOMPARE(protocol->LastLogonOutcome(), TConsoleProtocol::LogonOutcome::NotConnected);
        protocol->SendCommand(Wire::GetListeners);
        QByteArray body = "untouched";
        QCOMPARE(protocol->ReadReply(body), 0);
        QCOMPARE(protocol->LastReplyEnd(), End::NotConnected);
        QCOMPARE(events, shown);
    } else {
        QCOMPARE(protocol->LastLogonOutcome(), TConsoleProtocol::LogonOutcome::Refused);
    }
}

QTEST_GUILESS_MAIN(TstResync)
#include "tst_resync.moc"
