#pragma once

#include <QElapsedTimer>

#include <algorithm>

// The waits between tries of something that keeps failing: the first wait,
// then twice as long each time up to the longest, and back to the first once
// a try went well. Reconnection after a lost link and renewal after a list
// fault both wait this way, 1, 2, 4 … 60 s.
class Backoff
{
public:
    static constexpr int FirstMs = 1000;
    static constexpr int MaxMs = 60000;

    // leastFirstMs: the shortest first wait a caller accepts.
    void setDelays(int firstMs, int maxMs, int leastFirstMs = 0)
    {
        m_firstMs = std::max(leastFirstMs, firstMs);
        m_maxMs = std::max(m_firstMs, maxMs);
    }
    // Another try failed: the wait before the next, from now.
    int next()
    {
        m_delayMs = m_delayMs == 0 ? m_firstMs : std::min(m_delayMs * 2, m_maxMs);
        m_since.start();
        return m_delayMs;
    }
    // A try went well: the next failure waits the first wait.
    void reset()
    {
        m_delayMs = 0;
        m_since.invalidate();
    }
    // The wait planned last; 0 when none is.
    int delayMs() const { return m_delayMs; }
    // How long of it is left; 0 when none is planned or it is over.
    int leftMs() const
    {
        if (m_delayMs == 0 || !m_since.isValid())
            return 0;
        return int(std::max<qint64>(0, m_delayMs - m_since.elapsed()));
    }

private:
    int m_firstMs = FirstMs;
    int m_maxMs = MaxMs;
    int m_delayMs = 0;
    QElapsedTimer m_since;
};
