#include "session/HostSession.h"

#include "host_link/HostSocket.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QLocale>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// A list this long shows its progress; shorter ones come and go unseen.
constexpr int ProgressStep = 2000;

} // namespace

HostSession::HostSession(QObject* parent)
    : QObject(parent), m_socket(new THostSocket(this)), m_listeners(new ListenerTableModel(this)),
      m_processes(new ProcessTableModel(this)), m_readTimer(new QTimer(this))
{
    m_readTimer->setSingleShot(true);
    m_readTimer->setTimerType(Qt::PreciseTimer);
    m_timerSerial = std::numeric_limits<quint64>::max();
    connect(m_readTimer, &QTimer::timeout, this, [this] {
        // Only the read the timer was started for can time out; a read that
        // completed since has moved the serial on.
        if (m_timerSerial != m_readSerial)
            return;
        m_readExpired = true;
        advance();
    });
    connect(m_socket, &THostSocket::readyRead, this, &HostSession::advance);
    connect(m_socket, &THostSocket::disconnected, this, [this] {
        setLinkState(LinkState::Disconnected);
        advance();
    });
    connect(m_socket, &THostSocket::connectFinished, this, [this](bool connected) {
        m_connectDone = true;
        m_connectResult = connected;
        advance();
    });
    connect(m_socket, &THostSocket::errorOccurred, this, &HostSession::socketError);
}

HostSession::~HostSession()
{
    // Nothing is told any more: whoever listened is going away with us.
    ++m_generation;
    m_queue.clear();
    m_work = Work();
    m_working = false;
    m_readTimer->stop();
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
    return m_socket->State() == hsConnected;
}

bool HostSession::isReadingList() const
{
    if (!m_working || m_work.steps.empty() || m_phase != 1)
        return false;
    const StepKind kind = m_work.steps.front().kind;
    return kind == StepKind::ListListeners || kind == StepKind::ListProcesses ||
           kind == StepKind::ListToSink;
}

// ---------------------------------------------------------------------------
// Work
// ---------------------------------------------------------------------------

void HostSession::connectToHost()
{
    Work work;
    work.connecting = true;
    work.lists = true;
    work.steps = {{StepKind::Connect},  {StepKind::Logon},         {StepKind::Progress, 1},
                  {StepKind::Renew},    {StepKind::ListListeners}, {StepKind::Progress, 2},
                  {StepKind::Renew},    {StepKind::ListProcesses}, {StepKind::Progress, 3}};
    enqueue(std::move(work));
}

void HostSession::logOn()
{
    Work work;
    work.connecting = true;
    work.steps = {{StepKind::Connect}, {StepKind::Logon}};
    enqueue(std::move(work));
}

void HostSession::refresh()
{
    // A refresh that still waits covers this one.
    for (const Work& waiting : m_queue)
        if (waiting.kind == WorkKind::Refresh)
            return;
    Work work;
    work.kind = WorkKind::Refresh;
    work.lists = true;
    work.steps = {{StepKind::Renew},
                  {StepKind::ListListeners},
                  {StepKind::Renew},
                  {StepKind::ListProcesses}};
    enqueue(std::move(work));
}

void HostSession::refreshProcesses()
{
    for (const Work& waiting : m_queue)
        if (waiting.kind == WorkKind::Refresh || waiting.kind == WorkKind::Processes)
            return;
    Work work;
    work.kind = WorkKind::Processes;
    work.lists = true;
    work.steps = {{StepKind::Renew}, {StepKind::ListProcesses}};
    enqueue(std::move(work));
}

void HostSession::sendRequest(char letter, const std::optional<QByteArray>& argument,
                              bool thenRefresh)
{
    Work work;
    work.lists = thenRefresh;
    Step send{StepKind::Send};
    send.letter = letter;
    send.argument = argument;
    work.steps = {{StepKind::Renew}, send};
    if (thenRefresh) {
        work.steps.push_back({StepKind::Renew});
        work.steps.push_back({StepKind::ListListeners});
        work.steps.push_back({StepKind::Renew});
        work.steps.push_back({StepKind::ListProcesses});
    }
    enqueue(std::move(work));
}

