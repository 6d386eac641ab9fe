#include "session/RecordTableModel.h"

#include <QString>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// A set of 64-bit hashes of keys, open addressing: a million PINs cost 16 MB
// for the time of one comparison and no allocation per key. Two keys whose
// hashes are equal count as the same, which at 64 bits does not happen.
class HashSet
{
public:
    explicit HashSet(std::size_t count)
    {
        std::size_t size = 16;
        while (size < count * 2)
            size *= 2;
        m_slots.assign(size, 0);
        m_mask = size - 1;
    }
    void insert(std::uint64_t hash)
    {
        hash |= 1; // 0 marks an empty slot
        std::size_t at = hash & m_mask;
        while (m_slots[at] != 0 && m_slots[at] != hash)
            at = (at + 1) & m_mask;
        m_slots[at] = hash;
    }
    bool contains(std::uint64_t hash) const
    {
        hash |= 1;
        for (std::size_t at = hash & m_mask; m_slots[at] != 0; at = (at + 1) & m_mask)
            if (m_slots[at] == hash)
                return true;
        return false;
    }

private:
    std::vector<std::uint64_t> m_slots;
    std::size_t m_mask;
};

std::uint64_t keyHash(QByteArrayView key)
{
    // FNV-1a, then mixed so that the low bits (the slot) depend on every byte.
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : key)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return h ^ (h >> 32);
}

// Past this many changed rows one dataChanged covers them all: announcing
// each would cost more than the repaint it saves.
constexpr int MaxSeparateChanges = 512;
} // namespace

RecordTableModel::RecordTableModel(int columns, int visibleColumns, std::vector<ValueSpec> specs,
                                   int valueSlots, QObject* parent)
    : QAbstractTableModel(parent), m_specs(std::move(specs)), m_rows(columns, valueSlots),
      m_pending(columns, valueSlots), m_visibleColumns(std::clamp(visibleColumns, 1, columns))
{
    m_specs.resize(std::size_t(columns));
}

RecordValue RecordTableModel::value(int row, int column) const
{
    if (row < 0 || row >= m_shownRows || column < 0 || std::size_t(column) >= m_specs.size())
        return {};
    const ValueSpec& spec = m_specs[std::size_t(column)];
    switch (spec.type) {
    case ValueType::Text:
        break;
    case ValueType::Number: {
        const std::int64_t n = m_rows.slot(row, spec.slot);
        // The cell's own text is then the number's literal.
        if (n != NoNumber)
            return {RecordValue::Kind::Integer, n,
                    spec.textColumn < 0 ? m_rows.cell(row, column) : QByteArrayView()};
        const QByteArrayView text =
            m_rows.cell(row, spec.textColumn >= 0 ? spec.textColumn : column);
        return text.isEmpty() ? RecordValue::null() : RecordValue::ofText(text);
    }
    case ValueType::Queue: {
        static constexpr std::array<const char*, 4> Queues = {"BS", "CS", "DS", "ES"};
        const QByteArrayView text = m_rows.cell(row, column);
        for (std::size_t code = 0; code < Queues.size(); ++code)
            if (text == Queues[code])
                return RecordValue::integer(std::int64_t(code + 1));
        return text.isEmpty() ? RecordValue::null() : RecordValue::ofText(text);
    }
    }
    return RecordValue::ofText(m_rows.cell(row, column));
}

void RecordTableModel::beginFill()
{
    m_pending.clear(&m_rows);
    m_pending.reserveLike(m_rows);
    m_pendingTotal = 0;
}

