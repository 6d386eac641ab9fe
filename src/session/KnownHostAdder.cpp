#include "session/KnownHostAdder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace {

// ssh-keyscan and ssh -G are given this long before they are ended.
constexpr int StepLimitMs = 20000;

QString expandHome(const QString& path)
{
    if (path == u'~')
        return QDir::homePath();
    if (path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

} // namespace

KnownHostAdder::KnownHostAdder(QObject* parent) : QObject(parent) {}

QString KnownHostAdder::fingerprintOf(const QByteArray& knownHostsLine)
{
    // "HOSTS TYPE BASE64 [COMMENT]"
    const QList<QByteArray> words = knownHostsLine.simplified().split(' ');
    if (words.size() < 3 || words[0].startsWith('#'))
        return {};
    const QByteArray blob = QByteArray::fromBase64(words[2]);
    if (blob.isEmpty())
        return {};
    const QByteArray hash = QCryptographicHash::hash(blob, QCryptographicHash::Sha256)
                                .toBase64(QByteArray::OmitTrailingEquals);
    return QString::fromLatin1(words[1] + " SHA256:" + hash);
}

void KnownHostAdder::add(const QString& destination, const SshTunnel::HostKey& key)
{
    if (m_process) {
        Q_EMIT finished(false, QStringLiteral("a host key is being added already"));
        return;
    }
    m_destination = destination;
    m_key = key;
    m_file.clear();
    // The file ssh reads for this destination, with the operator's own
    // configuration (and ORVANITE_SSH_COMMAND's options).
    QStringList command = SshTunnel::sshCommand();
    const QString program = command.takeFirst();
    run(program, command << QStringLiteral("-G") << QStringLiteral("--") << destination,
        &KnownHostAdder::tookConfig);
}

void KnownHostAdder::run(const QString& program, const QStringList& arguments,
                         void (KnownHostAdder::*next)(const QByteArray& output))
{
    QProcess* p = new QProcess(this);
    m_process = p;
    p->setProgram(program);
    p->setArguments(arguments);
    p->setStandardInputFile(QProcess::nullDevice());
    connect(p, &QProcess::errorOccurred, this, [this, p, program](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart && m_process == p)
            finish(false, QStringLiteral("cannot run \"%1\": %2").arg(program, p->errorString()));
    });
    connect(p, &QProcess::finished, this, [this, p, next](int code, QProcess::ExitStatus status) {
        if (m_process != p)
            return;
        m_process = nullptr;
        p->deleteLater();
        const QByteArray output = p->readAllStandardOutput();
        if (status != QProcess::NormalExit || code != 0) {
            const QString said = QString::fromLocal8Bit(p->readAllStandardError()).trimmed();
            finish(false,
                   QStringLiteral("\"%1\" failed: %2")
                       .arg(p->program(),
                            said.isEmpty() ? QStringLiteral("exit status %1").arg(code) : said));
            return;
        }
        (this->*next)(output);
    });
    QTimer::singleShot(StepLimitMs, p, [p] { p->kill(); });
    p->start();
}

void KnownHostAdder::tookConfig(const QByteArray& output)
{
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("userknownhostsfile "))
            continue;
        const QList<QByteArray> files = line.simplified().split(' ');
        if (files.size() > 1)
            m_file = expandHome(QString::fromLocal8Bit(files[1]));
        break;
    }
    if (m_file.isEmpty() || m_file == QStringLiteral("/dev/null")) {
        finish(false, QStringLiteral("ssh keeps no known_hosts file for %1").arg(m_destination));
        return;
    }
    run(QStringLiteral("ssh-keyscan"),
        {QStringLiteral("-p"), QString::number(m_key.port), QStringLiteral("--"), m_key.host},
        &KnownHostAdder::tookKeys);
}

void KnownHostAdder::tookKeys(const QByteArray& output)
{
    // Only the key whose fingerprint the operator accepted goes in: another
    // one answering now is not trusted.
    QByteArray accepted;
    for (const QByteArray& line : output.split('\n')) {
        if (fingerprintOf(line) == m_key.fingerprint) {
            accepted = line.trimmed() + '\n';
            break;
        }
    }
    if (accepted.isEmpty()) {
        finish(false, QStringLiteral("%1 port %2 no longer offers the key %3; nothing was added")
                          .arg(m_key.host)
                          .arg(m_key.port)
                          .arg(m_key.fingerprint));
        return;
    }
    const QFileInfo info(m_file);
    if (!info.dir().exists() && !QDir().mkpath(info.absolutePath())) {
        finish(false, QStringLiteral("cannot make the folder %1").arg(info.absolutePath()));
        return;
    }
    QFile file(m_file);
    const bool existed = file.exists();
    if (!file.open(QIODevice::Append) || file.write(accepted) != accepted.size()) {
        finish(false,
               QStringLiteral("cannot add the key to %1: %2").arg(m_file, file.errorString()));
        return;
    }
    if (!existed)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.close();
    finish(true, QStringLiteral("The key %1 of %2 was added to %3")
                     .arg(m_key.fingerprint, m_destination, m_file));
}

void KnownHostAdder::finish(bool ok, const QString& message)
{
    if (m_process) {
        QProcess* p = std::exchange(m_process, nullptr);
        p->disconnect(this);
        p->kill();
        p->deleteLater();
    }
    Q_EMIT finished(ok, message);
}
