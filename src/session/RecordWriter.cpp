#include "session/RecordWriter.h"

#include "session/RecordBytes.h"

#include "host_link/RecordDisplay.h"
#include "host_link/Wire.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QList>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <vector>

RecordOutput::RecordOutput()
{
    makeRoom(2 * FlushSize);
}

RecordOutput::~RecordOutput() = default;

void RecordOutput::write(QByteArrayView bytes)
{
    char* p = reserve(bytes.size());
    std::memcpy(p, bytes.data(), size_t(bytes.size()));
    commit(p + bytes.size());
}

void RecordOutput::makeRoom(qsizetype bytes)
{
    flush();
    if (m_capacity >= bytes)
        return;
    m_capacity = std::max(bytes, 2 * FlushSize);
    m_data = std::make_unique_for_overwrite<char[]>(size_t(m_capacity));
}

bool RecordOutput::flush()
{
    const qsizetype size = m_size;
    m_size = 0;
    if (m_failed)
        return false;
    if (size > 0 && !drain(m_data.get(), size))
        m_failed = true;
    return !m_failed;
}

ByteArrayOutput::~ByteArrayOutput() = default;

QByteArray ByteArrayOutput::take()
{
    flush();
    return std::exchange(m_bytes, {});
}

bool ByteArrayOutput::drain(const char* data, qsizetype size)
{
    m_bytes.append(data, size);
    return true;
}

namespace {

using namespace RecordBytes;

class JsonWriter : public RecordWriter
{
public:
    JsonWriter(const RecordShape& shape, RecordOutput& out, bool oneLine)
        : m_out(out), m_oneLine(oneLine)
    {
        // Each key with what goes before it: {"pin": , "port": ...
        for (const char* key : shape.keys) {
            QByteArray prefix(m_keys.isEmpty() ? "{" : ", ");
            RecordText::appendJsonString(prefix, key);
            prefix.append(": ");
            m_most += prefix.size() + 32;
            m_keys << prefix;
        }
    }

    void record(std::span<const QByteArrayView>, std::span<const RecordValue> values) override
    {
        qsizetype most = m_most;
        for (const RecordValue& v : values)
            most += 6 * v.text.size();
        char* p = m_out.reserve(most);
        if (m_records++ == 0)
            p = put(p, m_oneLine ? "[" : "[\n  ");
        else
            p = put(p, m_oneLine ? ", " : ",\n  ");
        const qsizetype count = std::min<qsizetype>(m_keys.size(), qsizetype(values.size()));
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            p = put(p, m_keys[i]);
            const RecordValue v = i < count ? values[std::size_t(i)] : RecordValue();
            if (v.kind == RecordValue::Kind::Text)
                p = putJson(p, v.text);
            else if (v.kind == RecordValue::Kind::Null)
                p = put(p, "null");
            else
                p = putNumber(p, v);
        }
        *p++ = '}';
        m_out.commit(p);
    }

    void finish() override
    {
        if (m_records == 0)
            m_out.write("[]\n");
        else
            m_out.write(m_oneLine ? "]\n" : "\n]\n");
        m_out.flush();
    }

private:
    RecordOutput& m_out;
    bool m_oneLine;
    QList<QByteArray> m_keys;
    qsizetype m_most = 8; // the bytes of a record but its texts' own
    qsizetype m_records = 0;
};

// CSV, or with tabs (KeyedTsv): the keys, then each record's values as it
// comes.
class CsvWriter : public RecordWriter
{
public:
    CsvWriter(const RecordShape& shape, RecordOutput& out, const RecordStyle& style)
        : m_out(out), m_keys(qsizetype(shape.keys.size())), m_terminal(style.terminal),
          m_tabs(style.format == RecordFormat::KeyedTsv), m_crlf(style.crlf && !m_tabs)
    {
        if (style.noHeaders)
            return;
        qsizetype most = 2;
        for (const char* key : shape.keys)
            most += 3 + 4 * qstrlen(key);
        QByteArray b(most, Qt::Uninitialized);
        char* p = b.data();
        for (std::size_t i = 0; i < shape.keys.size(); ++i)
            p = field(p, i, RecordValue::ofText(shape.keys[i]));
        b.truncate(lineEnd(p) - b.constData());
        m_out.write(b);
    }

