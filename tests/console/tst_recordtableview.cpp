// The table view under the window's tables: the operator's choices are told
// apart from selections made in code, and a row that is not there selects
// nothing.

#include "console/RecordTableView.h"

#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

class TestRecordTableView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QStandardItemModel> m_model;
    std::unique_ptr<RecordTableView> m_view;

private Q_SLOTS:
    void init()
    {
        m_model = std::make_unique<QStandardItemModel>(4, 3);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                m_model->setItem(r, c, new QStandardItem(QStringLiteral("%1/%2").arg(r).arg(c)));
        m_view = std::make_unique<RecordTableView>();
        m_view->setModel(m_model.get());
        m_view->resize(300, 200);
    }

    void cleanup()
    {
        m_view.reset();
        m_model.reset();
    }

    void selectionFromCode_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("selectedCells");
        QTest::newRow("a row") << 2 << 2 << 3;
        QTest::newRow("none") << -1 << -1 << 0;
        QTest::newRow("past the end") << 4 << -1 << 0;
    }

    void selectionFromCode()
    {
        QFETCH(int, row);
        QFETCH(int, selected);
        QFETCH(int, selectedCells);
        QSignalSpy chosen(m_view.get(), &RecordTableView::rowChosen);
        m_view->selectRow(1);
        m_view->selectRow(row);
        QCOMPARE(m_view->selectedRow(), selected);
        // The whole row, and only it.
        QCOMPARE(m_view->selectionModel()->selectedIndexes().size(), selectedCells);
        QCOMPARE(chosen.count(), 0);
    }

    void operatorChoicesAreTold()
    {
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QSignalSpy chosen(m_view.get(), &RecordTableView::rowChosen);
        const QModelIndex cell = m_model->index(2, 1);
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          m_view->visualRect(cell).center());
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.last().at(0).toInt(), 2);
        QCOMPARE(m_view->selectedRow(), 2);
        // The same row again is a choice too (its processes are listed afresh).
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          m_view->visualRect(cell).center());
        QCOMPARE(chosen.count(), 2);
        QTest::keyClick(m_view.get(), Qt::Key_Down);
        QCOMPARE(chosen.count(), 3);
        QCOMPARE(chosen.last().at(0).toInt(), 3);
        // A key that moves nowhere chooses nothing.
        QTest::keyClick(m_view.get(), Qt::Key_Down);
        QCOMPARE(chosen.count(), 3);
    }
};

QTEST_MAIN(TestRecordTableView)
#include "tst_recordtableview.moc"
