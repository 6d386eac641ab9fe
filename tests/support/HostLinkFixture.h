#pragma once

#include "config/ConnectionSettings.h"
#include "session/HostSession.h"

#include "hostsim/HostSim.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

// What the host-link tests share: a simulator in the test process, sockets
// that refuse or never answer, a session aimed at the simulator, logging on
// and reading lists, and a transcript of what a session said.
namespace HostLinkFixture {

// A loopback port on which nothing listens: connections are refused.
int unusedLoopbackPort();

// A loopback listener that completes connections in the kernel but never
// accepts or reads them; with backlog 0 and one connection queued, further
// connection attempts get no answer at all.
class SilentListener
{
public:
    explicit SilentListener(bool fillBacklog);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_filler = -1;
    int m_port = 0;
};

// Texts as a string list, for short expected values.
QStringList lines(std::initializer_list<const char*> items);

// The simulator listening on an ephemeral loopback port, holding two
// listeners (11 "ONE", 22 "TWO") and three processes (two of listener 11).
std::unique_ptr<HostSim> startHost();

// The default logon (MANAGER / SYS) to 127.0.0.1:port.
ConnectionSettings settingsFor(quint16 port);

// A session aimed at 127.0.0.1:port, its two tables watched by
// QAbstractItemModelTester.
std::unique_ptr<HostSession> sessionFor(quint16 port);

// The base of a test whose every function starts with startHost()'s
// simulator and a session aimed at it, both gone afterwards.
class SessionTestCase : public QObject
{
    Q_OBJECT

protected:
    std::unique_ptr<HostSim> sim;
    std::unique_ptr<HostSession> session;

private Q_SLOTS:
    void init();
    void cleanup();
};

// Each waits for the session's signals and tells whether it got there.
// connectToHost and its first refresh, ending logged on and idle:
bool connectAndWait(HostSession& session, int timeoutMs = 15000);
// logOn only:
bool logOn(HostSession& session, int timeoutMs = 15000);
bool waitIdle(HostSession& session, int timeoutMs = 15000);

// A list read through a RecordSink: its records' bytes and how it ended.
struct ListRead
{
    QList<QByteArray> bodies;
    HostSession::ListEnd end = HostSession::ListEnd(-1); // until the list ends
    int records = 0;                                     // as listEnded told
};

// Collects the records of a list; onRecord, when set, runs after each one.
class CollectingSink : public RecordSink
{
public:
    void record(const Wire::SplitResult& record, QByteArrayView body) override;
    QList<QByteArray> bodies;
    int count = 0;
    bool keepBodies = true;
    std::function<void(const Wire::SplitResult&)> onRecord;
};

// Asks for a list into sink (a fresh one when none is given) and waits for
// its end and for the session to go idle.
ListRead readList(HostSession& session, char letter,
                  const std::optional<QByteArray>& argument = std::nullopt,
                  CollectingSink* sink = nullptr, int timeoutMs = 15000);

// A table's rows as a view shows them: each row's cells joined by "|".
QStringList shownRows(const QAbstractItemModel& table);

// The listener records the host holds now, as it sends them.
QList<QByteArray> listenerRecords(const HostSim& host);

// Everything a session said, in order, as short lines: "progress N",
// "logon failed R", "error CODE TEXT", "connected B", "list END RECORDS",
// "sent LETTER ARGUMENT", "notices TEXT|TEXT".
class Transcript
{
public:
    explicit Transcript(HostSession& session);
    QStringList lines;
    // The lines that start with prefix.
    QStringList only(const QString& prefix) const;
};

// The requests the simulator took, one line each: the letter, or "logon".
class HostRequests
{
public:
    explicit HostRequests(HostSim& host);
    QStringList lines;
};

} // namespace HostLinkFixture
