// A host's census: every listener's processes counted as their records
// arrive, one summary for every front end, a host that goes down keeping its
// last figures, and CPU used between two counts when processes come and go.
#include "HostSim.h"
#include "session/HostCensus.h"
#include "session/HostSession.h"
#include "session/TrendCollector.h"

#include <QSignalSpy>
#include <QTest>

using Pins = QHash<QByteArray, qint64>;
Q_DECLARE_METATYPE(HostSimFaults)
using namespace Qt::StringLiterals;

namespace {

Wire::SplitResult listener(const char* pin, const char* product = "8", qint32 limit = 0)
{
    Wire::SplitResult r;
    r.kind = Wire::RecordKind::Listener;
    r.listener.pin = QByteArrayView(pin);
    r.listener.port = "30002";
    r.listener.program = "CNDSRVR";
    r.listener.product = QByteArrayView(product);
    r.listener.productNumber = QByteArrayView(product).toInt();
    r.listener.userLimit = "0";
    r.listener.userLimitNumber = limit;
    return r;
}

Wire::SplitResult process(const char* pin, qint64 cpuMs)
{
    Wire::SplitResult r;
    r.kind = Wire::RecordKind::Process;
    r.process.pin = QByteArrayView(pin);
    r.process.program = "CNDUSER";
    r.process.user = "ANN";
    r.process.cpuMs = cpuMs;
    return r;
}

Wire::SplitResult malformed()
{
    Wire::SplitResult r = process("9", 5000);
    r.error = Wire::SplitError::MissingSeparatorBeforeCpuTime;
    return r;
}

// The totals as listeners/processes/CPU ms, then each listener as
// pin:product:max users:processes:CPU ms.
QString shown(const CensusSummary& s)
{
    QStringList parts{QStringLiteral("%1/%2/%3").arg(s.listeners).arg(s.processes).arg(s.cpuMs)};
    for (const ListenerCensus& l : s.perListener)
        parts << QStringLiteral("%1:%2:%3:%4:%5")
                     .arg(QString::fromLatin1(l.pin), QString::fromLatin1(l.product))
                     .arg(l.maxUsers)
                     .arg(l.processes)
                     .arg(l.cpuMs);
    return parts.join(u' ');
}

} // namespace

