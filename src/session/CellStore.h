#pragma once

#include <QByteArrayView>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <unordered_map>
#include <utility>

// A growing array of plain values that leaves new elements unwritten (the
// caller writes them through the pointer grow() returns), so that appending
// a row costs no per-element initialisation or bounds bookkeeping.
template <typename T> class PodBuffer
{
public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    ~PodBuffer() { std::free(m_data); }

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    const T& operator[](std::size_t at) const { return m_data[at]; }
    T& operator[](std::size_t at) { return m_data[at]; }
    const T& back() const { return m_data[m_size - 1]; }

    // Room for count more elements at the end; returns where they start.
    T* grow(std::size_t count)
    {
        if (m_size + count > m_capacity)
            reserve(std::max({m_size + count, m_capacity * 2, std::size_t(64)}));
        T* at = m_data + m_size;
        m_size += count;
        return at;
    }
    void push_back(T value) { *grow(1) = value; }
    void reserve(std::size_t count)
    {
        if (count <= m_capacity)
            return;
        T* bigger = static_cast<T*>(std::realloc(m_data, count * sizeof(T)));
        if (!bigger)
            throw std::bad_alloc();
        m_data = bigger;
        m_capacity = count;
    }
    // Keeps the first count elements (never more than there are).
    void shrinkTo(std::size_t count) { m_size = std::min(count, m_size); }
    void clear() { m_size = 0; }
    // Empties the buffer and gives its memory back.
    void release()
    {
        std::free(std::exchange(m_data, nullptr));
        m_size = m_capacity = 0;
    }
    void swap(PodBuffer& other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

private:
    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Rows of text cells kept compactly as bytes: the cells of a row lie back to
// back in one arena; a row costs one 32-bit offset and each cell an 8-bit
// length (a cell of 255 bytes or more keeps its length aside), so a table
// of 1,000,000 rows holds no per-cell objects. Beside its texts a row may keep
// a few value slots (the numbers behind the texts), 32 bits each back to back
// in one array; a number that does not fit keeps its value aside. Rows are
// only appended; a table is rebuilt by filling a second store and swapping it
// in.
class CellStore
{
public:
    explicit CellStore(int columns, int valueSlots = 0);

    int rowCount() const { return m_rows; }
    int columnCount() const { return m_columns; }
    int valueSlots() const { return m_valueSlots; }
    // A slot that holds no number.
    static constexpr std::int64_t NoValue = INT64_MIN;
    // Value slot of a row; NoValue outside the store.
    std::int64_t slot(int row, int at) const
    {
        if (row < 0 || row >= m_rows || at < 0 || at >= m_valueSlots)
            return NoValue;
        const std::size_t i = std::size_t(row) * std::size_t(m_valueSlots) + std::size_t(at);
        const std::uint32_t v = m_values[i];
        if (v == NoValueBits)
            return NoValue;
        return v == AsideBits ? asideValue(i) : std::int64_t(v);
    }
    // The empty text outside the store.
    QByteArrayView cell(int row, int column) const
    {
        if (row < 0 || row >= m_rows || column < 0 || column >= m_columns)
            return {};
        const std::size_t base = std::size_t(row) * std::size_t(m_columns);
        std::size_t start = m_rowStart[std::size_t(row)];
        for (int c = 0; c < column; ++c)
            start += length(base + std::size_t(c));
        return QByteArrayView(m_arena.data() + start,
                              qsizetype(length(base + std::size_t(column))));
    }
    // The bytes of a whole row, all its cells back to back.
    QByteArrayView rowBytes(int row) const
    {
        if (row < 0 || row >= m_rows)
            return {};
        const std::uint32_t begin = m_rowStart[std::size_t(row)];
        return QByteArrayView(m_arena.data() + begin,
                              qsizetype(m_rowStart[std::size_t(row) + 1] - begin));
    }
    // Whether both stores hold the same rows, cells and values: one compare
    // of each part, which stops at the first difference.
    bool sameAs(const CellStore& other) const;
    // Whether row of this store and otherRow of other hold the same cells.
    bool sameRow(int row, const CellStore& other, int otherRow) const;
    // The first column in which the two rows differ, -1 when none does.
    int firstDifference(int row, const CellStore& other, int otherRow) const;
    // The first row whose cell in column equals text, -1 when none does.
    int findRow(int column, QByteArrayView text) const;

    // Appends one row; cells past texts are empty, texts past the columns
    // are ignored, and so are values: slots past them hold NoValue.
    void appendRow(std::span<const QByteArrayView> texts, std::span<const std::int64_t> values = {})
    {
        // The common row, every cell and value given, each cell short and
        // each value a small number or none, is written here in one pass;
        // any other goes the long way.
        const std::size_t columns = std::size_t(m_columns);
        const std::size_t slots = std::size_t(m_valueSlots);
        if (texts.size() != columns || values.size() != slots)
            return appendAnyRow(texts, values);
        std::size_t bytes = 0;
        bool plain = true;
        for (const QByteArrayView& text : texts) {
            bytes += std::size_t(text.size());
            plain &= std::size_t(text.size()) < LongCell;
        }
        for (const std::int64_t v : values)
            plain &= (v >= 0 && v < std::int64_t(AsideBits)) || v == NoValue;
        const std::size_t start = m_arena.size();
        if (!plain || start + bytes > UINT32_MAX)
            return appendAnyRow(texts, values);
        std::uint32_t* valueOut = m_values.grow(slots);
        for (std::size_t s = 0; s < slots; ++s)
            valueOut[s] = values[s] == NoValue ? NoValueBits : std::uint32_t(values[s]);
        std::uint8_t* lengthOut = m_lengths.grow(columns);
        char* out = m_arena.grow(bytes);
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t n = std::size_t(texts[c].size());
            lengthOut[c] = std::uint8_t(n);
            copyShort(out, texts[c].data(), n);
            out += n;
        }
        m_rowStart.push_back(std::uint32_t(start + bytes));
        ++m_rows;
    }
    // Makes room for about as many rows and bytes as other holds, so that a
    // list of the same size fills without growing (growth by doubling would
    // leave up to half of a large table's memory unused).
    void reserveLike(const CellStore& other);
    // Keeps the first rows rows only.
    void truncate(int rows);
    // Empties the store. A small store keeps its allocation for the next
    // fill; a large one gives it back unless keepFor says a list of about as
    // many bytes comes next (a store refilled every refresh then costs no
    // fresh pages each time; the peak, both lists at once, is the same).
    void clear(const CellStore* keepFor = nullptr);
    void swap(CellStore& other) noexcept;
    std::size_t bytesUsed() const;

private:
    void appendAnyRow(std::span<const QByteArrayView> texts, std::span<const std::int64_t> values);
    // Copies n bytes (a short cell: most are under 16) without a call.
    static void copyShort(char* to, const char* from, std::size_t n)
    {
        if (n >= 8 && n <= 16) {
            // Two 8-byte moves that overlap in the middle.
            std::uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + n - 8, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + n - 8, &tail, 8);
        } else if (n >= 4 && n < 8) {
            std::uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + n - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + n - 4, &tail, 4);
        } else if (n > 16) {
            std::memcpy(to, from, n);
        } else {
            for (std::size_t i = 0; i < n; ++i)
                to[i] = from[i];
        }
    }

    static constexpr std::uint8_t LongCell = 0xFF;
    static constexpr std::uint32_t NoValueBits = 0xFFFFFFFF;
    static constexpr std::uint32_t AsideBits = 0xFFFFFFFE;
    std::int64_t asideValue(std::size_t at) const;

    std::size_t length(std::size_t at) const
    {
        const std::uint8_t n = m_lengths[at];
        return n != LongCell ? n : longLength(at);
    }
    std::size_t longLength(std::size_t at) const;

    int m_columns;
    int m_valueSlots;
    int m_rows = 0;
    // Row r's cells start at m_rowStart[r] (one more entry ends the last
    // row); cell (r, c) is m_lengths[r * columns + c] bytes long, or, when
    // that says LongCell, m_long[r * columns + c].
    PodBuffer<std::uint32_t> m_rowStart;
    PodBuffer<std::uint8_t> m_lengths;
    std::unordered_map<std::size_t, std::uint32_t> m_long;
    PodBuffer<char> m_arena;
    PodBuffer<std::uint32_t> m_values; // m_valueSlots a row
    std::unordered_map<std::size_t, std::int64_t> m_aside;
};
