#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <cmath>
#include <cstddef>
#include <vector>

// How the host and its listeners moved over the session: per sample the time,
// the number of processes and the CPU time they used per minute since the
// sample before. Kept in bounded rings, one for the whole host and one per
// listener, so a console left running for weeks holds the last day at most
// and a few MB in all.
class TrendHistory
{
public:
    // One day at the shortest refresh interval (5 s).
    static constexpr int DefaultCapacity = 24 * 60 * 60 / 5;
    // Listener rings kept at most; a host with more listeners gets rings for
    // the first ones seen, and a vanished listener's ring makes room.
    static constexpr int DefaultListenerRings = 24;

    struct Sample
    {
        quint32 time = 0;       // seconds since the epoch (UTC)
        qint32 processes = 0;   // processes listed
        float cpuPerMinute = 0; // CPU seconds used per minute since the sample before; NaN: unknown
        bool hasCpu() const { return !std::isnan(cpuPerMinute); }
    };

    // A fixed-capacity ring of samples, oldest first.
    class Ring
    {
    public:
        explicit Ring(int capacity) : m_capacity(capacity) {}
        int size() const { return int(m_samples.size()); }
        int capacity() const { return m_capacity; }
        bool isEmpty() const { return m_samples.empty(); }
        // i from 0 (oldest) to size() - 1 (newest).
        const Sample& at(int i) const
        {
            return m_samples[(m_head + std::size_t(i)) % m_samples.size()];
        }
        const Sample& last() const { return at(size() - 1); }
        void append(const Sample& sample);

    private:
        std::vector<Sample> m_samples;
        std::size_t m_head = 0; // the oldest sample once the ring is full
        int m_capacity;
    };

    // What one listener's process list showed at a sample.
    struct ListenerCount
    {
        QByteArray pin;
        int processes = 0;
        qint64 cpuUsedMs = 0; // CPU time used since the sample before (never negative)
    };

    explicit TrendHistory(int capacity = DefaultCapacity,
                          int maxListenerRings = DefaultListenerRings);

    // Adds one sample of the host and of each listener listed. time is in
    // milliseconds since the epoch. The CPU figures are unknown for the first
    // sample after a gap (see markGap).
    void addSample(qint64 timeMs, const QList<ListenerCount>& listeners);
    // The samples before and after are not consecutive (counting paused, the
    // link was down, another host): the next sample has no CPU figure.
    void markGap() { m_lastTimeMs = -1; }
    // Forgets everything (another host).
    void clear();

    const Ring& host() const { return m_host; }
    // The listener's ring; nullptr when it has none.
    const Ring* listener(const QByteArray& pin) const;
    int listenerRings() const { return int(m_listeners.size()); }
    int capacity() const { return m_capacity; }
    // Bytes the rings may come to when full.
    std::size_t capacityBytes() const;

private:
    struct ListenerRing
    {
        Ring ring;
        quint32 lastSeen = 0; // the time of the sample that last listed the listener
    };
    Ring* ringFor(const QByteArray& pin, quint32 time);

    int m_capacity;
    int m_maxListenerRings;
    Ring m_host;
    QHash<QByteArray, ListenerRing> m_listeners;
    quint32 m_lastSample = 0;
    qint64 m_lastTimeMs = -1;
};
