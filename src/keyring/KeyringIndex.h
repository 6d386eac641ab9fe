#pragma once

#include <QString>
#include <QStringList>

// Which hosts' passwords were moved to the desktop keyring, by host and user
// ("MANAGER@east:30000"), each with the logon levels moved ("user:MANAGER",
// "account:SYS"). Kept in the user's settings ($XDG_CONFIG_HOME/orvanite/
// keyring.conf), which the console writes and orvanite-ctl reads: a host
// listed here whose passwords cannot be read from the keyring is not logged
// on to with the file's empty ones.
namespace KeyringIndex {

QStringList levels(const QString& host);
// levels empty: the host is forgotten.
// False when the record could not be written.
bool record(const QString& host, const QStringList& levels);

} // namespace KeyringIndex
