#pragma once

#include <QString>

struct ConnectionSettings;

// Where the exporter finds a host's logon passwords. A service reads no
// desktop keyring: the passwords are the configuration file's own, or come
// from the service's credentials, files named
//   ADDRESS_PORT.user_password, ADDRESS_PORT.group_password,
//   ADDRESS_PORT.account_password
// in $CREDENTIALS_DIRECTORY (systemd's LoadCredential=), each holding the
// password (a final line feed is not part of it). A credential replaces the
// file's field. A file whose password fields the console emptied when it
// moved them to the keyring is refused, never logged on with empty passwords.
namespace HostPasswords {

// The credential's file name for one password field ("user_password",
// "group_password" or "account_password") of the host.
QString credentialName(const ConnectionSettings& settings, const char* field);

// The console's settings file of the user running the program (where it
// records that saves keep the passwords in the keyring).
QString consoleSettingsFile();

// True when the console of consoleSettings keeps the host's passwords in the
// keyring and settings (as read from its file) holds none of them.
bool keptInKeyring(const ConnectionSettings& settings, const QString& consoleSettings);

// Takes the host's passwords from credentialsDirectory (empty: none) into
// settings. False with the reason in error when a credential cannot be read,
// or when the passwords are in the console's keyring and no credential gives
// them; path names the configuration file in the message.
bool resolve(ConnectionSettings& settings, const QString& path, const QString& credentialsDirectory,
             const QString& consoleSettings, QString& error);

} // namespace HostPasswords