    void record(std::span<const QByteArrayView>, std::span<const RecordValue> values) override
    {
        qsizetype most = 2 + 34 * m_keys;
        for (const RecordValue& v : values)
            most += 3 + 4 * v.text.size();
        char* p = m_out.reserve(most);
        const std::size_t count = std::min(std::size_t(m_keys), values.size());
        for (std::size_t i = 0; i < std::size_t(m_keys); ++i)
            p = field(p, i, i < count ? values[i] : RecordValue());
        m_out.commit(lineEnd(p));
    }

    void finish() override { m_out.flush(); }

private:
    char* field(char* p, std::size_t i, const RecordValue& v) const
    {
        if (i > 0)
            *p++ = m_tabs ? '\t' : ',';
        // A number's literal needs no quoting.
        if (v.kind == RecordValue::Kind::Text)
            return m_tabs ? putTsv(p, v.text) : putCsv(p, v.text, m_terminal);
        if (v.kind != RecordValue::Kind::Null)
            return putNumber(p, v);
        return p;
    }
    char* lineEnd(char* p) const
    {
        if (m_crlf)
            *p++ = '\r';
        *p++ = '\n';
        return p;
    }

    RecordOutput& m_out;
    qsizetype m_keys;
    bool m_terminal;
    bool m_tabs;
    bool m_crlf;
};

// Tab-separated: cells separated by one tab, each row written as it comes.
// Every column is written, the optional one too, so that a row's fields are
// where the title line says.
class TabSeparatedWriter : public RecordWriter
{
public:
    TabSeparatedWriter(const RecordShape& shape, RecordOutput& out, bool headers)
        : m_out(out), m_columns(shape.titles.size())
    {
        if (!headers)
            return;
        QByteArray b;
        for (std::size_t i = 0; i < shape.titles.size(); ++i) {
            if (i > 0)
                b.append('\t');
            RecordText::appendTerminalText(b, shape.titles[i]);
        }
        b.append('\n');
        m_out.write(b);
    }

    bool printsRows() const override { return true; }

    void record(std::span<const QByteArrayView> row, std::span<const RecordValue>) override
    {
        qsizetype most = 1 + qsizetype(m_columns);
        for (const QByteArrayView& cell : row)
            most += 4 * cell.size();
        char* p = m_out.reserve(most);
        const std::size_t count = std::min(m_columns, row.size());
        for (std::size_t i = 0; i < m_columns; ++i) {
            if (i > 0)
                *p++ = '\t';
            if (i < count)
                p = putTerminal(p, row[i]);
        }
        *p++ = '\n';
        m_out.commit(p);
    }

    void finish() override { m_out.flush(); }

private:
    RecordOutput& m_out;
    std::size_t m_columns;
};

// The aligned table. Each row is kept as its display texts only, in chunks
// of one mebibyte that are filled and never moved: the length of each cell
// (one byte, or 255 and two more for a long one), a byte that tells whether
// any text is beyond ASCII, then the texts, Latin-1 with control characters
// already escaped. A million processes take about 40 MB, and the widths are
// known when the list ends.
class AlignedTableWriter : public RecordWriter
{
public:
    AlignedTableWriter(const RecordShape& shape, RecordOutput& out, bool headers)
        : m_out(out), m_shape(shape), m_headers(headers), m_widths(shape.titles.size(), 0),
          m_filled(shape.titles.size(), false), m_cells(shape.titles.size())
    {
        if (headers) {
            for (std::size_t c = 0; c < shape.titles.size(); ++c)
                m_widths[c] = qstrlen(shape.titles[c]);
        }
    }

    bool printsRows() const override { return true; }

