#include "session/TrendHistory.h"

#include <limits>

void TrendHistory::Ring::append(const Sample& sample)
{
    if (m_capacity <= 0)
        return;
    if (int(m_samples.size()) < m_capacity) {
        m_samples.push_back(sample);
        return;
    }
    // Full: the oldest sample makes room.
    m_samples[m_head] = sample;
    m_head = (m_head + 1) % m_samples.size();
}

TrendHistory::TrendHistory(int capacity, int maxListenerRings)
    : m_capacity(capacity), m_maxListenerRings(maxListenerRings), m_host(capacity)
{
}

void TrendHistory::clear()
{
    m_host = Ring(m_capacity);
    m_listeners.clear();
    m_lastSample = 0;
    m_lastTimeMs = -1;
}

const TrendHistory::Ring* TrendHistory::listener(const QByteArray& pin) const
{
    const auto it = m_listeners.constFind(pin);
    return it == m_listeners.constEnd() ? nullptr : &it->ring;
}

std::size_t TrendHistory::capacityBytes() const
{
    return std::size_t(m_maxListenerRings + 1) * std::size_t(m_capacity) * sizeof(Sample);
}

TrendHistory::Ring* TrendHistory::ringFor(const QByteArray& pin, quint32 time)
{
    auto it = m_listeners.find(pin);
    if (it != m_listeners.end()) {
        it->lastSeen = time;
        return &it->ring;
    }
    if (m_listeners.size() >= m_maxListenerRings) {
        // Room is made only by a listener missing from this sample, the one
        // gone longest; listeners still listed keep theirs, or rings would
        // change hands at every sample.
        auto oldest = m_listeners.end();
        for (auto i = m_listeners.begin(); i != m_listeners.end(); ++i)
            if (i->lastSeen < m_lastSample &&
                (oldest == m_listeners.end() || i->lastSeen < oldest->lastSeen))
                oldest = i;
        if (oldest == m_listeners.end())
            return nullptr;
        m_listeners.erase(oldest);
    }
    it = m_listeners.insert(pin, ListenerRing{Ring(m_capacity), time});
    return &it->ring;
}

void TrendHistory::addSample(qint64 timeMs, const QList<ListenerCount>& listeners)
{
    const quint32 time = quint32(std::max<qint64>(0, timeMs / 1000));
    // CPU seconds per minute over the time since the sample before.
    const qint64 elapsedMs = m_lastTimeMs < 0 ? 0 : timeMs - m_lastTimeMs;
    const auto perMinute = [elapsedMs](qint64 usedMs) {
        if (elapsedMs <= 0)
            return std::numeric_limits<float>::quiet_NaN();
        return float(double(usedMs) / 1000.0 * 60000.0 / double(elapsedMs));
    };

    qint64 processes = 0;
    qint64 usedMs = 0;
    for (const ListenerCount& l : listeners) {
        processes += l.processes;
        usedMs += std::max<qint64>(0, l.cpuUsedMs);
    }
    // Rings of listeners that are listed again are marked first, so that a
    // listener still listed never loses its ring to a newcomer.
    m_lastSample = time;
    for (const ListenerCount& l : listeners) {
        auto it = m_listeners.find(l.pin);
        if (it != m_listeners.end())
            it->lastSeen = time;
    }
    for (const ListenerCount& l : listeners)
        if (Ring* ring = ringFor(l.pin, time))
            ring->append({time, l.processes, perMinute(std::max<qint64>(0, l.cpuUsedMs))});
    m_host.append({time, qint32(std::min<qint64>(processes, std::numeric_limits<qint32>::max())),
                   perMinute(usedMs)});
    m_lastTimeMs = timeMs;
}
