#include "exporter/MetricsServer.h"

#include "exporter/Exposition.h"
#include "exporter/FleetCollector.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray IndexPage = QByteArrayLiteral(
    "<!DOCTYPE html>\n<html>\n<head><meta "
    "charset=\"utf-8\"><title>orvanite-exporter</title></head>\n"
    "<body>\n<h1>orvanite-exporter</h1>\n"
    "<p>The listeners and user processes of the server jobs it watches, for Prometheus.</p>\n"
    "<p><a href=\"/metrics\">Metrics</a></p>\n</body>\n</html>\n");

const QByteArray PlainText = QByteArrayLiteral("text/plain; charset=utf-8");

// Requests of one connection waiting for their answers at most.
constexpr size_t MaxPipelined = 16;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 429:
        return "Too Many Requests";
    default:
        return "Error";
    }
}

// Whether a Connection header's list of options holds "close".
bool asksToClose(const QByteArray& connection)
{
    const QList<QByteArray> options = connection.split(',');
    return std::any_of(options.cbegin(), options.cend(), [](const QByteArray& option) {
        return option.trimmed().compare("close", Qt::CaseInsensitive) == 0;
    });
}

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
    guard->setTls(tls);
    if (!guard->listen(address, port)) {
        error = guard->errorString();
        delete guard;
        return 0;
    }
    connect(guard, &ConnectionGuard::incoming, this, &MetricsServer::connectionIncoming);
    bind(guard);
    m_guard = guard;
    return guard->serverPort();
}

void MetricsServer::setTls(const std::optional<TlsSettings>& tls)
{
    if (m_guard)
        m_guard->setTls(tls);
}

bool MetricsServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // The parser reuses its request for the connection's next one: what the
    // answer needs is copied now.
    Request r;
    r.get = request.method() == QHttpServerRequest::Method::Get;
    r.head = request.method() == QHttpServerRequest::Method::Head;
    r.close = asksToClose(request.value("Connection"));
    r.path = request.url().path();
    r.authorization = request.value("Authorization");
    r.scrapeTimeout = request.value("X-Prometheus-Scrape-Timeout-Seconds");
    auto found = m_queues.find(socket);
    if (found == m_queues.end()) {
        found = m_queues.insert(socket, {});
        connect(socket, &QObject::destroyed, this, [this, socket] { m_queues.remove(socket); });
    }
    // After a request that closes the connection nothing more is answered.
    if (!found->empty() && found->back().close)
        return true;
    // Requests pile up behind a scrape only as far as a scraper would pile
    // them; a client sending more is dropped.
    if (found->size() >= MaxPipelined) {
        socket->abort();
        return true;
    }
    if (m_guard)
        m_guard->requestStarted(socket);
    found->push_back(std::move(r));
    if (found->size() == 1)
        next(socket);
    return true;
}

// Starts answering the first request of socket's queue.
void MetricsServer::next(QTcpSocket* socket)
{
    const auto found = m_queues.constFind(socket);
    if (found == m_queues.cend() || found->empty())
        return;
    QPointer<QTcpSocket> alive(socket);
    m_gate.check(found->front().authorization, socket->peerAddress(),
                 [this, alive](AuthGate::Verdict verdict) {
                     if (alive)
                         route(alive, verdict);
                 });
}

void MetricsServer::route(QTcpSocket* socket, AuthGate::Verdict verdict)
{
    const auto found = m_queues.constFind(socket);
    if (found == m_queues.cend() || found->empty())
        return;
    const Request& r = found->front();
    Answer answer;
    answer.contentType = PlainText;
    if (verdict == AuthGate::Verdict::Refused) {
        answer.status = 401;
        answer.body = "Unauthorized\n";
        answer.headers = {{"WWW-Authenticate", "Basic realm=\"orvanite-exporter\""}};
    } else if (verdict == AuthGate::Verdict::Throttled) {
        answer.status = 429;
        answer.body = "Too many wrong passwords from this address: try again later\n";
        answer.headers = {{"Retry-After", "10"}};
    } else if (r.path != QLatin1String("/metrics") && r.path != QLatin1String("/")) {
        answer.status = 404;
        answer.body = "Not found: try /metrics\n";
    } else if (!r.get && !r.head) {
        answer.status = 405;
        answer.body = "Only GET and HEAD are served here\n";
        answer.headers = {{"Allow", "GET, HEAD"}};
    } else if (r.path == QLatin1String("/")) {
        answer.contentType = "text/html; charset=utf-8";
        answer.body = IndexPage;
    } else {
        const int deadline = hostDeadlineMs(r.scrapeTimeout, m_collectTimeoutMs);
        // The answer goes out when the collection ends; the scraper may have
        // hung up by then, and its socket with it.
        QPointer<QTcpSocket> alive(socket);
        QPointer<MetricsServer> self(this);
        m_fleet.scrape(deadline, [self, alive](const QByteArray& text) {
            if (!self || !alive)
                return;
            Answer metrics;
            metrics.contentType = Exposition::ContentType;
            metrics.body = text;
            self->send(alive, metrics);
        });
        return;
    }
    send(socket, answer);
}

// Writes the answer to the first request of socket's queue and goes on to
// the next.
void MetricsServer::send(QTcpSocket* socket, const Answer& answer)
{
    auto found = m_queues.find(socket);
    if (found == m_queues.end() || found->empty())
        return;
    const Request r = std::move(found->front());
    found->pop_front();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' +
                         reason(answer.status) + "\r\nContent-Type: " + answer.contentType +
                         "\r\nContent-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        for (const auto& [name, value] : answer.headers)
            out += name + ": " + value + "\r\n";
        if (r.close)
            out += "Connection: close\r\n";
        out += "\r\n";
        if (!r.head)
            out += answer.body;
        socket->write(out);
    }
    if (m_guard)
        m_guard->requestAnswered(socket);
    if (r.close) {
        found->clear();
        // Sends what is written (over TLS too), then closes.
        socket->disconnectFromHost();
        return;
    }
    next(socket);
}

void MetricsServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket)
        .write(QByteArrayLiteral("Not found\n"), PlainText,
               QHttpServerResponder::StatusCode::NotFound);
}
