#include "CtlListPrinter.h"

#include "CtlOutput.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The writers below put bytes through a pointer into room reserved for the
// most a value can take, which keeps a million records cheap.

bool isControl(unsigned char byte)
{
    return byte < 0x20 || (byte >= 0x7f && byte < 0xa0);
}

// At most 2 bytes.
char* putUtf8(char* p, unsigned char byte)
{
    if (byte < 0x80) {
        *p++ = char(byte);
    } else {
        *p++ = char(0xc0 | (byte >> 6));
        *p++ = char(0x80 | (byte & 0x3f));
    }
    return p;
}

// Most fields are a few bytes long: copied with fixed-size moves that
// overlap (no call into the library per field), the long ones with memcpy.
[[gnu::always_inline]] inline char* put(char* p, QByteArrayView bytes)
{
    const char* s = bytes.data();
    const qsizetype n = bytes.size();
    if (n > 16 && n <= 32) {
        std::memcpy(p, s, 16);
        std::memcpy(p + n - 16, s + n - 16, 16);
    } else if (n >= 8 && n <= 16) {
        std::memcpy(p, s, 8);
        std::memcpy(p + n - 8, s + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(p, s, 4);
        std::memcpy(p + n - 4, s + n - 4, 4);
    } else if (n > 32) {
        std::memcpy(p, s, size_t(n));
    } else if (n > 0) {
        p[0] = s[0];
        p[n / 2] = s[n / 2];
        p[n - 1] = s[n - 1];
    }
    return p + n;
}

// Bytes that JSON, CSV and a terminal take as they are: printable ASCII, for
// CSV also without its separators, for JSON without its escapes.
struct PlainBytes
{
    bool json[256] = {};
    bool csv[256] = {};
    constexpr PlainBytes()
    {
        for (int b = 0x20; b < 0x7f; ++b) {
            json[b] = b != '"' && b != '\\';
            csv[b] = b != '"' && b != ',';
        }
    }
};
constexpr PlainBytes Plain;

// A byte as the terminal is shown it, still Latin-1: control characters as "?".
struct TerminalBytes
{
    char to[256] = {};
    constexpr TerminalBytes()
    {
        for (int b = 0; b < 256; ++b)
            to[b] = (b < 0x20 || (b >= 0x7f && b < 0xa0)) ? '?' : char(b);
    }
};
constexpr TerminalBytes Terminal;

// Copies the leading run of plain bytes; returns how many there were.
qsizetype copyPlain(char* p, QByteArrayView bytes, const bool (&plain)[256])
{
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    const char* s = bytes.data();
    while (i < n && plain[static_cast<unsigned char>(s[i])]) {
        p[i] = s[i];
        ++i;
    }
    return i;
}

// At most 2 + 6 bytes a byte.
char* putJson(char* p, QByteArrayView latin1)
{
    static const char hex[] = "0123456789abcdef";
    *p++ = '"';
    const qsizetype plain = copyPlain(p, latin1, Plain.json);
    p += plain;
    if (plain == latin1.size()) {
        *p++ = '"';
        return p;
    }
    for (char ch : latin1.sliced(plain)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\') {
            *p++ = ch;
            continue;
        }
        switch (byte) {
        case '"':
        case '\\':
            *p++ = '\\';
            *p++ = ch;
            break;
        case '\n':
            p = put(p, "\\n");
            break;
        case '\r':
            p = put(p, "\\r");
            break;
        case '\t':
            p = put(p, "\\t");
            break;
        default:
            if (isControl(byte)) {
                p = put(p, "\\u00");
                *p++ = hex[byte >> 4];
                *p++ = hex[byte & 15];
            } else {
                p = putUtf8(p, byte);
            }
        }
    }
    *p++ = '"';
    return p;
}

