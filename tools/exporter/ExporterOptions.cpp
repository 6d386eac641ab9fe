#include "exporter/ExporterOptions.h"

#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "config/HostRoutes.h"
#include "session/SshTunnel.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cmath>

namespace {

// Reads one configuration file as the console reads it.
bool loadTarget(const QString& path, HostTarget& target, QString& error)
{
    // A FIFO or a device is refused before it is opened: opening one would
    // wait for a writer.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        error = QStringLiteral("cannot read %1: not a regular file").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    file.close();
    ConnectionSettings settings;
    try {
        LoadConfigFile(path, settings);
    } catch (const EAppError& e) {
        error = QStringLiteral("%1: %2").arg(path, e.message());
        return false;
    }
    if (settings.HostAddress.isEmpty()) {
        error = QStringLiteral("%1: no host address").arg(path);
        return false;
    }
    settings.ConfigPath = path;
    target.settings = settings;
    target.label =
        QStringLiteral("%1:%2").arg(QString::fromLatin1(settings.HostAddress)).arg(settings.Port);
    return true;
}

// The options, named as the help text names them.
struct Options
{
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    // --listen is the older name of --web.listen-address.
    QCommandLineOption listen{{QStringLiteral("web.listen-address"), QStringLiteral("listen")},
                              QString(),
                              QStringLiteral("ADDRESS:PORT")};
    QCommandLineOption logLevel{QStringLiteral("log.level"), QString(), QStringLiteral("LEVEL")};
    QCommandLineOption config{QStringLiteral("config"), QString(), QStringLiteral("FILE")};
    QCommandLineOption configDir{QStringLiteral("config-dir"), QString(), QStringLiteral("DIR")};
    QCommandLineOption processes{QStringLiteral("collect.processes")};
    QCommandLineOption processLimit{QStringLiteral("collect.processes.limit"), QString(),
                                    QStringLiteral("N")};
    QCommandLineOption timeout{QStringLiteral("collect.timeout"), QString(),
                               QStringLiteral("SECS")};
    QCommandLineOption ssh{QStringLiteral("ssh"), QString(), QStringLiteral("DEST")};
    QCommandLineOption webConfig{QStringLiteral("web.config.file"), QString(),
                                 QStringLiteral("FILE")};
    // How long a connection may stay without a request; for tests and
    // figures, not in the help.
    QCommandLineOption idleTimeout{QStringLiteral("web.idle-timeout"), QString(),
                                   QStringLiteral("SECS")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
        for (const QCommandLineOption* o :
             {&help, &version, &listen, &config, &configDir, &processes, &processLimit, &timeout,
              &ssh, &webConfig, &idleTimeout, &logLevel})
            parser.addOption(*o);
    }
};

// The parser's own message, in the words this program has always used.
QString usageError(const QCommandLineParser& parser, const QStringList& arguments)
{
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        for (const QString& argument : arguments)
            if (argument.section(u'=', 0, 0).endsWith(u'-' + name))
                return QStringLiteral("unknown argument '%1'").arg(argument);
        return QStringLiteral("unknown argument '--%1'").arg(name);
    }
    const QString said = parser.errorText();
    if (said.startsWith(QLatin1String("Missing value after '")))
        return QStringLiteral("%1 needs a value").arg(said.section(u'\'', 1, 1));
    if (said.startsWith(QLatin1String("Unexpected value after '")))
        return QStringLiteral("%1 takes no value").arg(said.section(u'\'', 1, 1));
    return said;
}

// Seconds from 0 (exclusive) to 3600 as whole milliseconds.
bool readSeconds(const QString& value, int& ms)
{
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        return false;
    ms = std::max(1, int(std::lround(seconds * 1000)));
    return true;
}

// The name the listening address was given under, the last one counting.
QString listenOptionName(const QStringList& names)
{
    for (qsizetype i = names.size() - 1; i >= 0; --i)
        if (names[i] == QLatin1String("listen") || names[i] == QLatin1String("web.listen-address"))
            return names[i];
    return QStringLiteral("web.listen-address");
}

} // namespace

