// Filling grid rows in one call each, and a grid emptied and filled again
// (what every refresh does) keeping every cell right.
#include "StringGrid.h"
#include "StringGridModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <vector>

class tst_GridRows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowCellsMatchCellByCell_data();
    void rowCellsMatchCellByCell();
    void publishedRowChangesOnce();
    void emptiedAndRefilled();
};

namespace {

QList<QByteArray> Row(const StringGrid& grid, int row)
{
    QList<QByteArray> out;
    for (int c = 0; c < grid.ColCount(); ++c)
        out.append(grid.CellText(c, row));
    return out;
}

} // namespace

void tst_GridRows::rowCellsMatchCellByCell_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QList<QByteArray>>("texts");
    const QList<QByteArray> five{"0123", "201", "CNDUSER", "ALICE", "   1.500"};
    QTest::newRow("whole row") << 2 << five;
    QTest::newRow("first cells only") << 3 << QList<QByteArray>{"", "7"};
    QTest::newRow("more texts than columns") << 1 << (five + QList<QByteArray>{"ES", "x"});
    QTest::newRow("header row") << 0 << QList<QByteArray>{"Main", "PIN"};
    QTest::newRow("below the last row") << 4 << five;
    QTest::newRow("negative row") << -1 << five;
}

void tst_GridRows::rowCellsMatchCellByCell()
{
    QFETCH(int, row);
    QFETCH(QList<QByteArray>, texts);
    StringGrid byRow;
    StringGrid byCell;
    QAbstractItemModelTester tester(byRow.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (StringGrid* grid : {&byRow, &byCell}) {
        grid->SetRowCount(4);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < grid->ColCount(); ++c)
                grid->SetCell(c, r, "old" + QByteArray::number(r * 10 + c));
    }
    std::vector<QByteArrayView> views(texts.begin(), texts.end());
    byRow.SetRowCells(row, views);
    for (int c = 0; c < texts.size(); ++c)
        byCell.SetCell(c, row, texts[c]);
    for (int r = 0; r < 4; ++r)
        QCOMPARE(Row(byRow, r), Row(byCell, r));
    QCOMPARE(byRow.RowCount(), 4);
}

void tst_GridRows::publishedRowChangesOnce()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    grid.SetRowCount(3);
    grid.Model()->Publish();
    QSignalSpy changed(grid.Model(), &QAbstractItemModel::dataChanged);
    const QByteArrayView cells[] = {"1", "2", "3"};
    grid.SetRowCells(2, cells);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), grid.Model()->index(1, 0));
    QCOMPARE(changed[0][1].toModelIndex(), grid.Model()->index(1, 2));
    QCOMPARE(grid.model()->data(grid.model()->index(1, 2)).toString(), QStringLiteral("3"));

    // A row not yet shown changes nothing the view knows of.
    grid.SetRowCount(5);
    changed.clear();
    grid.SetRowCells(4, cells);
    QCOMPARE(changed.count(), 0);
    QApplication::processEvents();
    QCOMPARE(grid.model()->rowCount(), 4);
    QCOMPARE(grid.model()->data(grid.model()->index(3, 1)).toString(), QStringLiteral("2"));
}

void tst_GridRows::emptiedAndRefilled()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto fill = [&grid](int rows, const QByteArray& tag) {
        grid.SetRowCount(rows + 1);
        for (int r = 1; r <= rows; ++r) {
            const QByteArray pin = tag + QByteArray::number(r);
            const QByteArrayView cells[] = {tag, pin, "CNDUSER", "USER", "   0.042"};
            grid.SetRowCells(r, cells);
        }
        QApplication::processEvents();
    };
    fill(3000, "a");
    // Emptied to its one row, whose cells survive the tidying of the
    // arena; then filled again, larger and smaller, as refreshes do.
    grid.SetCell(4, 1, "kept");
    grid.SetRowCount(2);
    QCOMPARE(Row(grid, 1), (QList<QByteArray>{"a", "a1", "CNDUSER", "USER", "kept"}));
    for (int rows : {5000, 10, 3000}) {
        const QByteArray tag = "t" + QByteArray::number(rows);
        grid.SetRowCount(2);
        grid.ClearRow(1);
        fill(rows, tag);
        QCOMPARE(grid.RowCount(), rows + 1);
        for (int r : {1, rows / 2 + 1, rows})
            QCOMPARE(Row(grid, r), (QList<QByteArray>{tag, tag + QByteArray::number(r), "CNDUSER",
                                                      "USER", "   0.042"}));
        QCOMPARE(grid.model()->data(grid.model()->index(rows - 1, 1)).toString(),
                 QString::fromLatin1(tag + QByteArray::number(rows)));
    }
}

QTEST_MAIN(tst_GridRows)
#include "tst_GridRows.moc"
