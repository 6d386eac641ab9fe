#include "console/RecordTableView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

RecordTableView::RecordTableView(QWidget* parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(0);
    constexpr int rowHeight = 18;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    horizontalHeader()->setFixedHeight(rowHeight);
}

int RecordTableView::selectedRow() const
{
    const QItemSelectionModel* selection = selectionModel();
    if (!selection)
        return -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row()))
        return current.row();
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void RecordTableView::selectRow(int row)
{
    QItemSelectionModel* selection = selectionModel();
    if (!selection || !model())
        return;
    const QModelIndex at = model()->index(row, 0);
    if (row < 0 || !at.isValid()) {
        selection->clear();
        return;
    }
    selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void RecordTableView::mouseReleaseEvent(QMouseEvent* event)
{
    const QModelIndex at = indexAt(event->position().toPoint());
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && at.isValid())
        Q_EMIT rowChosen(at.row());
}

void RecordTableView::keyPressEvent(QKeyEvent* event)
{
    const int before = selectedRow();
    QTableView::keyPressEvent(event);
    const int after = selectedRow();
    if (after >= 0 && after != before)
        Q_EMIT rowChosen(after);
}
