#include "CtlSession.h"

#include "AppErrors.h"

#include <algorithm>

namespace {

constexpr int ConsoleLogonKind = 1;
constexpr int ConsoleLogonTimeout = 30;

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

} // namespace

CtlSession::CtlSession(const ConnectionSettings& settings, std::optional<int> timeoutSeconds,
                       ErrorLine errorLine)
    : m_protocol(m_socket), m_settings(settings), m_timeout(timeoutSeconds),
      m_errorLine(std::move(errorLine))
{
    m_socket.OnError = [this](THostSocket*, int error, const QString& msg) {
        if (m_quiet)
            return;
        ++m_networkErrors;
        Report(QStringLiteral("WINSOCK error: %1\n%2").arg(error).arg(msg));
    };
    m_protocol.ShowMessage = [this](const QString& text) { Report(text); };
    if (m_timeout) {
        // The operator's wait instead of the console's 10 s; a list gets at
        // least that long as a whole too.
        m_protocol.ReplyTimeout = *m_timeout;
        m_protocol.ListDeadlineMs =
            qint64(std::max(TConsoleProtocol::ListDeadlineSeconds, *m_timeout)) * 1000;
    }
}

CtlSession::~CtlSession()
{
    Close();
}

int CtlSession::Open()
{
    m_socket.HostAddress = m_settings.HostAddress;
    m_socket.Port = QByteArray::number(m_settings.Port);
    const std::array<const QByteArray*, 7> fields = {
        &m_settings.User,          &m_settings.UserPassword, &m_settings.Group,
        &m_settings.GroupPassword, &m_settings.Account,      &m_settings.AccountPassword,
        &m_settings.LogonExtra};
    for (std::size_t i = 0; i < fields.size(); ++i)
        m_socket.LogonFields[i] = fields[i]->left(Wire::LogonFieldLength);
    m_socket.LogonKind = ConsoleLogonKind;
    m_socket.ReadTimeout = m_timeout.value_or(ConsoleLogonTimeout);

    const int errorsBefore = m_networkErrors;
    bool accepted = false;
    try {
        accepted = m_protocol.Logon();
    } catch (const EAppError& e) {
        Report(e.message());
        return 1;
    }
    if (accepted)
        return 0;
    switch (m_protocol.LastLogonOutcome()) {
    case TConsoleProtocol::LogonOutcome::Refused:
        return 3;
    case TConsoleProtocol::LogonOutcome::Failed:
        return 4;
    case TConsoleProtocol::LogonOutcome::NoHost:
        Report(QStringLiteral("no host to connect to"));
        return 1;
    case TConsoleProtocol::LogonOutcome::NotConnected:
    case TConsoleProtocol::LogonOutcome::Accepted:
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
    if (m_socket.State() != hsConnected) {
        Report(QStringLiteral("the host closed the connection; the request was not sent"));
        return 1;
    }
    const int errorsBefore = m_networkErrors;
    if (argument)
        m_protocol.SendCommand(letter, QByteArrayView(*argument));
    else
        m_protocol.SendCommand(letter);
    return m_networkErrors == errorsBefore ? 0 : 1;
}

int CtlSession::ReadReply(QByteArray& body, TConsoleProtocol::ReplyEnd& end)
{
    const int n = m_protocol.ReadReply(body);
    end = m_protocol.LastReplyEnd();
    return n;
}

int CtlSession::ReadList(Wire::RecordKind expected,
                         const std::function<void(const Wire::SplitResult&)>& onRecord)
{
    using End = TConsoleProtocol::ReplyEnd;
    int status = 0;
    int records = 0;
    int notShown = 0;
    End end = End::EndOfList;
    const int errorsBefore = m_networkErrors;
    m_protocol.BeginList();
    for (;;) {
        QByteArray body;
        if (ReadReply(body, end) <= 0)
            break;
        ++records;
        if (status != 0) {
            ++notShown;
            continue;
        }
        const Wire::SplitResult split = Wire::splitRecord(body);
        QString problem;
        if (!split.ok()) {
            problem = Wire::errorText(split);
        } else if (split.kind != expected) {
            problem = expected == Wire::RecordKind::Listener
                          ? QStringLiteral("a process record in the listener list")
                          : QStringLiteral("a listener record in the process list");
        }
        if (!problem.isEmpty()) {
            Report(QStringLiteral("malformed record %1 of the reply: %2: %3")
                       .arg(records)
                       .arg(problem, recordText(body)));
            status = 6;
            continue;
        }
        onRecord(split);
    }
    if (notShown > 0)
        Report(QStringLiteral("%1 further record(s) of the list not shown").arg(notShown));

    switch (end) {
    case End::Record:
    case End::EndOfList:
        return status;
    case End::BadHeader:
        Report(QStringLiteral("a reply header that is not a length; the list ends here"));
        return status != 0 ? status : 6;
    case End::TooManyRecords:
        Report(QStringLiteral("the list goes on past %1 records; reading stopped")
                   .arg(m_protocol.ListRecordCap));
        return status != 0 ? status : 6;
    case End::ListDeadline:
        Report(QStringLiteral("the list took longer than %1 s; reading stopped after %2 records")
                   .arg(m_protocol.ListDeadlineMs / 1000.0)
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
    if (m_socket.State() == hsConnected)
        m_protocol.SendCommand(Wire::Quit);
    m_socket.Disconnect();
}
