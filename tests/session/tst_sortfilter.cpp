// The sorted and filtered view of a process table: the orders the operator
// asks for, and what a refresh announces when a sort or filter is active.
#include "session/ProcessTableModel.h"
#include "session/RecordSortFilterModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {

// Fills the table with processes given as "PIN user CPU-milliseconds".
void fill(ProcessTableModel& table, std::initializer_list<const char*> rows)
{
    table.beginFill();
    for (const char* row : rows) {
        const QList<QByteArray> parts = QByteArray(row).split(' ');
        Wire::ProcessFields fields;
        fields.pin = parts[0];
        fields.program = "PROG";
        fields.user = parts[1];
        fields.cpuMs = parts[2].toLongLong();
        table.appendRecord(fields);
    }
    table.commitFill();
}

// The PINs shown, top to bottom.
QString shownPins(const RecordSortFilterModel& view)
{
    QStringList pins;
    for (int row = 0; row < view.rowCount(); ++row)
        pins << view.index(row, int(ProcessColumn::Pin)).data().toString();
    return pins.join(QLatin1Char(' '));
}

const std::initializer_list<const char*> Sample = {"10 ann 9500", "9 Bob 10000", "100 carl 1250",
                                                   "11 ANNA 9500", "7 bo 10000"};

} // namespace

class TestSortFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orders_data();
    void orders();
    void cpuTimeSortsByValue_data();
    void cpuTimeSortsByValue();
    void valuesBesideTexts();
    void refreshUnderSortAndFilter();
    void newRowsAndStaleMarks();
};

void TestSortFilter::cpuTimeSortsByValue_data()
{
    QTest::addColumn<char>("separator");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QString>("pins");
    // Under 1000 s the text is padded with blanks, from 1000 s on it is not:
    // the order must be that of the seconds either way.
    QTest::newRow("point, ascending") << '.' << false << "1 2 3 4 5";
    QTest::newRow("point, descending") << '.' << true << "5 4 3 2 1";
    QTest::newRow("decimal comma, ascending") << ',' << false << "1 2 3 4 5";
    QTest::newRow("decimal comma, descending") << ',' << true << "5 4 3 2 1";
}

void TestSortFilter::cpuTimeSortsByValue()
{
    QFETCH(char, separator);
    QFETCH(bool, descending);
    QFETCH(QString, pins);
    ProcessTableModel table;
    table.setDecimalSeparator(separator);
    RecordSortFilterModel view;
    view.setTable(&table, int(ProcessColumn::Pin));
    // 1250.400, 1.500, 138.357, 123456.789, 0.000 s.
    fill(table, {"4 a 1250400", "2 b 1500", "3 c 138357", "5 d 123456789", "1 e 0"});
    view.sort(int(ProcessColumn::CpuTime), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    QCOMPARE(shownPins(view), pins);
}

void TestSortFilter::valuesBesideTexts()
{
    // The value role gives numbers as numbers and keeps any other text the
    // host sent as it stands.
    ProcessTableModel table;
    table.setDecimalSeparator(',');
    fill(table, {"0123 a 1250400", "7 b -5"});
    const auto value = [&table](int row, ProcessColumn column) {
        return table.index(row, int(column)).data(RecordTableModel::ValueRole);
    };
    QCOMPARE(table.index(0, int(ProcessColumn::CpuTime)).data().toString(),
             QStringLiteral("1250,400"));
    QCOMPARE(value(0, ProcessColumn::CpuTime), QVariant(qlonglong(1250400)));
    QCOMPARE(value(1, ProcessColumn::CpuTime), QVariant(qlonglong(-5)));
    QCOMPARE(value(0, ProcessColumn::Pin), QVariant(QStringLiteral("0123")));
    QCOMPARE(value(1, ProcessColumn::Pin), QVariant(qlonglong(7)));
    QCOMPARE(value(1, ProcessColumn::User), QVariant(QStringLiteral("b")));
    QVERIFY(!value(1, ProcessColumn::Main).isValid());
}

void TestSortFilter::orders_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("pins");

    const int pin = int(ProcessColumn::Pin), user = int(ProcessColumn::User),
              cpu = int(ProcessColumn::CpuTime);
    QTest::newRow("host's order") << -1 << false << QString() << "10 9 100 11 7";
    QTest::newRow("PIN as a number") << pin << false << QString() << "7 9 10 11 100";
    QTest::newRow("PIN descending") << pin << true << QString() << "100 11 10 9 7";
    // 1.250 < 9.500 < 10.000, ties by PIN whichever the direction.
    QTest::newRow("CPU time as a number") << cpu << false << QString() << "100 10 11 7 9";
    QTest::newRow("CPU time descending") << cpu << true << QString() << "7 9 10 11 100";
    QTest::newRow("user ignoring case") << user << false << QString() << "10 11 7 9 100";
    QTest::newRow("filter ignores case") << -1 << false << "an"
                                         << "10 11";
    QTest::newRow("filter over every column") << pin << false << "10"
                                              << "7 9 10 100";
    QTest::newRow("filter matches nothing") << pin << false << "zz"
                                            << "";
}

