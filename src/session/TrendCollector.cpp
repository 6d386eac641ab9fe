#include "session/TrendCollector.h"

#include "host_link/Wire.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"

#include <QDateTime>
#include <QSet>

TrendCollector::TrendCollector(HostSession* session, QObject* parent)
    : QObject(parent), m_session(session)
{
    m_census.setProcessObserver([this](const ListenerCensus& l, const Wire::ProcessFields& p) {
        if (m_untracked.contains(l.pin))
            return;
        QHash<QByteArray, qint64>& pins = m_pins[l.pin];
        if (pins.size() >= MaxTrackedPins) {
            m_untracked.insert(l.pin);
            m_pins.remove(l.pin);
            return;
        }
        pins.insert(p.pin.toByteArray(), p.cpuMs);
    });
    // Only a listener list read whole is counted: one cut before its end
    // (a bad header, no reply in time) would count its missing listeners
    // as none, and the host's figures would drop to what little came.
    connect(session, &HostSession::tableListEnded, this,
            [this](HostSession::ListEnd end, bool listeners) {
                if (listeners)
                    m_listed = end == HostSession::ListEnd::Complete;
            });
    connect(session, &HostSession::busyChanged, this, [this](bool busy) {
        if (!busy)
            workDone();
    });
    connect(session, &HostSession::listEnded, this, [this](HostSession::ListEnd end, int) {
        if (m_counting && end != HostSession::ListEnd::Complete)
            m_failed = true;
    });
    connect(session, &HostSession::linkStateChanged, this, [this](HostSession::LinkState state) {
        // The samples on either side of an outage are not consecutive; the
        // host's figures stay, as its last ones.
        const bool down = state != HostSession::LinkState::LoggedOn;
        m_census.setStale(down);
        if (down)
            resetBaseline();
    });
}

TrendCollector::~TrendCollector() = default;

void TrendCollector::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    resetBaseline();
    if (!enabled)
        m_census.reset();
    // The next refresh is counted; a session already idle is counted now.
    m_listed = enabled && m_session->linkState() == HostSession::LinkState::LoggedOn;
    if (enabled && !m_session->isBusy())
        workDone();
}

void TrendCollector::resetBaseline()
{
    m_history.markGap();
    m_previousPins.clear();
    m_previousTotals.clear();
}

void TrendCollector::workDone()
{
    if (m_counting) {
        finishCounting();
        return;
    }
    if (!m_enabled || !m_listed || m_startQueued)
        return;
    // Started from the event loop: the session is still telling everyone
    // that its work is done.
    m_startQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_startQueued = false;
            startCounting();
        },
        Qt::QueuedConnection);
}

void TrendCollector::startCounting()
{
    if (!m_enabled || !m_listed || m_counting ||
        m_session->linkState() != HostSession::LinkState::LoggedOn)
        return;
    m_listed = false;
    const ConnectionSettings& settings = m_session->settings();
    const QByteArray hostKey = settings.HostAddress + ':' + QByteArray::number(settings.Port);
    if (hostKey != m_hostKey) {
        // Another host: its history starts afresh.
        m_hostKey = hostKey;
        m_history.clear();
        m_census.reset();
        resetBaseline();
    }
    m_census.begin();
    m_census.takeListeners(*m_session->listeners());
    m_pins.clear();
    m_untracked.clear();
    m_counting = true;
    m_failed = false;
    const std::vector<ListenerCensus>& listeners = m_census.listeners();
    for (std::size_t i = 0; i < listeners.size(); ++i)
        m_session->requestList(Wire::GetProcesses, listeners[i].pin, &m_census.processSink(i));
    if (listeners.empty())
        finishCounting();
}

qint64 TrendCollector::cpuUsedBetween(const QHash<QByteArray, qint64>& before,
                                      const QHash<QByteArray, qint64>& now)
{
    // A process that ended took its CPU time with it: it counts for nothing
    // rather than against the others. A PIN the host gave out again shows
    // less time than before and counts from zero.
    qint64 used = 0;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const qint64 earlier = before.value(it.key(), 0);
        used += it.value() >= earlier ? it.value() - earlier : it.value();
    }
    return used;
}

void TrendCollector::finishCounting()
{
    m_counting = false;
    if (m_failed || !m_enabled || m_session->linkState() != HostSession::LinkState::LoggedOn) {
        // A partial count would show as a dip: it is left out, and the
        // host's figures stay those of the last whole count.
        m_census.abandon();
        resetBaseline();
        return;
    }
    m_census.complete();
    QList<TrendHistory::ListenerCount> counts;
    QHash<QByteArray, QHash<QByteArray, qint64>> pins;
    QHash<QByteArray, qint64> totals;
    for (const ListenerCensus& c : m_census.summary().perListener) {
        const bool tracked = !m_untracked.contains(c.pin);
        const QHash<QByteArray, qint64> now = m_pins.value(c.pin);
        qint64 used = 0;
        const auto previous = m_previousPins.constFind(c.pin);
        if (tracked && previous != m_previousPins.constEnd()) {
            used = cpuUsedBetween(*previous, now);
        } else if (m_previousTotals.contains(c.pin)) {
            used = std::max<qint64>(0, c.cpuMs - m_previousTotals.value(c.pin));
        } else {
            // A listener not counted before: all its processes are new.
            used = c.cpuMs;
        }
        counts.append({c.pin, int(c.processes), used});
        totals.insert(c.pin, c.cpuMs);
        if (tracked)
            pins.insert(c.pin, now);
    }
    m_pins.clear();
    m_previousPins = std::move(pins);
    m_previousTotals = std::move(totals);
    m_history.addSample(m_census.summary().takenAt.toMSecsSinceEpoch(), counts);
    Q_EMIT sampled();
}
