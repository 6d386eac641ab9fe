#include "RawClient.h"

#include <QTest>

RawClient::RawClient(QObject* parent) : QObject(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        m_data.append(m_socket.readAll());
        ++m_reads;
    });
}

bool RawClient::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                           5000);
}

void RawClient::send(const QByteArray& bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

QByteArray RawClient::logonBytes(const QList<QByteArray>& fields)
{
    QByteArray bytes = "000001";
    for (const QByteArray& field : fields)
        bytes.append(field.leftJustified(16, ' ', true));
    return bytes;
}

QByteArray RawClient::managerLogon()
{
    return logonBytes({"MANAGER", "", "", "", "SYS", "", ""});
}

bool RawClient::waitForBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_data.size() >= count || !isOpen(); }, timeoutMs) &&
           m_data.size() >= count;
}

bool RawClient::frames(const QByteArray& bytes, QList<QByteArray>* bodies, bool* ended)
{
    qsizetype at = 0;
    *ended = false;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4)
            return false;
        qsizetype length = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = bytes[at + i];
            if (c < '0' || c > '9')
                return false;
            length = length * 10 + (c - '0');
        }
        if (length == 0) {
            *ended = true;
            return at + 4 == bytes.size();
        }
        if (bytes.size() - at - 4 < length)
            return false;
        if (bodies)
            bodies->append(bytes.mid(at + 4, length));
        at += 4 + length;
    }
    return true;
}

bool RawClient::waitForListEnd(int timeoutMs)
{
    return QTest::qWaitFor(
               [&] {
                   bool ended = false;
                   return (frames(m_data, nullptr, &ended) && ended) || !isOpen();
               },
               timeoutMs) &&
           isOpen();
}

bool RawClient::waitForClose(int timeoutMs)
{
    return QTest::qWaitFor([&] { return !isOpen(); }, timeoutMs);
}

QByteArray RawClient::ask(const QByteArray& requests)
{
    send(requests);
    return waitForListEnd() ? take() : "(no list end) " + take();
}

QByteArray RawClient::take()
{
    return std::exchange(m_data, QByteArray());
}

bool RawClient::isOpen() const
{
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

bool RawClient::logOn(quint16 port)
{
    if (!connectTo(port))
        return false;
    send(managerLogon());
    if (!waitForBytes(1))
        return false;
    return take() == "0";
}