    void record(std::span<const QByteArrayView> input, std::span<const RecordValue>) override
    {
        const std::size_t columns = m_widths.size();
        qsizetype size = 1;
        for (std::size_t c = 0; c < columns; ++c) {
            const QByteArrayView cell = c < input.size() ? input[c] : QByteArrayView();
            m_cells[c] = cell.first(std::min<qsizetype>(cell.size(), 0xFFFF));
            size += m_cells[c].size() + 3;
        }
        char* start = room(size);
        char* texts = nullptr;
        char* end = writeRow(start, texts);
        // Mostly printable ASCII, kept as it is: looked at eight bytes at a
        // time, and only a row with anything else is written again with its
        // control characters escaped ("\x1b") before the widths are taken.
        if (!printableAscii(texts, end - texts)) {
            m_escaped.resize(4 * size);
            char* e = m_escaped.data();
            size = 1;
            for (std::size_t c = 0; c < columns; ++c) {
                char* const begin = e;
                e = putEscapedLatin1(e, m_cells[c]);
                m_cells[c] = QByteArrayView(begin, std::min<qsizetype>(e - begin, 0xFFFF));
                size += m_cells[c].size() + 3;
            }
            start = room(size);
            end = writeRow(start, texts);
            unsigned char bits = 0;
            for (const char* q = texts; q < end; ++q)
                bits |= static_cast<unsigned char>(*q);
            texts[-1] = char(bits >> 7);
        }
        for (std::size_t c = 0; c < columns; ++c) {
            m_widths[c] = std::max(m_widths[c], m_cells[c].size());
            if (!m_cells[c].isEmpty())
                m_filled[c] = true;
        }
        m_used += end - start;
        m_chunks.back().used = m_used;
    }

    void finish() override
    {
        const std::size_t columns = m_widths.size();
        m_visible.clear();
        m_lineMost = 1;
        for (std::size_t c = 0; c < columns; ++c) {
            if (int(c) != m_shape.optional || m_filled[c])
                m_visible.push_back(c);
            m_lineMost += 2 + 2 * m_widths[c] + BlankRun;
        }
        std::vector<QByteArrayView> cells(columns);
        std::vector<qsizetype> lengths(columns);
        if (m_headers) {
            for (std::size_t c = 0; c < columns; ++c)
                cells[c] = QByteArrayView(m_shape.titles[c]);
            line(cells, true);
        }
        for (const Chunk& chunk : m_chunks) {
            const auto* p = reinterpret_cast<const unsigned char*>(chunk.bytes.get());
            const auto* end = p + chunk.used;
            while (p < end) {
                for (std::size_t c = 0; c < columns; ++c) {
                    lengths[c] = *p++;
                    if (lengths[c] == 255) {
                        lengths[c] = p[0] | (p[1] << 8);
                        p += 2;
                    }
                }
                const bool ascii = *p++ == 0;
                for (std::size_t c = 0; c < columns; ++c) {
                    cells[c] = QByteArrayView(reinterpret_cast<const char*>(p), lengths[c]);
                    p += lengths[c];
                }
                line(cells, ascii);
            }
        }
        m_chunks.clear();
        m_out.flush();
    }

private:
    static constexpr qsizetype ChunkSize = 1 << 20;
    static constexpr qsizetype BlankRun = 32;

    // Padding, mostly short: a fixed run of blanks is written and the
    // pointer moved by what is needed (the line has room for the run).
    static char* blanks(char* p, qsizetype count)
    {
        static constexpr char run[BlankRun + 1] = "                                ";
        if (count <= BlankRun)
            std::memcpy(p, run, BlankRun);
        else
            std::memset(p, ' ', size_t(count));
        return p + count;
    }

    struct Chunk
    {
        std::unique_ptr<char[]> bytes;
        qsizetype used = 0;
    };

    // Where a row of at most size bytes goes.
    char* room(qsizetype size)
    {
        if (m_chunks.empty() || m_used + size > m_chunkSize) {
            m_chunkSize = std::max(ChunkSize, size);
            m_chunks.push_back({std::make_unique_for_overwrite<char[]>(size_t(m_chunkSize)), 0});
            m_used = 0;
        }
        return m_chunks.back().bytes.get() + m_used;
    }

    // The row of m_cells: each length, a flags byte (0: ASCII), the texts.
    char* writeRow(char* p, char*& texts)
    {
        for (const QByteArrayView& cell : m_cells) {
            const qsizetype n = cell.size();
            if (n < 255) {
                *p++ = char(n);
            } else {
                *p++ = char(255);
                *p++ = char(n & 0xff);
                *p++ = char(n >> 8);
            }
        }
        *p++ = 0;
        texts = p;
        for (const QByteArrayView& cell : m_cells)
            p = put(p, cell);
        return p;
    }

