#include "session/HostCensus.h"

#include "host_link/RecordDisplay.h"
#include "session/ListenerTableModel.h"

class HostCensus::ListenerSink : public RecordSink
{
public:
    explicit ListenerSink(HostCensus& census) : m_census(census) {}
    void record(const Wire::SplitResult& record, QByteArrayView) override
    {
        if (!record.ok()) {
            ++m_census.m_malformed;
            return;
        }
        // A record of the other kind is not this list's: the window does not
        // count it either.
        if (record.kind == Wire::RecordKind::Listener)
            m_census.addListener(record.listener);
    }

private:
    HostCensus& m_census;
};

class HostCensus::ProcessSink : public RecordSink
{
public:
    ProcessSink(HostCensus& census, std::size_t index) : m_census(census), m_index(index) {}
    void record(const Wire::SplitResult& record, QByteArrayView) override
    {
        if (!record.ok()) {
            ++m_census.m_malformed;
            return;
        }
        if (record.kind != Wire::RecordKind::Process ||
            m_index >= m_census.m_next.perListener.size())
            return;
        ListenerCensus& l = m_census.m_next.perListener[m_index];
        ++l.processes;
        l.cpuMs += record.process.cpuMs;
        if (m_census.m_observer)
            m_census.m_observer(l, record.process);
    }

private:
    HostCensus& m_census;
    std::size_t m_index;
};

HostCensus::HostCensus() : m_listenerSink(std::make_unique<ListenerSink>(*this)) {}

HostCensus::~HostCensus() = default;

void HostCensus::begin()
{
    m_next = CensusSummary();
    m_seen.clear();
    m_processSinks.clear();
    m_malformed = 0;
    m_running = true;
}

RecordSink& HostCensus::listenerSink()
{
    return *m_listenerSink;
}

void HostCensus::addListener(const Wire::ListenerFields& f)
{
    // A PIN names one listener; a host that lists one twice has it counted once.
    QByteArray pin = f.pin.toByteArray();
    if (pin.isEmpty() || m_seen.contains(pin))
        return;
    m_seen.insert(pin);
    ListenerCensus l;
    l.pin = std::move(pin);
    l.product = RecordDisplay::ProductName(f.product, f.productNumber);
    l.program = f.program.toByteArray();
    l.port = f.port.toByteArray();
    l.maxUsers = f.userLimitNumber;
    m_next.perListener.push_back(std::move(l));
}

void HostCensus::takeListeners(const ListenerTableModel& table)
{
    for (int row = 0; row < table.rows(); ++row) {
        QByteArray pin = table.cell(row, ListenerColumn::Pin).toByteArray();
        if (pin.isEmpty() || m_seen.contains(pin))
            continue;
        m_seen.insert(pin);
        ListenerCensus l;
        l.pin = std::move(pin);
        l.product = table.cell(row, ListenerColumn::Product).toByteArray();
        l.program = table.cell(row, ListenerColumn::Program).toByteArray();
        l.port = table.cell(row, ListenerColumn::Port).toByteArray();
        const RecordValue limit = table.value(row, int(ListenerColumn::MaxUsers));
        l.maxUsers = limit.isNumber() ? qint32(limit.number) : 0;
        m_next.perListener.push_back(std::move(l));
    }
}

RecordSink& HostCensus::processSink(std::size_t index)
{
    while (m_processSinks.size() <= index)
        m_processSinks.push_back(std::make_unique<ProcessSink>(*this, m_processSinks.size()));
    return *m_processSinks[index];
}

void HostCensus::complete(const QDateTime& at)
{
    if (!m_running)
        return;
    m_running = false;
    m_next.listeners = qint64(m_next.perListener.size());
    for (const ListenerCensus& l : m_next.perListener) {
        m_next.processes += l.processes;
        m_next.cpuMs += l.cpuMs;
    }
    m_next.takenAt = at;
    m_next.stale = false;
    m_summary = std::move(m_next);
    m_next = CensusSummary();
}

void HostCensus::abandon()
{
    m_running = false;
    m_next = CensusSummary();
}

void HostCensus::setStale(bool stale)
{
    m_summary.stale = stale && m_summary.taken();
}

void HostCensus::reset()
{
    abandon();
    m_summary = CensusSummary();
}
