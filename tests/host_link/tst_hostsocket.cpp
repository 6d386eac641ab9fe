// HostSocket against the simulated server job over loopback: connection
// set-up and its failures, the receive buffer, close notifications, the send
// and receive limits.
#include "core/AppErrors.h"
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"
#include "hostsim/HostSim.h"
#include "support/HostLinkFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
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
    void connectFails_data();
    void connectFails();
    void unixSocketCarriesBytes();
    void connectWhileConnected();
    void peerEndsTheConnection_data();
    void peerEndsTheConnection();
    void handleClose_data();
    void handleClose();
    void floodIsCutOff();
    void fullSendBufferDropsTheRest();
    void destructionReleasesSocket();

private:
    // Starts a connection and waits for its outcome.
    bool connectNow();
    // Connects to the simulator, logs on with raw bytes and takes the reply
    // "0" from the buffer, where it is read in place.
    void connectAndLogon();
    // Every error the socket reported, in order, as "CODE TEXT".
    QStringList reported() const;

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<HostSocket> socket;
    std::unique_ptr<QSignalSpy> errors;
};

void TestHostSocket::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    socket = std::make_unique<HostSocket>();
    socket->setHostAddress("127.0.0.1");
    socket->setPort(QByteArray::number(sim->serverPort()));
    errors = std::make_unique<QSignalSpy>(socket.get(), &HostSocket::errorOccurred);
}

void TestHostSocket::cleanup()
{
    errors.reset();
    socket.reset();
    sim.reset();
}

QStringList TestHostSocket::reported() const
{
    QStringList out;
    for (const QList<QVariant>& error : std::as_const(*errors))
        out << QString::number(error.at(0).toInt()) + u' ' + error.at(1).toString();
    return out;
}

bool TestHostSocket::connectNow()
{
    QSignalSpy finished(socket.get(), &HostSocket::connectFinished);
    socket->connectToHost();
    if (finished.isEmpty() && !finished.wait(15000))
        return false;
    return finished.first().first().toBool();
}

void TestHostSocket::connectAndLogon()
{
    QVERIFY(connectNow());
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
    socket->SendText(Wire::logonBytes(1, {"MANAGER", "", "", "", "SYS", "", ""}));
    QTRY_COMPARE(socket->RecvCount(), 1);
    QCOMPARE(socket->buffered(), "0"_ba);
    socket->consume(1);
    QCOMPARE(socket->RecvCount(), 0);
    QVERIFY(socket->buffered().isEmpty());
}

void TestHostSocket::startsClosed()
{
    HostSocket fresh;
    QCOMPARE(fresh.state(), HostSocket::SocketState::Closed);
    QCOMPARE(fresh.readTimeout(), 30);
    QCOMPARE(fresh.LastError(), 0);
    QCOMPARE(fresh.SocketHandle(), -1);
    QSignalSpy rec(&fresh, &HostSocket::errorOccurred);
    fresh.Disconnect(); // already closed: nothing changes, nothing reported
    QCOMPARE(fresh.state(), HostSocket::SocketState::Closed);
    QVERIFY(rec.isEmpty());
    QVERIFY(fresh.buffered().isEmpty());
}

void TestHostSocket::badPortThrowsAndReportsNothing_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QString>("thrown");
    const QString range = u"range: Range check error"_s;
    QTest::newRow("70000") << "70000"_ba << range;
    QTest::newRow("65536") << "65536"_ba << range;
    QTest::newRow("-1") << "-1"_ba << range;
    QTest::newRow("letters") << "abc"_ba << u"convert: 'abc' is not a valid integer value"_s;
    QTest::newRow("empty") << QByteArray() << u"convert: '' is not a valid integer value"_s;
    QTest::newRow("leading blank") << " 80"_ba << u"convert: ' 80' is not a valid integer value"_s;
    QTest::newRow("plus sign") << "+80"_ba << u"convert: '+80' is not a valid integer value"_s;
}

void TestHostSocket::badPortThrowsAndReportsNothing()
{
    QFETCH(QByteArray, port);
    QFETCH(QString, thrown);
    socket->setPort(port);
    QString caught;
    try {
        socket->connectToHost();
    } catch (const ERangeError& e) {
        caught = u"range: "_s + e.message();
    } catch (const EConvertError& e) {
        caught = u"convert: "_s + e.message();
    }
    QCOMPARE(caught, thrown);
    QVERIFY(errors->isEmpty());
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::connectFails_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("refused") << u"refused"_s << u"10061 Connection refused"_s;
    // The highest port passes the range check (65536 does not) and is refused.
    QTest::newRow("port 65535") << u"65535"_s << u"10061 Connection refused"_s;
    QTest::newRow("unresolvable") << u"unresolvable"_s << u"11001 Host not found"_s;
    QTest::newRow("never answered") << u"silent"_s << u"10060 Connection timed out"_s;
    // A Unix socket path (an SSH tunnel's end) instead of the host's address.
    QTest::newRow("Unix socket gone") << u"gone"_s << u"10061 Connection refused"_s;
    QTest::newRow("Unix socket a plain file") << u"file"_s << u"10061 Connection refused"_s;
    QTest::newRow("Unix path too long") << u"long"_s << u"10063 File name is too long"_s;
}

