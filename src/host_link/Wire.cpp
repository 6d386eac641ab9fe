#include "Wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Wire {

namespace {

#define WIRE_INLINE inline __attribute__((always_inline))

// Finds, in one forward pass over a record, the bars and blanks that end its
// fields and the NUL that ends the record. The bytes are taken 64 at a time
// (a whole record, as a rule): one compare per byte kind gives a bit mask of
// each, a NUL clears every bit behind it, and a search takes the lowest bit
// at or after its start. Searches only ever move forward, so each byte is
// loaded once, whatever the record's fields look like.
class SeparatorScanner
{
public:
    static constexpr qsizetype Block = 64;
    static constexpr qsizetype NotFound = -1;

    WIRE_INLINE explicit SeparatorScanner(QByteArrayView record)
        : m_data(record.data()), m_size(record.size())
    {
        if (m_size == 0)
            m_end = 0; // an empty view may carry no data pointer: never load from it
        else
            load(0);
    }

    WIRE_INLINE qsizetype findBar(qsizetype from) { return find<'|'>(from); }
    WIRE_INLINE qsizetype findBlank(qsizetype from) { return find<' '>(from); }

    // Where the record ends: at its first NUL, else after its last byte.
    WIRE_INLINE qsizetype end()
    {
        while (m_end < 0)
            load(m_base + Block);
        return m_end;
    }

private:
    // A search starts at most one byte past the current block (right after
    // a separator found in it); a block loaded since lies wholly after from.
    template <char Separator> WIRE_INLINE qsizetype find(qsizetype from)
    {
        for (;;) {
            const qsizetype offset = std::max<qsizetype>(from - m_base, 0);
            if (offset < Block) {
                const quint64 hits =
                    (Separator == '|' ? m_bars : m_blanks) & (~quint64(0) << offset);
                if (hits != 0)
                    return m_base + __builtin_ctzll(hits);
            }
            if (m_end >= 0)
                return NotFound;
            load(m_base + Block);
        }
    }

#if defined(__SSE2__)
    struct Masks
    {
        quint64 bars, blanks, nuls;
    };
    static WIRE_INLINE Masks compare16(const char* at, int skip)
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        auto mask = [&](__m128i c) {
            return quint64(quint32(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, c))) >> skip);
        };
        return {mask(_mm_set1_epi8('|')), mask(_mm_set1_epi8(' ')), mask(_mm_setzero_si128())};
    }
#endif

    void load(qsizetype base)
    {
        m_base = base;
        const qsizetype n = std::min(Block, m_size - base);
        quint64 nuls = 0;
        m_bars = m_blanks = 0;
#if defined(__SSE2__)
        const char* const first = m_data + base;
        if (m_size < 16) {
            // A record shorter than one compare is copied out: nothing
            // past it is ever read.
            alignas(16) char copy[16] = {};
            std::memcpy(copy, first, std::size_t(n));
            const Masks m = compare16(copy, 0);
            m_bars = m.bars;
            m_blanks = m.blanks;
            nuls = m.nuls;
        } else {
            for (qsizetype at = 0; at < n; at += 16) {
                // A last piece shorter than sixteen bytes is read as the
                // sixteen that end the record, the ones already seen
                // shifted out.
                const int skip = int(std::max<qsizetype>(at + 16 - n, 0));
                const Masks m = compare16(first + at - skip, skip);
                m_bars |= m.bars << at;
                m_blanks |= m.blanks << at;
                nuls |= m.nuls << at;
            }
        }
#else
        for (qsizetype i = 0; i < n; ++i) {
            const char c = m_data[base + i];
            m_bars |= quint64(c == '|') << i;
            m_blanks |= quint64(c == ' ') << i;
            nuls |= quint64(c == '\0') << i;
        }
#endif
        if (n < Block) {
            const quint64 valid = (quint64(1) << n) - 1;
            m_bars &= valid;
            m_blanks &= valid;
            nuls &= valid;
        }
        if (nuls != 0) {
            const int at = __builtin_ctzll(nuls);
            const quint64 before = (quint64(1) << at) - 1;
            m_bars &= before;
            m_blanks &= before;
            m_end = base + at;
        } else if (base + n == m_size) {
            m_end = m_size;
        }
    }

    const char* m_data;
    qsizetype m_size;
    qsizetype m_base = 0; // position of the current block's first byte
    quint64 m_bars = 0;
    quint64 m_blanks = 0;
    qsizetype m_end = -1; // the record's end once the scan has reached it
};

