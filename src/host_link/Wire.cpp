#include "Wire.h"

#include "AppErrors.h"

#include <cstdio>
#include <cstring>

namespace Wire {

namespace {

// Position of c in s at or after from, or npos. memchr is what makes the
// splitting fast; string_view::find may not use it.
inline std::size_t findFrom(std::string_view s, char c, std::size_t from)
{
    if (from >= s.size())
        return std::string_view::npos;
    const void* hit = std::memchr(s.data() + from, c, s.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data())
               : std::string_view::npos;
}

inline QByteArrayView bytes(std::string_view s)
{
    return QByteArrayView(s.data(), static_cast<qsizetype>(s.size()));
}

inline QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

QString notDecimal(const char* what, std::string_view text)
{
    return QStringLiteral("%1 '%2' is not a decimal number")
        .arg(QLatin1StringView(what), latin1(text));
}

QString missing(const char* what)
{
    return QStringLiteral("missing %1").arg(QLatin1StringView(what));
}

void splitListener(std::string_view r, SplitResult& out)
{
    ListenerFields& f = out.Listener;
    // r[0] is 'S'; the PIN ends at the first bar after it.
    const std::size_t pinEnd = findFrom(r, '|', 1);
    if (pinEnd == std::string_view::npos) {
        out.Error = missing("separator after the PIN");
        return;
    }
    f.Pin = r.substr(1, pinEnd - 1);
    const std::size_t portEnd = findFrom(r, ' ', pinEnd + 1);
    if (portEnd == std::string_view::npos) {
        out.Error = missing("space after the port");
        return;
    }
    f.Port = r.substr(pinEnd + 1, portEnd - pinEnd - 1);
    const std::size_t programEnd = findFrom(r, '|', portEnd + 1);
    if (programEnd == std::string_view::npos) {
        out.Error = missing("separator after the program");
        return;
    }
    f.Program = r.substr(portEnd + 1, programEnd - portEnd - 1);
    const std::size_t productEnd = findFrom(r, '|', programEnd + 1);
    if (productEnd == std::string_view::npos) {
        out.Error = missing("separator before the user limit");
        return;
    }
    f.Product = r.substr(programEnd + 1, productEnd - programEnd - 1);
    // The user limit runs to the next bar; whatever follows that bar is ignored.
    const std::size_t limitEnd = findFrom(r, '|', productEnd + 1);
    f.UserLimit = limitEnd == std::string_view::npos
                      ? r.substr(productEnd + 1)
                      : r.substr(productEnd + 1, limitEnd - productEnd - 1);
    if (!TryStrToInt(bytes(f.Product), f.ProductNumber)) {
        out.Error = notDecimal("product", f.Product);
        return;
    }
    if (!TryStrToInt(bytes(f.UserLimit), f.UserLimitNumber))
        out.Error = notDecimal("user limit", f.UserLimit);
}

void splitProcess(std::string_view r, SplitResult& out)
{
    ProcessFields& f = out.Process;
    // The first bar is searched for from the flag (the second character) on,
    // so a record "P|456|..." has no main PIN and its PIN starts at the third.
    const std::size_t mainEnd = findFrom(r, '|', 1);
    if (mainEnd == std::string_view::npos) {
        out.Error = missing("separator before the PIN");
        return;
    }
    if (r.size() > 1 && r[1] == '0')
        f.MainPin = r.substr(2, mainEnd - 2);
    const std::size_t pinEnd = findFrom(r, '|', mainEnd + 1);
    if (pinEnd == std::string_view::npos) {
        out.Error = missing("separator after the PIN");
        return;
    }
    f.Pin = r.substr(mainEnd + 1, pinEnd - mainEnd - 1);
    const std::size_t programEnd = findFrom(r, '|', pinEnd + 1);
    if (programEnd == std::string_view::npos) {
        out.Error = missing("separator after the program");
        return;
    }
    f.Program = r.substr(pinEnd + 1, programEnd - pinEnd - 1);
    const std::size_t userEnd = findFrom(r, '|', programEnd + 1);
    if (userEnd == std::string_view::npos) {
        out.Error = missing("separator before the CPU time");
        return;
    }
    f.User = r.substr(programEnd + 1, userEnd - programEnd - 1);
    const std::size_t cpuEnd = findFrom(r, '|', userEnd + 1);
    if (cpuEnd == std::string_view::npos) {
        f.CpuTime = r.substr(userEnd + 1);
    } else {
        f.CpuTime = r.substr(userEnd + 1, cpuEnd - userEnd - 1);
    }
    if (!TryStrToInt64(bytes(f.CpuTime), f.CpuMs)) {
        out.Error = notDecimal("CPU time", f.CpuTime);
        return;
    }
    if (cpuEnd == std::string_view::npos)
        return;
    // A bar after the CPU time: the rest of the record is the priority.
    const std::string_view priority = r.substr(cpuEnd + 1);
    std::int32_t value = 0;
    if (!TryStrToInt(bytes(priority), value)) {
        out.Error = notDecimal("priority", priority);
        return;
    }
    if (value < 1 || value > 4) {
        out.Error = QStringLiteral("priority %1 is outside 1 to 4").arg(value);
        return;
    }
    f.Priority = value;
}

} // namespace

QByteArray LogonBytes(std::int32_t kind, const std::array<QByteArray, 7>& fields)
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

LogonReply ParseLogonReply(QByteArrayView reply)
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

std::optional<QByteArray> Frame(QByteArrayView body)
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

std::optional<int> ParseHeader(QByteArrayView header)
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

RecordKind KindOf(std::string_view body)
{
    return !body.empty() && body.front() == 'S' ? RecordKind::Listener : RecordKind::Process;
}

SplitResult SplitRecord(std::string_view body)
{
    // A record ends at its first NUL byte. An empty view may carry no data
    // pointer at all, which memchr must not be given.
    if (const void* nul = body.empty() ? nullptr : std::memchr(body.data(), '\0', body.size()))
        body =
            body.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - body.data()));
    SplitResult out;
    out.Kind = KindOf(body);
    if (out.Kind == RecordKind::Listener)
        splitListener(body, out);
    else
        splitProcess(body, out);
    return out;
}

QByteArray KillListenerArgument(QByteArrayView pin)
{
    return QByteArray("S").append(pin);
}

QByteArray KillProcessArgument(QByteArrayView mainPin, QByteArrayView pin)
{
    return QByteArray("P").append(mainPin).append('|').append(pin);
}

QByteArray SetPriorityArgument(QByteArrayView pin, int code)
{
    if (code == 0)
        return QByteArray();
    return pin.toByteArray().append('|').append(QByteArray::number(code));
}

QByteArray StartListenerArgument(QByteArrayView product, QByteArrayView port, QByteArrayView users,
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

QByteArray PriorityText(int priority)
{
    switch (priority) {
    case 1:
        return QByteArrayLiteral("BS");
    case 2:
        return QByteArrayLiteral("CS");
    case 3:
        return QByteArrayLiteral("DS");
    case 4:
        return QByteArrayLiteral("ES");
    default:
        return QByteArray();
    }
}

} // namespace Wire
