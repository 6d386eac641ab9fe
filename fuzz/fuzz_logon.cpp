// Feeds arbitrary logon fields, kinds and replies to the logon formats. The
// logon bytes must always be the kind's six digits followed by exactly 112
// bytes of seven fields, each the field's first 16 bytes filled with spaces;
// the reply must mean "accepted" or "refused" only for the one byte 0 or 1.
#include "host_link/Wire.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_logon: %s\n", what);
    std::abort();
}

// Takes the next byte, or 0 when the input is used up.
struct Reader
{
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    QByteArray take(size_t n)
    {
        n = std::min(n, size - pos);
        QByteArray out(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(n));
        pos += n;
        return out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw = (raw << 8) | in.byte();
    const std::int32_t kind = static_cast<std::int32_t>(raw);

    std::array<QByteArray, 7> fields;
    for (QByteArray& field : fields)
        field = in.take(in.byte() % 40);
    const QByteArray reply = in.take(size);

    const QByteArray bytes = Wire::logonBytes(kind, fields);
    char head[16];
    const int headLength = std::snprintf(head, sizeof head, "%.6d", static_cast<int>(kind));
    if (bytes.size() != headLength + Wire::LogonRecordLength)
        fail("logon bytes of the wrong length");
    if (std::memcmp(bytes.constData(), head, static_cast<size_t>(headLength)) != 0)
        fail("kind not sent as %.6d");
    if (kind >= 0 && kind <= 999999 && bytes.size() != 118)
        fail("a console kind does not give 118 bytes");
    for (int i = 0; i < 7; ++i) {
        const QByteArray sent =
            bytes.mid(headLength + i * Wire::LogonFieldLength, Wire::LogonFieldLength);
        const QByteArray cut = fields[static_cast<size_t>(i)].left(Wire::LogonFieldLength);
        if (!sent.startsWith(cut))
            fail("a field not sent as typed");
        for (qsizetype j = cut.size(); j < sent.size(); ++j)
            if (sent[j] != ' ')
                fail("a field not filled with spaces");
    }

    const Wire::LogonReply meaning = Wire::parseLogonReply(reply);
    const Wire::LogonReply expected = reply == "0"   ? Wire::LogonReply::Accepted
                                      : reply == "1" ? Wire::LogonReply::Refused
                                                     : Wire::LogonReply::Failed;
    if (meaning != expected)
        fail("logon reply misread");
    return 0;
}
