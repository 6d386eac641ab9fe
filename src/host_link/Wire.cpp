#include "host_link/Wire.h"

#include <QSysInfo>

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

// Finds, in one forward pass over a record, the separators that end its
// fields and the NUL that ends the record. The bytes are taken 64 at a time
// (a whole record, as a rule), sixteen to a compare: one bit mask marks every
// byte that can stop a search (a bar, a NUL, and for a listener record a
// blank), and a search walks the marked bytes from where it starts. Searches
// only ever move forward and each starts right after the last one's find, so
// every byte is loaded once and every marked byte looked at once, whatever the
// record's fields hold.
template <bool WithBlanks> class SeparatorScanner
{
public:
    static constexpr qsizetype Block = 64;
    static constexpr qsizetype NotFound = -1;

    WIRE_INLINE explicit SeparatorScanner(QByteArrayView record)
        : m_data(record.data()), m_size(record.size())
    {
        // A NUL first byte leaves an empty record; an empty view may carry
        // no data pointer, which is never loaded from.
        if (m_size == 0 || m_data[0] == '\0')
            m_end = 0;
        else
            load(0);
    }

    // The first separator at or after from, or NotFound when the record
    // ends before one.
    WIRE_INLINE qsizetype findBar(qsizetype from) { return find('|', from); }
    WIRE_INLINE qsizetype findBlank(qsizetype from) { return find(' ', from); }

    // Where the record ends, searched for from after the last find: at its
    // first NUL, else after its last byte.
    WIRE_INLINE qsizetype end(qsizetype from)
    {
        if (m_end < 0) {
            const qsizetype nul = find('\0', from);
            m_end = nul < 0 ? m_size : nul;
        }
        return m_end;
    }

private:
    // from is at most one byte past the current block: a block loaded since
    // lies wholly after it.
    WIRE_INLINE qsizetype find(char wanted, qsizetype from)
    {
        if (m_end >= 0)
            return NotFound;
        for (;;) {
            const qsizetype offset = std::max<qsizetype>(from - m_base, 0);
            quint64 stops = offset < Block ? m_stops & (~quint64(0) << offset) : 0;
            while (stops != 0) {
                const qsizetype at = m_base + __builtin_ctzll(stops);
                const char c = m_data[at];
                if (c == wanted)
                    return at;
                if (c == '\0') {
                    m_end = at;
                    return NotFound;
                }
                stops &= stops - 1;
            }
            if (m_base + Block >= m_size) {
                m_end = m_size;
                return NotFound;
            }
            load(m_base + Block);
        }
    }

#if defined(__SSE2__)
    static WIRE_INLINE quint64 stopsIn16(const char* at, int skip)
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('|')),
                                    _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
        if constexpr (WithBlanks)
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')));
        return quint64(_mm_movemask_epi8(hits)) >> skip;
    }
#endif

    void load(qsizetype base)
    {
        m_base = base;
        const qsizetype n = std::min(Block, m_size - base);
        quint64 stops = 0;
#if defined(__SSE2__)
        if (m_size < 16) {
            // A record shorter than one compare is copied out: nothing
            // past it is ever read.
            alignas(16) char copy[16] = {};
            std::memcpy(copy, m_data, std::size_t(n));
            stops = stopsIn16(copy, 0);
        } else {
            // A piece reaching past the record's end is read as the sixteen
            // bytes that end it, the ones already seen shifted out.
            for (qsizetype at = 0; at < n; at += 16) {
                const qsizetype start = std::min<qsizetype>(at, n - 16);
                stops |= stopsIn16(m_data + base + start, int(at - start)) << at;
            }
        }
#else
        for (qsizetype i = 0; i < n; ++i) {
            const char c = m_data[base + i];
            stops |= quint64(c == '|' || c == '\0' || (WithBlanks && c == ' ')) << i;
        }
#endif
        m_stops = n < Block ? stops & ((quint64(1) << n) - 1) : stops;
    }

    const char* m_data;
    qsizetype m_size;
    qsizetype m_base = 0; // position of the current block's first byte
    quint64 m_stops = 0;  // the bytes of the block that can stop a search
    qsizetype m_end = -1; // the record's end once a search has reached it
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

