#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <memory>

class QTcpServer;
class QTcpSocket;

// One listener of the simulated server job.
struct SimListener
{
    QByteArray Pin;
    QByteArray Port;
    QByteArray Program;
    QByteArray Product;   // product number as sent, e.g. "8"
    QByteArray UserLimit; // as sent, e.g. "0"
    QByteArray Tail;      // appended verbatim after the user limit (e.g. "|X"); usually empty
};

// One user process of a listener.
struct SimProcess
{
    QByteArray ListenerPin;
    QByteArray MainPin; // empty: the record carries no main PIN (flag other than '0')
    QByteArray Pin;
    QByteArray Program;
    QByteArray User;
    qint64 CpuMs = 0;
    int Priority = 0; // 0: no priority field; else the digit sent (normally 1..4)
    // When not empty, sent verbatim instead of the record built from the fields
    // (malformed records, bytes above 127, NUL).
    QByteArray RawRecord;
};

// What the simulator does wrong on purpose.
struct HostSimFaults
{
    // Lists are answered as a whole, or as the flags below shape them. A
    // request takes effect when it arrives, whatever its reply waits for.
    double ReplyDelaySeconds = 0;      // delay every reply (logon and lists) by this much
    QByteArray LogonReply = "0";       // the character answered to a correct logon
    bool LogonNever = false;           // never answer the logon
    bool CloseDuringLogon = false;     // close the connection once the logon bytes arrived
    int CloseAfterRecords = -1;        // close the connection after K records of a list
    int ResetAfterRecords = -1;        // reset (RST) the connection after K records of a list
    bool BadHeader = false;            // send "00x1" instead of the first header of a list
    bool SplitWrites = false;          // write every byte on its own
    bool LongFrame = false;            // announce fewer bytes than the first record holds
    bool ShortFrame = false;           // announce more bytes than the first record holds
    bool SRecordInProcessList = false; // add an "S" record to every process list
    bool NeverEndingList = false; // lists never send the closing 0000: records keep coming for as
                                  // long as the peer reads
    double TrickleSeconds = 0;    // send one record of a list every this many seconds
    qint64 FloodBytes = 0;        // answer a list with this many bytes of one endless frame stream
                                  // (9999-byte frames, no 0000)
    bool Silent = false;          // accept connections and never answer anything
    // A wrong logon is always answered "1"; requests are served only after a "0".
};

// A simulated server job: a TCP server on the Qt event loop (one thread) that
// speaks the console protocol, keeps listeners and processes, applies the
// requests' effects, and misbehaves on request. Used by the tests, the demo
// and the benchmarks, in process or as the orvanite-hostsim program. Its
// encoder and request reader are its own: it shares no parsing code with the
// console.
class HostSim : public QObject
{
    Q_OBJECT

public:
    explicit HostSim(QObject* parent = nullptr);
    ~HostSim() override;

    // Listens on address:port (port 0 picks a free one). False with a reason in errorString().
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const;

    // Logon fields in record order (user, user password, group, group password,
    // account, account password, extra); default MANAGER / SYS, the rest empty.
    std::array<QByteArray, 7> Credentials{"MANAGER", "", "", "", "SYS", "", ""};
    HostSimFaults Faults;

    QList<SimListener> Listeners;
    QList<SimProcess> Processes;

    // Populations.
    void loadDemo(); // a handful of listeners, a few dozen users that change over time
    bool loadScenario(const QString& path,
                      QString* error); // exact listeners and processes from JSON
    void populate(int processes);      // n processes spread over a few listeners (benchmarks)
    // populate() spreads the processes evenly, in blocks, over the listeners
    // already there (the seven usual ones when there are none): to get one
    // list of n records, set one listener first. The demo's changes run on a
    // timer (every 2 s unless set here); a scenario or populate() stops it.
    void setDemoInterval(int milliseconds);

    // Prepared replies: each list reply (the G reply, and the H reply of
    // every listener) is encoded once, when the population is built or
    // changes, and sent as one block of bytes, the same bytes as encoded
    // per request. Lists a fault flag reshapes are still encoded per
    // request. The simulator's own changes (populations, the demo's ticks,
    // S, K, P and E requests) prepare again by themselves; a caller who
    // changes Listeners or Processes directly calls prepare().
    void setPrepared(bool prepared);
    bool isPrepared() const;
    void prepare();

    // Every byte received on every connection since start, and the number of
    // connections accepted.
    const QByteArray& received() const;
    int connectionCount() const;
    int openConnections() const; // connections not yet closed

Q_SIGNALS:
    void logonReceived(const QByteArray& bytes); // the 118 logon bytes
    void requestReceived(const QByteArray& letter,
                         const QByteArray& argument); // after the whole request
    void listSent(const QByteArray& letter, int records);
    void clientConnected();
    void clientDisconnected();
    void shutdownRequested(); // 'E': the program exits after this
    // One line for the log: connections, every request, effects, refusals.
    void logMessage(const QString& line);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
