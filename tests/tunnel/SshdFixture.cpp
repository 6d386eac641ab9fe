#include "SshdFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

SshdFixture::SshdFixture() = default;

SshdFixture::~SshdFixture()
{
    if (m_sshd.state() != QProcess::NotRunning) {
        m_sshd.terminate();
        if (!m_sshd.waitForFinished(5000))
            m_sshd.kill();
        m_sshd.waitForFinished(5000);
    }
}

bool SshdFixture::run(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_why = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

bool SshdFixture::write(const QString& name, const QByteArray& text)
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
        m_why = QStringLiteral("cannot write %1").arg(f.fileName());
        return false;
    }
    f.close();
    return f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool SshdFixture::start()
{
    const QString sshd = QStringLiteral("/usr/sbin/sshd");
    if (!QFile::exists(sshd) || QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty()) {
        m_why = QStringLiteral("sshd or ssh is not installed (scripts/setup.sh installs them)");
        return false;
    }
    // Run as root, sshd wants its privilege separation folder.
    if (::getuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd"));
    const QString keygen = QStringLiteral("ssh-keygen");
    for (const char* key : {"host_key", "client_key", "other_key"}) {
        if (!run(keygen,
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                  QStringLiteral("-N"), QString(), QStringLiteral("-C"), QStringLiteral("test"),
                  QStringLiteral("-f"), m_dir.filePath(QLatin1StringView(key))}))
            return false;
    }
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            m_why = probe.errorString();
            return false;
        }
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
    if (!write(QStringLiteral("authorized_keys"), read("client_key.pub") + '\n') ||
        !write(QStringLiteral("known_hosts"),
               "[127.0.0.1]:" + port + ' ' + read("host_key.pub") + '\n') ||
        !write(QStringLiteral("no_known_hosts"), QByteArray()))
        return false;
    if (!write(QStringLiteral("sshd_config"),
               "Port " + port + "\nListenAddress 127.0.0.1\nHostKey " + dir +
                   "/host_key\nPidFile none\nAuthorizedKeysFile " + dir +
                   "/authorized_keys\nStrictModes no\nPermitRootLogin prohibit-password\n"
                   "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                   "AllowTcpForwarding yes\nAllowStreamLocalForwarding yes\nLogLevel ERROR\n"))
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
    if (!write(QStringLiteral("ssh_config"), client))
        return false;

    m_sshd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sshd.start(sshd, {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                        m_dir.filePath(QStringLiteral("sshd_config"))});
    if (!m_sshd.waitForStarted()) {
        m_why = m_sshd.errorString();
        return false;
    }
    // Ready once it accepts a connection; bounded.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_sshd.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    m_why = QStringLiteral("sshd did not start listening on port %1").arg(m_port);
    return false;
}

QString SshdFixture::sshCommand() const
{
    return QStringLiteral("ssh -F %1").arg(m_dir.filePath(QStringLiteral("ssh_config")));
}
