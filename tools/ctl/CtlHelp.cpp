#include "CtlHelp.h"

#include <QStringList>

#include <array>

namespace {

struct CommandHelp
{
    const char* name;
    const char* synopsis;
    const char* text;
};

constexpr std::array<CommandHelp, 10> Commands = {{
    {"listeners", "listeners",
     "Prints the listeners of the server job: Pin, Product, Program, Port and\n"
     "MaxUsers (\"unlimited\" for a user limit of 0).\n"
     "JSON keys: pin, port, program, product (as received), product_name,\n"
     "user_limit (as received), max_users.\n"},
    {"processes", "processes PIN",
     "Prints the user processes of the listener PIN: Main, Pin, Program, User,\n"
     "CPU Time (seconds) and Pri (BS, CS, DS or ES, when the host reports it).\n"
     "JSON keys: main_pin (empty when none), pin, program, user, cpu_ms,\n"
     "cpu_seconds, priority (null when the host reports none).\n"},
    {"start", "start PRODUCT PORT USERS COMMAND",
     "Starts a listener, then prints the listener list.\n"
     "  PRODUCT  the product number, e.g. 16; \"16 - Vanguard\" is taken as 16\n"
     "  PORT     the TCP port the listener serves, 0 to 65535\n"
     "  USERS    the most users it accepts, 0 for no limit; may be empty (\"\")\n"
     "  COMMAND  the command that starts the listener program on the host, e.g.\n"
     "           \"VGDSRVR.KQ.ORVANITE;PRI=DS S\" (quote it; put -- before it when it\n"
     "           starts with -)\n"
     "The host does not answer the request: a listener that fails to start is\n"
     "simply missing from the list.\n"},
    {"kill-listener", "kill-listener PIN",
     "Kills the listener PIN. This aborts all users connected via this listener.\n"
     "Nothing is printed; check the result with the listeners command.\n"},
    {"kill-process", "kill-process MAIN PIN",
     "Kills the user process PIN that belongs to the main process MAIN (the Main\n"
     "and Pin columns of the processes command). This aborts the user connected\n"
     "to this process. Nothing is printed.\n"},
    {"set-priority", "set-priority PIN CS|DS|ES",
     "Moves the process PIN to the dispatching queue CS, DS or ES. Nothing is\n"
     "printed.\n"},
    {"shutdown", "shutdown --yes",
     "Shuts the whole server job down. This aborts all users; it is refused\n"
     "without --yes.\n"},
    {"config show", "config show FILE [--reveal]",
     "Prints the settings of a configuration file, passwords shown as ********\n"
     "unless --reveal is given. JSON prints one object with the keys host, port,\n"
     "user, user_password, group, group_password, account, account_password,\n"
     "logon_extra and refresh_interval (seconds).\n"},
    {"config set", "config set FILE KEY=VALUE... | config set FILE -",
     "Changes the given settings of a configuration file, or creates the file\n"
     "(readable by its owner only) from the defaults (port 30000, user MANAGER,\n"
     "account SYS, refresh interval 5) when it does not exist. KEY is one of the\n"
     "keys of config show. port takes 0 to 65535; refresh_interval whole seconds,\n"
     "raised to 5 or lowered to 60 as the console does. The file is written\n"
     "with a fresh key and replaced in one step: it is never left half-written.\n"
     "With - instead of the assignments, KEY=VALUE lines are read from the\n"
     "standard input, so that passwords do not show in the process list.\n"},
    {"completion", "completion bash|zsh",
     "Prints the completion script for bash or zsh, made from this program's own\n"
     "commands and options. Installed copies are loaded by the shell; to try one:\n"
     "  source <(orvanite-ctl completion bash)\n"},
}};

const CommandHelp* find(const QString& name)
{
    for (const CommandHelp& c : Commands) {
        if (name == QLatin1StringView(c.name))
            return &c;
    }
    return nullptr;
}

} // namespace

QStringList CtlHelp::Synopses()
{
    QStringList synopses;
    for (const CommandHelp& c : Commands)
        synopses << QLatin1StringView(c.synopsis);
    return synopses;
}

bool CtlHelp::IsCommand(const QString& command)
{
    return find(command) != nullptr;
}

QString CtlHelp::Synopsis(const QString& command)
{
    const CommandHelp* c = find(command);
    return c ? QStringLiteral("orvanite-ctl [OPTIONS] ") + QLatin1StringView(c->synopsis)
             : QString();
}

QString CtlHelp::Command(const QString& command)
{
    if (command == QStringLiteral("config")) {
        return QStringLiteral("Usage: orvanite-ctl config show FILE [--reveal]\n"
                              "       orvanite-ctl config set FILE KEY=VALUE...\n\n") +
               Command(QStringLiteral("config show")) + u'\n' +
               Command(QStringLiteral("config set"));
    }
    const CommandHelp* c = find(command);
    if (!c)
        return {};
    return QStringLiteral("Usage: %1\n\n%2").arg(Synopsis(command), QLatin1StringView(c->text));
}

QString CtlHelp::Program()
{
    QString text = QStringLiteral(
        "Usage: orvanite-ctl [--config FILE | --host HOST [--port N] [--user U] [--group G]\n"
        "                    [--account A]] [--format table|json|csv] [--timeout SECONDS]\n"
        "                    [--list-timeout SECONDS]\n"
        "                    COMMAND [ARGS]\n\n"
        "Lists and acts on a host's server job from a shell, as the Orvanite Server\n"
        "Console does, and reads and writes the console's configuration files.\n\n"
        "Commands:\n");
    for (const CommandHelp& c : Commands)
        text += QStringLiteral("  %1\n").arg(QLatin1StringView(c.synopsis));
    text += QStringLiteral(
        "  help [COMMAND]\n\n"
        "Options:\n"
        "  --config FILE       connection and logon settings from a configuration file\n"
        "                      (the only place for passwords)\n"
        "  --host HOST         host name or dotted address of the server job\n"
        "  --port N            its TCP port (default 30000)\n"
        "  --user U            logon user (default MANAGER)\n"
        "  --group G           logon group (default none)\n"
        "  --account A         logon account (default SYS)\n"
        "  --format FORMAT     table (default), json or csv\n"
        "  --timeout SECONDS   longest wait to connect, to log on and for each reply\n"
        "                      (default 30 s for connecting and logging on, 10 s for\n"
        "                      each reply); a read gives up at the first check after\n"
        "                      SECONDS + 1 whole seconds\n"
        "  --list-timeout SECONDS\n"
        "                      stop a list that has not ended after so long (by\n"
        "                      default a list ends only at its end, at a reply that\n"
        "                      does not come in time, or past 1,000,000 records)\n"
        "  -h, --help          this help; COMMAND --help for a command's\n"
        "  --version           the program's version\n\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  network error (WINSOCK error: N and its text on the error output)\n"
        "  2  usage error\n"
        "  3  logon refused (Invalid Login!)\n"
        "  4  logon failed (Error creating server process!)\n"
        "  5  configuration file error\n"
        "  6  a malformed record in a reply (the records before it are printed)\n");
    return text;
}
