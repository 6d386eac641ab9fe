#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs program to its end with the event loop running, so that a host in this
// process keeps answering; its exit code (-1 when it did not start, crashed or
// ran past 30 s). output, when given, receives its standard output and then
// its standard error.
int runProgram(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);
// One of the project's programs, as built beside the tests.
QString projectProgram(const char* name);
// Terminates a daemon a test started (killed when it does not go).
void stopProcess(QProcess& process);

// A real service the test starts on loopback or a bus of its own, in a folder
// of its own, and stops when it goes. start() waits until it answers, or
// says why() not.
class ServiceFixture
{
public:
    QString why() const { return m_why; }

protected:
    ServiceFixture() = default;
    ~ServiceFixture() = default;
    bool fail(const QString& why);
    // Runs a helper program; false with why() when it fails.
    bool run(const QString& program, const QStringList& arguments);
    static void stop(QProcess& process) { stopProcess(process); }

    QTemporaryDir m_dir;
    QString m_why;
};

// A real OpenSSH server on a free loopback port, run as the current user: a
// host key and a client key made for it, and an ssh configuration naming three
// destinations: "jump" (the right key, the host key known), "refused" (a key
// the server does not take) and "stranger" (the host key unknown).
class SshdFixture : public ServiceFixture
{
public:
    ~SshdFixture() { stop(m_sshd); }
    bool start();
    // The value of ORVANITE_SSH_COMMAND that uses the configuration.
    QString sshCommand() const;
    // The folder of its keys and configurations.
    QString folder() const { return m_dir.path(); }
    // The logins the server accepted so far.
    int logins();

private:
    bool write(const QString& name, const QByteArray& text);

    QProcess m_sshd;
    QByteArray m_log; // what sshd wrote (its log goes to standard error)
    quint16 m_port = 0;
};

// A real Secret Service (gnome-keyring-daemon, its login keyring unlocked) on
// a D-Bus session bus of its own; once started, this process's
// DBUS_SESSION_BUS_ADDRESS names that bus.
class SecretServiceFixture : public ServiceFixture
{
public:
    ~SecretServiceFixture()
    {
        stop(m_keyring);
        stop(m_bus);
    }
    bool start();

private:
    QProcess m_bus;
    QProcess m_keyring;
};
