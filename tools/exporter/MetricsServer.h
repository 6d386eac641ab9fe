#pragma once

#include "exporter/AuthGate.h"
#include "exporter/BasicAuth.h"
#include "exporter/ConnectionGuard.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QPointer>

#include <deque>

class FleetCollector;

// The exporter's HTTP side: /metrics collects every host for each scrape
// and answers when all have finished (or its deadline passed); / is a short
// page that links to it. GET and HEAD are served (HEAD with the headers GET
// would have, without the body). The requests are read by Qt HTTP Server,
// behind a ConnectionGuard that keeps it bounded; the answers of one
// connection go out in the order of its requests (pipelining; a connection
// with more than 16 waiting is dropped), and a request with
// "Connection: close" gets the last answer of its connection.
// With users configured every request needs basic authentication, checked
// by an AuthGate off the event loop.
class MetricsServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // collectTimeoutMs: the longest a host may take, and the whole wait when
    // the scraper does not say how long it waits.
    MetricsServer(FleetCollector& fleet, int collectTimeoutMs, QObject* parent = nullptr);

    // For the requests that arrive from now on.
    void setUsers(const BasicAuth& users) { m_gate.setUsers(users); }
    // TLS (or plain HTTP, with nullopt) for the connections opened from now
    // on; after start().
    void setTls(const std::optional<TlsSettings>& tls);

    // Listens (over TLS when tls is given); returns the port, 0 on failure
    // with the reason in error.
    quint16 start(const QHostAddress& address, quint16 port, const ConnectionGuard::Limits& limits,
                  const std::optional<TlsSettings>& tls, QString& error);
    // Connections open now (for tests and figures).
    int openConnections() const { return m_guard ? m_guard->openConnections() : 0; }
    int quietConnections() const { return m_guard ? m_guard->quietConnections() : 0; }

    // The per-host deadline for a scrape whose scraper waits headerSeconds
    // (the X-Prometheus-Scrape-Timeout-Seconds value, when sent and
    // readable): a tenth of the scrape's time, at least 0.1 s and at most
    // 1 s, is kept for the answer, and no host gets more than
    // collectTimeoutMs.
    static int hostDeadlineMs(const QByteArray& headerValue, int collectTimeoutMs);

Q_SIGNALS:
    // A client is connecting; what is set now applies to its connection.
    void connectionIncoming();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // What answering a request needs, kept once the parser reads the next.
    struct Request
    {
        bool head = false;
        bool get = false;
        bool close = false;
        QString path;
        QByteArray authorization;
        QByteArray scrapeTimeout;
    };
    struct Answer
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
    };

    void next(QTcpSocket* socket);
    void route(QTcpSocket* socket, AuthGate::Verdict verdict);
    void send(QTcpSocket* socket, const Answer& answer);

    FleetCollector& m_fleet;
    int m_collectTimeoutMs;
    AuthGate m_gate;
    QPointer<ConnectionGuard> m_guard;
    // The requests of each connection not yet answered, the first being
    // answered.
    QHash<QTcpSocket*, std::deque<Request>> m_queues;
};
