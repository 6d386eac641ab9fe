#include "session/RecordSortFilterModel.h"

#include "session/RecordTableModel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>

namespace {

// Latin-1 lower case: the cells are bytes, shown as Latin-1.
constexpr std::array<unsigned char, 256> makeFold()
{
    std::array<unsigned char, 256> fold{};
    for (int c = 0; c < 256; ++c) {
        const bool upper = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
        fold[std::size_t(c)] = static_cast<unsigned char>(upper ? c + 0x20 : c);
    }
    return fold;
}
constexpr std::array<unsigned char, 256> Fold = makeFold();

inline unsigned char folded(char c)
{
    return Fold[static_cast<unsigned char>(c)];
}

int compareFolded(QByteArrayView a, QByteArrayView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char x = folded(a[i]), y = folded(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

RecordSortFilterModel::RecordSortFilterModel(QObject* parent) : QAbstractProxyModel(parent) {}

void RecordSortFilterModel::setTable(RecordTableModel* table, int pinColumn)
{
    beginResetModel();
    if (m_table)
        disconnect(m_table, nullptr, this, nullptr);
    m_table = table;
    m_pinColumn = pinColumn;
    m_sortedValid = false;
    QAbstractProxyModel::setSourceModel(table);

    // Without a sort or a filter the table's own announcements pass through.
    connect(table, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (!isActive())
                    beginInsertRows({}, first, last);
            });
    connect(table, &QAbstractItemModel::rowsInserted, this, [this] {
        if (!isActive())
            endInsertRows();
    });
    connect(table, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (!isActive())
                    beginRemoveRows({}, first, last);
            });
    connect(table, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!isActive())
            endRemoveRows();
    });
    connect(
        table, &QAbstractItemModel::columnsAboutToBeInserted, this,
        [this](const QModelIndex&, int first, int last) { beginInsertColumns({}, first, last); });
    connect(table, &QAbstractItemModel::columnsInserted, this, [this] { endInsertColumns(); });
    connect(table, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles) {
                if (!isActive()) {
                    Q_EMIT dataChanged(index(topLeft.row(), topLeft.column()),
                                       index(bottomRight.row(), bottomRight.column()), roles);
                    return;
                }
                m_changedFirst =
                    m_changedFirst < 0 ? topLeft.row() : std::min(m_changedFirst, topLeft.row());
                m_changedLast = std::max(m_changedLast, bottomRight.row());
                if (!m_replacing)
                    tableChanged();
            });
    connect(table, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(table, &QAbstractItemModel::modelReset, this, [this] {
        m_sortedValid = false;
        if (isActive())
            rebuildMaps(buildOrder());
        endResetModel();
    });
    connect(table, &RecordTableModel::rowsReplacing, this, &RecordSortFilterModel::tableChanging);
    connect(table, &RecordTableModel::rowsReplaced, this, &RecordSortFilterModel::tableChanged);

    if (isActive())
        rebuildMaps(buildOrder());
    endResetModel();
}

void RecordSortFilterModel::setFilterText(const QString& text)
{
    QByteArray needle = text.toLatin1();
    for (char& c : needle)
        c = char(folded(c));
    if (needle == m_needle)
        return;
    // A longer text that holds the old one can only narrow what is shown,
    // and the rows shown are already in order: only they are searched.
    const bool narrowing = !m_needle.isEmpty() && needle.contains(m_needle) && m_table;
    beginResetModel();
    m_needle = needle;
    if (narrowing)
        rebuildMaps(filtered(m_toTable));
    else if (isActive() && m_table)
        rebuildMaps(buildOrder());
    endResetModel();
}

QString RecordSortFilterModel::filterText() const
{
    return QString::fromLatin1(m_needle);
}

void RecordSortFilterModel::sort(int column, Qt::SortOrder order)
{
    if (column == m_sortColumn && (column < 0 || order == m_sortOrder))
        return;
    // The same rows in another order: the views keep their selection.
    moveRows([&] {
        m_sortedValid = false;
        m_sortColumn = column;
        m_sortOrder = order;
        return isActive() && m_table ? buildOrder() : std::vector<std::uint32_t>();
    });
}

int RecordSortFilterModel::tableRow(int row) const
{
    if (!m_table || row < 0)
        return -1;
    if (!isActive())
        return row < m_table->rows() ? row : -1;
    return std::size_t(row) < m_toTable.size() ? int(m_toTable[std::size_t(row)]) : -1;
}