void TestSortFilter::orders()
{
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QString, filter);
    QFETCH(QString, pins);

    ProcessTableModel table;
    RecordSortFilterModel view;
    view.setTable(&table, int(ProcessColumn::Pin));
    QAbstractItemModelTester tester(&view, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(table, Sample);
    view.sort(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    view.setFilterText(filter);
    QCOMPARE(shownPins(view), pins);
    // Each row shown leads back to the table's row of the same PIN.
    for (int row = 0; row < view.rowCount(); ++row)
        QCOMPARE(table.cell(view.tableRow(row), ProcessColumn::Pin).toByteArray(),
                 view.index(row, int(ProcessColumn::Pin)).data().toString().toLatin1());
}

void TestSortFilter::refreshUnderSortAndFilter()
{
    ProcessTableModel table;
    RecordSortFilterModel view;
    view.setTable(&table, int(ProcessColumn::Pin));
    QAbstractItemModelTester tester(&view, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(table, Sample);
    view.sort(int(ProcessColumn::CpuTime), Qt::DescendingOrder);
    view.setFilterText(QStringLiteral("b"));
    QCOMPARE(shownPins(view), QStringLiteral("7 9"));

    QSignalSpy changed(&view, &QAbstractItemModel::dataChanged);
    QSignalSpy moved(&view, &QAbstractItemModel::layoutChanged);
    QSignalSpy reset(&view, &QAbstractItemModel::modelReset);

    // The same list again: nothing to repaint.
    fill(table, Sample);
    QCOMPARE(changed.count() + moved.count() + reset.count(), 0);

    // Only the CPU time moves: the same rows change places, the selection
    // goes with its row.
    const QPersistentModelIndex selected = view.index(1, 0); // PIN 9
    fill(table, {"10 ann 9500", "9 Bob 20000", "100 carl 1250", "11 ANNA 9500", "7 bo 10000"});
    QCOMPARE(shownPins(view), QStringLiteral("9 7"));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(selected.row(), 0);

    // A process ends and another starts: the order is kept for the new rows.
    fill(table, {"10 ann 9500", "9 Bob 20000", "12 bea 30000", "11 ANNA 9500", "13 bert 500"});
    QCOMPARE(shownPins(view), QStringLiteral("12 9 13"));
    QCOMPARE(reset.count(), 1);

    // Without a sort or filter the host's order is back.
    view.sort(-1);
    view.setFilterText(QString());
    QCOMPARE(shownPins(view), QStringLiteral("10 9 12 11 13"));
}

void TestSortFilter::newRowsAndStaleMarks()
{
    ProcessTableModel table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    table.setMarkNewRows(int(ProcessColumn::Pin));
    const auto marked = [&table] {
        QStringList pins;
        for (int row = 0; row < table.rows(); ++row)
            if (table.index(row, 0).data(RecordTableModel::NewRowRole).toBool())
                pins << QString::fromLatin1(table.cell(row, ProcessColumn::Pin));
        return pins.join(QLatin1Char(' '));
    };

    // The first list is compared with nothing.
    fill(table, Sample);
    QCOMPARE(marked(), QString());
    QCOMPARE(table.rowsStarted(), 0);

    // 100 and 11 ended, 12 and 1 started; the rows after them moved up.
    QSignalSpy changed(&table, &QAbstractItemModel::dataChanged);
    const std::initializer_list<const char*> next = {"10 ann 9500", "9 Bob 10000", "7 bo 10000",
                                                     "12 new 0", "1 one 0"};
    fill(table, next);
    QCOMPARE(marked(), QStringLiteral("12 1"));
    QCOMPARE(table.rowsStarted(), 2);
    QCOMPARE(table.rowsEnded(), 2);
    // A mark lasts one list.
    fill(table, next);
    QCOMPARE(marked(), QString());
    QCOMPARE(table.rowsStarted() + table.rowsEnded(), 0);
    const QList<QVariant> last = changed.last();
    QCOMPARE(last.at(2).value<QList<int>>(), QList<int>{RecordTableModel::NewRowRole});
    // The same PINs in another order are not new; "012" is not 12.
    fill(table, {"1 one 0", "12 new 0", "7 bo 10000", "9 Bob 10000", "10 ann 9500"});
    QCOMPARE(marked(), QString());
    fill(table, {"1 one 0", "012 new 0", "7 bo 10000", "9 Bob 10000", "10 ann 9500"});
    QCOMPARE(marked(), QStringLiteral("012"));
    QCOMPARE(table.rowsStarted(), 1);
    QCOMPARE(table.rowsEnded(), 1);

    QVERIFY(!table.index(0, 0).data(RecordTableModel::StaleRole).toBool());
    table.setStale(true);
    QVERIFY(table.index(4, 2).data(RecordTableModel::StaleRole).toBool());
}

QTEST_GUILESS_MAIN(TestSortFilter)
#include "tst_sortfilter.moc"
