#include "RecordDisplay.h"

#include <cstdio>

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

QByteArray CpuTimeText(std::int64_t cpuMs, char decimalSeparator)
{
    // Whole and fractional parts in integers: exact for every millisecond count,
    // where a division in floating point could round the third decimal.
    const bool negative = cpuMs < 0;
    const std::uint64_t magnitude =
        negative ? std::uint64_t(0) - std::uint64_t(cpuMs) : std::uint64_t(cpuMs);
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%s%llu%c%03llu", negative ? "-" : "",
                                static_cast<unsigned long long>(magnitude / 1000),
                                decimalSeparator,
                                static_cast<unsigned long long>(magnitude % 1000));
    QByteArray result(n < 8 ? 8 - n : 0, ' ');
    result.append(text, n);
    return result;
}

} // namespace RecordDisplay
