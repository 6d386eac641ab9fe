#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

// Clients that hold an exporter's connections: each opens one, sends its
// part, and opens it again when the exporter closes it.
class Flood : public QObject
{
public:
    enum class Kind
    {
        Idle,       // sends nothing, and is not opened again
        SlowHeader, // a header byte every 2 s, never ending it
        BadLogin,   // a request with a wrong password, again after every answer
        NoLogin,    // a request without credentials, again after every answer
    };

    // again: how long a client waits after an answer before it asks again
    // (0: at once).
    Flood(quint16 port, Kind kind, int clients, int againMs = 0)
        : m_port(port), m_kind(kind), m_againMs(againMs)
    {
        for (int i = 0; i < clients; ++i) {
            auto* socket = new QTcpSocket(this);
            connect(socket, &QTcpSocket::connected, this, [this, socket] { opened(socket); });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answered(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                ++closed;
                if (m_kind != Kind::Idle)
                    QTimer::singleShot(200, socket, [this, socket] { reopen(socket); });
            });
            reopen(socket);
        }
        if (kind == Kind::SlowHeader) {
            m_drip.callOnTimeout(this, [this] {
                for (QTcpSocket* socket : findChildren<QTcpSocket*>())
                    if (socket->state() == QAbstractSocket::ConnectedState)
                        socket->write("X");
            });
            m_drip.start(2000);
        }
    }

    int answers = 0; // whole answers read
    int closed = 0;  // connections the exporter closed

private:
    void reopen(QTcpSocket* socket)
    {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->connectToHost(QHostAddress::LocalHost, m_port);
    }
    void opened(QTcpSocket* socket)
    {
        if (m_kind == Kind::SlowHeader)
            socket->write("GET /metrics HTTP/1.1\r\nX-Slow: ");
        else if (m_kind != Kind::Idle)
            ask(socket);
    }
    void ask(QTcpSocket* socket)
    {
        QByteArray request = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
        if (m_kind == Kind::BadLogin)
            request += "Authorization: Basic " + QByteArray("prometheus:wrong").toBase64() + "\r\n";
        socket->write(request + "\r\n");
    }
    void answered(QTcpSocket* socket)
    {
        // Every answer here is a short one, read whole.
        const QByteArray data = socket->readAll();
        answers += int(data.count("HTTP/1.1 "));
        if (m_kind == Kind::BadLogin || m_kind == Kind::NoLogin)
            QTimer::singleShot(m_againMs, socket, [this, socket] { ask(socket); });
    }

    quint16 m_port;
    Kind m_kind;
    int m_againMs;
    QTimer m_drip;
};
