// The floor of a process-list refresh: what receiving and splitting the list
// costs when nothing else is done. It starts orvanite-hostsim --prepared with
// N processes on one listener, logs on, and then, each run, sends the H
// request and reads the reply with plain non-blocking recv and poll, splits
// every record with Wire::splitRecord and stores the five cells of each row in
// one arena reused from run to run (offsets into one byte array, no
// allocation per record). Prints the median wall time of the runs and the
// peak resident memory, then the same as one JSON line.

#include "../common/BenchFigures.h"
#include "../common/BenchHostsim.h"
#include "../common/BenchProcess.h"
#include "host_link/Wire.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench-floor-refresh: %s (%s)\n", what, std::strerror(errno));
    std::exit(1);
}

// One connection, non-blocking, read into one buffer that only grows.
class Link
{
public:
    explicit Link(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            fail("cannot connect");
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_buffer.resize(1 << 20);
    }
    ~Link() { ::close(m_fd); }

    void send(QByteArrayView bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (errno == EAGAIN)
                wait(POLLOUT);
            else if (errno != EINTR)
                fail("send failed");
        }
    }

    // At least `count` unread bytes in the buffer; false when the peer closed.
    bool fill(qsizetype count)
    {
        while (m_end - m_begin < count) {
            if (m_begin > 0 && m_buffer.size() - m_end < 65536) {
                // Unread bytes to the front: the buffer is reused, never shrunk.
                std::memmove(m_buffer.data(), m_buffer.data() + m_begin, size_t(m_end - m_begin));
                m_end -= m_begin;
                m_begin = 0;
            }
            if (m_buffer.size() - m_end < 65536)
                m_buffer.resize(m_buffer.size() * 2);
            const ssize_t n = ::recv(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end, 0);
            if (n > 0)
                m_end += n;
            else if (n == 0)
                return false;
            else if (errno == EAGAIN)
                wait(POLLIN);
            else if (errno != EINTR)
                fail("recv failed");
        }
        return true;
    }

    QByteArrayView take(qsizetype count)
    {
        const QByteArrayView bytes(m_buffer.data() + m_begin, count);
        m_begin += count;
        return bytes;
    }

private:
    void wait(short events)
    {
        pollfd p{m_fd, events, 0};
        ::poll(&p, 1, 10000);
    }

    int m_fd = -1;
    std::vector<char> m_buffer;
    qsizetype m_begin = 0;
    qsizetype m_end = 0;
};

// The cells of every row in one byte array, with the end offset of each cell.
struct Arena
{
    std::vector<char> bytes;
    std::vector<quint32> cellEnds;
    qsizetype rows = 0;

    void clear()
    {
        bytes.clear(); // keeps the capacity
        cellEnds.clear();
        rows = 0;
    }
    void add(QByteArrayView cell)
    {
        bytes.insert(bytes.end(), cell.begin(), cell.end());
        cellEnds.push_back(quint32(bytes.size()));
    }
};

// One framed list: every record split and stored. The number of records, or
// -1 for a bad header, a record that could not be split or a closed link.
qsizetype readList(Link& link, Arena& arena, QByteArray* firstPin = nullptr)
{
    arena.clear();
    for (;;) {
        if (!link.fill(Wire::HeaderLength))
            return -1;
        const std::optional<int> length = Wire::parseHeader(link.take(Wire::HeaderLength));
        if (!length)
            return -1;
        if (*length == 0)
            return arena.rows;
        if (!link.fill(*length))
            return -1;
        const Wire::SplitResult r = Wire::splitRecord(link.take(*length));
        if (!r.ok())
            return -1;
        if (r.kind == Wire::RecordKind::Listener) {
            const Wire::ListenerFields& f = r.listener;
            if (firstPin && arena.rows == 0)
                *firstPin = f.pin.toByteArray();
            for (QByteArrayView cell : {f.pin, f.product, f.program, f.port, f.userLimit})
                arena.add(cell);
        } else {
            const Wire::ProcessFields& f = r.process;
            for (QByteArrayView cell : {f.mainPin, f.pin, f.program, f.user, f.cpuTime})
                arena.add(cell);
        }
        ++arena.rows;
    }
}

struct Options
{
    int processes = 0;
    int runs = 1;
    QString hostsim;
};

