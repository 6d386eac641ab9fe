#include "session/HostSession.h"

#include "host_link/HostSocket.h"
#include "session/ListReader.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/ReadWait.h"
#include "session/SessionLink.h"
#include "session/SshTunnel.h"
#include "session/StepKeeper.h"
#include "session/WorkQueue.h"

#include <QMetaObject>

#include <algorithm>

HostSession::HostSession(QObject* parent)
    : QObject(parent), m_socket(new HostSocket(this)), m_tunnel(new SshTunnel(this)),
      m_listeners(new ListenerTableModel(this)), m_processes(new ProcessTableModel(this)),
      m_readWait(new ReadWait(this)),
      m_link(std::make_unique<SessionLink>(m_socket, m_tunnel, m_readWait)),
      m_reader(std::make_unique<ListReader>(m_listeners, m_processes)),
      m_keeper(std::make_unique<StepKeeper>())
{
    connect(m_readWait, &ReadWait::expired, this, &HostSession::advance);
    connect(m_socket, &HostSocket::readyRead, this, &HostSession::advance);
    connect(m_socket, &HostSocket::disconnected, this, [this] {
        setLinkState(LinkState::Disconnected);
        advance();
    });
    connect(m_socket, &HostSocket::connectFinished, this, [this](bool connected) {
        m_link->connectFinished(connected);
        advance();
    });
    connect(m_socket, &HostSocket::errorOccurred, this, &HostSession::socketError);
    connect(m_tunnel, &SshTunnel::ready, this, &HostSession::advance);
    connect(m_tunnel, &SshTunnel::message, this, &HostSession::tunnelError);
    connect(m_tunnel, &SshTunnel::failed, this, [this](const QString& text) {
        // An unknown key is offered first, its message told after; a
        // refused forward is told as the socket error it stands for.
        QPointer<HostSession> self(this);
        if (m_tunnel->unknownHostKey().isValid()) {
            const SshTunnel::HostKey key = m_tunnel->unknownHostKey();
            Q_EMIT unknownHostKey(m_tunnel->destination(), key.fingerprint, key.host, key.port);
            if (!self)
                return;
        }
        if (m_tunnel->errorCode() == 0)
            Q_EMIT tunnelError(text);
        advance();
    });
}

HostSession::~HostSession()
{
    // Nothing is told any more: whoever listened is going away with us.
    m_queue.drop();
    m_readWait->stop();
}

void HostSession::setSettings(const ConnectionSettings& settings)
{
    m_settings = settings;
}

void HostSession::setReplyTimeout(int seconds)
{
    m_replyTimeout = std::max(seconds, 0);
}

void HostSession::setLogonTimeout(int seconds)
{
    m_readTimeout = std::max(seconds, 0);
}

void HostSession::selectListener(const QByteArray& pin)
{
    m_selection.choose(pin);
}

bool HostSession::isConnected() const
{
    return m_link->isConnected();
}

bool HostSession::isReadingList() const
{
    if (!m_queue.hasWork() || m_queue.work().steps.empty() || m_queue.phase() != 1)
        return false;
    return m_queue.work().steps.front().isList();
}

void HostSession::connectToHost()
{
    enqueue(Work::connectAndList());
}

void HostSession::logOn()
{
    enqueue(Work::logOn());
}

void HostSession::refresh()
{
    // A refresh that still waits covers this one.
    if (m_queue.waits(WorkKind::Refresh, WorkKind::Refresh))
        return;
    enqueue(Work::refresh());
}

void HostSession::refreshNow()
{
    if (SessionWork* waiting = m_queue.waiting(WorkKind::Refresh)) {
        waiting->renewAtOnce = true;
        return;
    }
    enqueue(Work::refresh(true));
}

void HostSession::refreshProcesses()
{
    if (m_queue.waits(WorkKind::Refresh, WorkKind::Processes))
        return;
    enqueue(Work::refreshProcesses());
}

void HostSession::send(const HostCommand& command)
{
    if (command.kind != HostCommand::Kind::ShutdownJob) {
        enqueue(Work::command(command));
        return;
    }
    // The job ends: nothing that waits matters any more. The request has no
    // reply, so it may follow a list that is still coming. One that is not
    // to go out leaves the work as it was.
    if (!isConnected()) {
        dropWork();
        return;
    }
    if (const QString refused = m_recorder ? m_recorder(command) : QString(); !refused.isEmpty()) {
        Q_EMIT commandNotSent(command, refused);
        return;
    }
    dropWork();
    if (!isConnected())
        return;
    m_link->sendRequest(Wire::ShutdownJob);
    Q_EMIT commandSent(command);
}

