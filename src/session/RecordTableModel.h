#pragma once

#include "session/CellStore.h"

#include <QAbstractTableModel>
#include <QByteArrayView>

// A table of host records for the views: rows of text cells in a CellStore.
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

    RecordTableModel(int columns, int visibleColumns, QObject* parent);

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
    // Replaces the rows with the gathered ones.
    void commitFill();
    // Empties the table.
    void clearRows();

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
    void appendPending(std::span<const QByteArrayView> cells) { m_pending.appendRow(cells); }
    // Adds a row to the shown table at once.
    void appendNow(std::span<const QByteArrayView> cells);
    // Shows more columns (never fewer).
    void showColumns(int count);
    int visibleColumns() const { return m_visibleColumns; }

private:
    CellStore m_rows;
    CellStore m_pending;
    // The rows the views know of; while a new list is swapped in, fewer than
    // the store holds.
    int m_shownRows = 0;
    int m_visibleColumns;
};