    // One row of the columns shown (their indices in m_visible).
    void line(const std::vector<QByteArrayView>& cells, bool ascii)
    {
        char* const start = m_out.reserve(m_lineMost);
        char* p = start;
        const std::size_t count = m_visible.size();
        for (std::size_t v = 0; v < count; ++v) {
            const std::size_t c = m_visible[v];
            if (v > 0)
                p = put(p, "  ");
            const qsizetype pad = m_widths[c] - cells[c].size();
            const bool right = int(c) == m_shape.rightAligned;
            if (right)
                p = blanks(p, pad);
            if (ascii) {
                p = put(p, cells[c]);
            } else {
                for (char ch : cells[c])
                    p = putUtf8(p, static_cast<unsigned char>(ch));
            }
            if (!right && v + 1 < count)
                p = blanks(p, pad);
        }
        while (p > start && p[-1] == ' ')
            --p;
        *p++ = '\n';
        m_out.commit(p);
    }

    RecordOutput& m_out;
    RecordShape m_shape;
    bool m_headers;
    std::vector<qsizetype> m_widths;
    std::vector<bool> m_filled;
    std::vector<QByteArrayView> m_cells;
    QByteArray m_escaped;
    std::vector<Chunk> m_chunks;
    qsizetype m_chunkSize = ChunkSize;
    qsizetype m_used = 0;
    qsizetype m_lineMost = 1;
    std::vector<std::size_t> m_visible;
};

} // namespace

std::unique_ptr<RecordWriter> RecordWriter::create(const RecordStyle& style,
                                                   const RecordShape& shape, RecordOutput& out)
{
    switch (style.format) {
    case RecordFormat::Json:
        return std::make_unique<JsonWriter>(shape, out, style.jsonLines);
    case RecordFormat::Csv:
    case RecordFormat::KeyedTsv:
        return std::make_unique<CsvWriter>(shape, out, style);
    case RecordFormat::Tsv:
        return std::make_unique<TabSeparatedWriter>(shape, out, !style.noHeaders);
    case RecordFormat::Table:
        break;
    }
    if (style.noAlign)
        return std::make_unique<TabSeparatedWriter>(shape, out, !style.noHeaders);
    return std::make_unique<AlignedTableWriter>(shape, out, !style.noHeaders);
}

void HostColumnWriter::record(std::span<const QByteArrayView> row,
                              std::span<const RecordValue> values)
{
    std::array<QByteArrayView, 16> hostRow;
    std::array<RecordValue, 16> hostValues;
    const std::size_t rows =
        row.empty() ? 0 : std::min<std::size_t>(row.size() + 1, hostRow.size());
    const std::size_t cells =
        values.empty() ? 0 : std::min<std::size_t>(values.size() + 1, hostValues.size());
    if (rows) {
        hostRow[0] = m_host;
        std::copy_n(row.begin(), rows - 1, hostRow.begin() + 1);
    }
    if (cells) {
        hostValues[0] = RecordValue::ofText(m_host);
        std::copy_n(values.begin(), cells - 1, hostValues.begin() + 1);
    }
    m_next.record(std::span<const QByteArrayView>(hostRow.data(), rows),
                  std::span<const RecordValue>(hostValues.data(), cells));
}

namespace RecordText {

void appendJsonString(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 2 + 6 * latin1.size());
    out.resize(putJson(out.data() + size, latin1) - out.constData());
}

void appendCsvField(QByteArray& out, QByteArrayView latin1, bool terminal)
{
    const qsizetype size = out.size();
    out.resize(size + 2 + 4 * latin1.size());
    out.resize(putCsv(out.data() + size, latin1, terminal) - out.constData());
}

void appendTsvField(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 4 * latin1.size());
    out.resize(putTsv(out.data() + size, latin1) - out.constData());
}

void appendTerminalText(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 4 * latin1.size());
    out.resize(putTerminal(out.data() + size, latin1) - out.constData());
}

} // namespace RecordText