void HostSession::setRenewalDelays(int firstMs, int maxMs)
{
    m_keeper->setDelays(firstMs, maxMs);
}

int HostSession::renewalDelayMs() const
{
    return m_keeper->delayMs();
}

int HostSession::renewalDueInMs() const
{
    return m_keeper->dueInMs();
}

bool HostSession::isOutOfStep() const
{
    return m_keeper->isOutOfStep();
}

void HostSession::requestList(char letter, const std::optional<QByteArray>& argument,
                              RecordSink* sink)
{
    enqueue(Work::list(letter, argument, sink));
}

void HostSession::quit()
{
    dropWork();
    abandonConnection(true);
    m_tunnel->stop();
}

void HostSession::disconnectFromHost()
{
    dropWork();
    abandonConnection(false);
    m_tunnel->stop();
}

void HostSession::endFailedLogon()
{
    if (m_linkState == LinkState::Disconnected && isConnected())
        m_link->abandon(true);
}

void HostSession::stopList()
{
    if (!isReadingList())
        return;
    // The operator wants the host left alone: a refresh or a count that
    // waits would log on again as soon as the Quit went out. A command
    // that waited is not sent either, and the operator is told so.
    for (const Work& dropped : m_queue.dropWaiting()) {
        for (const Step& step : dropped.steps) {
            if (step.kind != StepKind::Send)
                continue;
            const QString text =
                QStringLiteral("The command %1 was not sent: the list before it was stopped.")
                    .arg(step.command.name());
            m_notices.append(text);
            Q_EMIT commandNotSent(step.command, text);
        }
    }
    m_stopRequested = true;
    m_reader->stopPass();
    advance();
}

void HostSession::enqueue(Work work)
{
    m_queue.push(std::move(work));
    setBusy(true);
    scheduleAdvance();
}

void HostSession::scheduleAdvance()
{
    if (m_advanceQueued)
        return;
    m_advanceQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_advanceQueued = false;
            advance();
        },
        Qt::QueuedConnection);
}

void HostSession::dropWork()
{
    m_queue.drop();
    m_readWait->stop();
    m_reader->forgetSink();
    m_stopRequested = false;
    if (!m_advancing)
        setBusy(false);
}

void HostSession::advance()
{
    // A slot may run a modal dialog inside one of our signals, and socket
    // events reach us again from its loop: they are noted and handled once
    // the slot has returned.
    if (m_advancing) {
        m_advanceAgain = true;
        return;
    }
    QPointer<HostSession> self(this);
    m_advancing = true;
    do {
        m_advanceAgain = false;
        for (;;) {
            if (!m_queue.hasWork()) {
                if (!m_queue.takeNext())
                    break;
                m_notices.clear();
                m_reader->resetSkipped();
                m_loggedOnInWork = false;
                m_keeper->workBegins();
            }
            if (m_queue.work().steps.empty()) {
                finishWork();
                if (!self)
                    return;
                continue;
            }
            const quint64 generation = m_queue.generation();
            Step step = m_queue.work().steps.front();
            const Outcome outcome = runStep(step);
            if (!self)
                return;
            if (generation != m_queue.generation())
                continue; // the work was dropped meanwhile
            if (outcome == Outcome::Wait)
                break;
            m_queue.stepEnded(outcome == Outcome::Abort);
        }
    } while (m_advanceAgain);
    m_advancing = false;
    if (m_queue.isIdle())
        setBusy(false);
}

void HostSession::finishWork()
{
    const Work work = m_queue.finish();
    if (m_keeper->workEnds())
        Q_EMIT refreshSucceeded();
    if (work.lists || !m_notices.isEmpty()) {
        const QString skipped = m_reader->skippedText();
        if (!skipped.isEmpty())
            m_notices.append(skipped);
        Q_EMIT notices(m_notices);
    }
    if (work.connecting)
        Q_EMIT connectFinished(m_loggedOnInWork);
}

HostSession::Outcome HostSession::runStep(Step& step)
{
    switch (step.kind) {
    case StepKind::Connect:
        return connectStep();
    case StepKind::Logon:
        return logonStep();
    case StepKind::Progress:
        Q_EMIT logonProgress(step.number);
        return Outcome::Done;
    case StepKind::Renew:
        return renewStep();
    case StepKind::Send:
        return sendStep(step);
    case StepKind::ListListeners:
    case StepKind::ListProcesses:
    case StepKind::ListToSink:
        return listStep(step);
    }
    return Outcome::Abort;
}

