#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

struct ConnectionSettings;

// The logon passwords of a host in the desktop's secret store (the
// freedesktop Secret Service), one item per logon level, found by the host:
// the network-password attributes server, port, user and protocol
// "orvanite", with the level and its name, under a label naming user and host
// ("orvanite logon MANAGER@east:30000 (account SYS)"). A renamed or copied
// file finds them; another host or port does not. A file saved this way
// holds empty password fields, and the hosts moved are recorded
// (KeyringIndex), so that a keyring that cannot be read is told apart from a
// host without passwords. Entries kept under a file's path by earlier
// versions are read once and moved.
//
// Every call returns at once; done runs on the thread's event loop when the
// store has answered, unless context has gone by then.
namespace PasswordKeyring {

struct Passwords
{
    QByteArray user, group, account;
    bool operator==(const Passwords&) const = default;
};

enum class Level
{
    User,
    Group,
    Account,
};

enum class Outcome
{
    Done,       // stored, or found
    NotFound,   // nothing is kept for this host: the file's empty passwords stand
    Unreadable, // the host's passwords are kept there but cannot be read (message says why)
    NoService,  // the passwords could not be stored (message says why)
};

struct Result
{
    Outcome outcome = Outcome::NoService;
    Passwords passwords; // what was found
    QString message;     // why not, for Unreadable and NoService
    QList<Level> levels; // the levels kept in the keyring
};

Passwords passwordsOf(const ConnectionSettings& settings);
void setPasswords(ConnectionSettings& settings, const Passwords& passwords);
// No password field holds anything.
bool noPasswords(const ConnectionSettings& settings);
void setPassword(ConnectionSettings& settings, Level level, const QByteArray& password);
// "user", "group", "account".
QString levelName(Level level);

// The host as the keyring knows it: "USER@HOST:PORT".
QString hostLabel(const ConnectionSettings& settings);
// The host's passwords were moved to the keyring (by this user's console).
bool movedToKeyring(const ConnectionSettings& settings);

// Stores the non-empty passwords of settings' host and records the host as
// moved.
void store(const ConnectionSettings& settings, QObject* context,
           std::function<void(const Result&)> done);
// Looks up the passwords of settings' host; configPath names the file whose
// entry of an earlier version is moved when the host has none.
void lookup(const ConnectionSettings& settings, const QString& configPath, QObject* context,
            std::function<void(const Result&)> done);

// How long an unlock prompt of a locked keyring is waited for:
// ORVANITE_KEYRING_UNLOCK_TIMEOUT seconds when set (1 to 3600), else 30 s.
int unlockTimeoutMs();

// What the operator is told when the passwords could not be stored.
QString notStoredText(const QString& why);
// What the operator is told when the passwords could not be read.
QString notReadText(const ConnectionSettings& settings, const QString& why);

} // namespace PasswordKeyring
