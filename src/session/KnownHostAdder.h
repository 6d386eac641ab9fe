#pragma once

#include "session/SshTunnel.h"

#include <QObject>
#include <QString>

class QProcess;

// Adds a jump host's key to the operator's known_hosts once the operator has
// accepted its fingerprint: the key is fetched again (ssh-keyscan), kept
// only when its fingerprint is the one accepted, and appended to the first
// UserKnownHostsFile ssh uses for the destination (asked of "ssh -G", through
// ORVANITE_SSH_COMMAND). Nothing waits: finished tells the outcome.
class KnownHostAdder : public QObject
{
    Q_OBJECT

public:
    explicit KnownHostAdder(QObject* parent = nullptr);

    // Starts the addition; one at a time (a second call while one runs is
    // refused through finished).
    void add(const QString& destination, const SshTunnel::HostKey& key);
    bool isRunning() const { return m_process != nullptr; }

    // The fingerprint ssh shows for a known_hosts line's key
    // ("ssh-ed25519 SHA256:…"); empty when the line holds no key.
    static QString fingerprintOf(const QByteArray& knownHostsLine);

Q_SIGNALS:
    // ok: the key is in file; else message says why not.
    void finished(bool ok, const QString& message);

private:
    void run(const QString& program, const QStringList& arguments,
             void (KnownHostAdder::*next)(const QByteArray& output));
    void tookConfig(const QByteArray& output);
    void tookKeys(const QByteArray& output);
    void finish(bool ok, const QString& message);

    QProcess* m_process = nullptr;
    QString m_destination;
    SshTunnel::HostKey m_key;
    QString m_file;
};
