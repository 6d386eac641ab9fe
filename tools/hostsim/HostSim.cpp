#include "hostsim/HostSim.h"

#include "hostsim/SimConnection.h"
#include "hostsim/SimEncoder.h"
#include "hostsim/SimPopulation.h"
#include "hostsim/SimRequestReader.h"

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct HostSim::Impl
{
    explicit Impl(HostSim* owner) : q(owner) {}

    void acceptConnections();
    void handleItem(SimConnection* connection, const SimRequestReader::Item& item);
    void handleLogon(SimConnection* connection, const QByteArray& bytes);
    QByteArray processList(const QByteArray& listenerPin, int* records);
    void startListener(const QByteArray& argument);
    void kill(const QByteArray& argument);
    void setPriority(const QByteArray& argument);
    void log(const QString& line) { Q_EMIT q->logMessage(line); }
    QByteArray listenerList(int* records);
    void populationChanged();
    void rebuildPrepared();
    bool listsReshaped() const;

    HostSim* q;
    QTcpServer server;
    QList<SimConnection*> connections;
    QByteArray received;
    int accepted = 0;
    QString error;
    QTimer demoTimer;
    SimPopulation population;

    // A list reply as sent: its frames and the closing 0000.
    struct PreparedList
    {
        QByteArray block;
        int records = 0;
    };
    bool prepared = false;
    PreparedList listeners;
    QHash<QByteArray, PreparedList> processes; // by listener PIN
};

namespace {

// Request arguments in a log line: printable ASCII as it stands, the rest escaped.
QString printable(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && c != '\\')
            text.append(QLatin1Char(c));
        else
            text.append(QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0')));
    }
    return text;
}

bool isDecimal(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

HostSim::HostSim(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this))
{
    connect(&d->server, &QTcpServer::newConnection, this, [this] { d->acceptConnections(); });
    d->demoTimer.setInterval(2000);
    connect(&d->demoTimer, &QTimer::timeout, this, [this] {
        d->population.tickDemo(Listeners, Processes);
        d->populationChanged();
    });
}

HostSim::~HostSim()
{
    // Connections go first (those already closed and waiting for deletion
    // too): they point at our fault settings, and their signals at us.
    const QList<SimConnection*> all = findChildren<SimConnection*>(Qt::FindDirectChildrenOnly);
    for (SimConnection* connection : all) {
        connection->disconnect(this);
        delete connection;
    }
}

bool HostSim::listen(const QHostAddress& address, quint16 port)
{
    if (!d->server.listen(address, port)) {
        d->error = d->server.errorString();
        return false;
    }
    d->error.clear();
    return true;
}

quint16 HostSim::serverPort() const
{
    return d->server.serverPort();
}

QHostAddress HostSim::serverAddress() const
{
    return d->server.serverAddress();
}

QString HostSim::errorString() const
{
    return d->error;
}

const QByteArray& HostSim::received() const
{
    return d->received;
}

int HostSim::connectionCount() const
{
    return d->accepted;
}

int HostSim::openConnections() const
{
    return int(d->connections.size());
}

void HostSim::loadDemo()
{
    d->population.loadDemo(Listeners, Processes);
    d->populationChanged();
    d->demoTimer.start();
}

void HostSim::setDemoInterval(int milliseconds)
{
    d->demoTimer.setInterval(milliseconds);
}

bool HostSim::loadScenario(const QString& path, QString* error)
{
    d->demoTimer.stop();
    const bool loaded = SimPopulation::loadScenario(path, Listeners, Processes, error);
    d->populationChanged();
    return loaded;
}

void HostSim::populate(int processes)
{
    d->demoTimer.stop();
    if (Listeners.isEmpty())
        Listeners = SimPopulation::standardListeners(7, 1000);
    d->population.populate(Listeners, Processes, processes);
    d->populationChanged();
}

void HostSim::setPrepared(bool prepared)
{
    d->prepared = prepared;
    if (prepared) {
        d->rebuildPrepared();
    } else {
        d->processes.clear();
        d->listeners = {};
    }
}