HostSession::Outcome HostSession::connectStep()
{
    if (m_queue.phase() == 0) {
        if (m_settings.HostAddress.isEmpty()) {
            Q_EMIT logonFailed(LogonResult::NoHost);
            return Outcome::Abort;
        }
        m_link->prepare(m_settings, m_readTimeout);
        setLinkState(LinkState::Connecting);
    }
    switch (m_link->connect(m_settings, m_readTimeout, m_queue.phase())) {
    case SessionLink::Progress::Wait:
        return Outcome::Wait;
    case SessionLink::Progress::Done:
        return Outcome::Done;
    case SessionLink::Progress::Failed:
        break;
    }
    setLinkState(LinkState::Disconnected);
    Q_EMIT logonFailed(LogonResult::NotConnected);
    connectionLost();
    return Outcome::Abort;
}

HostSession::Outcome HostSession::logonStep()
{
    if (m_queue.phase() == 0)
        setLinkState(LinkState::LoggingOn);
    const std::optional<Wire::LogonReply> reply = m_link->logon(m_readTimeout, m_queue.phase());
    if (!reply)
        return Outcome::Wait;
    switch (*reply) {
    case Wire::LogonReply::Accepted: {
        const bool renewed = m_keeper->loggedOn();
        m_loggedOnInWork = true;
        setLinkState(LinkState::LoggedOn);
        if (renewed)
            m_notices.append(renewedNotice());
        return Outcome::Done;
    }
    case Wire::LogonReply::Refused:
        setLinkState(LinkState::Disconnected);
        Q_EMIT logonFailed(LogonResult::Refused);
        break;
    case Wire::LogonReply::Failed:
        setLinkState(LinkState::Disconnected);
        Q_EMIT logonFailed(LogonResult::Failed);
        break;
    }
    connectionLost();
    return Outcome::Abort;
}

void HostSession::connectionLost()
{
    if (!m_keeper->renewalFailed())
        return;
    // A renewal that failed: the connection is not logged on, so nothing
    // more may be asked of it. A host that refused the logon still holds it
    // open; it is ended as a refused first logon is.
    if (isConnected())
        abandonConnection(true);
    tablesLost(false);
    m_notices.append(QStringLiteral(
        "The connection could not be renewed; use File, Configure to connect again."));
}

HostSession::Outcome HostSession::renewStep()
{
    if (!m_keeper->isOutOfStep())
        return Outcome::Done;
    // Automatic work waits out the time planned at the fault and is dropped
    // until then.
    std::deque<Step>& steps = m_queue.work().steps;
    if (!m_keeper->mayRenew(m_queue.work().renewAtOnce)) {
        if (steps.size() > 1 && steps[1].kind == StepKind::ListToSink)
            Q_EMIT listEnded(ListEnd::NotConnected, 0);
        return Outcome::Abort;
    }
    // The old session is ended with Quit and a fresh logon made on the same
    // settings; the request that went unanswered is not sent again.
    m_keeper->renewalBegins();
    abandonConnection(true);
    steps.insert(steps.begin() + 1, Step{StepKind::Logon});
    steps.insert(steps.begin() + 1, Step{StepKind::Connect});
    return Outcome::Done;
}

void HostSession::abandonConnection(bool sendQuit)
{
    m_link->abandon(sendQuit);
    setLinkState(LinkState::Disconnected);
}

QString HostSession::checkRequest(const std::optional<QByteArray>& argument)
{
    if (!argument || argument->size() <= Wire::MaxBody)
        return QString();
    return QStringLiteral("The request is %1 bytes long, but a request can carry at most %2 "
                          "bytes. Nothing was sent.")
        .arg(argument->size())
        .arg(Wire::MaxBody);
}

HostSession::Outcome HostSession::sendStep(const Step& step)
{
    if (!isConnected())
        return Outcome::Done;
    // A body the header cannot announce never reaches the host, not even
    // its letter.
    const QString refused = checkRequest(step.argument);
    if (!refused.isEmpty()) {
        m_notices.append(refused);
        return Outcome::Done;
    }
    if (const QString refused = m_recorder ? m_recorder(step.command) : QString();
        !refused.isEmpty()) {
        m_notices.append(refused);
        Q_EMIT commandNotSent(step.command, refused);
        return Outcome::Done;
    }
    // The recorder may have shown a dialog meanwhile.
    if (!isConnected())
        return Outcome::Done;
    m_link->sendRequest(step.letter, step.argument);
    Q_EMIT commandSent(step.command);
    return Outcome::Done;
}

