#include "support/ServiceFixtures.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

int runProgram(const QString& program, const QStringList& arguments, QByteArray* output)
{
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(program, arguments);
    if (!p.waitForStarted() || !done.wait(30000))
        return -1;
    if (output)
        *output = p.readAllStandardOutput() + p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString projectProgram(const char* name)
{
    return qEnvironmentVariable("ORV_BIN_DIR") + u'/' + QLatin1StringView(name);
}

bool ServiceFixture::fail(const QString& why)
{
    m_why = why;
    return false;
}

bool ServiceFixture::run(const QString& program, const QStringList& arguments)
{
    QByteArray output;
    if (runProgram(program, arguments, &output) != 0)
        return fail(u"%1 failed: %2"_s.arg(program, QString::fromLocal8Bit(output)));
    return true;
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

bool SshdFixture::write(const QString& name, const QByteArray& text)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return fail(u"cannot write %1"_s.arg(f.fileName()));
    f.close();
    return f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool SshdFixture::start()
{
    const QString sshd = u"/usr/sbin/sshd"_s;
    if (!QFile::exists(sshd) || QStandardPaths::findExecutable(u"ssh"_s).isEmpty())
        return fail(u"sshd or ssh is not installed (scripts/setup.sh installs them)"_s);
    // Run as root, sshd wants its privilege separation folder.
    if (::getuid() == 0)
        QDir().mkpath(u"/run/sshd"_s);
    for (const char* key : {"host_key", "client_key", "other_key"}) {
        if (!run(u"ssh-keygen"_s, {u"-q"_s, u"-t"_s, u"ed25519"_s, u"-N"_s, QString(), u"-C"_s,
                                   u"test"_s, u"-f"_s, m_dir.filePath(QLatin1StringView(key))}))
            return false;
    }
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return fail(probe.errorString());
        m_port = probe.serverPort();
    }
    auto read = [this](const char* name) {
        QFile f(m_dir.filePath(QLatin1StringView(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    const QByteArray dir = QFile::encodeName(m_dir.path());
    const passwd* pw = ::getpwuid(::getuid());
    const QByteArray user = pw ? QByteArray(pw->pw_name) : QByteArray("root");
    const QByteArray port = QByteArray::number(m_port);
    if (!write(u"authorized_keys"_s, read("client_key.pub") + '\n') ||
        !write(u"known_hosts"_s, "[127.0.0.1]:" + port + ' ' + read("host_key.pub") + '\n') ||
        !write(u"no_known_hosts"_s, QByteArray()) ||
        // Another key for the same host: the host's key has changed.
        !write(u"changed_known_hosts"_s,
               "[127.0.0.1]:" + port + ' ' + read("client_key.pub") + '\n'))
        return false;
    if (!write(u"sshd_config"_s,
               "Port " + port + "\nListenAddress 127.0.0.1\nHostKey " + dir +
                   "/host_key\nPidFile none\nAuthorizedKeysFile " + dir +
                   "/authorized_keys\nStrictModes no\nPermitRootLogin prohibit-password\n"
                   "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                   "AllowTcpForwarding yes\nAllowStreamLocalForwarding yes\nLogLevel INFO\n"))
        return false;
    QByteArray client;
    auto host = [&](const char* name, const char* key, const char* known) {
        client += QByteArray("Host ") + name + "\n  HostName 127.0.0.1\n  Port " + port +
                  "\n  User " + user + "\n  IdentityFile " + dir + '/' + key +
                  "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + dir + '/' + known +
                  "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n";
    };
    host("jump", "client_key", "known_hosts");
    host("refused", "other_key", "known_hosts");
    host("stranger", "client_key", "no_known_hosts");
    host("changed", "client_key", "changed_known_hosts");
    if (!write(u"ssh_config"_s, client))
        return false;

    // Its log is kept to count the logins.
    m_sshd.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_sshd.start(sshd, {u"-D"_s, u"-e"_s, u"-f"_s, m_dir.filePath(u"sshd_config"_s)});
    if (!m_sshd.waitForStarted())
        return fail(m_sshd.errorString());
    // Ready once it accepts a connection; bounded.
    const bool listening = QTest::qWaitFor(
        [this] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            return m_sshd.state() != QProcess::Running || probe.waitForConnected(200);
        },
        10000);
    if (listening && m_sshd.state() == QProcess::Running)
        return true;
    return fail(u"sshd did not start listening on port %1"_s.arg(m_port));
}

int SshdFixture::logins()
{
    m_log += m_sshd.readAllStandardError();
    return int(m_log.count("Accepted publickey for "));
}

QString SshdFixture::sshCommand() const
{
    return u"ssh -F %1"_s.arg(m_dir.filePath(u"ssh_config"_s));
}

bool SecretServiceFixture::start()
{
    if (QStandardPaths::findExecutable(u"gnome-keyring-daemon"_s).isEmpty() ||
        QStandardPaths::findExecutable(u"dbus-daemon"_s).isEmpty())
        return fail(u"gnome-keyring-daemon or dbus-daemon is not installed (scripts/setup.sh)"_s);
    m_bus.start(u"dbus-daemon"_s,
                {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s, u"--nopidfile"_s});
    if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(10000))
        return fail(u"dbus-daemon did not start"_s);
    const QByteArray address = m_bus.readLine().trimmed();

    QDir(m_dir.path()).mkpath(u"home/data"_s);
    QDir(m_dir.path()).mkpath(u"home/run"_s);
    QFile::setPermissions(m_dir.filePath(u"home/run"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, QString::fromLocal8Bit(address));
    env.insert(u"HOME"_s, m_dir.filePath(u"home"_s));
    env.insert(u"XDG_DATA_HOME"_s, m_dir.filePath(u"home/data"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir.filePath(u"home/run"_s));
    env.remove(u"DISPLAY"_s);
    m_keyring.setProcessEnvironment(env);
    m_keyring.start(u"gnome-keyring-daemon"_s,
                    {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
    if (!m_keyring.waitForStarted())
        return fail(m_keyring.errorString());
    // The login keyring is made with this password and left unlocked.
    m_keyring.write("test-keyring");
    m_keyring.closeWriteChannel();

    // Ready once it owns the service's name on the bus (asked without
    // starting anything).
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    const bool owned = QTest::qWaitFor(
        [this] {
            QByteArray reply;
            runProgram(u"dbus-send"_s,
                       {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                        u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                        u"string:org.freedesktop.secrets"_s},
                       &reply);
            return m_keyring.state() != QProcess::Running || reply.contains("boolean true");
        },
        15000);
    if (owned && m_keyring.state() == QProcess::Running)
        return true;
    return fail(u"gnome-keyring-daemon did not start: "_s +
                QString::fromLocal8Bit(m_keyring.readAllStandardError()));
}
