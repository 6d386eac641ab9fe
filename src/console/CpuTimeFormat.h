#pragma once

#include <QByteArrayView>

#include <cstdint>

// The CPU time text of a process row, written into a caller's buffer without
// allocating: the same bytes as RecordDisplay::CpuTimeText (seconds with three
// decimals, right-aligned in eight characters filled with blanks), at a cost
// that a list of 100,000 processes does not notice.
class CpuTimeFormat
{
public:
    // Longest text: a sign, 19 digits of seconds, the separator, 3 decimals.
    static constexpr int Capacity = 32;
    static QByteArrayView Write(char (&buffer)[Capacity], std::int64_t cpuMs,
                                char decimalSeparator);
};
