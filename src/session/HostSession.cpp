#include "session/HostSession.h"

#include "host_link/HostSocket.h"
#include "session/ListReader.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/ReadWait.h"
#include "session/SshTunnel.h"

#include <QFile>
#include <QLocale>
#include <QMetaObject>

#include <algorithm>

HostSession::HostSession(QObject* parent)
    : QObject(parent), m_socket(new HostSocket(this)), m_tunnel(new SshTunnel(this)),
      m_listeners(new ListenerTableModel(this)), m_processes(new ProcessTableModel(this)),
      m_readWait(new ReadWait(this)),
      m_reader(std::make_unique<ListReader>(m_listeners, m_processes))
{
    connect(m_readWait, &ReadWait::expired, this, &HostSession::advance);
    connect(m_socket, &HostSocket::readyRead, this, &HostSession::advance);
    connect(m_socket, &HostSocket::disconnected, this, [this] {
        setLinkState(LinkState::Disconnected);
        advance();
    });
    connect(m_socket, &HostSocket::connectFinished, this, [this](bool connected) {
        m_connectDone = true;
        m_connectResult = connected;
        advance();
    });
    connect(m_socket, &HostSocket::errorOccurred, this, &HostSession::socketError);
    connect(m_tunnel, &SshTunnel::ready, this, &HostSession::advance);
    connect(m_tunnel, &SshTunnel::message, this, &HostSession::tunnelError);
    connect(m_tunnel, &SshTunnel::failed, this, [this](const QString& text) {
        Q_EMIT tunnelError(text);
        advance();
    });
}

HostSession::~HostSession()
{
    // Nothing is told any more: whoever listened is going away with us.
    ++m_generation;
    m_queue.clear();
    m_work = Work();
    m_working = false;
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
    m_selectedPin = pin;
    m_selectionChosen = true;
}

bool HostSession::isConnected() const
{
    return m_socket->state() == HostSocket::SocketState::Connected;
}

bool HostSession::isReadingList() const
{
    if (!m_working || m_work.steps.empty() || m_phase != 1)
        return false;
    return m_work.steps.front().isList();
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
    for (const Work& waiting : m_queue)
        if (waiting.kind == WorkKind::Refresh)
            return;
    enqueue(Work::refresh());
}

void HostSession::refreshProcesses()
{
    for (const Work& waiting : m_queue)
        if (waiting.kind == WorkKind::Refresh || waiting.kind == WorkKind::Processes)
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
    sendFrame(QByteArrayView(&Wire::ShutdownJob, 1));
    Q_EMIT commandSent(command);
}

void HostSession::setRenewalDelays(int firstMs, int maxMs)
{
    m_renewal.setDelays(firstMs, maxMs);
}

int HostSession::renewalDueInMs() const
{
    return m_renewal.leftMs();
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

void HostSession::stopList()
{
    if (!isReadingList())
        return;
    m_stopRequested = true;
    m_reader->stopPass();
    advance();
}

void HostSession::enqueue(Work work)
{
    m_queue.push_back(std::move(work));
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
    ++m_generation;
    m_queue.clear();
    m_work = Work();
    m_working = false;
    m_phase = 0;
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
            if (!m_working) {
                if (m_queue.empty())
                    break;
                m_work = std::move(m_queue.front());
                m_queue.pop_front();
                m_working = true;
                m_phase = 0;
                m_notices.clear();
                m_reader->resetSkipped();
                m_loggedOnInWork = false;
                m_listWholeInWork = false;
                m_listFaultInWork = false;
            }
            if (m_work.steps.empty()) {
                finishWork();
                if (!self)
                    return;
                continue;
            }
            const quint64 generation = m_generation;
            Step step = m_work.steps.front();
            const Outcome outcome = runStep(step);
            if (!self)
                return;
            if (generation != m_generation)
                continue; // the work was dropped meanwhile
            if (outcome == Outcome::Wait)
                break;
            m_phase = 0;
            if (outcome == Outcome::Done && !m_work.steps.empty())
                m_work.steps.pop_front();
            else if (outcome == Outcome::Abort)
                m_work.steps.clear();
        }
    } while (m_advanceAgain);
    m_advancing = false;
    if (!m_working && m_queue.empty())
        setBusy(false);
}

