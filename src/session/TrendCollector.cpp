#include "session/TrendCollector.h"

#include "host_link/Wire.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"

#include <QDateTime>
#include <QSet>

// One listener's process list, counted.
class TrendCollector::Counter : public RecordSink
{
public:
    explicit Counter(QByteArray pin) : listenerPin(std::move(pin)) {}

    void record(const Wire::SplitResult& record, QByteArrayView) override
    {
        // A record of the other kind is not this list's.
        if (!record.ok() || record.kind != Wire::RecordKind::Process)
            return;
        ++processes;
        cpuMs += record.process.cpuMs;
        if (pinsTracked && cpuByPin.size() >= MaxTrackedPins) {
            pinsTracked = false;
            cpuByPin.clear();
        }
        if (pinsTracked)
            cpuByPin.insert(record.process.pin.toByteArray(), record.process.cpuMs);
    }

    QByteArray listenerPin;
    int processes = 0;
    qint64 cpuMs = 0;
    bool pinsTracked = true;
    QHash<QByteArray, qint64> cpuByPin;
};

TrendCollector::TrendCollector(HostSession* session, QObject* parent)
    : QObject(parent), m_session(session)
{
    connect(session, &HostSession::listenersChanged, this, [this] { m_listed = true; });
    connect(session, &HostSession::busyChanged, this, [this](bool busy) {
        if (!busy)
            workDone();
    });
    connect(session, &HostSession::listEnded, this, [this](HostSession::ListEnd end, int) {
        if (m_counting && end != HostSession::ListEnd::Complete)
            m_failed = true;
    });
    connect(session, &HostSession::linkStateChanged, this, [this](HostSession::LinkState state) {
        // The samples on either side of an outage are not consecutive.
        if (state != HostSession::LinkState::LoggedOn)
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
        m_lastCounts.clear();
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
        resetBaseline();
    }
    m_counters.clear();
    QSet<QByteArray> seen;
    const ListenerTableModel* listeners = m_session->listeners();
    for (int row = 0; row < listeners->rows(); ++row) {
        QByteArray pin = listeners->cell(row, ListenerColumn::Pin).toByteArray();
        if (pin.isEmpty() || seen.contains(pin))
            continue;
        seen.insert(pin);
        m_counters.push_back(std::make_unique<Counter>(std::move(pin)));
    }
    m_counting = true;
    m_failed = false;
    for (const auto& counter : m_counters)
        m_session->requestList(Wire::GetProcesses, counter->listenerPin, counter.get());
    if (m_counters.empty())
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
    const std::vector<std::unique_ptr<Counter>> counters = std::exchange(m_counters, {});
    if (m_failed || !m_enabled || m_session->linkState() != HostSession::LinkState::LoggedOn) {
        // A partial count would show as a dip: it is left out.
        resetBaseline();
        return;
    }
    QList<TrendHistory::ListenerCount> counts;
    QHash<QByteArray, QHash<QByteArray, qint64>> pins;
    QHash<QByteArray, qint64> totals;
    m_lastCounts.clear();
    for (const auto& c : counters) {
        qint64 used = 0;
        const auto previous = m_previousPins.constFind(c->listenerPin);
        if (c->pinsTracked && previous != m_previousPins.constEnd()) {
            used = cpuUsedBetween(*previous, c->cpuByPin);
        } else if (m_previousTotals.contains(c->listenerPin)) {
            used = std::max<qint64>(0, c->cpuMs - m_previousTotals.value(c->listenerPin));
        } else {
            // A listener not counted before: all its processes are new.
            used = c->cpuMs;
        }
        counts.append({c->listenerPin, c->processes, used});
        totals.insert(c->listenerPin, c->cpuMs);
        if (c->pinsTracked)
            pins.insert(c->listenerPin, std::move(c->cpuByPin));
        m_lastCounts.insert(c->listenerPin, c->processes);
    }
    m_previousPins = std::move(pins);
    m_previousTotals = std::move(totals);
    m_history.addSample(QDateTime::currentMSecsSinceEpoch(), counts);
    Q_EMIT sampled();
}
