#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <exception>

// An error that ends the command in progress. It is caught at the boundary of
// the handler that ran the command (never thrown through Qt's event loop) and
// shown to the operator in a message box with its text; the program goes on.
class EAppError : public std::exception
{
public:
    explicit EAppError(QString message);
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

// A text that is not a decimal integer: "'%s' is not a valid integer value".
class EConvertError : public EAppError
{
public:
    explicit EConvertError(QByteArrayView text);
};

// A value outside its range: "Range check error".
class ERangeError : public EAppError
{
public:
    ERangeError();
};

// An input or output error after a file was opened.
class EInOutError : public EAppError
{
public:
    explicit EInOutError(int errorNumber);
};

// Strict decimal conversion: an optional '-' followed by one or more ASCII
// digits, nothing else (no blanks, no '+', no hex), within the 32-bit range.
// Anything else throws EConvertError with the text.
std::int32_t StrToInt(QByteArrayView text);

// The same conversion without throwing; false when the text is not a number.
bool TryStrToInt(QByteArrayView text, std::int32_t& value);
bool TryStrToInt64(QByteArrayView text, std::int64_t& value);
