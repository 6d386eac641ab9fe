#include "CtlCommands.h"

#include "CtlUsageError.h"
#include "host_link/Wire.h"

#include <algorithm>
#include <array>

namespace {

QByteArray pinArgument(const QString& text, const QString& what)
{
    if (text.isEmpty() ||
        !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        throw CtlUsageError(QStringLiteral("%1 must be a decimal PIN, not '%2'").arg(what, text));
    return text.toLatin1();
}

QByteArray processesArgument(const QStringList& operands)
{
    return pinArgument(operands[0], QStringLiteral("PIN"));
}

HostCommand startCommand(const QStringList& operands)
{
    // "16 - Vanguard" as the dialog lists it, or "16".
    QString product = operands[0];
    if (const qsizetype dash = product.indexOf(u'-'); dash >= 0)
        product.truncate(dash);
    product = product.trimmed();
    if (CtlCommands::decimal(product, 0, 999'999'999) < 0)
        throw CtlUsageError(
            QStringLiteral("PRODUCT must be a product number, not '%1'").arg(operands[0]));
    if (CtlCommands::decimal(operands[1], 0, 65535) < 0)
        throw CtlUsageError(QStringLiteral("PORT takes 0 to 65535, not '%1'").arg(operands[1]));
    if (!operands[2].isEmpty() && CtlCommands::decimal(operands[2], 0, 999'999'999) < 0)
        throw CtlUsageError(
            QStringLiteral("USERS must be a number (0 for no limit), not '%1'").arg(operands[2]));
    return HostCommand::startListener(
        product.toLatin1(), operands[1].toLatin1(), operands[2].toLatin1(),
        CtlUsageError::latin1(operands[3], QStringLiteral("COMMAND")));
}

HostCommand killListenerCommand(const QStringList& operands)
{
    return HostCommand::killListener(pinArgument(operands[0], QStringLiteral("PIN")));
}

HostCommand killProcessCommand(const QStringList& operands)
{
    return HostCommand::killProcess({}, pinArgument(operands[0], QStringLiteral("MAIN")),
                                    pinArgument(operands[1], QStringLiteral("PIN")));
}

HostCommand setPriorityCommand(const QStringList& operands)
{
    const int code = Wire::priorityCode(operands[1].toUpper().toLatin1());
    if (code == 0)
        throw CtlUsageError(QStringLiteral("the queue is CS, DS or ES, not '%1'").arg(operands[1]));
    return HostCommand::setPriority({}, pinArgument(operands[0], QStringLiteral("PIN")), code);
}

HostCommand shutdownCommand(const QStringList&)
{
    return HostCommand::shutdownJob();
}

const std::array<CtlCommand, 13> Commands = {{
    {"listeners", "listeners [--watch SECONDS]",
     "Prints the listeners of the server job: Pin, Product, Program, Port and\n"
     "MaxUsers (\"unlimited\" for a user limit of 0).\n"
     "JSON keys: pin, port, product and user_limit (numbers; 0 for no limit),\n"
     "program, product_name and max_users (texts as the console shows them).\n"
     "With --config given more than once, the hosts are listed at once and each\n"
     "row begins with its host (Host, key host): the file's name without .hcf.\n",
     "", "--watch", Wire::GetListeners, CtlListKind::Listeners, CtlAction::Host, nullptr},
    {"processes", "processes PIN [--watch SECONDS]",
     "Prints the user processes of the listener PIN: Main, Pin, Program, User,\n"
     "CPU Time (seconds) and Pri (BS, CS, DS or ES, when the host reports it).\n"
     "JSON keys: main_pin (null when none), pin, cpu_ms, cpu_seconds (numbers),\n"
     "program, user, priority (texts; priority null when the host reports none).\n"
     "With --config given more than once, each host's listener PIN is listed\n"
     "and each row begins with its host, as for listeners.\n",
     "PIN", "--watch", Wire::GetProcesses, CtlListKind::Processes, CtlAction::Host,
     &processesArgument},
    {"start",
     "start PRODUCT PORT USERS COMMAND [--verify [--verify-timeout SECONDS]] [--require-audit]",
     "Starts a listener, then prints the listener list.\n"
     "  PRODUCT  the product number, e.g. 16; \"16 - Vanguard\" is taken as 16\n"
     "  PORT     the TCP port the listener serves, 0 to 65535\n"
     "  USERS    the most users it accepts, 0 for no limit; may be empty (\"\")\n"
     "  COMMAND  the command that starts the listener program on the host, e.g.\n"
     "           \"VGDSRVR.KQ.ORVANITE;PRI=DS S\" (quote it; put -- before it when it\n"
     "           starts with -)\n"
     "The host does not answer the request: a listener that fails to start is\n"
     "simply missing from the list. With --verify the listeners are listed again\n"
     "until a new listener of PRODUCT serves PORT (exit status 8 when none does\n"
     "within the verify time-out).\n",
     "PRODUCT PORT USERS COMMAND", "--verify --verify-timeout --require-audit", Wire::StartListener,
     CtlListKind::Listeners, CtlAction::Host, nullptr, &startCommand},
    {"kill-listener",
     "kill-listener PIN [--expect-port N] [--verify [--verify-timeout SECONDS]] "
     "[--require-audit]",
     "Kills the listener PIN. This aborts all users connected via this listener.\n"
     "Nothing is printed. With --expect-port the listeners are listed first, and\n"
     "nothing is killed unless PIN is listed (else exit status 10) and serves\n"
     "port N (else 7; a PIN listed more than once with other details is refused).\n"
     "With --verify the listeners are listed again until PIN is gone (exit\n"
     "status 8 when it is still there after the verify time-out).\n",
     "PIN", "--expect-port --verify --verify-timeout --require-audit", Wire::Kill,
     CtlListKind::None, CtlAction::Host, nullptr, &killListenerCommand},
    {"kill-process",
     "kill-process MAIN PIN [--expect-program NAME] [--expect-user NAME] [--verify "
     "[--verify-timeout SECONDS]] [--require-audit]",
     "Kills the user process PIN that belongs to the main process MAIN (the Main\n"
     "and Pin columns of the processes command). This aborts the user connected\n"
     "to this process. Nothing is printed. With --expect-program or --expect-user\n"
     "the processes are listed first, and nothing is killed unless PIN is listed\n"
     "(else exit status 10) under MAIN and runs that program for that user (else\n"
     "7); a PIN listed more than once with other details (in any list) is\n"
     "refused.\n"
     "With --verify the process's list is read again until PIN is gone (exit\n"
     "status 8 when it is still there after the verify time-out).\n",
     "MAIN PIN", "--expect-program --expect-user --verify --verify-timeout --require-audit",
     Wire::Kill, CtlListKind::None, CtlAction::Host, nullptr, &killProcessCommand},
    {"set-priority", "set-priority PIN CS|DS|ES [--require-audit]",
     "Moves the process PIN to the dispatching queue CS, DS or ES. Nothing is\n"
     "printed.\n",
     "PIN CS|DS|ES", "--require-audit", Wire::SetPriority, CtlListKind::None, CtlAction::Host,
     nullptr, &setPriorityCommand},
    {"shutdown", "shutdown --yes [--require-audit]",
     "Shuts the whole server job down. This aborts all users; it is refused\n"
     "without --yes.\n",
     "", "--yes --require-audit", Wire::ShutdownJob, CtlListKind::None, CtlAction::Host, nullptr,
     &shutdownCommand},
    {"hosts", "hosts",
     "Prints one row for each host (--config given once or more, or --host):\n"
     "Name (the file's name without .hcf, or HOST:PORT), Link (connected, or\n"
     "the error), Listeners, Processes (of all listeners), CPU Time (seconds,\n"
     "of all processes), Listed (when the lists were read), Reconnections\n"
     "(always 0: each run connects once) and Route (\"via DEST\" through an SSH\n"
     "route, else \"direct\"). The hosts are listed at once; a host\n"
     "that fails still has its row, and the exit status is that of the first\n"
     "one that failed.\n"
     "JSON keys: name, link, listed (texts), listeners, processes, cpu_ms,\n"
     "cpu_seconds, reconnections (numbers; null when the host was not listed),\n"
     "route (the SSH destination; null when direct).\n",
     "", "", 0, CtlListKind::None, CtlAction::Hosts, nullptr},
    {"audit", "audit [--filter TEXT] [--limit N]",
     "Prints the audit trail of this user's consoles and orvanite-ctl runs\n"
     "($XDG_STATE_HOME/orvanite/audit.jsonl), newest first: each command that\n"
     "changed a host with the effect seen after it. Columns Time, User, Program,\n"
     "Host (HOST:PORT), Command, Argument, Target and Effect. No host is asked.\n"
     "  --filter TEXT  only the entries with TEXT in any column, in any case\n"
     "  --limit N      only the newest N entries (after the filter)\n"
     "JSON and CSV keys: id, time (UTC), user, program, host, port, command,\n"
     "argument, target_listener, target_pin, target_program, target_user,\n"
     "target_port, target_queue, effect and effect_time (null when no effect\n"
     "was written), seen_pin and seen_port (the listener a start brought).\n",
     "", "--filter --limit", 0, CtlListKind::None, CtlAction::Audit, nullptr},
    {"config show", "config show FILE [--reveal]",
     "Prints the settings of a configuration file, passwords shown as ********\n"
     "unless --reveal is given. JSON prints one object with the keys host, port,\n"
     "user, user_password, group, group_password, account, account_password,\n"
     "logon_extra and refresh_interval (seconds).\n",
     "FILE", "--reveal", 0, CtlListKind::None, CtlAction::ConfigShow, nullptr},
    {"config set", "config set FILE KEY=VALUE... | config set FILE -",
     "Changes the given settings of a configuration file, or creates the file\n"
     "(readable by its owner only) from the defaults (port 30000, user MANAGER,\n"
     "account SYS, refresh interval 5) when it does not exist. KEY is one of the\n"
     "keys of config show. port takes 0 to 65535; refresh_interval whole seconds,\n"
     "raised to 5 or lowered to 60 as the console does. The file is written\n"
     "with a fresh key and replaced in one step: it is never left half-written.\n"
     "With - instead of the assignments, KEY=VALUE lines are read from the\n"
     "standard input, so that passwords do not show in the process list.\n",
     "FILE KEY=VALUE...", "", 0, CtlListKind::None, CtlAction::ConfigSet, nullptr},
    {"completion", "completion bash|zsh",
     "Prints the completion script for bash or zsh, made from this program's own\n"
     "commands and options. Installed copies are loaded by the shell; to try one:\n"
     "  source <(orvanite-ctl completion bash)\n",
     "bash|zsh", "", 0, CtlListKind::None, CtlAction::Completion, nullptr},
    {"help", "help [COMMAND]",
     "Prints the help of the program, or of COMMAND; the same as --help after a\n"
     "command.\n",
     "[COMMAND...]", "", 0, CtlListKind::None, CtlAction::Help, nullptr},
}};

const std::array<CtlOption, 27> Options = {{
    {"--config", "FILE",
     "connection and logon settings from a configuration file\n(the only place for passwords); "
     "listeners, processes and\nhosts take it more than once, one host each"},
    {"--host", "HOST", "host name or dotted address of the server job"},
    {"--port", "N", "its TCP port (default 30000)"},
    {"--user", "U", "logon user (default MANAGER)"},
    {"--group", "G", "logon group (default none)"},
    {"--account", "A", "logon account (default SYS)"},
    {"--ssh", "DEST",
     "reach the host through an SSH route to DEST\n([user@]host[:port]; every host when "
     "--config is given more\nthan once) instead of the host's own route in\n"
     "~/.config/orvanite/routes; ORVANITE_SSH_COMMAND replaces \"ssh\""},
    {"--format", "table|json|csv|tsv",
     "table (default), json, csv or tsv (tab-separated values:\nCSV's keys and values, "
     "\\t \\n \\r \\\\ escaped in texts)"},
    {"--crlf", nullptr, "CSV lines end in CR LF (by default in LF)"},
    {"--no-headers", nullptr, "no title line in the table, the CSV or the TSV"},
    {"--no-align", nullptr,
     "the table's columns separated by one tab, each row printed\nas it is read"},
    {"--timeout", "SECONDS",
     "the wait to connect and log on, and of each read of a reply\n(a header, then a body; "
     "default 30 s and 10 s); a read gives\nup SECONDS + 1 s after it began"},
    {"--list-timeout", "SECONDS",
     "stop a list that has not ended after so long (by default a\nlist ends only at its end, "
     "at a read that waits too long,\nor past 1,000,000 records)"},
    {"-h", nullptr, "this help; COMMAND --help for a command's"},
    {"--help", nullptr, "the same as -h"},
    {"--version", nullptr, "the program's version"},
    {"--watch", "SECONDS",
     "listeners, processes: list again every SECONDS until\ninterrupted (redrawn on a "
     "terminal; otherwise each list in\nturn, JSON as one document a line)"},
    {"--expect-program", "NAME", "kill-process: kill only if PIN runs the program NAME"},
    {"--expect-user", "NAME", "kill-process: kill only if PIN runs for the user NAME"},
    {"--expect-port", "N", "kill-listener: kill only if PIN serves the port N"},
    {"--verify", nullptr,
     "start, kill-listener, kill-process: list again after the\ncommand until its effect is "
     "seen"},
    {"--verify-timeout", "SECONDS", "how long --verify looks (default 15 s)"},
    {"--yes", nullptr, "shutdown: confirms it"},
    {"--require-audit", nullptr,
     "start, kill-*, set-priority, shutdown: send nothing unless\nits line is written to the "
     "audit trail (exit status 9)"},
    {"--reveal", nullptr, "config show: passwords in clear"},
    {"--filter", "TEXT", "audit: only entries that contain TEXT (any case)"},
    {"--limit", "N", "audit: only the newest N entries"},
}};

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

namespace CtlCommands {

std::span<const CtlCommand> all()
{
    return Commands;
}

const CtlCommand* find(const QString& name)
{
    for (const CtlCommand& c : Commands) {
        if (name == QLatin1StringView(c.name))
            return &c;
    }
    return nullptr;
}

std::span<const CtlOption> options()
{
    return Options;
}

const CtlOption* findOption(const QString& name)
{
    for (const CtlOption& o : Options) {
        if (name == QLatin1StringView(o.name))
            return &o;
    }
    return nullptr;
}

QStringList commandsTaking(const QString& option)
{
    QStringList names;
    for (const CtlCommand& c : Commands) {
        if (optionNames(c).contains(option))
            names << QLatin1StringView(c.name);
    }
    return names;
}

QStringList operandNames(const CtlCommand& command)
{
    return words(command.operands);
}

QStringList optionNames(const CtlCommand& command)
{
    return words(command.options);
}

int minimumOperands(const CtlCommand& command)
{
    const QStringList names = operandNames(command);
    return int(std::count_if(names.cbegin(), names.cend(),
                             [](const QString& n) { return !n.startsWith(u'['); }));
}

int maximumOperands(const CtlCommand& command)
{
    const QStringList names = operandNames(command);
    if (!names.isEmpty() && (names.last().endsWith(QStringLiteral("...")) ||
                             names.last().endsWith(QStringLiteral("...]"))))
        return -1;
    return int(names.size());
}

long long decimal(QStringView text, long long min, long long max)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    long long value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value < min || value > max ? -1 : value;
}

} // namespace CtlCommands
