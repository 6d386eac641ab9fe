#pragma once

#include "config/ConnectionSettings.h"
#include "host_link/Wire.h"
#include "session/HostSession.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// One connection of orvanite-ctl to a server job, spoken as the console
// speaks it through the same HostSession: the same logon, the same framed
// requests, lists read to their end (or to the record cap, the per-read
// time-out or the optional list time-out), and Quit before the disconnect on
// every way out once logged on. Failures become the program's exit statuses
// and lines on its error output. The program has no event loop of its own:
// each call runs one until its part of the exchange is over.
class CtlSession
{
public:
    // Most records one list may hold; past it the list is taken to be endless.
    static constexpr int MaxListRecords = HostSession::MaxListRecords;

    using ErrorLine = std::function<void(const QString& text)>;

    // timeoutSeconds: the wait of connect and logon, and of every reply read
    // when given; unset keeps the console's 30 s for the logon and 10 s for
    // replies. listTimeoutSeconds: when given, a list that has not ended
    // after so long is stopped.
    CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
               std::optional<int> listTimeoutSeconds, ErrorLine errorLine);
    ~CtlSession();

    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    // Connects and logs on: 0, or the exit status (1 network, 3 refused, 4 failed).
    int Open();

    // Sends a request letter and its argument; a list request (G, H) goes
    // out with the ReadList that follows. 1 when a network error was
    // reported while sending, else 0.
    int Send(char letter, std::optional<QByteArray> argument = std::nullopt);

    // Reads the list asked for by the last Send, handing each record of the
    // expected kind to onRecord (whose views live only for the call).
    // Returns 0, 1 (network error or closed connection) or 6 (a record that
    // cannot be split, a record of the other kind, a bad header, a list past
    // the record cap or stopped by the list time-out). After the first bad
    // record the rest of the list is still read, so that the connection
    // stays in step, but not handed on.
    int ReadList(Wire::RecordKind expected,
                 const std::function<void(const Wire::SplitResult&)>& onRecord);

    // Quit, then disconnect. Errors of the goodbye are not reported: the work
    // is done, and a host that already hung up (after a shutdown) is normal.
    void Close();

    HostSession& Session() { return m_session; }

private:
    void runUntilIdle();
    void Report(const QString& text) { m_errorLine(text); }

    HostSession m_session;
    ConnectionSettings m_settings;
    ErrorLine m_errorLine;
    std::optional<int> m_listTimeout;
    bool m_quiet = false;
    int m_networkErrors = 0;
    bool m_closed = false;
    HostSession::LogonResult m_logon = HostSession::LogonResult::NotConnected;
    char m_listLetter = 0;
    std::optional<QByteArray> m_listArgument;
};
