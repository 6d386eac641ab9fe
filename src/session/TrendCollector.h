#pragma once

#include "session/HostCensus.h"
#include "session/TrendHistory.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>

#include <memory>
#include <vector>

class HostSession;

// Takes a session's host's census and samples it into a TrendHistory. The
// tables show one listener's processes at a time, so after each refresh that
// listed the listeners it lists every listener's processes into a HostCensus
// (never into the tables) and adds the counts as one sample. That costs one
// process list per listener per refresh, so it runs only while something
// shows the trends or every host's figures.
//
// CPU time used between two samples is summed per process PIN (what each
// process listed both times gained, plus all of a new one), so processes
// that end never make it negative; a listener with more processes than
// MaxTrackedPins is taken as a whole, its growth clamped at zero.
class TrendCollector : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxTrackedPins = 100'000;

    explicit TrendCollector(HostSession* session, QObject* parent = nullptr);
    ~TrendCollector() override;

    // Counting runs only while enabled; turning it on again starts a new
    // stretch (the first sample has no CPU figure).
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    const TrendHistory& history() const { return m_history; }
    // CPU ms used between two counts of one listener's processes (CPU ms by
    // PIN): what each process in both gained, never less than nothing, plus
    // all of each new one.
    static qint64 cpuUsedBetween(const QHash<QByteArray, qint64>& before,
                                 const QHash<QByteArray, qint64>& now);

    // The last whole census of the host (stale while the link is down).
    const HostCensus& census() const { return m_census; }

Q_SIGNALS:
    // A sample was added to the history.
    void sampled();

private:
    void workDone();
    void startCounting();
    void finishCounting();
    void resetBaseline();

    HostSession* m_session;
    TrendHistory m_history;
    bool m_enabled = false;
    bool m_listed = false;   // a refresh listed the listeners since the last count
    bool m_counting = false; // counting lists are queued or running
    bool m_failed = false;   // one of them did not end complete
    bool m_startQueued = false;
    QByteArray m_hostKey;
    HostCensus m_census;
    // Per listener, each process's CPU ms in the census being taken (until
    // MaxTrackedPins), and at the last sample; also each listener's total.
    QHash<QByteArray, QHash<QByteArray, qint64>> m_pins;
    QSet<QByteArray> m_untracked;
    QHash<QByteArray, QHash<QByteArray, qint64>> m_previousPins;
    QHash<QByteArray, qint64> m_previousTotals;
};
