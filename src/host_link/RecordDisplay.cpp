#include "host_link/RecordDisplay.h"

namespace RecordDisplay {

QByteArray ProductName(QByteArrayView productField, std::int32_t productNumber)
{
    switch (productNumber) {
    case 2:
        return QByteArrayLiteral("Parcel Transfer");
    case 3:
        return QByteArrayLiteral("Desk Deployer");
    case 4:
        return QByteArrayLiteral("Tabula/32");
    case 5:
        return QByteArrayLiteral("Quarry");
    case 8:
        return QByteArrayLiteral("Conduit");
    case 16:
        return QByteArrayLiteral("Vanguard");
    case 18:
        return QByteArrayLiteral("BaseSrvr");
    case 24:
        return QByteArrayLiteral("Outrider");
    case 32:
        return QByteArrayLiteral("Lookout");
    default:
        return productField.toByteArray();
    }
}

QByteArray UserLimitText(QByteArrayView userLimitField, std::int32_t userLimit)
{
    if (userLimit == 0)
        return QByteArrayLiteral("unlimited");
    return userLimitField.toByteArray();
}

namespace {

// "00" to "99", two characters each: digits are written two at a time.
constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

template <typename Unsigned> int writeSeconds(char* buffer, int at, Unsigned seconds)
{
    while (seconds >= 100) {
        const unsigned pair = unsigned(seconds % 100) * 2;
        seconds /= 100;
        buffer[--at] = DigitPairs[pair + 1];
        buffer[--at] = DigitPairs[pair];
    }
    if (seconds >= 10) {
        const unsigned pair = unsigned(seconds) * 2;
        buffer[--at] = DigitPairs[pair + 1];
        buffer[--at] = DigitPairs[pair];
    } else {
        buffer[--at] = char('0' + seconds);
    }
    return at;
}

} // namespace

QByteArrayView WriteCpuTime(char (&buffer)[CpuTimeCapacity], std::int64_t cpuMs,
                            char decimalSeparator)
{
    // Written from the right in integers (exact for every millisecond count,
    // where a division in floating point could round the third decimal):
    // three decimals, the separator, the seconds, the sign, then blanks up to
    // eight characters.
    const bool negative = cpuMs < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t(0) - std::uint64_t(cpuMs) : std::uint64_t(cpuMs);
    int at = CpuTimeCapacity;
    const unsigned millis = unsigned(magnitude % 1000);
    buffer[--at] = char('0' + millis % 10);
    buffer[--at] = DigitPairs[(millis / 10) * 2 + 1];
    buffer[--at] = DigitPairs[(millis / 10) * 2];
    buffer[--at] = decimalSeparator;
    const std::uint64_t seconds = magnitude / 1000;
    // Most counts fit 32 bits, whose divisions are cheaper.
    at = seconds <= UINT32_MAX ? writeSeconds(buffer, at, std::uint32_t(seconds))
                               : writeSeconds(buffer, at, seconds);
    if (negative)
        buffer[--at] = '-';
    while (CpuTimeCapacity - at < 8)
        buffer[--at] = ' ';
    return QByteArrayView(buffer + at, CpuTimeCapacity - at);
}

QByteArray CpuTimeText(std::int64_t cpuMs, char decimalSeparator)
{
    char buffer[CpuTimeCapacity];
    return WriteCpuTime(buffer, cpuMs, decimalSeparator).toByteArray();
}

} // namespace RecordDisplay
