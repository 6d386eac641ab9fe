#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class QTimer;
class HostSocket;

// The exchanges of the console protocol over one HostSocket: the logon, one
// framed request, one framed reply. The main window and orvanite-ctl both
// speak through it.
class TConsoleProtocol
{
public:
    enum class LogonOutcome
    {
        Accepted,
        NoHost,
        NotConnected,
        Refused,
        Failed
    };

    // Most records one list may hold. A host that sends more is taken to be
    // sending without end; the list is cut off there.
    static constexpr int MaxListRecords = 1'000'000;
    // Longest time one list may take, from its request to its closing 0000.
    static constexpr int ListDeadlineSeconds = 60;
    // Wait of each read of a framed reply (header, then body), in seconds.
    static constexpr int DefaultReplyTimeout = 10;

    explicit TConsoleProtocol(HostSocket& socket);
    ~TConsoleProtocol();
    TConsoleProtocol(const TConsoleProtocol&) = delete;
    TConsoleProtocol& operator=(const TConsoleProtocol&) = delete;

    // What ReadReply waits for each part of a reply; it writes this into the
    // socket's ReadTimeout before every read.
    int ReplyTimeout = DefaultReplyTimeout;
    // The caps of one list; tests and orvanite-ctl may change them.
    int ListRecordCap = MaxListRecords;
    qint64 ListDeadlineMs = qint64(ListDeadlineSeconds) * 1000;

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
    void SendCommand(char letter, std::optional<QByteArrayView> argument = std::nullopt);

    // Starts the record count and the deadline of one list. Call it after
    // sending a list request; a ReadReply after a request without it starts
    // the list itself.
    void BeginList();

    // Reads one framed reply: the body length with the body, or 0 when there is
    // no further record (end of list, time-out, bad header, closed connection,
    // a list past ListRecordCap records or past its deadline).
    int ReadReply(QByteArray& body);

    // Why the last ReadReply returned what it did.
    //  TimedOut, BadHeader: the connection stays open but is out of step.
    //  Closed: the connection ended in the middle of a list (also when the
    //  close was seen before the next ReadReply of the list); out of step.
    //  NotConnected: there was no connection when the list began.
    //  TooManyRecords, ListDeadline: the list was cut off and the connection
    //  closed at once (the host was still sending); out of step.
    enum class ReplyEnd
    {
        Record,
        EndOfList,
        NotConnected,
        TimedOut,
        BadHeader,
        Closed,
        TooManyRecords,
        ListDeadline
    };
    ReplyEnd LastReplyEnd() const { return m_lastReply; }
    // A clear text for the operator about how the last list ended, for the
    // ends the socket has not already reported; empty for Record, EndOfList,
    // NotConnected and TimedOut (the socket reports 10060 itself).
    QString LastReplyMessage() const;
    // Records read in the current (or last) list.
    int ListRecords() const { return m_listRecords; }

    // The protocol has no request ids: after a reply went missing, came in
    // late or was cut short, the next reply read could belong to an earlier
    // request. Then the connection is out of step, and the caller calls
    // Resync before its next exchange.
    bool OutOfStep() const { return m_outOfStep; }
    // Closes the connection, drops whatever it had buffered and logs on
    // afresh with the socket's HostAddress, Port, LogonFields and LogonKind.
    // Nothing is resent. Returns whether it is logged on again. On success
    // nothing is shown; on failure the socket's errors and Logon's message
    // are, as for any logon. Either way the connection is no longer out of
    // step. As after any failed logon, a connection that the host answered
    // with a refusal stays open, not logged on: the caller sends Quit and
    // disconnects, as the main window does when a renewal fails.
    bool Resync();
    // The line to tell the operator once after a successful Resync.
    static QString ResyncNotice();

    HostSocket& Socket() { return m_socket; }

private:
    void Pump();
    int EndReply(ReplyEnd end);
    void DeadlineReached();

    HostSocket& m_socket;
    LogonOutcome m_lastLogon = LogonOutcome::Failed;
    ReplyEnd m_lastReply = ReplyEnd::EndOfList;

    bool m_outOfStep = false;
    // The list being read: started by BeginList (or the first ReadReply after
    // a request), ended by the first ReadReply that returns 0.
    bool m_listActive = false;
    int m_listRecords = 0;
    QElapsedTimer m_listClock;
    // Fires at the list's deadline; it ends a wait inside ReadReply by
    // closing the connection.
    std::unique_ptr<QTimer> m_deadlineTimer;
    bool m_inReadReply = false;
    bool m_deadlineHit = false;
};
