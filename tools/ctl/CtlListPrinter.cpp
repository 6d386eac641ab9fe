#include "CtlListPrinter.h"

#include "CtlOutput.h"

#include <QList>

#include <algorithm>
#include <vector>

namespace {

bool isControl(unsigned char byte)
{
    return byte < 0x20 || (byte >= 0x7f && byte < 0xa0);
}

void appendUtf8(QByteArray& out, unsigned char byte)
{
    if (byte < 0x80) {
        out.append(char(byte));
    } else {
        out.append(char(0xc0 | (byte >> 6)));
        out.append(char(0x80 | (byte & 0x3f)));
    }
}

class JsonPrinter : public CtlListPrinter
{
public:
    JsonPrinter(const CtlListShape& shape, CtlOutput& out, bool oneLine)
        : m_out(out), m_oneLine(oneLine)
    {
        for (const char* key : shape.keys) {
            QByteArray prefix;
            CtlText::appendJsonString(prefix, key);
            prefix.append(": ");
            m_keys << prefix;
        }
    }

    void record(std::span<const QByteArrayView>, std::span<const CtlCell> values) override
    {
        QByteArray& b = m_out.buffer();
        if (m_records++ == 0)
            b.append(m_oneLine ? "[" : "[\n  ");
        else
            b.append(m_oneLine ? ", " : ",\n  ");
        b.append('{');
        for (qsizetype i = 0; i < m_keys.size(); ++i) {
            if (i > 0)
                b.append(", ");
            b.append(m_keys[i]);
            const CtlCell& v = values[i];
            switch (v.kind) {
            case CtlCell::Kind::Text:
                CtlText::appendJsonString(b, v.bytes);
                break;
            case CtlCell::Kind::Number:
                b.append(v.bytes);
                break;
            case CtlCell::Kind::Null:
                b.append("null");
                break;
            }
        }
        b.append('}');
        m_out.written();
    }

    void finish() override
    {
        if (m_records == 0)
            m_out.write("[]\n");
        else
            m_out.write(m_oneLine ? "]\n" : "\n]\n");
    }

private:
    CtlOutput& m_out;
    bool m_oneLine;
    QList<QByteArray> m_keys;
    qsizetype m_records = 0;
};

class CsvPrinter : public CtlListPrinter
{
public:
    CsvPrinter(const CtlListShape& shape, CtlOutput& out, bool headers) : m_out(out)
    {
        if (!headers)
            return;
        QByteArray& b = m_out.buffer();
        for (std::size_t i = 0; i < shape.keys.size(); ++i) {
            if (i > 0)
                b.append(',');
            CtlText::appendCsvField(b, shape.keys[i]);
        }
        b.append("\r\n");
        m_out.written();
    }

    void record(std::span<const QByteArrayView>, std::span<const CtlCell> values) override
    {
        QByteArray& b = m_out.buffer();
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                b.append(',');
            if (values[i].kind != CtlCell::Kind::Null)
                CtlText::appendCsvField(b, values[i].bytes);
        }
        b.append("\r\n");
        m_out.written();
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
        QByteArray& b = m_out.buffer();
        for (std::size_t i = 0; i < shape.titles.size(); ++i) {
            if (i > 0)
                b.append('\t');
            b.append(shape.titles[i]);
        }
        b.append('\n');
        m_out.written();
    }

    void record(std::span<const QByteArrayView> row, std::span<const CtlCell>) override
    {
        QByteArray& b = m_out.buffer();
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                b.append('\t');
            CtlText::appendTerminalText(b, row[i]);
        }
        b.append('\n');
        m_out.written();
    }

    void finish() override { m_out.flush(); }

private:
    CtlOutput& m_out;
};

