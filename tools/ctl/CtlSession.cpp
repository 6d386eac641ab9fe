#include "CtlSession.h"

#include "core/Plural.h"
#include "session/RecordWriter.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>

#include <algorithm>

namespace {

QString recordText(QByteArrayView body)
{
    // Shown in a message: control characters must not reach the terminal.
    QByteArray text;
    RecordText::appendTerminalText(text, body.first(std::min<qsizetype>(body.size(), 200)));
    if (body.size() > 200)
        text += "...";
    return QString::fromUtf8(text);
}

} // namespace

// Passes a list's records on, checking their kind. After the first record
// that cannot be used, the rest are only counted.
class CtlCheckingSink : public RecordSink
{
public:
    CtlCheckingSink(Wire::RecordKind expected, RecordSink& next, CtlSession& session)
        : m_expected(expected), m_next(next), m_session(session)
    {
    }

    void record(const Wire::SplitResult& record, QByteArrayView body) override
    {
        ++m_records;
        if (m_bad) {
            ++m_notShown;
            return;
        }
        QString problem;
        if (!record.ok()) {
            problem = Wire::errorText(record);
        } else if (record.kind != m_expected) {
            problem = m_expected == Wire::RecordKind::Listener
                          ? QStringLiteral("a process record in the listener list")
                          : QStringLiteral("a listener record in the process list");
        }
        if (!problem.isEmpty()) {
            Q_EMIT m_session.message(QStringLiteral("malformed record %1 of the reply: %2: %3")
                                         .arg(m_records)
                                         .arg(problem, recordText(body)));
            m_bad = true;
            return;
        }
        m_next.record(record, body);
    }

    bool m_bad = false;
    int m_records = 0;
    int m_notShown = 0;

private:
    Wire::RecordKind m_expected;
    RecordSink& m_next;
    CtlSession& m_session;
};

CtlSession::CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
                       std::optional<int> listTimeoutSeconds, QObject* parent)
    : QObject(parent), m_settings(settings), m_listTimeout(listTimeoutSeconds),
      m_listTimer(new QTimer(this))
{
    m_session.setSettings(settings);
    m_listTimer->setSingleShot(true);
    connect(m_listTimer, &QTimer::timeout, this, [this] { m_session.stopList(); });
    connect(&m_session, &HostSession::busyChanged, this, [this](bool busy) {
        if (!busy)
            Q_EMIT idle();
    });
    connect(&m_session, &HostSession::connectFinished, this,
            [this](bool loggedOn) { m_accepted = loggedOn; });
    connect(&m_session, &HostSession::listEnded, this, [this](HostSession::ListEnd e, int n) {
        m_end = e;
        m_records = n;
    });
    if (timeoutSeconds) {
        // The operator's wait instead of the console's 30 s and 10 s.
        m_session.setLogonTimeout(*timeoutSeconds);
        m_session.setReplyTimeout(*timeoutSeconds);
    }
    connect(&m_session, &HostSession::socketError, this, [this](int error, const QString& msg) {
        if (m_quiet)
            return;
        ++m_networkErrors;
        Q_EMIT message(QStringLiteral("WINSOCK error: %1\n%2").arg(error).arg(msg));
    });
    connect(&m_session, &HostSession::tunnelError, this, [this](const QString& text) {
        if (m_quiet)
            return;
        ++m_networkErrors;
        Q_EMIT message(text);
    });
    connect(&m_session, &HostSession::unknownHostKey, this, [this] { m_unknownHostKey = true; });
    connect(&m_session, &HostSession::logonFailed, this, [this](HostSession::LogonResult result) {
        m_logon = result;
        if (result == HostSession::LogonResult::Refused)
            Q_EMIT message(QStringLiteral("Invalid Login!"));
        else if (result == HostSession::LogonResult::Failed)
            Q_EMIT message(QStringLiteral("Error creating server process!"));
    });
}

CtlSession::~CtlSession()
{
    close();
}