bool HostSim::isPrepared() const
{
    return d->prepared;
}

void HostSim::prepare()
{
    d->populationChanged();
}

void HostSim::Impl::populationChanged()
{
    if (prepared)
        rebuildPrepared();
}

void HostSim::Impl::rebuildPrepared()
{
    // Every process list in one pass over the processes, each in the order
    // the processes stand, as processList() writes one.
    listeners.block = listenerList(&listeners.records);
    SimEncoder::appendEnd(listeners.block);
    processes.clear();
    for (const SimProcess& process : std::as_const(q->Processes)) {
        PreparedList& list = processes[process.ListenerPin];
        if (SimEncoder::appendProcess(list.block, process))
            ++list.records;
        else
            log(QStringLiteral("process %1 is too long to frame; left out")
                    .arg(printable(process.Pin)));
    }
    for (PreparedList& list : processes) {
        SimEncoder::appendEnd(list.block);
        list.block.squeeze();
    }
}

bool HostSim::Impl::listsReshaped() const
{
    const HostSimFaults& f = q->Faults;
    return f.FloodBytes > 0 || f.CloseAfterRecords >= 0 || f.ResetAfterRecords >= 0 ||
           f.BadHeader || f.LongFrame || f.ShortFrame || f.SRecordInProcessList ||
           f.NeverEndingList || f.TrickleSeconds > 0;
}

QByteArray HostSim::Impl::listenerList(int* records)
{
    QByteArray frames;
    int count = 0;
    for (const SimListener& listener : std::as_const(q->Listeners)) {
        if (SimEncoder::appendListener(frames, listener))
            ++count;
        else
            log(QStringLiteral("listener %1 is too long to frame; left out")
                    .arg(printable(listener.Pin)));
    }
    *records = count;
    return frames;
}

void HostSim::Impl::acceptConnections()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        auto* connection = new SimConnection(socket, &q->Faults, q);
        connections.append(connection);
        ++accepted;
        const QString peer = connection->peerText();
        log(QStringLiteral("%1 connected").arg(peer));
        QObject::connect(connection, &SimConnection::bytesReceived, q,
                         [this](const QByteArray& bytes) { received.append(bytes); });
        QObject::connect(connection, &SimConnection::itemRead, q,
                         [this, connection](const SimRequestReader::Item& item) {
                             handleItem(connection, item);
                         });
        QObject::connect(connection, &SimConnection::listSent, q, &HostSim::listSent);
        QObject::connect(connection, &SimConnection::closed, q, [this, connection, peer] {
            connections.removeOne(connection);
            connection->deleteLater();
            log(QStringLiteral("%1 disconnected").arg(peer));
            Q_EMIT q->clientDisconnected();
        });
        Q_EMIT q->clientConnected();
    }
}

