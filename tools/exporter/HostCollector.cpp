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
    m_settings = target.settings;
    m_session->setSettings(m_settings);
    m_deadline->setSingleShot(true);
    m_deadline->setTimerType(Qt::PreciseTimer);
    connect(m_deadline, &QTimer::timeout, this, [this] { fail(CollectError::Timeout); });
    connect(m_session, &HostSession::logonFailed, this,
            [this](HostSession::LogonResult result) { m_logonResult = result; });
    // A tunnel that fails says why in ssh's words; the host's series count
    // it as a connection error, the log says why.
    connect(m_session, &HostSession::tunnelError, this, [this](const QString& text) {
        std::fprintf(stderr, "orvanite-exporter: %s: %s\n", qPrintable(m_sample.host),
                     qPrintable(text));
    });
    connect(m_session, &HostSession::connectFinished, this, &HostCollector::onConnectFinished);
    connect(m_session, &HostSession::listEnded, this,
            [this](HostSession::ListEnd end, int) { onListEnded(end); });
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
    m_next.errors = m_sample.errors;
    m_malformed = 0;
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
    m_session->requestList(Wire::GetListeners, std::nullopt, this);
}

void HostCollector::record(const Wire::SplitResult& record, QByteArrayView)
{
    if (!record.ok()) {
        ++m_malformed;
        return;
    }
    // A record of the other kind is not this list's: the window does not
    // count it either.
    if (m_phase == Phase::Listeners && record.kind == Wire::RecordKind::Listener) {
        const Wire::ListenerFields& f = record.listener;
        ListenerSample l;
        l.pin = f.pin.toByteArray();
        l.product = RecordDisplay::ProductName(f.product, f.productNumber);
        l.program = f.program.toByteArray();
        l.port = f.port.toByteArray();
        l.maxUsers = f.userLimitNumber;
        m_next.listeners.push_back(std::move(l));
    } else if (m_phase == Phase::Processes && record.kind == Wire::RecordKind::Process) {
        ListenerSample& l = m_next.listeners[m_listenerIndex];
        const Wire::ProcessFields& f = record.process;
        ++l.processes;
        l.cpuMs += f.cpuMs;
        if (m_withProcesses)
            m_next.processes.push_back(ProcessSample{l.pin, f.pin.toByteArray(),
                                                     f.user.toByteArray(), f.program.toByteArray(),
                                                     f.cpuMs});
    }
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

    if (m_phase == Phase::Listeners) {
        // A PIN names one listener; a host that lists one twice gets it
        // shown once, or its series would collide.
        QSet<QByteArray> seen;
        auto& listeners = m_next.listeners;
        listeners.erase(std::remove_if(listeners.begin(), listeners.end(),
                                       [&seen](const ListenerSample& l) {
                                           if (seen.contains(l.pin))
                                               return true;
                                           seen.insert(l.pin);
                                           return false;
                                       }),
                        listeners.end());
        if (listeners.empty())
            return finish(true);
        m_phase = Phase::Processes;
        m_listenerIndex = 0;
        // The session sends each request once the list before it has ended.
        for (const ListenerSample& l : listeners)
            m_session->requestList(Wire::GetProcesses, l.pin, this);
        return;
    }
    if (++m_listenerIndex < m_next.listeners.size())
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
    if (up && m_malformed > 0)
        ++m_next.errors[size_t(CollectError::MalformedRecord)];
    m_next.up = up;
    m_next.durationSeconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_sample = std::move(m_next);
    m_next = HostSample();
    m_phase = Phase::Idle;
    m_collecting = false;
    Q_EMIT finished();
}
