#include "keyring/PasswordKeyring.h"

#include "config/ConnectionSettings.h"
#include "keyring/KeyringIndex.h"
#include "keyring/SecretService.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <array>
#include <optional>

namespace PasswordKeyring {

namespace {

constexpr std::array<Level, 3> Levels = {Level::User, Level::Group, Level::Account};

QByteArray ConnectionSettings::*passwordOf(Level level)
{
    switch (level) {
    case Level::User:
        return &ConnectionSettings::UserPassword;
    case Level::Group:
        return &ConnectionSettings::GroupPassword;
    case Level::Account:
        break;
    }
    return &ConnectionSettings::AccountPassword;
}

QByteArray nameAt(const ConnectionSettings& s, Level level)
{
    switch (level) {
    case Level::User:
        return s.User;
    case Level::Group:
        return s.Group;
    case Level::Account:
        break;
    }
    return s.Account;
}

// A level as the index records it: "account:SYS".
QString entryOf(const ConnectionSettings& s, Level level)
{
    return levelName(level) + u':' + QString::fromLatin1(nameAt(s, level));
}

SecretService::Attributes attributesOf(const ConnectionSettings& s, Level level)
{
    return {
        {QStringLiteral("xdg:schema"), QStringLiteral("org.gnome.keyring.NetworkPassword")},
        {QStringLiteral("protocol"), QStringLiteral("orvanite")},
        {QStringLiteral("server"), QString::fromLatin1(s.HostAddress)},
        {QStringLiteral("port"), QString::number(s.Port)},
        {QStringLiteral("user"), QString::fromLatin1(s.User)},
        {QStringLiteral("logon-level"), levelName(level)},
        {QStringLiteral("logon-name"), QString::fromLatin1(nameAt(s, level))},
    };
}

QString labelOf(const ConnectionSettings& s, Level level)
{
    QString label = QStringLiteral("orvanite logon ") + hostLabel(s);
    if (level != Level::User)
        label +=
            QStringLiteral(" (%1 %2)").arg(levelName(level), QString::fromLatin1(nameAt(s, level)));
    return label;
}

// Single-byte texts stand in the keyring as UTF-8, readable in its tools.
QByteArray toSecret(const QByteArray& latin1)
{
    return QString::fromLatin1(latin1).toUtf8();
}

QByteArray fromSecret(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8).toLatin1();
}

// An entry of an earlier version: the three passwords as a small JSON
// object, under the file's absolute path.
std::optional<Passwords> decodeOldEntry(const QByteArray& text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    return Passwords{o.value(QStringLiteral("user")).toString().toLatin1(),
                     o.value(QStringLiteral("group")).toString().toLatin1(),
                     o.value(QStringLiteral("account")).toString().toLatin1()};
}

SecretService::Attributes oldEntryAttributes(const QString& configPath)
{
    return {{QStringLiteral("server"), QStringLiteral("orvanite-console")},
            {QStringLiteral("user"), QFileInfo(configPath).absoluteFilePath()},
            {QStringLiteral("type"), QStringLiteral("plaintext")}};
}

// One lookup or store: a chain of calls to the service, ending in done once.
class KeyringJob : public QObject
{
public:
    KeyringJob(const ConnectionSettings& settings, QObject* context,
               std::function<void(const Result&)> done)
        : QObject(context), m_settings(settings), m_done(std::move(done)),
          m_service(new SecretService(SecretService::defaultUnlockTimeoutMs(), this))
    {
    }

    void lookup(const QString& configPath)
    {
        m_configPath = configPath;
        const QStringList recorded = KeyringIndex::levels(hostLabel(m_settings));
        for (Level level : Levels) {
            if (recorded.contains(entryOf(m_settings, level)))
                m_expected << level;
        }
        m_service->open([this] { searchLevel(0); },
                        [this](const QString& why) { unreachable(why); });
    }

    void store()
    {
        m_service->open(
            [this] {
                for (Level level : Levels) {
                    if (!(m_settings.*passwordOf(level)).isEmpty())
                        m_expected << level;
                }
                storeNext(0);
            },
            [this](const QString& why) { finish(Outcome::NoService, why); });
    }

private:
    struct Found
    {
        QDBusObjectPath item;
        bool locked = false;
    };

