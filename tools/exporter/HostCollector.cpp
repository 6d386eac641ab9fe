#include "exporter/HostCollector.h"

#include "exporter/ExporterLog.h"
#include "host_link/RecordDisplay.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

#include <cstdio>

namespace {

// A process listed twice (a list that changed while it was read) is served
// once, where it was first seen. Processes are told apart by their
// listener's PIN and their own, found in an open-addressing table of indices
// that needs one allocation for the whole host.
void dropRepeatedProcesses(HostSample& sample)
{
    auto& processes = sample.processes;
    if (processes.size() < 2)
        return;
    size_t capacity = 4;
    while (capacity < processes.size() * 2)
        capacity <<= 1;
    std::vector<qint32> slots(capacity, -1);
    const QByteArrayView text(sample.processText);
    const auto keyOf = [&text](const ProcessSample& p) {
        return text.sliced(p.at, p.listenerSize + p.pinSize);
    };
    size_t kept = 0;
    for (size_t i = 0; i < processes.size(); ++i) {
        const ProcessSample p = processes[i];
        const QByteArrayView key = keyOf(p);
        size_t slot = qHash(key, size_t(p.listenerSize)) & (capacity - 1);
        bool repeated = false;
        for (; slots[slot] >= 0; slot = (slot + 1) & (capacity - 1)) {
            const ProcessSample& seen = processes[size_t(slots[slot])];
            if (seen.listenerSize == p.listenerSize && keyOf(seen) == key) {
                repeated = true;
                break;
            }
        }
        if (repeated)
            continue;
        processes[kept] = p;
        slots[slot] = qint32(kept++);
    }
    processes.resize(kept);
}

QByteArray isoTime(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toUTC().toString(Qt::ISODate).toLatin1();
}

} // namespace

HostCollector::HostCollector(const HostTarget& target, bool withProcesses, QObject* parent)
    : QObject(parent), m_session(new HostSession(this)), m_deadline(new QTimer(this)),
      m_withProcesses(withProcesses), m_now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_sample.host = target.label;
    m_sample.via = target.settings.SshDestination;
    m_settings = target.settings;
    m_session->setSettings(m_settings);
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    connect(m_deadline, &QTimer::timeout, this, [this] { fail(CollectError::Timeout); });
    connect(m_session, &HostSession::logonFailed, this,
            [this](HostSession::LogonResult result) { m_logonResult = result; });
    // A tunnel that fails says why in ssh's words; the host's series count
    // it as a connection error, the log says why once for each new cause.
    connect(m_session, &HostSession::tunnelError, this, [this](const QString& text) {
        if (text == m_lastTunnelError)
            return;
        m_lastTunnelError = text;
        std::fprintf(stderr, "orvanite-exporter: %s: %s\n", qPrintable(m_sample.host),
                     qPrintable(text));
    });
    connect(m_session, &HostSession::connectFinished, this, &HostCollector::onConnectFinished);
    connect(m_session, &HostSession::listEnded, this,
            [this](HostSession::ListEnd end, int) { onListEnded(end); });
    m_census.setProcessObserver([this](const ListenerCensus& l, const Wire::ProcessFields& f) {
        if (!m_withProcesses)
            return;
        // Past the limit a process is only counted: one host of a million
        // processes must not make every scrape hundreds of megabytes.
        if (qint64(m_next.processes.size()) >= m_processLimit)
            ++m_next.processesOmitted;
        else
            m_next.addProcess(l.pin, f.pin, f.user, f.program, f.cpuMs);
    });
}

HostCollector::~HostCollector()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    // Signals of the goodbye must not reach a half-destroyed collector.
    disconnect(m_session, nullptr, this, nullptr);
    m_session->quit();
}

void HostCollector::collect(int deadlineMs)
{
    if (m_collecting)
        return;
    m_collecting = true;
    m_clock.start();
    m_deadline->start(std::max(deadlineMs, 1));
    m_next = HostSample();
    m_next.host = m_sample.host;
    m_next.via = m_sample.via;
    m_next.errors = m_sample.errors;
    // A host's processes change little from one scrape to the next.
    m_next.processes.reserve(m_sample.processes.size());
    m_next.processText.reserve(m_sample.processText.size());
    m_census.begin();
    m_logonResult.reset();

    if (m_session->linkState() == HostSession::LinkState::LoggedOn && m_session->isConnected()) {
        requestLists();
        return;
    }
    if (m_nextLogonMs > m_now()) {
        // The host refused the logon: it is not asked again before its time.
        ExporterLog::write(
            ExporterLog::Level::Debug, "logon deferred",
            {{"host", m_sample.host.toUtf8()}, {"next_logon", isoTime(m_nextLogonMs)}});
        finish(false);
        return;
    }
    // The session resolves a host name itself, and the resolver makes the
    // whole thread wait; a name is looked up here instead, on Qt's lookup
    // threads, so that a slow name server holds up only its own host.
    // Through an SSH tunnel the name is the jump host's to resolve.
    QHostAddress numeric;
    if (!m_settings.SshDestination.isEmpty() ||
        (numeric.setAddress(QString::fromLatin1(m_settings.HostAddress)) &&
         numeric.protocol() == QAbstractSocket::IPv4Protocol)) {
        logOn();
        return;
    }
    m_phase = Phase::Resolving;
    m_lookupId = QHostInfo::lookupHost(QString::fromLatin1(m_settings.HostAddress), this,
                                       &HostCollector::onResolved);
}

