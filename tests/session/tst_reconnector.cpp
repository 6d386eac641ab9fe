// Automatic reconnection: the back-off between attempts, the return of the
// host, and the cases in which it must never try.
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/Reconnector.h"
#include "support/HostLinkFixture.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using HostLinkFixture::settingsFor;
using LinkState = HostSession::LinkState;

class TestReconnector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backOffUntilTheHostReturns();
    void neverRetries_data();
    void neverRetries();
    void hostThatFaultsEveryList_data();
    void hostThatFaultsEveryList();
    void recoversFromAnyOutage_data();
    void recoversFromAnyOutage();
};

void TestReconnector::backOffUntilTheHostReturns()
{
    const auto port = quint16(HostLinkFixture::unusedLoopbackPort());
    HostSession session;
    session.setSettings(settingsFor(port));
    Reconnector reconnector(&session);
    reconnector.setDelays(10, 80);

    QList<int> delays; // the wait before each attempt
    connect(&reconnector, &Reconnector::attemptStarted, this,
            [&] { delays << reconnector.currentDelayMs(); });
    QSignalSpy attempts(&reconnector, &Reconnector::attemptStarted);
    session.connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(attempts.count() >= 5, 10000);
    QCOMPARE(delays.mid(0, 5), (QList<int>{10, 20, 40, 80, 80}));
    QCOMPARE(reconnector.reconnections(), 0);

    auto sim = std::make_unique<HostSim>();
    QVERIFY(sim->listen(QHostAddress::LocalHost, port));
    QTRY_COMPARE_WITH_TIMEOUT(session.linkState(), LinkState::LoggedOn, 10000);
    QTRY_VERIFY(!session.isBusy());
    QCOMPARE(reconnector.reconnections(), 1);
    QCOMPARE(reconnector.statusText(), QStringLiteral("Connected"));

    // Dropped again: the back-off starts over from the first wait.
    reconnector.setDelays(5000, 60000);
    sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(session.linkState(), LinkState::Disconnected, 10000);
    QCOMPARE(reconnector.currentDelayMs(), 5000);
    QCOMPARE(reconnector.statusText(),
             QStringLiteral("Reconnecting in 5 s (host closed the connection)"));
}

void TestReconnector::neverRetries_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("status"); // a pattern

    const QString closed = QStringLiteral("^Disconnected since .*: host closed the connection$");
    QTest::newRow("refused logon")
        << QStringLiteral("refused")
        << QStringLiteral("^Disconnected since \\d\\d:\\d\\d:\\d\\d: Invalid Login!$");
    QTest::newRow("after shutdown")
        << QStringLiteral("shutdown")
        << QStringLiteral("^Disconnected since .*: the job was shut down$");
    QTest::newRow("window closing") << QStringLiteral("hold") << closed;
    QTest::newRow("preference off") << QStringLiteral("off") << closed;
}

void TestReconnector::neverRetries()
{
    QFETCH(QString, how);
    QFETCH(QString, status);

    auto sim = std::make_unique<HostSim>();
    QVERIFY(sim->listen());
    if (how == QLatin1String("refused"))
        sim->Credentials[4] = "OTHER";
    HostSession session;
    session.setSettings(settingsFor(sim->serverPort()));
    Reconnector reconnector(&session);
    reconnector.setDelays(10, 80);
    QSignalSpy attempts(&reconnector, &Reconnector::attemptStarted);

    session.connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(!session.isBusy(), 10000);
    if (how == QLatin1String("shutdown")) {
        QSignalSpy shutdown(sim.get(), &HostSim::shutdownRequested);
        session.send(HostCommand::shutdownJob());
        QVERIFY(shutdown.wait(5000));
    } else if (how == QLatin1String("hold")) {
        reconnector.hold();
    } else if (how == QLatin1String("off")) {
        reconnector.setEnabled(false);
    }
    sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(session.linkState(), LinkState::Disconnected, 10000);
    QVERIFY(!reconnector.isWaiting());
    QCOMPARE(attempts.count(), 0);
    QVERIFY2(QRegularExpression(status).match(reconnector.statusText()).hasMatch(),
             qPrintable(reconnector.statusText()));

    // The operator's Reconnect still works.
    HostSim again;
    QVERIFY(again.listen());
    session.setSettings(settingsFor(again.serverPort()));
    reconnector.reconnectNow();
    QTRY_COMPARE_WITH_TIMEOUT(session.linkState(), LinkState::LoggedOn, 10000);
}

void TestReconnector::hostThatFaultsEveryList_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("status");
    // The host closes: reconnections, which a logon does not start afresh.
    QTest::newRow("every list cut") << QStringLiteral("close") << QString();
    // The link stays up: the renewal waits, and the status line says so.
    QTest::newRow("every header bad")
        << QStringLiteral("header")
        << QStringLiteral("Renewing the connection in 1 s (bad reply header)");
}

