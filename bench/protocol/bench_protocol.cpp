// How fast the console splits process records and reads framed records out of
// its receive buffer.
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"
#include "session/ListReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Process records as a host sends them for a busy listener: most with a main
// PIN, some with a priority, names of ordinary lengths.
std::vector<std::string> typicalRecords(int n)
{
    static const char* const programs[] = {"VGDSRVR", "QUERYSRV", "RPTWRITER", "BATCH01"};
    static const char* const users[] = {"MANAGER", "OPERATOR", "JSMITH", "ACCOUNTS2"};
    std::vector<std::string> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        std::string r = (i % 5 == 0) ? "P1" : "P0" + std::to_string(10000 + i % 97);
        r += '|' + std::to_string(20000 + i) + '|' + programs[i % 4] + '|' + users[(i / 4) % 4] +
             '|' + std::to_string(1000 + (i * 7919) % 9000000);
        if (i % 3 == 0)
            r += '|' + std::to_string(1 + i % 4);
        out.push_back(std::move(r));
    }
    return out;
}

void BM_SplitProcessRecord(benchmark::State& state)
{
    const std::vector<std::string> records = typicalRecords(4096);
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string& r = records[i++ & 4095];
        Wire::SplitResult s = Wire::splitRecord(r);
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SplitProcessRecord);

// The floor: find every separator of the same records with memchr, nothing else.
void BM_MemchrFloor(benchmark::State& state)
{
    const std::vector<std::string> records = typicalRecords(4096);
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string& r = records[i++ & 4095];
        const char* p = r.data();
        const char* end = p + r.size();
        int found = 0;
        while (const void* hit = std::memchr(p, '|', static_cast<std::size_t>(end - p))) {
            p = static_cast<const char*>(hit) + 1;
            ++found;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_MemchrFloor);

// A connected HostSocket whose peer is a plain loopback socket, so the bytes
// reach the receive buffer exactly as they do from a host.
struct LoopbackPair
{
    HostSocket socket;
    int peer = -1;

    bool open()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
            ::listen(listener, 1) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(listener);
            return false;
        }
        socket.setHostAddress("127.0.0.1");
        socket.setPort(QByteArray::number(ntohs(addr.sin_port)));
        socket.connectToHost();
        peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        ::close(listener);
        // A loopback connection is made at once or within a notification.
        for (int i = 0;
             i < 1000 && peer >= 0 && socket.state() != HostSocket::SocketState::Connected &&
             socket.SocketHandle() != -1;
             ++i)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return peer >= 0 && socket.state() == HostSocket::SocketState::Connected;
    }

    // Writes everything to the peer, letting the socket take it in as it goes.
    void feed(const QByteArray& bytes)
    {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(peer, bytes.constData() + sent,
                                     static_cast<std::size_t>(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (errno != EAGAIN && errno != EINTR)
                return;
            QCoreApplication::processEvents();
        }
        while (socket.RecvCount() < bytes.size() &&
               socket.state() == HostSocket::SocketState::Connected)
            QCoreApplication::processEvents();
    }

    ~LoopbackPair()
    {
        if (peer >= 0)
            ::close(peer);
    }
};

void BM_ReadFramedRecords(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::vector<std::string> records = typicalRecords(count);
    QByteArray stream;
    for (const std::string& r : records)
        stream += *Wire::frame(QByteArrayView(r.data(), static_cast<qsizetype>(r.size())));
    stream += "0000";

    LoopbackPair pair;
    if (!pair.open()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    // The session's own reading of a list, into a sink that only counts: every
    // frame is taken off the buffer and its record split, as in a refresh.
    struct Counter : RecordSink
    {
        int records = 0;
        void record(const Wire::SplitResult&, QByteArrayView) override { ++records; }
    } counter;
    ListReader reader(nullptr, nullptr);
    for (auto _ : state) {
        pair.socket.ClearBuffer();
        pair.feed(stream);
        if (pair.socket.RecvCount() != stream.size()) {
            state.SkipWithError("the records did not all arrive");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        counter.records = 0;
        reader.begin(ListReader::Target::Sink, &counter, HostSession::MaxListRecords);
        ListReader::Frame frame;
        do
            frame = reader.takeFrame(pair.socket);
        while (frame == ListReader::Frame::Header || frame == ListReader::Frame::Record);
        reader.finish();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (frame != ListReader::Frame::End || counter.records != count) {
            state.SkipWithError("wrong number of records");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * stream.size());
}
BENCHMARK(BM_ReadFramedRecords)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
