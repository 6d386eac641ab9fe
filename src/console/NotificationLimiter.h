#pragma once

#include <QHash>
#include <QString>

// Lets through at most one notification of each kind for each host per
// interval (a minute), so a flapping link or a listener that keeps hitting
// its limit does not bury the operator's desktop.
class NotificationLimiter
{
public:
    static constexpr qint64 DefaultIntervalMs = 60'000;

    explicit NotificationLimiter(qint64 intervalMs = DefaultIntervalMs) : m_intervalMs(intervalMs)
    {
    }

    // True, and counted, when no notification of kind for host was let
    // through in the interval before nowMs.
    bool allow(int kind, const QString& host, qint64 nowMs);

private:
    qint64 m_intervalMs;
    QHash<QString, qint64> m_last; // "kind|host" -> time let through
};
