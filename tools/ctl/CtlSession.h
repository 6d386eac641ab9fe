#pragma once

#include "ConnectionSettings.h"
#include "ConsoleProtocol.h"
#include "HostSocket.h"
#include "Wire.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>

// One connection of orvanite-ctl to a server job, spoken as the console
// speaks it: the same logon, the same framed requests, lists read to their
// end, and Quit before the disconnect. Failures become the program's exit
// statuses and lines on its error output.
class CtlSession
{
public:
    // Most records one list may hold; past it the list is taken to be endless.
    static constexpr int MaxListRecords = TConsoleProtocol::MaxListRecords;

    using ErrorLine = std::function<void(const QString& text)>;

    // timeoutSeconds: the socket's ReadTimeout for connect and logon, and for
    // every reply read when given; unset keeps the console's 30 s for the
    // logon and 10 s for replies.
    CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
               ErrorLine errorLine);
    ~CtlSession();

    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    // Connects and logs on: 0, or the exit status (1 network, 3 refused, 4 failed).
    int Open();

    // Sends a request letter and its argument. 1 when a network error was
    // reported while sending, else 0.
    int Send(char letter, std::optional<QByteArray> argument = std::nullopt);

    // Reads one list to its end, handing each record of the expected kind to
    // onRecord (whose views point into a body that lives only for the call).
    // Returns 0, 1 (network error or closed connection) or 6 (a record that
    // cannot be split, a record of the other kind, a bad header, a list past
    // the record cap or its deadline). After the first bad record the rest of
    // the list is still read, so that the connection stays in step, but not
    // handed on.
    int ReadList(Wire::RecordKind expected,
                 const std::function<void(const Wire::SplitResult&)>& onRecord);

    // Quit, then disconnect. Errors of the goodbye are not reported: the work
    // is done, and a host that already hung up (after a shutdown) is normal.
    void Close();

    THostSocket& Socket() { return m_socket; }

private:
    int ReadReply(QByteArray& body, TConsoleProtocol::ReplyEnd& end);
    void Report(const QString& text) { m_errorLine(text); }

    THostSocket m_socket;
    TConsoleProtocol m_protocol;
    ConnectionSettings m_settings;
    std::optional<int> m_timeout;
    ErrorLine m_errorLine;
    bool m_quiet = false;
    int m_networkErrors = 0;
    bool m_closed = false;
};
