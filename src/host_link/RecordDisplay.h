#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

// How the fields of the reply records are shown to the operator: the same
// texts in the window's tables and in orvanite-ctl's output.
namespace RecordDisplay {

// The product's display name for the product field: the name of a known
// product number ("Conduit" for 8, also for "08"), else the field as received.
QByteArray ProductName(QByteArrayView productField, std::int32_t productNumber);

// "unlimited" when the user limit is 0 (also "00"), else the field as received.
QByteArray UserLimitText(QByteArrayView userLimitField, std::int32_t userLimit);

// CPU milliseconds as seconds with three decimals, right-aligned in at least
// eight characters filled with blanks: 1500 -> "   1.500" (with the given
// decimal separator).
QByteArray CpuTimeText(std::int64_t cpuMs, char decimalSeparator = '.');

// The same text written into a caller's buffer without allocating, for lists
// of 100,000 processes. The view points into buffer.
constexpr int CpuTimeCapacity = 32; // a sign, 19 digits, the separator, 3 decimals
QByteArrayView WriteCpuTime(char (&buffer)[CpuTimeCapacity], std::int64_t cpuMs,
                            char decimalSeparator);

} // namespace RecordDisplay
