#include "exporter/ConnectionGuard.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <algorithm>

namespace {

const QByteArray HeaderTooLarge =
    QByteArrayLiteral("HTTP/1.1 431 Request Header Fields Too Large\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: 35\r\n"
                      "Connection: close\r\n"
                      "\r\n"
                      "Request header fields too large.\r\n\r\n");

const QByteArray RequestTimeout = QByteArrayLiteral("HTTP/1.1 408 Request Timeout\r\n"
                                                    "Content-Type: text/plain; charset=utf-8\r\n"
                                                    "Content-Length: 29\r\n"
                                                    "Connection: close\r\n"
                                                    "\r\n"
                                                    "The request came too slowly.\n");

// Where the next blank line (the end of a request's header) ends in data,
// searching from index from; -1 when none. CRLF CRLF, LF CRLF and LF LF
// end a header, as the HTTP server reads it.
qsizetype headerEnd(QByteArrayView data, qsizetype from)
{
    for (qsizetype i = std::max<qsizetype>(from, 1); i < data.size(); ++i) {
        if (data[i] != '\n')
            continue;
        if (data[i - 1] == '\n' || (i >= 2 && data[i - 1] == '\r' && data[i - 2] == '\n'))
            return i + 1;
    }
    return -1;
}

} // namespace

ConnectionGuard::ConnectionGuard(const Limits& limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits)
{
    // Connections past the limit are closed by us, not left in the backlog.
    setMaxPendingConnections(limits.maxConnections);
}

ConnectionGuard::~ConnectionGuard()
{
    // The sockets are our children; nothing of theirs must reach us now.
    for (auto it = m_connections.keyBegin(); it != m_connections.keyEnd(); ++it)
        disconnect(*it, nullptr, this, nullptr);
}

void ConnectionGuard::setTls(const std::optional<TlsSettings>& tls)
{
    m_tls = tls;
}

void ConnectionGuard::incomingConnection(qintptr descriptor)
{
    Q_EMIT incoming();
    if (int(m_connections.size()) >= m_limits.maxConnections && !makeRoom()) {
        ::close(int(descriptor));
        return;
    }
    QTcpSocket* socket = track(descriptor);
    if (!socket)
        return;
    if (m_tls)
        startTls(socket);
    else
        admit(socket);
}

// Nothing being answered and nothing of a next request received.
bool ConnectionGuard::isQuiet(const Connection& c)
{
    return c.busy == 0 && c.headerBytes == 0 && c.quietSince != 0;
}

// Not being answered: quiet, in the handshake or sending a request.
bool ConnectionGuard::mayGiveWay(const Connection& c)
{
    return c.busy == 0 && c.quietSince != 0;
}

int ConnectionGuard::quietConnections() const
{
    return int(std::count_if(m_connections.cbegin(), m_connections.cend(), &isQuiet));
}

// Closes the connection waited on longest among those not being answered,
// when there is one.
bool ConnectionGuard::makeRoom()
{
    QObject* oldest = nullptr;
    quint64 earliest = 0;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        const Connection& c = it.value();
        if (mayGiveWay(c) && (!oldest || c.quietSince < earliest)) {
            earliest = c.quietSince;
            oldest = it.key();
        }
    }
    if (!oldest)
        return false;
    auto* socket = static_cast<QTcpSocket*>(oldest);
    forget(socket);
    socket->abort();
    socket->deleteLater();
    return true;
}

QTcpSocket* ConnectionGuard::track(qintptr descriptor)
{
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return nullptr;
    }
    // Enough for a whole header and one read more; the guard sees the rest.
    socket->setReadBufferSize(2 * m_limits.headerBytes + 4096);
    Connection& c = m_connections[socket];
    c.idle = new QTimer(socket);
    c.idle->setSingleShot(true);
    c.idle->callOnTimeout(socket, [socket] { socket->abort(); });
    c.idle->start(m_limits.idleMs);
    c.header = new QTimer(socket);
    c.header->setSingleShot(true);
    c.header->callOnTimeout(this, [this, socket] { refuse(socket, RequestTimeout); });
    // Over TLS the handshake is part of the first request's time.
    if (m_tls)
        c.header->start(m_limits.headerMs);
    c.quietSince = ++m_quietTicks;
    connect(socket, &QObject::destroyed, this, &ConnectionGuard::forget);
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        const bool admitted = m_connections.value(socket).admitted;
        forget(socket);
        // Once admitted the HTTP server deletes it.
        if (!admitted)
            socket->deleteLater();
    });
    return socket;
}

