#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

// A route to a host through the operator's OpenSSH client: ssh's own stdio
// forward ("ssh -W host:port [user@]jumphost[:port]") whose standard input
// and output are one end of a socket pair; the session reads and writes the
// other end as it would a TCP connection. Nothing lies in the file system
// and nothing is polled.
//
// start() returns at once. The route is ready when ssh reports the forward
// open (its channel confirmed by the jump host), and failed when ssh exits
// first, cannot be run, or the time limit passes. A failure names its cause
// in ssh's own words (its standard error); a forward the jump host could not
// connect (a closed port) also carries the socket error number it stands
// for, and an unknown host key its fingerprint. Once in use, ssh ends exactly
// when its stream does: when the session closes its end, ssh passes on what
// was written last and exits as the host closes the connection.
//
// The environment variable ORVANITE_SSH_COMMAND replaces "ssh": it runs as
// sh -c '<value> "$@"' sh <arguments>, so quotes, "~", "$HOME" and escaped
// spaces mean what they mean to the shell.
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

    // A jump host whose key is not in known_hosts.
    struct HostKey
    {
        QString fingerprint; // as ssh shows it: "ssh-ed25519 SHA256:…"
        QString host;        // the jump host's address as ssh connected it
        quint16 port = 22;
        bool isValid() const { return !fingerprint.isEmpty(); }
    };

    explicit SshTunnel(QObject* parent = nullptr);
    ~SshTunnel() override;

    // Why a destination cannot be used; empty when it can.
    static QString checkDestination(const QString& destination);
    // The program and its first arguments: "ssh", or the shell running
    // ORVANITE_SSH_COMMAND with the arguments that follow as "$@".
    static QStringList sshCommand();
    // The arguments after the command for a forward to host:port.
    static QStringList sshArguments(const QString& destination, const QByteArray& host,
                                    quint16 port, int timeoutSeconds);
    // The command the operator runs to add a host's key, once its
    // fingerprint has been checked.
    static QString keyScanCommand(const HostKey& key);

    // Starts a forward (ending the one before); ready or failed tell the outcome.
    void start(const QString& destination, const QByteArray& host, quint16 port,
               int timeoutSeconds);
    // Ends the route. A forward in use ends as its stream does (the session
    // has closed its end); one still starting is ended at once. Nothing is
    // signalled.
    void stop();

    State state() const { return m_state; }
    // The session's end of the stream, once: the caller owns it; -1 when
    // not ready or already taken.
    int takeStream();
    QString destination() const { return m_destination; }
    QString errorText() const { return m_error; }
    // The Windows Sockets number of a forward the jump host could not
    // connect (10061 for a closed port); 0 for any other failure.
    int errorCode() const { return m_errorCode; }
    // Set when the last failure was an unknown host key.
    const HostKey& unknownHostKey() const { return m_unknownKey; }

Q_SIGNALS:
    void ready();
    // The forward could not be made, or ended while in use.
    void failed(const QString& message);
    // Something ssh reported while the forward was in use.
    void message(const QString& text);

private:
    void fail(const QString& cause);
    void takeStderr();
    void readLine(const QByteArray& line);
    QString failureText(const QString& cause) const;
    void closeStream();

    QProcess* m_process = nullptr;
    QTimer* m_deadline = nullptr;
    State m_state = State::Idle;
    QString m_destination;
    int m_stream = -1; // our end of the pair until taken
    QString m_error;
    int m_errorCode = 0;
    QByteArray m_stderr;       // a line not yet whole
    QStringList m_said;        // what ssh said (its own lines, not its debug lines)
    HostKey m_serverKey;       // the key the jump host offered
    HostKey m_unknownKey;      // the same, once ssh found it unknown
    bool m_keyRefused = false; // ssh said the key changed or was revoked
    int m_timeoutSeconds = 0;
};
