#include "host_link/HostSocket.h"

#include "core/AppErrors.h"
#include "core/WinsockErrors.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int NoSocket = -1;
// Most bytes taken from the socket in one notification: the notifier fires
// again while more is pending, so one flooding peer cannot hold the UI thread.
constexpr qsizetype ReadChunk = 64 * 1024;
constexpr qsizetype MaxReadPerNotification = 1024 * 1024;
// Consumed bytes at the front of the buffer are dropped once they are at
// least this many and at least half the buffer, so every byte is moved at
// most a bounded number of times.
constexpr qsizetype CompactThreshold = 64 * 1024;

} // namespace

struct HostSocket::Impl
{
    int fd = NoSocket;
    // The notifier of the current socket. A released socket's notifier is
    // disabled and deleted later, so a notification queued for it never
    // reaches the new socket.
    QSocketNotifier* readNotifier = nullptr;
    // Received bytes live in buf[offset, buf.size()).
    QByteArray buf;
    qsizetype offset = 0;
    bool inRead = false;
    // A connected stream handed over for the next connection.
    int stream = NoSocket;
    // An asynchronous connection under way: its writability watch and its
    // time limit.
    QSocketNotifier* connectNotifier = nullptr;
    QTimer* connectTimer = nullptr;

    void endConnectWatch()
    {
        if (connectNotifier) {
            connectNotifier->setEnabled(false);
            connectNotifier->deleteLater();
            connectNotifier = nullptr;
        }
        if (connectTimer) {
            connectTimer->stop();
            connectTimer->deleteLater();
            connectTimer = nullptr;
        }
    }

    qsizetype count() const { return buf.size() - offset; }

    void compact()
    {
        if (offset == 0)
            return;
        // The rest moves to the front of the same allocation (a remove from
        // the front would only move the start, and the next growth would
        // then allocate, and fault in, a fresh buffer).
        const qsizetype rest = buf.size() - offset;
        char* bytes = buf.data();
        std::memmove(bytes, bytes + offset, size_t(rest));
        buf.resize(rest);
        offset = 0;
    }
};

HostSocket::HostSocket(QObject* owner) : QObject(owner), d(std::make_unique<Impl>())
{
    // This platform's sockets need no start-up call.
    m_lastError = 0;
    m_state = SocketState::Closed;
}

HostSocket::~HostSocket()
{
    // Release the socket before anything else goes away; a socket left over
    // from an interrupted Connect is released as well.
    if (m_state == SocketState::Connected || d->fd != NoSocket)
        Disconnect();
    setStream(NoSocket);
}

void HostSocket::setStream(int fd)
{
    if (d->stream != NoSocket && d->stream != fd)
        ::close(d->stream);
    d->stream = fd;
}

qsizetype HostSocket::RecvCount() const
{
    return d->count();
}

int HostSocket::SocketHandle() const
{
    return d->fd;
}

void HostSocket::ReportError(int code)
{
    m_lastError = code;
    const QString text = Winsock::ErrorText(code);
    Q_EMIT errorOccurred(code, text);
}

QString HostSocket::ErrorText() const
{
    return Winsock::ErrorText(m_lastError);
}

QString HostSocket::ErrorText(int code)
{
    return Winsock::ErrorText(code);
}

int HostSocket::startConnection(quint16 port)
{
    if (d->stream != NoSocket) {
        const int fd = std::exchange(d->stream, NoSocket);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            const int code = Winsock::FromErrno(errno);
            ::close(fd);
            return code;
        }
        d->fd = fd;
        return 0;
    }
    if (!m_unixPath.isEmpty())
        return startLocalConnection();
    in_addr address{};
    // A dotted address is used as it stands, without asking the resolver.
    if (inet_aton(m_hostAddress.constData(), &address) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        errno = 0;
        const int rc = getaddrinfo(m_hostAddress.constData(), nullptr, &hints, &found);
        const int savedErrno = errno;
        if (rc != 0 || found == nullptr) {
            if (found)
                freeaddrinfo(found);
            return rc != 0 ? Winsock::FromResolver(rc, savedErrno) : 11004;
        }
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Winsock::FromErrno(errno);
    d->fd = fd;
    // Requests go out as several small writes (a letter frame, then its
    // argument frame). With Nagle's algorithm the second one waits for the
    // host to acknowledge the first, and a host that delays its
    // acknowledgements (it has nothing to answer yet) stalls every such
    // request by tens of milliseconds. Each write leaves at once instead; the
    // bytes on the wire are the same. A failure here only costs speed.
    const int noDelay = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr = address;
    return connectTo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, false);
}

