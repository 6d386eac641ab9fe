#include "exporter/FleetCollector.h"

#include "exporter/Exposition.h"
#include "exporter/HostCollector.h"

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

void FleetCollector::scrape(int deadlineMs, Done done)
{
    m_waiting.push_back(std::move(done));
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
    const QByteArray text = Exposition::write(samples, m_withProcesses);
    std::vector<Done> waiting;
    waiting.swap(m_waiting);
    for (Done& done : waiting)
        done(text);
}
