// HostSession against the simulator: the first refresh of a connection, the
// logon's bytes and outcomes, the requests' bytes, staying in step and
// renewing the connection, the selection that follows its listener, and
// sessions that never wait for one another while a silent host times out.
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "support/HostLinkFixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <sys/resource.h>

using namespace HostLinkFixture;
using LinkState = HostSession::LinkState;
using ListEnd = HostSession::ListEnd;

class TestHostSession : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void firstRefreshOfAConnection();
    void logonOutcomes_data();
    void logonOutcomes();
    void commandBytesOnTheWire_data();
    void commandBytesOnTheWire();
    void refusesBodiesLongerThan9999();
    void notConnectedSendsNothing();
    void renewalEndsTheOldSessionWithQuit();
    void lateReplyIsNeverReadAfterRenewal();
    void renewalFails_data();
    void renewalFails();
    void renewalsBackOff_data();
    void renewalsBackOff();
    void vanishedSelection_data();
    void vanishedSelection();
    void silentHostTimesOutAndDelaysNoOther();
};

void TestHostSession::firstRefreshOfAConnection()
{
    Transcript t(*session);
    QVERIFY(connectAndWait(*session));
    QCOMPARE(t.lines, lines({"progress 1", "list 0 2", "progress 2", "list 0 2", "progress 3",
                             "connected 1"}));
    QCOMPARE(session->linkState(), LinkState::LoggedOn);
    // The logon bytes, the listener request, then the first listener's
    // processes: nothing more, nothing else.
    const QByteArray expected = "000001MANAGER" + QByteArray(57, ' ') + "SYS" +
                                QByteArray(13, ' ') + QByteArray(32, ' ') + "0001G0001H000211";
    QCOMPARE(sim->received(), expected);

    QCOMPARE(shownRows(*session->listeners()),
             lines({"11|Parcel Transfer|ONE|30001|unlimited", "22|Conduit|TWO|30002|5"}));
    QCOMPARE(shownRows(*session->processes()),
             lines({"11|101|PROG|USER|   1.500|DS", "|102|PROG|OTHER| 123.456|"}));
    QCOMPARE(session->processes()->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Pri"));
}

void TestHostSession::logonOutcomes_data()
{
    QTest::addColumn<QString>("host"); // how the host answers
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("connected");
    QTest::newRow("accepted") << "0" << lines({"connected 1"}) << true;
    QTest::newRow("refused") << "1" << lines({"logon failed 3", "connected 0"}) << true;
    QTest::newRow("other reply") << "9" << lines({"logon failed 4", "connected 0"}) << true;
    QTest::newRow("never answered")
        << "never" << lines({"error 10060 Connection timed out", "logon failed 4", "connected 0"})
        << true;
    QTest::newRow("closed during logon")
        << "close" << lines({"logon failed 4", "connected 0"}) << false;
    QTest::newRow("no host address") << "none" << lines({"logon failed 1", "connected 0"}) << false;
    QTest::newRow("nothing listens")
        << "gone" << lines({"error 10061 Connection refused", "logon failed 2", "connected 0"})
        << false;
}

void TestHostSession::logonOutcomes()
{
    QFETCH(QString, host);
    QFETCH(QStringList, expected);
    QFETCH(bool, connected);
    session->setLogonTimeout(0); // the wait's length is not what this test is about
    if (host == QLatin1String("never"))
        sim->Faults.LogonNever = true;
    else if (host == QLatin1String("close"))
        sim->Faults.CloseDuringLogon = true;
    else if (host == QLatin1String("none"))
        session->setSettings(ConnectionSettings()); // no host address
    else if (host == QLatin1String("gone"))
        session->setSettings(settingsFor(quint16(unusedLoopbackPort())));
    else
        sim->Faults.LogonReply = host.toLatin1();
    Transcript t(*session);
    QSignalSpy finished(session.get(), &HostSession::connectFinished);
    session->logOn();
    QVERIFY(finished.wait(15000));
    QCOMPARE(t.lines, expected);
    const bool accepted = host == QLatin1String("0");
    QCOMPARE(session->linkState(), accepted ? LinkState::LoggedOn : LinkState::Disconnected);
    // A logon that failed leaves the connection open for the caller's Quit.
    QCOMPARE(session->isConnected(), connected);
    if (host == QLatin1String("none")) {
        QCOMPARE(sim->connectionCount(), 0);
        QCOMPARE(session->socket().SocketHandle(), -1);
    }
}

// What goes on the wire for each command, the refresh after it included, and
// the recorder (the audit trail) asked before anything of it goes out: a
// command it cannot record is not sent.
void TestHostSession::commandBytesOnTheWire_data()
{
    QTest::addColumn<HostCommand>("command");
    QTest::addColumn<int>("recorder"); // 0 none, 1 records it, 2 cannot
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray refresh = "0001G0001H000211";
    const HostCommand kill = HostCommand::killListener("22", "30002", "TWO");
    QTest::newRow("start listener")
        << HostCommand::startListener("16", "30009", "5", "VGDSRVR.KQ;PRI=DS S") << 0
        << "0001S003016|30009|5|VGDSRVR.KQ;PRI=DS S" + refresh;
    QTest::newRow("start listener, no user limit given")
        << HostCommand::startListener("2", "30003", "", "NEW.EXE") << 0
        << "0001S00162|30003||NEW.EXE" + refresh;
    QTest::newRow("kill listener") << kill << 0 << "0001K0003S22" + refresh;
    QTest::newRow("kill listener, recorded") << kill << 1 << "0001K0003S22" + refresh;
    QTest::newRow("kill listener, not recorded") << kill << 2 << refresh;
    QTest::newRow("kill process") << HostCommand::killProcess("11", "123", "456", "PROG", "USER")
                                  << 0 << "0001K0008P123|456" + refresh;
    QTest::newRow("set priority DS")
        << HostCommand::setPriority("11", "456", 3) << 0 << "0001P0005456|3" + refresh;
    QTest::newRow("set priority ES")
        << HostCommand::setPriority("11", "7", 4) << 0 << "0001P00037|4" + refresh;
    // No queue chosen: the letter goes out with an empty body.
    QTest::newRow("set priority, no queue")
        << HostCommand::setPriority("11", "456", 0) << 0 << "0001P0000" + refresh;
    // No refresh: the job ends.
    QTest::newRow("shutdown job") << HostCommand::shutdownJob() << 0 << QByteArray("0001E");
    QTest::newRow("shutdown job, recorded")
        << HostCommand::shutdownJob() << 1 << QByteArray("0001E");
    QTest::newRow("shutdown job, not recorded") << HostCommand::shutdownJob() << 2 << QByteArray();
}

void TestHostSession::commandBytesOnTheWire()
{
    QFETCH(HostCommand, command);
    QFETCH(int, recorder);
    QFETCH(QByteArray, bytes);

    QVERIFY(logOn(*session));
    const qsizetype before = sim->received().size();
    QStringList order;
    if (recorder != 0)
        session->setCommandRecorder([&](const HostCommand& c) {
            // Nothing of the command is on its way yet.
            order << QStringLiteral("record %1 %2")
                         .arg(c.name())
                         .arg(sim->received().size() - before);
            return recorder == 1 ? QString() : QStringLiteral("not recorded");
        });
    connect(session.get(), &HostSession::commandSent, this, [&](const HostCommand& c) {
        QCOMPARE(c.kind, command.kind);
        order << QStringLiteral("sent ") + c.name();
    });
    connect(session.get(), &HostSession::commandNotSent, this,
            [&](const HostCommand& c, const QString& why) {
                order << QStringLiteral("not sent ") + c.name() + u' ' + why;
            });
    session->send(command);
    QVERIFY(waitIdle(*session));
    QTRY_COMPARE(sim->received().mid(before), bytes);
    const QString name = command.name();
    QStringList expected{recorder == 2 ? QStringLiteral("not sent %1 not recorded").arg(name)
                                       : QStringLiteral("sent ") + name};
    if (recorder != 0)
        expected.prepend(QStringLiteral("record %1 0").arg(name));
    QCOMPARE(order, expected);
}

void TestHostSession::refusesBodiesLongerThan9999()
{
    QVERIFY(logOn(*session));
    Transcript t(*session);
    qsizetype before = sim->received().size();
    session->send(HostCommand::startListener("1", "2", "3", QByteArray(10000 - 6, 'x')));
    QVERIFY(waitIdle(*session));
    // Not even the letter goes out; the lists that follow do.
    QCOMPARE(sim->received().mid(before), QByteArray("0001G0001H000211"));
    QCOMPARE(t.only(QStringLiteral("notices")),
             lines({"notices The request is 10000 bytes long, but a request can carry at most "
                    "9999 bytes. Nothing was sent."}));
    QVERIFY(t.only(QStringLiteral("sent")).isEmpty());

    // The longest body that can be framed still goes out.
    const QByteArray longest = "16|30009|5|" + QByteArray(9999 - 11, 'C');
    before = sim->received().size();
    session->send(HostCommand::startListener("16", "30009", "5", QByteArray(9999 - 11, 'C')));
    QVERIFY(waitIdle(*session));
    QCOMPARE(sim->received().mid(before, 9 + 9999), "0001S9999" + longest);
    QCOMPARE(t.only(QStringLiteral("sent")).size(), 1);
}

void TestHostSession::notConnectedSendsNothing()
{
    Transcript t(*session);
    session->refresh();
    session->send(HostCommand::killListener("11"));
    session->requestList('G', std::nullopt, nullptr);
    QVERIFY(waitIdle(*session));
    // Each list ends at once; the command is not sent and no error is shown.
    QCOMPARE(t.lines, lines({"list 1 0", "list 1 0", "list 1 0", "list 1 0", "list 1 0"}));
    QCOMPARE(sim->connectionCount(), 0);
}

void TestHostSession::renewalEndsTheOldSessionWithQuit()
{
    QVERIFY(connectAndWait(*session));
    HostRequests seen(*sim);

    // Every list starts with a bad header: each one leaves the connection
    // out of step, and each next exchange renews it first.
    sim->Faults.BadHeader = true;
    session->refresh();
    QVERIFY(waitIdle(*session));
    QVERIFY(session->isOutOfStep());
    sim->Faults.BadHeader = false;

    QSignalSpy notices(session.get(), &HostSession::notices);
    session->refresh();
    QVERIFY(waitIdle(*session));
    QVERIFY(!session->isOutOfStep());
    // Quit on the old connection and nothing else before each fresh logon;
    // nothing asked before is asked again.
    QCOMPARE(seen.lines, lines({"G", "Q", "logon", "H", "Q", "logon", "G", "H"}));
    QTRY_COMPARE(sim->openConnections(), 1);
    QCOMPARE(notices.last().first().toStringList(),
             lines({"The connection was renewed after the host fell out of step."}));
    QCOMPARE(session->listeners()->rows(), 2);
}

void TestHostSession::lateReplyIsNeverReadAfterRenewal()
{
    QVERIFY(connectAndWait(*session));
    Transcript t(*session);
    // The shortest wait there is (one second), and a host that answers just
    // after it.
    session->setReplyTimeout(0);
    sim->Faults.ReplyDelaySeconds = 1.6;
    session->refreshProcesses();
    QVERIFY(waitIdle(*session));
    QCOMPARE(t.lines, lines({"error 10060 Connection timed out", "list 3 0"}));
    QVERIFY(session->isOutOfStep());
    QVERIFY(session->isConnected());
    // The late process list does arrive; read now, it would pass for the
    // answer to the next request.
    QTRY_VERIFY(session->socket().RecvCount() > 0);

    sim->Faults.ReplyDelaySeconds = 0;
    sim->Listeners.removeFirst(); // the host changed meanwhile
    HostRequests seen(*sim);
    const int connectionsBefore = sim->connectionCount();
    session->setReplyTimeout(HostSession::DefaultReplyTimeout);
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(sim->connectionCount(), connectionsBefore + 1);
    // Nothing is asked again; the selected listener is gone, so no process
    // list is asked for.
    QCOMPARE(seen.lines, lines({"Q", "logon", "G"}));
    QCOMPARE(shownRows(*session->listeners()), lines({"22|Conduit|TWO|30002|5"}));
    QVERIFY(!session->isOutOfStep());
    QCOMPARE(t.only(QStringLiteral("error")).size(), 1); // a renewal that works shows no error
}

void TestHostSession::renewalFails_data()
{
    QTest::addColumn<bool>("hostGone");
    QTest::addColumn<QStringList>("expected");
    const char* notice = "notices The connection could not be renewed; use File, Configure to "
                         "connect again.";
    QTest::newRow("host went away")
        << true << lines({"error 10061 Connection refused", "logon failed 2", notice});
    QTest::newRow("logon now refused") << false << lines({"logon failed 3", notice});
}

void TestHostSession::renewalFails()
{
    QFETCH(bool, hostGone);
    QFETCH(QStringList, expected);
    QVERIFY(connectAndWait(*session));
    sim->Faults.BadHeader = true;
    QCOMPARE(readList(*session, 'G').end, ListEnd::BadHeader);
    QVERIFY(session->isOutOfStep());
    if (hostGone)
        sim.reset();
    else
        sim->Faults = HostSimFaults{.LogonReply = "1"};

    Transcript t(*session);
    QSignalSpy emptied(session.get(), &HostSession::listenersChanged);
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(t.lines, expected);
    // Failed cleanly: the tables are emptied, the connection is closed, and
    // nothing more is sent or read.
    QCOMPARE(emptied.count(), 1);
    QCOMPARE(session->listeners()->rows(), 0);
    QCOMPARE(session->processes()->rows(), 0);
    QVERIFY(!session->isOutOfStep());
    QTRY_VERIFY(!session->isConnected());
    QCOMPARE(session->socket().SocketHandle(), -1);
    t.lines.clear();
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(t.lines, lines({"list 1 0", "list 1 0"}));
}

void TestHostSession::renewalsBackOff_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("every list cut") << QStringLiteral("close") << QStringLiteral("list cut short");
    QTest::newRow("every header bad")
        << QStringLiteral("header") << QStringLiteral("bad reply header");
}

