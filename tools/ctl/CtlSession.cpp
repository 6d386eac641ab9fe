#include "CtlSession.h"

#include "host_link/HostSocket.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace {

QString recordText(QByteArrayView body)
{
    // Shown in a message: control characters must not reach the terminal.
    QString text = QString::fromLatin1(body.first(std::min<qsizetype>(body.size(), 200)));
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = u'?';
    }
    if (body.size() > 200)
        text += QStringLiteral("...");
    return text;
}

// Hands a list's records to the caller, checking their kind.
class CheckingSink : public RecordSink
{
public:
    CheckingSink(Wire::RecordKind expected,
                 const std::function<void(const Wire::SplitResult&)>& onRecord,
                 std::function<void(const QString&)> report)
        : m_expected(expected), m_onRecord(onRecord), m_report(std::move(report))
    {
    }

    void record(const Wire::SplitResult& record, QByteArrayView body) override
    {
        ++m_records;
        if (m_status != 0) {
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
            m_report(QStringLiteral("malformed record %1 of the reply: %2: %3")
                         .arg(m_records)
                         .arg(problem, recordText(body)));
            m_status = 6;
            return;
        }
        m_onRecord(record);
    }

    int m_status = 0;
    int m_records = 0;
    int m_notShown = 0;

private:
    Wire::RecordKind m_expected;
    const std::function<void(const Wire::SplitResult&)>& m_onRecord;
    std::function<void(const QString&)> m_report;
};

} // namespace

CtlSession::CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
                       std::optional<int> listTimeoutSeconds, ErrorLine errorLine)
    : m_settings(settings), m_errorLine(std::move(errorLine)), m_listTimeout(listTimeoutSeconds)
{
    m_session.setSettings(settings);
    if (timeoutSeconds) {
        // The operator's wait instead of the console's 30 s and 10 s.
        m_session.setLogonTimeout(*timeoutSeconds);
        m_session.setReplyTimeout(*timeoutSeconds);
    }
    QObject::connect(&m_session, &HostSession::socketError, &m_session,
                     [this](int error, const QString& msg) {
                         if (m_quiet)
                             return;
                         ++m_networkErrors;
                         Report(QStringLiteral("WINSOCK error: %1\n%2").arg(error).arg(msg));
                     });
    QObject::connect(&m_session, &HostSession::logonFailed, &m_session,
                     [this](HostSession::LogonResult result) {
                         m_logon = result;
                         if (result == HostSession::LogonResult::Refused)
                             Report(QStringLiteral("Invalid Login!"));
                         else if (result == HostSession::LogonResult::Failed)
                             Report(QStringLiteral("Error creating server process!"));
                     });
}

CtlSession::~CtlSession()
{
    Close();
}

void CtlSession::runUntilIdle()
{
    // The program's only event loop while the exchange runs; nothing else
    // waits on it.
    if (!m_session.isBusy())
        return;
    QEventLoop loop;
    QObject::connect(&m_session, &HostSession::busyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    loop.exec();
}

int CtlSession::Open()
{
    if (m_settings.HostAddress.isEmpty()) {
        Report(QStringLiteral("no host to connect to"));
        return 1;
    }
    const int errorsBefore = m_networkErrors;
    bool accepted = false;
    QObject::connect(&m_session, &HostSession::connectFinished, &m_session,
                     [&accepted](bool loggedOn) { accepted = loggedOn; });
    m_session.logOn();
    runUntilIdle();
    if (accepted)
        return 0;
    switch (m_logon) {
    case HostSession::LogonResult::Refused:
        return 3;
    case HostSession::LogonResult::Failed:
        return 4;
    case HostSession::LogonResult::NoHost:
    case HostSession::LogonResult::NotConnected:
    case HostSession::LogonResult::Accepted:
        break;
    }
    if (m_networkErrors == errorsBefore)
        Report(QStringLiteral("could not connect to %1:%2")
                   .arg(QString::fromLatin1(m_settings.HostAddress))
                   .arg(m_settings.Port));
    return 1;
}

int CtlSession::Send(char letter, std::optional<QByteArray> argument)
{
    if (!m_session.isConnected()) {
        Report(QStringLiteral("the host closed the connection; the request was not sent"));
        return 1;
    }
    if (letter == Wire::GetListeners || letter == Wire::GetProcesses) {
        m_listLetter = letter;
        m_listArgument = std::move(argument);
        return 0;
    }
    const QString refused = HostSession::checkRequest(argument);
    if (!refused.isEmpty()) {
        Report(refused);
        return 1;
    }
    const int errorsBefore = m_networkErrors;
    m_session.sendRequest(letter, argument, false);
    runUntilIdle();
    return m_networkErrors == errorsBefore ? 0 : 1;
}

int CtlSession::ReadList(Wire::RecordKind expected,
                         const std::function<void(const Wire::SplitResult&)>& onRecord)
{
    using End = HostSession::ListEnd;
    if (m_listLetter == 0)
        m_listLetter = expected == Wire::RecordKind::Listener ? Wire::GetListeners
                                                              : Wire::GetProcesses;
    CheckingSink sink(expected, onRecord, [this](const QString& text) { Report(text); });
    std::optional<End> end;
    int records = 0;
    QMetaObject::Connection ended = QObject::connect(
        &m_session, &HostSession::listEnded, &m_session, [&](End e, int n) {
            end = e;
            records = n;
        });
    const int errorsBefore = m_networkErrors;
    QTimer listTimer;
    listTimer.setSingleShot(true);
    QObject::connect(&listTimer, &QTimer::timeout, &m_session, [this] { m_session.stopList(); });
    if (m_listTimeout)
        listTimer.start(std::max(*m_listTimeout, 0) * 1000);
    m_session.requestList(m_listLetter, m_listArgument, &sink);
    m_listLetter = 0;
    m_listArgument.reset();
    runUntilIdle();
    listTimer.stop();
    QObject::disconnect(ended);

    int status = sink.m_status;
    if (sink.m_notShown > 0)
        Report(QStringLiteral("%1 further record(s) of the list not shown").arg(sink.m_notShown));
    if (!end)
        return status != 0 ? status : 1;
    switch (*end) {
    case End::Complete:
    case End::NoSelection:
        return status;
    case End::BadHeader:
        Report(QStringLiteral("a reply header that is not a length; the list ends here"));
        return status != 0 ? status : 6;
    case End::TooManyRecords:
        Report(QStringLiteral("the list goes on past %1 records; reading stopped")
                   .arg(MaxListRecords));
        return status != 0 ? status : 6;
    case End::Stopped:
        Report(QStringLiteral("the list took longer than %1 s; reading stopped after %2 records")
                   .arg(m_listTimeout.value_or(0))
                   .arg(records));
        return status != 0 ? status : 6;
    case End::TimedOut:
        // The socket has reported the time-out (10060) already.
        if (m_networkErrors == errorsBefore)
            Report(QStringLiteral("no reply from the host in time"));
        return status != 0 ? status : 1;
    case End::Closed:
    case End::NotConnected:
        if (m_networkErrors == errorsBefore)
            Report(QStringLiteral("the host closed the connection before the end of the list"));
        return status != 0 ? status : 1;
    }
    return status;
}

void CtlSession::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_quiet = true;
    m_session.quit();
}
