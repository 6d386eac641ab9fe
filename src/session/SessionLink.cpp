#include "session/SessionLink.h"

#include "host_link/HostSocket.h"
#include "session/ListReader.h"
#include "session/ReadWait.h"
#include "session/SshTunnel.h"

#include <array>

namespace {

// The phases of the connect step.
enum ConnectPhase
{
    Begin = 0,
    Connecting = 1,
    TunnelStarting = 2,
    TunnelFailed = 3,
};

} // namespace

SessionLink::SessionLink(HostSocket* socket, SshTunnel* tunnel, ReadWait* readWait)
    : m_socket(socket), m_tunnel(tunnel), m_readWait(readWait)
{
}

bool SessionLink::isConnected() const
{
    return m_socket->state() == HostSocket::SocketState::Connected;
}

void SessionLink::prepare(const ConnectionSettings& settings, int readTimeout)
{
    m_socket->setHostAddress(settings.HostAddress);
    m_socket->setPort(QByteArray::number(settings.Port));
    const QByteArray* fields[7] = {
        &settings.User,    &settings.UserPassword,    &settings.Group,     &settings.GroupPassword,
        &settings.Account, &settings.AccountPassword, &settings.LogonExtra};
    std::array<QByteArray, 7> logon;
    for (int i = 0; i < 7; ++i)
        logon[std::size_t(i)] = fields[i]->left(Wire::LogonFieldLength);
    m_socket->setLogon(logon, 1);
    m_socket->setAuthorized(true);
    m_socket->setReadTimeout(readTimeout);
    m_connectDone = false;
    m_connected = false;
}

SessionLink::Progress SessionLink::connect(const ConnectionSettings& settings, int readTimeout,
                                           int& phase)
{
    if (phase == Begin && isConnected()) {
        // A connection that a failed logon left open is ended first (Quit,
        // as closing the window would end it): connecting over it would
        // only fail with 10056.
        abandon(true);
    }
    if (phase == Begin || phase == TunnelStarting) {
        // Through an SSH tunnel the socket connects once the tunnel is ready.
        switch (tunnelStep(settings, readTimeout, phase == TunnelStarting)) {
        case Tunnel::Starting:
            phase = TunnelStarting;
            return Progress::Wait;
        case Tunnel::ConnectNow:
            phase = Connecting;
            m_socket->connectToHost();
            break;
        case Tunnel::Failed:
            phase = TunnelFailed;
            m_connectDone = true;
            // A forward the jump host could not connect is the socket error
            // a direct connection would have met; any other failure has
            // said why in ssh's words.
            if (m_tunnel->errorCode() != 0)
                m_socket->ReportError(m_tunnel->errorCode());
            break;
        }
    }
    if (!m_connectDone)
        return Progress::Wait;
    return m_connected ? Progress::Done : Progress::Failed;
}

SessionLink::Tunnel SessionLink::tunnelStep(const ConnectionSettings& settings, int readTimeout,
                                            bool starting)
{
    const QString& destination = settings.SshDestination;
    if (destination.isEmpty()) {
        m_socket->setStream(-1);
        return Tunnel::ConnectNow;
    }
    // A forward carries one connection: each connection has its own.
    if (!starting)
        m_tunnel->start(destination, settings.HostAddress, settings.Port, readTimeout);
    switch (m_tunnel->state()) {
    case SshTunnel::State::Ready:
        m_socket->setStream(m_tunnel->takeStream());
        return Tunnel::ConnectNow;
    case SshTunnel::State::Starting:
        return Tunnel::Starting;
    case SshTunnel::State::Idle:
    case SshTunnel::State::Failed:
        break;
    }
    return Tunnel::Failed;
}

std::optional<Wire::LogonReply> SessionLink::logon(int readTimeout, int& phase)
{
    if (phase == 0) {
        // The kind and the record go out as two unframed texts.
        const QByteArray bytes = Wire::logonBytes(m_socket->logonKind(), m_socket->logonFields());
        const qsizetype kindLength = bytes.size() - Wire::LogonRecordLength;
        m_socket->SendText(QByteArrayView(bytes).first(kindLength));
        m_socket->SendText(QByteArrayView(bytes).sliced(kindLength));
        phase = 1;
    }
    QByteArray reply;
    const QByteArrayView buffered = m_socket->buffered();
    if (!buffered.isEmpty()) {
        reply = buffered.first(1).toByteArray();
        m_socket->consume(1);
    } else if (!isConnected()) {
        // Closed before it answered: no reply.
    } else if (m_readWait->takeExpired()) {
        m_socket->ReportError(10060);
    } else {
        m_readWait->arm(readTimeout);
        return std::nullopt;
    }
    // However the logon ended, its wait ends with it.
    m_readWait->completed();
    return Wire::parseLogonReply(reply);
}

std::optional<HostSession::ListEnd> SessionLink::readList(ListReader& reader,
                                                          const bool& stopRequested)
{
    const std::optional<HostSession::ListEnd> end = takeList(reader, stopRequested);
    // However the list ended (also closed or stopped while a read waited),
    // the wait of its last read ends with it: left running, it would run
    // out during a later logon or list and end that one early.
    if (end)
        m_readWait->completed();
    return end;
}

std::optional<HostSession::ListEnd> SessionLink::takeList(ListReader& reader,
                                                          const bool& stopRequested)
{
    using End = HostSession::ListEnd;
    for (;;) {
        // A slot the records run may stop the list between two records.
        if (stopRequested)
            return End::Stopped;
        const ListReader::Frame frame = reader.takeFrame(*m_socket);
        if (frame != ListReader::Frame::Incomplete)
            m_readWait->completed(); // the next read waits afresh
        switch (frame) {
        case ListReader::Frame::Header:
        case ListReader::Frame::Record:
            continue;
        case ListReader::Frame::End:
            return End::Complete;
        case ListReader::Frame::BadHeader:
            return End::BadHeader;
        case ListReader::Frame::TooManyRecords:
            return End::TooManyRecords;
        case ListReader::Frame::Incomplete:
            break;
        }
        // The bytes of this read are not all here.
        if (!isConnected())
            return End::Closed;
        if (m_readWait->takeExpired()) {
            m_socket->ReportError(10060);
            return End::TimedOut;
        }
        return std::nullopt;
    }
}

void SessionLink::sendRequest(char letter, const std::optional<QByteArray>& argument)
{
    sendFrame(QByteArrayView(&letter, 1));
    if (argument)
        sendFrame(*argument);
}

void SessionLink::sendFrame(QByteArrayView body)
{
    // Taken from the system too, not only what the socket holds.
    m_socket->readPending();
    m_socket->ClearBuffer();
    if (!isConnected())
        return;
    if (const std::optional<QByteArray> frame = Wire::frame(body))
        m_socket->SendText(*frame);
}

void SessionLink::abandon(bool sendQuit)
{
    if (sendQuit && isConnected())
        sendFrame(QByteArrayView(&Wire::Quit, 1));
    m_socket->Disconnect();
    m_socket->ClearBuffer();
    m_readWait->completed();
}
