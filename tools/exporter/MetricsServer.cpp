#include "exporter/MetricsServer.h"

#include "exporter/Exposition.h"
#include "exporter/FleetCollector.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const QByteArray IndexPage = QByteArrayLiteral(
    "<!DOCTYPE html>\n<html>\n<head><meta "
    "charset=\"utf-8\"><title>orvanite-exporter</title></head>\n"
    "<body>\n<h1>orvanite-exporter</h1>\n"
    "<p>The listeners and user processes of the server jobs it watches, for Prometheus.</p>\n"
    "<p><a href=\"/metrics\">Metrics</a></p>\n</body>\n</html>\n");

} // namespace

MetricsServer::MetricsServer(FleetCollector& fleet, int collectTimeoutMs, QObject* parent)
    : QAbstractHttpServer(parent), m_fleet(fleet), m_collectTimeoutMs(collectTimeoutMs)
{
}

int MetricsServer::hostDeadlineMs(const QByteArray& headerValue, int collectTimeoutMs)
{
    bool ok = false;
    const double seconds = headerValue.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0)
        return collectTimeoutMs;
    const double ms = std::min(seconds * 1000, 1e9);
    const double kept = std::clamp(ms / 10, 100.0, 1000.0);
    return std::clamp(int(ms - kept), 1, collectTimeoutMs);
}

quint16 MetricsServer::start(const QHostAddress& address, quint16 port,
                             const ConnectionGuard::Limits& limits,
                             const std::optional<TlsSettings>& tls, QString& error)
{
    auto* guard = new ConnectionGuard(limits, this);
    if (tls)
        guard->setTls(*tls);
    if (!guard->listen(address, port)) {
        error = guard->errorString();
        delete guard;
        return 0;
    }
    bind(guard);
    m_guard = guard;
    return guard->serverPort();
}

bool MetricsServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    if (m_guard)
        m_guard->requestStarted(socket);
    QPointer<QTcpSocket> alive(socket);
    const bool answered = route(request, socket);
    if (answered && m_guard && alive)
        m_guard->requestAnswered(socket);
    return true;
}

// Answers at once and returns true, or returns false when the answer comes
// later (a scrape), the guard told by then.
bool MetricsServer::route(const QHttpServerRequest& request, QTcpSocket* socket)
{
    using Status = QHttpServerResponder::StatusCode;
    // The same work whatever the header holds, before anything is told.
    if (!m_users.check(request.value("Authorization"))) {
        makeResponder(request, socket)
            .write(QByteArrayLiteral("Unauthorized\n"),
                   {{"Content-Type", "text/plain; charset=utf-8"},
                    {"WWW-Authenticate", "Basic realm=\"orvanite-exporter\""}},
                   Status::Unauthorized);
        return true;
    }
    const QString path = request.url().path();
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    if (path != QLatin1String("/metrics") && path != QLatin1String("/")) {
        makeResponder(request, socket)
            .write(QByteArrayLiteral("Not found: try /metrics\n"), "text/plain; charset=utf-8",
                   Status::NotFound);
        return true;
    }
    if (!get) {
        makeResponder(request, socket)
            .write(QByteArrayLiteral("Only GET is served here\n"),
                   {{"Content-Type", "text/plain; charset=utf-8"}, {"Allow", "GET"}},
                   Status::MethodNotAllowed);
        return true;
    }
    if (path == QLatin1String("/")) {
        makeResponder(request, socket).write(IndexPage, "text/html; charset=utf-8");
        return true;
    }

    const int deadline =
        hostDeadlineMs(request.value("X-Prometheus-Scrape-Timeout-Seconds"), m_collectTimeoutMs);
    // The answer goes out when the collection ends; the scraper may have
    // hung up by then, and its socket with it.
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    QPointer<QTcpSocket> alive(socket);
    QPointer<ConnectionGuard> guard(m_guard);
    m_fleet.scrape(deadline, [responder, alive, guard](const QByteArray& text) {
        if (!alive || alive->state() != QAbstractSocket::ConnectedState)
            return;
        responder->write(text, Exposition::ContentType);
        if (guard && alive)
            guard->requestAnswered(alive);
    });
    return false;
}

void MetricsServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket)
        .write(QByteArrayLiteral("Not found\n"), "text/plain; charset=utf-8",
               QHttpServerResponder::StatusCode::NotFound);
}