void HostSession::startListener(const QByteArray& argument)
{
    sendRequest(Wire::StartListener, argument, true);
}

void HostSession::killListener(const QByteArray& pin)
{
    sendRequest(Wire::Kill, Wire::killListenerArgument(pin), true);
}

void HostSession::killProcess(const QByteArray& mainPin, const QByteArray& pin)
{
    sendRequest(Wire::Kill, Wire::killProcessArgument(mainPin, pin), true);
}

void HostSession::setPriority(const QByteArray& pin, int queueCode)
{
    sendRequest(Wire::SetPriority, Wire::setPriorityArgument(pin, queueCode), true);
}

void HostSession::shutdownJob()
{
    // The job ends: nothing that waits matters any more. The request has no
    // reply, so it may follow a list that is still coming.
    dropWork();
    if (!isConnected())
        return;
    sendFrame(QByteArrayView(&Wire::ShutdownJob, 1));
    Q_EMIT commandSent(Wire::ShutdownJob, QByteArray());
}

void HostSession::requestList(char letter, const std::optional<QByteArray>& argument,
                              RecordSink* sink)
{
    Work work;
    Step list{StepKind::ListToSink};
    list.letter = letter;
    list.argument = argument;
    list.sink = sink;
    work.steps = {{StepKind::Renew}, list};
    enqueue(std::move(work));
}

void HostSession::quit()
{
    dropWork();
    abandonConnection(true);
}

void HostSession::disconnectFromHost()
{
    dropWork();
    abandonConnection(false);
}

