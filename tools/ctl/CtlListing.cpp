#include "CtlListing.h"

#include "session/RecordWriter.h"

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

QByteArray CtlListing::Render(CtlFormat format, bool headers, bool terminal, bool crlf) const
{
    switch (format) {
    case CtlFormat::Table:
        return RenderTable(headers);
    case CtlFormat::Json:
        return RenderJson();
    case CtlFormat::Csv:
        return RenderCsv(headers, terminal, false, crlf);
    case CtlFormat::Tsv:
        return RenderCsv(headers, terminal, true, false);
    }
    return {};
}

QByteArray CtlListing::RenderTable(bool headers) const
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
    if (headers) {
        QStringList header;
        for (const QByteArray& title : m_titles)
            header << QString::fromLatin1(title);
        cells.append(header);
    }
    for (const QList<QByteArray>& row : m_rows) {
        QStringList line;
        for (const QByteArray& text : row) {
            QByteArray utf8;
            RecordText::appendTerminalText(utf8, text);
            line << QString::fromUtf8(utf8);
        }
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

QByteArray CtlListing::JsonObject(const QList<CtlValue>& values) const
{
    QByteArray out("{");
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        if (i > 0)
            out.append(", ");
        RecordText::appendJsonString(out, m_keys[i]);
        out.append(": ");
        const CtlValue& v = values[i];
        switch (v.kind) {
        case CtlValue::Kind::Text:
            RecordText::appendJsonString(out, v.bytes);
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

QByteArray CtlListing::RenderCsv(bool headers, bool terminal, bool tabs, bool crlf) const
{
    QByteArray out;
    auto line = [&out, tabs, crlf](const QList<QByteArray>& fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out.append(tabs ? '\t' : ',');
            out.append(fields[i]);
        }
        out.append(crlf ? "\r\n" : "\n");
    };
    auto field = [terminal, tabs](QByteArrayView latin1) {
        QByteArray text;
        if (tabs)
            RecordText::appendTsvField(text, latin1);
        else
            RecordText::appendCsvField(text, latin1, terminal);
        return text;
    };
    if (headers) {
        QList<QByteArray> header;
        for (const QByteArray& key : m_keys)
            header << field(key);
        line(header);
    }
    for (const QList<CtlValue>& record : m_records) {
        QList<QByteArray> fields;
        for (const CtlValue& v : record)
            fields << (v.kind == CtlValue::Kind::Null ? QByteArray() : field(v.bytes));
        line(fields);
    }
    return out;
}