// The aligned table. Each row is kept as its display texts only, Latin-1
// with control characters already replaced (so neither tab nor newline can
// occur in a cell): cells end with a tab, rows with a newline, in chunks of
// one mebibyte that are filled and never moved. A million processes take
// about 40 MB, and the widths are known when the list ends.
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

    void record(std::span<const QByteArrayView> row, std::span<const CtlCell>) override
    {
        qsizetype size = 0;
        for (const QByteArrayView& cell : row)
            size += cell.size() + 1;
        if (m_chunks.empty() || m_chunks.back().size() + size > ChunkSize) {
            m_chunks.emplace_back();
            m_chunks.back().reserve(std::max(ChunkSize, size));
        }
        std::vector<char>& chunk = m_chunks.back();
        for (std::size_t c = 0; c < row.size(); ++c) {
            const QByteArrayView cell = row[c];
            for (char ch : cell)
                chunk.push_back(isControl(static_cast<unsigned char>(ch)) ? '?' : ch);
            chunk.push_back(c + 1 < row.size() ? '\t' : '\n');
            m_widths[c] = std::max(m_widths[c], cell.size());
            if (!cell.isEmpty())
                m_filled[c] = true;
        }
    }

    void finish() override
    {
        const std::size_t columns = m_widths.size();
        std::vector<bool> shown(columns, true);
        if (m_shape.optional >= 0 && !m_filled[std::size_t(m_shape.optional)])
            shown[std::size_t(m_shape.optional)] = false;
        std::size_t last = 0;
        for (std::size_t c = 0; c < columns; ++c) {
            if (shown[c])
                last = c;
        }
        std::vector<QByteArrayView> cells(columns);
        if (m_headers) {
            for (std::size_t c = 0; c < columns; ++c)
                cells[c] = QByteArrayView(m_shape.titles[c]);
            line(cells, shown, last);
        }
        for (const std::vector<char>& chunk : m_chunks) {
            const char* p = chunk.data();
            const char* end = p + chunk.size();
            while (p < end) {
                for (std::size_t c = 0; c < columns; ++c) {
                    const char* stop = p;
                    while (*stop != '\t' && *stop != '\n')
                        ++stop;
                    cells[c] = QByteArrayView(p, stop - p);
                    p = stop + 1;
                }
                line(cells, shown, last);
            }
        }
        m_chunks.clear();
        m_out.flush();
    }

private:
    static constexpr qsizetype ChunkSize = 1 << 20;

    void line(const std::vector<QByteArrayView>& cells, const std::vector<bool>& shown,
              std::size_t last)
    {
        QByteArray& b = m_out.buffer();
        const qsizetype start = b.size();
        bool first = true;
        for (std::size_t c = 0; c <= last; ++c) {
            if (!shown[c])
                continue;
            if (!first)
                b.append("  ");
            first = false;
            const qsizetype pad = m_widths[c] - cells[c].size();
            if (int(c) == m_shape.rightAligned)
                b.append(pad, ' ');
            for (char ch : cells[c])
                appendUtf8(b, static_cast<unsigned char>(ch));
            if (int(c) != m_shape.rightAligned && c != last)
                b.append(pad, ' ');
        }
        qsizetype end = b.size();
        while (end > start && b[end - 1] == ' ')
            --end;
        b.truncate(end);
        b.append('\n');
        m_out.written();
    }

    CtlOutput& m_out;
    CtlListShape m_shape;
    bool m_headers;
    std::vector<qsizetype> m_widths;
    std::vector<bool> m_filled;
    std::vector<std::vector<char>> m_chunks;
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
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (byte) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (isControl(byte)) {
                out.append("\\u00");
                out.append(hex[byte >> 4]);
                out.append(hex[byte & 15]);
            } else {
                appendUtf8(out, byte);
            }
        }
    }
    out.append('"');
}

void appendCsvField(QByteArray& out, QByteArrayView latin1)
{
    const bool quote = std::any_of(latin1.begin(), latin1.end(), [](char c) {
        return c == ',' || c == '"' || c == '\r' || c == '\n';
    });
    if (quote)
        out.append('"');
    for (char ch : latin1) {
        if (ch == '"')
            out.append('"');
        appendUtf8(out, static_cast<unsigned char>(ch));
    }
    if (quote)
        out.append('"');
}

void appendTerminalText(QByteArray& out, QByteArrayView latin1)
{
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        appendUtf8(out, isControl(byte) ? '?' : byte);
    }
}

} // namespace CtlText
