#pragma once

#include "exporter/HostSample.h"
#include "exporter/HostTarget.h"
#include "session/HostSession.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <optional>

class QHostInfo;
class QTimer;

// Collects one host's census (its listeners and what their processes add up
// to) through one HostSession that stays logged on between scrapes. A
// collection lists the listeners, then each listener's processes, and ends by its deadline at
// the latest: a host that is slow, silent or refusing ends as not up, its
// connection dropped so that the next collection starts afresh, and never
// holds up anybody else.
//
// A host that refuses the logon is not asked again at every scrape: the next
// logon waits 1 s, then 2, 4 ... up to an hour after each refusal in a row,
// the collections meanwhile ending at once as not up (and not counted as
// failures: nothing was sent). The log tells each change of the host's state
// once: up, down with its reason, logon refused, back.
class HostCollector : public QObject
{
    Q_OBJECT

public:
    HostCollector(const HostTarget& target, bool withProcesses, QObject* parent = nullptr);
    ~HostCollector() override;

    const QString& label() const { return m_sample.host; }
    // The last finished collection (before the first: not up, no lists).
    const HostSample& sample() const { return m_sample; }
    bool isCollecting() const { return m_collecting; }
    // The most per-process series kept in one collection; the rest are
    // counted in HostSample::processesOmitted.
    void setProcessLimit(qint64 limit) { m_processLimit = limit; }

    // Starts a collection that ends within deadlineMs; finished() tells
    // (at once, before this returns, while a refused logon is waited out).
    // While one runs, another call changes nothing.
    void collect(int deadlineMs);

    // The wall clock the back-off is measured on, in ms since the epoch
    // (tests step their own).
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_now = std::move(clock); }
    static constexpr qint64 FirstLogonWaitMs = 1000;
    static constexpr qint64 LongestLogonWaitMs = 3600 * 1000;

Q_SIGNALS:
    void finished();

private:
    enum class Phase
    {
        Idle,
        Resolving,
        LoggingOn,
        Listeners,
        Processes,
    };

    void logOn();
    void onResolved(const QHostInfo& info);
    void onConnectFinished(bool loggedOn);
    void onListEnded(HostSession::ListEnd end);
    void requestLists();
    void fail(CollectError reason);
    void finish(bool up);
    // Logs the host's state when it is not the one logged last.
    void tellState(bool up, CollectError reason);

    // What the log said last of the host.
    enum class Told
    {
        Nothing,
        Up,
        Down,
    };

    HostSession* m_session;
    ConnectionSettings m_settings;
    QString m_lastTunnelError; // the tunnel fault last logged
    int m_lookupId = -1;
    QTimer* m_deadline;
    bool m_withProcesses;
    qint64 m_processLimit = 10000;
    bool m_collecting = false;
    Phase m_phase = Phase::Idle;
    std::optional<HostSession::LogonResult> m_logonResult;
    QElapsedTimer m_clock;
    Clock m_now;
    int m_refusalsInRow = 0;
    qint64 m_nextLogonMs = 0; // 0: no wait
    Told m_told = Told::Nothing;
    CollectError m_toldReason = CollectError::Connect;

    HostSample m_sample;
    HostSample m_next;
    HostCensus m_census;
    size_t m_listenerIndex = 0; // whose process list is being read
};
