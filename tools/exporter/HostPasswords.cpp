#include "exporter/HostPasswords.h"

#include "config/ConnectionSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace HostPasswords {

namespace {

struct Field
{
    const char* name;
    QByteArray ConnectionSettings::*member;
};

constexpr Field Fields[] = {
    {"user_password", &ConnectionSettings::UserPassword},
    {"group_password", &ConnectionSettings::GroupPassword},
    {"account_password", &ConnectionSettings::AccountPassword},
};

// A password is a logon field, a few dozen bytes; a bigger file is not one.
constexpr qint64 LongestCredential = 4096;

bool noPasswords(const ConnectionSettings& s)
{
    return s.UserPassword.isEmpty() && s.GroupPassword.isEmpty() && s.AccountPassword.isEmpty();
}

// Reads one credential; false with the reason when it is there but cannot
// be taken. found tells whether it was there.
bool readCredential(const QString& file, QByteArray& value, bool& found, QString& error)
{
    found = false;
    const QFileInfo info(file);
    if (!info.exists())
        return true;
    if (!info.isFile()) {
        error = QStringLiteral("the credential %1 is not a regular file").arg(file);
        return false;
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the credential %1: %2").arg(file, in.errorString());
        return false;
    }
    value = in.read(LongestCredential + 1);
    if (value.size() > LongestCredential) {
        error = QStringLiteral("the credential %1 is longer than %2 bytes")
                    .arg(file)
                    .arg(LongestCredential);
        return false;
    }
    // Written with echo or an editor: the line's end is not the password's.
    if (value.endsWith('\n'))
        value.chop(1);
    if (value.endsWith('\r'))
        value.chop(1);
    found = true;
    return true;
}

} // namespace

QString credentialName(const ConnectionSettings& settings, const char* field)
{
    return QStringLiteral("%1_%2.%3")
        .arg(QString::fromLatin1(settings.HostAddress))
        .arg(settings.Port)
        .arg(QLatin1String(field));
}

QString consoleSettingsFile()
{
    // Where the console's QSettings (organisation "orvanite", application
    // "orvanite-console") keep its preferences on this platform.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("orvanite/orvanite-console.conf"));
}

bool keptInKeyring(const ConnectionSettings& settings, const QString& consoleSettings)
{
    if (!noPasswords(settings) || consoleSettings.isEmpty() || !QFileInfo(consoleSettings).isFile())
        return false;
    // The console's saves leave the password fields empty and put the
    // passwords in the keyring while this preference is on; its loads then
    // look them up there.
    const QSettings console(consoleSettings, QSettings::IniFormat);
    return console.value(QStringLiteral("preferences/keyringPasswords"), false).toBool();
}

bool resolve(ConnectionSettings& settings, const QString& path, const QString& credentialsDirectory,
             const QString& consoleSettings, QString& error)
{
    const bool inKeyring = keptInKeyring(settings, consoleSettings);
    bool anyCredential = false;
    if (!credentialsDirectory.isEmpty()) {
        for (const Field& f : Fields) {
            const QString file =
                QDir(credentialsDirectory).filePath(credentialName(settings, f.name));
            QByteArray value;
            bool found = false;
            if (!readCredential(file, value, found, error)) {
                error = QStringLiteral("%1: %2").arg(path, error);
                return false;
            }
            if (found) {
                settings.*f.member = value;
                anyCredential = true;
            }
        }
    }
    if (inKeyring && !anyCredential) {
        error = QStringLiteral("%1: the passwords of %2@%3:%4 are kept in the desktop keyring, "
                               "which the exporter does not read; give them as the credential "
                               "%5 (and %6, %7 where set), or save the file with its passwords")
                    .arg(path, QString::fromLatin1(settings.User),
                         QString::fromLatin1(settings.HostAddress))
                    .arg(settings.Port)
                    .arg(credentialName(settings, "user_password"),
                         credentialName(settings, "group_password"),
                         credentialName(settings, "account_password"));
        return false;
    }
    return true;
}

} // namespace HostPasswords
