// A record table filled list after list as refreshes fill it: rows with
// fewer or more texts than columns, only the cells that changed announced,
// and a table emptied and refilled larger and smaller keeping every cell.
#include "session/RecordTableModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <vector>

namespace {

// Five columns, all shown, rows appended as plain texts.
class Table : public RecordTableModel
{
public:
    Table() : RecordTableModel(5, 5, {}, 0, nullptr) {}
    QByteArrayView columnTitle(int) const override { return "T"; }
    void fill(const QList<QList<QByteArray>>& rows)
    {
        beginFill();
        for (const QList<QByteArray>& row : rows)
            appendPending(std::vector<QByteArrayView>(row.begin(), row.end()));
        commitFill();
    }
    QList<QByteArray> row(int r) const
    {
        QList<QByteArray> out;
        for (int c = 0; c < 5; ++c)
            out.append(cellAt(r, c).toByteArray());
        return out;
    }
};

} // namespace

class TestRecordTableModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowTexts_data();
    void rowTexts();
    void refillAnnouncesOnlyChangedCells();
    void emptiedAndRefilled();
};

void TestRecordTableModel::rowTexts_data()
{
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QList<QByteArray>>("cells");
    const QList<QByteArray> five{"0123", "201", "CNDUSER", "ALICE", "   1.500"};
    QTest::newRow("whole row") << five << five;
    QTest::newRow("first cells only")
        << QList<QByteArray>{"", "7"} << QList<QByteArray>{"", "7", "", "", ""};
    QTest::newRow("more texts than columns") << (five + QList<QByteArray>{"ES", "x"}) << five;
    // 254 bytes is the longest length kept inline, 255 the first kept aside.
    for (const int n : {254, 255}) {
        const QByteArray text(n, 'y');
        QTest::addRow("a cell of %d bytes", n)
            << QList<QByteArray>{text, "2"} << QList<QByteArray>{text, "2", "", "", ""};
    }
    const QByteArray longText(70000, 'x');
    QTest::newRow("a cell of 70,000 bytes")
        << QList<QByteArray>{"1", longText, "z"} << QList<QByteArray>{"1", longText, "z", "", ""};
}

void TestRecordTableModel::rowTexts()
{
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QList<QByteArray>, cells);
    Table table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QList<QByteArray> neighbour{"a", "b", "c", "d", "e"};
    table.fill({neighbour, texts, neighbour});
    QCOMPARE(table.rows(), 3);
    QCOMPARE(table.row(0), neighbour);
    QCOMPARE(table.row(1), cells);
    QCOMPARE(table.row(2), neighbour);
    QCOMPARE(table.row(3), (QList<QByteArray>{"", "", "", "", ""})); // past the end
}

void TestRecordTableModel::refillAnnouncesOnlyChangedCells()
{
    Table table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QList<QList<QByteArray>> rows{{"1", "101", "P", "U", "0.1"},
                                        {"1", "102", "P", "V", "0.2"},
                                        {"1", "103", "P", "W", "0.3"}};
    table.fill(rows);
    QSignalSpy changed(&table, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(&table, &QAbstractItemModel::rowsInserted);
    table.fill(rows); // an idle refresh: the same list
    QCOMPARE(changed.count(), 0);

    QList<QList<QByteArray>> next = rows;
    next[1][3] = "X";
    next[1][4] = "0.9";
    table.fill(next);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), table.index(1, 3));
    QCOMPARE(changed[0][1].toModelIndex(), table.index(1, 4));
    QCOMPARE(table.data(table.index(1, 4)).toString(), QStringLiteral("0.9"));
    QCOMPARE(inserted.count(), 0);

    // Cells of 65,535 bytes and more keep their lengths aside: two that
    // trade lengths leave the row's bytes as they were, and still changed.
    const QByteArray a(70000, 'x'), b(70001, 'x');
    table.fill({{"1", a, b, "", ""}});
    changed.clear();
    table.fill({{"1", b, a, "", ""}});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table.row(0), (QList<QByteArray>{"1", b, a, "", ""}));
}

void TestRecordTableModel::emptiedAndRefilled()
{
    Table table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto rowOf = [](const QByteArray& tag, int r) {
        return QList<QByteArray>{tag, tag + QByteArray::number(r), "CNDUSER", "USER", "   0.042"};
    };
    // Emptied between fills, and filled larger and smaller, as refreshes do.
    for (int rows : {3000, 5000, 10, 3000}) {
        const QByteArray tag = "t" + QByteArray::number(rows);
        table.clearRows();
        QCOMPARE(table.rowCount(), 0);
        QList<QList<QByteArray>> list;
        for (int r = 0; r < rows; ++r)
            list.append(rowOf(tag, r));
        table.fill(list);
        QCOMPARE(table.rowCount(), rows);
        for (int r : {0, rows / 2, rows - 1})
            QCOMPARE(table.row(r), rowOf(tag, r));
        QCOMPARE(table.data(table.index(rows - 1, 1)).toString(),
                 QString::fromLatin1(tag + QByteArray::number(rows - 1)));
    }
}

QTEST_GUILESS_MAIN(TestRecordTableModel)
#include "tst_recordtablemodel.moc"