bool parseListenAddress(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || text.mid(colon + 1).startsWith(u'+'))
        return false;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty()) {
        address = QHostAddress::Any;
    } else if (host == QLatin1String("localhost")) {
        address = QHostAddress::LocalHost;
    } else if (!address.setAddress(host)) {
        return false;
    }
    port = quint16(number);
    return true;
}

QString ExporterOptions::helpText()
{
    return QStringLiteral(
        "Usage: orvanite-exporter [OPTION]... --config FILE.hcf [--config FILE.hcf]...\n"
        "       orvanite-exporter [OPTION]... --config-dir DIR\n"
        "Serves the listeners and user processes of the hosts' server jobs to Prometheus.\n"
        "Each configuration file names one host and its logon, as the console reads it;\n"
        "passwords come from the file or from $CREDENTIALS_DIRECTORY/ADDRESS_PORT.FIELD\n"
        "(FIELD: user_password, group_password, account_password), never a keyring.\n"
        "\n"
        "  --web.listen-address ADDRESS:PORT\n"
        "                           where to serve /metrics (default 127.0.0.1:9731;\n"
        "                           :PORT for every address; --listen is the same)\n"
        "  --config FILE            a host's configuration file (.hcf); may be repeated\n"
        "  --config-dir DIR         every .hcf file in DIR\n"
        "  --ssh DEST               reach every host through an SSH route to DEST\n"
        "                           ([user@]host[:port]) instead of each host's own\n"
        "                           route in ~/.config/orvanite/routes;\n"
        "                           ORVANITE_SSH_COMMAND replaces \"ssh\"\n"
        "  --collect.processes      also one series per user process (can be many)\n"
        "  --collect.processes.limit N\n"
        "                           at most N per-process series per host (default\n"
        "                           10000); the rest are counted in\n"
        "                           orvanite_process_series_omitted\n"
        "  --collect.timeout SECS   the longest a host may take to be listed (default 9);\n"
        "                           a scrape's own time-out shortens it\n"
        "  --web.config.file FILE   TLS and basic authentication (tls_server_config,\n"
        "                           basic_auth_users)\n"
        "  --log.level LEVEL        debug, info (the default), warn or error: what the\n"
        "                           log on stderr tells of hosts going down and back\n"
        "  --help                   show this help and exit\n"
        "  --version                show the version and exit\n");
}

bool ExporterOptions::parse(const QStringList& arguments, const QString& programPath,
                            const QString& currentFolder, QString& error)
{
    QCommandLineParser parser;
    const Options o;
    o.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("orvanite-exporter")} + arguments)) {
        error = usageError(parser, arguments);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unknown argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(o.help)) {
        action = Action::Help;
        return true;
    }
    if (parser.isSet(o.version)) {
        action = Action::Version;
        return true;
    }
    if (!readValues(parser, error))
        return false;
    QStringList paths;
    return collectPaths(parser.values(o.config), parser.values(o.configDir), programPath,
                        currentFolder, paths, error) &&
           loadTargets(paths, error);
}

