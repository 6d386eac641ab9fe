// Logon passwords in the desktop keyring, against a real Secret Service
// (gnome-keyring-daemon on a D-Bus session bus of the test's own): with the
// preference on a save leaves the file without passwords, and a load (the
// window's and orvanite-ctl's) logs on with the keyring's; with no service
// the operator is told and the file keeps them.
#include "ConsoleFixture.h"

#include "config/ConfigFile.h"
#include "console/HostController.h"
#include "session/HostSession.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestKeyring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    // In this order: the first runs before there is any bus.
    void noServiceKeepsThePasswordsInTheFile();
    void keyringHoldsThePasswords();

private:
    bool startSecretService(QString& why);
    void stopProcess(QProcess& p);
    // Turns the preference on through the Preferences dialog.
    bool chooseKeyring();
    // Runs orvanite-ctl with arguments; its standard output.
    QByteArray ctl(const QStringList& arguments, int* exitCode);
    ConnectionSettings withPasswords() const;

    QTemporaryDir dir;
    QProcess bus;
    QProcess keyring;
    QByteArray busAddress;
    std::unique_ptr<ConsoleFixture> f;
};

void TestKeyring::initTestCase()
{
    QVERIFY(dir.isValid());
    // Nothing answers at this address.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(dir.filePath(u"no-bus"_s)));
}

void TestKeyring::cleanupTestCase()
{
    stopProcess(keyring);
    stopProcess(bus);
}

void TestKeyring::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->sim.Credentials = {"MANAGER", "UPW", "", "", "SYS", "APW", ""};
    f->create();
}

void TestKeyring::cleanup()
{
    f.reset();
}

void TestKeyring::stopProcess(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000))
        p.kill();
    p.waitForFinished(5000);
}

bool TestKeyring::startSecretService(QString& why)
{
    if (QStandardPaths::findExecutable(u"gnome-keyring-daemon"_s).isEmpty() ||
        QStandardPaths::findExecutable(u"dbus-daemon"_s).isEmpty()) {
        why = u"gnome-keyring-daemon or dbus-daemon is not installed (scripts/setup.sh)"_s;
        return false;
    }
    bus.start(u"dbus-daemon"_s,
              {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s, u"--nopidfile"_s});
    if (!bus.waitForStarted() || !bus.waitForReadyRead(10000)) {
        why = u"dbus-daemon did not start"_s;
        return false;
    }
    busAddress = bus.readLine().trimmed();

    QDir(dir.path()).mkpath(u"home/data"_s);
    QDir(dir.path()).mkpath(u"home/run"_s);
    QFile::setPermissions(dir.filePath(u"home/run"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, QString::fromLocal8Bit(busAddress));
    env.insert(u"HOME"_s, dir.filePath(u"home"_s));
    env.insert(u"XDG_DATA_HOME"_s, dir.filePath(u"home/data"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, dir.filePath(u"home/run"_s));
    env.remove(u"DISPLAY"_s);
    keyring.setProcessEnvironment(env);
    keyring.setProcessChannelMode(QProcess::SeparateChannels);
    keyring.start(u"gnome-keyring-daemon"_s,
                  {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
    if (!keyring.waitForStarted()) {
        why = keyring.errorString();
        return false;
    }
    // The login keyring is made with this password and left unlocked.
    keyring.write("test-keyring");
    keyring.closeWriteChannel();
    // Ready once it owns the service's name on the bus (asked without
    // starting anything).
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && keyring.state() == QProcess::Running) {
        QProcess ask;
        ask.setProcessEnvironment(env);
        ask.start(u"dbus-send"_s,
                  {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.DBus"_s,
                   u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus.NameHasOwner"_s,
                   u"string:org.freedesktop.secrets"_s});
        if (ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true"))
            break;
        QTest::qWait(100);
    }
    if (keyring.state() != QProcess::Running || deadline.hasExpired()) {
        why = u"gnome-keyring-daemon did not start: "_s +
              QString::fromLocal8Bit(keyring.readAllStandardError());
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress);
    return true;
}

bool TestKeyring::chooseKeyring()
{
    f->prompts.onDialog = [](QDialog& d) {
        auto* box = d.findChild<QCheckBox*>(u"keyringPasswordsBox"_s);
        if (!box)
            return int(QDialog::Rejected);
        box->setChecked(true);
        return int(QDialog::Accepted);
    };
    const bool ran = f->run("preferencesAction");
    f->prompts.onDialog = {};
    return ran;
}

ConnectionSettings TestKeyring::withPasswords() const
{
    ConnectionSettings s = f->host()->settings();
    s.UserPassword = "UPW";
    s.AccountPassword = "APW";
    return s;
}

QByteArray TestKeyring::ctl(const QStringList& arguments, int* exitCode)
{
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-ctl"_s, arguments);
    if (!done.wait(30000))
        return {};
    *exitCode = p.exitCode();
    return p.readAllStandardOutput() + p.readAllStandardError();
}

void TestKeyring::noServiceKeepsThePasswordsInTheFile()
{
    QVERIFY(chooseKeyring());
    f->host()->setSettings(withPasswords());
    const QString path = dir.filePath(u"nobus.hcf"_s);
    f->prompts.saveAnswer = path;
    QVERIFY(f->run("saveAction"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);
    QCOMPARE(f->prompts.messages.size(), 1);
    QVERIFY2(f->prompts.messages.first().contains(u"could not be put in the desktop keyring"_s),
             qPrintable(f->prompts.messages.first()));
    ConnectionSettings back;
    QVERIFY(loadConfig(path, back).ok());
    QCOMPARE(back.UserPassword, "UPW");
    QCOMPARE(back.AccountPassword, "APW");

    int code = -1;
    const QByteArray shown = ctl({u"config"_s, u"show"_s, path}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(shown.contains("user_password_in     in the file\n"), shown.constData());
    QVERIFY2(shown.contains("group_password_in    empty\n"), shown.constData());
}

void TestKeyring::keyringHoldsThePasswords()
{
    QString why;
    QVERIFY2(startSecretService(why), qPrintable(why));
    QVERIFY(chooseKeyring());
    f->host()->setSettings(withPasswords());
    const QString path = dir.filePath(u"keyring.hcf"_s);
    f->prompts.saveAnswer = path;
    QVERIFY(f->run("saveAction"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);
    QCOMPARE(f->prompts.messages, QStringList());
    ConnectionSettings back;
    QVERIFY(loadConfig(path, back).ok());
    QCOMPARE(back.UserPassword, "");
    QCOMPARE(back.AccountPassword, "");
    QCOMPARE(back.User, "MANAGER");

    int code = -1;
    const QByteArray shown = ctl({u"config"_s, u"show"_s, path}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(shown.contains("user_password_in     in the keyring\n"), shown.constData());
    QVERIFY2(shown.contains("account_password_in  in the keyring\n"), shown.constData());
    QVERIFY2(shown.contains("group_password_in    empty\n"), shown.constData());
    const QByteArray listed = ctl({u"--config"_s, path, u"listeners"_s}, &code);
    QVERIFY2(code == 0, listed.constData());

    // The window loads the file and logs on with the keyring's passwords.
    ConnectionSettings none = f->host()->settings();
    none.UserPassword.clear();
    none.AccountPassword.clear();
    f->host()->setSettings(none);
    f->prompts.openAnswer = path;
    const qsizetype mark = f->mark();
    f->run("loadAction");
    QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn, 30000);
    QCOMPARE(f->prompts.messages, QStringList());
    const QByteArray logon = f->receivedSince(mark);
    QVERIFY(logon.contains("UPW") && logon.contains("APW"));
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
