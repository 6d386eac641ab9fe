#pragma once

#include "session/HostCommand.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <span>

// The list a command reads from the host and prints.
enum class CtlListKind
{
    None,
    Listeners,
    Processes,
};

// What runs a command: the host exchange shared by every host command, or one
// of the commands that stay on this machine.
enum class CtlAction
{
    Host,
    ConfigShow,
    ConfigSet,
    Completion,
    Help,
    Audit, // reads the audit trail of this user
    Hosts, // one summary row per host
};

// One command of orvanite-ctl. The help, the argument checks, the dispatch and
// the shell completions all read this one table, so that a command is added
// or changed in one place.
struct CtlCommand
{
    const char* name;     // "listeners", "kill-process", "config show"
    const char* synopsis; // without the program and its options
    const char* help;     // the command's help text, after its synopsis
    // Operand names for the count check and the completions: "MAIN PIN". A
    // name in brackets may be left out; a last name ending in "..." repeats.
    // FILE completes to configuration files, "A|B" to its choices.
    const char* operands;
    // The command's own options, beyond those every command takes.
    const char* options;
    char request;     // the request letter sent to the host; 0 for none
    CtlListKind list; // the list read and printed after the request
    CtlAction action;
    // Checks the operands and builds a list request's argument; null when
    // the request has none. Throws CtlUsageError.
    QByteArray (*argument)(const QStringList& operands);
    // A command that changes the host: checks the operands and builds it
    // (the session encodes it). Throws CtlUsageError.
    HostCommand (*command)(const QStringList& operands) = nullptr;
};

// One option: its name, the word for its value (null for a flag, "A|B" for
// choices) and its line in the help (continuation lines start with "\n").
struct CtlOption
{
    const char* name;
    const char* value;
    const char* help;
};

namespace CtlCommands {

std::span<const CtlCommand> all();
const CtlCommand* find(const QString& name);

// Every option: those every command takes first, then the commands' own.
std::span<const CtlOption> options();
const CtlOption* findOption(const QString& name);
// The commands that take an option of their own ("shutdown" for --yes);
// empty for an option every command takes.
QStringList commandsTaking(const QString& option);

QStringList operandNames(const CtlCommand& command);
QStringList optionNames(const CtlCommand& command);
// How many operands the command takes: at least minimum, at most maximum
// (-1: no limit).
int minimumOperands(const CtlCommand& command);
int maximumOperands(const CtlCommand& command);

// Strict decimal: digits only, within min..max; -1 for anything else.
long long decimal(QStringView text, long long min, long long max);

} // namespace CtlCommands
