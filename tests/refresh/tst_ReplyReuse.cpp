// Reading a list record after record into the caller's one array: the array
// holds exactly the record or nothing, copies of it are never touched, and the
// list's deadline still ends the list whether it passes during a wait, while
// events run between two reads, or while the caller works through records
// already received.
#include "ConsoleProtocol.h"
#include "HostSim.h"
#include "HostSocket.h"
#include "Wire.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>

#include <chrono>
#include <memory>
#include <thread>

using End = TConsoleProtocol::ReplyEnd;

class TstReplyReuse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void recordsReuseOneArray();
    void readIntoSharedArrayLeavesCopyAlone();
    void noRecordLeavesBodyEmpty_data();
    void noRecordLeavesBodyEmpty();
    void deadlinePassedBetweenReads();
    void deadlinePassedWhileCallerBusy();

private:
    void logOn();
    // The bytes of the listener list as the host sends it.
    qsizetype listenerListBytes() const;

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<THostSocket> socket;
    std::unique_ptr<TConsoleProtocol> protocol;
    QList<int> errors;
};

void TstReplyReuse::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    sim->Listeners.clear();
    for (int i = 0; i < 200; ++i)
        sim->Listeners.append({QByteArray::number(1000 + i), "30001", "PROGRAM", "2", "0", {}});
    socket = std::make_unique<THostSocket>();
    socket->HostAddress = "127.0.0.1";
    socket->Port = QByteArray::number(sim->serverPort());
    socket->LogonFields = {"MANAGER", "", "", "", "SYS", "", ""};
    socket->LogonKind = 1;
    errors.clear();
    socket->OnError = [this](THostSocket*, int error, const QString&) { errors.append(error); };
    protocol = std::make_unique<TConsoleProtocol>(*socket);
}

void TstReplyReuse::cleanup()
{
    protocol.reset();
    socket.reset();
    sim.reset();
}

void TstReplyReuse::logOn()
{
    QVERIFY(protocol->Logon());
    QVERIFY(errors.isEmpty());
}

qsizetype TstReplyReuse::listenerListBytes() const
{
    qsizetype total = 4; // the closing 0000
    for (const SimListener& l : sim->Listeners)
        total += 4 + 1 + l.Pin.size() + 1 + l.Port.size() + 1 + l.Program.size() + 1 +
                 l.Product.size() + 1 + l.UserLimit.size() + l.Tail.size();
    return total;
}

void TstReplyReuse::recordsReuseOneArray()
{
    logOn();
    protocol->SendCommand(Wire::GetListeners);
    QByteArray body;
    QSet<const char*> arrays;
    int records = 0;
    while (protocol->ReadReply(body) > 0) {
        const SimListener& l = sim->Listeners[records++];
        QCOMPARE(body, "S" + l.Pin + "|" + l.Port + " " + l.Program + "|" + l.Product + "|" +
                           l.UserLimit);
        arrays.insert(body.constData());
    }
    QCOMPARE(protocol->LastReplyEnd(), End::EndOfList);
    QCOMPARE(records, 200);
    // The header and the records of equal length land in the same array; a
    // fresh array per record would show up here as hundreds of addresses.
    QVERIFY2(arrays.size() <= 2, qPrintable(QString::number(arrays.size())));
}

void TstReplyReuse::readIntoSharedArrayLeavesCopyAlone()
{
    logOn();
    protocol->SendCommand(Wire::GetListeners);
    QByteArray body = "an earlier record";
    const QByteArray kept = body; // shares body's bytes
    QVERIFY(protocol->ReadReply(body) > 0);
    QCOMPARE(body, QByteArray("S1000|30001 PROGRAM|2|0"));
    QCOMPARE(kept, QByteArray("an earlier record"));

    // The same for the socket's own read, which fills the array in place.
    QByteArray header = body;
    const QByteArray before = header;
    QCOMPARE(socket->ReadExact(4, header), 4);
    QCOMPARE(header, QByteArray("0023"));
    QCOMPARE(before, QByteArray("S1000|30001 PROGRAM|2|0"));
}

void TstReplyReuse::noRecordLeavesBodyEmpty_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("end");
    QTest::newRow("end of list") << 0 << int(End::EndOfList);
    QTest::newRow("bad header") << 1 << int(End::BadHeader);
    QTest::newRow("record cap") << 2 << int(End::TooManyRecords);
    QTest::newRow("deadline before the first read") << 3 << int(End::ListDeadline);
    // (A connection already closed when ReadReply starts leaves the body
    // untouched, as it always did.)
    QTest::newRow("timed out") << 5 << int(End::TimedOut);
}

void TstReplyReuse::noRecordLeavesBodyEmpty()
{
    QFETCH(int, fault);
    QFETCH(int, end);
    logOn();
    switch (fault) {
    case 1:
        sim->Faults.BadHeader = true;
        break;
    case 2:
        protocol->ListRecordCap = 3;
        break;
    case 3:
        protocol->ListDeadlineMs = 0;
        break;
    case 5:
        // The shortest wait the socket has; the host answers after it.
        protocol->ReplyTimeout = 0;
        sim->Faults.ReplyDelaySeconds = 1.5;
        break;
    }
    protocol->SendCommand(Wire::GetListeners);
    QByteArray body = "a record the caller still holds";
    int records = 0;
    while (protocol->ReadReply(body) > 0)
        ++records;
    QCOMPARE(int(protocol->LastReplyEnd()), end);
    // Neither the last record nor a header read into the same array is left.
    QVERIFY2(body.isEmpty(), body.constData());
    QCOMPARE(records, fault == 0 ? 200 : fault == 2 ? 3 : 0);
}

void TstReplyReuse::deadlinePassedBetweenReads()
{
    logOn();
    protocol->ListDeadlineMs = 200;
    protocol->SendCommand(Wire::GetListeners);
    protocol->BeginList();
    QElapsedTimer clock;
    clock.start();
    QByteArray body;
    QVERIFY(protocol->ReadReply(body) > 0);
    // The caller lets events run (a dialog, a repaint) until the deadline is
    // past and the whole list is there.
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 300 && socket->RecvCount() > 0, 5000);
    QCOMPARE(protocol->ReadReply(body), 0);
    QCOMPARE(protocol->LastReplyEnd(), End::ListDeadline);
    QCOMPARE(protocol->ListRecords(), 1);
    QVERIFY(body.isEmpty());
    QVERIFY(protocol->OutOfStep());
    QCOMPARE(socket->State(), hsClosed);
}

void TstReplyReuse::deadlinePassedWhileCallerBusy()
{
    logOn();
    protocol->ListDeadlineMs = 200;
    protocol->SendCommand(Wire::GetListeners);
    protocol->BeginList();
    // The whole list is received before the first record is read.
    QTRY_COMPARE(socket->RecvCount(), listenerListBytes());
    QByteArray body;
    QVERIFY(protocol->ReadReply(body) > 0);
    // The caller works without letting any event run until the deadline is
    // long past: no timer can fire, yet the list still ends within a few
    // dozen records instead of running to its end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int more = 0;
    while (protocol->ReadReply(body) > 0)
        ++more;
    QCOMPARE(protocol->LastReplyEnd(), End::ListDeadline);
    QVERIFY2(more < 64, qPrintable(QString::number(more)));
    QCOMPARE(protocol->ListRecords(), 1 + more);
    QVERIFY(body.isEmpty());
}

QTEST_GUILESS_MAIN(TstReplyReuse)
#include "tst_ReplyReuse.moc"
