#include "HostLinkTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int boundLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

int UnusedLoopbackPort()
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
    if (m_fd < 0 || ::listen(m_fd, 0) != 0)
        return;
    if (fillBacklog) {
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<quint16>(m_port));
        ::connect(m_filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
}

SilentListener::~SilentListener()
{
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<TConsoleProtocol> MakeProtocol(THostSocket& socket, quint16 port,
                                               QStringList& events)
{
    socket.HostAddress = "127.0.0.1";
    socket.Port = QByteArray::number(port);
    socket.LogonFields = {"MANAGER", "", "", "", "SYS", "", ""};
    socket.LogonKind = 1;
    socket.OnError = [&events](THostSocket*, int error, const QString& msg) {
        events.append(QStringLiteral("%1 %2").arg(error).arg(msg));
    };
    auto protocol = std::make_unique<TConsoleProtocol>(socket);
    protocol->ShowMessage = [&events](const QString& text) { events.append(text); };
    return protocol;
}