void HostSession::finishWork()
{
    const Work work = std::move(m_work);
    m_work = Work();
    m_working = false;
    if (m_listWholeInWork && !m_listFaultInWork && m_renewal.delayMs() != 0) {
        // A good refresh: the next fault is renewed after the first delay.
        m_renewal.reset();
    }
    if (m_listWholeInWork && !m_listFaultInWork)
        Q_EMIT refreshSucceeded();
    if (work.lists) {
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
    if (m_phase == 0) {
        if (m_settings.HostAddress.isEmpty()) {
            Q_EMIT logonFailed(LogonResult::NoHost);
            return Outcome::Abort;
        }
        m_socket->setHostAddress(m_settings.HostAddress);
        m_socket->setPort(QByteArray::number(m_settings.Port));
        const QByteArray* fields[7] = {&m_settings.User,      &m_settings.UserPassword,
                                       &m_settings.Group,     &m_settings.GroupPassword,
                                       &m_settings.Account,   &m_settings.AccountPassword,
                                       &m_settings.LogonExtra};
        std::array<QByteArray, 7> logon;
        for (int i = 0; i < 7; ++i)
            logon[std::size_t(i)] = fields[i]->left(Wire::LogonFieldLength);
        m_socket->setLogon(logon, 1);
        m_socket->setAuthorized(true);
        m_socket->setReadTimeout(m_readTimeout);
        m_connectDone = false;
        m_connectResult = false;
        setLinkState(LinkState::Connecting);
    }
    if (m_phase == 0 || m_phase == 2) {
        // Through an SSH tunnel the socket connects once the tunnel is ready.
        m_phase = tunnelStep();
        if (m_phase == 2)
            return Outcome::Wait;
        if (m_phase == 1)
            m_socket->connectToHost();
        else
            m_connectDone = true; // the tunnel failed; its message went out
    }
    if (!m_connectDone)
        return Outcome::Wait;
    if (!m_connectResult) {
        setLinkState(LinkState::Disconnected);
        Q_EMIT logonFailed(LogonResult::NotConnected);
        connectionLost();
        return Outcome::Abort;
    }
    return Outcome::Done;
}

int HostSession::tunnelStep()
{
    // 1: connect the socket now; 2: wait for the tunnel; 3: the tunnel failed.
    const QString& destination = m_settings.SshDestination;
    if (destination.isEmpty()) {
        m_socket->setUnixPath({});
        return 1;
    }
    const QByteArray& host = m_settings.HostAddress;
    const quint16 port = m_settings.Port;
    if (m_phase != 2 && !m_tunnel->isReadyFor(destination, host, port))
        m_tunnel->start(destination, host, port, m_readTimeout);
    switch (m_tunnel->state()) {
    case SshTunnel::State::Ready:
        m_socket->setUnixPath(QFile::encodeName(m_tunnel->socketPath()));
        return 1;
    case SshTunnel::State::Starting:
        return 2;
    case SshTunnel::State::Idle:
    case SshTunnel::State::Failed:
        break;
    }
    return 3;
}

HostSession::Outcome HostSession::logonStep()
{
    if (m_phase == 0) {
        setLinkState(LinkState::LoggingOn);
        // The kind and the record go out as two unframed texts.
        const QByteArray bytes = Wire::logonBytes(m_socket->logonKind(), m_socket->logonFields());
        const qsizetype kindLength = bytes.size() - Wire::LogonRecordLength;
        m_socket->SendText(QByteArrayView(bytes).first(kindLength));
        m_socket->SendText(QByteArrayView(bytes).sliced(kindLength));
        m_phase = 1;
    }
    QByteArray reply;
    const QByteArrayView buffered = m_socket->buffered();
    if (!buffered.isEmpty()) {
        reply = buffered.first(1).toByteArray();
        m_socket->consume(1);
        m_readWait->completed();
    } else if (!isConnected()) {
        // Closed before it answered: no reply.
    } else if (m_readWait->takeExpired()) {
        m_socket->ReportError(10060);
    } else {
        m_readWait->arm(m_readTimeout);
        return Outcome::Wait;
    }

    switch (Wire::parseLogonReply(reply)) {
    case Wire::LogonReply::Accepted:
        m_outOfStep = false;
        m_loggedOnInWork = true;
        setLinkState(LinkState::LoggedOn);
        if (m_renewing) {
            m_renewing = false;
            m_notices.append(renewedNotice());
        }
        return Outcome::Done;
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
    if (!m_renewing)
        return;
    // A renewal that failed: the connection is not logged on, so nothing
    // more may be asked of it. A host that refused the logon still holds it
    // open; it is ended as a refused first logon is.
    m_renewing = false;
    if (isConnected())
        abandonConnection(true);
    tablesLost(false);
    m_notices.append(QStringLiteral(
        "The connection could not be renewed; use File, Configure to connect again."));
}

HostSession::Outcome HostSession::renewStep()
{
    if (!m_outOfStep)
        return Outcome::Done;
    // A host that faults every list would otherwise be logged on to again
    // at every refresh: automatic work waits out the back-off planned at the
    // fault and is dropped until then. An operator's command renews at once.
    if (!m_work.commands && renewalDueInMs() > 0) {
        if (m_work.steps.size() > 1 && m_work.steps[1].kind == StepKind::ListToSink)
            Q_EMIT listEnded(ListEnd::NotConnected, 0);
        return Outcome::Abort;
    }
    // The protocol has no request ids: after a lost, late or cut-short reply
    // the next reply read could answer an earlier request. The old session
    // is ended with Quit and a fresh logon made on the same settings; the
    // request that went unanswered is not sent again.
    m_outOfStep = false;
    m_renewing = true;
    abandonConnection(true);
    m_work.steps.insert(m_work.steps.begin() + 1, Step{StepKind::Logon});
    m_work.steps.insert(m_work.steps.begin() + 1, Step{StepKind::Connect});
    return Outcome::Done;
}

void HostSession::abandonConnection(bool sendQuit)
{
    if (sendQuit && isConnected())
        sendFrame(QByteArrayView(&Wire::Quit, 1));
    m_socket->Disconnect();
    m_socket->ClearBuffer();
    setLinkState(LinkState::Disconnected);
}

void HostSession::sendFrame(QByteArrayView body)
{
    // Whatever is unread belongs to earlier requests: it is taken from the
    // system and dropped, so the next read finds only this request's reply.
    m_socket->readPending();
    m_socket->ClearBuffer();
    if (!isConnected())
        return;
    if (const std::optional<QByteArray> frame = Wire::frame(body))
        m_socket->SendText(*frame);
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
    sendFrame(QByteArrayView(&step.letter, 1));
    if (step.argument)
        sendFrame(*step.argument);
    Q_EMIT commandSent(step.command);
    return Outcome::Done;
}

HostSession::Outcome HostSession::listStep(Step& step)
{
    if (m_phase == 0) {
        if (step.kind == StepKind::ListListeners) {
            if (!isConnected()) {
                tablesLost(false);
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&Wire::GetListeners, 1));
            m_reader->begin(ListReader::Target::Listeners, nullptr, m_recordCap);
        } else if (step.kind == StepKind::ListProcesses) {
            if (!isConnected() || m_selectedPin.isEmpty()) {
                if (isConnected())
                    m_processes->clearRows();
                else
                    tablesLost(true);
                Q_EMIT processesChanged();
                Q_EMIT listEnded(isConnected() ? ListEnd::NoSelection : ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&Wire::GetProcesses, 1));
            sendFrame(m_selectedPin);
            m_listPin = m_selectedPin;
            Q_EMIT processListRequested(m_listPin);
            m_reader->begin(ListReader::Target::Processes, nullptr, m_recordCap);
        } else {
            if (!isConnected()) {
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&step.letter, 1));
            if (step.argument)
                sendFrame(*step.argument);
            m_reader->begin(ListReader::Target::Sink, step.sink, m_recordCap);
        }
        // Every read of a reply waits the reply time-out from now on, the
        // logon of a later connection too.
        m_readTimeout = m_replyTimeout;
        m_stopRequested = false;
        m_phase = 1;
    }

    for (;;) {
        if (m_stopRequested)
            return finishList(ListEnd::Stopped);
        const ListReader::Frame frame = m_reader->takeFrame(*m_socket);
        if (frame != ListReader::Frame::Incomplete)
            m_readWait->completed(); // the next read waits afresh
        switch (frame) {
        case ListReader::Frame::Header:
        case ListReader::Frame::Record:
            continue;
        case ListReader::Frame::End:
            return finishList(ListEnd::Complete);
        case ListReader::Frame::BadHeader:
            return finishList(ListEnd::BadHeader);
        case ListReader::Frame::TooManyRecords:
            return finishList(ListEnd::TooManyRecords);
        case ListReader::Frame::Incomplete:
            break;
        }
        // The bytes of this read are not all here.
        if (!isConnected())
            return finishList(ListEnd::Closed);
        if (m_readWait->takeExpired()) {
            m_socket->ReportError(10060);
            return finishList(ListEnd::TimedOut);
        }
        if (m_reader->progressDue())
            Q_EMIT listProgress(m_reader->records());
        m_readWait->arm(m_readTimeout);
        return Outcome::Wait;
    }
}

