#pragma once

#include "core/Decimal.h"
#include "session/RecordValue.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

// The byte-level writing under the record writers: each function puts one
// value's bytes (JSON, CSV, terminal text, a number) through a pointer into
// room the caller has reserved for the most it can take, and returns where
// it ended. Inline, so that a million records cost no call per field.
namespace RecordBytes {

// The writers below put bytes through a pointer into room reserved for the
// most a value can take, which keeps a million records cheap.

inline bool isControl(unsigned char byte)
{
    return byte < 0x20 || (byte >= 0x7f && byte < 0xa0);
}

// At most 2 bytes.
inline char* putUtf8(char* p, unsigned char byte)
{
    if (byte < 0x80) {
        *p++ = char(byte);
    } else {
        *p++ = char(0xc0 | (byte >> 6));
        *p++ = char(0x80 | (byte & 0x3f));
    }
    return p;
}

// Most fields are a few bytes long: copied with fixed-size moves that
// overlap (no call into the library per field), the long ones with memcpy.
[[gnu::always_inline]] inline char* put(char* p, QByteArrayView bytes)
{
    const char* s = bytes.data();
    const qsizetype n = bytes.size();
    if (n > 16 && n <= 32) {
        std::memcpy(p, s, 16);
        std::memcpy(p + n - 16, s + n - 16, 16);
    } else if (n >= 8 && n <= 16) {
        std::memcpy(p, s, 8);
        std::memcpy(p + n - 8, s + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(p, s, 4);
        std::memcpy(p + n - 4, s + n - 4, 4);
    } else if (n > 32) {
        std::memcpy(p, s, size_t(n));
    } else if (n > 0) {
        p[0] = s[0];
        p[n / 2] = s[n / 2];
        p[n - 1] = s[n - 1];
    }
    return p + n;
}

// Bytes that JSON, CSV and a terminal take as they are: printable ASCII, for
// CSV also without its separators, for JSON without its escapes.
struct PlainBytes
{
    bool json[256] = {};
    bool csv[256] = {};
    constexpr PlainBytes()
    {
        for (int b = 0x20; b < 0x7f; ++b) {
            json[b] = b != '"' && b != '\\';
            csv[b] = b != '"' && b != ',';
        }
    }
};
constexpr PlainBytes Plain;

constexpr char Hex[] = "0123456789abcdef";

// A control character as a reader is shown it: "\x1b". 4 bytes.
inline char* putEscaped(char* p, unsigned char byte)
{
    *p++ = '\\';
    *p++ = 'x';
    *p++ = Hex[byte >> 4];
    *p++ = Hex[byte & 15];
    return p;
}

// Copies the leading run of plain bytes; returns how many there were.
inline qsizetype copyPlain(char* p, QByteArrayView bytes, const bool (&plain)[256])
{
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    const char* s = bytes.data();
    while (i < n && plain[static_cast<unsigned char>(s[i])]) {
        p[i] = s[i];
        ++i;
    }
    return i;
}

// At most 2 + 6 bytes a byte.
inline char* putJson(char* p, QByteArrayView latin1)
{
    *p++ = '"';
    const qsizetype plain = copyPlain(p, latin1, Plain.json);
    p += plain;
    if (plain == latin1.size()) {
        *p++ = '"';
        return p;
    }
    for (char ch : latin1.sliced(plain)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\') {
            *p++ = ch;
            continue;
        }
        switch (byte) {
        case '"':
        case '\\':
            *p++ = '\\';
            *p++ = ch;
            break;
        case '\n':
            p = put(p, "\\n");
            break;
        case '\r':
            p = put(p, "\\r");
            break;
        case '\t':
            p = put(p, "\\t");
            break;
        default:
            if (isControl(byte)) {
                p = put(p, "\\u00");
                *p++ = Hex[byte >> 4];
                *p++ = Hex[byte & 15];
            } else {
                p = putUtf8(p, byte);
            }
        }
    }
    *p++ = '"';
    return p;
}

// At most 2 + 4 bytes a byte. On a terminal control characters are shown
// escaped (and CR and LF then need no quotes).
inline char* putCsv(char* p, QByteArrayView latin1, bool terminal)
{
    // Written as it stands when it is plain, else again from the start.
    const qsizetype n = latin1.size();
    if (const qsizetype plain = copyPlain(p, latin1, Plain.csv);
        plain == n && (n == 0 || (latin1[0] != ' ' && latin1[n - 1] != ' ')))
        return p + plain;
    const bool quote = latin1[0] == ' ' || latin1[n - 1] == ' ' ||
                       std::any_of(latin1.begin(), latin1.end(), [terminal](char c) {
                           return c == ',' || c == '"' || (!terminal && (c == '\r' || c == '\n'));
                       });
    if (quote)
        *p++ = '"';
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '"')
            *p++ = '"';
        if (terminal && isControl(byte))
            p = putEscaped(p, byte);
        else
            p = putUtf8(p, byte);
    }
    if (quote)
        *p++ = '"';
    return p;
}

