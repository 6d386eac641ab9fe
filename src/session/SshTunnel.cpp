#include "session/SshTunnel.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cstdlib>

#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int PollMs = 40;
// How long ssh may go on after the tunnel is ended, to pass on the bytes
// written last.
constexpr int GraceMs = 300;
constexpr int AliveIntervalSeconds = 15;
// A Unix socket's path must fit sockaddr_un with its terminating zero.
constexpr qsizetype LongestSocketPath = qsizetype(sizeof(sockaddr_un::sun_path)) - 1;
const QString SocketName = QStringLiteral("host.sock");

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

// The folder that holds the sockets: $XDG_RUNTIME_DIR when it is ours and
// closed to others, else the temporary folder.
QString socketBase()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        struct stat st
        {
        };
        if (::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::getuid() && (st.st_mode & 077) == 0 && !runtime.contains(':'))
            return QString::fromLocal8Bit(runtime);
    }
    return QDir::tempPath();
}

// A fresh folder of mode 0700 for one socket; empty when none can be made.
QString makeFolder(const QString& base)
{
    QByteArray templ = QFile::encodeName(base) + "/orvanite-ssh-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr)
        return {};
    return QFile::decodeName(templ);
}

} // namespace

SshTunnel::SshTunnel(QObject* parent) : QObject(parent), m_poll(new QTimer(this))
{
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &SshTunnel::poll);
}

