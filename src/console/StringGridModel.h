#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The cells of one string grid, kept compactly as bytes: every cell text lives
// in one arena, and each row holds only offsets into it. Display strings are
// built only when the view asks for a visible cell, so a table of 100,000 rows
// costs a few megabytes and no per-cell objects.
//
// Grid row 0 is the fixed header row and is shown as the view's horizontal
// header; grid row r >= 1 is model row r - 1. Rows added while the caller is
// busy are published to the views in one batch when control returns to the
// event loop (or on the next structural change), so filling a long list costs
// one insertion signal, not one per row.
class StringGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Most characters of one cell that the view shows; longer texts end in "…".
    static constexpr qsizetype MaxShownChars = 256;

    explicit StringGridModel(QObject* parent = nullptr);

    // Grid operations (grid coordinates: column, row; row 0 is the header).
    int RowCount() const { return m_rowCount; }
    int ColCount() const { return m_colCount; }
    void SetRowCount(int rows);
    void SetColCount(int cols);
    QByteArrayView Cell(int col, int row) const;
    void SetCell(int col, int row, QByteArrayView text);
    // Sets the cells of one row from column 0 on, as SetCell on each in turn
    // would (texts past the last column are ignored), at the cost of one
    // call: a list being read fills its rows this way.
    void SetRowCells(int row, std::span<const QByteArrayView> texts);
    void ClearRow(int row);
    // Shows every row added so far to the views at once.
    void Publish();

    // QAbstractItemModel.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct CellRef
    {
        std::uint32_t Offset = 0;
        std::uint32_t Length = 0;
    };

    CellRef& Ref(int col, int row) { return m_cells[std::size_t(row - 1) * m_colCount + col]; }
    const CellRef& Ref(int col, int row) const
    {
        return m_cells[std::size_t(row - 1) * m_colCount + col];
    }
    CellRef Store(QByteArrayView text);
    void CompactIfWasteful();
    void SchedulePublish();

    int m_rowCount = 2; // grid rows, header included
    int m_colCount = 5;
    int m_published = 1; // model rows the views know of
    bool m_publishQueued = false;
    std::vector<QByteArray> m_header;
    std::vector<CellRef> m_cells; // (m_rowCount - 1) x m_colCount
    std::string m_arena;          // appends are plain copies, with no detach checks
    qsizetype m_liveBytes = 0;
};
