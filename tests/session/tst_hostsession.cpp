// HostSession against the simulator: the first refresh of a connection, the
// logon's outcomes, staying in step, lists that end early or late, the
// selection that follows its listener, and sessions that never wait for one
// another.
#include "host_link/HostSocket.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include "HostSim.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using LinkState = HostSession::LinkState;
using ListEnd = HostSession::ListEnd;
using LogonResult = HostSession::LogonResult;

namespace {

QStringList L(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out << QString::fromLatin1(item);
    return out;
}

ConnectionSettings settingsFor(quint16 port)
{
    ConnectionSettings s;
    s.HostAddress = "127.0.0.1";
    s.Port = port;
    return s;
}

// Everything a session said, in order, as short lines.
struct Transcript
{
    QStringList lines;
    explicit Transcript(HostSession& session)
    {
        QObject::connect(&session, &HostSession::logonProgress, &session,
                         [this](int step) { lines << QStringLiteral("progress %1").arg(step); });
        QObject::connect(&session, &HostSession::logonFailed, &session, [this](LogonResult r) {
            lines << QStringLiteral("logon failed %1").arg(int(r));
        });
        QObject::connect(&session, &HostSession::socketError, &session,
                         [this](int code, const QString& text) {
                             lines << QStringLiteral("error %1 %2").arg(code).arg(text);
                         });
        QObject::connect(&session, &HostSession::connectFinished, &session, [this](bool ok) {
            lines << QStringLiteral("connected %1").arg(ok);
        });
        QObject::connect(&session, &HostSession::listEnded, &session, [this](ListEnd end, int n) {
            lines << QStringLiteral("list %1 %2").arg(int(end)).arg(n);
        });
    }
};

} // namespace

class TestHostSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void firstRefreshOfAConnection();
    void logonOutcomes_data();
    void logonOutcomes();
    void listFollowedAtOnceByClose();
    void renewalEndsTheOldSessionWithQuit();
    void slowHostGetsItsWholeList();
    void stoppedListKeepsItsRowsAndRenews();
    void recordCapCutsAnEndlessList();
    void vanishedSelectionSelectsNothing();
    void silentHostDelaysNoOtherSession();

private:
    // Connects session to sim and waits for the first refresh to end.
    void connectAndWait(HostSession& session);
    void waitIdle(HostSession& session, int timeoutMs = 15000);

    std::unique_ptr<HostSim> sim;
    std::unique_ptr<HostSession> session;
};

void TestHostSession::init()
{
    sim = std::make_unique<HostSim>();
    QVERIFY2(sim->listen(), qPrintable(sim->errorString()));
    sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                      {"22", "30002", "TWO", "8", "5", {}}};
    sim->Processes = {{"11", "11", "101", "PROG", "USER", 1500, 3, {}},
                      {"11", {}, "102", "PROG", "OTHER", 123456, 0, {}},
                      {"22", "22", "201", "CND", "ANN", 0, 0, {}}};
    session = std::make_unique<HostSession>();
    session->setSettings(settingsFor(sim->serverPort()));
    new QAbstractItemModelTester(session->listeners(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 session.get());
    new QAbstractItemModelTester(session->processes(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 session.get());
}

void TestHostSession::cleanup()
{
    session.reset();
    sim.reset();
}

void TestHostSession::waitIdle(HostSession& s, int timeoutMs)
{
    QTRY_VERIFY_WITH_TIMEOUT(!s.isBusy(), timeoutMs);
}

void TestHostSession::connectAndWait(HostSession& s)
{
    QSignalSpy finished(&s, &HostSession::connectFinished);
    s.connectToHost();
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first().first().toBool(), true);
    waitIdle(s);
}