void HostSim::Impl::handleItem(SimConnection* connection, const SimRequestReader::Item& item)
{
    const QString peer = connection->peerText();
    switch (item.kind) {
    case SimRequestReader::Item::Logon:
        handleLogon(connection, item.bytes);
        return;
    case SimRequestReader::Item::BadHeader:
        // Without a valid length the stream cannot be followed any further.
        log(QStringLiteral("%1 header \"%2\" is not four digits; closing")
                .arg(peer, printable(item.bytes)));
        connection->closeConnection();
        return;
    case SimRequestReader::Item::Request:
        break;
    }

    const QByteArray& letter = item.letter;
    const QByteArray& argument = item.argument;
    log(item.hasArgument ? QStringLiteral("%1 request %2 \"%3\"")
                               .arg(peer, printable(letter), printable(argument))
                         : QStringLiteral("%1 request %2").arg(peer, printable(letter)));

    if (letter == "Q") {
        connection->closeConnection();
    } else if (!connection->isAuthorised()) {
        log(QStringLiteral("%1 not logged on; request ignored").arg(peer));
    } else if (prepared && !listsReshaped() && (letter == "G" || letter == "H")) {
        if (letter == "G") {
            connection->sendPreparedList(letter, listeners.block, listeners.records);
        } else if (const auto list = processes.constFind(argument); list != processes.cend()) {
            connection->sendPreparedList(letter, list->block, list->records);
        } else {
            connection->sendPreparedList(letter, QByteArrayLiteral("0000"), 0);
        }
    } else if (letter == "G") {
        int records = 0;
        QByteArray frames = listenerList(&records);
        connection->sendList(letter, argument, std::move(frames), records);
    } else if (letter == "H") {
        int records = 0;
        QByteArray frames = processList(argument, &records);
        connection->sendList(letter, argument, std::move(frames), records);
    } else if (letter == "S") {
        startListener(argument);
        populationChanged();
    } else if (letter == "K") {
        kill(argument);
        populationChanged();
    } else if (letter == "P") {
        setPriority(argument);
        populationChanged();
    } else if (letter == "E") {
        log(QStringLiteral("shutting down: every listener stops"));
        demoTimer.stop();
        q->Listeners.clear();
        q->Processes.clear();
        populationChanged();
        Q_EMIT q->requestReceived(letter, argument);
        for (SimConnection* other : QList<SimConnection*>(connections))
            other->closeConnection();
        Q_EMIT q->shutdownRequested();
        return;
    } else {
        log(QStringLiteral("unknown request \"%1\" ignored").arg(printable(letter)));
    }
    Q_EMIT q->requestReceived(letter, argument);
}

QByteArray HostSim::Impl::processList(const QByteArray& listenerPin, int* records)
{
    QByteArray frames;
    int count = 0;
    if (q->Faults.SRecordInProcessList) {
        // A listener record where only process records belong.
        SimListener stray{
            listenerPin.isEmpty() ? QByteArray("1") : listenerPin, "30999", "STRAY", "2", "0", {}};
        for (const SimListener& listener : std::as_const(q->Listeners))
            if (listener.Pin == listenerPin)
                stray = listener;
        SimEncoder::appendListener(frames, stray);
        ++count;
    }
    for (const SimProcess& process : std::as_const(q->Processes)) {
        if (process.ListenerPin != listenerPin)
            continue;
        if (SimEncoder::appendProcess(frames, process))
            ++count;
        else
            log(QStringLiteral("process %1 is too long to frame; left out")
                    .arg(printable(process.Pin)));
    }
    if (records)
        *records = count;
    return frames;
}

void HostSim::Impl::handleLogon(SimConnection* connection, const QByteArray& bytes)
{
    const QString peer = connection->peerText();
    Q_EMIT q->logonReceived(bytes);
    bool match = true;
    for (int i = 0; i < 7; ++i)
        if (bytes.mid(6 + 16 * i, 16) != SimEncoder::logonField(q->Credentials[size_t(i)]))
            match = false;
    // Passwords stay out of the log.
    log(QStringLiteral("%1 logon kind %2 user \"%3\" group \"%4\" account \"%5\": %6")
            .arg(peer, printable(bytes.left(6)), printable(bytes.mid(6, 16).trimmed()),
                 printable(bytes.mid(38, 16).trimmed()), printable(bytes.mid(70, 16).trimmed()),
                 match ? QStringLiteral("credentials match")
                       : QStringLiteral("credentials do not match")));
    const HostSimFaults& f = q->Faults;
    if (f.Silent || f.LogonNever || (match && f.LogonReply.isEmpty())) {
        log(QStringLiteral("%1 logon left unanswered").arg(peer));
        return;
    }
    if (f.CloseDuringLogon) {
        log(QStringLiteral("%1 closing during the logon").arg(peer));
        connection->closeConnection();
        return;
    }
    const QByteArray reply = match ? f.LogonReply.left(1) : QByteArray("1");
    connection->setAuthorised(reply == "0");
    connection->sendLogonReply(reply);
}

