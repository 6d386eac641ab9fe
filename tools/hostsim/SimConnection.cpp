#include "hostsim/SimConnection.h"

#include "hostsim/HostSim.h"
#include "hostsim/SimEncoder.h"

#include <QTcpSocket>

#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace {

// Generated streams (endless lists, floods) are written only while the
// socket's own buffer is below this, so a slow or stalled reader costs the
// simulator bounded memory.
constexpr qint64 GeneratedHighWater = 256 * 1024;
constexpr qint64 GeneratedBatch = 64 * 1024;

// The length a well-formed header at `at` announces.
qsizetype frameLengthAt(const QByteArray& frames, qsizetype at)
{
    const char* h = frames.constData() + at;
    return (h[0] - '0') * 1000 + (h[1] - '0') * 100 + (h[2] - '0') * 10 + (h[3] - '0');
}

// The offset just behind the first `count` frames.
qsizetype endOfFrames(const QByteArray& frames, int count)
{
    qsizetype at = 0;
    for (int i = 0; i < count && at + 4 <= frames.size(); ++i)
        at += 4 + frameLengthAt(frames, at);
    return std::min(at, frames.size());
}

// The offset just behind each frame.
QList<qsizetype> frameEnds(const QByteArray& frames)
{
    QList<qsizetype> ends;
    qsizetype at = 0;
    while (at < frames.size()) {
        at += 4 + frameLengthAt(frames, at);
        ends.append(at);
    }
    return ends;
}

// The header faults: the first record's header announces a length other
// than its own, or is no length at all (the closing 0000's, when the list
// has no records).
void spoilHeader(const HostSimFaults& f, QByteArray& frames, bool hasRecords, QByteArray& end)
{
    if (hasRecords) {
        const qsizetype length = frameLengthAt(frames, 0);
        QByteArray header;
        if (f.LongFrame)
            header = SimEncoder::header(std::max<qsizetype>(length - 1, 1));
        if (f.ShortFrame)
            header = SimEncoder::header(std::min<qsizetype>(length + 5, SimEncoder::MaxBody));
        if (f.BadHeader)
            header = QByteArrayLiteral("00x1");
        if (!header.isEmpty())
            frames.replace(0, 4, header);
    } else if (f.BadHeader && !end.isEmpty()) {
        end = QByteArrayLiteral("00x1");
    }
}

} // namespace

SimConnection::SimConnection(QTcpSocket* socket, const HostSimFaults* faults, QObject* parent)
    : QObject(parent), m_socket(socket), m_faults(faults)
{
    m_socket->setParent(this);
    // Small replies go out at once; split writes must leave as separate segments.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SimConnection::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &SimConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &SimConnection::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &SimConnection::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            onDisconnected();
    });
}

SimConnection::~SimConnection()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

QString SimConnection::peerText() const
{
    return QStringLiteral("%1:%2")
        .arg(m_socket->peerAddress().toString())
        .arg(m_socket->peerPort());
}

qint64 SimConnection::delayMs() const
{
    return qint64(std::max(0.0, m_faults->ReplyDelaySeconds) * 1000.0 + 0.5);
}

void SimConnection::onReadyRead()
{
    while (m_socket->bytesAvailable() > 0 && !m_closing) {
        const QByteArray bytes = m_socket->readAll();
        Q_EMIT bytesReceived(bytes);
        m_reader.append(bytes);
        while (!m_closing) {
            std::optional<SimRequestReader::Item> item = m_reader.next();
            if (!item)
                break;
            Q_EMIT itemRead(*item);
        }
    }
    // After a close the rest is read and dropped, so the peer's writes
    // never block on a full window.
    if (m_closing)
        m_socket->readAll();
}

void SimConnection::onDisconnected()
{
    m_closing = true;
    m_timer.stop();
    m_queue.clear();
    m_generator = Generator();
    if (!m_closedSignalled) {
        m_closedSignalled = true;
        Q_EMIT closed();
    }
}

void SimConnection::sendLogonReply(const QByteArray& reply)
{
    if (m_closing || reply.isEmpty())
        return;
    Chunk chunk;
    chunk.bytes = reply;
    chunk.notBefore = now() + delayMs();
    m_queue.enqueue(chunk);
    pump();
}