// Strict decimal, as the console converts every number: an optional '-' and
// one or more ASCII digits (no blank, no '+'), within the type's range. The
// digits are checked and accumulated in the same loop.
template <typename Int> WIRE_INLINE bool toInteger(QByteArrayView text, Int& value)
{
    using Unsigned = std::make_unsigned_t<Int>;
    const char* p = text.data();
    const char* const end = p + text.size();
    if (p == end)
        return false;
    const bool negative = *p == '-';
    if (negative && ++p == end)
        return false;
    Unsigned magnitude = 0;
    if (end - p <= std::numeric_limits<Int>::digits10) {
        // Too few digits to leave the range: no check but the digits'.
        for (; p != end; ++p) {
            const unsigned digit = unsigned(static_cast<unsigned char>(*p)) - unsigned('0');
            if (digit > 9)
                return false;
            magnitude = magnitude * 10 + digit;
        }
        value = negative ? Int(Unsigned(0) - magnitude) : Int(magnitude);
        return true;
    }
    const Unsigned limit = negative ? Unsigned(std::numeric_limits<Int>::max()) + 1
                                    : Unsigned(std::numeric_limits<Int>::max());
    for (; p != end; ++p) {
        const unsigned digit = unsigned(static_cast<unsigned char>(*p)) - unsigned('0');
        if (digit > 9 || magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? Int(Unsigned(0) - magnitude) : Int(magnitude);
    return true;
}

WIRE_INLINE QByteArrayView between(QByteArrayView r, qsizetype first, qsizetype end)
{
    return QByteArrayView(r.data() + first, end - first);
}

inline void fail(SplitResult& out, SplitError error)
{
    out.error = error;
}

inline void failField(SplitResult& out, SplitError error, RecordField field, QByteArrayView text)
{
    out.error = error;
    out.badFieldId = field;
    out.badField = text;
}

WIRE_INLINE void splitListener(QByteArrayView r, SeparatorScanner& scan, SplitResult& out)
{
    ListenerFields& f = out.listener;
    // r[0] is 'S'; the PIN ends at the first bar after it.
    const qsizetype pinEnd = scan.findBar(1);
    if (pinEnd < 0)
        return fail(out, SplitError::MissingSeparatorAfterPin);
    f.pin = between(r, 1, pinEnd);
    // Only the first blank after the PIN ends the port; the program may hold more.
    const qsizetype portEnd = scan.findBlank(pinEnd + 1);
    if (portEnd < 0)
        return fail(out, SplitError::MissingSpaceAfterPort);
    f.port = between(r, pinEnd + 1, portEnd);
    const qsizetype programEnd = scan.findBar(portEnd + 1);
    if (programEnd < 0)
        return fail(out, SplitError::MissingSeparatorAfterProgram);
    f.program = between(r, portEnd + 1, programEnd);
    const qsizetype productEnd = scan.findBar(programEnd + 1);
    if (productEnd < 0)
        return fail(out, SplitError::MissingSeparatorBeforeUserLimit);
    f.product = between(r, programEnd + 1, productEnd);
    // The user limit runs to the next bar; whatever follows that bar is ignored.
    const qsizetype limitEnd = scan.findBar(productEnd + 1);
    f.userLimit = between(r, productEnd + 1, limitEnd < 0 ? scan.end() : limitEnd);
    if (!toInteger(f.product, f.productNumber))
        return failField(out, SplitError::NotDecimal, RecordField::Product, f.product);
    if (!toInteger(f.userLimit, f.userLimitNumber))
        failField(out, SplitError::NotDecimal, RecordField::UserLimit, f.userLimit);
}

WIRE_INLINE void splitProcess(QByteArrayView r, SeparatorScanner& scan, SplitResult& out)
{
    ProcessFields& f = out.process;
    // The first bar is searched for from the flag (the second character) on,
    // so a record "P|456|..." has no main PIN and its PIN starts at the third.
    const qsizetype mainEnd = scan.findBar(1);
    if (mainEnd < 0)
        return fail(out, SplitError::MissingSeparatorBeforePin);
    // A bar found at 1 or later means the record holds its second byte.
    if (r[1] == '0')
        f.mainPin = between(r, 2, mainEnd);
    const qsizetype pinEnd = scan.findBar(mainEnd + 1);
    if (pinEnd < 0)
        return fail(out, SplitError::MissingSeparatorAfterPin);
    f.pin = between(r, mainEnd + 1, pinEnd);
    const qsizetype programEnd = scan.findBar(pinEnd + 1);
    if (programEnd < 0)
        return fail(out, SplitError::MissingSeparatorAfterProgram);
    f.program = between(r, pinEnd + 1, programEnd);
    const qsizetype userEnd = scan.findBar(programEnd + 1);
    if (userEnd < 0)
        return fail(out, SplitError::MissingSeparatorBeforeCpuTime);
    f.user = between(r, programEnd + 1, userEnd);
    const qsizetype cpuEnd = scan.findBar(userEnd + 1);
    f.cpuTime = between(r, userEnd + 1, cpuEnd < 0 ? scan.end() : cpuEnd);
    if (!toInteger(f.cpuTime, f.cpuMs))
        return failField(out, SplitError::NotDecimal, RecordField::CpuTime, f.cpuTime);
    if (cpuEnd < 0)
        return;
    // A bar after the CPU time: the rest of the record is the priority.
    const QByteArrayView priority = between(r, cpuEnd + 1, scan.end());
    qint32 value = 0;
    if (!toInteger(priority, value))
        return failField(out, SplitError::NotDecimal, RecordField::Priority, priority);
    if (value < 1 || value > 4)
        return failField(out, SplitError::PriorityOutOfRange, RecordField::Priority, priority);
    f.priority = value;
}

QLatin1StringView fieldName(RecordField field)
{
    switch (field) {
    case RecordField::Product:
        return QLatin1StringView("product");
    case RecordField::UserLimit:
        return QLatin1StringView("user limit");
    case RecordField::CpuTime:
        return QLatin1StringView("CPU time");
    case RecordField::Priority:
        return QLatin1StringView("priority");
    case RecordField::None:
        break;
    }
    return QLatin1StringView("field");
}

QString missing(const char* what)
{
    return QStringLiteral("missing %1").arg(QLatin1StringView(what));
}

} // namespace

QByteArray logonBytes(qint32 kind, const std::array<QByteArray, 7>& fields)
{
    char head[16];
    const int n = std::snprintf(head, sizeof head, "%.6d", static_cast<int>(kind));
    QByteArray out;
    out.reserve(n + LogonRecordLength);
    out.append(head, n);
    for (const QByteArray& field : fields) {
        const QByteArray cut = field.left(LogonFieldLength);
        out.append(cut);
        out.append(LogonFieldLength - cut.size(), ' ');
    }
    return out;
}

LogonReply parseLogonReply(QByteArrayView reply)
{
    if (reply.size() != 1)
        return LogonReply::Failed;
    switch (reply.front()) {
    case '0':
        return LogonReply::Accepted;
    case '1':
        return LogonReply::Refused;
    default:
        return LogonReply::Failed;
    }
}

std::optional<QByteArray> frame(QByteArrayView body)
{
    if (body.size() > MaxBody)
        return std::nullopt;
    char head[8];
    std::snprintf(head, sizeof head, "%.4d", static_cast<int>(body.size()));
    QByteArray out;
    out.reserve(HeaderLength + body.size());
    out.append(head, HeaderLength);
    out.append(body);
    return out;
}

std::optional<int> parseHeader(QByteArrayView header)
{
    if (header.size() != HeaderLength)
        return std::nullopt;
    int value = 0;
    for (char c : header) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

RecordKind kindOf(QByteArrayView body)
{
    return !body.empty() && body.front() == 'S' ? RecordKind::Listener : RecordKind::Process;
}

SplitResult splitRecord(QByteArrayView body)
{
    SplitResult out;
    // A NUL first byte ends an empty record, which is not 'S': a process.
    out.kind = !body.empty() && body.front() == 'S' ? RecordKind::Listener : RecordKind::Process;
    SeparatorScanner scan(body);
    if (out.kind == RecordKind::Listener)
        splitListener(body, scan, out);
    else
        splitProcess(body, scan, out);
    return out;
}

QString errorText(const SplitResult& r)
{
    switch (r.error) {
    case SplitError::None:
        return QString();
    case SplitError::MissingSeparatorBeforePin:
        return missing("separator before the PIN");
    case SplitError::MissingSeparatorAfterPin:
        return missing("separator after the PIN");
    case SplitError::MissingSpaceAfterPort:
        return missing("space after the port");
    case SplitError::MissingSeparatorAfterProgram:
        return missing("separator after the program");
    case SplitError::MissingSeparatorBeforeUserLimit:
        return missing("separator before the user limit");
    case SplitError::MissingSeparatorBeforeCpuTime:
        return missing("separator before the CPU time");
    case SplitError::NotDecimal:
        return QStringLiteral("%1 '%2' is not a decimal number")
            .arg(fieldName(r.badFieldId),
                 QString::fromLatin1(r.badField.data(), r.badField.size()));
    case SplitError::PriorityOutOfRange: {
        // The value as a number: "00" is told as 0, "-1" as -1.
        qint32 value = 0;
        toInteger(r.badField, value);
        return QStringLiteral("priority %1 is outside 1 to 4").arg(value);
    }
    }
    return QString();
}

QByteArray killListenerArgument(QByteArrayView pin)
{
    return QByteArray("S").append(pin);
}

QByteArray killProcessArgument(QByteArrayView mainPin, QByteArrayView pin)
{
    return QByteArray("P").append(mainPin).append('|').append(pin);
}

QByteArray setPriorityArgument(QByteArrayView pin, int code)
{
    if (code == 0)
        return QByteArray();
    return pin.toByteArray().append('|').append(QByteArray::number(code));
}

QByteArray startListenerArgument(QByteArrayView product, QByteArrayView port, QByteArrayView users,
                                 QByteArrayView command)
{
    return product.toByteArray()
        .append('|')
        .append(port)
        .append('|')
        .append(users)
        .append('|')
        .append(command);
}

QByteArray priorityText(int priority)
{
    if (priority == 1)
        return QByteArrayLiteral("BS");
    return priorityName(priority).toByteArray();
}

int priorityCode(QByteArrayView queue)
{
    if (queue == "CS")
        return 2;
    if (queue == "DS")
        return 3;
    if (queue == "ES")
        return 4;
    return 0;
}

QByteArrayView priorityName(int code)
{
    switch (code) {
    case 2:
        return "CS";
    case 3:
        return "DS";
    case 4:
        return "ES";
    default:
        return QByteArrayView();
    }
}

} // namespace Wire
