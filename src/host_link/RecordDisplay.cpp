#include "host_link/RecordDisplay.h"

#include "core/Decimal.h"

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
    buffer[--at] = Decimal::DigitPairs[(millis / 10) * 2 + 1];
    buffer[--at] = Decimal::DigitPairs[(millis / 10) * 2];
    buffer[--at] = decimalSeparator;
    at = int(Decimal::writeBackward(buffer + at, magnitude / 1000) - buffer);
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
