#pragma once

#include <span>

// orvanite-ctl's exit statuses. Scripts branch on these numbers, so a value
// never changes once published; the help and the manual page list them all.
enum class CtlExit : int
{
    Success = 0,
    Network = 1,       // a network error, a list cut short, or output that could not be written
    Usage = 2,         // nothing was sent and no file changed
    LogonRefused = 3,  // "Invalid Login!"
    LogonFailed = 4,   // "Error creating server process!"
    Config = 5,        // a configuration file that cannot be used
    BadReply = 6,      // a malformed reply, or a list stopped by the record cap or --list-timeout
    NotAsExpected = 7, // --expect-*: the PIN is another's or ambiguous; nothing was sent
    NotVerified = 8,   // --verify: the command's effect was not seen in time
    NotRecorded = 9,   // --require-audit: the audit line could not be written; nothing was sent
    NotFound = 10,     // the listener or process named is not listed; nothing was printed
    PasswordUnavailable =
        11,            // the passwords are kept in a keyring that cannot be read; nothing was sent
    UnknownKey = 12,   // the SSH route's jump host key is not in known_hosts; nothing was sent
    Interrupted = 130, // stopped by SIGINT or SIGTERM (a --watch ends with 0)
};

// One exit status with the line the help gives it.
struct CtlExitInfo
{
    CtlExit status;
    const char* help;
};

namespace CtlExits {

// Every status, in the order of the help.
std::span<const CtlExitInfo> all();

inline int code(CtlExit status)
{
    return static_cast<int>(status);
}

} // namespace CtlExits