void HostSim::Impl::startListener(const QByteArray& argument)
{
    // product|port|users|command; the command may hold bars of its own.
    const qsizetype b1 = argument.indexOf('|');
    const qsizetype b2 = b1 < 0 ? -1 : argument.indexOf('|', b1 + 1);
    const qsizetype b3 = b2 < 0 ? -1 : argument.indexOf('|', b2 + 1);
    if (b3 < 0) {
        log(QStringLiteral("start refused: the argument is not product|port|users|command"));
        return;
    }
    const QByteArray product = argument.left(b1);
    const QByteArray port = argument.mid(b1 + 1, b2 - b1 - 1);
    QByteArray users = argument.mid(b2 + 1, b3 - b2 - 1);
    const QByteArray command = argument.mid(b3 + 1);
    if (users.isEmpty())
        users = "0";
    // The listener's program is the first word of the command up to its first dot.
    QByteArray program = command;
    if (qsizetype space = program.indexOf(' '); space >= 0)
        program.truncate(space);
    if (qsizetype dot = program.indexOf('.'); dot >= 0)
        program.truncate(dot);
    if (!isDecimal(product) || !isDecimal(port) || !isDecimal(users) || program.isEmpty()) {
        log(QStringLiteral("start refused: product \"%1\", port \"%2\", users \"%3\", command "
                           "\"%4\" (numbers must be decimal, the command not empty)")
                .arg(printable(product), printable(port), printable(users), printable(command)));
        return;
    }
    SimListener listener{
        population.freshPin(q->Listeners, q->Processes), port, program, product, users, {}};
    log(QStringLiteral("listener %1 started: product %2 port %3 program %4")
            .arg(printable(listener.Pin), printable(product), printable(port), printable(program)));
    q->Listeners.append(listener);
}

void HostSim::Impl::kill(const QByteArray& argument)
{
    if (argument.startsWith('S')) {
        const QByteArray pin = argument.mid(1);
        const qsizetype removed =
            q->Listeners.removeIf([&](const SimListener& l) { return l.Pin == pin; });
        if (removed == 0) {
            log(QStringLiteral("kill: no listener %1").arg(printable(pin)));
            return;
        }
        const qsizetype users =
            q->Processes.removeIf([&](const SimProcess& p) { return p.ListenerPin == pin; });
        log(QStringLiteral("listener %1 killed with %2 processes").arg(printable(pin)).arg(users));
    } else if (argument.startsWith('P') && argument.contains('|')) {
        const qsizetype bar = argument.indexOf('|');
        const QByteArray main = argument.mid(1, bar - 1);
        const QByteArray pin = argument.mid(bar + 1);
        const qsizetype removed = q->Processes.removeIf(
            [&](const SimProcess& p) { return p.Pin == pin && p.MainPin == main; });
        log(removed ? QStringLiteral("process %1 of %2 killed").arg(printable(pin), printable(main))
                    : QStringLiteral("kill: no process %1 with main %2")
                          .arg(printable(pin), printable(main)));
    } else {
        log(QStringLiteral("kill: argument \"%1\" is neither S<pin> nor P<main>|<pin>")
                .arg(printable(argument)));
    }
}

void HostSim::Impl::setPriority(const QByteArray& argument)
{
    if (argument.isEmpty()) {
        log(QStringLiteral("priority: no queue chosen, nothing changed"));
        return;
    }
    const qsizetype bar = argument.indexOf('|');
    const QByteArray pin = argument.left(bar);
    const QByteArray digit = bar < 0 ? QByteArray() : argument.mid(bar + 1);
    if (digit.size() != 1 || digit[0] < '1' || digit[0] > '4') {
        log(QStringLiteral("priority: argument \"%1\" is not <pin>|<1..4>")
                .arg(printable(argument)));
        return;
    }
    int changed = 0;
    for (SimProcess& process : q->Processes) {
        if (process.Pin == pin) {
            process.Priority = digit[0] - '0';
            ++changed;
        }
    }
    log(changed ? QStringLiteral("process %1 now in queue %2").arg(printable(pin), printable(digit))
                : QStringLiteral("priority: no process %1").arg(printable(pin)));
}
