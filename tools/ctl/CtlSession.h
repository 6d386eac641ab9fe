#pragma once

#include "CtlExit.h"
#include "config/ConnectionSettings.h"
#include "host_link/Wire.h"
#include "session/HostSession.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QEventLoop;
class QTimer;
class CtlCheckingSink;

// One connection of orvanite-ctl to a server job, spoken as the console
// speaks it through the same HostSession: the same logon, the same framed
// requests, lists read to their end (or to the record cap, the per-read
// time-out or the optional list time-out), and Quit before the disconnect on
// every way out once logged on. Failures become exit statuses and message
// lines. The program has no event loop of its own: each call runs one until
// its part of the exchange is over.
class CtlSession : public QObject
{
    Q_OBJECT

public:
    // Most records one list may hold; past it the list is taken to be endless.
    static constexpr int MaxListRecords = HostSession::MaxListRecords;

    // timeoutSeconds: the wait of connect and logon, and of every reply read
    // when given; unset keeps the console's 30 s for the logon and 10 s for
    // replies. listTimeoutSeconds: when given, a list that has not ended
    // after so long is stopped.
    CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
               std::optional<int> listTimeoutSeconds, QObject* parent = nullptr);
    ~CtlSession() override;

    // Connects and logs on: Success, Network, LogonRefused or LogonFailed.
    CtlExit open();

    // The same exchanges without a loop of their own, for many hosts served
    // at once by the caller's loop: begin one, wait for idle(), then take
    // its result. A begin that has nothing to do is idle at once (isBusy()
    // false, no signal).
    void beginOpen();
    CtlExit openResult();
    void beginList(char letter, const std::optional<QByteArray>& argument,
                   Wire::RecordKind expected, RecordSink& sink);
    CtlExit listResult();
    bool isBusy() const { return m_session.isBusy(); }

    // Sends a command, then lists into the session's own tables: the
    // listeners, and the processes of listenerPin (none when empty), so that
    // what the command did can be seen there. Network when an error was
    // reported meanwhile; NotRecorded when the session's recorder kept the
    // command from going out.
    CtlExit sendAndList(const HostCommand& command, const QByteArray& listenerPin);
    // Lists the listeners into the session's own table (the processes of
    // none).
    CtlExit listIntoTable();
    // Sends Shutdown Job, then waits up to waitMs for the host to hang up.
    CtlExit shutdownJob(int waitMs);

    // The session underneath, for what watches its commands (the audit).
    HostSession& host() { return m_session; }

    // Asks for a list and hands each record of the expected kind to sink as
    // it is read (the views live only for the call). Returns Success,
    // Network (a network error or a closed connection: the list was cut),
    // BadReply (a record that cannot be split or of the other kind, a bad
    // header, a list past the record cap or stopped by the list time-out) or
    // Interrupted. After the first bad record the rest of the list is still
    // read, so that the connection stays in step, but not handed on.
    CtlExit readList(char letter, const std::optional<QByteArray>& argument,
                     Wire::RecordKind expected, RecordSink& sink);

    // Waits so many milliseconds; false when interrupted meanwhile.
    bool pause(int milliseconds);

    // Ends at once what runs, with Quit when logged on (SIGINT, SIGTERM, or a
    // reader of the output that went away).
    void interrupt();
    bool interrupted() const { return m_interrupted; }

    // Quit, then disconnect. Errors of the goodbye are not reported: the work
    // is done, and a host that already hung up (after a shutdown) is normal.
    void close();

Q_SIGNALS:
    // A line (or lines) for the error output, without the program's prefix.
    void message(const QString& text);
    // The work begun is over.
    void idle();

private:
    void runUntilIdle();
    CtlExit tableWork(const std::function<void()>& enqueue);

    HostSession m_session;
    ConnectionSettings m_settings;
    std::optional<int> m_listTimeout;
    bool m_quiet = false;
    int m_networkErrors = 0;
    bool m_closed = false;
    bool m_interrupted = false;
    QEventLoop* m_loop = nullptr;
    HostSession::LogonResult m_logon = HostSession::LogonResult::NotConnected;

    // The exchange begun and not yet taken.
    bool m_accepted = false;
    bool m_unknownHostKey = false; // the route's jump host key is not known
    int m_errorsBefore = 0;
    std::unique_ptr<CtlCheckingSink> m_checking;
    std::optional<HostSession::ListEnd> m_end;
    int m_records = 0;
    bool m_notSent = false;
    QTimer* m_listTimer;
};

// Runs the event loop until it is told to quit through running (set to the
// loop while it runs) or, when timeoutMs >= 0, until that time has passed.
// orvanite-ctl has no other event loop, so none waits inside another: each
// exchange, pause and wait of the program runs here in turn.
void runCtlLoop(QEventLoop*& running, int timeoutMs = -1);