int HostSocket::startLocalConnection()
{
    sockaddr_un peer{};
    peer.sun_family = AF_UNIX;
    if (m_unixPath.size() >= qsizetype(sizeof peer.sun_path))
        return 10063; // name too long
    std::memcpy(peer.sun_path, m_unixPath.constData(), std::size_t(m_unixPath.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Winsock::FromErrno(errno);
    d->fd = fd;
    return connectTo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, true);
}

int HostSocket::connectTo(const sockaddr* peer, socklen_t size, bool local)
{
    int rc;
    do {
        rc = ::connect(d->fd, peer, size);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    if (errno == EINPROGRESS)
        return -1;
    // A Unix socket that has gone is a connection refused, as a closed port is.
    const int code =
        local && (errno == ENOENT || errno == ENOTDIR) ? 10061 : Winsock::FromErrno(errno);
    ::close(d->fd);
    d->fd = NoSocket;
    return code;
}

void HostSocket::attachNotifier(int fd)
{
    d->readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    QSocketNotifier* notifier = d->readNotifier;
    QObject::connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        // A notification for a socket that has been released is ignored.
        if (notifier != d->readNotifier)
            return;
        HandleRead(0);
    });
}

void HostSocket::Disconnect()
{
    const bool wasConnected = m_state == SocketState::Connected;
    d->endConnectWatch();
    if (d->fd != NoSocket) {
        const int fd = d->fd;
        if (d->readNotifier) {
            d->readNotifier->setEnabled(false);
            d->readNotifier->deleteLater();
            d->readNotifier = nullptr;
        }
        if (::shutdown(fd, SHUT_RDWR) != 0 && errno != ENOTCONN) {
            // The socket is kept, as its state says; the error goes out.
            ReportError(Winsock::FromErrno(errno));
            return;
        }
        d->fd = NoSocket;
        // close() releases the descriptor even when it reports an error.
        if (::close(fd) != 0 && errno != EINTR)
            ReportError(Winsock::FromErrno(errno));
    }
    if (d->fd == NoSocket) {
        m_state = SocketState::Closed;
        if (wasConnected)
            Q_EMIT disconnected();
    }
}

void HostSocket::SendText(QByteArrayView text)
{
    if (text.isEmpty())
        return;
    if (d->fd == NoSocket) {
        ReportError(10038);
        return;
    }
    const char* p = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t n = ::send(d->fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // No waiting and no retry on a full send buffer: the rest of the
            // text is dropped and the failure reported.
            ReportError(Winsock::FromErrno(errno));
            return;
        }
        p += n;
        left -= n;
    }
}

