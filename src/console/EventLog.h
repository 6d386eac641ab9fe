#pragma once

#include <QString>

#include <cstdint>

// The system log that receives the connection progress entries.
class IEventLog
{
public:
    virtual ~IEventLog() = default;
    // One entry with a single text; failures are silently lost.
    virtual void Report(const QString& text, std::uint16_t type, std::uint16_t category,
                        std::uint32_t id) = 0;
};

// Writes to journald (MESSAGE, PRIORITY=6, EVENT_TYPE, EVENT_CATEGORY, EVENT_ID).
class SystemEventLog : public IEventLog
{
public:
    void Report(const QString& text, std::uint16_t type, std::uint16_t category,
                std::uint32_t id) override;
};
