#include "core/AppErrors.h"

#include <charconv>

EAppError::EAppError(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8())
{
}

EConvertError::EConvertError(QByteArrayView text)
    : EAppError(QStringLiteral("'%1' is not a valid integer value")
                    .arg(QString::fromLatin1(text.data(), text.size())))
{
}

ERangeError::ERangeError() : EAppError(QStringLiteral("Range check error")) {}

EInOutError::EInOutError(int errorNumber)
    : EAppError(QStringLiteral("I/O error %1").arg(errorNumber))
{
}

namespace {

template <typename Int> bool strictDecimal(QByteArrayView text, Int& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    if (first == last)
        return false;
    const char* digits = (*first == '-') ? first + 1 : first;
    if (digits == last)
        return false;
    for (const char* p = digits; p != last; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    auto [ptr, ec] = std::from_chars(first, last, value, 10);
    return ec == std::errc() && ptr == last;
}

} // namespace

bool TryStrToInt(QByteArrayView text, std::int32_t& value)
{
    return strictDecimal(text, value);
}

bool TryStrToInt64(QByteArrayView text, std::int64_t& value)
{
    return strictDecimal(text, value);
}

std::int32_t StrToInt(QByteArrayView text)
{
    std::int32_t value = 0;
    if (!strictDecimal(text, value))
        throw EConvertError(text);
    return value;
}
