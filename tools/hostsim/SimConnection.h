#pragma once

#include "SimRequestReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

class QTcpSocket;
struct HostSimFaults;

// One console's connection to the simulated server job. It reads the logon
// and the requests and hands them on; it writes the replies the simulator
// queues, shaped by the fault flags (delay, byte-by-byte writes, trickling,
// lists cut short or never ending, floods, closes and resets), always from
// the event loop and never by blocking it.
class SimConnection : public QObject
{
    Q_OBJECT

public:
    SimConnection(QTcpSocket* socket, const HostSimFaults* faults, QObject* parent = nullptr);
    ~SimConnection() override;

    // Set once the logon was answered with "0": only then are requests served.
    bool isAuthorised() const { return m_authorised; }
    void setAuthorised(bool authorised) { m_authorised = authorised; }
    QString peerText() const;

    // Queues the one-character logon reply.
    void sendLogonReply(const QByteArray& reply);
    // Queues a list. frames holds `records` well-formed frames without the
    // closing empty message; letter and argument are those of the request
    // (they shape the records of a never-ending list).
    void sendList(const QByteArray& letter, const QByteArray& argument, QByteArray frames,
                  int records);
    // Ends the connection after what has been written; queued replies are dropped.
    void closeConnection();
    bool isClosing() const { return m_closing; }

Q_SIGNALS:
    void bytesReceived(const QByteArray& bytes);
    void itemRead(const SimRequestReader::Item& item);
    void listSent(const QByteArray& letter, int records);
    void closed();

private:
    enum class After
    {
        Nothing,
        Close,
        Reset
    };
    struct Generator
    {
        enum Kind
        {
            None,
            Endless, // synthetic records, one after another, for ever
            Flood    // maximal frames until `remaining` bytes went out
        };
        Kind kind = None;
        QByteArray letter;
        QByteArray argument;
        qint64 remaining = 0;
        qint64 serial = 0;
        qint64 gapMs = 0;
    };
    struct Chunk
    {
        QByteArray bytes;
        qint64 notBefore = 0; // on m_clock
        qint64 gapMs = 0;     // at least this long after the previous chunk went out
        After after = After::Nothing;
        QByteArray listLetter;
        int listRecords = -1; // >= 0: the chunk ends a list of this many records
        Generator generator;  // started once the chunk went out
    };

    void onReadyRead();
    void onDisconnected();
    void pump();
    bool produceGenerated();
    void finish(After after);
    qint64 now() const { return m_clock.elapsed(); }
    qint64 delayMs() const;

    QTcpSocket* m_socket;
    const HostSimFaults* m_faults;
    SimRequestReader m_reader;
    QQueue<Chunk> m_queue;
    Generator m_generator;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastSend = 0;
    qsizetype m_splitOffset = 0; // bytes of the head chunk written one by one so far
    After m_pendingAfter = After::Nothing;
    bool m_authorised = false;
    bool m_closing = false;
    bool m_closedSignalled = false;
};