void HostCollector::onResolved(const QHostInfo& info)
{
    if (m_phase != Phase::Resolving || info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        ConnectionSettings settings = m_settings;
        settings.HostAddress = address.toString().toLatin1();
        m_session->setSettings(settings);
        logOn();
        return;
    }
    fail(CollectError::Connect);
}

void HostCollector::logOn()
{
    m_phase = Phase::LoggingOn;
    m_session->logOn();
}

void HostCollector::onConnectFinished(bool loggedOn)
{
    if (m_phase != Phase::LoggingOn)
        return;
    if (loggedOn) {
        m_refusalsInRow = 0;
        m_nextLogonMs = 0;
        requestLists();
        return;
    }
    switch (m_logonResult.value_or(HostSession::LogonResult::NotConnected)) {
    case HostSession::LogonResult::Refused: {
        // 1 s after the first refusal, twice as long after each further
        // one, never more than an hour.
        const int doublings = std::min(m_refusalsInRow++, 12);
        m_nextLogonMs = m_now() + std::min(FirstLogonWaitMs << doublings, LongestLogonWaitMs);
        fail(CollectError::LogonRefused);
        break;
    }
    case HostSession::LogonResult::Failed:
        fail(CollectError::LogonFailed);
        break;
    case HostSession::LogonResult::Accepted:
    case HostSession::LogonResult::NoHost:
    case HostSession::LogonResult::NotConnected:
        fail(CollectError::Connect);
        break;
    }
}

void HostCollector::requestLists()
{
    m_phase = Phase::Listeners;
    m_census.begin();
    m_session->requestList(Wire::GetListeners, std::nullopt, &m_census.listenerSink());
}

void HostCollector::onListEnded(HostSession::ListEnd end)
{
    using End = HostSession::ListEnd;
    if (m_phase != Phase::Listeners && m_phase != Phase::Processes)
        return;
    switch (end) {
    case End::Complete:
        break;
    case End::TimedOut:
    case End::Stopped:
        return fail(CollectError::Timeout);
    case End::Closed:
    case End::NotConnected:
    case End::NoSelection:
        return fail(CollectError::Closed);
    case End::BadHeader:
    case End::TooManyRecords:
        return fail(CollectError::BadReply);
    }

    const std::vector<ListenerCensus>& listeners = m_census.listeners();
    if (m_phase == Phase::Listeners) {
        if (listeners.empty())
            return finish(true);
        m_phase = Phase::Processes;
        m_listenerIndex = 0;
        // The session sends each request once the list before it has ended.
        for (std::size_t i = 0; i < listeners.size(); ++i)
            m_session->requestList(Wire::GetProcesses, listeners[i].pin, &m_census.processSink(i));
        return;
    }
    if (++m_listenerIndex < listeners.size())
        return;
    if (m_withProcesses)
        dropRepeatedProcesses(m_next);
    finish(true);
}

void HostCollector::fail(CollectError reason)
{
    if (!m_collecting)
        return;
    ++m_next.errors[size_t(reason)];
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    tellState(false, reason);
    m_census.abandon();
    m_next.listeners.clear();
    m_next.processes.clear();
    // Whatever the session was doing is dropped; the next collection logs
    // on afresh, so no reply of this one can be taken for one of the next.
    m_phase = Phase::Idle;
    m_session->quit();
    finish(false);
}

void HostCollector::finish(bool up)
{
    if (!m_collecting)
        return;
    m_deadline->stop();
    if (up) {
        tellState(true, CollectError::Connect);
        if (m_census.malformedRecords() > 0)
            ++m_next.errors[size_t(CollectError::MalformedRecord)];
        m_census.complete();
        m_next.listeners = m_census.summary().perListener;
    }
    m_next.up = up;
    m_next.nextLogonMs = m_nextLogonMs;
    m_next.durationSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_sample = std::move(m_next);
    m_next = HostSample();
    m_phase = Phase::Idle;
    m_collecting = false;
    Q_EMIT finished();
}

void HostCollector::tellState(bool up, CollectError reason)
{
    using ExporterLog::Level;
    const QByteArray host = m_sample.host.toUtf8();
    if (up) {
        if (m_told != Told::Up)
            ExporterLog::write(Level::Info, m_told == Told::Nothing ? "host up" : "host back",
                               {{"host", host}});
        m_told = Told::Up;
        return;
    }
    // A refusal in a row is the same state, whatever the wait grew to.
    if (m_told == Told::Down && m_toldReason == reason) {
        if (reason == CollectError::LogonRefused)
            ExporterLog::write(
                Level::Debug, "logon refused again",
                {{"host", host},
                 {"wait_seconds", QByteArray::number((m_nextLogonMs - m_now() + 999) / 1000)}});
        return;
    }
    m_told = Told::Down;
    m_toldReason = reason;
    if (reason == CollectError::LogonRefused) {
        ExporterLog::write(
            Level::Error, "logon refused",
            {{"host", host}, {"user", m_settings.User}, {"next_logon", isoTime(m_nextLogonMs)}});
        return;
    }
    ExporterLog::write(Level::Warn, "host down",
                       {{"host", host}, {"reason", collectErrorName(reason)}});
}