void TestHostSession::renewalsBackOff()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);

    // The waits of 1, 2, 4 … 60 s, a tenth as long.
    session->setRenewalDelays(100, 400);
    QVERIFY(connectAndWait(*session));
    HostRequests seen(*sim);
    QList<int> planned;
    connect(session.get(), &HostSession::renewalPlanned, this,
            [&](int delayMs, const QString& why) {
                planned << delayMs;
                QCOMPARE(why, reason);
            });
    const auto faulty = [&] {
        if (fault == QLatin1String("close"))
            sim->Faults.CloseAfterRecords = 0;
        else
            sim->Faults.BadHeader = true;
    };
    faulty();

    // A refresh every 20 ms for 1.5 s: renewed after 100, 200, 400, 400 …
    // ms, not at every refresh.
    QElapsedTimer clock;
    clock.start();
    for (int tick = 0; tick < 1000 && clock.elapsed() < 1500; ++tick) {
        session->refresh();
        QTest::qWait(20);
    }
    QVERIFY(waitIdle(*session));
    QVERIFY2(planned.size() >= 4, qPrintable(QString::number(planned.size())));
    QCOMPARE(planned.mid(0, 4), (QList<int>{100, 200, 400, 400}));
    const qsizetype logons = seen.lines.count(QStringLiteral("logon"));
    QVERIFY2(logons >= 3 && logons <= 6, qPrintable(seen.lines.join(u' ')));

    // A good refresh starts the back-off afresh.
    sim->Faults = HostSimFaults();
    QTRY_COMPARE_WITH_TIMEOUT(session->renewalDueInMs(), 0, 2000);
    QSignalSpy good(session.get(), &HostSession::refreshSucceeded);
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(good.size(), 1);
    QCOMPARE(session->renewalDelayMs(), 0);
    faulty();
    planned.clear();
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(planned, QList<int>{100});
}

