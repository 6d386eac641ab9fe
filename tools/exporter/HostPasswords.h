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
//
// What the console moved is read from its folder of settings
// ($XDG_CONFIG_HOME/orvanite) as the user running the exporter: keyring.conf
// lists the hosts by user, address and port ("MANAGER@east:30000") with the
// logon levels moved ("user:MANAGER", "account:SYS"); a file saved with the
// older preference alone (orvanite-console.conf, keyringPasswords) has every
// password field empty.
namespace HostPasswords {

// The credential's file name for one password field ("user_password",
// "group_password" or "account_password") of the host.
QString credentialName(const ConnectionSettings& settings, const char* field);

// The console's folder of settings for the user running the program.
QString consoleFolder();

// Takes the host's passwords from credentialsDirectory (empty: none) into
// settings. False with the reason in error when a credential cannot be read,
// or when a password is in the keyring of the console of consoleFolder
// (empty: none) and no credential gives it; path names the configuration
// file in the message.
bool resolve(ConnectionSettings& settings, const QString& path, const QString& credentialsDirectory,
             const QString& consoleFolder, QString& error);

} // namespace HostPasswords
