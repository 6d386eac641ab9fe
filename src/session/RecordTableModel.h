#pragma once

#include "session/CellStore.h"
#include "session/RecordValue.h"

#include <QAbstractTableModel>
#include <QByteArrayView>

#include <cstdint>
#include <vector>

// A table of host records for the views: rows of text cells in a CellStore,
// each numeric field's value kept beside its text (made once, when the row
// arrives; the text is never read back into a number).
// A list from the host is gathered apart (beginFill, append, commitFill) and
// then replaces the rows in one step, so views and commands never see a half
// list. Only what changed is announced: rows added or removed at the end, and
// dataChanged for the cells whose text differs, so an idle refresh that
// brings the same list repaints nothing.
class RecordTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Most characters of a cell that a view shows; longer texts end in "…".
    static constexpr qsizetype MaxShownChars = 256;

    // What a view may show beside the text (booleans): the rows are the last
    // ones read before the link dropped; the row was not in the list before.
    // ValueRole: the cell's value (qlonglong for a number, else its text).
    enum Role
    {
        StaleRole = Qt::UserRole + 1,
        NewRowRole,
        ValueRole,
    };

    // How a column's value is kept: as its text; as a number in a slot (or,
    // when the slot holds none, the text of textColumn, by default the
    // column's own); as the code of a dispatching queue ("BS" 1 ... "ES" 4,
    // which the table itself writes).
    enum class ValueType : std::uint8_t
    {
        Text,
        Number,
        Queue,
    };
    struct ValueSpec
    {
        ValueType type = ValueType::Text;
        int slot = -1;
        int textColumn = -1; // the text that is the value when no number is
    };
    // A slot holding no number.
    static constexpr std::int64_t NoNumber = CellStore::NoValue;
    // The slot for a field sent as decimal text: its number, or NoNumber.
    static std::int64_t decimalSlot(QByteArrayView text)
    {
        const RecordValue v = RecordValues::decimal(text);
        return v.kind == RecordValue::Kind::Integer ? v.number : NoNumber;
    }

    // specs: one per stored column (fewer: the rest are texts).
    RecordTableModel(int columns, int visibleColumns, std::vector<ValueSpec> specs, int valueSlots,
                     QObject* parent);

    // The cell's value: a number, the text when it is not a plain number, or
    // null (an empty Decimal cell, such as no priority).
    RecordValue value(int row, int column) const;

    // The cell's bytes as received; the empty text outside the table.
    QByteArrayView cellAt(int row, int column) const { return m_rows.cell(row, column); }
    // All cells of a row back to back (cellAt tells where each ends).
    QByteArrayView rowBytes(int row) const { return m_rows.rowBytes(row); }
    int rows() const { return m_shownRows; }
    // The row whose cell in column is text, -1 when there is none.
    int findRow(int column, QByteArrayView text) const { return m_rows.findRow(column, text); }
    virtual QByteArrayView columnTitle(int column) const = 0;

    // Starts gathering a list; the rows shown stay until commitFill.
    void beginFill();
    // Rows gathered since beginFill.
    int pendingRows() const { return m_pending.rowCount(); }
    // A sum the table keeps over its rows as they arrive (the CPU time of a
    // process list), so that nobody sums the rows again.
    std::int64_t total() const { return m_total; }
    // Replaces the rows with the gathered ones. A list that did not end
    // whole (cut, stopped) marks nothing new and counts nothing as started
    // or ended, and the next list is not compared with it.
    void commitFill(bool whole = true);
    // Empties the table.
    void clearRows();

    // Marks the rows whose cell in keyColumn (the PIN) was not in the list
    // before, until the next list; -1 stops it. It costs a pass over both
    // lists, so only a table that is shown does it, and only up to
    // MaxComparedRows rows (past them a refresh would take twice as long).
    static constexpr int MaxComparedRows = 250'000;
    void setMarkNewRows(int keyColumn);
    // The next list is not compared with this one (it lists something else).
    void forgetPreviousList() { m_havePrevious = false; }
    bool isNewRow(int row) const;
    // Rows that came and went with the last list (0 when not compared).
    int rowsStarted() const { return m_started; }
    int rowsEnded() const { return m_ended; }

    // The rows were read before the link dropped and are kept to be seen.
    void setStale(bool stale);
    bool isStale() const { return m_stale; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // The rows are about to be replaced, and have been: what is announced
    // between the two (rows removed and inserted, cells changed) is one change.
    void rowsReplacing();
    void rowsReplaced();

protected:
    void appendPending(std::span<const QByteArrayView> cells,
                       std::span<const std::int64_t> values = {})
    {
        m_pending.appendRow(cells, values);
    }
    // Adds a row to the shown table at once.
    void appendNow(std::span<const QByteArrayView> cells,
                   std::span<const std::int64_t> values = {});
    // Shows more columns (never fewer).
    void showColumns(int count);
    int visibleColumns() const { return m_visibleColumns; }
    void addToPendingTotal(std::int64_t amount) { m_pendingTotal += amount; }

private:
    // A row of both lists whose cells first..last (at least) changed.
    struct Change
    {
        int row, first, last;
    };
    // The changed rows of both lists; past MaxSeparateChanges only the span
    // first..last of every changed row (many).
    struct Changes
    {
        std::vector<Change> rows;
        bool many = false;
        int first = -1, last = -1;
    };
    Changes changedRows(int common) const;
    // The key (keyColumn's) of a row of store, as a 64-bit hash.
    std::uint64_t rowKey(const CellStore& store, int row) const;
    // Works out the new rows of m_pending against m_rows.
    std::vector<std::uint8_t> markNewRows();

    std::vector<ValueSpec> m_specs;
    CellStore m_rows;
    CellStore m_pending;
    // The rows the views know of; while a new list is swapped in, fewer than
    // the store holds.
    int m_shownRows = 0;
    int m_visibleColumns;
    int m_keyColumn = -1;
    bool m_havePrevious = false;
    std::vector<std::uint8_t> m_newRows; // per row, 1 when new
    int m_started = 0;
    int m_ended = 0;
    bool m_stale = false;
    std::int64_t m_total = 0;
    std::int64_t m_pendingTotal = 0;
};
