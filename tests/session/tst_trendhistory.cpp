// The trend rings: their bound, the listener rings' cap and CPU per minute.
#include "session/TrendHistory.h"

#include <QTest>

using Counts = QList<TrendHistory::ListenerCount>;

class TestTrendHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ringKeepsNewest();
    void defaultBound();
    void listenerRingsCapped();
    void cpuPerMinute();
};

void TestTrendHistory::ringKeepsNewest()
{
    TrendHistory history(3, 4);
    for (int i = 1; i <= 5; ++i)
        history.addSample(i * 5000, {{"11", i, 0}});
    const TrendHistory::Ring& ring = history.host();
    QCOMPARE(ring.size(), 3);
    QCOMPARE(ring.at(0).processes, 3);
    QCOMPARE(ring.at(0).time, 15u);
    QCOMPARE(ring.last().processes, 5);
    QCOMPARE(history.listener("11")->size(), 3);
}

void TestTrendHistory::defaultBound()
{
    // A day at 5 s, and a few MB when every ring is full.
    TrendHistory history;
    QCOMPARE(history.capacity(), 17280);
    QVERIFY2(history.capacityBytes() <= 6u * 1024 * 1024,
             qPrintable(QString::number(history.capacityBytes())));
    for (int i = 0; i < 17300; ++i)
        history.addSample(qint64(i) * 5000, {});
    QCOMPARE(history.host().size(), 17280);
}

void TestTrendHistory::listenerRingsCapped()
{
    TrendHistory history(10, 2);
    history.addSample(1000, {{"A", 1, 0}, {"B", 1, 0}});
    // Both still listed: the newcomer gets no ring, neither loses its own.
    history.addSample(2000, {{"A", 1, 0}, {"B", 2, 0}, {"C", 3, 0}});
    QCOMPARE(history.listenerRings(), 2);
    QVERIFY(!history.listener("C"));
    QCOMPARE(history.listener("B")->size(), 2);
    // B has gone: its ring makes room for C.
    history.addSample(3000, {{"A", 1, 0}, {"C", 3, 0}});
    QVERIFY(!history.listener("B"));
    QCOMPARE(history.listener("C")->size(), 1);
    QCOMPARE(history.host().last().processes, 4);
}

void TestTrendHistory::cpuPerMinute()
{
    TrendHistory history;
    history.addSample(100'000, {{"A", 2, 500}, {"B", 1, 0}});
    QVERIFY(!history.host().last().hasCpu()); // nothing to compare with
    history.addSample(130'000, {{"A", 2, 6000}, {"B", 1, 3000}});
    QCOMPARE(history.host().last().cpuPerMinute, 18.0f);
    QCOMPARE(history.listener("A")->last().cpuPerMinute, 12.0f);
    history.markGap();
    history.addSample(200'000, {{"A", 2, 6000}});
    QVERIFY(!history.listener("A")->last().hasCpu());
}

QTEST_GUILESS_MAIN(TestTrendHistory)
#include "tst_trendhistory.moc"
