#pragma once

#include "exporter/WebConfig.h"

#include <QHash>
#include <QTcpServer>

#include <optional>

class QTcpSocket;
class QTimer;

// The exporter's listening socket, with the bounds the HTTP server does not
// keep itself: at most maxConnections open, request headers of at most
// headerBytes (a longer one is answered 431 and closed), a whole request
// header within headerMs of its first byte (and over TLS the handshake
// within headerMs of the opening; else 408 and closed), and a connection
// that has not finished a request within idleMs of its last answer (or of its
// opening) is closed. A connection past maxConnections takes the place of
// the one waited on longest that is not being answered (quiet, in its
// handshake or sending a request header), or is closed at once when every
// one is being answered. With TLS it makes the handshake itself; the HTTP
// server gets a connection once it is encrypted and its client certificate
// is as asked.
//
// The HTTP server is bound to it (QAbstractHttpServer::bind) and tells it,
// through requestStarted() and requestAnswered(), when a connection is busy.
class ConnectionGuard : public QTcpServer
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxConnections = 64;
        qint64 headerBytes = 8192;
        int idleMs = 30000;
        int headerMs = 10000;
    };

    explicit ConnectionGuard(const Limits& limits, QObject* parent = nullptr);
    ~ConnectionGuard() override;

    // Serves the connections opened from now on over TLS with these
    // settings (plain HTTP with nullopt).
    void setTls(const std::optional<TlsSettings>& tls);

    int openConnections() const { return int(m_connections.size()); }
    // Open with nothing asked of them: the ones that may make room.
    int quietConnections() const;

    // A whole request arrived on socket / its answer was written. The idle
    // time runs only while no request is being answered.
    void requestStarted(QTcpSocket* socket);
    void requestAnswered(QTcpSocket* socket);

Q_SIGNALS:
    // A connection is about to be accepted: a slot may still set its TLS.
    void incoming();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection
    {
        QTimer* idle = nullptr;
        QTimer* header = nullptr; // runs while a header (or the handshake) is awaited
        quint64 quietSince = 0;   // when it last became quiet, in m_quietTicks; 0: busy
        qint64 headerBytes = 0;   // of the request being received
        qint64 examined = 0;      // bytes at the front of the read buffer already counted
        char tail[3] = {0, 0, 0}; // the last bytes seen, for a blank line split across reads
        int busy = 0;             // requests being answered
        bool admitted = false;    // handed to the HTTP server
    };

    static bool isQuiet(const Connection& c);
    static bool mayGiveWay(const Connection& c);
    bool makeRoom();
    QTcpSocket* track(qintptr descriptor);
    void startTls(QTcpSocket* socket);
    void admit(QTcpSocket* socket);
    void onReadyRead(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, const QByteArray& answer);
    void forget(QObject* socket);

    Limits m_limits;
    std::optional<TlsSettings> m_tls;
    QHash<QObject*, Connection> m_connections;
    quint64 m_quietTicks = 0;
};
