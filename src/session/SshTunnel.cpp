#include "session/SshTunnel.h"

#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int AliveIntervalSeconds = 15;
// ssh ends with its stream; one that does not (a host that keeps the
// connection open after Quit) is ended after this long.
constexpr int LingerMs = 5000;

struct Destination
{
    QString target; // [user@]host as ssh takes it
    QString port;   // empty: ssh's own choice
};

// "[user@]host[:port]", where host may be "[v6 address]".
bool splitDestination(const QString& text, Destination& out, QString& why)
{
    if (text.isEmpty()) {
        why = QStringLiteral("no destination");
        return false;
    }
    for (const QChar c : text) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f) {
            why = QStringLiteral("a destination has no spaces or control characters");
            return false;
        }
    }
    if (text.startsWith(u'-')) {
        why = QStringLiteral("a destination does not start with \"-\"");
        return false;
    }
    const qsizetype at = text.lastIndexOf(u'@');
    const QString user = at >= 0 ? text.left(at) : QString();
    QString rest = at >= 0 ? text.mid(at + 1) : text;
    if (at >= 0 && user.isEmpty()) {
        why = QStringLiteral("no user name before \"@\"");
        return false;
    }
    QString host, port;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) {
            why = QStringLiteral("\"[\" without \"]\"");
            return false;
        }
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':')) {
                why = QStringLiteral("only \":PORT\" may follow \"]\"");
                return false;
            }
            port = after.mid(1);
            if (port.isEmpty()) {
                why = QStringLiteral("no port after \":\"");
                return false;
            }
        }
    } else {
        const qsizetype colon = rest.indexOf(u':');
        if (colon >= 0 && rest.indexOf(u':', colon + 1) >= 0) {
            why = QStringLiteral("write an IPv6 address in brackets: [ADDRESS]:PORT");
            return false;
        }
        host = colon >= 0 ? rest.left(colon) : rest;
        if (colon >= 0) {
            port = rest.mid(colon + 1);
            if (port.isEmpty()) {
                why = QStringLiteral("no port after \":\"");
                return false;
            }
        }
    }
    if (host.isEmpty()) {
        why = QStringLiteral("no host name");
        return false;
    }
    if (!port.isEmpty()) {
        bool ok = false;
        const int number = port.toInt(&ok);
        if (!ok || number < 1 || number > 65535 || port.startsWith(u'+')) {
            why = QStringLiteral("the port is a number from 1 to 65535, not \"%1\"").arg(port);
            return false;
        }
    }
    out.target = at >= 0 ? user + u'@' + host : host;
    out.port = port;
    return true;
}

// The socket error a refused or failed forward stands for, from the
// reason the jump host gave ("connect failed: Connection refused").
int forwardErrorCode(QStringView reason)
{
    static const struct
    {
        const char* text;
        int code;
    } Reasons[] = {
        {"Connection refused", 10061},        {"Connection timed out", 10060},
        {"No route to host", 10065},          {"Network is unreachable", 10051},
        {"Name or service not known", 11001}, {"Temporary failure in name resolution", 11002},
    };
    for (const auto& r : Reasons)
        if (reason.contains(QLatin1StringView(r.text)))
            return r.code;
    return 0;
}

// Signals ssh and, when a shell runs it, the shell too: each runs in a
// process group of its own.
void signalGroup(QProcess* p, int signal)
{
    if (p->state() != QProcess::NotRunning && p->processId() > 0)
        ::kill(-pid_t(p->processId()), signal);
}

// Ends a process that is no longer wanted and lets it go once it has.
void dismiss(QProcess* p, int afterMs)
{
    if (p->state() == QProcess::NotRunning) {
        p->deleteLater();
        return;
    }
    QObject::connect(p, &QProcess::finished, p, &QObject::deleteLater);
    if (afterMs == 0)
        signalGroup(p, SIGTERM);
    else
        QTimer::singleShot(afterMs, p, [p] { signalGroup(p, SIGTERM); });
    QTimer::singleShot(afterMs + 3000, p, [p] { signalGroup(p, SIGKILL); });
}

} // namespace

SshTunnel::SshTunnel(QObject* parent) : QObject(parent), m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_state != State::Starting)
            return;
        takeStderr();
        if (m_state != State::Starting)
            return; // what was waiting said the forward is open (or failed)
        QString cause = QStringLiteral("no forward after %1 seconds").arg(m_timeoutSeconds);
        if (!m_said.isEmpty())
            cause += QStringLiteral(": ") + m_said.join(QStringLiteral("; "));
        fail(QStringLiteral("SSH tunnel to %1 failed: %2").arg(m_destination, cause));
    });
}

SshTunnel::~SshTunnel()
{
    stop();
    // The program is ending: a forward still passing on the last bytes
    // (Quit) is waited for, briefly blocking, as it ends with its stream.
    const QList<QProcess*> left = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (QProcess* p : left) {
        p->disconnect();
        if (p->state() != QProcess::NotRunning && !p->waitForFinished(LingerMs)) {
            signalGroup(p, SIGTERM);
            if (!p->waitForFinished(2000))
                signalGroup(p, SIGKILL);
            p->waitForFinished(2000);
        }
        delete p;
    }
}