void HostSession::stopList()
{
    if (!isReadingList())
        return;
    m_stopRequested = true;
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
    m_readTimer->stop();
    m_listSink = nullptr;
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
                m_skipped = 0;
                m_firstSkip.clear();
                m_loggedOnInWork = false;
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
    if (work.lists) {
        if (m_skipped == 1)
            m_notices.append(QStringLiteral("1 record skipped: %1").arg(m_firstSkip));
        else if (m_skipped > 1)
            m_notices.append(QStringLiteral("%1 records skipped, the first: %2")
                                 .arg(m_skipped)
                                 .arg(m_firstSkip));
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

// ---------------------------------------------------------------------------
// Connection and logon
// ---------------------------------------------------------------------------

HostSession::Outcome HostSession::connectStep()
{
    if (m_phase == 0) {
        if (m_settings.HostAddress.isEmpty()) {
            Q_EMIT logonFailed(LogonResult::NoHost);
            return Outcome::Abort;
        }
        m_socket->HostAddress = m_settings.HostAddress;
        m_socket->Port = QByteArray::number(m_settings.Port);
        const QByteArray* fields[7] = {&m_settings.User,         &m_settings.UserPassword,
                                       &m_settings.Group,        &m_settings.GroupPassword,
                                       &m_settings.Account,      &m_settings.AccountPassword,
                                       &m_settings.LogonExtra};
        for (int i = 0; i < 7; ++i)
            m_socket->LogonFields[std::size_t(i)] = fields[i]->left(Wire::LogonFieldLength);
        m_socket->LogonKind = 1;
        m_socket->Authorized = true;
        m_socket->ReadTimeout = m_readTimeout;
        m_connectDone = false;
        m_connectResult = false;
        m_phase = 1;
        setLinkState(LinkState::Connecting);
        m_socket->connectToHost();
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

HostSession::Outcome HostSession::logonStep()
{
    if (m_phase == 0) {
        setLinkState(LinkState::LoggingOn);
        // The kind and the record go out as two unframed texts.
        const QByteArray bytes = Wire::logonBytes(m_socket->LogonKind, m_socket->LogonFields);
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
        ++m_readSerial;
    } else if (!isConnected()) {
        // Closed before it answered: no reply.
    } else if (m_readExpired) {
        m_readExpired = false;
        ++m_readSerial;
        m_socket->ReportError(10060);
    } else {
        armRead();
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
    m_listeners->clearRows();
    m_processes->clearRows();
    Q_EMIT listenersChanged();
    Q_EMIT processesChanged();
    m_notices.append(QStringLiteral(
        "The connection could not be renewed; use File, Configure to connect again."));
}

HostSession::Outcome HostSession::renewStep()
{
    if (!m_outOfStep)
        return Outcome::Done;
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

// ---------------------------------------------------------------------------
// Requests and lists
// ---------------------------------------------------------------------------

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
    sendFrame(QByteArrayView(&step.letter, 1));
    if (step.argument)
        sendFrame(*step.argument);
    Q_EMIT commandSent(step.letter, step.argument.value_or(QByteArray()));
    return Outcome::Done;
}

bool HostSession::armRead()
{
    if (m_timerSerial == m_readSerial && m_readTimer->isActive())
        return false;
    m_timerSerial = m_readSerial;
    m_readExpired = false;
    m_readTimer->start(int(std::min<qint64>((qint64(m_readTimeout) + 1) * 1000,
                                            std::numeric_limits<int>::max())));
    return true;
}

HostSession::Outcome HostSession::listStep(Step& step)
{
    if (m_phase == 0) {
        if (step.kind == StepKind::ListListeners) {
            if (!isConnected()) {
                m_listeners->clearRows();
                m_processes->clearRows();
                Q_EMIT listenersChanged();
                Q_EMIT processesChanged();
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&Wire::GetListeners, 1));
            m_listeners->beginFill();
        } else if (step.kind == StepKind::ListProcesses) {
            if (!isConnected() || m_selectedPin.isEmpty()) {
                m_processes->clearRows();
                Q_EMIT processesChanged();
                Q_EMIT listEnded(isConnected() ? ListEnd::NoSelection : ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&Wire::GetProcesses, 1));
            sendFrame(m_selectedPin);
            m_listPin = m_selectedPin;
            Q_EMIT processListRequested(m_listPin);
            m_processes->setDecimalSeparator(QLocale().decimalPoint().at(0).toLatin1());
            m_processes->beginFill();
        } else {
            if (!isConnected()) {
                Q_EMIT listEnded(ListEnd::NotConnected, 0);
                return Outcome::Done;
            }
            sendFrame(QByteArrayView(&step.letter, 1));
            if (step.argument)
                sendFrame(*step.argument);
            m_listSink = step.sink;
        }
        // Every read of a reply waits the reply time-out from now on, the
        // logon of a later connection too.
        m_readTimeout = m_replyTimeout;
        m_listKind = step.kind;
        m_listRecords = 0;
        m_progressShown = 0;
        m_bodyLength = -1;
        m_stopRequested = false;
        m_phase = 1;
    }

    for (;;) {
        if (m_stopRequested)
            return finishList(ListEnd::Stopped);
        const QByteArrayView buffered = m_socket->buffered();
        if (m_bodyLength < 0) {
            if (buffered.size() >= Wire::HeaderLength) {
                const std::optional<int> length =
                    Wire::parseHeader(buffered.first(Wire::HeaderLength));
                m_socket->consume(Wire::HeaderLength);
                ++m_readSerial;
                if (!length)
                    return finishList(ListEnd::BadHeader);
                if (*length == 0)
                    return finishList(ListEnd::Complete);
                // A list of exactly the cap still ends normally; one record
                // more does not.
                if (m_listRecords >= m_recordCap)
                    return finishList(ListEnd::TooManyRecords);
                m_bodyLength = *length;
                continue;
            }
        } else if (buffered.size() >= m_bodyLength) {
            takeRecord(buffered.first(m_bodyLength));
            m_socket->consume(m_bodyLength);
            ++m_readSerial;
            ++m_listRecords;
            m_bodyLength = -1;
            continue;
        }
        // The bytes of this read are not all here.
        if (!isConnected())
            return finishList(ListEnd::Closed);
        if (m_readExpired) {
            m_readExpired = false;
            ++m_readSerial;
            m_socket->ReportError(10060);
            return finishList(ListEnd::TimedOut);
        }
        if (m_listRecords - m_progressShown >= ProgressStep) {
            m_progressShown = m_listRecords;
            Q_EMIT listProgress(m_listRecords);
        }
        armRead();
        return Outcome::Wait;
    }
}

void HostSession::takeRecord(QByteArrayView body)
{
    const Wire::SplitResult record = Wire::splitRecord(body);
    if (m_listKind == StepKind::ListToSink) {
        if (m_listSink)
            m_listSink->record(record, body);
        return;
    }
    if (!record.ok()) {
        // Skipped and counted; the rows around it are placed and the list is
        // read to its end, so the replies stay in step.
        if (m_skipped++ == 0)
            m_firstSkip = Wire::errorText(record);
        return;
    }
    // Records go by their first character, whatever was asked: a listener
    // in a process list joins the listener table. A process in the listener
    // list is not kept: the process list that follows replaces that table.
    if (record.kind == Wire::RecordKind::Listener) {
        if (m_listKind == StepKind::ListListeners)
            m_listeners->appendRecord(record.listener);
        else
            m_listeners->appendRecordNow(record.listener);
    } else if (m_listKind == StepKind::ListProcesses) {
        m_processes->appendRecord(record.process);
    }
}

HostSession::Outcome HostSession::finishList(ListEnd end)
{
    const int records = m_listRecords;
    if (m_listKind == StepKind::ListListeners) {
        m_listeners->commitFill();
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
    } else if (m_listKind == StepKind::ListProcesses) {
        m_processes->commitFill();
        m_processes->showPendingColumns();
        Q_EMIT processesChanged();
    }
    m_listSink = nullptr;

    switch (end) {
    case ListEnd::Complete:
    case ListEnd::NotConnected:
    case ListEnd::NoSelection:
        break;
    case ListEnd::TimedOut:
    case ListEnd::BadHeader:
    case ListEnd::Closed:
        m_outOfStep = true;
        break;
    case ListEnd::TooManyRecords:
    case ListEnd::Stopped:
        // The host is still sending this list: the connection is ended now
        // and renewed before the next exchange.
        abandonConnection(true);
        m_outOfStep = true;
        break;
    }
    const QString text = listEndText(end, records, m_recordCap);
    if (!text.isEmpty() && !m_notices.contains(text))
        m_notices.append(text);
    Q_EMIT listEnded(end, records);
    return end == ListEnd::Stopped ? Outcome::Abort : Outcome::Done;
}

QString HostSession::renewedNotice()
{
    return QStringLiteral("The connection was renewed after the host fell out of step.");
}

QString HostSession::listEndText(ListEnd end, int records, int cap)
{
    switch (end) {
    case ListEnd::TooManyRecords:
        return QStringLiteral("The host sent more than %1 records in one list. The list was cut "
                              "off there and the connection will be renewed.")
            .arg(QLocale::c().toString(cap));
    case ListEnd::BadHeader:
        return QStringLiteral("The host sent a reply that does not start with a length. The "
                              "list ends there and the connection will be renewed.");
    case ListEnd::Closed:
        return QStringLiteral("The host closed the connection in the middle of a list.");
    case ListEnd::Stopped:
        return QStringLiteral("The list was stopped after %1 records; the connection will be "
                              "renewed.")
            .arg(QLocale::c().toString(records));
    case ListEnd::Complete:
    case ListEnd::NotConnected:
    case ListEnd::NoSelection:
    case ListEnd::TimedOut:
        break;
    }
    return QString();
}

void HostSession::setLinkState(LinkState state)
{
    if (state == m_linkState)
        return;
    m_linkState = state;
    Q_EMIT linkStateChanged(state);
}

void HostSession::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    Q_EMIT busyChanged(busy);
}
