#pragma once

#include <QByteArrayView>

#include <cstdint>

// A field's value as the tables keep it beside its display text, and as
// sorting, the census and the record writer read it: a whole number (a PIN,
// a port, a user limit, a product or priority code, CPU time in
// milliseconds), a text when the host sent something that is not a plain
// number ("0123", " 7"), kept byte for byte, or nothing.
struct RecordValue
{
    enum class Kind : std::uint8_t
    {
        Null,
        Text,
        Integer,
        // Milliseconds written as seconds with three decimals ("1.500").
        Seconds,
        // A number already written: text holds its ASCII literal.
        Literal,
    };
    Kind kind = Kind::Null;
    std::int64_t number = 0;
    // Latin-1; a view that lives as long as its source. An Integer may keep
    // the text it was read from (its literal) here, to be written as it is.
    QByteArrayView text;

    static RecordValue null() { return {}; }
    static RecordValue ofText(QByteArrayView latin1) { return {Kind::Text, 0, latin1}; }
    static RecordValue integer(std::int64_t n) { return {Kind::Integer, n, {}}; }
    static RecordValue seconds(std::int64_t ms) { return {Kind::Seconds, ms, {}}; }
    static RecordValue literal(QByteArrayView ascii) { return {Kind::Literal, 0, ascii}; }
    bool isNumber() const { return kind == Kind::Integer || kind == Kind::Seconds; }
};

namespace RecordValues {

// A field the host sends as decimal text is a number when the text is one as
// it stands: digits only, no leading zero (but "0"), at most 18 digits.
// Anything else is kept as its text, so that nothing the host sent changes.
inline RecordValue decimal(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18 || (text.size() > 1 && text[0] == '0'))
        return RecordValue::ofText(text);
    std::int64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return RecordValue::ofText(text);
        n = n * 10 + (c - '0');
    }
    return {RecordValue::Kind::Integer, n, text};
}

} // namespace RecordValues
