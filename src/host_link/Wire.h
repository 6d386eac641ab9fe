#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>

// The console protocol's wire formats as pure functions over bytes: the logon
// bytes, request framing, the frame header and the two reply records. Nothing
// here touches a socket, and nothing a successful parse returns is a QString:
// fields are views into the caller's bytes.
namespace Wire {

constexpr int LogonFieldLength = 16;
constexpr int LogonRecordLength = 7 * LogonFieldLength; // 112
constexpr int HeaderLength = 4;
constexpr int MaxBody = 9999; // what four digits can announce

// "%.6d" of the kind followed by the seven fields, each cut to 16 bytes and
// filled on the right with spaces: 118 bytes.
QByteArray logonBytes(qint32 kind, const std::array<QByteArray, 7>& fields);

// What the one-character answer to the logon means. Only a reply of exactly
// one byte counts: "0" accepted, "1" refused; anything else, or nothing, failed.
enum class LogonReply
{
    Accepted,
    Refused,
    Failed
};
LogonReply parseLogonReply(QByteArrayView reply);

// "%.4d%s": four zero-filled digits and the body. nullopt for a body longer
// than MaxBody, which cannot be framed.
std::optional<QByteArray> frame(QByteArrayView body);

// The length announced by a frame header: exactly four ASCII digits, nothing
// else (no sign, no blank). nullopt for anything else. Inline: every record
// of a list passes here.
inline std::optional<int> parseHeader(QByteArrayView header)
{
    if (header.size() != HeaderLength)
        return std::nullopt;
    int value = 0;
    for (int i = 0; i < HeaderLength; ++i) {
        const char c = header[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

enum class RecordKind
{
    Listener,
    Process
};

// Routing is by the first character alone: "S" is a listener record, anything
// else a process record.
RecordKind kindOf(QByteArrayView body);

// Fields of a listener record, as views into the record.
struct ListenerFields
{
    QByteArrayView pin;
    QByteArrayView port;
    QByteArrayView program;
    QByteArrayView product;   // as received
    QByteArrayView userLimit; // as received
    qint32 productNumber = 0;
    qint32 userLimitNumber = 0;
};

// Fields of a process record, as views into the record.
struct ProcessFields
{
    QByteArrayView mainPin; // empty unless the flag is '0'
    QByteArrayView pin;
    QByteArrayView program;
    QByteArrayView user;
    QByteArrayView cpuTime; // as received
    qint64 cpuMs = 0;
    int priority = 0; // 1..4 when the record carries one, 0 when it has none
};

// Why a record could not be split, one value per reason the operator is told.
enum class SplitError
{
    None,
    MissingSeparatorBeforePin,       // process: no bar from the flag on
    MissingSeparatorAfterPin,        // listener or process
    MissingSpaceAfterPort,           // listener
    MissingSeparatorAfterProgram,    // listener or process
    MissingSeparatorBeforeUserLimit, // listener
    MissingSeparatorBeforeCpuTime,   // process
    NotDecimal,                      // badField / badFieldId say which
    PriorityOutOfRange               // badField holds the priority's text
};

// The numeric field that a NotDecimal or PriorityOutOfRange error is about.
enum class RecordField
{
    None,
    Product,
    UserLimit,
    CpuTime,
    Priority
};

struct SplitResult
{
    RecordKind kind = RecordKind::Process;
    ListenerFields listener;
    ProcessFields process;
    SplitError error = SplitError::None;
    QByteArrayView badField; // the offending text for NotDecimal / range errors
    RecordField badFieldId = RecordField::None;
    bool ok() const { return error == SplitError::None; }
};

// The operator's text for a failed split ("missing space after the port",
// "CPU time '12a' is not a decimal number", "priority 5 is outside 1 to 4");
// empty when the split succeeded.
QString errorText(const SplitResult& r);

// Splits one reply body in a single pass over its bytes. The record ends at
// its first NUL byte. Views point into body, which must outlive them.
SplitResult splitRecord(QByteArrayView body);

// Request letters of the request catalogue.
inline constexpr char GetListeners = 'G', GetProcesses = 'H', StartListener = 'S', Kill = 'K',
                      SetPriority = 'P', ShutdownJob = 'E', Quit = 'Q';

QByteArray killListenerArgument(QByteArrayView pin);                        // "S" + pin
QByteArray killProcessArgument(QByteArrayView mainPin, QByteArrayView pin); // "P" + main|pin
// pin + "|" + code; empty when no queue was chosen (code 0).
QByteArray setPriorityArgument(QByteArrayView pin, int code);
QByteArray startListenerArgument(QByteArrayView product, QByteArrayView port, QByteArrayView users,
                                 QByteArrayView command);

// "BS", "CS", "DS", "ES" for 1..4; empty otherwise.
QByteArray priorityText(int priority);
// The queue a process can be moved to and its digit on the wire: "CS" 2,
// "DS" 3, "ES" 4; anything else 0 (no queue).
int priorityCode(QByteArrayView queue);
QByteArrayView priorityName(int code);

} // namespace Wire
