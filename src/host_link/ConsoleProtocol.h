#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>

class THostSocket;

// The exchanges of the console protocol over one THostSocket: the logon, one
// framed request, one framed reply. The main window and orvanite-ctl both
// speak through it.
class TConsoleProtocol
{
public:
    enum class LogonOutcome { Accepted, NoHost, NotConnected, Refused, Failed };

    explicit TConsoleProtocol(THostSocket& socket);

    // Shows "Invalid Login!" / "Error creating server process!". Unset: nothing shown.
    std::function<void(const QString& text)> ShowMessage;
    // Lets the application process pending events; QCoreApplication::processEvents by default.
    std::function<void()> ProcessMessages;

    // Connects, sends the 118 logon bytes and reads the one-character reply.
    bool Logon();
    LogonOutcome LastLogonOutcome() const { return m_lastLogon; }

    // Sends one framed message; nothing unless connected. A body longer than
    // the frame can announce throws EAppError and sends nothing.
    void SendRequest(QByteArrayView text);
    // Sends a request letter and, when given, its argument as a second frame.
    // Both are checked before anything is sent.
    void SendCommand(std::string_view letter, std::optional<QByteArrayView> argument = std::nullopt);

    // Reads one framed reply: the body length with the body, or 0 when there is
    // no further record (end of list, time-out, bad header, closed connection).
    int ReadReply(QByteArray& body);

    // Why the last ReadReply returned what it did. After TimedOut or BadHeader
    // the connection is out of step with the host (no request ids).
    enum class ReplyEnd { Record, EndOfList, NotConnected, TimedOut, BadHeader, Closed };
    ReplyEnd LastReplyEnd() const { return m_lastReply; }

    THostSocket& Socket() { return m_socket; }

private:
    void Pump();

    THostSocket& m_socket;
    LogonOutcome m_lastLogon = LogonOutcome::Failed;
    ReplyEnd m_lastReply = ReplyEnd::EndOfList;
};