bool ExporterOptions::readValues(const QCommandLineParser& parser, QString& error)
{
    const Options o;
    collectProcesses = parser.isSet(o.processes);
    // The last of a repeated option counts, as it always has.
    if (parser.isSet(o.listen)) {
        const QString value = parser.values(o.listen).constLast();
        if (!parseListenAddress(value, listenAddress, listenPort)) {
            error = QStringLiteral("--%1: '%2' is not ADDRESS:PORT")
                        .arg(listenOptionName(parser.optionNames()), value);
            return false;
        }
    }
    if (parser.isSet(o.timeout) &&
        !readSeconds(parser.values(o.timeout).constLast(), collectTimeoutMs)) {
        error = QStringLiteral("--collect.timeout: '%1' is not a number of seconds above 0 and "
                               "at most 3600")
                    .arg(parser.values(o.timeout).constLast());
        return false;
    }
    if (parser.isSet(o.idleTimeout) &&
        !readSeconds(parser.values(o.idleTimeout).constLast(), idleTimeoutMs)) {
        error = QStringLiteral("--web.idle-timeout: '%1' is not a number of seconds from 0 to 3600")
                    .arg(parser.values(o.idleTimeout).constLast());
        return false;
    }
    if (parser.isSet(o.processLimit)) {
        const QString value = parser.values(o.processLimit).constLast();
        bool ok = false;
        processLimit = value.toLongLong(&ok);
        if (!ok || processLimit < 0 || value.startsWith(u'+')) {
            error = QStringLiteral("--collect.processes.limit: '%1' is not a whole number from 0")
                        .arg(value);
            return false;
        }
    }
    if (parser.isSet(o.logLevel) &&
        !ExporterLog::parseLevel(parser.values(o.logLevel).constLast(), logLevel)) {
        error = QStringLiteral("--log.level: '%1' is not debug, info, warn or error")
                    .arg(parser.values(o.logLevel).constLast());
        return false;
    }
    if (parser.isSet(o.webConfig))
        webConfigFile = parser.values(o.webConfig).constLast();
    if (parser.isSet(o.ssh)) {
        const QString value = parser.values(o.ssh).constLast();
        if (const QString why = SshTunnel::checkDestination(value); !why.isEmpty()) {
            error = QStringLiteral("--ssh: %1").arg(why);
            return false;
        }
        sshDestination = value;
    }
    return true;
}

bool ExporterOptions::collectPaths(const QStringList& configs, const QStringList& dirs,
                                   const QString& programPath, const QString& currentFolder,
                                   QStringList& paths, QString& error) const
{
    for (const QString& name : configs) {
        const ConfigLocation location = LocateConfigFile(name, programPath, currentFolder);
        if (!location.Missing.isEmpty()) {
            error = location.Missing;
            return false;
        }
        // A name with "/" is used as it stands: relative to the current folder.
        paths << QDir(currentFolder).filePath(location.Path);
    }
    for (const QString& dir : dirs) {
        QDir folder(QDir(currentFolder).filePath(dir));
        if (!folder.exists()) {
            error = QStringLiteral("--config-dir: no folder %1").arg(dir);
            return false;
        }
        const QFileInfoList files = folder.entryInfoList({QStringLiteral("*.hcf")},
                                                         QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo& file : files)
            paths << file.filePath();
    }
    if (paths.isEmpty()) {
        error = dirs.isEmpty() ? QStringLiteral("no host: give --config FILE or --config-dir DIR")
                               : QStringLiteral("no .hcf file in %1").arg(dirs.join(u' '));
        return false;
    }
    return true;
}

bool ExporterOptions::loadTargets(const QStringList& paths, QString& error)
{
    // Series are told apart by the host label: two files for the same host
    // would give one series twice.
    QHash<QString, QString> fileOf;
    for (const QString& path : paths) {
        HostTarget target;
        if (!loadTarget(path, target, error) ||
            !HostPasswords::resolve(target.settings, path, credentialsDirectory, consoleFolder,
                                    error))
            return false;
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (fileOf.contains(target.label)) {
            if (fileOf.value(target.label) == canonical)
                continue; // the same file named twice
            error = QStringLiteral("%1 and %2 both name the host %3")
                        .arg(fileOf.value(target.label), canonical, target.label);
            return false;
        }
        fileOf.insert(target.label, canonical);
        // --ssh for every host, else each host's own route; a route that
        // cannot be read stops the start rather than reach the host directly.
        target.settings.SshDestination = sshDestination;
        QString why;
        if (sshDestination.isEmpty() &&
            !HostRoutes::lookUp(target.settings.HostAddress, target.settings.Port,
                                target.settings.SshDestination, why)) {
            error = why;
            return false;
        }
        hosts << target;
    }
    return true;
}
