#include "CpuTimeFormat.h"

QByteArrayView CpuTimeFormat::Write(char (&buffer)[Capacity], std::int64_t cpuMs,
                                    char decimalSeparator)
{
    // Written from the right: three decimals, the separator, the seconds,
    // the sign, then blanks up to eight characters.
    const bool negative = cpuMs < 0;
    std::uint64_t magnitude =
        negative ? std::uint64_t(0) - std::uint64_t(cpuMs) : std::uint64_t(cpuMs);
    int at = Capacity;
    std::uint64_t millis = magnitude % 1000;
    for (int i = 0; i < 3; ++i) {
        buffer[--at] = char('0' + millis % 10);
        millis /= 10;
    }
    buffer[--at] = decimalSeparator;
    std::uint64_t seconds = magnitude / 1000;
    do {
        buffer[--at] = char('0' + seconds % 10);
        seconds /= 10;
    } while (seconds != 0);
    if (negative)
        buffer[--at] = '-';
    while (Capacity - at < 8)
        buffer[--at] = ' ';
    return QByteArrayView(buffer + at, Capacity - at);
}
