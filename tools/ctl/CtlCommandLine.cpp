#include "CtlCommandLine.h"

#include "CtlUsageError.h"

#include <algorithm>
#include <iterator>

namespace {

// Longest wait that --timeout accepts, in seconds (one day).
constexpr int MaxTimeoutSeconds = 86400;

const CtlOption OptionTable[] = {
    {"--config", "FILE"},
    {"--host", "HOST"},
    {"--port", "N"},
    {"--user", "U"},
    {"--group", "G"},
    {"--account", "A"},
    {"--format", "table|json|csv"},
    {"--timeout", "SECONDS"},
    {"--list-timeout", "SECONDS"},
    {"--yes", nullptr},
    {"--reveal", nullptr},
    {"-h", nullptr},
    {"--help", nullptr},
    {"--version", nullptr},
};

bool isOption(const QString& name)
{
    return std::any_of(std::begin(OptionTable), std::end(OptionTable),
                       [&name](const CtlOption& o) { return name == QLatin1StringView(o.name); });
}

QString valueOf(const QStringList& arguments, qsizetype& i, const QString& name,
                const std::optional<QString>& inlineValue)
{
    if (inlineValue)
        return *inlineValue;
    if (i + 1 >= arguments.size())
        throw CtlUsageError(QStringLiteral("option %1 needs a value").arg(name));
    return arguments[++i];
}

} // namespace

QList<CtlOption> CtlCommandLine::Options()
{
    return QList<CtlOption>(std::begin(OptionTable), std::end(OptionTable));
}

std::optional<int> CtlCommandLine::Decimal(const QString& text, int min, int max)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

CtlOptions CtlCommandLine::Parse(const QStringList& arguments)
{
    CtlOptions options;
    QStringList positional;
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
        if (arg == QStringLiteral("-h")) {
            options.Help = true;
            continue;
        }
        if (!arg.startsWith(QStringLiteral("--")))
            throw CtlUsageError(QStringLiteral("unknown option %1").arg(arg));

        QString name = arg;
        std::optional<QString> inlineValue;
        if (const qsizetype eq = arg.indexOf(u'='); eq > 0) {
            name = arg.left(eq);
            inlineValue = arg.mid(eq + 1);
        }
        if (!isOption(name))
            throw CtlUsageError(QStringLiteral("unknown option %1").arg(name));
        auto flag = [&](bool& target) {
            if (inlineValue)
                throw CtlUsageError(QStringLiteral("option %1 takes no value").arg(name));
            target = true;
        };

        if (name == QStringLiteral("--help")) {
            flag(options.Help);
        } else if (name == QStringLiteral("--version")) {
            flag(options.Version);
        } else if (name == QStringLiteral("--yes")) {
            flag(options.Yes);
        } else if (name == QStringLiteral("--reveal")) {
            flag(options.Reveal);
        } else if (name == QStringLiteral("--config")) {
            options.ConfigPath = valueOf(arguments, i, name, inlineValue);
            if (options.ConfigPath.isEmpty())
                throw CtlUsageError(QStringLiteral("option --config needs a file name"));
        } else if (name == QStringLiteral("--host")) {
            options.Host = valueOf(arguments, i, name, inlineValue);
        } else if (name == QStringLiteral("--port")) {
            options.Port = valueOf(arguments, i, name, inlineValue);
        } else if (name == QStringLiteral("--user")) {
            options.User = valueOf(arguments, i, name, inlineValue);
        } else if (name == QStringLiteral("--group")) {
            options.Group = valueOf(arguments, i, name, inlineValue);
        } else if (name == QStringLiteral("--account")) {
            options.Account = valueOf(arguments, i, name, inlineValue);
        } else if (name == QStringLiteral("--format")) {
            const QString format = valueOf(arguments, i, name, inlineValue);
            if (format == QStringLiteral("table"))
                options.Format = CtlFormat::Table;
            else if (format == QStringLiteral("json"))
                options.Format = CtlFormat::Json;
            else if (format == QStringLiteral("csv"))
                options.Format = CtlFormat::Csv;
            else
                throw CtlUsageError(
                    QStringLiteral("unknown format '%1' (table, json or csv)").arg(format));
        } else if (name == QStringLiteral("--timeout")) {
            const QString text = valueOf(arguments, i, name, inlineValue);
            options.TimeoutSeconds = Decimal(text, 1, MaxTimeoutSeconds);
            if (!options.TimeoutSeconds)
                throw CtlUsageError(
                    QStringLiteral("--timeout takes whole seconds from 1 to %1, not '%2'")
                        .arg(MaxTimeoutSeconds)
                        .arg(text));
        } else if (name == QStringLiteral("--list-timeout")) {
            const QString text = valueOf(arguments, i, name, inlineValue);
            options.ListTimeoutSeconds = Decimal(text, 1, MaxTimeoutSeconds);
            if (!options.ListTimeoutSeconds)
                throw CtlUsageError(
                    QStringLiteral("--list-timeout takes whole seconds from 1 to %1, not '%2'")
                        .arg(MaxTimeoutSeconds)
                        .arg(text));
        } else {
            throw CtlUsageError(QStringLiteral("unknown option %1").arg(name));
        }
    }

    if (!positional.isEmpty()) {
        options.Command = positional.takeFirst();
        if (options.Command == QStringLiteral("config") && !positional.isEmpty())
            options.Command += u' ' + positional.takeFirst();
    }
    options.Operands = positional;

    if (options.Yes && options.Command != QStringLiteral("shutdown"))
        throw CtlUsageError(QStringLiteral("--yes belongs to the shutdown command"));
    if (options.Reveal && options.Command != QStringLiteral("config show"))
        throw CtlUsageError(QStringLiteral("--reveal belongs to the config show command"));
    const bool connectionOption =
        options.Host || options.Port || options.User || options.Group || options.Account;
    if (!options.ConfigPath.isEmpty() && connectionOption)
        throw CtlUsageError(
            QStringLiteral("give either --config FILE or --host and its options, not both"));
    if (!options.Host && connectionOption)
        throw CtlUsageError(QStringLiteral("--port, --user, --group and --account need --host"));
    return options;
}