void TestHostSocket::connectFails()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const std::unique_ptr<SilentListener> silent(
        kind == u"silent" ? new SilentListener(/*fillBacklog=*/true) : nullptr);
    if (kind == u"refused")
        socket->setPort(QByteArray::number(unusedLoopbackPort()));
    else if (kind == u"65535")
        socket->setPort("65535");
    else if (kind == u"unresolvable")
        socket->setHostAddress("no-such-host.invalid");
    else if (silent)
        socket->setPort(QByteArray::number(silent->port()));
    else if (kind == u"file")
        QVERIFY(QFile(dir.filePath(u"s"_s)).open(QIODevice::WriteOnly));
    if (kind == u"gone" || kind == u"file" || kind == u"long")
        socket->setUnixPath(
            QFile::encodeName(dir.filePath(kind == u"long" ? QString(120, u'x') : u"s"_s)));
    socket->setReadTimeout(1);
    QSignalSpy finished(socket.get(), &HostSocket::connectFinished);
    QElapsedTimer clock;
    clock.start();
    socket->connectToHost();
    QVERIFY(clock.elapsed() < 500); // the attempt goes on without the caller
    QVERIFY(!finished.isEmpty() || finished.wait(5000));
    if (silent)
        QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(reported(), QStringList{error});
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
}

void TestHostSocket::unixSocketCarriesBytes()
{
    QTemporaryDir dir;
    QLocalServer server;
    QVERIFY(server.listen(dir.filePath(u"s"_s)));
    socket->setUnixPath(QFile::encodeName(server.fullServerName()));
    QVERIFY(connectNow());
    QVERIFY(errors->isEmpty());
    QTRY_VERIFY(server.hasPendingConnections());
    QLocalSocket* peer = server.nextPendingConnection();
    socket->SendText("0001G");
    QByteArray got;
    QTRY_COMPARE((got += peer->readAll()), "0001G");
    peer->write("0");
    QTRY_COMPARE(socket->buffered(), "0");
}

void TestHostSocket::connectWhileConnected()
{
    QVERIFY(connectNow());
    const int fd = socket->SocketHandle();
    QVERIFY(!connectNow());
    QCOMPARE(reported(), QStringList{u"10056 Socket is already connected"_s});
    QCOMPARE(socket->SocketHandle(), fd);
    QCOMPARE(socket->state(), HostSocket::SocketState::Connected);
}

void TestHostSocket::peerEndsTheConnection_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("closed after 2 records") << false;
    QTest::newRow("reset after 1 record") << true;
}

void TestHostSocket::peerEndsTheConnection()
{
    QFETCH(bool, reset);
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                      {"22", "30002", "TWO", "3", "5", {}},
                      {"33", "30003", "THREE", "4", "0", {}}};
    if (reset)
        sim->Faults.ResetAfterRecords = 1;
    else
        sim->Faults.CloseAfterRecords = 2;
    connectAndLogon();
    QSignalSpy closed(socket.get(), &HostSocket::disconnected);
    socket->SendText("0001G");
    QVERIFY(closed.wait(10000));
    // Quietly: neither end is an error.
    QVERIFY(errors->isEmpty());
    QCOMPARE(socket->state(), HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle(), -1);
    // What came before a close is still there and readable.
    if (!reset)
        QCOMPARE(socket->buffered(), "0017S11|30001 ONE|2|0"
                                     "0017S22|30002 TWO|3|5"_ba);
}

void TestHostSocket::handleClose_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("staysConnected");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no error") << 0 << false << QStringList();
    QTest::newRow("10050 network is down")
        << 10050 << true << QStringList{u"10050 Network is down"_s};
    QTest::newRow("10054 reset") << 10054 << false << QStringList();
    QTest::newRow("10053 abort") << 10053 << false << QStringList();
}

void TestHostSocket::handleClose()
{
    QFETCH(int, error);
    QFETCH(bool, staysConnected);
    QFETCH(QStringList, expected);
    connectAndLogon();
    socket->HandleClose(error);
    QCOMPARE(socket->state(),
             staysConnected ? HostSocket::SocketState::Connected : HostSocket::SocketState::Closed);
    QCOMPARE(socket->SocketHandle() != -1, staysConnected);
    QCOMPARE(reported(), expected);
}

void TestHostSocket::floodIsCutOff()
{
    sim->Faults.FloodBytes = HostSocket::MaxBuffered + 8 * 1024 * 1024;
    connectAndLogon();
    socket->SendText("0001G");
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), HostSocket::SocketState::Closed, 20000);
    QCOMPARE(reported(), QStringList{u"10055 No buffer space available"_s});
    QVERIFY(socket->RecvCount() <= HostSocket::MaxBuffered + 1);
    QVERIFY(socket->RecvCount() >= HostSocket::MaxBuffered);
}

void TestHostSocket::fullSendBufferDropsTheRest()
{
    // A peer that accepts the connection but never reads.
    SilentListener silent(/*fillBacklog=*/false);
    socket->setPort(QByteArray::number(silent.port()));
    QVERIFY(connectNow());
    socket->SendText(QByteArray(64 * 1024 * 1024, 'x'));
    QCOMPARE(reported(), QStringList{u"10035 Operation would block"_s});
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
