#include "CtlExit.h"

#include <array>

namespace {

const std::array<CtlExitInfo, 14> Exits = {{
    {CtlExit::Success, "success (also when the reader of the output stopped early,\n"
                       "as | head does: the rest is not printed, without a message)"},
    {CtlExit::Network, "network error (WINSOCK error: N and its text), a list the host\n"
                       "cut short, or output that could not be written"},
    {CtlExit::Usage, "usage error: nothing was sent and no file changed"},
    {CtlExit::LogonRefused, "logon refused (Invalid Login!)"},
    {CtlExit::LogonFailed, "logon failed (Error creating server process!)"},
    {CtlExit::Config, "configuration file error"},
    {CtlExit::BadReply, "a malformed reply (the records before it are printed), or a\n"
                        "list stopped past 1,000,000 records or by --list-timeout"},
    {CtlExit::NotAsExpected, "--expect-*: the PIN is another's, or is listed more than\n"
                             "once with other details; nothing was killed"},
    {CtlExit::NotVerified, "--verify: the command's effect was not seen in time"},
    {CtlExit::NotRecorded, "--require-audit: the audit trail could not be written; nothing\n"
                           "was sent"},
    {CtlExit::NotFound, "not found: processes PIN of a listener that is not listed,\n"
                        "or the target of --expect-* or --verify not listed; nothing\n"
                        "was printed on the standard output and nothing was killed"},
    {CtlExit::PasswordUnavailable, "the file's passwords are kept in the desktop keyring, which\n"
                                   "cannot be read (no session bus, locked, or without them; the\n"
                                   "reason on standard error); nothing was sent"},
    {CtlExit::UnknownKey, "unknown host key: the SSH route's jump host offered a key that\n"
                          "is not in known_hosts; its fingerprint and the command that adds\n"
                          "it are printed, and nothing was sent"},
    {CtlExit::Interrupted, "interrupted (SIGINT or SIGTERM); --watch ends with 0"},
}};

} // namespace

namespace CtlExits {

std::span<const CtlExitInfo> all()
{
    return Exits;
}

} // namespace CtlExits