HostSession::Outcome HostSession::listStep(Step& step)
{
    if (m_queue.phase() == 0) {
        if (step.kind == StepKind::ListListeners) {
            if (!isConnected()) {
                tablesLost(false);
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            m_link->sendRequest(Wire::GetListeners);
            m_reader->begin(ListReader::Target::Listeners, nullptr, m_recordCap);
        } else if (step.kind == StepKind::ListProcesses) {
            if (!isConnected() || m_selection.pin().isEmpty()) {
                if (isConnected()) {
                    m_processes->clearRows();
                    Q_EMIT tableListEnded(ListEnd::NoSelection, false);
                } else {
                    tablesLost(true);
                }
                Q_EMIT processesChanged();
                Q_EMIT listEnded(isConnected() ? ListEnd::NoSelection : ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            const QByteArray pin = m_selection.pin();
            m_link->sendRequest(Wire::GetProcesses, pin);
            Q_EMIT processListRequested(pin);
            m_reader->begin(ListReader::Target::Processes, nullptr, m_recordCap);
        } else {
            if (!isConnected()) {
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            m_link->sendRequest(step.letter, step.argument);
            m_reader->begin(ListReader::Target::Sink, step.sink, m_recordCap);
        }
        // Every read of a reply waits the reply time-out from now on, the
        // logon of a later connection too.
        m_readTimeout = m_replyTimeout;
        m_stopRequested = false;
        m_queue.phase() = 1;
    }

    if (const std::optional<ListEnd> end = m_link->readList(*m_reader, m_stopRequested))
        return finishList(*end);
    if (m_reader->progressDue())
        Q_EMIT listProgress(m_reader->records());
    m_readWait->arm(m_readTimeout);
    return Outcome::Wait;
}

HostSession::Outcome HostSession::finishList(ListEnd end)
{
    const int records = m_reader->records();
    m_reader->finish(end == ListEnd::Complete);
    if (m_reader->target() == ListReader::Target::Listeners) {
        // Rows read up to a drop are as old as the drop.
        m_listeners->setStale(m_keepRows && !isConnected());
        m_selection.listed(*m_listeners, end == ListEnd::Complete);
        Q_EMIT tableListEnded(end, true);
        Q_EMIT listenersChanged();
    } else if (m_reader->target() == ListReader::Target::Processes) {
        m_processes->setStale(m_keepRows && !isConnected());
        Q_EMIT tableListEnded(end, false);
        Q_EMIT processesChanged();
    }

    // The host is still sending a list cut off here: the connection is
    // ended now and renewed before the next exchange.
    if (end == ListEnd::TooManyRecords || end == ListEnd::Stopped)
        abandonConnection(true);
    if (const std::optional<StepKeeper::Plan> plan = m_keeper->listEnded(end))
        Q_EMIT renewalPlanned(plan->delayMs, plan->reason);
    const QString text = listEndText(end, records, m_recordCap);
    // A stop is told before the commands it kept from going out.
    if (!text.isEmpty() && !m_notices.contains(text))
        m_notices.insert(end == ListEnd::Stopped ? 0 : m_notices.size(), text);
    Q_EMIT listEnded(end, records);
    return end == ListEnd::Stopped ? Outcome::Abort : Outcome::Done;
}

QString HostSession::renewedNotice()
{
    return QStringLiteral("The connection was renewed after the host fell out of step.");
}

QString HostSession::listEndText(ListEnd end, int records, int cap)
{
    return ListReader::endText(end, records, cap);
}

void HostSession::setLinkState(LinkState state)
{
    if (state == m_linkState)
        return;
    m_linkState = state;
    if (state == LinkState::Disconnected && m_keepRows) {
        // What is on screen was read while the link was up: it stays, marked.
        m_listeners->setStale(true);
        m_processes->setStale(true);
    }
    Q_EMIT linkStateChanged(state);
}

void HostSession::tablesLost(bool processesOnly)
{
    if (m_keepRows) {
        m_listeners->setStale(true);
        m_processes->setStale(true);
        return;
    }
    if (!processesOnly) {
        m_listeners->clearRows();
        Q_EMIT listenersChanged();
    }
    m_processes->clearRows();
    if (!processesOnly)
        Q_EMIT processesChanged();
}

void HostSession::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged(busy);
}
