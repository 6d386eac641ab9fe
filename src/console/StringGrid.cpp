#include "StringGrid.h"

#include "StringGridModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), m_model(new StringGridModel(this))
{
    setModel(m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    // Fixed sections: the operator cannot size rows or columns, and the view
    // never measures contents (that would visit every row).
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(0);
    SetDefaultRowHeight(18);
    ShowCurrent();
}

QByteArrayView StringGrid::Cell(int col, int row) const
{
    return m_model->Cell(col, row);
}

void StringGrid::SetCell(int col, int row, QByteArrayView text)
{
    m_model->SetCell(col, row, text);
}

void StringGrid::SetRowCells(int row, std::span<const QByteArrayView> texts)
{
    m_model->SetRowCells(row, texts);
}

void StringGrid::ClearRow(int row)
{
    m_model->ClearRow(row);
}

int StringGrid::RowCount() const
{
    return m_model->RowCount();
}

int StringGrid::ColCount() const
{
    return m_model->ColCount();
}

void StringGrid::SetRowCount(int rows)
{
    const int before = m_model->RowCount();
    {
        // The view moves its own current index when rows go; the grid's
        // current row follows its own rule instead.
        QScopedValueRollback<bool> guard(m_fromCode, true);
        m_model->SetRowCount(rows);
    }
    const int last = m_model->RowCount() - 1;
    if (m_row > last || m_selection.Bottom > last) {
        m_row = std::min(m_row, last);
        m_selection.Top = std::min(m_selection.Top, last);
        m_selection.Bottom = std::min(m_selection.Bottom, last);
        ShowCurrent();
    } else if (m_model->RowCount() < before) {
        ShowCurrent();
    }
}

void StringGrid::SetColCount(int cols)
{
    {
        QScopedValueRollback<bool> guard(m_fromCode, true);
        m_model->SetColCount(cols);
    }
    const int last = m_model->ColCount() - 1;
    m_col = std::min(m_col, last);
    m_selection.Left = std::min(m_selection.Left, last);
    m_selection.Right = std::min(m_selection.Right, last);
    ShowCurrent();
}

void StringGrid::SetRow(int row)
{
    if (row < 1 || row >= RowCount())
        return;
    m_row = row;
    m_selection = GridRect{m_col, row, m_col, row};
    ShowCurrent();
}

void StringGrid::SetCol(int col)
{
    if (col < 0 || col >= ColCount())
        return;
    m_col = col;
    m_selection = GridRect{col, m_row, col, m_row};
    ShowCurrent();
}

void StringGrid::SetSelection(const GridRect& rect)
{
    if (rect.Top < 1 || rect.Bottom >= RowCount() || rect.Left < 0 || rect.Right >= ColCount())
        return;
    m_selection = rect;
    m_row = rect.Top;
    m_col = rect.Left;
    ShowCurrent();
}

void StringGrid::ShowCurrent()
{
    // The view follows the grid's own current cell. Rows still waiting to be
    // published are published first so that the view can point at them.
    QItemSelectionModel* selection = selectionModel();
    if (!selection)
        return;
    QScopedValueRollback<bool> guard(m_fromCode, true);
    if (m_row - 1 >= m_model->rowCount())
        m_model->Publish();
    const QModelIndex at = m_model->index(m_row - 1, m_col);
    if (!at.isValid()) {
        selection->clear();
        return;
    }
    selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void StringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_fromCode || !current.isValid())
        return;
    // The operator moved: the grid's current cell follows the view.
    m_row = current.row() + 1;
    m_col = current.column();
    m_selection = GridRect{m_col, m_row, m_col, m_row};
}

void StringGrid::mouseReleaseEvent(QMouseEvent* event)
{
    const QModelIndex at = indexAt(event->position().toPoint());
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && at.isValid())
        Q_EMIT Clicked();
}

void StringGrid::keyPressEvent(QKeyEvent* event)
{
    const int row = m_row;
    const int col = m_col;
    QTableView::keyPressEvent(event);
    if (row != m_row || col != m_col)
        Q_EMIT Clicked();
}

int StringGrid::ColWidth(int col) const
{
    return columnWidth(col);
}

void StringGrid::SetColWidth(int col, int width)
{
    if (col < 0 || col >= ColCount())
        return;
    setColumnWidth(col, std::max(width, 0));
}

void StringGrid::SetDefaultRowHeight(int height)
{
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(height);
    horizontalHeader()->setFixedHeight(height);
}
