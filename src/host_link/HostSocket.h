#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <QString>
#include <sys/socket.h>

#include <array>
#include <memory>

class QSocketNotifier;

// The console's one TCP connection to the host's server job. It carries bytes
// only: connection set-up, unframed sends, a receive buffer filled by socket
// notifications on the thread's event loop, and a report of every failure
// with its Windows Sockets number (errorOccurred). Nothing here waits: the
// session reads what is buffered when readyRead says more came. It knows
// nothing of the wire protocol.
class HostSocket : public QObject
{
    Q_OBJECT

public:
    enum class SocketState : quint8
    {
        NotStarted,
        Closed,
        Connected,
    };
    Q_ENUM(SocketState)

    // Most bytes the receive buffer may hold. A peer that sends more without
    // the console reading them is cut off (10055 "No buffer space available").
    static constexpr qsizetype MaxBuffered = 16 * 1024 * 1024;

    explicit HostSocket(QObject* owner = nullptr);
    ~HostSocket() override;

    // Where the next connection goes: a host name or dotted IPv4 address,
    // and the TCP port as decimal text.
    void setHostAddress(const QByteArray& address) { m_hostAddress = address; }
    const QByteArray& hostAddress() const { return m_hostAddress; }
    void setPort(const QByteArray& port) { m_port = port; }
    const QByteArray& port() const { return m_port; }
    // When set, connectToHost connects to this Unix socket instead of the
    // address and port (a forward that leads there); errors as for TCP.
    void setUnixPath(const QByteArray& path) { m_unixPath = path; }
    const QByteArray& unixPath() const { return m_unixPath; }
    // When set, the next connectToHost takes this descriptor instead of
    // connecting: one end of a stream already connected (a socket pair whose
    // other end a forwarding program holds). The socket owns it from here
    // on; -1 clears it.
    void setStream(int fd);
    void setAuthorized(bool authorized) { m_authorized = authorized; }
    bool isAuthorized() const { return m_authorized; }

    // Written by the session before each logon; sent with the logon.
    void setLogon(const std::array<QByteArray, 7>& fields, qint32 kind)
    {
        m_logonFields = fields;
        m_logonKind = kind;
    }
    const std::array<QByteArray, 7>& logonFields() const { return m_logonFields; }
    qint32 logonKind() const { return m_logonKind; }
    // Longest wait of a connection attempt, in whole seconds.
    void setReadTimeout(qint32 seconds) { m_readTimeout = seconds; }
    qint32 readTimeout() const { return m_readTimeout; }

    SocketState state() const { return m_state; }
    qint32 LastError() const { return m_lastError; }
    qsizetype RecvCount() const;
    // The descriptor of the socket in use; -1 when there is none.
    int SocketHandle() const;

    void Disconnect();
    void SendText(QByteArrayView text);
    void ClearBuffer();

    QString ErrorText() const;
    static QString ErrorText(int code);

    // Starts a connection to the address and port and returns at once; the
    // outcome comes as connectFinished. A connection that is not made within
    // readTimeout() seconds is given up with 10060. A port that is not a number
    // throws EConvertError, one outside 0..65535 ERangeError; nothing else
    // happens then.
    void connectToHost();
    // The received bytes not yet taken, and taking them.
    QByteArrayView buffered() const;
    void consume(qsizetype count);
    // Takes into the buffer whatever the system holds for the socket now.
    void readPending();

    // Notification logic; public so that tests can drive it.
    void HandleRead(int error);
    void HandleClose(int error);
    void ReportError(int code);

Q_SIGNALS:
    // Bytes were added to the receive buffer.
    void readyRead();
    // The connection ended: the peer closed it or Disconnect released it.
    // Bytes still buffered stay readable.
    void disconnected();
    // The outcome of connectToHost; a failure has been reported before.
    void connectFinished(bool connected);
    // Every failure: the Windows Sockets number and its text.
    void errorOccurred(int code, const QString& text);

private:
    // Resolves the host, opens a non-blocking socket and starts connecting
    // it: 0 when connected at once, -1 when under way (the socket is d->fd
    // either way), else the Windows Sockets number of the failure (no socket).
    int startConnection(quint16 port);
    int startLocalConnection();
    // Connects the socket in hand to peer: 0 when made, -1 while it is being
    // made, else the error's code (the socket then closed).
    int connectTo(const sockaddr* peer, socklen_t size, bool local);
    void finishConnect(int fd);
    void attachNotifier(int fd);

    struct Impl;
    std::unique_ptr<Impl> d;
    QByteArray m_hostAddress;
    QByteArray m_port;
    QByteArray m_unixPath;
    bool m_authorized = false;
    std::array<QByteArray, 7> m_logonFields;
    qint32 m_logonKind = 0;
    qint32 m_readTimeout = 30;
    SocketState m_state = SocketState::NotStarted;
    qint32 m_lastError = 0;
};
