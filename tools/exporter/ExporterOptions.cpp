#include "exporter/ExporterOptions.h"

#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "session/SshTunnel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cmath>

namespace {

// Reads one configuration file as the console reads it.
bool loadTarget(const QString& path, HostTarget& target, QString& error)
{
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
        "Each configuration file names one host and its logon, as the console reads it.\n"
        "\n"
        "  --listen ADDRESS:PORT    where to serve /metrics (default 127.0.0.1:9731;\n"
        "                           :PORT for every address)\n"
        "  --config FILE            a host's configuration file (.hcf); may be repeated\n"
        "  --config-dir DIR         every .hcf file in DIR\n"
        "  --ssh DEST               reach every host through an SSH tunnel to DEST\n"
        "                           ([user@]host[:port]); ORVANITE_SSH_COMMAND\n"
        "                           replaces \"ssh\"\n"
        "  --collect.processes      also one series per user process (can be many)\n"
        "  --collect.timeout SECS   the longest a host may take to be listed (default 9);\n"
        "                           a scrape's own time-out shortens it\n"
        "  --help                   show this help and exit\n"
        "  --version                show the version and exit\n");
}

bool ExporterOptions::parse(const QStringList& arguments, const QString& programPath,
                            const QString& currentFolder, QString& error)
{
    QStringList configs;
    QStringList dirs;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool hasValue = false;
        if (name.startsWith(QLatin1String("--"))) {
            const qsizetype eq = name.indexOf(u'=');
            if (eq > 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
                hasValue = true;
            }
        }
        const auto takeValue = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = arguments[++i];
            return true;
        };
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            action = Action::Help;
            return true;
        }
        if (name == QLatin1String("--version")) {
            action = Action::Version;
            return true;
        }
        if (name == QLatin1String("--collect.processes") && !hasValue) {
            collectProcesses = true;
        } else if (name == QLatin1String("--listen")) {
            if (!takeValue())
                return false;
            if (!parseListenAddress(value, listenAddress, listenPort)) {
                error = QStringLiteral("--listen: '%1' is not ADDRESS:PORT").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--config")) {
            if (!takeValue())
                return false;
            configs << value;
        } else if (name == QLatin1String("--config-dir")) {
            if (!takeValue())
                return false;
            dirs << value;
        } else if (name == QLatin1String("--ssh")) {
            if (!takeValue())
                return false;
            if (const QString why = SshTunnel::checkDestination(value); !why.isEmpty()) {
                error = QStringLiteral("--ssh: %1").arg(why);
                return false;
            }
            sshDestination = value;
        } else if (name == QLatin1String("--collect.timeout")) {
            if (!takeValue())
                return false;
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600) {
                error = QStringLiteral("--collect.timeout: '%1' is not a number of seconds "
                                       "from 0 to 3600")
                            .arg(value);
                return false;
            }
            collectTimeoutMs = std::max(1, int(std::lround(seconds * 1000)));
        } else {
            error = QStringLiteral("unknown argument '%1'").arg(arguments[i]);
            return false;
        }
    }

    QStringList paths;
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

    // Series are told apart by the host label: two files for the same host
    // would give one series twice.
    QHash<QString, QString> fileOf;
    for (const QString& path : paths) {
        HostTarget target;
        if (!loadTarget(path, target, error))
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
        target.settings.SshDestination = sshDestination;
        hosts << target;
    }
    return true;
}
