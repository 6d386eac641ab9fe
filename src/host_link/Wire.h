#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The console protocol's wire formats as pure functions over bytes: the logon
// bytes, request framing, the frame header and the two reply records. Nothing
// here touches a socket.
namespace Wire {

constexpr int LogonFieldLength = 16;
constexpr int LogonRecordLength = 7 * LogonFieldLength; // 112
constexpr int HeaderLength = 4;
constexpr int MaxBody = 9999; // what four digits can announce

// "%.6d" of the kind followed by the seven fields, each cut to 16 bytes and
// filled on the right with spaces: 118 bytes.
QByteArray LogonBytes(std::int32_t kind, const std::array<QByteArray, 7>& fields);

// What the one-character answer to the logon means. Only a reply of exactly
// one byte counts: "0" accepted, "1" refused; anything else, or nothing, failed.
enum class LogonReply
{
    Accepted,
    Refused,
    Failed
};
LogonReply ParseLogonReply(QByteArrayView reply);

// "%.4d%s": four zero-filled digits and the body. nullopt for a body longer
// than MaxBody, which cannot be framed.
std::optional<QByteArray> Frame(QByteArrayView body);

// The length announced by a frame header: exactly four ASCII digits, nothing
// else (no sign, no blank). nullopt for anything else.
std::optional<int> ParseHeader(QByteArrayView header);

enum class RecordKind
{
    Listener,
    Process
};

// Routing is by the first character alone: "S" is a listener record, anything
// else a process record.
RecordKind KindOf(std::string_view body);

// Fields of a listener record, as views into the record.
struct ListenerFields
{
    std::string_view Pin;
    std::string_view Port;
    std::string_view Program;
    std::string_view Product;   // as received
    std::string_view UserLimit; // as received
    std::int32_t ProductNumber = 0;
    std::int32_t UserLimitNumber = 0;
};

// Fields of a process record, as views into the record.
struct ProcessFields
{
    std::string_view MainPin; // empty unless the flag is '0'
    std::string_view Pin;
    std::string_view Program;
    std::string_view User;
    std::string_view CpuTime; // as received
    std::int64_t CpuMs = 0;
    int Priority = 0; // 1..4 when the record carries one, 0 when it has none
};

// Why a record could not be split; empty when it could.
struct SplitResult
{
    RecordKind Kind = RecordKind::Process;
    ListenerFields Listener;
    ProcessFields Process;
    QString Error;
    bool ok() const { return Error.isEmpty(); }
};

// Splits one reply body. The record ends at its first NUL byte. Views point
// into body, which must outlive them.
SplitResult SplitRecord(std::string_view body);

// Request letters and argument texts of the request catalogue.
inline constexpr std::string_view GetListeners = "G";
inline constexpr std::string_view GetProcesses = "H";
inline constexpr std::string_view StartListener = "S";
inline constexpr std::string_view Kill = "K";
inline constexpr std::string_view SetPriority = "P";
inline constexpr std::string_view ShutdownJob = "E";
inline constexpr std::string_view Quit = "Q";

QByteArray KillListenerArgument(QByteArrayView pin); // "S" + pin
QByteArray KillProcessArgument(QByteArrayView mainPin,
                               QByteArrayView pin); // "P" + main + "|" + pin
// pin + "|" + code; empty when no queue was chosen (code 0).
QByteArray SetPriorityArgument(QByteArrayView pin, int code);
QByteArray StartListenerArgument(QByteArrayView product, QByteArrayView port, QByteArrayView users,
                                 QByteArrayView command);

// "BS", "CS", "DS", "ES" for 1..4.
QByteArray PriorityText(int priority);

} // namespace Wire
