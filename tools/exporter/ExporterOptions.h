#pragma once

#include "exporter/ExporterLog.h"
#include "exporter/HostPasswords.h"
#include "exporter/HostTarget.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// orvanite-exporter's command line, checked, and the hosts its
// configuration files name.
struct ExporterOptions
{
    static constexpr quint16 DefaultPort = 9731;
    static constexpr int DefaultCollectTimeoutMs = 9000;
    static constexpr qint64 DefaultProcessLimit = 10000;
    static constexpr int DefaultIdleTimeoutMs = 30000;

    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 listenPort = DefaultPort;
    bool collectProcesses = false;
    int collectTimeoutMs = DefaultCollectTimeoutMs;
    qint64 processLimit = DefaultProcessLimit; // per-process series per host
    QString webConfigFile;                     // empty: plain HTTP, no users
    int idleTimeoutMs = DefaultIdleTimeoutMs;  // a connection without a request
    QList<HostTarget> hosts;
    // --ssh: every host is reached through an SSH tunnel to this destination.
    QString sshDestination;
    // Where the hosts' passwords may come from besides their files: the
    // service's credentials, and the console's record of passwords it moved
    // to the keyring (such a file is refused). Tests set their own.
    QString credentialsDirectory = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    QString consoleFolder = HostPasswords::consoleFolder();
    ExporterLog::Level logLevel = ExporterLog::Level::Info; // --log.level

    // What the program should do besides serving.
    enum class Action
    {
        Serve,
        Help,
        Version,
    };
    Action action = Action::Serve;

    // Parses arguments (without the program's name) and reads the
    // configuration files. On a mistake returns false with the message in
    // error. programPath and currentFolder place a bare file name as the
    // console places it.
    bool parse(const QStringList& arguments, const QString& programPath,
               const QString& currentFolder, QString& error);

    static QString helpText();

private:
    bool readValues(const class QCommandLineParser& parser, QString& error);
    bool collectPaths(const QStringList& configs, const QStringList& dirs,
                      const QString& programPath, const QString& currentFolder, QStringList& paths,
                      QString& error) const;
    bool loadTargets(const QStringList& paths, QString& error);
};

// "HOST:PORT", ":PORT" (every address) or "[IPv6]:PORT".
bool parseListenAddress(const QString& text, QHostAddress& address, quint16& port);
