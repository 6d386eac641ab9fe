#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

// A forward through the operator's OpenSSH client: "ssh -N" to a destination
// ("[user@]jumphost[:port]"), forwarding a Unix socket in a folder of its own
// (mode 0700, under $XDG_RUNTIME_DIR, else the temporary folder) to the
// host's address and port as the jump host sees them. Only the operator can
// enter the folder, so no other local user can use the forward.
//
// Nothing waits: start() returns at once, the socket's appearance is polled
// on a timer and ssh's exit is noticed as it happens. The forward is ready
// when the socket is there; it has failed when ssh exits, cannot be run, or
// the socket does not appear within the time limit. The failure's text names
// the cause in ssh's own words (its standard error).
//
// The environment variable ORVANITE_SSH_COMMAND replaces "ssh" (split as a
// shell splits words, e.g. "ssh -F ./ssh_config").
class SshTunnel : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Idle,
        Starting,
        Ready,
        Failed,
    };
    Q_ENUM(State)

    explicit SshTunnel(QObject* parent = nullptr);
    ~SshTunnel() override;

    // Why a destination cannot be used; empty when it can.
    static QString checkDestination(const QString& destination);
    // The command that runs ssh: ORVANITE_SSH_COMMAND split into words, else "ssh".
    static QStringList sshCommand();
    // The arguments after the command for a forward from socketPath to host:port.
    static QStringList sshArguments(const QString& destination, const QString& socketPath,
                                    const QByteArray& host, quint16 port, int timeoutSeconds);

    // Starts a forward (ending the one before); ready or failed tell the outcome.
    void start(const QString& destination, const QByteArray& host, quint16 port,
               int timeoutSeconds);
    // Ends ssh and removes the socket and its folder. Nothing is signalled.
    void stop();

    State state() const { return m_state; }
    // Running and ready for exactly this destination and host.
    bool isReadyFor(const QString& destination, const QByteArray& host, quint16 port) const;
    // The socket to connect to while ready.
    QString socketPath() const { return m_socketPath; }
    QString destination() const { return m_destination; }
    QString errorText() const { return m_error; }

Q_SIGNALS:
    void ready();
    // The forward could not be made, or ended while in use.
    void failed(const QString& message);
    // Something ssh reported while the forward was in use (a refused channel).
    void message(const QString& text);

private:
    void fail(const QString& cause);
    void poll();
    void takeStderr();
    QString stderrCause() const;
    void removeFolder();

    QProcess* m_process = nullptr;
    QTimer* m_poll = nullptr;
    State m_state = State::Idle;
    QString m_destination;
    QByteArray m_host;
    quint16 m_port = 0;
    QString m_folder;
    QString m_socketPath;
    QString m_error;
    QByteArray m_stderr;
    QString m_lastLine; // the last line ssh wrote while in use
    qint64 m_deadline = 0;
    int m_timeoutSeconds = 0;
};
