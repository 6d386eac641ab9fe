#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Rows of text cells kept compactly as bytes: the cells of a row lie back to
// back in one arena and each cell costs one 32-bit offset, so a table of
// 1,000,000 rows holds no per-cell objects. Rows are only appended; a table
// is rebuilt by filling a second store and swapping it in.
class CellStore
{
public:
    explicit CellStore(int columns);

    int rowCount() const { return m_rows; }
    int columnCount() const { return m_columns; }
    // The empty text outside the store.
    QByteArrayView cell(int row, int column) const
    {
        if (row < 0 || row >= m_rows || column < 0 || column >= m_columns)
            return {};
        const std::size_t at = std::size_t(row) * std::size_t(m_columns) + std::size_t(column);
        const std::uint32_t begin = m_offsets[at];
        return QByteArrayView(m_arena.data() + begin, qsizetype(m_offsets[at + 1] - begin));
    }
    // The bytes of a whole row, all its cells back to back.
    QByteArrayView rowBytes(int row) const
    {
        if (row < 0 || row >= m_rows)
            return {};
        const std::size_t at = std::size_t(row) * std::size_t(m_columns);
        const std::uint32_t begin = m_offsets[at];
        return QByteArrayView(m_arena.data() + begin,
                              qsizetype(m_offsets[at + std::size_t(m_columns)] - begin));
    }
    // Whether row of this store and otherRow of other hold the same cells.
    bool sameRow(int row, const CellStore& other, int otherRow) const;
    // The first column in which the two rows differ, -1 when none does.
    int firstDifference(int row, const CellStore& other, int otherRow) const;
    // The first row whose cell in column equals text, -1 when none does.
    int findRow(int column, QByteArrayView text) const;

    // Appends one row; cells past texts are empty, texts past the columns
    // are ignored.
    void appendRow(std::span<const QByteArrayView> texts);
    // Appends a row of other (which has the same columns).
    void appendRowFrom(const CellStore& other, int row);
    // Makes room for about as many rows and bytes as other holds, so that a
    // list of the same size fills without growing (growth by doubling would
    // leave up to half of a large table's memory unused).
    void reserveLike(const CellStore& other);
    // Keeps the first rows rows only.
    void truncate(int rows);
    // Empties the store. A small store keeps its allocation for the next
    // fill; a large one gives it back.
    void clear();
    void swap(CellStore& other) noexcept;
    std::size_t bytesUsed() const;

private:
    int m_columns;
    int m_rows = 0;
    // m_offsets[r * columns + c] is where cell (r, c) starts; the cell ends
    // where the next one starts (m_offsets holds one extra end offset).
    std::vector<std::uint32_t> m_offsets;
    std::string m_arena;
};