int RecordSortFilterModel::shownRow(int tableRow) const
{
    if (!m_table || tableRow < 0)
        return -1;
    if (!isActive())
        return tableRow < m_table->rows() ? tableRow : -1;
    return std::size_t(tableRow) < m_fromTable.size() ? m_fromTable[std::size_t(tableRow)] : -1;
}

QModelIndex RecordSortFilterModel::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || !m_table)
        return {};
    const int row = tableRow(proxyIndex.row());
    return row < 0 ? QModelIndex() : m_table->index(row, proxyIndex.column());
}

QModelIndex RecordSortFilterModel::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid())
        return {};
    const int row = shownRow(sourceIndex.row());
    return row < 0 ? QModelIndex() : index(row, sourceIndex.column());
}

QModelIndex RecordSortFilterModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex RecordSortFilterModel::parent(const QModelIndex&) const
{
    return {};
}

int RecordSortFilterModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_table)
        return 0;
    return isActive() ? int(m_toTable.size()) : m_table->rows();
}

int RecordSortFilterModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_table ? 0 : m_table->columnCount();
}

QVariant RecordSortFilterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(section + 1) : QVariant();
    return m_table ? m_table->headerData(section, orientation, role) : QVariant();
}

std::vector<std::uint32_t> RecordSortFilterModel::buildOrder()
{
    // All rows are sorted once per refresh and kept: a change of the filter
    // then only searches, in an order that is already right.
    std::vector<std::uint32_t> order;
    if (m_sortColumn >= 0) {
        if (!m_sortedValid) {
            // The last order is where a refresh starts from: most refreshes
            // leave it right, and then it is only checked.
            if (m_sorted.size() != std::size_t(m_table->rows())) {
                m_sorted.resize(std::size_t(m_table->rows()));
                std::iota(m_sorted.begin(), m_sorted.end(), 0u);
            }
            sortRows(m_sorted);
            m_sortedValid = true;
        }
        order = m_sorted;
    } else {
        order.resize(std::size_t(m_table->rows()));
        std::iota(order.begin(), order.end(), 0u);
    }
    if (!m_needle.isEmpty())
        order = filtered(std::move(order));
    return order;
}

std::vector<std::uint32_t> RecordSortFilterModel::filtered(std::vector<std::uint32_t> order) const
{
    // The rows are searched in the table's order, which is the order of
    // their bytes in memory, whatever order they are shown in.
    std::vector<std::uint8_t> keep(std::size_t(m_table->rows()));
    for (const std::uint32_t row : order)
        keep[row] = 1;
    for (std::size_t row = 0; row < keep.size(); ++row)
        if (keep[row])
            keep[row] = matches(int(row)) ? 1 : 0;
    std::erase_if(order, [&keep](std::uint32_t row) { return !keep[row]; });
    return order;
}

bool RecordSortFilterModel::matches(int row) const
{
    // The whole row is searched at once; a match only counts when it lies
    // within one cell.
    const QByteArrayView bytes = m_table->rowBytes(row);
    const qsizetype n = m_needle.size();
    const unsigned char first = static_cast<unsigned char>(m_needle[0]);
    for (qsizetype i = 0, end = bytes.size() - n; i <= end; ++i) {
        if (folded(bytes[i]) != first)
            continue;
        qsizetype j = 1;
        while (j < n && folded(bytes[i + j]) == static_cast<unsigned char>(m_needle[j]))
            ++j;
        if (j < n)
            continue;
        if (n == 1)
            return true;
        qsizetype cellEnd = 0;
        for (int c = 0; c < m_table->columnCount() && cellEnd <= i; ++c)
            cellEnd += m_table->cellAt(row, c).size();
        if (i + n <= cellEnd)
            return true;
    }
    return false;
}

namespace {

// What a row sorts by, read once from its values: numbers before texts, a
// number by its value, a text by its first eight bytes in lower case (the
// rest is read only when those are equal), then the PIN.
struct SortKey
{
    std::uint64_t primary;
    std::uint64_t pin;
    std::uint32_t row;
    std::uint32_t text; // 0: primary is a number
};

// Signed numbers in the order of their unsigned keys.
std::uint64_t numberBits(std::int64_t value)
{
    return std::uint64_t(value) ^ (std::uint64_t(1) << 63);
}

std::uint64_t textPrefix(QByteArrayView text)
{
    std::uint64_t prefix = 0;
    for (qsizetype i = 0; i < 8; ++i)
        prefix = (prefix << 8) | (i < text.size() ? folded(text[i]) : 0u);
    return prefix;
}

} // namespace

