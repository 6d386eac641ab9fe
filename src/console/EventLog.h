#pragma once

#include <QString>

#include <cstdint>

// The system log that receives the connection progress entries.
class EventLog
{
public:
    virtual ~EventLog() = default;
    // One entry with a single text; failures are silently lost.
    virtual void report(const QString& text, std::uint16_t type, std::uint16_t category,
                        std::uint32_t id) = 0;
};