// The chosen listener 22 goes away, listener 11 stays. Chosen on this host,
// it selects nothing, and no other listener's processes are asked for; for
// another host the choice is forgotten, and its first listener is shown.
void TestHostSession::vanishedSelection_data()
{
    QTest::addColumn<bool>("anotherHost");
    QTest::addColumn<QByteArray>("selected");
    QTest::addColumn<QByteArray>("asked"); // by the refresh
    QTest::addColumn<int>("processes");
    QTest::newRow("same host: nothing") << false << QByteArray() << QByteArray("0001G") << 0;
    QTest::newRow("another host: its first listener")
        << true << QByteArray("11") << QByteArray("0001G0001H000211") << 2;
}

void TestHostSession::vanishedSelection()
{
    QFETCH(bool, anotherHost);
    QVERIFY(connectAndWait(*session));
    session->selectListener("22");
    session->refreshProcesses();
    QVERIFY(waitIdle(*session));
    QCOMPARE(session->processes()->rows(), 1);

    sim->Listeners.removeLast();
    if (anotherHost)
        session->forgetSelectedListener();
    const qsizetype before = sim->received().size();
    session->refresh();
    QVERIFY(waitIdle(*session));
    QTEST(session->selectedListener(), "selected");
    QCOMPARE(session->listeners()->rows(), 1);
    QTEST(session->processes()->rows(), "processes");
    QTEST(sim->received().mid(before), "asked");
}