    void finish(Outcome outcome, const QString& why = QString())
    {
        Result r;
        r.outcome = outcome;
        r.message = why;
        r.passwords = m_found;
        r.levels = m_expected;
        if (r.levels.isEmpty()) {
            for (Level level : Levels) {
                if (m_items[std::size_t(level)])
                    r.levels << level;
            }
        }
        if (auto done = std::exchange(m_done, {}))
            done(r);
        deleteLater();
    }

    // No keyring to ask: that matters only for a host whose passwords are
    // kept there.
    void unreachable(const QString& why)
    {
        if (m_expected.isEmpty())
            finish(Outcome::NotFound);
        else
            finish(Outcome::Unreadable, why);
    }

    void searchLevel(int index)
    {
        if (index == int(Levels.size()))
            return searched();
        const Level level = Levels[std::size_t(index)];
        m_service->search(
            attributesOf(m_settings, level),
            [this, index, level](const QList<QDBusObjectPath>& unlocked,
                                 const QList<QDBusObjectPath>& locked) {
                // Levels not recorded as moved are not the host's any more.
                if (m_expected.isEmpty() || m_expected.contains(level)) {
                    if (!unlocked.isEmpty())
                        m_items[std::size_t(index)] = Found{unlocked.first(), false};
                    else if (!locked.isEmpty())
                        m_items[std::size_t(index)] = Found{locked.first(), true};
                }
                searchLevel(index + 1);
            },
            [this](const QString& why) { unreachable(why); });
    }

    void searched()
    {
        QList<Level> held;
        QList<QDBusObjectPath> locked;
        for (Level level : Levels) {
            if (const auto& found = m_items[std::size_t(level)]) {
                held << level;
                if (found->locked)
                    locked << found->item;
            }
        }
        if (held.isEmpty() && m_expected.isEmpty())
            return lookUpOldEntry();
        for (Level level : std::as_const(m_expected)) {
            if (!held.contains(level))
                return finish(Outcome::Unreadable,
                              QStringLiteral("the keyring holds no %1 password for %2")
                                  .arg(levelName(level), hostLabel(m_settings)));
        }
        const auto read = [this] { readLevel(0); };
        if (locked.isEmpty())
            return read();
        m_service->unlock(locked, read,
                          [this](const QString& why) { finish(Outcome::Unreadable, why); });
    }

    void readLevel(int index)
    {
        if (index == int(Levels.size())) {
            // Found without a record (another console's, or an older one):
            // from now on the host's passwords are known to be there.
            if (m_expected.isEmpty()) {
                QStringList entries;
                for (Level level : Levels) {
                    if (m_items[std::size_t(level)])
                        entries << entryOf(m_settings, level);
                }
                KeyringIndex::record(hostLabel(m_settings), entries);
            }
            return finish(Outcome::Done);
        }
        const auto& found = m_items[std::size_t(index)];
        if (!found)
            return readLevel(index + 1);
        m_service->secret(
            found->item,
            [this, index](const QByteArray& value) {
                const Level level = Levels[std::size_t(index)];
                QByteArray* target = level == Level::User    ? &m_found.user
                                     : level == Level::Group ? &m_found.group
                                                             : &m_found.account;
                *target = fromSecret(value);
                readLevel(index + 1);
            },
            [this](const QString& why) { finish(Outcome::Unreadable, why); });
    }

    void lookUpOldEntry()
    {
        if (m_configPath.isEmpty())
            return finish(Outcome::NotFound);
        m_service->search(
            oldEntryAttributes(m_configPath),
            [this](const QList<QDBusObjectPath>& unlocked, const QList<QDBusObjectPath>& locked) {
                if (unlocked.isEmpty() && locked.isEmpty())
                    return finish(Outcome::NotFound);
                const QDBusObjectPath item = unlocked.isEmpty() ? locked.first() : unlocked.first();
                const auto read = [this, item] { readOldEntry(item); };
                if (unlocked.isEmpty())
                    m_service->unlock({item}, read, [this](const QString& why) {
                        finish(Outcome::Unreadable, why);
                    });
                else
                    read();
            },
            [this](const QString&) { finish(Outcome::NotFound); });
    }

    void readOldEntry(const QDBusObjectPath& item)
    {
        m_service->secret(
            item,
            [this, item](const QByteArray& value) {
                const std::optional<Passwords> passwords = decodeOldEntry(value);
                if (!passwords)
                    return finish(Outcome::NotFound); // not an entry of ours
                m_found = *passwords;
                // Moved to the host's items; the old entry goes once they
                // are there.
                setPasswords(m_settings, m_found);
                for (Level level : Levels) {
                    if (!(m_settings.*passwordOf(level)).isEmpty())
                        m_expected << level;
                }
                m_oldEntry = item;
                storeNext(0);
            },
            [this](const QString& why) { finish(Outcome::Unreadable, why); });
    }