class TestHostCensus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void counts_data()
    {
        using Records = QList<Wire::SplitResult>;
        QTest::addColumn<Records>("listeners");
        QTest::addColumn<QList<Records>>("processLists");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("malformed");
        // An unknown product keeps its number as its name.
        QTest::newRow("two listeners")
            << Records{listener("11"), listener("12", "77", 5)}
            << QList<Records>{{process("1", 1500), process("2", 250)}, {process("3", 0)}}
            << "2/3/1750 11:Conduit:0:2:1750 12:77:5:1:0" << 0;
        QTest::newRow("a PIN listed twice is one listener")
            << Records{listener("11"), listener("11", "16"), listener("12")}
            << QList<Records>{{process("1", 1)}, {process("2", 2)}}
            << "2/2/3 11:Conduit:0:1:1 12:Conduit:0:1:2" << 0;
        QTest::newRow("records of the other kind are not counted")
            << Records{listener("11"), process("5", 99)}
            << QList<Records>{{process("1", 7), listener("13")}} << "1/1/7 11:Conduit:0:1:7" << 0;
        QTest::newRow("a malformed record is counted apart")
            << Records{listener("11")} << QList<Records>{{process("1", 7), malformed()}}
            << "1/1/7 11:Conduit:0:1:7" << 1;
        QTest::newRow("no listeners") << Records{} << QList<Records>{} << "0/0/0" << 0;
    }

    void counts()
    {
        using Records = QList<Wire::SplitResult>;
        QFETCH(Records, listeners);
        QFETCH(QList<Records>, processLists);
        QFETCH(QString, summary);
        QFETCH(int, malformed);

        HostCensus census;
        int observed = 0;
        census.setProcessObserver(
            [&observed](const ListenerCensus&, const Wire::ProcessFields&) { ++observed; });
        census.begin();
        for (const Wire::SplitResult& r : listeners)
            census.listenerSink().record(r, {});
        QCOMPARE(census.listeners().size(), std::size_t(processLists.size()));
        for (qsizetype i = 0; i < processLists.size(); ++i)
            for (const Wire::SplitResult& r : processLists[i])
                census.processSink(std::size_t(i)).record(r, {});
        QVERIFY(!census.summary().taken()); // nothing shows until the census is whole
        const QDateTime at(QDate(2026, 3, 1), QTime(12, 0));
        census.complete(at);
        QCOMPARE(shown(census.summary()), summary);
        QCOMPARE(census.summary().processes, qint64(observed));
        QCOMPARE(census.malformedRecords(), malformed);
        QCOMPARE(census.summary().takenAt, at);

        // A census that does not end whole changes nothing.
        census.begin();
        census.listenerSink().record(listener("77"), {});
        census.abandon();
        QCOMPARE(shown(census.summary()), summary);
    }

    void keepsLastWholeFigures_data()
    {
        QTest::addColumn<HostSimFaults>("fault"); // of the next refresh's listener list
        QTest::addColumn<bool>("linkDrops");
        QTest::newRow("cut by a close") << HostSimFaults{.CloseAfterRecords = 1} << true;
        // Cut before the first record while the link stays up.
        QTest::newRow("header not a number") << HostSimFaults{.BadHeader = true} << false;
        QTest::newRow("no reply in time") << HostSimFaults{.ReplyDelaySeconds = 2.5} << false;
    }

    void keepsLastWholeFigures()
    {
        QFETCH(HostSimFaults, fault);
        QFETCH(bool, linkDrops);

        auto sim = std::make_unique<HostSim>();
        sim->Listeners = {{"11", "30002", "CNDSRVR", "8", "0", {}},
                          {"12", "30004", "VGDSRVR", "16", "5", {}}};
        sim->Processes = {{"11", "", "201", "CNDUSER", "ANN", 1500, 0, {}},
                          {"11", "", "202", "CNDUSER", "BOB", 250, 0, {}},
                          {"12", "", "203", "VGDUSER", "CAROL", 123456789, 0, {}}};
        QVERIFY(sim->listen());
        HostSession session;
        ConnectionSettings settings;
        settings.HostAddress = "127.0.0.1";
        settings.Port = sim->serverPort();
        session.setSettings(settings);
        session.setReplyTimeout(1);
        TrendCollector collector(&session);
        collector.setEnabled(true);
        QSignalSpy sampled(&collector, &TrendCollector::sampled);
        session.connectToHost();
        QVERIFY(sampled.wait(10000));
        // Counted from the session's listener table; the trends take the same counts.
        const CensusSummary first = collector.census().summary();
        const QString figures = u"2/3/123458539 11:Conduit:0:2:1750 12:Vanguard:5:1:123456789"_s;
        QCOMPARE(shown(first), figures);
        QCOMPARE(collector.history().host().last().processes, 3);
        QCOMPARE(collector.history().listener("12")->last().processes, 1);
        QVERIFY(!first.stale);
        QVERIFY(first.takenAt.isValid());

        // The next refresh's listener list is cut: no count of what little
        // came, no sample; the last whole figures stay with their time,
        // marked stale only when the link went.
        sim->Faults = fault;
        session.refresh();
        QVERIFY(session.isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!session.isBusy(), 10000);
        QCOMPARE(session.linkState() != HostSession::LinkState::LoggedOn, linkDrops);
        QCOMPARE(session.isOutOfStep(), true);
        QCOMPARE(sampled.size(), 1);
        const CensusSummary& kept = collector.census().summary();
        QCOMPARE(shown(kept), figures);
        QCOMPARE(kept.takenAt, first.takenAt);
        QCOMPARE(kept.stale, linkDrops);
        QCOMPARE(collector.history().host().last().processes, 3);

        // The operator's refresh renews the connection at once and counts
        // the host whole again.
        sim->Faults = HostSimFaults();
        session.refreshNow();
        QVERIFY(sampled.wait(10000));
        QCOMPARE(shown(collector.census().summary()), figures);
        QCOMPARE(sampled.size(), 2);
        QVERIFY(collector.census().summary().takenAt >= first.takenAt);
        QVERIFY(!collector.census().summary().stale);
        session.quit();
    }

    void cpuUsedBetween()
    {
        // CPU ms by PIN at two counts, and what was used between them.
        const std::tuple<Pins, Pins, qint64> cases[] = {
            {{{"1", 1000}, {"2", 500}}, {{"1", 1500}, {"2", 800}}, 800}, // both grow
            {{{"1", 1000}, {"2", 900'000}}, {{"1", 1200}}, 200},         // a busy process ends
            {{{"1", 1000}}, {{"1", 1000}, {"3", 250}}, 250},             // a new process
            {{{"1", 90'000}}, {{"1", 40}}, 40},                          // a PIN given out again
            {{{"1", 5000}}, {}, 0}};                                     // all ended
        for (const auto& [before, now, used] : cases)
            QCOMPARE(TrendCollector::cpuUsedBetween(before, now), used);
    }
};

QTEST_GUILESS_MAIN(TestHostCensus)
#include "tst_hostcensus.moc"
