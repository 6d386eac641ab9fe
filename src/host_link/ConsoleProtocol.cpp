#include "ConsoleProtocol.h"

#include "AppErrors.h"
#include "HostSocket.h"
#include "Wire.h"

#include <QCoreApplication>

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

TConsoleProtocol::TConsoleProtocol(THostSocket& socket) : m_socket(socket) {}

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
    m_socket.Connect();
    Pump();
    if (m_socket.State() != hsConnected)
        return false;

    // The kind and the record go out as two unframed texts.
    const QByteArray bytes = Wire::LogonBytes(m_socket.LogonKind, m_socket.LogonFields);
    const qsizetype kindLength = bytes.size() - Wire::LogonRecordLength;
    m_socket.SendText(QByteArrayView(bytes).first(kindLength));
    m_socket.SendText(QByteArrayView(bytes).sliced(kindLength));

    QByteArray reply;
    if (m_socket.ReadExact(1, reply) != 1)
        reply.clear();
    const Wire::LogonReply meaning = Wire::ParseLogonReply(reply);
    if (meaning == Wire::LogonReply::Accepted) {
        m_lastLogon = LogonOutcome::Accepted;
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
    if (m_socket.State() != hsConnected)
        return;
    // Refused before anything changes: a body the header cannot announce
    // never reaches the host, not even in part.
    checkFrameable(text);
    const std::optional<QByteArray> frame = Wire::Frame(text);
    m_socket.ClearBuffer();
    Pump();
    if (m_socket.State() == hsConnected)
        m_socket.SendText(*frame);
    Pump();
}

void TConsoleProtocol::SendCommand(std::string_view letter, std::optional<QByteArrayView> argument)
{
    if (m_socket.State() != hsConnected)
        return;
    const QByteArrayView letterBytes(letter.data(), static_cast<qsizetype>(letter.size()));
    // Both messages are checked before the first is sent, so a refused
    // argument never leaves a lone letter on the wire.
    checkFrameable(letterBytes);
    if (argument)
        checkFrameable(*argument);
    SendRequest(letterBytes);
    if (argument)
        SendRequest(*argument);
}

int TConsoleProtocol::ReadReply(QByteArray& body)
{
    if (m_socket.State() != hsConnected) {
        m_lastReply = ReplyEnd::NotConnected;
        return 0;
    }
    body.clear();
    m_socket.ReadTimeout = 10;

    auto failed = [this] {
        m_lastReply = m_socket.State() == hsConnected ? ReplyEnd::TimedOut : ReplyEnd::Closed;
        return 0;
    };

    QByteArray header;
    if (m_socket.ReadExact(Wire::HeaderLength, header) <= 0)
        return failed();
    const std::optional<int> length = Wire::ParseHeader(header);
    if (!length) {
        // The header is consumed; the body stays until the next request
        // empties the buffer.
        m_lastReply = ReplyEnd::BadHeader;
        return 0;
    }
    if (*length <= 0) {
        m_lastReply = ReplyEnd::EndOfList;
        return 0;
    }
    const int n = m_socket.ReadExact(*length, body);
    if (n <= 0)
        return failed();
    m_lastReply = ReplyEnd::Record;
    return n;
}
