#include "support/HostLinkFixture.h"

#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace HostLinkFixture {

namespace {

sockaddr_in loopback(int port)
{
    return {.sin_family = AF_INET,
            .sin_port = htons(static_cast<quint16>(port)),
            .sin_addr = {htonl(INADDR_LOOPBACK)},
            .sin_zero = {}};
}

// A socket bound to an ephemeral loopback port, which port tells.
int boundLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

int unusedLoopbackPort()
{
    int port = 0;
    const int fd = boundLoopback(port);
    if (fd >= 0)
        ::close(fd); // bound but never listening: the port refuses connections
    return port;
}

SilentListener::SilentListener(bool fillBacklog)
{
    m_fd = boundLoopback(m_port);
    if (m_fd < 0 || ::listen(m_fd, 0) != 0 || !fillBacklog)
        return;
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(m_port);
    ::connect(m_filler, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

SilentListener::~SilentListener()
{
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_fd >= 0)
        ::close(m_fd);
}

QStringList lines(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out << QString::fromLatin1(item);
    return out;
}

std::unique_ptr<HostSim> startHost()
{
    auto host = std::make_unique<HostSim>();
    if (!host->listen())
        return nullptr;
    host->Listeners = {{"11", "30001", "ONE", "2", "0", {}}, {"22", "30002", "TWO", "8", "5", {}}};
    host->Processes = {{"11", "11", "101", "PROG", "USER", 1500, 3, {}},
                       {"11", {}, "102", "PROG", "OTHER", 123456, 0, {}},
                       {"22", "22", "201", "CND", "ANN", 0, 0, {}}};
    return host;
}

ConnectionSettings settingsFor(quint16 port)
{
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = port;
    return settings;
}

std::unique_ptr<HostSession> sessionFor(quint16 port)
{
    auto session = std::make_unique<HostSession>();
    session->setSettings(settingsFor(port));
    // A fault's renewal at the next exchange: the back-off has a test of its own.
    session->setRenewalDelays(0, 0);
    new QAbstractItemModelTester(session->listeners(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 session.get());
    new QAbstractItemModelTester(session->processes(),
                                 QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 session.get());
    return session;
}

void SessionTestCase::init()
{
    sim = startHost();
    QVERIFY(sim);
    session = sessionFor(sim->serverPort());
}

void SessionTestCase::cleanup()
{
    session.reset();
    sim.reset();
}

namespace {

bool startAndWait(HostSession& session, bool withLists, int timeoutMs)
{
    QSignalSpy finished(&session, &HostSession::connectFinished);
    if (withLists)
        session.connectToHost();
    else
        session.logOn();
    if (!finished.wait(timeoutMs) || !finished.first().first().toBool())
        return false;
    return waitIdle(session, timeoutMs);
}

} // namespace

bool connectAndWait(HostSession& session, int timeoutMs)
{
    return startAndWait(session, true, timeoutMs);
}

bool logOn(HostSession& session, int timeoutMs)
{
    return startAndWait(session, false, timeoutMs);
}

bool waitIdle(HostSession& session, int timeoutMs)
{
    return QTest::qWaitFor([&session] { return !session.isBusy(); }, timeoutMs);
}

void CollectingSink::record(const Wire::SplitResult& record, QByteArrayView body)
{
    ++count;
    if (keepBodies)
        bodies.append(body.toByteArray());
    if (onRecord)
        onRecord(record);
}

ListRead readList(HostSession& session, char letter, const std::optional<QByteArray>& argument,
                  CollectingSink* sink, int timeoutMs)
{
    CollectingSink ownSink;
    if (!sink)
        sink = &ownSink;
    ListRead read;
    bool ended = false;
    QObject scope;
    QObject::connect(&session, &HostSession::listEnded, &scope,
                     [&read, &ended](HostSession::ListEnd end, int records) {
                         ended = true;
                         read.end = end;
                         read.records = records;
                     });
    session.requestList(letter, argument, sink);
    // A list that never ends is told by the end left at ListEnd(-1).
    (void)QTest::qWaitFor([&] { return ended && !session.isBusy(); }, timeoutMs);
    read.bodies = sink->bodies;
    return read;
}

QStringList shownRows(const QAbstractItemModel& table)
{
    QStringList out;
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table.columnCount(); ++column)
            cells << table.index(row, column).data().toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QList<QByteArray> listenerRecords(const HostSim& host)
{
    QList<QByteArray> out;
    for (const SimListener& l : host.Listeners)
        out.append("S" + l.Pin + "|" + l.Port + " " + l.Program + "|" + l.Product + "|" +
                   l.UserLimit + l.Tail);
    return out;
}

Transcript::Transcript(HostSession& session)
{
    using LogonResult = HostSession::LogonResult;
    using ListEnd = HostSession::ListEnd;
    QObject::connect(&session, &HostSession::logonProgress, &session,
                     [this](int step) { lines << QStringLiteral("progress %1").arg(step); });
    QObject::connect(&session, &HostSession::logonFailed, &session, [this](LogonResult result) {
        lines << QStringLiteral("logon failed %1").arg(int(result));
    });
    QObject::connect(&session, &HostSession::socketError, &session,
                     [this](int code, const QString& text) {
                         lines << QStringLiteral("error %1 %2").arg(code).arg(text);
                     });
    QObject::connect(&session, &HostSession::connectFinished, &session,
                     [this](bool ok) { lines << QStringLiteral("connected %1").arg(ok); });
    QObject::connect(&session, &HostSession::listEnded, &session, [this](ListEnd end, int n) {
        lines << QStringLiteral("list %1 %2").arg(int(end)).arg(n);
    });
    QObject::connect(
        &session, &HostSession::commandSent, &session, [this](const HostCommand& command) {
            lines << QStringLiteral("sent %1 %2")
                         .arg(QLatin1Char(command.letter()))
                         .arg(QString::fromLatin1(command.argument().value_or(QByteArray())));
        });
    QObject::connect(&session, &HostSession::notices, &session, [this](const QStringList& texts) {
        if (!texts.isEmpty())
            lines << QStringLiteral("notices ") + texts.join(QLatin1Char('|'));
    });
}

QStringList Transcript::only(const QString& prefix) const
{
    QStringList out;
    for (const QString& line : lines)
        if (line.startsWith(prefix))
            out << line;
    return out;
}

HostRequests::HostRequests(HostSim& host)
{
    QObject::connect(&host, &HostSim::requestReceived, &host,
                     [this](const QByteArray& letter, const QByteArray&) {
                         lines << QString::fromLatin1(letter);
                     });
    QObject::connect(&host, &HostSim::logonReceived, &host,
                     [this] { lines << QStringLiteral("logon"); });
}

} // namespace HostLinkFixture
