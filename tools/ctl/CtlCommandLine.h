#pragma once

#include "CtlCommands.h"

#include <QString>
#include <QStringList>

#include <optional>

// The output formats of orvanite-ctl.
enum class CtlFormat
{
    Table,
    Json,
    Csv,
    Tsv
};

// Everything the command line asked for, before any check of the command's
// own operands.
struct CtlOptions
{
    QString ConfigPath;      // --config, the first
    QStringList ConfigPaths; // every --config, in order
    std::optional<QString> Host, Port, User, Group, Account;
    QString SshDestination; // --ssh: the host is reached through this SSH destination
    CtlFormat Format = CtlFormat::Table;
    bool NoHeaders = false;
    bool NoAlign = false;
    bool Crlf = false; // CSV lines end in CR LF
    std::optional<int> TimeoutSeconds;
    // When set, a list still coming after so long is stopped.
    std::optional<int> ListTimeoutSeconds;
    std::optional<int> WatchSeconds;
    std::optional<QString> ExpectProgram, ExpectUser;
    std::optional<int> ExpectPort;
    bool Verify = false;
    int VerifyTimeoutSeconds = 15;

    QString Command;                   // "listeners", "config show", "help", ... ; empty when none
    const CtlCommand* Entry = nullptr; // the command's entry; null when none or unknown
    QStringList Operands;              // the command's positional arguments
    bool Yes = false;                  // shutdown --yes
    bool RequireAudit = false;         // --require-audit: nothing unrecorded is sent
    bool Reveal = false;               // config show --reveal
    std::optional<QString> Filter;     // audit --filter
    std::optional<int> Limit;          // audit --limit
    bool Help = false;                 // --help / -h, for the program or the command
    bool Version = false;              // --version
};

// Splits orvanite-ctl's arguments into options, the command and its operands.
// Options may stand before or after the command ("listeners --format json");
// "--" ends the options, so that a COMMAND text may start with "-".
class CtlCommandLine
{
public:
    // Throws CtlUsageError for an unknown option, a missing or bad value, or
    // an option that the command does not take.
    static CtlOptions parse(const QStringList& arguments);
};
