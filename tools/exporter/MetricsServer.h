#pragma once

#include <QAbstractHttpServer>

#include <optional>

class FleetCollector;

// The exporter's HTTP side: /metrics collects every host for each scrape
// and answers when all have finished (or their deadlines passed); / is a
// short page that links to it. The HTTP itself is Qt HTTP Server's.
class MetricsServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // collectTimeoutMs: the longest a host may take, and the whole wait when
    // the scraper does not say how long it waits.
    MetricsServer(FleetCollector& fleet, int collectTimeoutMs, QObject* parent = nullptr);

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
    FleetCollector& m_fleet;
    int m_collectTimeoutMs;
};
