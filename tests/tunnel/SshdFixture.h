#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real OpenSSH server on a free loopback port, run by the test as the
// current user: a host key and a client key made for it, and an ssh
// configuration that knows it. Its ssh configuration names three
// destinations: "jump" (the right key, the host key known), "refused" (a key
// the server does not take) and "stranger" (the host key unknown).
class SshdFixture
{
public:
    SshdFixture();
    ~SshdFixture();

    // Starts sshd and waits until it accepts connections; false with why().
    bool start();
    QString why() const { return m_why; }
    // The value of ORVANITE_SSH_COMMAND that uses the configuration.
    QString sshCommand() const;
    QString folder() const { return m_dir.path(); }
    quint16 port() const { return m_port; }

private:
    bool run(const QString& program, const QStringList& arguments);
    bool write(const QString& name, const QByteArray& text);

    QTemporaryDir m_dir;
    QProcess m_sshd;
    quint16 m_port = 0;
    QString m_why;
};