HostSession::Outcome HostSession::finishList(ListEnd end)
{
    const int records = m_reader->records();
    m_reader->finish();
    if (m_reader->target() == ListReader::Target::Listeners) {
        // Rows read up to a drop are as old as the drop.
        m_listeners->setStale(m_keepRows && !isConnected());
        if (!m_selectionChosen) {
            // Before any choice, the first listener listed is the one whose
            // processes are shown.
            if (m_listeners->rows() > 0) {
                m_selectedPin = m_listeners->cell(0, ListenerColumn::Pin).toByteArray();
                m_selectionChosen = true;
            }
        } else if (end == ListEnd::Complete && !m_selectedPin.isEmpty() &&
                   m_listeners->findPin(m_selectedPin) < 0) {
            // The chosen listener is gone: nothing is selected, and no
            // other listener's processes are shown in its place. (A list cut
            // short may only have missed it.)
            m_selectedPin.clear();
        }
        Q_EMIT listenersChanged();
    } else if (m_reader->target() == ListReader::Target::Processes) {
        m_processes->setStale(m_keepRows && !isConnected());
        Q_EMIT processesChanged();
    }

    switch (end) {
    case ListEnd::Complete:
        m_listWholeInWork = true;
        break;
    case ListEnd::NotConnected:
    case ListEnd::NoSelection:
        break;
    case ListEnd::TimedOut:
    case ListEnd::BadHeader:
    case ListEnd::Closed:
        m_outOfStep = true;
        planRenewal(end);
        break;
    case ListEnd::TooManyRecords:
    case ListEnd::Stopped:
        // The host is still sending this list: the connection is ended now
        // and renewed before the next exchange.
        abandonConnection(true);
        m_outOfStep = true;
        if (end == ListEnd::TooManyRecords)
            planRenewal(end);
        break;
    }
    const QString text = listEndText(end, records, m_recordCap);
    if (!text.isEmpty() && !m_notices.contains(text))
        m_notices.append(text);
    Q_EMIT listEnded(end, records);
    return end == ListEnd::Stopped ? Outcome::Abort : Outcome::Done;
}

void HostSession::planRenewal(ListEnd end)
{
    m_listFaultInWork = true;
    const int delayMs = m_renewal.next();
    QString reason;
    switch (end) {
    case ListEnd::TimedOut:
        reason = QStringLiteral("no reply in time");
        break;
    case ListEnd::BadHeader:
        reason = QStringLiteral("bad reply header");
        break;
    case ListEnd::TooManyRecords:
        reason = QStringLiteral("list too long");
        break;
    default:
        reason = QStringLiteral("list cut short");
        break;
    }
    Q_EMIT renewalPlanned(delayMs, reason);
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
