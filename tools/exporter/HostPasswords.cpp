#include "exporter/HostPasswords.h"

#include "config/ConnectionSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <iterator>
#include <utility>

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

QString consoleFolder()
{
    // Where the console's QSettings (organisation "orvanite") keep their files
    // on this platform.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("orvanite"));
}

namespace {

// The fields whose passwords the console's index lists as moved for the
// host, each still empty in the file.
QStringList movedFields(const ConnectionSettings& settings, const QDir& folder)
{
    QStringList kept;
    const QString index = folder.filePath(QStringLiteral("keyring.conf"));
    if (QFileInfo(index).isFile()) {
        const QSettings store(index, QSettings::IniFormat);
        const QString host =
            QStringLiteral("%1@%2:%3")
                .arg(QString::fromLatin1(settings.User), QString::fromLatin1(settings.HostAddress))
                .arg(settings.Port);
        const QStringList levels = store
                                       .value(QStringLiteral("hosts/") +
                                              QString::fromLatin1(QUrl::toPercentEncoding(host)))
                                       .toStringList();
        const std::pair<const char*, QByteArray ConnectionSettings::*> names[] = {
            {"user", &ConnectionSettings::User},
            {"group", &ConnectionSettings::Group},
            {"account", &ConnectionSettings::Account}};
        for (size_t i = 0; i < std::size(Fields); ++i) {
            const QString entry = QLatin1String(names[i].first) + u':' +
                                  QString::fromLatin1(settings.*names[i].second);
            if (levels.contains(entry) && (settings.*Fields[i].member).isEmpty())
                kept << QLatin1String(Fields[i].name);
        }
    }
    return kept;
}

// Saved while the console kept every password in the keyring under the
// file's path: the preference on, every field empty.
bool savedWithPreference(const ConnectionSettings& settings, const QDir& folder)
{
    const QString console = folder.filePath(QStringLiteral("orvanite-console.conf"));
    return noPasswords(settings) && QFileInfo(console).isFile() &&
           QSettings(console, QSettings::IniFormat)
               .value(QStringLiteral("preferences/keyringPasswords"), false)
               .toBool();
}

} // namespace

bool resolve(ConnectionSettings& settings, const QString& path, const QString& credentialsDirectory,
             const QString& consoleFolder, QString& error)
{
    QStringList missing;
    bool wholeFileMoved = false;
    if (!consoleFolder.isEmpty()) {
        missing = movedFields(settings, QDir(consoleFolder));
        wholeFileMoved = missing.isEmpty() && savedWithPreference(settings, QDir(consoleFolder));
    }
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
                missing.removeAll(QLatin1String(f.name));
                anyCredential = true;
            }
        }
    }
    // The older record does not say which fields had a password: any
    // credential given says where they are now.
    if (wholeFileMoved && !anyCredential)
        for (const Field& f : Fields)
            missing << QLatin1String(f.name);
    if (missing.isEmpty())
        return true;
    QStringList names;
    for (const QString& level : missing)
        names << credentialName(settings, level.toLatin1().constData());
    error = QStringLiteral("%1: the passwords of %2@%3:%4 are kept in the desktop keyring, "
                           "which the exporter does not read; give them as the credential %5, "
                           "or save the file with its passwords")
                .arg(path, QString::fromLatin1(settings.User),
                     QString::fromLatin1(settings.HostAddress))
                .arg(settings.Port)
                .arg(names.join(QLatin1String(", ")));
    return false;
}

} // namespace HostPasswords