    void storeNext(qsizetype index)
    {
        if (index == m_expected.size())
            return stored();
        const Level level = m_expected[index];
        m_service->create(
            labelOf(m_settings, level), attributesOf(m_settings, level),
            toSecret(m_settings.*passwordOf(level)), [this, index] { storeNext(index + 1); },
            [this](const QString& why) {
                // A moved entry was read all the same; it stays where it was.
                finish(m_oldEntry.path().isEmpty() ? Outcome::NoService : Outcome::Done, why);
            });
    }

    void stored()
    {
        QStringList entries;
        for (Level level : std::as_const(m_expected))
            entries << entryOf(m_settings, level);
        // Unrecorded, a host whose file lost its passwords would later log
        // on with empty ones when the keyring cannot be read: the file
        // keeps them instead.
        if (!KeyringIndex::record(hostLabel(m_settings), entries) && m_oldEntry.path().isEmpty())
            return finish(Outcome::NoService,
                          QStringLiteral("the host could not be recorded as kept in the keyring"));
        if (m_oldEntry.path().isEmpty())
            return finish(Outcome::Done);
        m_service->remove(
            m_oldEntry, [this] { finish(Outcome::Done); },
            [this](const QString&) { finish(Outcome::Done); });
    }

    ConnectionSettings m_settings;
    QString m_configPath;
    std::function<void(const Result&)> m_done;
    SecretService* m_service;
    QList<Level> m_expected; // the levels recorded as moved, or to be stored
    std::array<std::optional<Found>, 3> m_items;
    Passwords m_found;
    QDBusObjectPath m_oldEntry;
};

} // namespace

Passwords passwordsOf(const ConnectionSettings& settings)
{
    return {settings.UserPassword, settings.GroupPassword, settings.AccountPassword};
}

void setPasswords(ConnectionSettings& settings, const Passwords& passwords)
{
    settings.UserPassword = passwords.user;
    settings.GroupPassword = passwords.group;
    settings.AccountPassword = passwords.account;
}

bool noPasswords(const ConnectionSettings& settings)
{
    return settings.UserPassword.isEmpty() && settings.GroupPassword.isEmpty() &&
           settings.AccountPassword.isEmpty();
}

void setPassword(ConnectionSettings& settings, Level level, const QByteArray& password)
{
    settings.*passwordOf(level) = password;
}

QString levelName(Level level)
{
    switch (level) {
    case Level::User:
        return QStringLiteral("user");
    case Level::Group:
        return QStringLiteral("group");
    case Level::Account:
        break;
    }
    return QStringLiteral("account");
}

QString hostLabel(const ConnectionSettings& settings)
{
    return QStringLiteral("%1@%2:%3")
        .arg(QString::fromLatin1(settings.User), QString::fromLatin1(settings.HostAddress))
        .arg(settings.Port);
}

bool movedToKeyring(const ConnectionSettings& settings)
{
    const QStringList recorded = KeyringIndex::levels(hostLabel(settings));
    for (Level level : Levels) {
        if (recorded.contains(entryOf(settings, level)))
            return true;
    }
    return false;
}

void store(const ConnectionSettings& settings, QObject* context,
           std::function<void(const Result&)> done)
{
    (new KeyringJob(settings, context, std::move(done)))->store();
}

void lookup(const ConnectionSettings& settings, const QString& configPath, QObject* context,
            std::function<void(const Result&)> done)
{
    (new KeyringJob(settings, context, std::move(done)))->lookup(configPath);
}

int unlockTimeoutMs()
{
    return SecretService::defaultUnlockTimeoutMs();
}

QString notStoredText(const QString& why)
{
    return QStringLiteral("The passwords could not be put in the desktop keyring (%1); they are "
                          "kept in the configuration file.")
        .arg(why);
}

QString notReadText(const ConnectionSettings& settings, const QString& why)
{
    return QStringLiteral("The passwords of %1 are kept in the desktop keyring, which cannot be "
                          "read: %2.")
        .arg(hostLabel(settings), why);
}

} // namespace PasswordKeyring
