#include "session/RecordTableModel.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace {
// Past this many changed rows one dataChanged covers them all: announcing
// each would cost more than the repaint it saves.
constexpr int MaxSeparateChanges = 512;
} // namespace

RecordTableModel::RecordTableModel(int columns, int visibleColumns, QObject* parent)
    : QAbstractTableModel(parent), m_rows(columns), m_pending(columns),
      m_visibleColumns(std::clamp(visibleColumns, 1, columns))
{
}

void RecordTableModel::beginFill()
{
    m_pending.clear();
    m_pending.reserveLike(m_rows);
}

void RecordTableModel::commitFill()
{
    Q_EMIT rowsReplacing();
    const int oldRows = m_shownRows;
    const int newRows = m_pending.rowCount();
    const int common = std::min(oldRows, newRows);

    // Which of the rows both lists have changed, and where in the row.
    struct Change
    {
        int row, first, last;
    };
    std::vector<Change> changes;
    bool many = false;
    int firstChanged = -1, lastChanged = -1;
    for (int r = 0; r < common; ++r) {
        if (m_rows.sameRow(r, m_pending, r))
            continue;
        if (firstChanged < 0)
            firstChanged = r;
        lastChanged = r;
        if (many)
            continue;
        if (int(changes.size()) >= MaxSeparateChanges) {
            many = true;
            changes.clear();
            continue;
        }
        int first = -1, last = -1;
        for (int c = 0; c < m_rows.columnCount(); ++c) {
            if (m_rows.cell(r, c) != m_pending.cell(r, c)) {
                if (first < 0)
                    first = c;
                last = c;
            }
        }
        changes.push_back({r, first, last});
    }

    // Views see rows go or come only at the end of the table, and the rows
    // both lists have change only through dataChanged: rows that go are cut
    // from the old list first, the new list is swapped in under the rows
    // both have, and rows that come are announced last.
    if (newRows < oldRows) {
        beginRemoveRows(QModelIndex(), newRows, oldRows - 1);
        m_rows.truncate(newRows);
        m_shownRows = newRows;
        endRemoveRows();
    }
    m_rows.swap(m_pending);
    m_pending.clear();
    if (newRows > oldRows) {
        beginInsertRows(QModelIndex(), oldRows, newRows - 1);
        m_shownRows = newRows;
        endInsertRows();
    }

    const int lastColumn = m_visibleColumns - 1;
    if (many) {
        Q_EMIT dataChanged(index(firstChanged, 0), index(lastChanged, lastColumn),
                           {Qt::DisplayRole});
        Q_EMIT rowsReplaced();
        return;
    }
    for (const Change& change : changes) {
        if (change.first > lastColumn)
            continue;
        Q_EMIT dataChanged(index(change.row, change.first),
                           index(change.row, std::min(change.last, lastColumn)), {Qt::DisplayRole});
    }
    Q_EMIT rowsReplaced();
}

void RecordTableModel::clearRows()
{
    beginFill();
    commitFill();
}

void RecordTableModel::appendNow(std::span<const QByteArrayView> cells)
{
    Q_EMIT rowsReplacing();
    const int row = m_shownRows;
    beginInsertRows(QModelIndex(), row, row);
    m_rows.appendRow(cells);
    m_shownRows = m_rows.rowCount();
    endInsertRows();
    Q_EMIT rowsReplaced();
}

void RecordTableModel::showColumns(int count)
{
    count = std::min(count, m_rows.columnCount());
    if (count <= m_visibleColumns)
        return;
    beginInsertColumns(QModelIndex(), m_visibleColumns, count - 1);
    m_visibleColumns = count;
    endInsertColumns();
}

int RecordTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shownRows;
}

int RecordTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_visibleColumns;
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QByteArrayView text = m_rows.cell(index.row(), index.column());
    // A host can send a field of thousands of characters; laying out all of
    // it on every paint would stall the view. The cell keeps every byte (the
    // commands read it); only what is shown is cut.
    if (text.size() > MaxShownChars)
        return QString::fromLatin1(text.first(MaxShownChars)) + QChar(0x2026);
    return QString::fromLatin1(text);
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= m_visibleColumns)
        return {};
    return QString::fromLatin1(columnTitle(section));
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
