#include "session/CellStore.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {
// Past this a cleared store releases its memory instead of keeping it.
constexpr std::size_t KeepBytes = 4 * 1024 * 1024;
} // namespace

CellStore::CellStore(int columns, int valueSlots)
    : m_columns(std::max(columns, 1)), m_valueSlots(std::max(valueSlots, 0))
{
    m_rowStart.push_back(0);
}

std::size_t CellStore::longLength(std::size_t at) const
{
    const auto it = m_long.find(at);
    return it == m_long.end() ? 0 : it->second;
}

int CellStore::firstDifference(int row, const CellStore& other, int otherRow) const
{
    for (int c = 0; c < m_columns; ++c)
        if (cell(row, c) != other.cell(otherRow, c))
            return c;
    return -1;
}

bool CellStore::sameRow(int row, const CellStore& other, int otherRow) const
{
    // The bytes first: most rows that differ differ there, and one compare
    // of the whole row is cheaper than one per cell. The same bytes with the
    // same lengths are the same cells.
    if (rowBytes(row) != other.rowBytes(otherRow))
        return false;
    if (row < 0 || otherRow < 0 || row >= m_rows || otherRow >= other.m_rows)
        return true; // both outside: both empty
    const std::uint8_t* mine = m_lengths.data() + std::size_t(row) * std::size_t(m_columns);
    const std::uint8_t* theirs =
        other.m_lengths.data() + std::size_t(otherRow) * std::size_t(other.m_columns);
    const std::size_t bytes = std::size_t(m_columns) * sizeof(std::uint8_t);
    if (std::memcmp(mine, theirs, bytes) != 0)
        return false;
    if (std::find(mine, mine + m_columns, LongCell) == mine + m_columns)
        return true;
    return firstDifference(row, other, otherRow) < 0;
}

int CellStore::findRow(int column, QByteArrayView text) const
{
    for (int r = 0; r < m_rows; ++r)
        if (cell(r, column) == text)
            return r;
    return -1;
}

std::int64_t CellStore::asideValue(std::size_t at) const
{
    const auto it = m_aside.find(at);
    return it == m_aside.end() ? NoValue : it->second;
}

void CellStore::appendRow(std::span<const QByteArrayView> texts,
                          std::span<const std::int64_t> values)
{
    // Each part grows once a row, and is written through a pointer.
    const std::size_t valueBase = m_values.size();
    m_values.resize(valueBase + std::size_t(m_valueSlots));
    for (std::size_t s = 0; s < std::size_t(m_valueSlots); ++s) {
        const std::int64_t v = s < values.size() ? values[s] : NoValue;
        std::uint32_t bits = NoValueBits;
        if (v >= 0 && v < std::int64_t(AsideBits)) {
            bits = std::uint32_t(v);
        } else if (v != NoValue) {
            m_aside[valueBase + s] = v;
            bits = AsideBits;
        }
        m_values[valueBase + s] = bits;
    }

    // Offsets are 32-bit: a cell that would end past 4 GiB is kept empty
    // rather than wrapping onto other cells' bytes.
    const std::size_t count = std::min(texts.size(), std::size_t(m_columns));
    const std::size_t lengthBase = m_lengths.size();
    m_lengths.resize(lengthBase + std::size_t(m_columns));
    std::size_t end = m_arena.size();
    std::size_t sizes[16];
    for (std::size_t c = 0; c < std::size_t(m_columns); ++c) {
        std::size_t n = c < count ? std::size_t(texts[c].size()) : 0;
        if (end + n > UINT32_MAX)
            n = 0;
        if (c < 16)
            sizes[c] = n;
        end += n;
        if (n >= LongCell) {
            m_long[lengthBase + c] = std::uint32_t(n);
            m_lengths[lengthBase + c] = LongCell;
        } else {
            m_lengths[lengthBase + c] = std::uint8_t(n);
        }
    }
    for (std::size_t c = 0; c < std::size_t(m_columns); ++c) {
        const std::size_t n = c < 16 ? sizes[c] : length(lengthBase + c);
        if (n > 0)
            m_arena.append(texts[c].data(), n);
    }
    m_rowStart.push_back(std::uint32_t(m_arena.size()));
    ++m_rows;
}

void CellStore::reserveLike(const CellStore& other)
{
    const std::size_t rows = std::size_t(other.m_rows) + std::size_t(other.m_rows) / 64 + 16;
    const std::size_t bytes = other.m_arena.size() + other.m_arena.size() / 64 + 256;
    m_rowStart.reserve(rows + 1);
    m_lengths.reserve(rows * std::size_t(m_columns));
    m_arena.reserve(bytes);
    m_values.reserve(rows * std::size_t(m_valueSlots));
}

void CellStore::truncate(int rows)
{
    if (rows < 0 || rows >= m_rows)
        return;
    m_rows = rows;
    m_rowStart.resize(std::size_t(rows) + 1);
    m_lengths.resize(std::size_t(rows) * std::size_t(m_columns));
    std::erase_if(m_long, [this](const auto& entry) { return entry.first >= m_lengths.size(); });
    m_arena.resize(m_rowStart.back());
    m_values.resize(std::size_t(rows) * std::size_t(m_valueSlots));
    std::erase_if(m_aside, [this](const auto& entry) { return entry.first >= m_values.size(); });
}

void CellStore::clear()
{
    m_rows = 0;
    if (m_arena.capacity() > KeepBytes) {
        std::string().swap(m_arena);
        std::vector<std::uint32_t>().swap(m_rowStart);
        std::vector<std::uint8_t>().swap(m_lengths);
        std::vector<std::uint32_t>().swap(m_values);
    } else {
        m_values.clear();
        m_arena.clear();
        m_rowStart.clear();
        m_lengths.clear();
    }
    m_long.clear();
    m_aside.clear();
    m_rowStart.push_back(0);
}

void CellStore::swap(CellStore& other) noexcept
{
    std::swap(m_columns, other.m_columns);
    std::swap(m_valueSlots, other.m_valueSlots);
    std::swap(m_rows, other.m_rows);
    m_rowStart.swap(other.m_rowStart);
    m_lengths.swap(other.m_lengths);
    m_long.swap(other.m_long);
    m_arena.swap(other.m_arena);
    m_values.swap(other.m_values);
    m_aside.swap(other.m_aside);
}

std::size_t CellStore::bytesUsed() const
{
    return m_arena.capacity() + m_rowStart.capacity() * sizeof(std::uint32_t) +
           m_lengths.capacity() * sizeof(std::uint8_t) +
           m_values.capacity() * sizeof(std::uint32_t) +
           m_aside.size() * (sizeof(std::size_t) + sizeof(std::int64_t) + 2 * sizeof(void*)) +
           m_long.size() * (sizeof(std::size_t) + sizeof(std::uint32_t) + 2 * sizeof(void*));
}
