#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <initializer_list>
#include <utility>

// The exporter's log: one logfmt line per event on stderr
// ("ts=... level=warn msg=\"host down\" host=10.1.2.3:30000 reason=connect"),
// the fields as given, a value quoted when it holds a space, a quote, an
// equals sign or a control character. Lines below the level set are dropped.
// Events are what changes (a host going down, a logon refused), never
// something that happens at every scrape.
namespace ExporterLog {

enum class Level
{
    Debug,
    Info,
    Warn,
    Error,
};

// "debug", "info", "warn" or "error"; false for anything else.
bool parseLevel(const QString& text, Level& level);
void setLevel(Level level);
Level level();

// Where the lines go (stderr unless set; an empty function restores it).
using Sink = std::function<void(QByteArrayView line)>;
void setSink(Sink sink);

using Field = std::pair<const char*, QByteArray>;
void write(Level level, const char* message, std::initializer_list<Field> fields = {});

// One key=value pair in logfmt's quoting (for tests and for the line).
QByteArray pair(const char* key, QByteArrayView value);

} // namespace ExporterLog
