#include "CtlCommandLine.h"

#include "CtlUsageError.h"
#include "host_link/Wire.h"
#include "session/SshTunnel.h"

namespace {

// Longest wait that the time-outs accept, in seconds (one day).
constexpr int MaxSeconds = 86400;

QString valueOf(const QStringList& arguments, qsizetype& i, const QString& name,
                const std::optional<QString>& inlineValue)
{
    if (inlineValue)
        return *inlineValue;
    if (i + 1 >= arguments.size())
        throw CtlUsageError(QStringLiteral("option %1 needs a value").arg(name));
    return arguments[++i];
}

int seconds(const QString& name, const QString& text)
{
    const long long value = CtlCommands::decimal(text, 1, MaxSeconds);
    if (value < 0)
        throw CtlUsageError(QStringLiteral("%1 takes whole seconds from 1 to %2, not '%3'")
                                .arg(name)
                                .arg(MaxSeconds)
                                .arg(text));
    return int(value);
}

// An option without a value, set.
void setFlag(CtlOptions& options, const QString& name)
{
    if (name == QStringLiteral("--help") || name == QStringLiteral("-h"))
        options.Help = true;
    else if (name == QStringLiteral("--version"))
        options.Version = true;
    else if (name == QStringLiteral("--yes"))
        options.Yes = true;
    else if (name == QStringLiteral("--require-audit"))
        options.RequireAudit = true;
    else if (name == QStringLiteral("--reveal"))
        options.Reveal = true;
    else if (name == QStringLiteral("--no-headers"))
        options.NoHeaders = true;
    else if (name == QStringLiteral("--no-align"))
        options.NoAlign = true;
    else if (name == QStringLiteral("--crlf"))
        options.Crlf = true;
    else if (name == QStringLiteral("--verify"))
        options.Verify = true;
}

// An option with its value, checked and taken.
void setValue(CtlOptions& options, const QString& name, const QString& value)
{
    if (name == QStringLiteral("--config")) {
        if (value.isEmpty())
            throw CtlUsageError(QStringLiteral("option --config needs a file name"));
        if (options.ConfigPaths.isEmpty())
            options.ConfigPath = value;
        options.ConfigPaths << value;
    } else if (name == QStringLiteral("--host")) {
        options.Host = value;
    } else if (name == QStringLiteral("--port")) {
        options.Port = value;
    } else if (name == QStringLiteral("--user")) {
        options.User = value;
    } else if (name == QStringLiteral("--group")) {
        options.Group = value;
    } else if (name == QStringLiteral("--account")) {
        options.Account = value;
    } else if (name == QStringLiteral("--ssh")) {
        const QString why = SshTunnel::checkDestination(value);
        if (!why.isEmpty())
            throw CtlUsageError(QStringLiteral("--ssh: %1").arg(why));
        options.SshDestination = value;
    } else if (name == QStringLiteral("--format")) {
        if (value == QStringLiteral("table"))
            options.Format = CtlFormat::Table;
        else if (value == QStringLiteral("json"))
            options.Format = CtlFormat::Json;
        else if (value == QStringLiteral("csv"))
            options.Format = CtlFormat::Csv;
        else if (value == QStringLiteral("tsv"))
            options.Format = CtlFormat::Tsv;
        else
            throw CtlUsageError(
                QStringLiteral("unknown format '%1' (table, json, csv or tsv)").arg(value));
    } else if (name == QStringLiteral("--timeout")) {
        options.TimeoutSeconds = seconds(name, value);
    } else if (name == QStringLiteral("--list-timeout")) {
        options.ListTimeoutSeconds = seconds(name, value);
    } else if (name == QStringLiteral("--watch")) {
        options.WatchSeconds = seconds(name, value);
    } else if (name == QStringLiteral("--verify-timeout")) {
        options.VerifyTimeoutSeconds = seconds(name, value);
    } else if (name == QStringLiteral("--expect-program")) {
        options.ExpectProgram = value;
    } else if (name == QStringLiteral("--expect-user")) {
        options.ExpectUser = value;
    } else if (name == QStringLiteral("--filter")) {
        options.Filter = value;
    } else if (name == QStringLiteral("--limit")) {
        const long long limit = CtlCommands::decimal(value, 1, 1'000'000'000);
        if (limit < 0)
            throw CtlUsageError(
                QStringLiteral("--limit takes a whole number from 1, not '%1'").arg(value));
        options.Limit = int(limit);
    } else if (name == QStringLiteral("--expect-port")) {
        const long long port = CtlCommands::decimal(value, 0, 65535);
        if (port < 0)
            throw CtlUsageError(
                QStringLiteral("--expect-port takes 0 to 65535, not '%1'").arg(value));
        options.ExpectPort = int(port);
    }
}

// What the options given say together, checked.
void checkCombinations(const CtlOptions& options, const QStringList& given)
{
    // A command's own option goes with that command only.
    const QStringList own =
        options.Entry ? CtlCommands::optionNames(*options.Entry) : QStringList();
    for (const QString& name : std::as_const(given)) {
        const QStringList takers = CtlCommands::commandsTaking(name);
        if (!takers.isEmpty() && !own.contains(name))
            throw CtlUsageError(QStringLiteral("%1 belongs to the %2 command%3")
                                    .arg(name, takers.join(QStringLiteral(", ")),
                                         takers.size() > 1 ? QStringLiteral("s") : QString()));
    }
    const bool listing = options.Entry && (options.Entry->request == Wire::GetListeners ||
                                           options.Entry->request == Wire::GetProcesses ||
                                           options.Entry->action == CtlAction::Hosts);
    if (options.ConfigPaths.size() > 1 && options.Entry && !listing)
        throw CtlUsageError(QStringLiteral("%1 takes one --config; more than one is for listeners, "
                                           "processes and hosts")
                                .arg(options.Command));
    if (given.contains(QStringLiteral("--verify-timeout")) && !options.Verify)
        throw CtlUsageError(QStringLiteral("--verify-timeout goes with --verify"));
    if (options.NoAlign && options.Format != CtlFormat::Table)
        throw CtlUsageError(QStringLiteral("--no-align is for the table format"));
    if (options.NoHeaders && options.Format == CtlFormat::Json)
        throw CtlUsageError(QStringLiteral("--no-headers is for the table, CSV and TSV formats"));
    if (options.Crlf && options.Format != CtlFormat::Csv)
        throw CtlUsageError(QStringLiteral("--crlf is for the CSV format"));
    const bool connectionOption =
        options.Host || options.Port || options.User || options.Group || options.Account;
    if (!options.ConfigPath.isEmpty() && connectionOption)
        throw CtlUsageError(
            QStringLiteral("give either --config FILE or --host and its options, not both"));
    if (!options.Host && connectionOption)
        throw CtlUsageError(QStringLiteral("--port, --user, --group and --account need --host"));
}

} // namespace

CtlOptions CtlCommandLine::parse(const QStringList& arguments)
{
    CtlOptions options;
    QStringList positional;
    QStringList given; // the options given, by name
    bool optionsEnded = false;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == QStringLiteral("-")) {
            positional << arg;
            continue;
        }
        if (arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        std::optional<QString> inlineValue;
        if (const qsizetype eq = arg.indexOf(u'=');
            eq > 0 && arg.startsWith(QStringLiteral("--"))) {
            name = arg.left(eq);
            inlineValue = arg.mid(eq + 1);
        }
        const CtlOption* option = CtlCommands::findOption(name);
        if (!option)
            throw CtlUsageError(QStringLiteral("unknown option %1").arg(name));
        given << name;
        if (!option->value) {
            if (inlineValue)
                throw CtlUsageError(QStringLiteral("option %1 takes no value").arg(name));
            setFlag(options, name);
            continue;
        }

        const QString value = valueOf(arguments, i, name, inlineValue);
        setValue(options, name, value);
    }

    if (!positional.isEmpty()) {
        options.Command = positional.takeFirst();
        if (options.Command == QStringLiteral("config") && !positional.isEmpty())
            options.Command += u' ' + positional.takeFirst();
    }
    options.Operands = positional;
    options.Entry = CtlCommands::find(options.Command);

    checkCombinations(options, given);
    return options;
}
