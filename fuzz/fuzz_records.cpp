// Feeds arbitrary bytes to the record splitter. It must never crash, and a
// record it splits must only hand out views that lie inside the record (up to
// its first NUL), with numbers that match their texts.
#include "AppErrors.h"
#include "Wire.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_records: %s\n", what);
    std::abort();
}

void checkInside(std::string_view field, std::string_view record, const char* name)
{
    // An empty view may point anywhere (or nowhere); a non-empty one must lie
    // wholly inside the record.
    if (field.empty())
        return;
    const char* begin = record.data();
    const char* end = begin + record.size();
    if (field.data() < begin || field.data() + field.size() > end)
        fail(name);
}

QByteArrayView bytes(std::string_view s)
{
    return QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

void checkRecord(std::string_view input)
{
    const Wire::SplitResult r = Wire::SplitRecord(input);
    // Routing looks at the first character only.
    const bool listener = !input.empty() && input.front() == 'S';
    if ((r.Kind == Wire::RecordKind::Listener) != listener)
        fail("routed by more than the first character");
    if (!r.ok())
        return;

    // The record ends at its first NUL: no field may reach past it.
    const void* nul = input.empty() ? nullptr : std::memchr(input.data(), '\0', input.size());
    const std::string_view record =
        nul ? input.substr(0,
                           static_cast<std::size_t>(static_cast<const char*>(nul) - input.data()))
            : input;

    if (listener) {
        const Wire::ListenerFields& f = r.Listener;
        checkInside(f.Pin, record, "PIN outside the record");
        checkInside(f.Port, record, "port outside the record");
        checkInside(f.Program, record, "program outside the record");
        checkInside(f.Product, record, "product outside the record");
        checkInside(f.UserLimit, record, "user limit outside the record");
        std::int32_t n = 0;
        if (!TryStrToInt(bytes(f.Product), n) || n != f.ProductNumber)
            fail("product number does not match its text");
        if (!TryStrToInt(bytes(f.UserLimit), n) || n != f.UserLimitNumber)
            fail("user limit does not match its text");
        if (f.Pin.find('|') != std::string_view::npos || f.Port.find(' ') != std::string_view::npos)
            fail("a separator inside the PIN or port");
    } else {
        const Wire::ProcessFields& f = r.Process;
        checkInside(f.MainPin, record, "main PIN outside the record");
        checkInside(f.Pin, record, "PIN outside the record");
        checkInside(f.Program, record, "program outside the record");
        checkInside(f.User, record, "user outside the record");
        checkInside(f.CpuTime, record, "CPU time outside the record");
        std::int64_t cpu = 0;
        if (!TryStrToInt64(bytes(f.CpuTime), cpu) || cpu != f.CpuMs)
            fail("CPU time does not match its text");
        if (f.Priority < 0 || f.Priority > 4)
            fail("priority outside 0 to 4");
        if (!f.MainPin.empty() && (record.size() < 2 || record[1] != '0'))
            fail("a main PIN without the flag 0");
        for (std::string_view field : {f.MainPin, f.Pin, f.Program, f.User, f.CpuTime})
            if (field.find('|') != std::string_view::npos)
                fail("a separator inside a field");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkRecord(input);
    // And nothing at all: a view with no data pointer, as a default-constructed
    // view has.
    checkRecord(std::string_view());
    return 0;
}
