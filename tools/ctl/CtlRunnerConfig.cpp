// CtlRunner's configuration-file commands (config show, config set) and the
// finding of a file named on the command line.
#include "CtlListing.h"
#include "CtlRunner.h"
#include "CtlRunnerShared.h"
#include "CtlUsageError.h"
#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "config/ConnectionSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIODevice>

#include <array>
#include <random>

namespace {

const QByteArray Masked = QByteArrayLiteral("********");

// The settings of a file as its keys, in the order of config show.
struct SettingKey
{
    const char* key;
    QByteArray ConnectionSettings::*member; // null for port and refresh_interval
    bool password;
};

const std::array<SettingKey, 10> SettingKeys = {{
    {"host", &ConnectionSettings::HostAddress, false},
    {"port", nullptr, false},
    {"user", &ConnectionSettings::User, false},
    {"user_password", &ConnectionSettings::UserPassword, true},
    {"group", &ConnectionSettings::Group, false},
    {"group_password", &ConnectionSettings::GroupPassword, true},
    {"account", &ConnectionSettings::Account, false},
    {"account_password", &ConnectionSettings::AccountPassword, true},
    {"logon_extra", &ConnectionSettings::LogonExtra, false},
    {"refresh_interval", nullptr, false},
}};

// One KEY=VALUE of config set, checked.
struct Assignment
{
    const SettingKey* key;
    QByteArray text;
    int number = 0;
};

// The KEY=VALUE operands of config set. "-" takes KEY=VALUE lines from the
// standard input instead, so that passwords need not stand in the process
// list.
QStringList assignmentOperands(QStringList operands, QIODevice* in)
{
    if (!operands.contains(QStringLiteral("-")))
        return operands;
    if (operands.size() != 1)
        throw CtlUsageError(QStringLiteral("give KEY=VALUE arguments or -, not both"));
    if (!in)
        throw CtlUsageError(QStringLiteral("no standard input to read KEY=VALUE lines from"));
    operands.clear();
    const QString text = QString::fromUtf8(in->readAll());
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (!line.isEmpty())
            operands << line;
    }
    if (operands.isEmpty())
        throw CtlUsageError(QStringLiteral("no KEY=VALUE lines on the standard input"));
    return operands;
}

Assignment parseAssignment(const QString& operand)
{
    const qsizetype eq = operand.indexOf(u'=');
    if (eq <= 0)
        throw CtlUsageError(QStringLiteral("'%1' is not KEY=VALUE").arg(operand));
    const QString name = operand.left(eq);
    const QString value = operand.mid(eq + 1);
    const SettingKey* key = nullptr;
    for (const SettingKey& k : SettingKeys) {
        if (name == QLatin1StringView(k.key))
            key = &k;
    }
    if (!key)
        throw CtlUsageError(QStringLiteral("no setting '%1' (keys: host, port, user, "
                                           "user_password, group, group_password, account, "
                                           "account_password, logon_extra, refresh_interval)")
                                .arg(name));
    Assignment a{key, {}, 0};
    if (key->member) {
        a.text = CtlUsageError::latin1(value, name);
    } else if (name == QStringLiteral("port")) {
        const long long port = CtlCommands::decimal(value, 0, 65535);
        if (port < 0)
            throw CtlUsageError(QStringLiteral("port takes 0 to 65535, not '%1'").arg(value));
        a.number = int(port);
    } else {
        std::int32_t seconds = 0;
        if (!TryStrToInt(value.toLatin1(), seconds))
            throw CtlUsageError(
                QStringLiteral("refresh_interval takes whole seconds, not '%1'").arg(value));
        // Raised or lowered into 5..60 as the loader does.
        a.number = std::clamp<std::int32_t>(seconds, 5, 60);
    }
    return a;
}

} // namespace

QString ctlConfigPath(const QString& name, bool mayCreate)
{
    const ConfigLocation location =
        LocateConfigFile(name, QCoreApplication::applicationFilePath(), QDir::currentPath());
    if (location.Missing.isEmpty())
        return location.Path;
    if (mayCreate)
        return name;
    throw CtlConfigFault{location.Missing};
}

CtlExit CtlRunner::configShow(const CtlOptions& options)
{
    ConnectionSettings settings;
    const QString path = ctlConfigPath(options.Operands[0], false);
    loadSettings(path, settings);
    const PasswordKeyring::Result keyring = keyringPasswords(path, settings);
    const auto keptInKeyring = [&keyring](const char* key) {
        for (PasswordKeyring::Level level : keyring.levels) {
            if (PasswordKeyring::levelName(level) + QStringLiteral("_password") ==
                QLatin1StringView(key))
                return true;
        }
        return false;
    };

    QList<QByteArray> keys;
    for (const SettingKey& k : SettingKeys) {
        keys << QByteArray(k.key);
        if (k.password)
            keys << QByteArray(k.key) + "_in";
    }
    CtlListing listing({"Key", "Value"}, keys);
    listing.SetSingleRecord(true);
    QList<CtlValue> record;
    for (const SettingKey& k : SettingKeys) {
        CtlValue value;
        if (k.member) {
            QByteArray text = settings.*k.member;
            if (k.password && !options.Reveal && !text.isEmpty())
                text = Masked;
            value = CtlValue::Text(text);
        } else if (QByteArrayView(k.key) == "port") {
            value = CtlValue::Number(QByteArray::number(settings.Port));
        } else {
            value = CtlValue::Number(QByteArray::number(settings.RefreshInterval / 1000));
        }
        listing.AddRow({QByteArray(k.key), value.bytes});
        record << value;
        if (k.password) {
            // Where the password lives.
            QByteArray where = "empty";
            if (keyring.outcome == PasswordKeyring::Outcome::Unreadable && keptInKeyring(k.key))
                where = "in the keyring (not reachable: " + keyring.message.toUtf8() + ')';
            else if (!(settings.*k.member).isEmpty())
                where = keyring.outcome == PasswordKeyring::Outcome::Done ? "in the keyring"
                                                                          : "in the file";
            listing.AddRow({QByteArray(k.key) + "_in", where});
            record << CtlValue::Text(where);
        }
    }
    listing.AddRecord(record);
    m_output.write(listing.Render(options.Format, !options.NoHeaders, m_terminal, options.Crlf));
    return CtlExit::Success;
}

CtlExit CtlRunner::configSet(const CtlOptions& options)
{
    // All assignments are checked before the file is touched.
    QList<Assignment> assignments;
    for (const QString& operand : assignmentOperands(options.Operands.mid(1), m_in))
        assignments << parseAssignment(operand);

    const QString path = ctlConfigPath(options.Operands[0], true);
    ConnectionSettings settings;
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        loadSettings(path, settings);
    for (const Assignment& a : std::as_const(assignments)) {
        if (a.key->member)
            settings.*(a.key->member) = a.text;
        else if (QByteArrayView(a.key->key) == "port")
            settings.Port = static_cast<quint16>(a.number);
        else
            settings.RefreshInterval = a.number * 1000;
    }

    std::random_device seed;
    std::mt19937 rng(seed());
    const QString problem = SaveConfigFile(path, settings, rng);
    if (problem.startsWith(path + QStringLiteral(": ")))
        throw CtlConfigFault{problem}; // names the file already
    if (!problem.isEmpty())
        throw CtlConfigFault{QStringLiteral("%1: %2").arg(path, problem)};
    return CtlExit::Success;
}
