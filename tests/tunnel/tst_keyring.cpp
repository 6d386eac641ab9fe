// Logon passwords in the desktop keyring, against a real Secret Service
// (gnome-keyring-daemon on a D-Bus session bus of the test's own): with the
// preference on a save leaves the file without passwords and the keyring
// holds them by host, port and user, so a renamed or copied file logs on with
// them; with no service the operator is told and the file keeps them. A host
// whose passwords are kept there is never logged on to without them: no bus,
// a locked keyring or a missing item end orvanite-ctl with 11, and the
// window asks for them.
#include "ConsoleFixture.h"
#include "support/ServiceFixtures.h"

#include "config/ConfigFile.h"
#include "console/HostController.h"
#include "keyring/KeyringIndex.h"
#include "session/HostSession.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <qt6keychain/keychain.h>

using namespace Qt::StringLiterals;

class TestKeyring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void passwordsGoWhereTheyCan_data();
    void passwordsGoWhereTheyCan();
    void noLogonWithoutThem_data();
    void noLogonWithoutThem();
    void windowAsksForThem_data();
    void windowAsksForThem();
    void entryOfAnEarlierVersionIsMoved();
    void lineTooLongStoresNothing();
    // Last: the keyring stays locked.
    void lockedKeyring();

private:
    // Saves the window's settings, with the user and account passwords, to
    // name with the keyring preference on; its path.
    // wait: until the file is there (the keyring answers first).
    QString saveWithKeyring(const QString& name, bool wait = true);
    // Runs orvanite-ctl; its exit status, output and error output in out.
    int ctl(const QStringList& arguments, QByteArray* out);
    // The logons the simulator got while orvanite-ctl ran.
    int ctlLogons(const QStringList& arguments, int* status, QByteArray* out);
    QByteArray noBus() const { return "unix:path=" + QFile::encodeName(dir.filePath(u"no-bus"_s)); }
    bool startSecrets() { return m_secretsUp || (m_secretsUp = secrets.start()); }
    QString hostLabel() const { return u"MANAGER@127.0.0.1:%1"_s.arg(f->sim.serverPort()); }

    QTemporaryDir dir;
    SecretServiceFixture secrets;
    bool m_secretsUp = false;
    std::unique_ptr<ConsoleFixture> f;
};

void TestKeyring::initTestCase()
{
    QVERIFY(dir.isValid());
    // The record of the hosts moved to the keyring, this test's own (before
    // any settings are read in this process; orvanite-ctl inherits it).
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
    qputenv("ORVANITE_KEYRING_UNLOCK_TIMEOUT", "2");
    // Nothing answers at this address.
    qputenv("DBUS_SESSION_BUS_ADDRESS", noBus());
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

QString TestKeyring::saveWithKeyring(const QString& name, bool wait)
{
    f->prompts.onDialog = [](QDialog& d) {
        auto* box = d.findChild<QCheckBox*>(u"keyringPasswordsBox"_s);
        if (!box)
            return int(QDialog::Rejected);
        box->setChecked(true);
        return int(QDialog::Accepted);
    };
    f->run("preferencesAction");
    f->prompts.onDialog = {};
    ConnectionSettings s = f->host()->settings();
    s.UserPassword = "UPW";
    s.AccountPassword = "APW";
    f->host()->setSettings(s);
    const QString path = dir.filePath(name);
    QFile::remove(path);
    f->prompts.saveAnswer = path;
    f->run("saveAction");
    // The caller checks that it is there.
    if (wait)
        (void)QTest::qWaitFor([&path] { return QFile::exists(path); }, 30000);
    return path;
}

int TestKeyring::ctl(const QStringList& arguments, QByteArray* out)
{
    return runProgram(projectProgram("orvanite-ctl"), arguments, out);
}

int TestKeyring::ctlLogons(const QStringList& arguments, int* status, QByteArray* out)
{
    QSignalSpy logons(&f->sim, &HostSim::logonReceived);
    *status = ctl(arguments, out);
    return int(logons.size());
}

void TestKeyring::passwordsGoWhereTheyCan_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<QByteArray>("kept");  // the file's user and account passwords
    QTest::addColumn<QByteArray>("where"); // where orvanite-ctl says they are
    // In this order: the first runs before there is any bus.
    QTest::newRow("no service") << false << QByteArray("UPW|APW") << QByteArray("in the file");
    QTest::newRow("keyring") << true << QByteArray("|") << QByteArray("in the keyring");
}

