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

bool CellStore::sameAs(const CellStore& other) const
{
    const auto same = [](const auto& a, const auto& b) {
        return a.size() == b.size() &&
               (a.size() == 0 || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
    };
    return m_rows == other.m_rows && m_columns == other.m_columns &&
           m_valueSlots == other.m_valueSlots && same(m_lengths, other.m_lengths) &&
           same(m_arena, other.m_arena) && same(m_values, other.m_values) &&
           m_long == other.m_long && m_aside == other.m_aside;
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

void CellStore::appendAnyRow(std::span<const QByteArrayView> texts,
                             std::span<const std::int64_t> values)
{
    // Each part grows once a row, and is written through a pointer.
    const std::size_t slots = std::size_t(m_valueSlots);
    const std::size_t valueBase = m_values.size();
    std::uint32_t* valueOut = m_values.grow(slots);
    for (std::size_t s = 0; s < slots; ++s) {
        const std::int64_t v = s < values.size() ? values[s] : NoValue;
        std::uint32_t bits = NoValueBits;
        if (v >= 0 && v < std::int64_t(AsideBits)) {
            bits = std::uint32_t(v);
        } else if (v != NoValue) {
            m_aside[valueBase + s] = v;
            bits = AsideBits;
        }
        valueOut[s] = bits;
    }

    // Offsets are 32-bit: a cell that would end past 4 GiB is kept empty
    // rather than wrapping onto other cells' bytes.
    const std::size_t columns = std::size_t(m_columns);
    const std::size_t count = std::min(texts.size(), columns);
    const std::size_t lengthBase = m_lengths.size();
    std::uint8_t* lengthOut = m_lengths.grow(columns);
    const std::size_t start = m_arena.size();
    std::size_t end = start;
    for (std::size_t c = 0; c < columns; ++c) {
        std::size_t n = c < count ? std::size_t(texts[c].size()) : 0;
        if (end + n > UINT32_MAX)
            n = 0;
        end += n;
        if (n >= LongCell) {
            m_long[lengthBase + c] = std::uint32_t(n);
            lengthOut[c] = LongCell;
        } else {
            lengthOut[c] = std::uint8_t(n);
        }
    }
    char* out = m_arena.grow(end - start);
    for (std::size_t c = 0; c < count; ++c) {
        const std::size_t n = lengthOut[c] != LongCell ? lengthOut[c] : longLength(lengthBase + c);
        if (n > 0)
            std::memcpy(out, texts[c].data(), n);
        out += n;
    }
    m_rowStart.push_back(std::uint32_t(end));
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
    m_rowStart.shrinkTo(std::size_t(rows) + 1);
    m_lengths.shrinkTo(std::size_t(rows) * std::size_t(m_columns));
    std::erase_if(m_long, [this](const auto& entry) { return entry.first >= m_lengths.size(); });
    m_arena.shrinkTo(m_rowStart.back());
    m_values.shrinkTo(std::size_t(rows) * std::size_t(m_valueSlots));
    std::erase_if(m_aside, [this](const auto& entry) { return entry.first >= m_values.size(); });
}

void CellStore::clear(const CellStore* keepFor)
{
    m_rows = 0;
    const std::size_t keep =
        keepFor ? std::max(KeepBytes, keepFor->m_arena.size() + keepFor->m_arena.size() / 4)
                : KeepBytes;
    if (m_arena.capacity() > keep) {
        m_arena.release();
        m_rowStart.release();
        m_lengths.release();
        m_values.release();
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
