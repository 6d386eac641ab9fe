#pragma once

#include "console/EventLog.h"

// Writes to journald (MESSAGE, PRIORITY=6, EVENT_TYPE, EVENT_CATEGORY,
// EVENT_ID), or to syslog where journald is not built in.
class SystemEventLog : public EventLog
{
public:
    void report(const QString& text, std::uint16_t type, std::uint16_t category,
                std::uint32_t id) override;
};
