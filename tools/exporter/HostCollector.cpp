#include "exporter/HostCollector.h"

#include "host_link/RecordDisplay.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSet>
#include <QTimer>

#include <cstdio>

HostCollector::HostCollector(const HostTarget& target, bool withProcesses, QObject* parent)
    : QObject(parent), m_session(new HostSession(this)), m_deadline(new QTimer(this)),
      m_withProcesses(withProcesses)
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
            m_next.processes.push_back(ProcessSample{l.pin, f.pin.toByteArray(),
                                                     f.user.toByteArray(), f.program.toByteArray(),
                                                     f.cpuMs});
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
    m_census.begin();
    m_logonResult.reset();

    if (m_session->linkState() == HostSession::LinkState::LoggedOn && m_session->isConnected()) {
        requestLists();
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
        requestLists();
        return;
    }
    switch (m_logonResult.value_or(HostSession::LogonResult::NotConnected)) {
    case HostSession::LogonResult::Refused:
        fail(CollectError::LogonRefused);
        break;
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
    if (m_withProcesses) {
        QSet<std::pair<QByteArray, QByteArray>> seen;
        auto& processes = m_next.processes;
        processes.erase(std::remove_if(processes.begin(), processes.end(),
                                       [&seen](const ProcessSample& p) {
                                           const auto key = std::make_pair(p.listener, p.pin);
                                           if (seen.contains(key))
                                               return true;
                                           seen.insert(key);
                                           return false;
                                       }),
                        processes.end());
    }
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
        if (m_census.malformedRecords() > 0)
            ++m_next.errors[size_t(CollectError::MalformedRecord)];
        m_census.complete();
        m_next.listeners = m_census.summary().perListener;
    }
    m_next.up = up;
    m_next.durationSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_sample = std::move(m_next);
    m_next = HostSample();
    m_phase = Phase::Idle;
    m_collecting = false;
    Q_EMIT finished();
}
