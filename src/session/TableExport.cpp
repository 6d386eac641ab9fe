#include "session/TableExport.h"

#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QList>
#include <QString>

namespace {

// One value of a record: a text, a number literal, or null.
struct Value
{
    enum class Kind
    {
        Text,
        Number,
        Null,
    };
    Kind kind = Kind::Null;
    QByteArray bytes;
};

Value text(QByteArrayView bytes)
{
    return {Value::Kind::Text, bytes.toByteArray()};
}

Value number(QByteArray literal)
{
    return {Value::Kind::Number, std::move(literal)};
}

// The CPU time as shown ("   1.500", the separator the locale's) back to
// milliseconds and to seconds with a point.
void cpuTime(QByteArrayView shown, QByteArray& ms, QByteArray& seconds)
{
    QByteArray digits;
    seconds.clear();
    for (char c : shown.trimmed()) {
        if ((c >= '0' && c <= '9') || c == '-') {
            digits.append(c);
            seconds.append(c);
        } else {
            seconds.append('.');
        }
    }
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok);
    ms = ok ? QByteArray::number(value) : QByteArray("0");
    if (seconds.isEmpty())
        seconds = "0.000";
}

QList<QByteArray> keysOf(const RecordTableModel& table)
{
    if (qobject_cast<const ListenerTableModel*>(&table))
        return {"pin", "port", "program", "product", "product_name", "user_limit", "max_users"};
    return {"main_pin", "pin", "program", "user", "cpu_ms", "cpu_seconds", "priority"};
}

QList<Value> recordOf(const RecordTableModel& table, int row)
{
    if (const auto* l = qobject_cast<const ListenerTableModel*>(&table)) {
        return {text(l->cell(row, ListenerColumn::Pin)),
                text(l->cell(row, ListenerColumn::Port)),
                text(l->cell(row, ListenerColumn::Program)),
                text(l->cell(row, ListenerColumn::ProductField)),
                text(l->cell(row, ListenerColumn::Product)),
                text(l->cell(row, ListenerColumn::UserLimitField)),
                text(l->cell(row, ListenerColumn::MaxUsers))};
    }
    const auto& p = static_cast<const ProcessTableModel&>(table);
    QByteArray ms, seconds;
    cpuTime(p.cell(row, ProcessColumn::CpuTime), ms, seconds);
    const QByteArrayView priority = p.cell(row, ProcessColumn::Priority);
    return {text(p.cell(row, ProcessColumn::Main)),
            text(p.cell(row, ProcessColumn::Pin)),
            text(p.cell(row, ProcessColumn::Program)),
            text(p.cell(row, ProcessColumn::User)),
            number(ms),
            number(seconds),
            priority.isEmpty() ? Value{} : text(priority)};
}

} // namespace

namespace TableExport {

QByteArray tabSeparated(const RecordTableModel& table, const std::vector<int>& rows)
{
    const int columns = table.columnCount();
    // A tab or line break inside a cell would split it: it becomes a blank.
    auto field = [](QByteArrayView latin1) {
        QString t = QString::fromLatin1(latin1);
        for (QChar& c : t)
            if (c == u'\t' || c == u'\n' || c == u'\r')
                c = u' ';
        return t.toUtf8();
    };
    QByteArray out;
    for (int c = 0; c < columns; ++c) {
        if (c > 0)
            out.append('\t');
        out.append(field(table.columnTitle(c)));
    }
    out.append('\n');
    for (int row : rows) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                out.append('\t');
            out.append(field(table.cellAt(row, c).trimmed()));
        }
        out.append('\n');
    }
    return out;
}

QByteArray records(const RecordTableModel& table, const std::vector<int>& rows, Format format)
{
    const QList<QByteArray> keys = keysOf(table);
    QByteArray out;
    if (format == Format::Csv) {
        auto line = [&out](const QList<QByteArray>& fields) {
            out.append(fields.join(','));
            out.append("\r\n");
        };
        QList<QByteArray> header;
        for (const QByteArray& key : keys)
            header << csvField(key);
        line(header);
        for (int row : rows) {
            QList<QByteArray> fields;
            for (const Value& v : recordOf(table, row))
                fields << (v.kind == Value::Kind::Null ? QByteArray() : csvField(v.bytes));
            line(fields);
        }
        return out;
    }
    if (rows.empty())
        return QByteArrayLiteral("[]\n");
    // One object per line: valid JSON that line tools can still cut apart.
    out.append("[\n");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const QList<Value> values = recordOf(table, rows[r]);
        out.append("  {");
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (i > 0)
                out.append(", ");
            out.append(jsonString(keys[i]));
            out.append(": ");
            switch (values[i].kind) {
            case Value::Kind::Text:
                out.append(jsonString(values[i].bytes));
                break;
            case Value::Kind::Number:
                out.append(values[i].bytes);
                break;
            case Value::Kind::Null:
                out.append("null");
                break;
            }
        }
        out.append(r + 1 < rows.size() ? "},\n" : "}\n");
    }
    out.append("]\n");
    return out;
}

QByteArray jsonString(QByteArrayView latin1)
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

QByteArray csvField(QByteArrayView latin1)
{
    const QByteArray utf8 = QString::fromLatin1(latin1).toUtf8();
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\r') && !utf8.contains('\n'))
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

} // namespace TableExport
