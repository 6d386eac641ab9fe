#pragma once

#include "exporter/BasicAuth.h"
#include "exporter/ConnectionGuard.h"

#include <QAbstractHttpServer>
#include <QPointer>

class FleetCollector;

// The exporter's HTTP side: /metrics collects every host for each scrape
// and answers when all have finished (or its deadline passed); / is a short
// page that links to it. The HTTP itself is Qt HTTP Server's, behind a
// ConnectionGuard that keeps it bounded; with users configured every
// request needs basic authentication.
class MetricsServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // collectTimeoutMs: the longest a host may take, and the whole wait when
    // the scraper does not say how long it waits.
    MetricsServer(FleetCollector& fleet, int collectTimeoutMs, QObject* parent = nullptr);

    void setUsers(const BasicAuth& users) { m_users = users; }

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

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    bool route(const QHttpServerRequest& request, QTcpSocket* socket);

    FleetCollector& m_fleet;
    int m_collectTimeoutMs;
    BasicAuth m_users;
    QPointer<ConnectionGuard> m_guard;
};