// A field of tab-separated values: no quotes; a backslash, tab, LF and CR
// written as \\, \t, \n and \r, other control characters as "\x1b", so
// that every field is one cell on one line and reads back unchanged. At
// most 4 bytes a byte.
inline char* putTsv(char* p, QByteArrayView latin1)
{
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (byte) {
        case '\\':
            p = put(p, "\\\\");
            break;
        case '\t':
            p = put(p, "\\t");
            break;
        case '\n':
            p = put(p, "\\n");
            break;
        case '\r':
            p = put(p, "\\r");
            break;
        default:
            p = isControl(byte) ? putEscaped(p, byte) : putUtf8(p, byte);
        }
    }
    return p;
}

// At most 4 bytes a byte.
inline char* putTerminal(char* p, QByteArrayView latin1)
{
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        p = isControl(byte) ? putEscaped(p, byte) : putUtf8(p, byte);
    }
    return p;
}

// Latin-1 with control characters escaped, still Latin-1. At most 4 bytes a byte.
inline char* putEscapedLatin1(char* p, QByteArrayView latin1)
{
    for (char ch : latin1) {
        const auto byte = static_cast<unsigned char>(ch);
        if (isControl(byte))
            p = putEscaped(p, byte);
        else
            *p++ = ch;
    }
    return p;
}

// Whether every byte is printable ASCII (0x20 to 0x7e). May say no for some
// that are, which costs only the slower path.
inline bool printableAscii(const char* s, qsizetype n)
{
    constexpr quint64 Ones = 0x0101010101010101ull;
    constexpr quint64 Highs = 0x8080808080808080ull;
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 x;
        std::memcpy(&x, s + i, 8);
        // A byte below 0x20, or one of 0x7f and above.
        if ((((x - 0x20 * Ones) & ~x) | x | (x + Ones)) & Highs)
            return false;
    }
    for (; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (byte < 0x20 || byte >= 0x7f)
            return false;
    }
    return true;
}

// The bytes of a number value (an Integer, Seconds or Literal). At most 32.
inline char* putNumber(char* p, const RecordValue& v)
{
    switch (v.kind) {
    case RecordValue::Kind::Integer:
        // A number read from the host's text is that text.
        if (!v.text.isEmpty() && v.text.size() <= 24)
            return put(p, v.text);
        if (v.number < 0) {
            *p++ = '-';
            return Decimal::write(p, std::uint64_t(0) - std::uint64_t(v.number));
        }
        return Decimal::write(p, std::uint64_t(v.number));
    case RecordValue::Kind::Seconds: {
        // Whole seconds, the point, three decimals: exact in integers.
        std::uint64_t ms = std::uint64_t(v.number);
        if (v.number < 0) {
            *p++ = '-';
            ms = std::uint64_t(0) - ms;
        }
        p = Decimal::write(p, ms / 1000);
        const unsigned rest = unsigned(ms % 1000);
        p[0] = '.';
        p[1] = Decimal::DigitPairs[(rest / 10) * 2];
        p[2] = Decimal::DigitPairs[(rest / 10) * 2 + 1];
        p[3] = char('0' + rest % 10);
        return p + 4;
    }
    case RecordValue::Kind::Literal:
        return put(p, v.text.first(std::min<qsizetype>(v.text.size(), 32)));
    case RecordValue::Kind::Null:
    case RecordValue::Kind::Text:
        break;
    }
    return p;
}

} // namespace RecordBytes