Options parseOptions(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("processes"), QStringLiteral("Processes of the listener."),
                      QStringLiteral("N"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Timed refreshes."),
                      QStringLiteral("N"), QStringLiteral("9")});
    parser.addOption(
        {QStringLiteral("hostsim"), QStringLiteral("Path of orvanite-hostsim."),
         QStringLiteral("PATH"),
         QCoreApplication::applicationDirPath() + QStringLiteral("/orvanite-hostsim")});
    parser.process(app);
    Options options;
    options.processes = parser.value(QStringLiteral("processes")).toInt();
    options.runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    options.hostsim = parser.value(QStringLiteral("hostsim"));
    return options;
}

// Logs on and lists the listeners: the process request of the one listener,
// or nothing, after saying why, when the host did not have exactly one.
QByteArray logOnAndAskForProcesses(Link& link, Arena& arena)
{
    link.send(Wire::logonBytes(1, {"MANAGER", "", "", "", "SYS", "", ""}));
    if (!link.fill(1) || link.take(1) != "0") {
        std::fprintf(stderr, "logon refused\n");
        return {};
    }
    QByteArray pin;
    link.send(*Wire::frame(QByteArrayView(&Wire::GetListeners, 1)));
    if (readList(link, arena, &pin) != 1) {
        std::fprintf(stderr, "expected one listener\n");
        return {};
    }
    return *Wire::frame(QByteArrayView(&Wire::GetProcesses, 1)) + *Wire::frame(pin);
}

struct Timings
{
    std::vector<double> wall, cpu;
};

// One untimed run that sizes the arena and the buffer, then the timed ones;
// false, after saying why, when a list came short.
bool timeRuns(Link& link, Arena& arena, const QByteArray& request, const Options& options,
              Timings& timings)
{
    for (int i = 0; i <= options.runs; ++i) {
        const qint64 t0 = monotonicNs();
        const qint64 c0 = selfCpuNs();
        link.send(request);
        const qsizetype rows = readList(link, arena);
        const qint64 t1 = monotonicNs();
        const qint64 c1 = selfCpuNs();
        if (rows != options.processes) {
            std::fprintf(stderr, "run %d: %lld rows, expected %d\n", i, (long long)rows,
                         options.processes);
            return false;
        }
        if (i > 0) {
            timings.wall.push_back(double(t1 - t0) / 1e6);
            timings.cpu.push_back(double(c1 - c0) / 1e6);
        }
    }
    return true;
}

void printFigures(const Options& options, const Timings& timings, long rssBefore)
{
    const double median = medianOf(timings.wall);
    const double medianCpu = medianOf(timings.cpu);
    const auto [fastest, slowest] = std::minmax_element(timings.wall.begin(), timings.wall.end());
    const double peak = peakRssKiB() / 1024.0;
    std::printf("split-and-store floor of %d processes (%d runs)\n", options.processes,
                options.runs);
    std::printf("  median %.1f ms, min %.1f ms, max %.1f ms; CPU median %.1f ms\n", median,
                *fastest, *slowest, medianCpu);
    std::printf("  peak RSS %.1f MiB (before the link %.1f MiB)\n", peak, rssBefore / 1024.0);
    std::printf("{\"benchmark\":\"floor_refresh\",\"processes\":%d,\"runs\":%d,\"median_ms\":%.2f,"
                "\"median_cpu_ms\":%.2f,\"runs_ms\":[%s],\"peak_rss_mib\":%.1f}\n",
                options.processes, options.runs, median, medianCpu,
                qPrintable(joinRuns(timings.wall, 2)), peak);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);

    QProcess sim;
    const quint16 simPort = startHostsim(
        sim, options.hostsim,
        {QStringLiteral("--prepared"), QStringLiteral("--processes"),
         QString::number(options.processes), QStringLiteral("--listeners"), QStringLiteral("1")},
        60000);
    if (simPort == 0)
        return 1;

    const long rssBefore = peakRssKiB();
    Link link(simPort);
    Arena arena;
    const QByteArray request = logOnAndAskForProcesses(link, arena);
    Timings timings;
    if (request.isEmpty() || !timeRuns(link, arena, request, options, timings))
        return 1;
    link.send(*Wire::frame(QByteArrayView(&Wire::Quit, 1)));
    sim.terminate();
    sim.waitForFinished(5000);
    printFigures(options, timings, rssBefore);
    return 0;
}
