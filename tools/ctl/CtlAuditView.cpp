#include "CtlAuditView.h"

#include <QDateTime>
#include <QHash>
#include <QJsonValue>

#include <array>

namespace {

const std::array<const char*, 8> Titles = {"Time",    "User",     "Program", "Host",
                                           "Command", "Argument", "Target",  "Effect"};
const std::array<const char*, 18> Keys = {"id",          "time",           "user",
                                          "program",     "host",           "port",
                                          "command",     "argument",       "target_listener",
                                          "target_pin",  "target_program", "target_user",
                                          "target_port", "target_queue",   "effect",
                                          "effect_time", "seen_pin",       "seen_port"};
// The target's fields, in the order the Target column names them.
const std::array<const char*, 6> TargetFields = {"listener", "pin",  "program",
                                                 "user",     "port", "queue"};

QString text(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1StringView(key)).toString();
}

// A stored time (UTC) in the operator's local time, to the second.
QString localTime(const QString& stored)
{
    const QDateTime t = QDateTime::fromString(stored, Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : stored;
}

// One command with its effect, as texts.
struct Row
{
    QString id, time, user, program, host, port, command, argument;
    std::array<QString, 6> target;
    QString effect, effectTime, seenPin, seenPort;
    bool hasEffect = false;

    std::array<QString, 8> columns() const
    {
        QStringList shown;
        for (std::size_t i = 0; i < target.size(); ++i) {
            if (!target[i].isEmpty())
                shown << QStringLiteral("%1=%2").arg(QLatin1StringView(TargetFields[i]), target[i]);
        }
        QString seen = effect;
        if (!seenPin.isEmpty())
            seen += QStringLiteral(" (pin %1, port %2)").arg(seenPin, seenPort);
        return {
            localTime(time), user,     program,          port.isEmpty() ? host : host + u':' + port,
            command,         argument, shown.join(u' '), seen};
    }

    bool contains(const QString& needle) const
    {
        const std::array<QString, 8> shown = columns();
        for (const QString& c : shown) {
            if (c.contains(needle, Qt::CaseInsensitive))
                return true;
        }
        return time.contains(needle, Qt::CaseInsensitive) ||
               id.contains(needle, Qt::CaseInsensitive);
    }
};

} // namespace

namespace CtlAuditView {

qsizetype print(const QList<QJsonObject>& entries, const RecordStyle& style,
                const std::optional<QString>& filter, std::optional<int> limit, CtlOutput& out)
{
    // The effect lines name the command line they follow.
    QHash<QString, const QJsonObject*> effects;
    for (const QJsonObject& e : entries) {
        if (e.contains(QLatin1String("refers_to")))
            effects.insert(text(e, "refers_to"), &e);
    }

    const std::unique_ptr<RecordWriter> printer =
        RecordWriter::create(style, RecordShape{Titles, Keys}, out);
    qsizetype printed = 0;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QJsonObject& c = *it;
        if (!c.contains(QLatin1String("command")))
            continue;
        Row row;
        row.id = text(c, "id");
        row.time = text(c, "time");
        row.user = text(c, "user");
        row.program = text(c, "program");
        row.host = text(c, "host");
        if (c.value(QLatin1String("port")).isDouble())
            row.port = QString::number(c.value(QLatin1String("port")).toInt());
        row.command = text(c, "command");
        row.argument = text(c, "argument");
        const QJsonObject target = c.value(QLatin1String("target")).toObject();
        for (std::size_t i = 0; i < TargetFields.size(); ++i)
            row.target[i] = text(target, TargetFields[i]);
        if (const QJsonObject* e = effects.value(row.id)) {
            row.hasEffect = true;
            row.effect = text(*e, "effect");
            row.effectTime = text(*e, "time");
            const QJsonObject seen = e->value(QLatin1String("seen")).toObject();
            row.seenPin = text(seen, "pin");
            row.seenPort = text(seen, "port");
        }
        if (filter && !row.contains(*filter))
            continue;

        const std::array<QString, 8> columns = row.columns();
        std::array<QByteArray, 8> cells;
        std::array<QByteArrayView, 8> views;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            cells[i] = columns[i].toLatin1();
            views[i] = cells[i];
        }
        const std::array<QString, 18> fields = {
            row.id,         row.time,      row.user,      row.program,   row.host,
            row.port,       row.command,   row.argument,  row.target[0], row.target[1],
            row.target[2],  row.target[3], row.target[4], row.target[5], row.effect,
            row.effectTime, row.seenPin,   row.seenPort};
        std::array<QByteArray, 18> bytes;
        std::array<RecordValue, 18> values;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            bytes[i] = fields[i].toLatin1();
            if (i == 5)
                values[i] =
                    bytes[i].isEmpty() ? RecordValue::null() : RecordValue::literal(bytes[i]);
            else if (fields[i].isEmpty() && (i >= 8 || i == 0))
                values[i] = RecordValue::null();
            else
                values[i] = RecordValue::ofText(bytes[i]);
        }
        if (!row.hasEffect)
            values[14] = values[15] = RecordValue::null();
        printer->record(views, values);
        if (limit && ++printed >= *limit)
            break;
        if (!limit)
            ++printed;
    }
    printer->finish();
    return printed;
}

} // namespace CtlAuditView