// The same conversion for a field of a record, eight digits at once where
// the record holds eight bytes up to the field's end: they are loaded as one
// word, the bytes before the field set to '0', checked and combined in three
// multiplications. A sign, a longer field or a byte that is not a digit
// takes the byte-wise conversion above, which decides the outcome.
template <typename Int>
WIRE_INLINE bool toIntegerInRecord(QByteArrayView field, const char* record, Int& value)
{
    const qsizetype n = field.size();
    const char* const end = field.data() + n;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        if (n >= 1 && n <= 8 && end - record >= 8) {
            constexpr quint64 zeros = 0x3030303030303030u;
            constexpr quint64 highNibbles = 0xF0F0F0F0F0F0F0F0u;
            quint64 word;
            std::memcpy(&word, end - 8, 8);
            const quint64 before = n == 8 ? 0 : (quint64(1) << (8 * (8 - n))) - 1;
            word = (word & ~before) | (zeros & before);
            // Every byte 0x30..0x39: high nibble 3, and still 3 after adding 6
            // (no carry can leave a byte once its high nibble is 3).
            if ((word & highNibbles) == zeros &&
                ((word + 0x0606060606060606u) & highNibbles) == zeros) {
                quint64 x = word - zeros; // the first digit in the lowest byte
                x = (x * 10 + (x >> 8)) & 0x00FF00FF00FF00FFu;
                x = (x * 100 + (x >> 16)) & 0x0000FFFF0000FFFFu;
                x = (x * 10000 + (x >> 32)) & 0xFFFFFFFFu;
                value = Int(x);
                return true;
            }
        }
    }
    return toInteger(field, value);
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

WIRE_INLINE void splitListener(QByteArrayView r, SeparatorScanner<true>& scan, SplitResult& out)
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
    f.userLimit = between(r, productEnd + 1, limitEnd < 0 ? scan.end(productEnd + 1) : limitEnd);
    if (!toIntegerInRecord(f.product, r.data(), f.productNumber))
        return failField(out, SplitError::NotDecimal, RecordField::Product, f.product);
    if (!toIntegerInRecord(f.userLimit, r.data(), f.userLimitNumber))
        failField(out, SplitError::NotDecimal, RecordField::UserLimit, f.userLimit);
}

WIRE_INLINE void splitProcess(QByteArrayView r, SeparatorScanner<false>& scan, SplitResult& out)
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
    f.cpuTime = between(r, userEnd + 1, cpuEnd < 0 ? scan.end(userEnd + 1) : cpuEnd);
    if (!toIntegerInRecord(f.cpuTime, r.data(), f.cpuMs))
        return failField(out, SplitError::NotDecimal, RecordField::CpuTime, f.cpuTime);
    if (cpuEnd < 0)
        return;
    // A bar after the CPU time: the rest of the record is the priority.
    const QByteArrayView priority = between(r, cpuEnd + 1, scan.end(cpuEnd + 1));
    qint32 value = 0;
    if (!toIntegerInRecord(priority, r.data(), value))
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

RecordKind kindOf(QByteArrayView body)
{
    return !body.empty() && body.front() == 'S' ? RecordKind::Listener : RecordKind::Process;
}

SplitResult splitRecord(QByteArrayView body)
{
    SplitResult out;
    // A NUL first byte ends an empty record, which is not 'S': a process.
    out.kind = !body.empty() && body.front() == 'S' ? RecordKind::Listener : RecordKind::Process;
    if (out.kind == RecordKind::Listener) {
        SeparatorScanner<true> scan(body);
        splitListener(body, scan, out);
    } else {
        SeparatorScanner<false> scan(body);
        splitProcess(body, scan, out);
    }
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
