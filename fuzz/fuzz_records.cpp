// Feeds arbitrary bytes to the record splitter. It must never crash, and a
// record it splits must only hand out views that lie inside the record (up to
// its first NUL), with numbers that match their texts. A record it refuses for
// a number must name a text that the console's conversion refuses too.
#include "core/AppErrors.h"
#include "host_link/Wire.h"

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

void checkInside(QByteArrayView field, std::string_view record, const char* name)
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

void checkRecord(std::string_view input)
{
    const Wire::SplitResult r = Wire::splitRecord(input);
    // Routing looks at the first character only.
    const bool listener = !input.empty() && input.front() == 'S';
    if ((r.kind == Wire::RecordKind::Listener) != listener)
        fail("routed by more than the first character");
    if (r.error == Wire::SplitError::NotDecimal) {
        std::int64_t n = 0;
        const bool wide = r.badFieldId == Wire::RecordField::CpuTime;
        std::int32_t n32 = 0;
        if (wide ? TryStrToInt64(r.badField, n) : TryStrToInt(r.badField, n32))
            fail("a number refused that the conversion takes");
    }
    if (r.error == Wire::SplitError::PriorityOutOfRange) {
        std::int32_t n = 0;
        if (!TryStrToInt(r.badField, n) || (n >= 1 && n <= 4))
            fail("a priority in range refused");
    }
    if (!r.ok())
        return;

    // The record ends at its first NUL: no field may reach past it.
    const void* nul = input.empty() ? nullptr : std::memchr(input.data(), '\0', input.size());
    const std::string_view record =
        nul ? input.substr(0,
                           static_cast<std::size_t>(static_cast<const char*>(nul) - input.data()))
            : input;

    if (listener) {
        const Wire::ListenerFields& f = r.listener;
        checkInside(f.pin, record, "PIN outside the record");
        checkInside(f.port, record, "port outside the record");
        checkInside(f.program, record, "program outside the record");
        checkInside(f.product, record, "product outside the record");
        checkInside(f.userLimit, record, "user limit outside the record");
        std::int32_t n = 0;
        if (!TryStrToInt(f.product, n) || n != f.productNumber)
            fail("product number does not match its text");
        if (!TryStrToInt(f.userLimit, n) || n != f.userLimitNumber)
            fail("user limit does not match its text");
        if (f.pin.contains('|') || f.port.contains(' '))
            fail("a separator inside the PIN or port");
    } else {
        const Wire::ProcessFields& f = r.process;
        checkInside(f.mainPin, record, "main PIN outside the record");
        checkInside(f.pin, record, "PIN outside the record");
        checkInside(f.program, record, "program outside the record");
        checkInside(f.user, record, "user outside the record");
        checkInside(f.cpuTime, record, "CPU time outside the record");
        std::int64_t cpu = 0;
        if (!TryStrToInt64(f.cpuTime, cpu) || cpu != f.cpuMs)
            fail("CPU time does not match its text");
        if (f.priority < 0 || f.priority > 4)
            fail("priority outside 0 to 4");
        if (!f.mainPin.empty() && (record.size() < 2 || record[1] != '0'))
            fail("a main PIN without the flag 0");
        for (QByteArrayView field : {f.mainPin, f.pin, f.program, f.user, f.cpuTime})
            if (field.contains('|'))
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