void ConnectionGuard::startTls(QTcpSocket* tcp)
{
    auto* socket = static_cast<QSslSocket*>(tcp);
    socket->setSslConfiguration(m_tls->configuration);
    const ClientAuth mode = m_tls->clientAuth;
    connect(socket, &QSslSocket::sslErrors, socket, [socket, mode](const QList<QSslError>& errors) {
        // "If given": no certificate is fine, a bad one is not.
        const bool onlyMissing =
            std::all_of(errors.cbegin(), errors.cend(), [](const QSslError& e) {
                return e.error() == QSslError::NoPeerCertificate;
            });
        if (mode == ClientAuth::VerifyClientCertIfGiven && onlyMissing)
            socket->ignoreSslErrors(errors);
    });
    connect(socket, &QSslSocket::encrypted, this, [this, socket, mode] {
        if (mode == ClientAuth::RequireAnyClientCert && socket->peerCertificate().isNull()) {
            socket->abort();
            return;
        }
        admit(socket);
    });
    socket->startServerEncryption();
}

void ConnectionGuard::admit(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    found->admitted = true;
    found->header->stop();
    // Connected before the HTTP server's own handler, so it sees each read first.
    connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
    addPendingConnection(socket);
}

void ConnectionGuard::onReadyRead(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& c = *found;
    const qint64 available = socket->bytesAvailable();
    // What the HTTP server left unread after a request (the next ones,
    // pipelined) was counted when it arrived.
    const qint64 fresh = available - std::min(c.examined, available);
    c.examined = 0;
    if (fresh <= 0)
        return;
    // The bytes the HTTP server is about to read, after the last three it
    // read before, for a blank line split across reads.
    QByteArray data(c.tail, sizeof c.tail);
    data += socket->peek(available).sliced(available - fresh);
    qsizetype start = sizeof c.tail;
    bool tooLarge = false;
    bool ended = false;
    for (qsizetype end = headerEnd(data, start); end >= 0; end = headerEnd(data, start)) {
        tooLarge = tooLarge || c.headerBytes + (end - start) > m_limits.headerBytes;
        c.headerBytes = 0;
        start = end;
        ended = true;
    }
    c.headerBytes += data.size() - start;
    const QByteArrayView last = QByteArrayView(data).last(sizeof c.tail);
    std::copy(last.begin(), last.end(), c.tail);
    if (tooLarge || c.headerBytes > m_limits.headerBytes) {
        refuse(socket, HeaderTooLarge);
        return;
    }
    // A request's header is awaited from its first byte on.
    if (c.headerBytes == 0)
        c.header->stop();
    else if (ended || !c.header->isActive())
        c.header->start(m_limits.headerMs);
}

void ConnectionGuard::refuse(QTcpSocket* socket, const QByteArray& answer)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    // Nothing more of this connection goes to the HTTP server (bound to us,
    // it is our parent) nor to us.
    disconnect(socket, &QIODevice::readyRead, parent(), nullptr);
    disconnect(socket, &QIODevice::readyRead, this, nullptr);
    ++found->busy;
    found->idle->stop();
    found->header->stop();
    if (found->admitted)
        socket->write(answer);
    socket->disconnectFromHost();
    // A client that does not read its answer is not waited for long.
    QTimer::singleShot(1000, socket, [socket] { socket->abort(); });
}

void ConnectionGuard::requestStarted(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    ++found->busy;
    found->quietSince = 0;
    found->idle->stop();
    // The HTTP server has read this request; what is left was counted.
    found->examined = socket->bytesAvailable();
}

void ConnectionGuard::requestAnswered(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->busy == 0)
        return;
    if (--found->busy > 0)
        return;
    found->quietSince = ++m_quietTicks;
    found->idle->start(m_limits.idleMs);
}

void ConnectionGuard::forget(QObject* socket)
{
    m_connections.remove(socket);
}