// At most 2 + 2 bytes a byte.
char* putCsv(char* p, QByteArrayView latin1)
{
    // Written as it stands when it is plain, else again from the start.
    if (const qsizetype plain = copyPlain(p, latin1, Plain.csv); plain == latin1.size())
        return p + plain;
    const bool quote = std::any_of(latin1.begin(), latin1.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (quote)
        *p++ = '"';
    for (char ch : latin1) {
        if (ch == '"')
            *p++ = '"';
        p = putUtf8(p, static_cast<unsigned char>(ch));
    }
    if (quote)
        *p++ = '"';
    return p;
}

// At most 2 bytes a byte.
char* putTerminal(char* p, QByteArrayView latin1)
{
    for (char ch : latin1)
        p = putUtf8(p, static_cast<unsigned char>(Terminal.to[static_cast<unsigned char>(ch)]));
    return p;
}

// Whether every byte is printable ASCII (0x20 to 0x7e). May say no for some
// that are, which costs only the slower path.
bool printableAscii(const char* s, qsizetype n)
{
    constexpr quint64 Ones = 0x0101010101010101ull;
    constexpr quint64 Highs = 0x8080808080808080ull;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 x;
        std::memcpy(&x, s + i, 8);
        // A byte below 0x20, or one of 0x7f and above.
        if ((((x - 0x20 * Ones) & ~x) | x | (x + Ones)) & Highs)
            return false;
    }
    for (; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte < 0x20 || byte >= 0x7f)
            return false;
    }
    return true;
}

class JsonPrinter : public CtlListPrinter
{
public:
    JsonPrinter(const CtlListShape& shape, CtlOutput& out, bool oneLine)
        : m_out(out), m_oneLine(oneLine)
    {
        // Each key with what goes before it: {"pin": , "port": ...
        for (const char* key : shape.keys) {
            QByteArray prefix(m_keys.isEmpty() ? "{" : ", ");
            CtlText::appendJsonString(prefix, key);
            prefix.append(": ");
            m_most += prefix.size() + 6;
            m_keys << prefix;
        }
    }

    void record(std::span<const QByteArrayView>, std::span<const CtlCell> values) override
    {
        qsizetype most = m_most;
        for (const CtlCell& v : values)
            most += 6 * v.bytes.size();
        char* p = m_out.reserve(most);
        if (m_records++ == 0)
            p = put(p, m_oneLine ? "[" : "[\n  ");
        else
            p = put(p, m_oneLine ? ", " : ",\n  ");
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            p = put(p, m_keys[i]);
            const CtlCell& v = values[i];
            switch (v.kind) {
            case CtlCell::Kind::Text:
                p = putJson(p, v.bytes);
                break;
            case CtlCell::Kind::Number:
                p = put(p, v.bytes);
                break;
            case CtlCell::Kind::Null:
                p = put(p, "null");
                break;
            }
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
    CtlOutput& m_out;
    bool m_oneLine;
    QList<QByteArray> m_keys;
    qsizetype m_most = 8; // the bytes of a record but its values' own
    qsizetype m_records = 0;
};

class CsvPrinter : public CtlListPrinter
{
public:
    CsvPrinter(const CtlListShape& shape, CtlOutput& out, bool headers) : m_out(out)
    {
        if (!headers)
            return;
        QByteArray b;
        for (std::size_t i = 0; i < shape.keys.size(); ++i) {
            if (i > 0)
                b.append(',');
            CtlText::appendCsvField(b, shape.keys[i]);
        }
        b.append("\r\n");
        m_out.write(b);
    }

    void record(std::span<const QByteArrayView>, std::span<const CtlCell> values) override
    {
        qsizetype most = 2;
        for (const CtlCell& v : values)
            most += 3 + 2 * v.bytes.size();
        char* p = m_out.reserve(most);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                *p++ = ',';
            // A number's literal needs no quoting.
            if (values[i].kind == CtlCell::Kind::Number)
                p = put(p, values[i].bytes);
            else if (values[i].kind == CtlCell::Kind::Text)
                p = putCsv(p, values[i].bytes);
        }
        *p++ = '\r';
        *p++ = '\n';
        m_out.commit(p);
    }

    void finish() override { m_out.flush(); }

private:
    CtlOutput& m_out;
};

// The table without alignment: cells separated by one tab, each row printed
// as it comes. Every column is printed, the optional one too, so that a
// row's fields are where the header says.
class PlainTablePrinter : public CtlListPrinter
{
public:
    PlainTablePrinter(const CtlListShape& shape, CtlOutput& out, bool headers) : m_out(out)
    {
        if (!headers)
            return;
        QByteArray b;
        for (std::size_t i = 0; i < shape.titles.size(); ++i) {
            if (i > 0)
                b.append('\t');
            b.append(shape.titles[i]);
        }
        b.append('\n');
        m_out.write(b);
    }

    bool printsRows() const override { return true; }

