// Feeds an arbitrary byte stream, cut into arbitrary chunks, to a model of the
// console's frame reading: the receive buffer grows by whole chunks as they
// arrive, and each reply is read as the protocol reads it (exactly four header
// bytes, Wire::parseHeader, then exactly the announced body). What it reads
// must not depend on how the stream was cut, and must equal what a plain
// one-pass reading of the whole stream gives.
#include "host_link/Wire.h"

#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_frames: %s\n", what);
    std::abort();
}

// What reading the stream produced: each body, an empty string for the end of
// a list, and how the reading stopped.
enum class Stop
{
    Starved,
    BadHeader
};
struct Reading
{
    std::vector<std::string> events; // "R" + body, or "E" for the end of a list
    Stop stop = Stop::Starved;
    bool operator==(const Reading&) const = default;
};

// The receive buffer, filled a chunk at a time; a read waits for more chunks
// while it is short and gives up (a time-out or a close) once none are left.
class ChunkedBuffer
{
public:
    ChunkedBuffer(std::string_view stream, std::vector<std::size_t> cuts)
        : m_stream(stream), m_cuts(std::move(cuts))
    {
    }

    std::optional<std::string> readExact(std::size_t count)
    {
        while (m_buffer.size() - m_offset < count) {
            if (m_fed >= m_stream.size())
                return std::nullopt; // nothing more comes: partial bytes stay buffered
            const std::size_t chunk = m_cuts.empty() ? 1 : m_cuts[m_next++ % m_cuts.size()];
            const std::size_t n = std::min(chunk, m_stream.size() - m_fed);
            m_buffer.append(m_stream.substr(m_fed, n));
            m_fed += n;
        }
        std::string out = m_buffer.substr(m_offset, count);
        m_offset += count;
        return out;
    }

private:
    std::string_view m_stream;
    std::vector<std::size_t> m_cuts;
    std::size_t m_next = 0;
    std::size_t m_fed = 0;
    std::string m_buffer;
    std::size_t m_offset = 0;
};

Reading readChunked(std::string_view stream, std::vector<std::size_t> cuts)
{
    ChunkedBuffer buffer(stream, std::move(cuts));
    Reading out;
    for (;;) {
        const std::optional<std::string> header = buffer.readExact(Wire::HeaderLength);
        if (!header) {
            out.stop = Stop::Starved;
            return out;
        }
        const std::optional<int> length =
            Wire::parseHeader(QByteArrayView(header->data(), Wire::HeaderLength));
        if (!length) {
            out.stop = Stop::BadHeader;
            return out;
        }
        if (*length < 0 || *length > Wire::MaxBody)
            fail("a header announced a length four digits cannot hold");
        if (*length == 0) {
            out.events.push_back("E");
            continue;
        }
        const std::optional<std::string> body = buffer.readExact(static_cast<std::size_t>(*length));
        if (!body) {
            out.stop = Stop::Starved;
            return out;
        }
        out.events.push_back("R" + *body);
    }
}

// The reference: one pass over the whole stream with its own header check.
Reading readWhole(std::string_view s)
{
    Reading out;
    std::size_t pos = 0;
    for (;;) {
        if (s.size() - pos < 4) {
            out.stop = Stop::Starved;
            return out;
        }
        std::size_t length = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const unsigned char c = static_cast<unsigned char>(s[pos + i]);
            if (c < '0' || c > '9') {
                out.stop = Stop::BadHeader;
                return out;
            }
            length = length * 10 + (c - '0');
        }
        pos += 4;
        if (length == 0) {
            out.events.push_back("E");
            continue;
        }
        if (s.size() - pos < length) {
            out.stop = Stop::Starved;
            return out;
        }
        out.events.push_back("R" + std::string(s.substr(pos, length)));
        pos += length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte says how many of the following bytes are chunk sizes
    // (0 to 7); the rest is the stream from the host.
    if (size == 0)
        return 0;
    const std::size_t cutCount = std::min<std::size_t>(data[0] % 8, size - 1);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < cutCount; ++i) {
        const uint8_t b = data[1 + i];
        // Mostly small chunks, now and then a large one.
        cuts.push_back(b >= 250 ? std::size_t(4096) * (b - 249) : std::size_t(b % 50) + 1);
    }
    const std::string_view stream(reinterpret_cast<const char*>(data + 1 + cutCount),
                                  size - 1 - cutCount);

    const Reading reference = readWhole(stream);
    if (!(readChunked(stream, cuts) == reference))
        fail("chunked reading differs from the whole stream's");
    if (!(readChunked(stream, {1}) == reference))
        fail("byte-at-a-time reading differs from the whole stream's");

    // The header parser takes exactly four bytes and nothing else.
    for (std::size_t n = 0; n <= std::min<std::size_t>(stream.size(), 6); ++n) {
        const std::optional<int> v =
            Wire::parseHeader(QByteArrayView(stream.data(), static_cast<qsizetype>(n)));
        if (n != 4 && v)
            fail("a header of other than four bytes was taken");
    }
    return 0;
}
