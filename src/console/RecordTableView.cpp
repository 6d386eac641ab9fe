#include "console/RecordTableView.h"

#include "console/RecordItemDelegate.h"
#include "session/RecordSortFilterModel.h"
#include "session/RecordTableModel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

RecordTableView::RecordTableView(QWidget* parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(0);
    constexpr int rowHeight = 18;
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    header->setFixedHeight(rowHeight);
    // Only the operator's own dragging of a header edge makes the widths his.
    header->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (m_headerPressed && !m_operatorSized) {
            m_operatorSized = true;
        }
        if (m_headerPressed)
            Q_EMIT columnsResized();
    });
    connect(header, &QHeaderView::sectionHandleDoubleClicked, this, [this] {
        m_operatorSized = true;
        Q_EMIT columnsResized();
    });
}

void RecordTableView::setRecordTable(RecordTableModel* table, int pinColumn)
{
    m_table = table;
    m_pinColumn = pinColumn;
    m_proxy = new RecordSortFilterModel(this);
    m_proxy->setTable(table, pinColumn);
    setModel(m_proxy);
    m_delegate = new RecordItemDelegate(this);
    setItemDelegate(m_delegate);
    // A refresh or a filter that brings or takes rows resets the view: the
    // chosen row is found again by its PIN.
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &RecordTableView::restoreChosen);
    connect(m_proxy, &QAbstractItemModel::layoutChanged, this, &RecordTableView::restoreChosen);

    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (m_sorting)
                    return;
                m_proxy->sort(column, order);
                Q_EMIT sortChanged(column, order);
            });
}

void RecordTableView::sortBy(int column, Qt::SortOrder order)
{
    if (!m_proxy)
        return;
    m_sorting = true;
    horizontalHeader()->setSortIndicator(column, order);
    m_sorting = false;
    m_proxy->sort(column, order);
}

int RecordTableView::tableRowAt(int viewRow) const
{
    if (viewRow < 0 || !model() || viewRow >= model()->rowCount())
        return -1;
    return m_proxy ? m_proxy->tableRow(viewRow) : viewRow;
}

int RecordTableView::selectedRow() const
{
    const QItemSelectionModel* selection = selectionModel();
    if (!selection)
        return -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row()))
        return tableRowAt(current.row());
    const QModelIndexList rows = selection->selectedRows();
    return rows.isEmpty() ? -1 : tableRowAt(rows.first().row());
}

int RecordTableView::targetRow()
{
    // The framed row, if it is selected: a row the frame does not mark (one
    // a Ctrl+click deselected, while others stay selected) is no target.
    const QItemSelectionModel* selection = selectionModel();
    const QModelIndex current = selection ? selection->currentIndex() : QModelIndex();
    if (!current.isValid() || !selection->isRowSelected(current.row()))
        return -1;
    scrollTo(current);
    return tableRowAt(current.row());
}

QItemSelectionModel::SelectionFlags RecordTableView::selectionCommand(const QModelIndex& index,
                                                                      const QEvent* event) const
{
    // The row frame and the selection never part: a key that moves the
    // current row with Ctrl held (Ctrl+Home, Ctrl+End, Ctrl+arrows) selects
    // the row it lands on, as the key alone does. Shift still extends.
    if (event && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const Qt::KeyboardModifiers held = key->modifiers() & ~Qt::KeypadModifier;
        if (held == Qt::ControlModifier && key->key() != Qt::Key_Space &&
            key->key() != Qt::Key_Select)
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return QTableView::selectionCommand(index, event);
}

std::vector<int> RecordTableView::selectedRows() const
{
    std::vector<int> viewRows;
    if (const QItemSelectionModel* selection = selectionModel())
        for (const QModelIndex& at : selection->selectedRows())
            viewRows.push_back(at.row());
    std::sort(viewRows.begin(), viewRows.end());
    std::vector<int> rows;
    rows.reserve(viewRows.size());
    for (int r : viewRows)
        rows.push_back(tableRowAt(r));
    return rows;
}

std::vector<int> RecordTableView::shownRows() const
{
    std::vector<int> rows;
    const int count = model() ? model()->rowCount() : 0;
    rows.reserve(std::size_t(count));
    for (int r = 0; r < count; ++r)
        rows.push_back(tableRowAt(r));
    return rows;
}

void RecordTableView::selectRow(int row)
{
    QItemSelectionModel* selection = selectionModel();
    if (!selection || !model())
        return;
    rememberChosen(row);
    const int viewRow = !m_proxy || row < 0 ? row : m_proxy->shownRow(row);
    const QModelIndex at = model()->index(viewRow, 0);
    if (viewRow < 0 || !at.isValid()) {
        selection->clear();
        return;
    }
    selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void RecordTableView::rememberChosen(int row)
{
    if (!m_table)
        return;
    m_chosenPin = row < 0 || row >= m_table->rows()
                      ? QByteArray()
                      : m_table->cellAt(row, m_pinColumn).toByteArray();
}

void RecordTableView::restoreChosen()
{
    if (!m_table || m_chosenPin.isEmpty())
        return;
    const QByteArray pin = m_chosenPin;
    const int row = m_table->findRow(m_pinColumn, pin);
    const int viewRow = row < 0 ? -1 : m_proxy->shownRow(row);
    if (viewRow >= 0) {
        selectionModel()->setCurrentIndex(model()->index(viewRow, 0),
                                          QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
    } else {
        selectionModel()->clear();
    }
    // Hidden by the filter for now: chosen again when it shows.
    m_chosenPin = pin;
}

void RecordTableView::fitColumns()
{
    if (m_operatorSized || !model())
        return;
    const int width = this->width() - 24;
    const int columns = std::min<int>(model()->columnCount(), int(m_shares.size()));
    for (int c = 0; c < columns; ++c)
        setColumnWidth(c, width * m_shares[c] / 100);
}

QList<int> RecordTableView::columnWidths() const
{
    QList<int> widths;
    const int columns = model() ? model()->columnCount() : 0;
    for (int c = 0; c < columns; ++c)
        widths.append(columnWidth(c));
    return widths;
}

void RecordTableView::restoreColumnWidths(const QList<int>& widths)
{
    if (widths.isEmpty())
        return;
    for (int c = 0; c < widths.size(); ++c)
        if (widths[c] > 0)
            setColumnWidth(c, widths[c]);
    m_operatorSized = true;
}

bool RecordTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == horizontalHeader() || watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            m_headerPressed = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            m_headerPressed = false;
    }
    return QTableView::eventFilter(watched, event);
}

void RecordTableView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    viewport()->update(); // the current row's frame
}

void RecordTableView::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void RecordTableView::mouseReleaseEvent(QMouseEvent* event)
{
    const QModelIndex at = indexAt(event->position().toPoint());
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && at.isValid()) {
        const int row = tableRowAt(at.row());
        rememberChosen(row);
        Q_EMIT rowChosen(row);
    }
}

void RecordTableView::keyPressEvent(QKeyEvent* event)
{
    // Copying is the window's (whole rows with a header line), not the
    // view's (one cell).
    if (event->matches(QKeySequence::Copy)) {
        Q_EMIT copyRequested();
        return;
    }
    const int before = selectedRow();
    QTableView::keyPressEvent(event);
    const int after = selectedRow();
    if (after >= 0 && after != before) {
        rememberChosen(after);
        Q_EMIT rowChosen(after);
    }
}

void RecordTableView::setRecordDelegate(RecordItemDelegate* delegate)
{
    m_delegate = delegate;
    setItemDelegate(delegate);
}