void CtlSession::runUntilIdle()
{
    // The program's only event loop while the exchange runs; nothing else
    // waits on it.
    if (!m_session.isBusy() || m_interrupted)
        return;
    const QObject scope;
    connect(&m_session, &HostSession::busyChanged, &scope, [this](bool busy) {
        if (!busy && m_loop)
            m_loop->quit();
    });
    runCtlLoop(m_loop);
}

CtlExit CtlSession::open()
{
    beginOpen();
    runUntilIdle();
    return openResult();
}

void CtlSession::beginOpen()
{
    m_accepted = false;
    m_unknownHostKey = false;
    m_errorsBefore = m_networkErrors;
    if (m_settings.HostAddress.isEmpty() || m_interrupted)
        return;
    m_session.logOn();
}

CtlExit CtlSession::openResult()
{
    if (m_interrupted)
        return CtlExit::Interrupted;
    if (m_settings.HostAddress.isEmpty()) {
        Q_EMIT message(QStringLiteral("no host to connect to"));
        return CtlExit::Network;
    }
    if (m_accepted)
        return CtlExit::Success;
    if (m_unknownHostKey)
        return CtlExit::UnknownKey;
    switch (m_logon) {
    case HostSession::LogonResult::Refused:
        return CtlExit::LogonRefused;
    case HostSession::LogonResult::Failed:
        return CtlExit::LogonFailed;
    case HostSession::LogonResult::NoHost:
    case HostSession::LogonResult::NotConnected:
    case HostSession::LogonResult::Accepted:
        break;
    }
    if (m_networkErrors == m_errorsBefore)
        Q_EMIT message(QStringLiteral("could not connect to %1:%2")
                           .arg(QString::fromLatin1(m_settings.HostAddress))
                           .arg(m_settings.Port));
    return CtlExit::Network;
}

CtlExit CtlSession::tableWork(const std::function<void()>& enqueue)
{
    if (m_interrupted)
        return CtlExit::Interrupted;
    if (!m_session.isConnected()) {
        Q_EMIT message(QStringLiteral("the host closed the connection; the request was not sent"));
        return CtlExit::Network;
    }
    const int errorsBefore = m_networkErrors;
    enqueue();
    runUntilIdle();
    if (m_interrupted)
        return CtlExit::Interrupted;
    return m_networkErrors == errorsBefore ? CtlExit::Success : CtlExit::Network;
}

CtlExit CtlSession::sendAndList(const HostCommand& command, const QByteArray& listenerPin)
{
    const QString refused = HostSession::checkRequest(command.argument());
    if (!refused.isEmpty()) {
        Q_EMIT message(refused);
        return CtlExit::Network;
    }
    bool notSent = false;
    const QObject scope;
    connect(&m_session, &HostSession::commandNotSent, &scope, [&notSent] { notSent = true; });
    const CtlExit status = tableWork([&] {
        // An empty choice lists no processes: a million of them would cost
        // the command a long wait for nothing.
        m_session.selectListener(listenerPin);
        m_session.send(command);
    });
    return notSent && status == CtlExit::Success ? CtlExit::NotRecorded : status;
}

CtlExit CtlSession::listIntoTable()
{
    return tableWork([this] {
        m_session.selectListener(QByteArray());
        m_session.refresh();
    });
}

CtlExit CtlSession::shutdownJob(int waitMs)
{
    if (m_interrupted)
        return CtlExit::Interrupted;
    if (!m_session.isConnected()) {
        Q_EMIT message(QStringLiteral("the host closed the connection; the request was not sent"));
        return CtlExit::Network;
    }
    const int errorsBefore = m_networkErrors;
    bool notSent = false;
    {
        const QObject scope;
        connect(&m_session, &HostSession::commandNotSent, &scope, [&notSent] { notSent = true; });
        m_session.send(HostCommand::shutdownJob());
    }
    if (notSent)
        return CtlExit::NotRecorded;
    // The host hangs up when its job ends: that is the command's effect, so
    // it is waited for a while before this side says Quit.
    if (m_session.isConnected()) {
        const QObject scope;
        connect(&m_session, &HostSession::linkStateChanged, &scope,
                [this](HostSession::LinkState state) {
                    if (state == HostSession::LinkState::Disconnected && m_loop)
                        m_loop->quit();
                });
        runCtlLoop(m_loop, waitMs);
    }
    if (m_interrupted)
        return CtlExit::Interrupted;
    return m_networkErrors == errorsBefore ? CtlExit::Success : CtlExit::Network;
}

