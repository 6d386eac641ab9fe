#pragma once

// What the parts of CtlRunner (commands, checks, configuration files) share.

#include "CtlRunner.h"
#include "config/ConnectionSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A configuration file that cannot be used: exit status 5 with the text,
// or 11 when its passwords are kept in a keyring that cannot be read.
struct CtlConfigFault
{
    QString text;
    CtlExit status = CtlExit::Config;
};

// A configuration file named on the command line, found as the console finds
// it. A file to be created needs no earlier one: it goes where it is named.
// Throws CtlConfigFault when it is not there.
QString ctlConfigPath(const QString& name, bool mayCreate);

// Sets settings.SshDestination: --ssh when given, else the route kept for the
// host's address and port. Throws CtlConfigFault when the routes cannot be
// read (the host is then not reached directly instead).
void ctlTakeRoute(const QString& sshOption, ConnectionSettings& settings);

// What the identity checks and --verify need of a listener.
struct CtlRunner::ListenerInfo
{
    QByteArray pin, port, program, productName;
    qint32 product = 0;
};

// The process found for an identity check: where it is listed and what it runs.
struct CtlRunner::ProcessInfo
{
    bool found = false;
    QByteArray listenerPin, mainPin, program, user;
    // Each different way the PIN is listed ("PROG for USER under main
    // process 123"); more than one makes the target ambiguous.
    QStringList listings;
};
