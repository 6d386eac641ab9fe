#pragma once

#include <cstdint>

// Decimal digits written two at a time from a table, the way every number a
// million-row list shows or prints is written.
namespace Decimal {

// "00" to "99", two characters each.
inline constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes value's digits so that they end just before end; returns where they
// start. The arithmetic is 32-bit when the value fits, which is cheaper.
template <typename Unsigned> inline char* writeBackward(char* end, Unsigned value)
{
    while (value >= 100) {
        const unsigned pair = unsigned(value % 100) * 2;
        value /= 100;
        *--end = DigitPairs[pair + 1];
        *--end = DigitPairs[pair];
    }
    if (value >= 10) {
        const unsigned pair = unsigned(value) * 2;
        *--end = DigitPairs[pair + 1];
        *--end = DigitPairs[pair];
    } else {
        *--end = char('0' + value);
    }
    return end;
}

inline char* writeBackward(char* end, std::uint64_t value)
{
    return value <= UINT32_MAX ? writeBackward<std::uint32_t>(end, std::uint32_t(value))
                               : writeBackward<std::uint64_t>(end, value);
}

// How many digits value has (1 for 0).
inline int digitCount(std::uint64_t value)
{
    int n = 1;
    while (value >= 10000) {
        value /= 10000;
        n += 4;
    }
    return n + (value >= 10) + (value >= 100) + (value >= 1000);
}

// Writes value's digits at p; returns the end.
inline char* write(char* p, std::uint64_t value)
{
    char* end = p + digitCount(value);
    writeBackward(end, value);
    return end;
}

} // namespace Decimal
