// Logon passwords in the desktop keyring, against a real Secret Service
// (gnome-keyring-daemon on a D-Bus session bus of the test's own): with the
// preference on a save leaves the file without passwords, and a load (the
// window's and orvanite-ctl's) logs on with the keyring's; with no service
// the operator is told and the file keeps them.
#include "ConsoleFixture.h"
#include "support/ServiceFixtures.h"

#include "config/ConfigFile.h"
#include "console/HostController.h"
#include "session/HostSession.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

private:
    QTemporaryDir dir;
    SecretServiceFixture secrets;
    std::unique_ptr<ConsoleFixture> f;
};

void TestKeyring::initTestCase()
{
    QVERIFY(dir.isValid());
    // Nothing answers at this address.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(dir.filePath(u"no-bus"_s)));
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
        QVERIFY2(secrets.start(), qPrintable(secrets.why()));
    f->prompts.onDialog = [](QDialog& d) {
        auto* box = d.findChild<QCheckBox*>(u"keyringPasswordsBox"_s);
        if (!box)
            return int(QDialog::Rejected);
        box->setChecked(true);
        return int(QDialog::Accepted);
    };
    QVERIFY(f->run("preferencesAction"));
    f->prompts.onDialog = {};
    ConnectionSettings s = f->host()->settings();
    s.UserPassword = "UPW";
    s.AccountPassword = "APW";
    f->host()->setSettings(s);
    const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".hcf"_s);
    f->prompts.saveAnswer = path;
    QVERIFY(f->run("saveAction"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 30000);
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

    const QString ctl = projectProgram("orvanite-ctl");
    QByteArray shown;
    QCOMPARE(runProgram(ctl, {u"config"_s, u"show"_s, path}, &shown), 0);
    QVERIFY2(shown.contains("user_password_in     " + where + '\n'), shown.constData());
    QVERIFY2(shown.contains("account_password_in  " + where + '\n'), shown.constData());
    QVERIFY2(shown.contains("group_password_in    empty\n"), shown.constData());
    if (!service)
        return;
    QByteArray listed;
    const int code = runProgram(ctl, {u"--config"_s, path, u"listeners"_s}, &listed);
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
