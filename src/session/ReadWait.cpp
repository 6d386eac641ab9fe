#include "session/ReadWait.h"

#include <QTimer>

#include <algorithm>

ReadWait::ReadWait(QObject* parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] {
        // Only the read the timer was started for can time out; a read that
        // completed since has moved the serial on.
        if (m_timerSerial != m_readSerial)
            return;
        m_expired = true;
        Q_EMIT expired();
    });
}

void ReadWait::arm(int seconds)
{
    if (m_timerSerial == m_readSerial && m_timer->isActive())
        return;
    m_timerSerial = m_readSerial;
    m_expired = false;
    m_timer->start(
        int(std::min<qint64>((qint64(seconds) + 1) * 1000, std::numeric_limits<int>::max())));
}

void ReadWait::completed()
{
    ++m_readSerial;
    m_expired = false;
    m_timer->stop();
}

bool ReadWait::takeExpired()
{
    if (!m_expired)
        return false;
    completed();
    return true;
}

bool ReadWait::isRunning() const
{
    return m_timer->isActive() && m_timerSerial == m_readSerial;
}