CtlExit CtlSession::readList(char letter, const std::optional<QByteArray>& argument,
                             Wire::RecordKind expected, RecordSink& sink)
{
    beginList(letter, argument, expected, sink);
    runUntilIdle();
    return listResult();
}

void CtlSession::beginList(char letter, const std::optional<QByteArray>& argument,
                           Wire::RecordKind expected, RecordSink& sink)
{
    m_checking = std::make_unique<CtlCheckingSink>(expected, sink, *this);
    m_end.reset();
    m_records = 0;
    m_errorsBefore = m_networkErrors;
    m_notSent = !m_session.isConnected();
    if (m_interrupted || m_notSent)
        return;
    if (m_listTimeout)
        m_listTimer->start(std::max(*m_listTimeout, 0) * 1000);
    m_session.requestList(letter, argument, m_checking.get());
}

CtlExit CtlSession::listResult()
{
    using End = HostSession::ListEnd;
    m_listTimer->stop();
    const std::unique_ptr<CtlCheckingSink> checking = std::move(m_checking);
    if (m_interrupted)
        return CtlExit::Interrupted;
    if (!checking || m_notSent) {
        Q_EMIT message(QStringLiteral("the host closed the connection; the request was not sent"));
        return CtlExit::Network;
    }

    const CtlExit status = checking->m_bad ? CtlExit::BadReply : CtlExit::Success;
    auto worst = [status](CtlExit fallback) {
        return status != CtlExit::Success ? status : fallback;
    };
    if (checking->m_notShown > 0)
        Q_EMIT message(
            QStringLiteral("%1 further record(s) of the list not shown").arg(checking->m_notShown));
    if (!m_end)
        return worst(CtlExit::Network);
    switch (*m_end) {
    case End::Complete:
    case End::NoSelection:
        return status;
    case End::BadHeader:
        Q_EMIT message(QStringLiteral("a reply header that is not a length; the list ends here"));
        return worst(CtlExit::BadReply);
    case End::TooManyRecords:
        Q_EMIT message(QStringLiteral("the list goes on past %1 records; reading stopped")
                           .arg(MaxListRecords));
        return worst(CtlExit::BadReply);
    case End::Stopped:
        Q_EMIT message(QStringLiteral("the list took longer than %1 s; reading stopped after %2 %3")
                           .arg(m_listTimeout.value_or(0))
                           .arg(m_records)
                           .arg(Plural::noun(m_records, "record", "records")));
        return worst(CtlExit::BadReply);
    case End::TimedOut:
        // The socket has reported the time-out (10060) already.
        if (m_networkErrors == m_errorsBefore)
            Q_EMIT message(QStringLiteral("no reply from the host in time"));
        return worst(CtlExit::Network);
    case End::Closed:
    case End::NotConnected:
        if (m_networkErrors == m_errorsBefore)
            Q_EMIT message(
                QStringLiteral("the host closed the connection before the end of the list"));
        return worst(CtlExit::Network);
    }
    return status;
}

bool CtlSession::pause(int milliseconds)
{
    if (m_interrupted)
        return false;
    runCtlLoop(m_loop, milliseconds);
    return !m_interrupted;
}

void CtlSession::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    close();
    if (m_loop)
        m_loop->quit();
}

void CtlSession::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_quiet = true;
    m_session.quit();
}

void runCtlLoop(QEventLoop*& running, int timeoutMs)
{
    QEventLoop loop;
    running = &loop;
    if (timeoutMs >= 0)
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    running = nullptr;
}
