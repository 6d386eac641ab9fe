#pragma once

#include <QByteArray>
#include <QString>

// The settings of the connection, held by the main window. Texts are bytes as
// typed or read from a configuration file; Latin-1 applies only where a value
// meets a widget.
struct ConnectionSettings
{
    QByteArray HostAddress;
    quint16 Port = 30000;
    QByteArray User = "MANAGER";
    QByteArray UserPassword;
    QByteArray Group;
    QByteArray GroupPassword;
    QByteArray Account = "SYS";
    QByteArray AccountPassword;
    QByteArray LogonExtra;
    int RefreshInterval = 5000; // milliseconds; whole seconds 5..60 once set
    QString ConfigPath;
    // The SSH destination ("[user@]jumphost[:port]") the host is reached
    // through; empty: directly. Not part of the configuration file.
    QString SshDestination;

    bool operator==(const ConnectionSettings&) const = default;
};
