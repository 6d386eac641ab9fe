// HostSocket against the simulated server job over loopback: connection
// set-up and its failures, the waiting read, close notifications, the send
// and receive limits.
#include "HostSim.h"
#include "host_link/AppErrors.h"
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"
#include "support/HostLinkFixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;
using HostLinkFixture::ErrorRecorder;
using HostLinkFixture::SilentListener;
using HostLinkFixture::unusedLoopbackPort;

class TestHostSocket : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsClosed();
    void badPortThrowsAndReportsNothing_data();
    void badPortThrowsAndReportsNothing();
    void refusedHost();
    void unresolvableHost();
    void connectGivesUpWithoutFreezing();
    void connectWhileConnected();
    void readExactTakesBufferedBytesAtOnce();
    void readExactTimesOutAndKeepsLateBytes();
    void peerCloseEndsWaitQuietly();
    void handleClose_data();
    void handleClose();
    void resetByPeerDisconnectsQuietly();
    void floodIsCutOff();
    void fullSendBufferDropsTheRest();
    void destructionReleasesSocket();

private:
    // Connects to the simulator and logs on with raw bytes; the reply "0" is
    // left in the buffer unless taken.
    void connectAndLogon(bool takeReply = true);

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<HostSocket> socket;
    std::unique_ptr<ErrorRecorder> errors;
};

void TestHostSocket::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    socket = std::make_unique<HostSocket>();
    socket->HostAddress = "127.0.0.1";
    socket->Port = QByteArray::number(sim->serverPort());
    errors = std::make_unique<ErrorRecorder>(*socket);
}

void TestHostSocket::cleanup()
{
    socket.reset();
    errors.reset();
    sim.reset();
}

void TestHostSocket::connectAndLogon(bool takeReply)
{
    socket->Connect();
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
    socket->SendText(Wire::logonBytes(1, {"MANAGER", "", "", "", "SYS", "", ""}));
    if (takeReply) {
        QByteArray reply;
        QCOMPARE(socket->ReadExact(1, reply), 1);
        QCOMPARE(reply, "0"_ba);
    }
}

void TestHostSocket::startsClosed()
{
    HostSocket fresh;
    QCOMPARE(fresh.state(), HostSocket::SocketState::Closed);
    QCOMPARE(fresh.ReadTimeout, 30);
    QCOMPARE(fresh.Authorized, false);
    QCOMPARE(fresh.LastError(), 0);
    QCOMPARE(fresh.SocketHandle(), -1);
    ErrorRecorder rec(fresh);
    fresh.Disconnect(); // already closed: nothing changes, nothing reported
    QCOMPARE(fresh.state(), HostSocket::SocketState::Closed);
    QVERIFY(rec.errors.isEmpty());
    QByteArray text;
    QCOMPARE(fresh.ReadExact(0, text), 0);
}

void TestHostSocket::badPortThrowsAndReportsNothing_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<bool>("rangeError");

    QTest::newRow("70000") << "70000"_ba << true;
    QTest::newRow("65536") << "65536"_ba << true;
    QTest::newRow("-1") << "-1"_ba << true;
    QTest::newRow("letters") << "abc"_ba << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("leading blank") << " 80"_ba << false;
    QTest::newRow("plus sign") << "+80"_ba << false;
}