QString SshTunnel::checkDestination(const QString& destination)
{
    Destination d;
    QString why;
    if (!splitDestination(destination, d, why))
        return QStringLiteral("\"%1\" is not an SSH destination ([user@]host[:port]): %2")
            .arg(destination, why);
    return {};
}

QStringList SshTunnel::sshCommand()
{
    const QString given = qEnvironmentVariable("ORVANITE_SSH_COMMAND");
    if (given.trimmed().isEmpty())
        return {QStringLiteral("ssh")};
    // As a shell runs it, the arguments following as "$@".
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"), given + QStringLiteral(" \"$@\""),
            QStringLiteral("sh")};
}

QStringList SshTunnel::sshArguments(const QString& destination, const QByteArray& host,
                                    quint16 port, int timeoutSeconds)
{
    Destination d;
    QString why;
    splitDestination(destination, d, why);
    QString forwardHost = QString::fromLatin1(host);
    if (forwardHost.contains(u':'))
        forwardHost = u'[' + forwardHost + u']';
    // LogLevel DEBUG2 makes ssh say when the jump host has opened the
    // forward ("open confirm") and which key it offered; a connection of
    // its own (no ControlMaster) makes it say so itself.
    QStringList args{
        QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
        QStringLiteral("-o"), QStringLiteral("ExitOnForwardFailure=yes"),
        QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=%1").arg(AliveIntervalSeconds),
        QStringLiteral("-o"), QStringLiteral("ControlMaster=no"),
        QStringLiteral("-o"), QStringLiteral("ControlPath=none"),
        QStringLiteral("-o"), QStringLiteral("LogLevel=DEBUG2")};
    if (timeoutSeconds > 0)
        args << QStringLiteral("-o") << QStringLiteral("ConnectTimeout=%1").arg(timeoutSeconds);
    args << QStringLiteral("-W") << QStringLiteral("%1:%2").arg(forwardHost).arg(port);
    if (!d.port.isEmpty())
        args << QStringLiteral("-p") << d.port;
    args << QStringLiteral("--") << d.target;
    return args;
}

QString SshTunnel::keyScanCommand(const HostKey& key)
{
    // ssh shows the key's fingerprint once more and adds it only when the
    // operator answers yes (or pastes the fingerprint he checked); a blind
    // key scan would add whatever key answers then.
    return QStringLiteral("ssh -o StrictHostKeyChecking=ask -p %1 %2 exit")
        .arg(key.port)
        .arg(key.host);
}

int SshTunnel::takeStream()
{
    if (m_state != State::Ready)
        return -1;
    return std::exchange(m_stream, -1);
}