void SimConnection::sendList(const QByteArray& letter, const QByteArray& argument,
                             QByteArray frames, int records)
{
    if (m_closing)
        return;
    const HostSimFaults& f = *m_faults;
    const qint64 base = now() + delayMs();
    const qint64 gap = qint64(std::max(0.0, f.TrickleSeconds) * 1000.0 + 0.5);

    if (f.FloodBytes > 0) {
        Chunk start;
        start.notBefore = base;
        start.listLetter = letter;
        start.listRecords = 0;
        start.generator.kind = Generator::Flood;
        start.generator.letter = letter;
        start.generator.remaining = f.FloodBytes;
        m_queue.enqueue(start);
        pump();
        return;
    }

    After after = After::Nothing;
    const int sent = cutShort(f, records, after);
    if (sent < records)
        frames.truncate(endOfFrames(frames, sent));
    // Frame boundaries are taken before any header is spoilt.
    const QList<qsizetype> cuts = gap > 0 ? frameEnds(frames) : QList<qsizetype>();

    const bool endless = f.NeverEndingList && after == After::Nothing;
    QByteArray end;
    if (after == After::Nothing && !endless)
        SimEncoder::appendEnd(end);
    spoilHeader(f, frames, sent > 0, end);

    QList<Chunk> chunks = chunked(std::move(frames), cuts, end, gap);
    chunks.front().notBefore = base;
    Chunk& last = chunks.back();
    last.after = after;
    last.listLetter = letter;
    last.listRecords = sent;
    if (endless) {
        last.generator.kind = Generator::Endless;
        last.generator.letter = letter;
        last.generator.argument = argument;
        last.generator.serial = records;
        last.generator.gapMs = gap;
    }
    for (Chunk& c : chunks)
        m_queue.enqueue(std::move(c));
    pump();
}

int SimConnection::cutShort(const HostSimFaults& f, int records, After& after)
{
    // K records, then the connection ends instead of the list; the earlier
    // of a close and a reset wins.
    int sent = records;
    if (f.CloseAfterRecords >= 0 && records >= f.CloseAfterRecords) {
        after = After::Close;
        sent = f.CloseAfterRecords;
    }
    if (f.ResetAfterRecords >= 0 && records >= f.ResetAfterRecords &&
        (after == After::Nothing || f.ResetAfterRecords < sent)) {
        after = After::Reset;
        sent = f.ResetAfterRecords;
    }
    return sent;
}

QList<SimConnection::Chunk> SimConnection::chunked(QByteArray frames, const QList<qsizetype>& cuts,
                                                   const QByteArray& end, qint64 gapMs)
{
    QList<Chunk> chunks;
    if (gapMs <= 0) {
        Chunk c;
        frames.append(end);
        c.bytes = std::move(frames);
        chunks.append(c);
        return chunks;
    }
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        Chunk c;
        c.bytes = frames.mid(from, cut - from);
        c.gapMs = gapMs;
        chunks.append(c);
        from = cut;
    }
    Chunk last;
    last.bytes = end;
    last.gapMs = gapMs;
    chunks.append(last);
    return chunks;
}

void SimConnection::sendPreparedList(const QByteArray& letter, const QByteArray& block, int records)
{
    if (m_closing)
        return;
    Chunk chunk;
    chunk.bytes = block;
    chunk.notBefore = now() + delayMs();
    chunk.listLetter = letter;
    chunk.listRecords = records;
    m_queue.enqueue(std::move(chunk));
    pump();
}

void SimConnection::closeConnection()
{
    if (m_closing)
        return;
    m_closing = true;
    m_timer.stop();
    m_queue.clear();
    m_generator = Generator();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
    else
        m_socket->disconnectFromHost(); // what was written still goes out first
}