void TestReconnector::hostThatFaultsEveryList()
{
    QFETCH(QString, fault);
    QFETCH(QString, status);

    HostSim sim;
    QVERIFY(sim.listen());
    HostSession session;
    session.setSettings(settingsFor(sim.serverPort()));
    Reconnector reconnector(&session);
    reconnector.setDelays(10, 80);
    session.connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(!session.isBusy(), 10000);
    QCOMPARE(reconnector.statusText(), QStringLiteral("Connected"));

    if (fault == QLatin1String("header")) {
        sim.Faults.BadHeader = true;
        session.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!session.isBusy(), 10000);
        QCOMPARE(reconnector.statusText(), status);
        // A refresh meanwhile does not log on again.
        const int connections = sim.connectionCount();
        session.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!session.isBusy(), 10000);
        QCOMPARE(sim.connectionCount(), connections);
        return;
    }
    QList<int> delays;
    connect(&reconnector, &Reconnector::attemptStarted, this,
            [&] { delays << reconnector.currentDelayMs(); });
    sim.Faults.CloseAfterRecords = 0;
    session.refresh();
    // Each attempt logs on, and the list is cut again: the waits grow all
    // the same.
    QTRY_VERIFY_WITH_TIMEOUT(delays.size() >= 5, 10000);
    QCOMPARE(delays.mid(0, 5), (QList<int>{10, 20, 40, 80, 80}));
}

void TestReconnector::recoversFromAnyOutage_data()
{
    QTest::addColumn<int>("downSeconds"); // the host is gone this long after it cut a list
    QTest::addColumn<int>("cutLists");    // or it stays up and cuts this many lists first
    // A list cut by a close used to leave its reply wait running: it ran out
    // 11 s later inside whichever logon came next, and that logon's open
    // socket made every later attempt fail with 10056.
    QTest::newRow("down 2 s") << 2 << 0;
    QTest::newRow("down 5 s") << 5 << 0;
    QTest::newRow("down 9 s") << 9 << 0;
    QTest::newRow("down 20 s") << 20 << 0;
    QTest::newRow("down 60 s") << 60 << 0;
    QTest::newRow("first 5 lists cut") << 0 << 5;
}

void TestReconnector::recoversFromAnyOutage()
{
    QFETCH(int, downSeconds);
    QFETCH(int, cutLists);

    std::unique_ptr<HostSim> sim = HostLinkFixture::startHost();
    QVERIFY(sim);
    const quint16 port = sim->serverPort();
    std::unique_ptr<HostSession> session = HostLinkFixture::sessionFor(port);
    // The console's waits: a list fault's renewal after 1 s at first, and
    // reconnection after 1, 2, 4, 8, 8 … s.
    session->setRenewalDelays(1000, 60000);
    Reconnector reconnector(session.get());
    reconnector.setDelays(1000, 8000);
    QVERIFY(HostLinkFixture::connectAndWait(*session));
    // The refresh timer, as the console runs it: while the link is up and
    // the session idle.
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, session.get(), [&session] {
        if (session->linkState() == LinkState::LoggedOn && !session->isBusy())
            session->refresh();
    });

    QStringList errors;
    connect(session.get(), &HostSession::socketError, this,
            [&errors](int code, const QString&) { errors << QString::number(code); });
    bool back = false; // the host is up again and answers whole lists
    int wholeLists = 0;
    connect(session.get(), &HostSession::listEnded, this, [&](HostSession::ListEnd end, int) {
        if (back && end == HostSession::ListEnd::Complete)
            ++wholeLists;
    });
    QObject scope; // the handlers below go before the simulators they use
    const auto watchLists = [&](HostSim* host) {
        int asked = 0;
        connect(host, &HostSim::requestReceived, &scope,
                [&, host, asked](const QByteArray& letter, const QByteArray&) mutable {
                    // The list asked for now is still cut; the next is whole.
                    if (letter == "G" && ++asked >= cutLists) {
                        host->Faults = HostSimFaults();
                        back = true;
                    }
                });
    };

    sim->Faults.CloseAfterRecords = 1;
    if (cutLists > 0) {
        watchLists(sim.get());
    } else {
        // The host dies in the middle of the listener list and comes back on
        // the same port after the outage.
        connect(session.get(), &HostSession::listEnded, &scope, [&](HostSession::ListEnd end) {
            if (end != HostSession::ListEnd::Closed || !sim)
                return;
            QTimer::singleShot(0, &scope, [&] { sim.reset(); });
            QTimer::singleShot(downSeconds * 1000, &scope, [&] {
                sim = std::make_unique<HostSim>();
                sim->Listeners = {{"11", "30001", "ONE", "2", "0", {}},
                                  {"22", "30002", "TWO", "8", "5", {}}};
                back = sim->listen(QHostAddress::LocalHost, port);
            });
        });
    }
    HostLinkFixture::Transcript t(*session);
    session->refresh();
    ticks.start(1000);

    QTRY_VERIFY2_WITH_TIMEOUT(back && wholeLists >= 2, qPrintable(t.lines.join(u'\n')),
                              (downSeconds + 40) * 1000);
    QTRY_VERIFY(!session->isBusy());
    QCOMPARE(session->linkState(), LinkState::LoggedOn);
    QCOMPARE(session->listeners()->rows(), 2);
    QVERIFY(reconnector.reconnections() >= 1);
    // Refused while the host was down, and nothing else: no attempt found
    // its socket still connected, none ran out of a wait it inherited.
    errors.removeAll(QStringLiteral("10061"));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(u' ') + u'\n' + t.lines.join(u'\n')));
    // The attempts that failed left no connection open at the host.
    QTRY_COMPARE(sim->openConnections(), 1);
}

QTEST_GUILESS_MAIN(TestReconnector)
#include "tst_reconnector.moc"
