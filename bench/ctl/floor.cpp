// The floor of orvanite-ctl's process listing: connect, log on, ask for the
// process list of one listener, and receive it, counting its records by their
// frame headers without looking inside them. Then Quit. Prints the count.
// Usage: bench-ctl-floor PORT PIN

#include "host_link/Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench-ctl-floor: %s\n", what);
    std::exit(1);
}

void sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            fail("send failed");
        sent += n;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        fail("usage: bench-ctl-floor PORT PIN");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(quint16(std::atoi(argv[1])));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        fail("cannot connect");
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    sendAll(fd, Wire::logonBytes(1, {"MANAGER", "", "", "", "SYS", "", ""}));
    char reply = 0;
    if (::recv(fd, &reply, 1, MSG_WAITALL) != 1 || reply != '0')
        fail("logon refused");
    sendAll(fd, *Wire::frame(QByteArrayView(&Wire::GetProcesses, 1)) +
                    *Wire::frame(QByteArrayView(argv[2], qsizetype(std::strlen(argv[2])))));

    // Blocking reads into one buffer; a header tells how far to skip.
    std::vector<char> buffer(1 << 20);
    qsizetype begin = 0, end = 0;
    long long records = 0;
    qsizetype skip = -1; // -1: a header is due; else the body bytes still to pass
    for (;;) {
        if (skip < 0 && end - begin >= Wire::HeaderLength) {
            const std::optional<int> length =
                Wire::parseHeader(QByteArrayView(buffer.data() + begin, Wire::HeaderLength));
            if (!length)
                fail("bad header");
            begin += Wire::HeaderLength;
            if (*length == 0)
                break;
            ++records;
            skip = *length;
            continue;
        }
        if (skip >= 0 && end - begin >= skip) {
            begin += skip;
            skip = -1;
            continue;
        }
        if (begin == end) {
            begin = end = 0;
        } else if (begin > 0) {
            std::memmove(buffer.data(), buffer.data() + begin, size_t(end - begin));
            end -= begin;
            begin = 0;
        }
        const ssize_t n = ::recv(fd, buffer.data() + end, buffer.size() - size_t(end), 0);
        if (n <= 0)
            fail("the host closed the connection");
        end += n;
    }
    sendAll(fd, *Wire::frame(QByteArrayView(&Wire::Quit, 1)));
    ::close(fd);
    std::printf("%lld\n", records);
    return 0;
}
