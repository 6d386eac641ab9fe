#pragma once

#include <QAbstractProxyModel>
#include <QByteArray>

#include <cstdint>
#include <functional>
#include <vector>

class RecordTableModel;

// The rows of a listener or process table as the operator chose to see them:
// sorted by a column's values (numbers as numbers, the CPU time by its
// milliseconds, texts ignoring case; ties by PIN) and
// filtered by a text found in any column, ignoring case. Both are kept when a
// refresh replaces the rows.
//
// The order is worked out on the values beside the cells, once per refresh, so that
// 1,000,000 rows sort and filter without a QString per cell. Without a sort
// or a filter the rows pass through unchanged, with the table's own change
// announcements. With them, a refresh that leaves the order as it was
// announces only the cells that changed; one that only reorders keeps the
// selection (layoutChanged); one that brings or takes rows resets the view,
// whose owner then selects the chosen PIN again.
class RecordSortFilterModel : public QAbstractProxyModel
{
    Q_OBJECT

public:
    explicit RecordSortFilterModel(QObject* parent = nullptr);

    // The table: a RecordTableModel; pinColumn breaks ties.
    void setTable(RecordTableModel* table, int pinColumn);
    RecordTableModel* table() const { return m_table; }

    // Rows that hold text in some column, ignoring case; empty shows all.
    void setFilterText(const QString& text);
    QString filterText() const;
    // column -1: the host's order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    bool isActive() const { return m_sortColumn >= 0 || !m_needle.isEmpty(); }

    // The table's row shown at row, and back (-1 when not shown).
    int tableRow(int row) const;
    int shownRow(int tableRow) const;

    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Works out the rows shown, in order.
    std::vector<std::uint32_t> buildOrder();
    // Keeps the rows of order that match the filter, in their order.
    std::vector<std::uint32_t> filtered(std::vector<std::uint32_t> order) const;
    void sortRows(std::vector<std::uint32_t>& order) const;
    bool matches(int row) const;
    // Shows order: the least announcement that tells the views.
    void apply(std::vector<std::uint32_t> order);
    void rebuildMaps(std::vector<std::uint32_t> order);
    // Reorders the same rows (change returns the new order), keeping
    // persistent indexes on their rows.
    void moveRows(const std::function<std::vector<std::uint32_t>()>& change);

    void tableChanging();
    void tableChanged();

    RecordTableModel* m_table = nullptr;
    int m_pinColumn = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QByteArray m_needle;                   // lower-case Latin-1
    std::vector<std::uint32_t> m_toTable;  // shown row -> table row
    std::vector<std::int32_t> m_fromTable; // table row -> shown row or -1
    std::vector<std::uint32_t> m_sorted;   // every table row in the sort's order
    bool m_sortedValid = false;
    bool m_replacing = false;
    int m_changedFirst = -1, m_changedLast = -1; // table rows whose cells changed
};
