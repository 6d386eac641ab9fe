#pragma once

#include "console/Prompts.h"
#include "keyring/PasswordKeyring.h"

#include <QObject>

#include <functional>
#include <random>

class ConsoleSettings;
struct ConnectionSettings;

// A host's configuration file and what the console keeps beside it: the
// file itself (read, and written with a fresh key at every save), its host's
// SSH route in the routes file the other programs read too (the file's line
// has no room for it), its
// logon passwords in the desktop keyring when the operator chose so, and the
// recent files' list. Failures are told through the prompts.
class HostFileStore : public QObject
{
    Q_OBJECT

public:
    HostFileStore(ConsoleSettings* store, Prompts* prompts, QObject* parent);

    // Reads settings.ConfigPath into settings, with its host's route.
    // False when a value could not be taken (the message has been shown;
    // the values before it stay taken).
    bool load(ConnectionSettings& settings);
    // Writes settings to settings.ConfigPath. With the keyring chosen the
    // passwords go there first and the file is written once it answered,
    // without them, or with them when no keyring took them.
    void save(const ConnectionSettings& settings);
    // The file just loaded left its passwords to the keyring: starts the
    // lookup of its host's, and done runs once it has answered; false when
    // none is due.
    bool lookUpPasswords(const ConnectionSettings& settings,
                         std::function<void(const PasswordKeyring::Result&)> done);
    // Puts the passwords the operator typed in the keyring (the file is not
    // written); a failure is told.
    void rememberPasswords(const ConnectionSettings& settings);
    // Sets settings.SshDestination to the route of its host and port; false
    // (the message shown) when the routes cannot be read.
    bool takeRoute(ConnectionSettings& settings);
    // Both file dialogs (Load and Save As) start the same way: in the
    // program's folder, on the configuration file in use.
    static FileDialogSetup dialogSetup(const QString& programPath, const QString& configPath);
    // Puts path first in the recent files.
    void remember(const QString& path);

Q_SIGNALS:
    void recentFilesChanged();

private:
    void migrateRoutes();
    void write(const ConnectionSettings& settings);

    ConsoleSettings* m_store;
    Prompts* m_prompts;
    std::mt19937 m_random; // seeded once at creation; draws the file's key
    bool m_lookupDue = false;
};
