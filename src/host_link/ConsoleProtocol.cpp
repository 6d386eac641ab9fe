#include "host_link/ConsoleProtocol.h"

#include "host_link/AppErrors.h"
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

void checkFrameable(QByteArrayView text)
{
    if (text.size() > Wire::MaxBody)
        throw EAppError(QStringLiteral("The request is %1 bytes long, but a request can carry at "
                                       "most %2 bytes. Nothing was sent.")
                            .arg(text.size())
                            .arg(Wire::MaxBody));
}

} // namespace

TConsoleProtocol::TConsoleProtocol(HostSocket& socket)
    : m_socket(socket), m_deadlineTimer(std::make_unique<QTimer>())
{
    m_deadlineTimer->setSingleShot(true);
    QObject::connect(m_deadlineTimer.get(), &QTimer::timeout, m_deadlineTimer.get(),
                     [this] { DeadlineReached(); });
}

TConsoleProtocol::~TConsoleProtocol() = default;

void TConsoleProtocol::Pump()
{
    if (ProcessMessages)
        ProcessMessages();
    else
        QCoreApplication::processEvents();
}

bool TConsoleProtocol::Logon()
{
    if (m_socket.HostAddress.isEmpty()) {
        m_lastLogon = LogonOutcome::NoHost;
        return false;
    }
    m_socket.Authorized = true;
    m_lastLogon = LogonOutcome::NotConnected;
    m_listActive = false;
    m_deadlineTimer->stop();
    m_socket.Connect();
    Pump();
    if (m_socket.state() != HostSocket::SocketState::Connected)
        return false;

    // The kind and the record go out as two unframed texts.
    const QByteArray bytes = Wire::logonBytes(m_socket.LogonKind, m_socket.LogonFields);
    const qsizetype kindLength = bytes.size() - Wire::LogonRecordLength;
    m_socket.SendText(QByteArrayView(bytes).first(kindLength));
    m_socket.SendText(QByteArrayView(bytes).sliced(kindLength));

    QByteArray reply;
    if (m_socket.ReadExact(1, reply) != 1)
        reply.clear();
    const Wire::LogonReply meaning = Wire::parseLogonReply(reply);
    if (meaning == Wire::LogonReply::Accepted) {
        m_lastLogon = LogonOutcome::Accepted;
        m_outOfStep = false; // a fresh connection
        return true;
    }
    if (meaning == Wire::LogonReply::Refused) {
        m_lastLogon = LogonOutcome::Refused;
        if (ShowMessage)
            ShowMessage(QStringLiteral("Invalid Login!"));
        return false;
    }
    m_lastLogon = LogonOutcome::Failed;
    if (ShowMessage)
        ShowMessage(QStringLiteral("Error creating server process!"));
    return false;
}

void TConsoleProtocol::SendRequest(QByteArrayView text)
{
    if (m_socket.state() != HostSocket::SocketState::Connected)
        return;
    // Refused before anything changes: a body the header cannot announce
    // never reaches the host, not even in part.
    checkFrameable(text);
    const std::optional<QByteArray> frame = Wire::frame(text);
    // Whatever list was being read is over; the next ReadReply starts anew.
    m_listActive = false;
    m_deadlineTimer->stop();
    m_socket.ClearBuffer();
    Pump();
    if (m_socket.state() == HostSocket::SocketState::Connected)
        m_socket.SendText(*frame);
    Pump();
}

void TConsoleProtocol::SendCommand(char letter, std::optional<QByteArrayView> argument)
{
    if (m_socket.state() != HostSocket::SocketState::Connected)
        return;
    const QByteArrayView letterBytes(&letter, 1);
    // Both messages are checked before the first is sent, so a refused
    // argument never leaves a lone letter on the wire.
    checkFrameable(letterBytes);
    if (argument)
        checkFrameable(*argument);
    SendRequest(letterBytes);
    if (argument)
        SendRequest(*argument);
}

void TConsoleProtocol::BeginList()
{
    // Only a list asked for on a live connection can be cut short by a
    // close; on a closed one nothing was sent and nothing is awaited.
    m_listActive = m_socket.state() == HostSocket::SocketState::Connected;
    m_listRecords = 0;
    m_deadlineHit = false;
    m_listClock.start();
    m_deadlineTimer->start(
        static_cast<int>(std::clamp<qint64>(ListDeadlineMs, 0, std::numeric_limits<int>::max())));
}

void TConsoleProtocol::DeadlineReached()
{
    // At any other moment the next ReadReply ends the list; only a wait
    // inside ReadReply is cut short here.
    if (!m_listActive)
        return;
    m_deadlineHit = true;
    if (!m_inReadReply)
        return;
    // Closing is what ends the socket's wait at once, and quietly. The host
    // is still sending this list, so the connection is lost either way.
    m_socket.Disconnect();
}

