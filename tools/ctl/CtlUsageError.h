#pragma once

#include <QString>

#include <exception>

// A command line that orvanite-ctl cannot act on (exit status 2). Thrown by
// the parser and the argument checks before anything touches the network or
// a file; the runner prints the text and a pointer to the help.
class CtlUsageError : public std::exception
{
public:
    explicit CtlUsageError(QString message) : m_message(std::move(message)) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return "usage error"; }

private:
    QString m_message;
};
