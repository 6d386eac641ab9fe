#include "CtlListing.h"

#include <QString>
#include <QStringList>

#include <algorithm>

CtlListing::CtlListing(QList<QByteArray> titles, QList<QByteArray> keys)
    : m_titles(std::move(titles)), m_keys(std::move(keys)), m_rightAligned(m_titles.size(), false),
      m_optional(m_titles.size(), false)
{
}

void CtlListing::SetRightAligned(int column)
{
    m_rightAligned[column] = true;
}

void CtlListing::SetOptional(int column)
{
    m_optional[column] = true;
}

void CtlListing::AddRow(QList<QByteArray> texts)
{
    texts.resize(m_titles.size());
    m_rows.append(std::move(texts));
}

void CtlListing::AddRecord(QList<CtlValue> values)
{
    values.resize(m_keys.size());
    m_records.append(std::move(values));
}

QByteArray CtlListing::Render(CtlFormat format) const
{
    switch (format) {
    case CtlFormat::Table:
        return RenderTable();
    case CtlFormat::Json:
        return RenderJson();
    case CtlFormat::Csv:
        return RenderCsv();
    }
    return {};
}

QString CtlListing::TerminalText(QByteArrayView latin1)
{
    QString text = QString::fromLatin1(latin1);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            c = u'?';
    }
    return text;
}

QByteArray CtlListing::RenderTable() const
{
    const qsizetype columns = m_titles.size();
    QList<bool> shown(columns, true);
    for (qsizetype c = 0; c < columns; ++c) {
        if (!m_optional[c])
            continue;
        shown[c] = std::any_of(m_rows.cbegin(), m_rows.cend(),
                               [c](const QList<QByteArray>& row) { return !row[c].isEmpty(); });
    }

    // Texts first, so that widths count characters, not UTF-8 bytes.
    QList<QStringList> cells;
    cells.reserve(m_rows.size() + 1);
    QStringList header;
    for (const QByteArray& title : m_titles)
        header << QString::fromLatin1(title);
    cells.append(header);
    for (const QList<QByteArray>& row : m_rows) {
        QStringList line;
        for (const QByteArray& text : row)
            line << TerminalText(text);
        cells.append(line);
    }
    QList<qsizetype> widths(columns, 0);
    for (const QStringList& line : std::as_const(cells)) {
        for (qsizetype c = 0; c < columns; ++c)
            widths[c] = std::max(widths[c], line[c].size());
    }
    qsizetype last = -1;
    for (qsizetype c = 0; c < columns; ++c) {
        if (shown[c])
            last = c;
    }

    QString out;
    for (const QStringList& line : std::as_const(cells)) {
        QStringList parts;
        for (qsizetype c = 0; c <= last; ++c) {
            if (!shown[c])
                continue;
            if (m_rightAligned[c])
                parts << line[c].rightJustified(widths[c]);
            else if (c == last)
                parts << line[c];
            else
                parts << line[c].leftJustified(widths[c]);
        }
        QString text = parts.join(QStringLiteral("  "));
        while (text.endsWith(u' '))
            text.chop(1);
        out += text;
        out += u'\n';
    }
    return out.toUtf8();
}

QByteArray CtlListing::JsonString(QByteArrayView latin1)
{
    QByteArray out;
    out.reserve(latin1.size() + 2);
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
            if (byte < 0x20 || (byte >= 0x7f && byte < 0xa0)) {
                static const char hex[] = "0123456789abcdef";
                out.append("\\u00");
                out.append(hex[byte >> 4]);
                out.append(hex[byte & 15]);
            } else if (byte >= 0xa0) {
                // Latin-1 byte to its two UTF-8 bytes.
                out.append(static_cast<char>(0xc0 | (byte >> 6)));
                out.append(static_cast<char>(0x80 | (byte & 0x3f)));
            } else {
                out.append(ch);
            }
        }
    }
    out.append('"');
    return out;
}

QByteArray CtlListing::JsonObject(const QList<CtlValue>& values) const
{
    QByteArray out("{");
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        if (i > 0)
            out.append(", ");
        out.append(JsonString(m_keys[i]));
        out.append(": ");
        const CtlValue& v = values[i];
        switch (v.kind) {
        case CtlValue::Kind::Text:
            out.append(JsonString(v.bytes));
            break;
        case CtlValue::Kind::Number:
            out.append(v.bytes);
            break;
        case CtlValue::Kind::Null:
            out.append("null");
            break;
        }
    }
    out.append('}');
    return out;
}

QByteArray CtlListing::RenderJson() const
{
    if (m_single)
        return (m_records.isEmpty() ? QByteArray("{}") : JsonObject(m_records.first())) + '\n';
    if (m_records.isEmpty())
        return QByteArrayLiteral("[]\n");
    // One object per line: valid JSON that line tools can still cut apart.
    QByteArray out("[\n");
    for (qsizetype r = 0; r < m_records.size(); ++r) {
        out.append("  ");
        out.append(JsonObject(m_records[r]));
        out.append(r + 1 < m_records.size() ? ",\n" : "\n");
    }
    out.append("]\n");
    return out;
}

QByteArray CtlListing::CsvField(QByteArrayView latin1)
{
    const QByteArray utf8 = QString::fromLatin1(latin1).toUtf8();
    const bool quote =
        utf8.contains(',') || utf8.contains('"') || utf8.contains('\r') || utf8.contains('\n');
    if (!quote)
        return utf8;
    QByteArray out("\"");
    for (char ch : utf8) {
        if (ch == '"')
            out.append('"');
        out.append(ch);
    }
    out.append('"');
    return out;
}

QByteArray CtlListing::RenderCsv() const
{
    QByteArray out;
    auto line = [&out](const QList<QByteArray>& fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out.append(',');
            out.append(fields[i]);
        }
        out.append("\r\n");
    };
    QList<QByteArray> header;
    for (const QByteArray& key : m_keys)
        header << CsvField(key);
    line(header);
    for (const QList<CtlValue>& record : m_records) {
        QList<QByteArray> fields;
        for (const CtlValue& v : record)
            fields << (v.kind == CtlValue::Kind::Null ? QByteArray() : CsvField(v.bytes));
        line(fields);
    }
    return out;
}
