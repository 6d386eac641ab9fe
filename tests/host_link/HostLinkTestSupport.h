#pragma once

#include "ConsoleProtocol.h"
#include "HostSocket.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

// Records every error a THostSocket reports, in order, so a test can check
// exactly what reached the operator.
class ErrorRecorder
{
public:
    explicit ErrorRecorder(THostSocket& socket)
    {
        socket.OnError = [this](THostSocket*, int error, const QString& msg) {
            Errors.append(error);
            Texts.append(msg);
        };
    }

    QList<int> Errors;
    QList<QString> Texts;
};

// A loopback port on which nothing listens.
int UnusedLoopbackPort();

// A loopback listener that completes connections in the kernel but never
// accepts or reads them; with backlog 0 and one connection queued, further
// connection attempts get no answer at all.
class SilentListener
{
public:
    explicit SilentListener(bool fillBacklog);
    ~SilentListener();
    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_filler = -1;
    int m_port = 0;
};

// Aims socket at a host on 127.0.0.1:port with the default logon (MANAGER /
// SYS, kind 1) and returns a protocol over it. The socket's errors ("code
// text") and the protocol's messages go to events, in the order they would
// reach the operator.
std::unique_ptr<TConsoleProtocol> MakeProtocol(THostSocket& socket, quint16 port,
                                               QStringList& events);
