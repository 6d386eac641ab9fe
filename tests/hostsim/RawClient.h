#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

// A console stand-in for the simulator's tests: a plain socket that sends
// bytes exactly as given and collects every byte that comes back, while the
// event loop (and the in-process simulator with it) keeps running.
class RawClient : public QObject
{
    Q_OBJECT

public:
    explicit RawClient(QObject* parent = nullptr);

    bool connectTo(quint16 port);
    void send(const QByteArray& bytes);
    // The 118 logon bytes for the seven fields (each space-filled to 16).
    static QByteArray logonBytes(const QList<QByteArray>& fields);
    static QByteArray managerLogon();
    // Waits until `count` bytes (in all) have arrived; false on time-out or close.
    bool waitForBytes(qsizetype count, int timeoutMs = 5000);
    // Waits until what arrived ends with the empty message 0000 at a frame boundary.
    bool waitForListEnd(int timeoutMs = 5000);
    bool waitForClose(int timeoutMs = 5000);
    // Sends requests and takes everything up to the end of a list, marked
    // "(no list end) " when it did not come.
    QByteArray ask(const QByteArray& requests);
    // Everything received and not yet taken.
    QByteArray take();
    const QByteArray& data() const { return m_data; }
    int reads() const { return m_reads; }
    // Logs on as MANAGER/SYS and checks the "0".
    bool logOn(quint16 port);

    // Splits framed bytes: the bodies, and whether a 0000 ended them. Strict:
    // false on a bad header or a partial frame.
    static bool frames(const QByteArray& bytes, QList<QByteArray>* bodies, bool* ended);

private:
    bool isOpen() const;

    QTcpSocket m_socket;
    QByteArray m_data;
    int m_reads = 0;
};
