// Automatic reconnection: the back-off between attempts, the return of the
// host, and the cases in which it must never try.
#include "session/HostSession.h"
#include "session/Reconnector.h"
#include "support/HostLinkFixture.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestReconnector)
#include "tst_reconnector.moc"