void HostSocket::HandleRead(int error)
{
    if (error != 0) {
        ReportError(error);
        return;
    }
    if (d->fd == NoSocket || d->inRead)
        return;
    d->inRead = true;
    const int fd = d->fd;
    qsizetype taken = 0;
    int closeWith = -1;
    bool overflow = false;
    while (taken < MaxReadPerNotification) {
        const qsizetype room = MaxBuffered - d->count();
        // One byte more than the limit allows tells a flood from a full buffer.
        const qsizetype want = std::min(ReadChunk, room + 1);
        QByteArray& buf = d->buf;
        if (d->offset >= CompactThreshold && d->offset * 2 >= buf.size())
            d->compact();
        const qsizetype old = buf.size();
        if (buf.capacity() < old + want)
            buf.reserve(std::max(old + want, buf.capacity() * 2));
        buf.resize(old + want);
        const ssize_t n = ::recv(fd, buf.data() + old, static_cast<size_t>(want), 0);
        const int err = errno;
        buf.resize(old + std::max<ssize_t>(n, 0));
        if (n > 0) {
            taken += n;
            if (d->count() > MaxBuffered) {
                overflow = true;
                break;
            }
            if (n < want)
                break;
            continue;
        }
        if (n == 0) {
            closeWith = 0; // the peer closed the connection
            break;
        }
        if (err == EINTR)
            continue;
        if (err == EAGAIN || err == EWOULDBLOCK)
            break;
        closeWith = Winsock::FromErrno(err); // reset, timed out, ...: the connection is gone
        break;
    }
    d->inRead = false;
    if (taken > 0) {
        // Whoever reads takes the bytes first; a close seen in the same read
        // is acted on afterwards, so a list followed at once by a close is
        // read whole.
        QPointer<HostSocket> self(this);
        Q_EMIT readyRead();
        if (!self || d->fd != fd)
            return;
    }
    if (overflow) {
        // The peer sends more than the console will ever hold: cut it off.
        Disconnect();
        ReportError(10055);
        return;
    }
    if (closeWith >= 0)
        HandleClose(closeWith);
}

void HostSocket::HandleClose(int error)
{
    if (error == 10050) {
        ReportError(10050);
        return;
    }
    Disconnect();
}

void HostSocket::connectToHost()
{
    const std::int32_t port = StrToInt(m_port);
    if (port < 0 || port > 65535)
        throw ERangeError();
    auto failed = [this](int code) {
        ReportError(code);
        Q_EMIT connectFinished(false);
    };
    if (d->fd != NoSocket) {
        failed(m_state == SocketState::Connected ? 10056 : 10037);
        return;
    }
    // Bytes of an earlier connection are never read as this one's.
    ClearBuffer();

    const int started = startConnection(quint16(port));
    if (started > 0) {
        failed(started);
        return;
    }
    const int fd = d->fd;
    if (started == 0) {
        finishConnect(fd);
        return;
    }
    // Under way: the socket turns writable when the attempt ends either way.
    d->connectNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    QObject::connect(d->connectNotifier, &QSocketNotifier::activated, this,
                     [this, fd] { finishConnect(fd); });
    d->connectTimer = new QTimer(this);
    d->connectTimer->setSingleShot(true);
    d->connectTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(d->connectTimer, &QTimer::timeout, this, [this, fd] {
        if (d->fd != fd)
            return;
        d->endConnectWatch();
        ::close(fd);
        d->fd = NoSocket;
        m_state = SocketState::Closed;
        ReportError(10060);
        Q_EMIT connectFinished(false);
    });
    d->connectTimer->start(std::max(m_readTimeout, 0) * 1000);
}

void HostSocket::finishConnect(int fd)
{
    if (d->fd != fd)
        return;
    d->endConnectWatch();
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    if (soError != 0) {
        ::close(fd);
        d->fd = NoSocket;
        m_state = SocketState::Closed;
        ReportError(Winsock::FromErrno(soError));
        Q_EMIT connectFinished(false);
        return;
    }
    attachNotifier(fd);
    m_state = SocketState::Connected;
    Q_EMIT connectFinished(true);
}

QByteArrayView HostSocket::buffered() const
{
    return QByteArrayView(d->buf.constData() + d->offset, d->count());
}

void HostSocket::consume(qsizetype count)
{
    count = std::clamp<qsizetype>(count, 0, d->count());
    d->offset += count;
    if (d->offset == d->buf.size()) {
        d->buf.resize(0);
        d->offset = 0;
    }
}

void HostSocket::readPending()
{
    if (d->fd != NoSocket)
        HandleRead(0);
}

void HostSocket::ClearBuffer()
{
    // Keep the allocation for the next reply unless a flood made it large.
    if (d->buf.capacity() > 4 * CompactThreshold)
        d->buf = QByteArray();
    else
        d->buf.resize(0);
    d->offset = 0;
}