// The keyring chosen in the Preferences dialog, the settings are saved with
// their user and account passwords.
void TestKeyring::passwordsGoWhereTheyCan()
{
    QFETCH(bool, service);
    QFETCH(QByteArray, kept);
    QFETCH(QByteArray, where);
    if (service)
        QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    const QString path = saveWithKeyring(QString::fromLatin1(QTest::currentDataTag()) + u".hcf"_s);
    QVERIFY(QFile::exists(path));
    if (service) {
        QCOMPARE(f->prompts.messages, QStringList());
    } else {
        QCOMPARE(f->prompts.messages.size(), 1);
        QVERIFY2(f->prompts.messages.first().contains(u"could not be put in the desktop keyring"_s),
                 qPrintable(f->prompts.messages.first()));
    }
    ConnectionSettings back;
    QVERIFY(loadConfig(path, back).ok());
    QCOMPARE(back.UserPassword + '|' + back.AccountPassword, kept);
    QCOMPARE(back.User, "MANAGER");

    QByteArray shown;
    QCOMPARE(ctl({u"config"_s, u"show"_s, path}, &shown), 0);
    QVERIFY2(shown.contains("user_password_in     " + where + '\n'), shown.constData());
    QVERIFY2(shown.contains("account_password_in  " + where + '\n'), shown.constData());
    QVERIFY2(shown.contains("group_password_in    empty\n"), shown.constData());
    if (!service)
        return;

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

void TestKeyring::noLogonWithoutThem_data()
{
    QTest::addColumn<QString>("change"); // what happens to the file or the keyring after the save
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");  // in the error output
    QTest::addColumn<QByteArray>("shownHas"); // config show's user_password_in line
    QTest::newRow("as saved") << u"none"_s << 0 << QByteArray()
                              << QByteArray("user_password_in     in the keyring\n");
    QTest::newRow("renamed file") << u"rename"_s << 0 << QByteArray()
                                  << QByteArray("user_password_in     in the keyring\n");
    QTest::newRow("copied file") << u"copy"_s << 0 << QByteArray()
                                 << QByteArray("user_password_in     in the keyring\n");
    QTest::newRow("no session bus")
        << u"no bus"_s << 11 << QByteArray(": no D-Bus session bus at unix:path=")
        << QByteArray("user_password_in     in the keyring (not reachable: no D-Bus session bus");
    // The record says the group password was moved too; the keyring has none.
    QTest::newRow("item missing")
        << u"no item"_s << 11
        << QByteArray(
               "which cannot be read: the keyring holds no group password for MANAGER@127.0.0.1:")
        << QByteArray("user_password_in     in the keyring (not reachable: the keyring holds no "
                      "group password for MANAGER@127.0.0.1:");
}

// orvanite-ctl logs on with the keyring's passwords wherever the file is, and
// not at all when they cannot be read.
void TestKeyring::noLogonWithoutThem()
{
    QFETCH(QString, change);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, shownHas);
    QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    QString path = saveWithKeyring(u"saved.hcf"_s);
    QCOMPARE(f->prompts.messages, QStringList());
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (change == u"rename") {
        const QString renamed = dir.filePath(u"renamed.hcf"_s);
        QFile::remove(renamed);
        QVERIFY(QFile::rename(path, renamed));
        path = renamed;
    } else if (change == u"copy") {
        const QString copy = dir.filePath(u"copy.hcf"_s);
        QFile::remove(copy);
        QVERIFY(QFile::copy(path, copy));
        path = copy;
    } else if (change == u"no bus") {
        qputenv("DBUS_SESSION_BUS_ADDRESS", noBus());
    } else if (change == u"no item") {
        KeyringIndex::record(hostLabel(), {u"user:MANAGER"_s, u"group:"_s, u"account:SYS"_s});
    }

    int code = -1;
    QByteArray out;
    const int logons = ctlLogons({u"--config"_s, path, u"listeners"_s}, &code, &out);
    // The same host named twice: a list of many hosts.
    int manyCode = -1;
    QByteArray many;
    const int manyLogons =
        ctlLogons({u"--config"_s, path, u"--config"_s, path, u"listeners"_s}, &manyCode, &many);
    QByteArray shown;
    const int showCode = ctl({u"config"_s, u"show"_s, path}, &shown);
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    QVERIFY2(manyCode == status, many.constData());
    QCOMPARE(manyLogons, status == 0 ? 2 : 0);
    QVERIFY2(code == status, out.constData());
    QCOMPARE(logons, status == 0 ? 1 : 0);
    if (status == 0)
        QVERIFY2(out.contains("CNDSRVR"), out.constData());
    else
        QVERIFY2(out.contains(message), out.constData());
    QCOMPARE(showCode, 0);
    QVERIFY2(shown.contains(shownHas), shown.constData());
}

void TestKeyring::windowAsksForThem_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("answered"); // the passwords typed, or the dialog cancelled
    QTest::addColumn<bool>("remember");
    QTest::newRow("no bus, typed") << u"no bus"_s << true << false;
    QTest::newRow("no bus, cancelled") << u"no bus"_s << false << false;
    QTest::newRow("item missing, typed and remembered") << u"no item"_s << true << true;
}

