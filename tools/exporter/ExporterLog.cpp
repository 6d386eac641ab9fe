#include "exporter/ExporterLog.h"

#include <QDateTime>

#include <cstdio>

namespace ExporterLog {

namespace {

Level g_level = Level::Info;
Sink g_sink;

const char* levelName(Level level)
{
    switch (level) {
    case Level::Debug:
        return "debug";
    case Level::Info:
        return "info";
    case Level::Warn:
        return "warn";
    case Level::Error:
        return "error";
    }
    return "info";
}

bool needsQuotes(QByteArrayView value)
{
    if (value.isEmpty())
        return true;
    for (const char c : value)
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '=' || c == '\\' || c == 0x7f)
            return true;
    return false;
}

} // namespace

bool parseLevel(const QString& text, Level& level)
{
    for (const Level l : {Level::Debug, Level::Info, Level::Warn, Level::Error})
        if (text == QLatin1String(levelName(l))) {
            level = l;
            return true;
        }
    return false;
}

void setLevel(Level level)
{
    g_level = level;
}

Level level()
{
    return g_level;
}

void setSink(Sink sink)
{
    g_sink = std::move(sink);
}

QByteArray pair(const char* key, QByteArrayView value)
{
    QByteArray out(key);
    out += '=';
    if (!needsQuotes(value)) {
        out += value;
        return out;
    }
    out += '"';
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

void write(Level level, const char* message, std::initializer_list<Field> fields)
{
    if (level < g_level)
        return;
    QByteArray line =
        pair("ts", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1());
    line += ' ';
    line += pair("level", levelName(level));
    line += ' ';
    line += pair("msg", message);
    for (const Field& f : fields) {
        line += ' ';
        line += pair(f.first, f.second);
    }
    line += '\n';
    if (g_sink) {
        g_sink(line);
        return;
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace ExporterLog
