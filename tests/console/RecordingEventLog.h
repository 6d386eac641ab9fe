#pragma once

#include "console/EventLog.h"

#include <QList>

// Keeps every event-log entry.
class RecordingEventLog : public EventLog
{
public:
    struct Entry
    {
        QString text;
        std::uint16_t type;
        std::uint16_t category;
        std::uint32_t id;
    };
    void report(const QString& text, std::uint16_t type, std::uint16_t category,
                std::uint32_t id) override
    {
        entries.append({text, type, category, id});
    }
    QList<Entry> entries;
};
