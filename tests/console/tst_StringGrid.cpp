// The string grid: cell storage, row and column counts, current cell and
// selection rules, batched publication to the view, and the model contract.

#include "StringGrid.h"
#include "StringGridModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class tst_StringGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cellsAndOutside();
    void lowerRowCountMovesCurrentAndDiscards();
    void lowerColCountMovesCurrent();
    void codeChangesDoNotClick();
    void operatorClickEmitsClicked();
    void rowsArePublishedInOneBatch();
    void manyRowsUnderTester();
    void headerIsRowZero();
    void longCellIsShownCutButKeptWhole();
};

void tst_StringGrid::cellsAndOutside()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(grid.RowCount(), 2);
    grid.SetRowCount(4);
    grid.SetCell(2, 3, "abc");
    QCOMPARE(grid.Cell(2, 3), QByteArrayView("abc"));
    // Outside the grid every read is empty, never a crash.
    QVERIFY(grid.Cell(9, 1).isEmpty());
    QVERIFY(grid.Cell(0, 99).isEmpty());
    QVERIFY(grid.Cell(-1, -1).isEmpty());
    grid.SetCell(9, 9, "ignored");
    grid.SetCell(1, 3, "x\xe9y"); // Latin-1 bytes reach the view as text
    QApplication::processEvents();
    QCOMPARE(grid.model()->data(grid.model()->index(2, 1)).toString(), QStringLiteral("x\u00e9y"));
    grid.ClearRow(3);
    QVERIFY(grid.Cell(2, 3).isEmpty());
    QVERIFY(grid.Cell(1, 3).isEmpty());
}

void tst_StringGrid::lowerRowCountMovesCurrentAndDiscards()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    grid.SetRowCount(6);
    for (int r = 1; r < 6; ++r)
        grid.SetCell(0, r, QByteArray::number(r * 10));
    grid.SetRow(4);
    QCOMPARE(grid.Row(), 4);
    grid.SetRowCount(3);
    QCOMPARE(grid.Row(), 2);
    // A reset leaves the header and one empty row; nothing of the longer
    // table comes back when rows are added again.
    grid.SetRowCount(2);
    grid.ClearRow(1);
    QCOMPARE(grid.Row(), 1);
    grid.SetRowCount(6);
    for (int r = 1; r < 6; ++r)
        QVERIFY2(grid.Cell(0, r).isEmpty(), qPrintable(QString::number(r)));
    grid.SetRowCount(0); // never below the header and one row
    QCOMPARE(grid.RowCount(), 2);
}

void tst_StringGrid::lowerColCountMovesCurrent()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    grid.SetColCount(6);
    grid.SetCell(5, 1, "ES");
    grid.SetCell(5, 0, "Pri");
    grid.SetCol(5);
    QCOMPARE(grid.Col(), 5);
    grid.SetColCount(5);
    QCOMPARE(grid.Col(), 4);
    grid.SetColCount(6);
    QVERIFY(grid.Cell(5, 1).isEmpty());
}

void tst_StringGrid::codeChangesDoNotClick()
{
    StringGrid grid;
    grid.resize(300, 200);
    grid.show();
    QSignalSpy clicks(&grid, &StringGrid::Clicked);
    grid.SetRowCount(5);
    grid.SetRow(3);
    grid.SetCol(2);
    grid.SetSelection(GridRect{0, 2, 4, 2});
    QCOMPARE(grid.Row(), 2);
    QCOMPARE(grid.Selection(), (GridRect{0, 2, 4, 2}));
    grid.SetRowCount(2);
    QCOMPARE(clicks.count(), 0);
}

void tst_StringGrid::operatorClickEmitsClicked()
{
    StringGrid grid;
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.SetRowCount(5);
    for (int r = 1; r < 5; ++r)
        grid.SetCell(0, r, QByteArray::number(r));
    QApplication::processEvents();
    QSignalSpy clicks(&grid, &StringGrid::Clicked);
    const QRect cell = grid.visualRect(grid.model()->index(2, 1));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(grid.Row(), 3);
    QCOMPARE(grid.Col(), 1);
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(grid.Row(), 4);
}

void tst_StringGrid::rowsArePublishedInOneBatch()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(grid.model(), &QAbstractItemModel::rowsInserted);
    for (int r = 2; r <= 1001; ++r) {
        grid.SetRowCount(r);
        grid.SetCell(1, r - 1, QByteArray::number(r));
    }
    QCOMPARE(grid.RowCount(), 1001);
    QCOMPARE(inserted.count(), 0);
    QApplication::processEvents();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(grid.model()->rowCount(), 1000);
    QCOMPARE(grid.model()->data(grid.model()->index(999, 1)).toString(), QStringLiteral("1001"));
    // Pointing at a row not yet shown publishes it first.
    grid.SetRowCount(1003);
    grid.SetRow(1002);
    QCOMPARE(grid.model()->rowCount(), 1002);
    QCOMPARE(grid.currentIndex().row(), 1001);
}

void tst_StringGrid::manyRowsUnderTester()
{
    StringGrid grid;
    QAbstractItemModelTester tester(grid.Model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    grid.SetColCount(6);
    for (int round = 0; round < 3; ++round) {
        grid.SetRowCount(2);
        grid.ClearRow(1);
        const int rows = 20000 + round * 1000;
        for (int r = 1; r <= rows; ++r) {
            grid.SetRowCount(r + 1);
            grid.SetCell(1, r, QByteArray::number(r));
            grid.SetCell(4, r, "   1.500");
        }
        QApplication::processEvents();
        QCOMPARE(grid.model()->rowCount(), rows);
        QCOMPARE(grid.Cell(1, rows), QByteArray::number(rows));
    }
}

void tst_StringGrid::headerIsRowZero()
{
    StringGrid grid;
    grid.SetCell(0, 0, "Pin");
    QCOMPARE(grid.Cell(0, 0), QByteArrayView("Pin"));
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Pin"));
    grid.SetColWidth(0, 48);
    QCOMPARE(grid.ColWidth(0), 48);
}

void tst_StringGrid::longCellIsShownCutButKeptWhole()
{
    StringGrid grid;
    const QByteArray longText(10000, 'N');
    grid.SetCell(2, 1, longText);
    QApplication::processEvents();
    // The commands read the whole cell; the view gets a bounded text.
    QCOMPARE(grid.Cell(2, 1), QByteArrayView(longText));
    const QString shown = grid.model()->data(grid.model()->index(0, 2)).toString();
    QCOMPARE(shown.size(), StringGridModel::MaxShownChars + 1);
    QVERIFY(shown.endsWith(QChar(0x2026)));
}

QTEST_MAIN(tst_StringGrid)
#include "tst_StringGrid.moc"
