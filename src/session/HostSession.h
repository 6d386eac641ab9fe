#pragma once

#include "config/ConnectionSettings.h"
#include "host_link/Wire.h"
#include "session/HostCommand.h"
#include "session/ListenerSelection.h"
#include "session/WorkQueue.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class ReadWait;
class HostSocket;
class SshTunnel;
class ListReader;
class SessionLink;
class StepKeeper;
class ListenerTableModel;
class ProcessTableModel;

// Where the records of a list go when they are not meant for the tables
// (orvanite-ctl prints them as they come): every record, also one that could
// not be split (record.ok() is false), with its bytes. The views live only
// for the call.
class RecordSink
{
public:
    virtual ~RecordSink() = default;
    virtual void record(const Wire::SplitResult& record, QByteArrayView body) = 0;
};

// One host's connection and everything said over it: connect and logon, the
// refresh cycle (listeners, then the selected listener's processes), the
// commands' requests, staying in step with the host, and the link state.
//
// Nothing here waits: every exchange is a sequence of steps driven by the
// socket's readiness and by timers, so one thread serves any number of
// sessions and a silent host delays nobody else. Work asked for while an
// exchange runs waits its turn; the protocol has no request ids, so two
// exchanges must never interleave. The time-out rules are the console's: each
// read of a reply (the header, then the body) gives up with 10060 at the
// first check after T + 1 whole seconds, and a connection attempt after the
// logon wait.
//
// A slot connected to a signal may open a modal dialog; the session then
// takes up its work again once the slot returns.
class HostSession : public QObject
{
    Q_OBJECT

public:
    enum class LinkState
    {
        Disconnected,
        Connecting,
        LoggingOn,
        LoggedOn,
    };
    Q_ENUM(LinkState)

    enum class LogonResult
    {
        Accepted,
        NoHost,       // no host address: nothing was tried, nothing is shown
        NotConnected, // the connection failed (already reported as a socket error)
        Refused,      // "Invalid Login!"
        Failed,       // "Error creating server process!"
    };
    Q_ENUM(LogonResult)

    // How a list ended.
    enum class ListEnd
    {
        Complete,
        NotConnected,   // nothing was asked: there is no connection
        NoSelection,    // no listener selected: no process list was asked for
        TimedOut,       // a read waited past its time-out (reported as 10060)
        BadHeader,      // a reply did not start with four digits
        Closed,         // the host closed the connection before the list's end
        TooManyRecords, // more records than the cap
        Stopped,        // the operator stopped it
    };
    Q_ENUM(ListEnd)

    static constexpr int DefaultReplyTimeout = 10; // seconds, each read of a reply
    static constexpr int FirstLogonTimeout = 30;   // seconds, until a list has been read
    static constexpr int MaxListRecords = 1'000'000;

    explicit HostSession(QObject* parent = nullptr);
    ~HostSession() override;

    // The settings the next connection uses.
    void setSettings(const ConnectionSettings& settings);
    const ConnectionSettings& settings() const { return m_settings; }
    // Each read of a reply waits this many seconds (and the logon too, once a
    // list has been read).
    void setReplyTimeout(int seconds);
    // The wait of connection and logon until then; 30 s at first.
    void setLogonTimeout(int seconds);
    void setRecordCap(int records) { m_recordCap = records; }
    // When the link drops, the rows stay and are marked stale until the next
    // list replaces them (off: the tables are emptied).
    void setKeepRowsOnLinkLoss(bool keep) { m_keepRows = keep; }
    bool keepsRowsOnLinkLoss() const { return m_keepRows; }

    ListenerTableModel* listeners() const { return m_listeners; }
    ProcessTableModel* processes() const { return m_processes; }

    // The listener whose processes are listed: followed by its PIN across
    // refreshes, and none once it has gone from the list. Before any choice
    // the first listener listed is taken.
    QByteArray selectedListener() const { return m_selection.pin(); }
    void selectListener(const QByteArray& pin);
    // Forgets the chosen listener: the next list takes its first one, as at
    // the first connection (another host's PINs mean nothing here).
    void forgetSelectedListener() { m_selection.forget(); }

    LinkState linkState() const { return m_linkState; }
    // The socket is connected (also after a refused logon, until Quit).
    bool isConnected() const;
    // Work runs or waits.
    bool isBusy() const { return m_busy; }
    // A list is being read.
    bool isReadingList() const;
    bool isOutOfStep() const;
    HostSocket& socket() const { return *m_socket; }

    // Work, each done after the work before it.
    // Connects, logs on and lists listeners and processes (logonProgress 1, 2, 3).
    void connectToHost();
    // Connects and logs on only (connectFinished tells how it went).
    void logOn();
    void refresh();
    // The operator's refresh (F5, Refresh, resuming a pause): as refresh(),
    // and a connection out of step is renewed at once instead of after the
    // wait planned at its fault.
    void refreshNow();
    void refreshProcesses();
    // A command, encoded here; all but Shutdown Job are followed by a
    // refresh. Shutdown Job drops the waiting work and goes out at once.
    void send(const HostCommand& command);
    // A list into sink instead of the tables (listEnded tells how it ended).
    void requestList(char letter, const std::optional<QByteArray>& argument, RecordSink* sink);

    // Asked with each command just before it goes out: a reason keeps it
    // from going out (commandNotSent and the work's notices tell it); empty
    // lets it go. The audit trail writes its line here, so that a line is on
    // disk before the host acts on the command.
    using CommandRecorder = std::function<QString(const HostCommand&)>;
    void setCommandRecorder(CommandRecorder recorder) { m_recorder = std::move(recorder); }

