#pragma once

#include "CtlListing.h"

#include <QString>
#include <QStringList>

#include <optional>

// Everything the command line asked for, before any check of the command's
// own arguments.
struct CtlOptions
{
    QString ConfigPath; // --config
    std::optional<QString> Host, Port, User, Group, Account;
    CtlFormat Format = CtlFormat::Table;
    std::optional<int> TimeoutSeconds;
    // When set, a list still coming after so long is stopped (exit status 6).
    std::optional<int> ListTimeoutSeconds;

    QString Command;      // "listeners", "config show", "help", ... ; empty when none
    QStringList Operands; // the command's positional arguments
    bool Yes = false;     // shutdown --yes
    bool Reveal = false;  // config show --reveal
    bool Help = false;    // --help / -h, for the program or the command
    bool Version = false; // --version
};

// One option of orvanite-ctl: its name and, for an option that takes a value,
// what the value is (a word in capitals, or the choices joined by "|").
struct CtlOption
{
    const char* name;
    const char* value; // null for a flag
};

// Splits orvanite-ctl's arguments into options, the command and its operands.
// Options may stand before or after the command ("listeners --format json");
// "--" ends the options, so that a COMMAND text may start with "-".
class CtlCommandLine
{
public:
    // Throws CtlUsageError for an unknown option, a missing or bad value, or
    // an option that the command does not take.
    static CtlOptions Parse(const QStringList& arguments);

    // Every option Parse takes.
    static QList<CtlOption> Options();

    // Strict decimal: digits only, within min..max; nullopt otherwise.
    static std::optional<int> Decimal(const QString& text, int min, int max);
};
