#pragma once

#include <QByteArray>
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

    // Text for the wire or a file: Latin-1, the console's single-byte text.
    // Throws when a character does not fit; what names the argument.
    static QByteArray latin1(const QString& text, const QString& what)
    {
        for (QChar c : text) {
            if (c.unicode() > 0xff)
                throw CtlUsageError(
                    QStringLiteral("%1 holds '%2', which the host's single-byte text cannot carry")
                        .arg(what, QString(c)));
        }
        return text.toLatin1();
    }

private:
    QString m_message;
};