    void record(std::span<const QByteArrayView> row, std::span<const CtlCell>) override
    {
        qsizetype most = 1;
        for (const QByteArrayView& cell : row)
            most += 1 + 2 * cell.size();
        char* p = m_out.reserve(most);
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                *p++ = '\t';
            p = putTerminal(p, row[i]);
        }
        *p++ = '\n';
        m_out.commit(p);
    }

    void finish() override { m_out.flush(); }

private:
    CtlOutput& m_out;
};

// The aligned table. Each row is kept as its display texts only, in chunks
// of one mebibyte that are filled and never moved: the length of each cell
// (one byte, or 255 and two more for a long one), a byte that tells whether
// any text is beyond ASCII, then the texts, Latin-1 with control characters
// already replaced. A million processes take about 40 MB, and the widths are
// known when the list ends.
class AlignedTablePrinter : public CtlListPrinter
{
public:
    AlignedTablePrinter(const CtlListShape& shape, CtlOutput& out, bool headers)
        : m_out(out), m_shape(shape), m_headers(headers), m_widths(shape.titles.size(), 0),
          m_filled(shape.titles.size(), false)
    {
        if (headers) {
            for (std::size_t c = 0; c < shape.titles.size(); ++c)
                m_widths[c] = qstrlen(shape.titles[c]);
        }
    }

    bool printsRows() const override { return true; }

    void record(std::span<const QByteArrayView> row, std::span<const CtlCell>) override
    {
        qsizetype size = 1;
        for (const QByteArrayView& cell : row)
            size += cell.size() + 3;
        if (m_chunks.empty() || m_used + size > m_chunkSize) {
            m_chunkSize = std::max(ChunkSize, size);
            m_chunks.push_back({std::make_unique_for_overwrite<char[]>(size_t(m_chunkSize)), 0});
            m_used = 0;
        }
        char* const start = m_chunks.back().bytes.get() + m_used;
        char* p = start;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const qsizetype n = row[c].size();
            if (n < 255) {
                *p++ = char(n);
            } else {
                *p++ = char(255);
                *p++ = char(n & 0xff);
                *p++ = char(n >> 8);
            }
            m_widths[c] = std::max(m_widths[c], n);
            if (n > 0)
                m_filled[c] = true;
        }
        char* const flags = p++;
        char* const texts = p;
        for (const QByteArrayView& cell : row)
            p = put(p, cell);
        // Mostly printable ASCII, kept as it is: looked at eight bytes at a
        // time, and only a row with anything else is mapped byte by byte.
        if (!printableAscii(texts, p - texts)) {
            unsigned char bits = 0;
            for (char* q = texts; q < p; ++q) {
                const auto byte = static_cast<unsigned char>(*q);
                bits |= byte;
                *q = Terminal.to[byte];
            }
            *flags = char(bits >> 7);
        } else {
            *flags = 0;
        }
        m_used += p - start;
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

    CtlOutput& m_out;
    CtlListShape m_shape;
    bool m_headers;
    std::vector<qsizetype> m_widths;
    std::vector<bool> m_filled;
    std::vector<Chunk> m_chunks;
    qsizetype m_chunkSize = ChunkSize;
    qsizetype m_used = 0;
    qsizetype m_lineMost = 1;
    std::vector<std::size_t> m_visible;
};

} // namespace

std::unique_ptr<CtlListPrinter> CtlListPrinter::create(const CtlPrintStyle& style,
                                                       const CtlListShape& shape, CtlOutput& out)
{
    switch (style.format) {
    case CtlFormat::Json:
        return std::make_unique<JsonPrinter>(shape, out, style.jsonLines);
    case CtlFormat::Csv:
        return std::make_unique<CsvPrinter>(shape, out, !style.noHeaders);
    case CtlFormat::Table:
        break;
    }
    if (style.noAlign)
        return std::make_unique<PlainTablePrinter>(shape, out, !style.noHeaders);
    return std::make_unique<AlignedTablePrinter>(shape, out, !style.noHeaders);
}

namespace CtlText {

void appendJsonString(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 2 + 6 * latin1.size());
    out.resize(putJson(out.data() + size, latin1) - out.constData());
}

void appendCsvField(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 2 + 2 * latin1.size());
    out.resize(putCsv(out.data() + size, latin1) - out.constData());
}

void appendTerminalText(QByteArray& out, QByteArrayView latin1)
{
    const qsizetype size = out.size();
    out.resize(size + 2 * latin1.size());
    out.resize(putTerminal(out.data() + size, latin1) - out.constData());
}

} // namespace CtlText