SshTunnel::~SshTunnel()
{
    stop();
    // The program is ending: ssh is given its grace here, briefly blocking,
    // so that a Quit just written to the socket still reaches the host.
    const QList<QProcess*> left = findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
    for (QProcess* p : left) {
        p->disconnect();
        if (p->state() != QProcess::NotRunning && !p->waitForFinished(GraceMs)) {
            p->terminate();
            if (!p->waitForFinished(2000))
                p->kill();
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
    const QString given = qEnvironmentVariable("ORVANITE_SSH_COMMAND").trimmed();
    QStringList words = given.isEmpty() ? QStringList() : QProcess::splitCommand(given);
    if (words.isEmpty())
        words << QStringLiteral("ssh");
    return words;
}

QStringList SshTunnel::sshArguments(const QString& destination, const QString& socketPath,
                                    const QByteArray& host, quint16 port, int timeoutSeconds)
{
    Destination d;
    QString why;
    splitDestination(destination, d, why);
    QString forwardHost = QString::fromLatin1(host);
    if (forwardHost.contains(u':'))
        forwardHost = u'[' + forwardHost + u']';
    QStringList args{QStringLiteral("-N"),
                     QStringLiteral("-o"),
                     QStringLiteral("BatchMode=yes"),
                     QStringLiteral("-o"),
                     QStringLiteral("ExitOnForwardFailure=yes"),
                     QStringLiteral("-o"),
                     QStringLiteral("ServerAliveInterval=%1").arg(AliveIntervalSeconds),
                     QStringLiteral("-o"),
                     QStringLiteral("StreamLocalBindUnlink=yes"),
                     QStringLiteral("-o"),
                     QStringLiteral("StreamLocalBindMask=0177")};
    if (timeoutSeconds > 0)
        args << QStringLiteral("-o") << QStringLiteral("ConnectTimeout=%1").arg(timeoutSeconds);
    args << QStringLiteral("-L")
         << QStringLiteral("%1:%2:%3").arg(socketPath, forwardHost).arg(port);
    if (!d.port.isEmpty())
        args << QStringLiteral("-p") << d.port;
    args << QStringLiteral("--") << d.target;
    return args;
}

bool SshTunnel::isReadyFor(const QString& destination, const QByteArray& host, quint16 port) const
{
    return m_state == State::Ready && m_destination == destination && m_host == host &&
           m_port == port;
}

void SshTunnel::start(const QString& destination, const QByteArray& host, quint16 port,
                      int timeoutSeconds)
{
    stop();
    m_destination = destination;
    m_host = host;
    m_port = port;
    m_timeoutSeconds = timeoutSeconds;
    m_error.clear();
    m_stderr.clear();
    m_lastLine.clear();
    m_state = State::Starting;

    const QString why = checkDestination(destination);
    if (!why.isEmpty()) {
        fail(why);
        return;
    }
    QString base = socketBase();
    if (base.size() + 40 > LongestSocketPath)
        base = QStringLiteral("/tmp");
    m_folder = makeFolder(base);
    if (m_folder.isEmpty()) {
        fail(QStringLiteral("SSH tunnel to %1: cannot make a folder for its socket in %2")
                 .arg(destination, base));
        return;
    }
    m_socketPath = m_folder + u'/' + SocketName;

    QStringList command = sshCommand();
    const QString program = command.takeFirst();
    m_process = new QProcess(this);
    m_process->setProgram(program);
    m_process->setArguments(command +
                            sshArguments(destination, m_socketPath, host, port, timeoutSeconds));
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // ssh ends with the program, also one that crashed or was killed: a
    // tunnel never outlives its session.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(m_process, &QProcess::readyReadStandardError, this, &SshTunnel::takeStderr);
    connect(m_process, &QProcess::errorOccurred, this, [this, program](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        fail(QStringLiteral("SSH tunnel to %1: cannot run \"%2\": %3")
                 .arg(m_destination, program, m_process->errorString()));
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        takeStderr();
        QString cause = stderrCause();
        if (cause.isEmpty() && m_state == State::Ready)
            cause = m_lastLine; // said while in use, just before it ended
        if (cause.isEmpty())
            cause = status == QProcess::CrashExit
                        ? QStringLiteral("ssh was killed")
                        : QStringLiteral("ssh ended with exit status %1").arg(code);
        if (m_state == State::Ready)
            fail(QStringLiteral("SSH tunnel to %1 ended: %2").arg(m_destination, cause));
        else
            fail(QStringLiteral("SSH tunnel to %1 failed: %2").arg(m_destination, cause));
    });
    m_deadline = timeoutSeconds > 0 ? QDeadlineTimer(timeoutSeconds * 1000LL).deadline() : 0;
    m_poll->start();
    m_process->start();
}

void SshTunnel::poll()
{
    if (m_state != State::Starting) {
        m_poll->stop();
        return;
    }
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(m_socketPath).constData(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        m_poll->stop();
        m_state = State::Ready;
        m_stderr.clear();
        Q_EMIT ready();
        return;
    }
    if (m_deadline != 0 && QDeadlineTimer::current().deadline() >= m_deadline) {
        takeStderr();
        QString text = QStringLiteral("SSH tunnel to %1 failed: no forward after %2 seconds")
                           .arg(m_destination)
                           .arg(m_timeoutSeconds);
        const QString cause = stderrCause();
        if (!cause.isEmpty())
            text += QStringLiteral(": ") + cause;
        fail(text);
    }
}

void SshTunnel::takeStderr()
{
    if (!m_process)
        return;
    m_stderr += m_process->readAllStandardError();
    // Once in use, every whole line ssh writes is passed on (a refused
    // channel says why the host could not be reached).
    if (m_state != State::Ready)
        return;
    qsizetype end;
    while ((end = m_stderr.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_stderr.left(end)).trimmed();
        m_stderr.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        m_lastLine = line;
        Q_EMIT message(QStringLiteral("SSH tunnel to %1: %2").arg(m_destination, line));
    }
}

QString SshTunnel::stderrCause() const
{
    QStringList lines;
    const QList<QByteArray> raw = m_stderr.split('\n');
    for (const QByteArray& l : raw) {
        const QString line = QString::fromLocal8Bit(l).trimmed();
        if (line.isEmpty() || line.startsWith(QStringLiteral("Warning: Permanently added")))
            continue;
        lines << line;
    }
    return lines.join(QStringLiteral("; "));
}

void SshTunnel::fail(const QString& cause)
{
    const bool wasActive = m_state == State::Starting || m_state == State::Ready;
    stop();
    m_state = State::Failed;
    m_error = cause;
    if (wasActive)
        Q_EMIT failed(cause);
}

void SshTunnel::stop()
{
    m_poll->stop();
    if (m_process) {
        QProcess* p = m_process;
        m_process = nullptr;
        p->disconnect(this);
        if (p->state() == QProcess::NotRunning) {
            p->deleteLater();
        } else {
            // ssh drops what it has not yet read from the socket when it is
            // ended, so it is ended after a grace that lets it pass on the
            // last bytes written (a Quit); it is reaped when it has gone, and
            // killed should it linger.
            connect(p, &QProcess::finished, p, &QObject::deleteLater);
            QTimer::singleShot(GraceMs, p, [p] { p->terminate(); });
            QTimer::singleShot(GraceMs + 3000, p, [p] { p->kill(); });
        }
    }
    removeFolder();
    if (m_state != State::Failed)
        m_state = State::Idle;
}

void SshTunnel::removeFolder()
{
    if (m_folder.isEmpty())
        return;
    QFile::remove(m_socketPath);
    QDir().rmdir(m_folder);
    m_folder.clear();
    m_socketPath.clear();
}
