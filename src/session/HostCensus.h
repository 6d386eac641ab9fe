#pragma once

#include "host_link/Wire.h"
#include "session/HostSession.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

class ListenerTableModel;

// One listener as a census found it: its identity as the window shows it (the
// product's display name), its user limit, and what its processes add up to.
struct ListenerCensus
{
    QByteArray pin;
    QByteArray product; // display name, as in the listener table
    QByteArray program;
    QByteArray port;
    qint32 maxUsers = 0; // 0: unlimited
    qint64 processes = 0;
    qint64 cpuMs = 0;
};

// What the last whole census of a host found: the one summary that All hosts,
// the trends, orvanite-ctl hosts and the exporter show. A census that does not
// end whole changes nothing here; a host that goes down keeps its last
// figures, marked stale, with the time they were taken.
struct CensusSummary
{
    qint64 listeners = 0;
    qint64 processes = 0;
    qint64 cpuMs = 0;
    std::vector<ListenerCensus> perListener; // the host's order, each PIN once
    QDateTime takenAt;                       // invalid: no census yet
    bool stale = false;

    bool taken() const { return takenAt.isValid(); }
};

// Every listener's processes of one host, counted while their records arrive
// (never by a pass over stored rows). Whoever talks to the host (a
// HostSession, orvanite-ctl's session) feeds the lists: the listener list
// (or a listener table already filled), then each listener's process list
// through its own sink; then says whether every list ended whole.
class HostCensus
{
public:
    // Each process record counted, with its listener (the trends follow
    // each process's CPU time, the exporter may list them).
    using ProcessObserver = std::function<void(const ListenerCensus&, const Wire::ProcessFields&)>;

    HostCensus();
    ~HostCensus();
    HostCensus(const HostCensus&) = delete;
    HostCensus& operator=(const HostCensus&) = delete;

    void setProcessObserver(ProcessObserver observer) { m_observer = std::move(observer); }

    // Starts a census; one that was running is dropped.
    void begin();
    // The records of the listener list.
    RecordSink& listenerSink();
    // Or the listeners of a table that a refresh has just filled.
    void takeListeners(const ListenerTableModel& table);
    // The listeners found so far: each PIN once, in the host's order.
    const std::vector<ListenerCensus>& listeners() const { return m_next.perListener; }
    // The records of listener index's process list.
    RecordSink& processSink(std::size_t index);
    bool isRunning() const { return m_running; }
    // Records that could not be split, in this census's lists.
    int malformedRecords() const { return m_malformed; }

    // Every list ended whole: the census becomes the summary.
    void complete(const QDateTime& at = QDateTime::currentDateTime());
    // A list did not end whole: the summary stays as it was.
    void abandon();
    // The host is down (or back): the summary's figures are its last ones.
    void setStale(bool stale);
    // Forgets every figure (another host).
    void reset();

    const CensusSummary& summary() const { return m_summary; }

private:
    class ListenerSink;
    class ProcessSink;
    void addListener(const Wire::ListenerFields& fields);

    ProcessObserver m_observer;
    CensusSummary m_summary;
    CensusSummary m_next;
    QSet<QByteArray> m_seen;
    std::unique_ptr<ListenerSink> m_listenerSink;
    std::vector<std::unique_ptr<ProcessSink>> m_processSinks;
    bool m_running = false;
    int m_malformed = 0;
};
