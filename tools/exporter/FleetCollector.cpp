#include "exporter/FleetCollector.h"

#include "exporter/Exposition.h"
#include "exporter/HostCollector.h"
#include "exporter/ProcessMetrics.h"

#include <QTimer>

namespace {

// A scrape's own deadline gives the hosts' deadlines (the same time) the
// first word, so that a collection ending on time is answered whole.
constexpr int AnswerGraceMs = 20;

} // namespace

FleetCollector::FleetCollector(const QList<HostTarget>& targets, bool withProcesses,
                               QObject* parent)
    : QObject(parent), m_withProcesses(withProcesses)
{
    for (const HostTarget& target : targets) {
        auto* host = new HostCollector(target, withProcesses, this);
        connect(host, &HostCollector::finished, this, &FleetCollector::hostFinished);
        m_hosts.push_back(host);
    }
}

FleetCollector::~FleetCollector() = default;

void FleetCollector::setProcessLimit(qint64 limit)
{
    for (HostCollector* host : m_hosts)
        host->setProcessLimit(limit);
}

void FleetCollector::scrape(int deadlineMs, Done done)
{
    const quint64 id = ++m_nextId;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->callOnTimeout(this, [this, id] { answerEarly(id); });
    timer->start(std::max(deadlineMs, 1) + AnswerGraceMs);
    m_waiting.push_back(Waiting{id, std::move(done), timer});
    if (m_running > 0)
        return;
    m_running = int(m_hosts.size());
    if (m_running == 0) {
        hostFinished();
        return;
    }
    // A host may finish at once (one that cannot be resolved): the count is
    // set before any starts.
    for (HostCollector* host : m_hosts)
        host->collect(deadlineMs);
}

void FleetCollector::hostFinished()
{
    if (m_running > 0 && --m_running > 0)
        return;
    std::vector<const HostSample*> samples;
    samples.reserve(m_hosts.size());
    for (const HostCollector* host : m_hosts)
        samples.push_back(&host->sample());
    const ProcessMetrics self = ProcessMetrics::read();
    const QByteArray text = Exposition::write(samples, m_withProcesses, &self);
    std::vector<Waiting> waiting;
    waiting.swap(m_waiting);
    for (Waiting& w : waiting) {
        delete w.deadline;
        w.done(text);
    }
}

void FleetCollector::answerEarly(quint64 id)
{
    const auto found = std::find_if(m_waiting.begin(), m_waiting.end(),
                                    [id](const Waiting& w) { return w.id == id; });
    if (found == m_waiting.end())
        return;
    Waiting w = std::move(*found);
    m_waiting.erase(found);
    w.deadline->deleteLater();

    // Hosts done in this collection show what they found; one still being
    // listed has not answered within this scrape's time: not up, its
    // counts as they stand.
    std::vector<HostSample> pending;
    pending.reserve(m_hosts.size());
    std::vector<const HostSample*> samples;
    samples.reserve(m_hosts.size());
    for (const HostCollector* host : m_hosts) {
        if (!host->isCollecting()) {
            samples.push_back(&host->sample());
            continue;
        }
        HostSample& s = pending.emplace_back();
        s.host = host->label();
        s.via = host->sample().via;
        s.errors = host->sample().errors;
        samples.push_back(&s);
    }
    const ProcessMetrics self = ProcessMetrics::read();
    w.done(Exposition::write(samples, m_withProcesses, &self));
}