RecordTableModel::Changes RecordTableModel::changedRows(int common) const
{
    // Which of the rows both lists have changed, and where in the row.
    Changes out;
    for (int r = 0; r < common; ++r) {
        if (m_rows.sameRow(r, m_pending, r))
            continue;
        if (out.first < 0)
            out.first = r;
        out.last = r;
        if (out.many)
            continue;
        if (int(out.rows.size()) >= MaxSeparateChanges) {
            out.many = true;
            out.rows.clear();
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
        out.rows.push_back({r, first, last});
    }
    return out;
}

void RecordTableModel::commitFill(bool whole)
{
    Q_EMIT rowsReplacing();
    const int oldRows = m_shownRows;
    const int newRows = m_pending.rowCount();
    const int common = std::min(oldRows, newRows);
    // Most refreshes of an idle host bring the very same list: then no row
    // is new and no cell changed, found with one compare of the two stores.
    const bool sameList = oldRows == m_rows.rowCount() && m_rows.sameAs(m_pending);
    std::vector<std::uint8_t> newMarks;
    if (!whole) {
        // The rows not read are not gone, and the next whole list is
        // compared with nothing rather than with this part of one.
        m_started = m_ended = 0;
        m_havePrevious = false;
    } else if (sameList) {
        m_started = m_ended = 0;
        m_havePrevious = m_keyColumn >= 0;
    } else {
        newMarks = markNewRows();
    }
    // Rows both lists have whose mark changes are announced with the cells.
    int firstMark = -1, lastMark = -1;
    for (int r = 0; r < common; ++r) {
        const bool was = std::size_t(r) < m_newRows.size() && m_newRows[std::size_t(r)];
        const bool is = std::size_t(r) < newMarks.size() && newMarks[std::size_t(r)];
        if (was != is) {
            firstMark = firstMark < 0 ? r : firstMark;
            lastMark = r;
        }
    }
    const Changes changes = sameList ? Changes() : changedRows(common);

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
    // The old rows' memory is kept for the next list when it is about as
    // large as this one.
    m_pending.clear(&m_rows);
    m_total = std::exchange(m_pendingTotal, 0);
    m_newRows = std::move(newMarks);
    if (newRows > oldRows) {
        beginInsertRows(QModelIndex(), oldRows, newRows - 1);
        m_shownRows = newRows;
        endInsertRows();
    }

    const int lastColumn = m_visibleColumns - 1;
    if (firstMark >= 0)
        Q_EMIT dataChanged(index(firstMark, 0), index(lastMark, lastColumn), {NewRowRole});
    if (changes.many)
        Q_EMIT dataChanged(index(changes.first, 0), index(changes.last, lastColumn),
                           {Qt::DisplayRole});
    for (const Change& change : changes.rows) {
        if (change.first > lastColumn)
            continue;
        Q_EMIT dataChanged(index(change.row, change.first),
                           index(change.row, std::min(change.last, lastColumn)), {Qt::DisplayRole});
    }
    Q_EMIT rowsReplaced();
}

std::uint64_t RecordTableModel::rowKey(const CellStore& store, int row) const
{
    // A key that is a plain number (its text is then exactly its literal) is
    // hashed from its value, which is kept beside it; any other from its text.
    const ValueSpec& spec = m_specs[std::size_t(m_keyColumn)];
    if (spec.type == ValueType::Number && spec.textColumn < 0) {
        if (const std::int64_t n = store.slot(row, spec.slot); n != NoNumber) {
            std::uint64_t h = (std::uint64_t(n) + 0x9e3779b97f4a7c15ull) * 0xbf58476d1ce4e5b9ull;
            return h ^ (h >> 31);
        }
    }
    return keyHash(store.cell(row, m_keyColumn));
}

std::vector<std::uint8_t> RecordTableModel::markNewRows()
{
    m_started = m_ended = 0;
    if (m_keyColumn < 0)
        return {};
    const bool compare = m_havePrevious;
    m_havePrevious = true;
    const int oldRows = m_rows.rowCount();
    const int newRows = m_pending.rowCount();
    if (!compare || std::max(oldRows, newRows) > MaxComparedRows)
        return {};
    // Most refreshes bring the same keys in the same order: nothing is new.
    if (oldRows == newRows) {
        int r = 0;
        while (r < newRows && rowKey(m_rows, r) == rowKey(m_pending, r))
            ++r;
        if (r == newRows)
            return {};
    }
    HashSet before(static_cast<std::size_t>(oldRows));
    for (int r = 0; r < oldRows; ++r)
        before.insert(rowKey(m_rows, r));
    HashSet after(static_cast<std::size_t>(newRows));
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(newRows));
    for (int r = 0; r < newRows; ++r) {
        const std::uint64_t hash = rowKey(m_pending, r);
        after.insert(hash);
        if (!before.contains(hash)) {
            marks[std::size_t(r)] = 1;
            ++m_started;
        }
    }
    for (int r = 0; r < oldRows; ++r)
        if (!after.contains(rowKey(m_rows, r)))
            ++m_ended;
    return marks;
}

void RecordTableModel::setMarkNewRows(int keyColumn)
{
    m_keyColumn = keyColumn;
    m_havePrevious = false;
}

bool RecordTableModel::isNewRow(int row) const
{
    return row >= 0 && std::size_t(row) < m_newRows.size() && m_newRows[std::size_t(row)];
}

void RecordTableModel::setStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    if (m_shownRows > 0)
        Q_EMIT dataChanged(index(0, 0), index(m_shownRows - 1, m_visibleColumns - 1), {StaleRole});
}

void RecordTableModel::clearRows()
{
    beginFill();
    commitFill();
}

void RecordTableModel::appendNow(std::span<const QByteArrayView> cells,
                                 std::span<const std::int64_t> values)
{
    Q_EMIT rowsReplacing();
    const int row = m_shownRows;
    beginInsertRows(QModelIndex(), row, row);
    m_rows.appendRow(cells, values);
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
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (role == StaleRole)
        return m_stale;
    if (role == NewRowRole)
        return isNewRow(index.row());
    if (role == ValueRole) {
        const RecordValue v = value(index.row(), index.column());
        if (v.isNumber())
            return qlonglong(v.number);
        if (v.kind == RecordValue::Kind::Text)
            return QString::fromLatin1(v.text);
        return {};
    }
    if (role != Qt::DisplayRole)
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