    // The waits before a renewal after a list fault (tests shorten them).
    void setRenewalDelays(int firstMs, int maxMs);
    // The wait that was planned after the last fault; 0 after a good refresh.
    int renewalDelayMs() const;
    // How long until the connection may be renewed; 0 when it may be now.
    int renewalDueInMs() const;

    // At once: the work in hand and all waiting work are dropped.
    // Quit when connected, then disconnect.
    void quit();
    // Disconnect without Quit.
    void disconnectFromHost();
    // A logon that failed leaves its connection open for the caller (as a
    // refused first logon is ended by closing the window): ends it with
    // Quit, so that the next attempt starts from a closed socket. Nothing
    // when the link is up or there is no connection; waiting work stays.
    void endFailedLogon();
    // Ends the list being read; the rows read so far are shown. The host is
    // still sending it, so the connection is ended with Quit and renewed
    // before the next exchange. The work waiting behind it is dropped too:
    // nothing is asked of the host until the next work.
    void stopList();

    // Why a request cannot be sent (its argument is longer than a frame can
    // announce); empty when it can.
    static QString checkRequest(const std::optional<QByteArray>& argument);
    // The texts the operator is shown about the connection.
    static QString renewedNotice();
    static QString listEndText(ListEnd end, int records, int cap);

Q_SIGNALS:
    void linkStateChanged(HostSession::LinkState state);
    // Work began (true) or all work is done (false).
    void busyChanged(bool busy);
    // The steps of a connection's first refresh: 1 before the listeners, 2
    // before the processes, 3 after them.
    void logonProgress(int step);
    void logonFailed(HostSession::LogonResult result);
    // The end of connectToHost's work: logged on and listed, or not.
    void connectFinished(bool loggedOn);
    void socketError(int code, const QString& text);
    // The SSH tunnel could not be made or ended, or ssh reported a refused
    // forward: the text names the cause in ssh's words.
    void tunnelError(const QString& text);
    // The route's jump host offered a key that is not in known_hosts (told
    // before tunnelError): its fingerprint, and its address and port as ssh
    // connected them.
    void unknownHostKey(const QString& destination, const QString& fingerprint, const QString& host,
                        quint16 port);
    // A list for a table ended and its rows are in the table (listeners:
    // the listener table, else the process table); listenersChanged or
    // processesChanged follows. NoSelection: no listener to list processes
    // for, the process table emptied. Only a Complete list (or NoSelection
    // after one) is the host's whole list.
    void tableListEnded(HostSession::ListEnd end, bool listeners);
    // A list replaced the listener table (also when it emptied it).
    void listenersChanged();
    // A process list was asked for the listener with this PIN.
    void processListRequested(const QByteArray& listenerPin);
    void processesChanged();
    // A long list is coming in: records so far.
    void listProgress(int records);
    void listEnded(HostSession::ListEnd end, int records);
    // A command went out (its audit line, if any, was written before).
    void commandSent(const HostCommand& command);
    // The recorder refused the command: it did not go out.
    void commandNotSent(const HostCommand& command, const QString& reason);
    // A list fault left the connection out of step: it is renewed no sooner
    // than delayMs from now. reason: "list cut short", "bad reply header" …
    void renewalPlanned(int delayMs, const QString& reason);
    // Work that listed read every list whole: the back-off starts afresh.
    void refreshSucceeded();
    // At the end of work that listed (or of any work with something to
    // tell): what the operator should know about it (a renewed connection,
    // lists that ended early, records skipped, commands a stop kept from
    // going out); empty when all went well.
    void notices(const QStringList& lines);

private:
    using Step = SessionStep;
    using StepKind = SessionStep::Kind;
    using WorkKind = SessionWork::Kind;
    using Work = SessionWork;
    enum class Outcome
    {
        Done,
        Wait,
        Abort,
    };

    void enqueue(Work work);
    void scheduleAdvance();
    void advance();
    void finishWork();
    Outcome runStep(Step& step);
    Outcome connectStep();
    Outcome logonStep();
    Outcome renewStep();
    Outcome sendStep(const Step& step);
    Outcome listStep(Step& step);
    Outcome finishList(ListEnd end);
    // A connection or logon failed; when it was a renewal, the tables are
    // emptied and the operator told.
    void connectionLost();
    void abandonConnection(bool sendQuit);
    void setLinkState(LinkState state);
    void setBusy(bool busy);
    void dropWork();
    // The link is gone: the tables are emptied, or kept and marked stale.
    void tablesLost(bool processesOnly);

    HostSocket* m_socket;
    SshTunnel* m_tunnel;
    ListenerTableModel* m_listeners;
    ProcessTableModel* m_processes;
    ReadWait* m_readWait;
    std::unique_ptr<SessionLink> m_link;
    std::unique_ptr<ListReader> m_reader;
    std::unique_ptr<StepKeeper> m_keeper;
    ConnectionSettings m_settings;

    int m_replyTimeout = DefaultReplyTimeout;
    int m_readTimeout = FirstLogonTimeout;
    int m_recordCap = MaxListRecords;
    bool m_keepRows = false;

    LinkState m_linkState = LinkState::Disconnected;
    bool m_busy = false;

    WorkQueue m_queue;
    bool m_advancing = false;
    bool m_advanceAgain = false;
    bool m_advanceQueued = false;

    bool m_loggedOnInWork = false;
    // The list being read was stopped (the reader holds its frames and records).
    bool m_stopRequested = false;

    // Follows the chosen listener; none once it vanished.
    ListenerSelection m_selection;

    // What the work in hand has to tell.
    QStringList m_notices;

    CommandRecorder m_recorder;
};