static double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void TestHostSession::silentHostTimesOutAndDelaysNoOther()
{
    // Two sessions in one thread; one host goes silent. Its read times out
    // by the real rule (10 seconds give 10060 after 11 whole seconds, not
    // before), without spinning, while the other keeps refreshing.
    std::unique_ptr<HostSim> silentSim = startHost();
    QVERIFY(silentSim);
    std::unique_ptr<HostSession> silent = sessionFor(silentSim->serverPort());
    QVERIFY(connectAndWait(*silent));
    QVERIFY(connectAndWait(*session));

    silentSim->Faults.ReplyDelaySeconds = 60;
    Transcript t(*silent);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    qint64 waited = -1;
    connect(silent.get(), &HostSession::listEnded, this, [&] { waited = clock.elapsed(); });
    silent->requestList(Wire::GetListeners, std::nullopt, nullptr);

    int refreshes = 0;
    while (waited < 0 && clock.elapsed() < 20000) {
        QSignalSpy ended(session.get(), &HostSession::listEnded);
        session->refresh();
        QVERIFY(ended.wait(5000));
        QVERIFY(waitIdle(*session));
        ++refreshes;
        QTest::qWait(200);
    }
    QVERIFY(waitIdle(*silent));
    QCOMPARE(t.lines, lines({"error 10060 Connection timed out", "list 3 0"}));
    QVERIFY2(waited >= 11000, qPrintable(QStringLiteral("reported after %1 ms").arg(waited)));
    QVERIFY2(waited < 14000, qPrintable(QStringLiteral("reported after %1 ms").arg(waited)));
    // A spinning wait would burn about 11 s of CPU.
    QVERIFY2(cpuSeconds() - cpuBefore < 2.0, "the wait kept a core busy");
    QVERIFY(silent->isConnected());
    // The other refreshed all along.
    QVERIFY2(refreshes >= 20, qPrintable(QString::number(refreshes)));
}

QTEST_GUILESS_MAIN(TestHostSession)
#include "tst_hostsession.moc"