// A host whose passwords the keyring cannot give: the window asks for them
// and logs on with what is typed, or not at all.
void TestKeyring::windowAsksForThem()
{
    QFETCH(QString, change);
    QFETCH(bool, answered);
    QFETCH(bool, remember);
    QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    const QString path = saveWithKeyring(u"asked.hcf"_s);
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (change == u"no bus")
        qputenv("DBUS_SESSION_BUS_ADDRESS", noBus());
    else
        KeyringIndex::record(hostLabel(), {u"user:MANAGER"_s, u"group:"_s, u"account:SYS"_s});

    QString reason;
    f->prompts.dialogs.push_back([&](QDialog& d) {
        reason = d.findChild<QLabel*>(u"passwordReason"_s)->text();
        if (!answered)
            return int(QDialog::Rejected);
        d.findChild<QLineEdit*>(u"userPasswordEdit"_s)->setText(u"UPW"_s);
        d.findChild<QLineEdit*>(u"accountPasswordEdit"_s)->setText(u"APW"_s);
        d.findChild<QCheckBox*>(u"rememberBox"_s)->setChecked(remember);
        return int(QDialog::Accepted);
    });
    QSignalSpy logons(&f->sim, &HostSim::logonReceived);
    f->prompts.openAnswer = path;
    f->run("loadAction");
    if (answered) {
        QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn,
                                  30000);
        QVERIFY(logons.first().first().toByteArray().contains("UPW"));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(f->closing(), 30000);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    QCOMPARE(logons.size(), answered ? 1 : 0);
    QVERIFY2(reason.startsWith(u"The passwords of MANAGER@127.0.0.1:%1 are kept in the desktop "
                               "keyring, which cannot be read: "_s.arg(f->sim.serverPort())),
             qPrintable(reason));
    QCOMPARE(f->prompts.messages, QStringList());
    if (!remember)
        return;
    // Put back, they serve the next logon.
    int code = -1;
    QByteArray out;
    QTRY_COMPARE_WITH_TIMEOUT(KeyringIndex::levels(hostLabel()),
                              QStringList({u"user:MANAGER"_s, u"account:SYS"_s}), 10000);
    QCOMPARE(ctlLogons({u"--config"_s, path, u"listeners"_s}, &code, &out), 1);
    QVERIFY2(code == 0, out.constData());
}

// An entry an earlier version kept under the file's path is read once and
// moved to the host's items; the old entry goes.
void TestKeyring::entryOfAnEarlierVersionIsMoved()
{
    QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    const QString path = dir.filePath(u"earlier.hcf"_s);
    ConnectionSettings s = simSettings(f->sim.serverPort());
    std::mt19937 rng(1);
    QVERIFY(saveConfig(path, s, rng).ok());
    {
        QKeychain::WritePasswordJob job(u"orvanite-console"_s);
        job.setAutoDelete(false);
        job.setInsecureFallback(false);
        job.setKey(path);
        job.setTextData(uR"({"account":"APW","group":"","user":"UPW"})"_s);
        QSignalSpy done(&job, &QKeychain::Job::finished);
        job.start();
        QVERIFY(done.wait(20000));
        QVERIFY2(job.error() == QKeychain::NoError, qPrintable(job.errorString()));
    }
    for (int run = 0; run < 2; ++run) {
        int code = -1;
        QByteArray out;
        QCOMPARE(ctlLogons({u"--config"_s, path, u"listeners"_s}, &code, &out), 1);
        QVERIFY2(code == 0, out.constData());
    }
    QCOMPARE(KeyringIndex::levels(hostLabel()), QStringList({u"user:MANAGER"_s, u"account:SYS"_s}));
    QKeychain::ReadPasswordJob old(u"orvanite-console"_s);
    old.setAutoDelete(false);
    old.setKey(path);
    QSignalSpy done(&old, &QKeychain::Job::finished);
    old.start();
    QVERIFY(done.wait(20000));
    QCOMPARE(old.error(), QKeychain::EntryNotFound);
}

// A save the file could not take puts nothing in the keyring either.
void TestKeyring::lineTooLongStoresNothing()
{
    QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    ConnectionSettings s = f->host()->settings();
    s.HostAddress = QByteArray(100000, 'h');
    f->host()->setSettings(s);
    const QString path = saveWithKeyring(u"long.hcf"_s, false);
    QCOMPARE(f->prompts.messages,
             QStringList{path + u": the first line is longer than 65536 bytes; this is not a "
                                u"configuration file"_s});
    QVERIFY(!QFile::exists(path));
    QCOMPARE(KeyringIndex::levels(
                 u"MANAGER@%1:%2"_s.arg(QString(100000, u'h')).arg(f->sim.serverPort())),
             QStringList());
}

// A locked keyring that nobody unlocks within the bound: no logon, exit 11
// and the reason.
void TestKeyring::lockedKeyring()
{
    QVERIFY2(startSecrets(), qPrintable(secrets.why()));
    const QString path = saveWithKeyring(u"locked.hcf"_s);
    QCOMPARE(f->prompts.messages, QStringList());
    QByteArray reply;
    QCOMPARE(runProgram(u"dbus-send"_s,
                        {u"--session"_s, u"--print-reply"_s, u"--dest=org.freedesktop.secrets"_s,
                         u"/org/freedesktop/secrets"_s, u"org.freedesktop.Secret.Service.Lock"_s,
                         u"array:objpath:/org/freedesktop/secrets/collection/login"_s},
                        &reply),
             0);
    int code = -1;
    QByteArray out;
    QCOMPARE(ctlLogons({u"--config"_s, path, u"listeners"_s}, &code, &out), 0);
    QVERIFY2(code == 11, out.constData());
    QVERIFY2(out.contains("which cannot be read: the keyring is locked"), out.constData());
}

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