void TestHostSession::firstRefreshOfAConnection()
{
    Transcript t(*session);
    connectAndWait(*session);
    QCOMPARE(t.lines, L({"progress 1", "list 0 2", "progress 2", "list 0 2",
                                   "progress 3", "connected 1"}));
    QCOMPARE(session->linkState(), LinkState::LoggedOn);
    // The logon bytes, the listener request, then the first listener's
    // processes: nothing more, nothing else.
    const QByteArray expected = "000001MANAGER" + QByteArray(57, ' ') +
                                "SYS" + QByteArray(13, ' ') + QByteArray(32, ' ') +
                                "0001G0001H000211";
    QCOMPARE(sim->received(), expected);

    auto* listeners = session->listeners();
    QCOMPARE(listeners->rows(), 2);
    QCOMPARE(listeners->cell(1, ListenerColumn::Product), "Conduit");
    QCOMPARE(listeners->cell(0, ListenerColumn::MaxUsers), "unlimited");
    QCOMPARE(listeners->cell(1, ListenerColumn::MaxUsers), "5");
    auto* processes = session->processes();
    QCOMPARE(processes->rows(), 2);
    QCOMPARE(processes->cell(0, ProcessColumn::CpuTime), "   1.500");
    QCOMPARE(processes->cell(1, ProcessColumn::CpuTime), " 123.456");
    QCOMPARE(processes->cell(1, ProcessColumn::Main), "");
    QCOMPARE(processes->cell(0, ProcessColumn::Priority), "DS");
    QVERIFY(processes->hasPriorityColumn());
    QCOMPARE(processes->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Pri"));
}

void TestHostSession::logonOutcomes_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("refuseConnection");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("refused") << QByteArray("1") << false
                             << L({"logon failed 3", "connected 0"});
    QTest::newRow("other reply") << QByteArray("9") << false
                                 << L({"logon failed 4", "connected 0"});
    QTest::newRow("no host there")
        << QByteArray("0") << true
        << L({"error 10061 Connection refused", "logon failed 2", "connected 0"});
}

void TestHostSession::logonOutcomes()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, refuseConnection);
    QFETCH(QStringList, expected);
    sim->Faults.LogonReply = reply;
    if (refuseConnection)
        sim.reset(); // nothing listens on the port any more
    Transcript t(*session);
    QSignalSpy finished(session.get(), &HostSession::connectFinished);
    session->connectToHost();
    QVERIFY(finished.wait(15000));
    QCOMPARE(t.lines, expected);
    QCOMPARE(session->linkState(), LinkState::Disconnected);
    // A logon that failed leaves the connection open for the caller's Quit.
    QCOMPARE(session->isConnected(), !refuseConnection);
}

void TestHostSession::listFollowedAtOnceByClose()
{
    // A host that answers the logon, then sends a whole list and closes the
    // connection in the same breath: every frame is read before the close.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QByteArray list;
    for (int i = 0; i < 200; ++i)
        list += "0017S" + QByteArray::number(1000 + i) + "|30001 P|2|0";
    list += "0000";
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* peer = server.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [peer, list] {
            const QByteArray got = peer->readAll();
            if (got.size() >= 118 && got.startsWith("000001"))
                peer->write("0");
            if (got.contains("0001G")) {
                peer->write(list);
                peer->disconnectFromHost();
            }
        });
    });
    session->setSettings(settingsFor(server.serverPort()));
    QSignalSpy ended(session.get(), &HostSession::listEnded);
    session->connectToHost();
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.first().at(0).value<ListEnd>(), ListEnd::Complete);
    QCOMPARE(ended.first().at(1).toInt(), 200);
    QCOMPARE(session->listeners()->rows(), 200);
    QCOMPARE(session->listeners()->cell(199, ListenerColumn::Pin), "1199");
}

void TestHostSession::renewalEndsTheOldSessionWithQuit()
{
    connectAndWait(*session);
    QStringList seen;
    connect(sim.get(), &HostSim::requestReceived, this,
            [&](const QByteArray& letter, const QByteArray&) { seen << QString::fromLatin1(letter); });
    connect(sim.get(), &HostSim::logonReceived, this, [&] { seen << QStringLiteral("logon"); });

    // Every list starts with a bad header: each one leaves the connection
    // out of step, and each next exchange renews it first.
    sim->Faults.BadHeader = true;
    session->refresh();
    waitIdle(*session);
    QVERIFY(session->isOutOfStep());
    sim->Faults.BadHeader = false;

    QSignalSpy notices(session.get(), &HostSession::notices);
    session->refresh();
    waitIdle(*session);
    QVERIFY(!session->isOutOfStep());
    // Quit on the old connection and nothing else before each fresh logon;
    // nothing asked before is asked again.
    QCOMPARE(seen, L({"G", "Q", "logon", "H", "Q", "logon", "G", "H"}));
    QTRY_COMPARE(sim->openConnections(), 1);
    QCOMPARE(notices.last().first().toStringList(),
             L({"The connection was renewed after the host fell out of step."}));
    QCOMPARE(session->listeners()->rows(), 2);
}