void SshTunnel::start(const QString& destination, const QByteArray& host, quint16 port,
                      int timeoutSeconds)
{
    stop();
    m_destination = destination;
    m_timeoutSeconds = timeoutSeconds;
    m_error.clear();
    m_errorCode = 0;
    m_stderr.clear();
    m_said.clear();
    m_serverKey = {};
    m_unknownKey = {};
    m_keyRefused = false;
    m_state = State::Starting;

    const QString why = checkDestination(destination);
    if (!why.isEmpty()) {
        fail(why);
        return;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        fail(QStringLiteral("SSH tunnel to %1 failed: no socket pair: %2")
                 .arg(destination, QString::fromLocal8Bit(::strerror(errno))));
        return;
    }
    m_stream = pair[0];
    const int theirs = pair[1];

    QStringList command = sshCommand();
    const QString program = command.takeFirst();
    m_process = new QProcess(this);
    m_process->setProgram(program);
    m_process->setArguments(command + sshArguments(destination, host, port, timeoutSeconds));
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // ssh reads and writes its end of the pair, in a process group of its
    // own (with the shell that runs it), so that ending the route ends both.
    // It ends with the program, also one that crashed or was killed: its
    // stream ends then, and the shell is told at once.
    m_process->setChildProcessModifier([theirs] {
        ::dup2(theirs, STDIN_FILENO);
        ::dup2(theirs, STDOUT_FILENO);
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    connect(m_process, &QProcess::readyReadStandardError, this, &SshTunnel::takeStderr);
    connect(m_process, &QProcess::errorOccurred, this, [this, program](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        fail(QStringLiteral("SSH tunnel to %1 failed: cannot run \"%2\": %3")
                 .arg(m_destination, program, m_process->errorString()));
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        takeStderr();
        if (!m_stderr.isEmpty())
            readLine(std::exchange(m_stderr, {}));
        if (m_state == State::Ready && status == QProcess::NormalExit && code == 0) {
            // The host closed the connection and ssh with it: the session
            // sees its stream end; nothing failed.
            closeStream();
            m_process->deleteLater();
            m_process = nullptr;
            m_state = State::Idle;
            return;
        }
        QString cause = m_said.join(QStringLiteral("; "));
        if (cause.isEmpty())
            cause = status == QProcess::CrashExit
                        ? QStringLiteral("ssh was killed")
                        : QStringLiteral("ssh ended with exit status %1").arg(code);
        fail(failureText(cause));
    });
    if (timeoutSeconds > 0)
        m_deadline->start(timeoutSeconds * 1000);
    m_process->start();
    // The child holds its end now (or never will).
    ::close(theirs);
}

QString SshTunnel::failureText(const QString& cause) const
{
    QString text =
        QStringLiteral("SSH tunnel to %1 %2: %3")
            .arg(m_destination,
                 m_state == State::Ready ? QStringLiteral("ended") : QStringLiteral("failed"),
                 cause);
    if (m_unknownKey.isValid())
        text += QStringLiteral("\nThe key of %1 is not known; its fingerprint is %2. To add it "
                               "once you have checked it, answer yes to: %3")
                    .arg(m_destination, m_unknownKey.fingerprint, keyScanCommand(m_unknownKey));
    return text;
}

void SshTunnel::takeStderr()
{
    if (!m_process)
        return;
    m_stderr += m_process->readAllStandardError();
    qsizetype end;
    while (m_process && (end = m_stderr.indexOf('\n')) >= 0) {
        const QByteArray line = m_stderr.left(end);
        m_stderr.remove(0, end + 1);
        readLine(line);
    }
}

void SshTunnel::readLine(const QByteArray& raw)
{
    const QString line = QString::fromLocal8Bit(raw).trimmed();
    if (line.isEmpty())
        return;
    if (line.startsWith(QStringLiteral("debug"))) {
        const qsizetype colon = line.indexOf(u':');
        const QString text = line.mid(colon + 1).trimmed();
        if (m_state != State::Starting)
            return;
        if (text.startsWith(QStringLiteral("Connecting to "))) {
            // "Connecting to NAME [ADDRESS] port PORT."
            const qsizetype open = text.indexOf(u'[');
            const qsizetype close = text.indexOf(u']', open);
            const qsizetype portAt = text.lastIndexOf(QStringLiteral(" port "));
            if (open > 0 && close > open && portAt > close) {
                m_serverKey.host = text.mid(open + 1, close - open - 1);
                QString port = text.mid(portAt + 6);
                if (port.endsWith(u'.'))
                    port.chop(1);
                m_serverKey.port = quint16(port.toUShort());
            }
        } else if (text.startsWith(QStringLiteral("Server host key: "))) {
            m_serverKey.fingerprint = text.mid(17);
        } else if (text.contains(QStringLiteral(": open confirm"))) {
            m_deadline->stop();
            m_said.clear();
            m_state = State::Ready;
            Q_EMIT ready();
        }
        return;
    }
    if (line.startsWith(QStringLiteral("Warning: Permanently added")))
        return;
    if (m_state == State::Starting) {
        // A forward the jump host could not connect stands for the socket
        // error its reason names.
        const qsizetype failed = line.indexOf(QStringLiteral("open failed: connect failed: "));
        if (failed >= 0)
            m_errorCode = forwardErrorCode(QStringView(line).mid(failed));
        // A key that changed or was revoked is never offered as merely
        // unknown: adding it would pass the check it failed.
        if (line.contains(QStringLiteral("HAS CHANGED")) ||
            line.contains(QStringLiteral("has changed")) ||
            line.contains(QStringLiteral("REVOKED")))
            m_keyRefused = true;
        if (line.contains(QStringLiteral("host key is known for")) ||
            line.contains(QStringLiteral("Host key verification failed")))
            if (m_serverKey.isValid() && !m_keyRefused)
                m_unknownKey = m_serverKey;
        m_said << line;
        return;
    }
    // Once in use, every line ssh writes is passed on (why it timed out).
    m_said = {line};
    Q_EMIT message(QStringLiteral("SSH tunnel to %1: %2").arg(m_destination, line));
}

void SshTunnel::fail(const QString& cause)
{
    const bool wasActive = m_state == State::Starting || m_state == State::Ready;
    const int code = m_errorCode;
    const HostKey key = m_unknownKey;
    stop();
    m_state = State::Failed;
    m_error = cause;
    m_errorCode = code;
    m_unknownKey = key;
    if (wasActive)
        Q_EMIT failed(cause);
}

void SshTunnel::closeStream()
{
    if (m_stream >= 0)
        ::close(m_stream);
    m_stream = -1;
}

void SshTunnel::stop()
{
    m_deadline->stop();
    const bool inUse = m_state == State::Ready && m_stream < 0;
    closeStream();
    if (m_process) {
        QProcess* p = std::exchange(m_process, nullptr);
        p->disconnect(this);
        // In use, ssh passes on what the session wrote last (Quit) and ends
        // as its stream does; still starting, there is nothing to pass on.
        dismiss(p, inUse ? LingerMs : 0);
    }
    if (m_state != State::Failed)
        m_state = State::Idle;
}