bool SimConnection::produceGenerated()
{
    Generator& g = m_generator;
    Chunk chunk;
    chunk.gapMs = g.gapMs;
    if (g.kind == Generator::Flood) {
        // Frames of the largest size, the last one cut where the byte budget ends.
        // What did not fit into the last batch starts this one, so that
        // only the end of the whole flood cuts a frame.
        const qint64 budget = std::min(g.remaining, GeneratedBatch);
        chunk.bytes = std::exchange(g.carry, QByteArray());
        while (chunk.bytes.size() < budget) {
            QByteArray body = "P1|" + QByteArray::number(++g.serial) + "|FLOOD|";
            const QByteArray tail = "|0";
            body.append(SimEncoder::MaxBody - body.size() - tail.size(), 'X');
            body.append(tail);
            SimEncoder::appendFrame(chunk.bytes, body);
        }
        g.carry = chunk.bytes.mid(budget);
        chunk.bytes.truncate(budget);
        g.remaining -= budget;
        if (g.remaining <= 0)
            g = Generator();
    } else {
        // One record per chunk when trickling, else a batch.
        const qint64 budget = g.gapMs > 0 ? 1 : GeneratedBatch;
        while (chunk.bytes.size() < budget) {
            const QByteArray serial = QByteArray::number(++g.serial);
            QByteArray body;
            if (g.letter == "G") {
                body = "S" + serial + "|" + QByteArray::number(40000 + g.serial % 20000) +
                       " ENDLESS|2|0";
            } else {
                body = "P0" + (g.argument.isEmpty() ? QByteArray("1") : g.argument) + "|" + serial +
                       "|ENDLESS|FILLER|" + serial;
            }
            if (!SimEncoder::appendFrame(chunk.bytes, body))
                break;
        }
    }
    if (chunk.bytes.isEmpty())
        return false;
    m_queue.enqueue(std::move(chunk));
    return true;
}

void SimConnection::pump()
{
    // flush() reports bytesWritten from inside this function; the outer call
    // already looks at the state that follows, so the inner one has nothing to add.
    if (m_pumping)
        return;
    m_pumping = true;
    pumpQueue();
    m_pumping = false;
}

void SimConnection::pumpQueue()
{
    if (m_closing || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (m_pendingAfter != After::Nothing) {
        // The close or reset waits until everything before it left the socket.
        if (m_socket->bytesToWrite() == 0)
            finish(m_pendingAfter);
        return;
    }
    for (;;) {
        if (m_queue.isEmpty()) {
            if (m_generator.kind == Generator::None)
                return;
            if (m_socket->bytesToWrite() > GeneratedHighWater)
                return; // bytesWritten brings us back
            if (!produceGenerated())
                return;
        }
        Chunk& head = m_queue.head();
        if (m_splitOffset == 0) {
            qint64 ready = head.notBefore;
            if (head.gapMs > 0)
                ready = std::max(ready, m_lastSend + head.gapMs);
            const qint64 t = now();
            if (t < ready) {
                m_timer.start(int(std::min<qint64>(ready - t, 24 * 3600 * 1000)));
                return;
            }
        }
        if (m_faults->SplitWrites && !head.bytes.isEmpty()) {
            // One byte per write, each pushed to the kernel on its own, with
            // a pass of the event loop between them.
            m_socket->write(head.bytes.constData() + m_splitOffset, 1);
            m_socket->flush();
            ++m_splitOffset;
            if (m_splitOffset < head.bytes.size()) {
                m_timer.start(0);
                return;
            }
            m_splitOffset = 0;
        } else if (!head.bytes.isEmpty()) {
            m_socket->write(head.bytes);
        }
        m_lastSend = now();
        Chunk done = m_queue.dequeue();
        if (done.generator.kind != Generator::None)
            m_generator = done.generator;
        if (done.listRecords >= 0)
            Q_EMIT listSent(done.listLetter, done.listRecords);
        if (m_closing)
            return;
        if (done.after != After::Nothing) {
            m_queue.clear();
            m_generator = Generator();
            m_pendingAfter = done.after;
            m_socket->flush();
            if (m_socket->bytesToWrite() == 0)
                finish(m_pendingAfter);
            return;
        }
    }
}

void SimConnection::finish(After after)
{
    m_pendingAfter = After::Nothing;
    if (after == After::Reset) {
        // A zero linger time makes the close send a reset instead of a FIN.
        const linger hard{1, 0};
        ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        m_closing = true;
        m_socket->abort();
        onDisconnected();
    } else {
        closeConnection();
    }
}