void TestHostSession::slowHostGetsItsWholeList()
{
    // Each record comes within the per-read wait (2 s with a 1 s time-out),
    // the list as a whole takes longer than it: the list is read whole.
    session->setReplyTimeout(1);
    connectAndWait(*session);
    sim->Listeners.append({"33", "30003", "THREE", "3", "0", {}});
    sim->Faults.TrickleSeconds = 0.7;
    QSignalSpy ended(session.get(), &HostSession::listEnded);
    QElapsedTimer clock;
    clock.start();
    session->refresh();
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.first().at(0).value<ListEnd>(), ListEnd::Complete);
    QCOMPARE(ended.first().at(1).toInt(), 3);
    QVERIFY(clock.elapsed() > 2000);
}

void TestHostSession::stoppedListKeepsItsRowsAndRenews()
{
    connectAndWait(*session);
    sim->Faults.NeverEndingList = true;
    sim->Faults.TrickleSeconds = 0.05;
    QSignalSpy ended(session.get(), &HostSession::listEnded);
    QSignalSpy closed(sim.get(), &HostSim::requestReceived);
    session->refresh();
    // Let a few records arrive, then stop as the operator would.
    QTRY_VERIFY(session->listeners()->pendingRows() >= 3);
    session->stopList();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).value<ListEnd>(), ListEnd::Stopped);
    const int shown = ended.first().at(1).toInt();
    QVERIFY(shown > 0);
    QCOMPARE(session->listeners()->rows(), shown);
    QVERIFY(!session->isConnected());
    QVERIFY(session->isOutOfStep());
    QTRY_COMPARE(closed.last().first().toByteArray(), QByteArray("Q"));
    waitIdle(*session);

    sim->Faults.NeverEndingList = false;
    sim->Faults.TrickleSeconds = 0;
    session->refresh();
    waitIdle(*session);
    QVERIFY(session->isConnected());
    QCOMPARE(session->listeners()->rows(), 2);
}

void TestHostSession::recordCapCutsAnEndlessList()
{
    connectAndWait(*session);
    session->setRecordCap(50);
    sim->Faults.NeverEndingList = true;
    QSignalSpy ended(session.get(), &HostSession::listEnded);
    session->refresh();
    QVERIFY(ended.wait(15000));
    QCOMPARE(ended.first().at(0).value<ListEnd>(), ListEnd::TooManyRecords);
    QCOMPARE(ended.first().at(1).toInt(), 50);
    QCOMPARE(session->listeners()->rows(), 50);
    // The host was still sending: that connection is given up and a new
    // one made before the process list.
    QTRY_COMPARE(sim->connectionCount(), 2);
}

void TestHostSession::vanishedSelectionSelectsNothing()
{
    connectAndWait(*session);
    session->selectListener("22");
    session->refreshProcesses();
    waitIdle(*session);
    QCOMPARE(session->processes()->rows(), 1);

    // Listener 22 goes away; listener 11 is still there.
    sim->Listeners.removeLast();
    const qsizetype before = sim->received().size();
    session->refresh();
    waitIdle(*session);
    QCOMPARE(session->selectedListener(), QByteArray());
    QCOMPARE(session->listeners()->rows(), 1);
    QCOMPARE(session->processes()->rows(), 0);
    // Only the listener list was asked for: no other listener's processes.
    QCOMPARE(sim->received().mid(before), QByteArray("0001G"));
}

void TestHostSession::silentHostDelaysNoOtherSession()
{
    // Two sessions in one thread; one host goes silent for the length of a
    // whole time-out. The other keeps refreshing meanwhile.
    HostSim silentSim;
    QVERIFY(silentSim.listen());
    silentSim.Listeners = sim->Listeners;
    HostSession silent;
    silent.setSettings(settingsFor(silentSim.serverPort()));
    connectAndWait(silent);
    connectAndWait(*session);

    silentSim.Faults.ReplyDelaySeconds = 12;
    QSignalSpy silentEnded(&silent, &HostSession::listEnded);
    silent.refresh();

    int refreshes = 0;
    QElapsedTimer clock;
    clock.start();
    while (silentEnded.isEmpty() && clock.elapsed() < 20000) {
        QSignalSpy ended(session.get(), &HostSession::listEnded);
        session->refresh();
        QVERIFY(ended.wait(5000));
        waitIdle(*session);
        ++refreshes;
        QTest::qWait(200);
    }
    QCOMPARE(silentEnded.first().at(0).value<ListEnd>(), ListEnd::TimedOut);
    // About eleven seconds of waiting on one host; the other refreshed all along.
    QVERIFY2(refreshes >= 20, qPrintable(QString::number(refreshes)));
}

QTEST_GUILESS_MAIN(TestHostSession)
#include "tst_hostsession.moc"