void RecordSortFilterModel::sortRows(std::vector<std::uint32_t>& order) const
{
    // order holds every row of the table. The keys are read in the table's
    // order (the cells' order in memory) and sorted themselves, back to
    // back, so that the sort reads memory in order.
    std::vector<SortKey> keys;
    keys.reserve(order.size());
    for (std::uint32_t row = 0; row < std::uint32_t(order.size()); ++row) {
        SortKey key{0, std::numeric_limits<std::uint64_t>::max(), row, 0};
        const RecordValue value = m_table->value(int(row), m_sortColumn);
        if (value.isNumber()) {
            key.primary = numberBits(value.number);
        } else {
            key.text = 1;
            key.primary = textPrefix(value.text);
        }
        if (const RecordValue pin = m_table->value(int(row), m_pinColumn); pin.isNumber())
            key.pin = numberBits(pin.number);
        keys.push_back(key);
    }
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    const int column = m_sortColumn;
    const RecordTableModel* table = m_table;
    const auto before = [&](const SortKey& a, const SortKey& b) {
        int primary = 0;
        if (a.text != b.text)
            primary = a.text ? 1 : -1;
        else if (a.primary != b.primary)
            primary = a.primary < b.primary ? -1 : 1;
        else if (a.text)
            primary = compareFolded(table->value(int(a.row), column).text,
                                    table->value(int(b.row), column).text);
        if (primary != 0)
            return ascending ? primary < 0 : primary > 0;
        if (a.pin != b.pin)
            return a.pin < b.pin;
        return a.row < b.row;
    };
    // The order of the last refresh is checked first: most refreshes leave
    // it right.
    bool sorted = true;
    for (std::size_t i = 1; i < order.size() && sorted; ++i)
        sorted = !before(keys[order[i]], keys[order[i - 1]]);
    if (sorted)
        return;
    std::sort(keys.begin(), keys.end(), before);
    for (std::size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].row;
}

void RecordSortFilterModel::rebuildMaps(std::vector<std::uint32_t> order)
{
    m_toTable = std::move(order);
    m_fromTable.assign(std::size_t(m_table->rows()), -1);
    for (std::size_t i = 0; i < m_toTable.size(); ++i)
        m_fromTable[m_toTable[i]] = std::int32_t(i);
}

void RecordSortFilterModel::tableChanging()
{
    if (!isActive())
        return;
    m_replacing = true;
    m_changedFirst = m_changedLast = -1;
}

void RecordSortFilterModel::tableChanged()
{
    if (!isActive())
        return;
    m_replacing = false;
    m_sortedValid = false;
    apply(buildOrder());
    m_changedFirst = m_changedLast = -1;
}

void RecordSortFilterModel::apply(std::vector<std::uint32_t> order)
{
    if (order == m_toTable && m_fromTable.size() == std::size_t(m_table->rows())) {
        // The same rows in the same places: only changed cells repaint.
        if (m_changedFirst < 0)
            return;
        int first = std::numeric_limits<int>::max(), last = -1;
        for (int row = m_changedFirst; row <= m_changedLast; ++row) {
            const int shown = shownRow(row);
            if (shown >= 0) {
                first = std::min(first, shown);
                last = std::max(last, shown);
            }
        }
        if (last >= 0)
            Q_EMIT dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole});
        return;
    }
    if (order.size() == m_toTable.size()) {
        moveRows([&] { return std::move(order); });
        return;
    }
    beginResetModel();
    rebuildMaps(std::move(order));
    endResetModel();
}

void RecordSortFilterModel::moveRows(const std::function<std::vector<std::uint32_t>()>& change)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> tableRows;
    tableRows.reserve(std::size_t(before.size()));
    for (const QModelIndex& index : before)
        tableRows.push_back(tableRow(index.row()));
    rebuildMaps(change());
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = shownRow(tableRows[std::size_t(i)]);
        after.append(row < 0 ? QModelIndex() : index(row, before[i].column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