void TestHostSocket::badPortThrowsAndReportsNothing()
{
    QFETCH(QByteArray, port);
    QFETCH(bool, rangeError);
    socket->Port = port;
    bool gotRange = false;
    bool gotConvert = false;
    try {
        socket->Connect();
    } catch (const ERangeError& e) {
        gotRange = true;
        QCOMPARE(e.message(), u"Range check error"_s);
    } catch (const EConvertError& e) {
        gotConvert = true;
        QCOMPARE(e.message(), u"'%1' is not a valid integer value"_s.arg(QLatin1StringView(port)));
    }
    QCOMPARE(gotRange, rangeError);
    QCOMPARE(gotConvert, !rangeError);
    QVERIFY(errors->errors.isEmpty());
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::refusedHost()
{
    socket->Port = QByteArray::number(unusedLoopbackPort());
    socket->Connect();
    QCOMPARE(errors->errors, QList<int>{10061});
    QCOMPARE(errors->texts.value(0), u"Connection refused"_s);
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::unresolvableHost()
{
    socket->HostAddress = "no-such-host.invalid";
    socket->Connect();
    QCOMPARE(errors->errors, QList<int>{11001});
    QCOMPARE(errors->texts.value(0), u"Host not found"_s);
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::connectGivesUpWithoutFreezing()
{
    // A host that never answers the connection request.
    SilentListener silent(/*fillBacklog=*/true);
    socket->Port = QByteArray::number(silent.port());
    socket->ReadTimeout = 1;
    bool uiRan = false;
    QObject scope; // the timer dies with the test
    QTimer::singleShot(100, &scope, [&uiRan] { uiRan = true; });
    QElapsedTimer clock;
    clock.start();
    socket->Connect();
    QVERIFY(clock.elapsed() >= 1000);
    QVERIFY(uiRan); // events kept running during the attempt
    QCOMPARE(errors->errors, QList<int>{10060});
    QCOMPARE(errors->texts.value(0), u"Connection timed out"_s);
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::connectWhileConnected()
{
    socket->Connect();
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
    const int fd = socket->SocketHandle();
    socket->Connect();
    QCOMPARE(errors->errors, QList<int>{10056});
    QCOMPARE(socket->SocketHandle(), fd);
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
}

void TestHostSocket::readExactTakesBufferedBytesAtOnce()
{
    connectAndLogon(false);
    QTRY_COMPARE(socket->RecvCount(), 1);
    bool eventRan = false;
    QObject scope; // the timer dies with the test, run or not
    QTimer::singleShot(0, &scope, [&eventRan] { eventRan = true; });
    // The read fills the array in place; a copy sharing its bytes keeps them.
    QByteArray reply = "an earlier reply";
    const QByteArray kept = reply;
    QCOMPARE(socket->ReadExact(1, reply), 1);
    QCOMPARE(reply, "0"_ba);
    QCOMPARE(kept, "an earlier reply"_ba);
    QVERIFY(!eventRan); // enough bytes: no event was processed
    QCOMPARE(socket->RecvCount(), 0);
    QCOMPARE(socket->ReadExact(0, reply), 0);
    QVERIFY(reply.isEmpty());
}

void TestHostSocket::readExactTimesOutAndKeepsLateBytes()
{
    // The reply comes 1.5 s late; a wait of ReadTimeout 0 gives up after 1 s.
    sim->Faults.ReplyDelaySeconds = 1.5;
    connectAndLogon(false);
    socket->ReadTimeout = 0;
    bool uiRan = false;
    QObject scope; // the timer dies with the test
    QTimer::singleShot(200, &scope, [&uiRan] { uiRan = true; });
    QElapsedTimer clock;
    clock.start();
    QByteArray reply;
    QCOMPARE(socket->ReadExact(1, reply), 0);
    QVERIFY(clock.elapsed() >= 1000);
    QVERIFY(uiRan);
    QCOMPARE(errors->errors, QList<int>{10060});
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
    // The late byte stays buffered for the next read.
    QTRY_COMPARE(socket->RecvCount(), 1);
    QCOMPARE(socket->ReadExact(1, reply), 1);
    QCOMPARE(reply, "0"_ba);
    QCOMPARE(errors->errors.size(), 1);
}

void TestHostSocket::peerCloseEndsWaitQuietly()
{
    // Two records, then the host closes the connection instead of ending the list.
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                      {"22", "30002", "TWO", "3", "5", {}},
                      {"33", "30003", "THREE", "4", "0", {}}};
    sim->Faults.CloseAfterRecords = 2;
    connectAndLogon();
    socket->SendText("0001G");
    QElapsedTimer clock;
    clock.start();
    QByteArray text;
    QCOMPARE(socket->ReadExact(100000, text), 0); // more than will ever come
    QVERIFY(clock.elapsed() < 10000);             // ended by the close, not by the time-out
    QVERIFY(errors->errors.isEmpty());
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
    // What came before the close is still there and readable.
    const QByteArray expected = "0017S11|30001 ONE|2|0"
                                "0017S22|30002 TWO|3|5"_ba;
    QCOMPARE(socket->RecvCount(), expected.size());
    QCOMPARE(socket->ReadExact(int(expected.size()), text), int(expected.size()));
    QCOMPARE(text, expected);
}

void TestHostSocket::handleClose_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("staysConnected");
    QTest::addColumn<QList<int>>("reported");

    QTest::newRow("no error") << 0 << false << QList<int>{};
    QTest::newRow("10050 network is down") << 10050 << true << QList<int>{10050};
    QTest::newRow("10054 reset") << 10054 << false << QList<int>{};
    QTest::newRow("10053 abort") << 10053 << false << QList<int>{};
}

void TestHostSocket::handleClose()
{
    QFETCH(int, error);
    QFETCH(bool, staysConnected);
    QFETCH(QList<int>, reported);
    connectAndLogon();
    socket->HandleClose(error);
    QCOMPARE(socket->state(),
             staysConnected ? HostSocket::SocketState::Connected : HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle() != -1, staysConnected);
    QCOMPARE(errors->errors, reported);
    if (error == 10050)
        QCOMPARE(errors->texts.value(0), u"Network is down"_s);
}

void TestHostSocket::resetByPeerDisconnectsQuietly()
{
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}}, {"22", "30002", "TWO", "3", "5", {}}};
    sim->Faults.ResetAfterRecords = 1;
    connectAndLogon();
    socket->SendText("0001G");
    QTRY_COMPARE(socket->state(), HostSocket::SocketState::Closed);
    QVERIFY(errors->errors.isEmpty());
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::floodIsCutOff()
{
    sim->Faults.FloodBytes = HostSocket::MaxBuffered + 8 * 1024 * 1024;
    connectAndLogon();
    socket->SendText("0001G");
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), HostSocket::SocketState::Closed, 20000);
    QCOMPARE(errors->errors, QList<int>{10055});
    QCOMPARE(errors->texts.value(0), u"No buffer space available"_s);
    QVERIFY(socket->RecvCount() <= HostSocket::MaxBuffered + 1);
    QVERIFY(socket->RecvCount() >= HostSocket::MaxBuffered);
}

void TestHostSocket::fullSendBufferDropsTheRest()
{
    // A peer that accepts the connection but never reads.
    SilentListener silent(/*fillBacklog=*/false);
    socket->Port = QByteArray::number(silent.port());
    socket->Connect();
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
    socket->SendText(QByteArray(64 * 1024 * 1024, 'x'));
    QCOMPARE(errors->errors, QList<int>{10035});
    QCOMPARE(errors->texts.value(0), u"Operation would block"_s);
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected); // the connection is not affected
}

void TestHostSocket::destructionReleasesSocket()
{
    QSignalSpy gone(sim.get(), &HostSim::clientDisconnected);
    connectAndLogon();
    socket.reset();
    QVERIFY(gone.count() == 1 || gone.wait(5000));
}

QTEST_GUILESS_MAIN(TestHostSocket)
#include "tst_hostsocket.moc"
