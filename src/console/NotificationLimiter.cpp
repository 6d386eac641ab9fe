#include "console/NotificationLimiter.h"

bool NotificationLimiter::allow(int kind, const QString& host, qint64 nowMs)
{
    const QString key = QString::number(kind) + QLatin1Char('|') + host;
    const auto it = m_last.constFind(key);
    // A clock set back counts as a new interval rather than a long silence.
    if (it != m_last.constEnd() && nowMs >= *it && nowMs - *it < m_intervalMs)
        return false;
    m_last.insert(key, nowMs);
    return true;
}