int TConsoleProtocol::EndReply(ReplyEnd end)
{
    m_lastReply = end;
    m_listActive = false;
    m_deadlineTimer->stop();
    switch (end) {
    case ReplyEnd::Record:
    case ReplyEnd::EndOfList:
    case ReplyEnd::NotConnected:
        break;
    case ReplyEnd::TooManyRecords:
    case ReplyEnd::ListDeadline:
        // The rest of the list would keep pouring into the receive buffer.
        m_socket.Disconnect();
        m_socket.ClearBuffer();
        m_outOfStep = true;
        break;
    case ReplyEnd::TimedOut:
    case ReplyEnd::BadHeader:
    case ReplyEnd::Closed:
        m_outOfStep = true;
        break;
    }
    return 0;
}

int TConsoleProtocol::ReadReply(QByteArray& body)
{
    if (m_socket.state() != HostSocket::SocketState::Connected) {
        // Gone before the list's end: the rest of that list never comes.
        return EndReply(m_listActive ? ReplyEnd::Closed : ReplyEnd::NotConnected);
    }
    // The caller's array is reused record after record: it is emptied, not
    // released, whenever no record comes (a failed read empties it itself).
    auto noRecord = [this, &body](ReplyEnd end) {
        body.resize(0);
        return EndReply(end);
    };
    m_socket.ReadTimeout = ReplyTimeout;
    if (!m_listActive)
        BeginList();
    // The deadline timer marks a deadline that passed while events ran. The
    // clock is asked besides, for a deadline passed while the caller worked
    // through records already received, but only every so many records: a
    // clock read costs as much as splitting a record.
    if (m_deadlineHit || (m_listRecords % 64 == 0 && m_listClock.elapsed() >= ListDeadlineMs))
        return noRecord(ReplyEnd::ListDeadline);

    m_inReadReply = true;
    struct Leave
    {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inReadReply};

    // A read that came back short ended by time-out, by close, or by the
    // list's deadline closing the connection.
    auto failed = [this] {
        if (m_deadlineHit)
            return EndReply(ReplyEnd::ListDeadline);
        return EndReply(m_socket.state() == HostSocket::SocketState::Connected ? ReplyEnd::TimedOut
                                                                               : ReplyEnd::Closed);
    };

    // The header is read into the body's array, which the body then replaces.
    if (m_socket.ReadExact(Wire::HeaderLength, body) <= 0)
        return failed();
    const std::optional<int> length = Wire::parseHeader(body);
    if (!length) {
        // The header is consumed; the body stays until the next request
        // empties the buffer.
        return noRecord(ReplyEnd::BadHeader);
    }
    if (*length <= 0)
        return noRecord(ReplyEnd::EndOfList);
    // A list of exactly the cap still ends normally; one record more does not.
    if (m_listRecords >= ListRecordCap)
        return noRecord(ReplyEnd::TooManyRecords);
    const int n = m_socket.ReadExact(*length, body);
    if (n <= 0)
        return failed();
    ++m_listRecords;
    m_lastReply = ReplyEnd::Record;
    return n;
}

QString TConsoleProtocol::LastReplyMessage() const
{
    switch (m_lastReply) {
    case ReplyEnd::TooManyRecords:
        return QStringLiteral("The host sent more than %1 records in one list. The list was cut "
                              "off there and the connection will be renewed.")
            .arg(QLocale::c().toString(ListRecordCap));
    case ReplyEnd::ListDeadline:
        return QStringLiteral("The host took longer than %1 seconds to send one list. The list "
                              "was cut off after %2 records and the connection will be renewed.")
            .arg(ListDeadlineMs / 1000.0)
            .arg(m_listRecords);
    case ReplyEnd::BadHeader:
        return QStringLiteral("The host sent a reply that does not start with a length. The "
                              "list ends there and the connection will be renewed.");
    case ReplyEnd::Closed:
        return QStringLiteral("The host closed the connection in the middle of a list.");
    case ReplyEnd::Record:
    case ReplyEnd::EndOfList:
    case ReplyEnd::NotConnected:
    case ReplyEnd::TimedOut:
        break;
    }
    return QString();
}

bool TConsoleProtocol::Resync()
{
    m_outOfStep = false;
    m_listActive = false;
    m_deadlineTimer->stop();
    // No Quit: the host's side of this exchange is unknown, and a close is
    // what the Configure command does as well.
    m_socket.Disconnect();
    if (m_socket.state() == HostSocket::SocketState::Connected)
        return false; // the release failed and was reported
    // Bytes of the old connection must never be read as the logon reply.
    m_socket.ClearBuffer();
    return Logon();
}

QString TConsoleProtocol::ResyncNotice()
{
    return QStringLiteral("The connection was renewed after the host fell out of step.");
}
