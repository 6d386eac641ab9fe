// The Configure dialog on its own: layout, tab order, and the rules on what
// the operator types (upper case, length limits, single-byte text) that
// never touch text the program puts into a box.

#include "config/ConnectionSettings.h"
#include "console/dialogs/ConfigureDialog.h"
#include "core/AppErrors.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

template <typename T = QLineEdit> T* child(const QDialog& dialog, const char* name)
{
    return dialog.findChild<T*>(QString::fromLatin1(name));
}

struct BoxValues
{
    QString host, port, user, userPassword, group, groupPassword, account, accountPassword,
        interval;
    bool operator==(const BoxValues&) const = default;
};

BoxValues boxes(const ConfigureDialog& d)
{
    return {child(d, "hostAddressEdit")->text(), child(d, "portEdit")->text(),
            child(d, "userEdit")->text(),        child(d, "userPasswordEdit")->text(),
            child(d, "groupEdit")->text(),       child(d, "groupPasswordEdit")->text(),
            child(d, "accountEdit")->text(),     child(d, "accountPasswordEdit")->text(),
            child(d, "intervalEdit")->text()};
}

void setBoxes(ConfigureDialog& d, const BoxValues& v)
{
    child(d, "hostAddressEdit")->setText(v.host);
    child(d, "portEdit")->setText(v.port);
    child(d, "userEdit")->setText(v.user);
    child(d, "userPasswordEdit")->setText(v.userPassword);
    child(d, "groupEdit")->setText(v.group);
    child(d, "groupPasswordEdit")->setText(v.groupPassword);
    child(d, "accountEdit")->setText(v.account);
    child(d, "accountPasswordEdit")->setText(v.accountPassword);
    child(d, "intervalEdit")->setText(v.interval);
}

} // namespace

class TestConfigureDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void size()
    {
        ConfigureDialog dlg;
        QCOMPARE(dlg.size(), QSize(405, 325));
        QCOMPARE(dlg.windowTitle(), u"ConfigureDlg"_s);
    }

    void controls_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QRect>("labelGeometry");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<bool>("password");
        QTest::newRow("HostAddress")
            << u"hostAddressEdit"_s << QRect(80, 15, 266, 24) << u"Host Name:"_s
            << QRect(17, 24, 56, 13) << 0 << false << false;
        QTest::newRow("Port") << u"portEdit"_s << QRect(80, 40, 71, 24) << u"Port:"_s
                              << QRect(51, 48, 22, 13) << 0 << false << false;
        QTest::newRow("User") << u"userEdit"_s << QRect(80, 90, 71, 24) << u"User:"_s
                              << QRect(20, 95, 55, 13) << 8 << true << false;
        QTest::newRow("Account") << u"accountEdit"_s << QRect(80, 115, 71, 24) << u"Account:"_s
                                 << QRect(20, 120, 55, 13) << 8 << true << false;
        QTest::newRow("Group") << u"groupEdit"_s << QRect(80, 140, 71, 24) << u"Group:"_s
                               << QRect(20, 145, 55, 13) << 8 << true << false;
        QTest::newRow("JobName") << u"jobNameEdit"_s << QRect(80, 165, 71, 24) << u"Job Name:"_s
                                 << QRect(20, 170, 55, 13) << 16 << false << false;
        QTest::newRow("UP") << u"userPasswordEdit"_s << QRect(275, 90, 71, 24)
                            << u"User Password:"_s << QRect(170, 95, 100, 13) << 8 << true << true;
        QTest::newRow("AP") << u"accountPasswordEdit"_s << QRect(275, 115, 71, 24)
                            << u"Account Password:"_s << QRect(170, 120, 100, 13) << 8 << true
                            << true;
        QTest::newRow("GP") << u"groupPasswordEdit"_s << QRect(275, 140, 71, 24)
                            << u"Group Password:"_s << QRect(170, 145, 100, 13) << 8 << true
                            << true;
        QTest::newRow("edInterval")
            << u"intervalEdit"_s << QRect(275, 165, 71, 24) << u"Refresh Interval"_s
            << QRect(195, 170, 75, 13) << 16 << false << false;
        QTest::newRow("Security3000")
            << u"securityEdit"_s << QRect(80, 197, 265, 24) << u"Security/3000"_s
            << QRect(8, 202, 67, 13) << 16 << false << false;
    }

    void controls()
    {
        QFETCH(QString, box);
        QFETCH(QRect, geometry);
        QFETCH(QString, label);
        QFETCH(QRect, labelGeometry);
        QFETCH(int, limit);
        QFETCH(bool, upper);
        QFETCH(bool, password);
        ConfigureDialog dlg;
        auto* edit = dlg.findChild<QLineEdit*>(box);
        QVERIFY(edit);
        QCOMPARE(edit->geometry(), geometry);
        QCOMPARE(ConfigureDialog::typedLimit(edit), limit);
        QCOMPARE(ConfigureDialog::typedUpperCase(edit), upper);
        QCOMPARE(edit->echoMode() == QLineEdit::Password, password);
        QCOMPARE(edit->isEnabled(), box != u"securityEdit"_s);
        QLabel* caption = nullptr;
        for (QLabel* l : dlg.findChildren<QLabel*>())
            if (l->buddy() == edit)
                caption = l;
        QVERIFY(caption);
        QCOMPARE(caption->text(), label);
        // Right-aligned against its box at the design place; a caption wider
        // than the design width (a wider font) grows to the left only.
        QCOMPARE(caption->geometry().right(), labelGeometry.right());
        QCOMPARE(caption->geometry().top(), labelGeometry.top());
        QVERIFY(caption->geometry().width() >= labelGeometry.width());
        QVERIFY(caption->geometry().left() >= 0);
        QVERIFY(caption->fontMetrics().horizontalAdvance(caption->text()) <= caption->width());
        QVERIFY(caption->alignment() & Qt::AlignRight);
    }

    void buttons()
    {
        ConfigureDialog dlg;
        QCOMPARE(child<QPushButton>(dlg, "okButton")->text(), u"&Ok"_s);
        QCOMPARE(child<QPushButton>(dlg, "okButton")->geometry(), QRect(78, 239, 75, 25));
        QVERIFY(child<QPushButton>(dlg, "okButton")->isDefault());
        QCOMPARE(child<QPushButton>(dlg, "cancelButton")->text(), u"&Cancel"_s);
        QCOMPARE(child<QPushButton>(dlg, "cancelButton")->geometry(), QRect(171, 239, 75, 25));
        QCOMPARE(child<QPushButton>(dlg, "loadButton")->text(), u"&Load"_s);
        QCOMPARE(child<QPushButton>(dlg, "loadButton")->geometry(), QRect(264, 240, 81, 25));
    }

    void tabOrder()
    {
        ConfigureDialog dlg;
        const QStringList expected = {
            u"hostAddressEdit"_s,  u"securityEdit"_s,        u"portEdit"_s,
            u"userEdit"_s,         u"accountEdit"_s,         u"groupEdit"_s,
            u"userPasswordEdit"_s, u"accountPasswordEdit"_s, u"groupPasswordEdit"_s,
            u"jobNameEdit"_s,      u"intervalEdit"_s,        u"okButton"_s,
            u"cancelButton"_s,     u"loadButton"_s};
        QStringList seen;
        QWidget* w = child(dlg, "hostAddressEdit");
        for (int guard = 0; guard < 100 && seen.size() < expected.size(); ++guard) {
            if (w->focusPolicy() & Qt::TabFocus)
                seen.append(w->objectName());
            w = w->nextInFocusChain();
        }
        QCOMPARE(seen, expected);
    }

    void typing_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("user upper case, cut at 8")
            << u"userEdit"_s << u"manager12"_s << u"MANAGER1"_s;
        QTest::newRow("password upper case") << u"userPasswordEdit"_s << u"secret"_s << u"SECRET"_s;
        QTest::newRow("group") << u"groupEdit"_s << u"pub"_s << u"PUB"_s;
        QTest::newRow("Latin-1 letters too")
            << u"accountEdit"_s << u"sys\u00e9"_s << u"SYS\u00c9"_s;
        QTest::newRow("no single-byte form: dropped")
            << u"accountEdit"_s << u"s\u20acy\u0100s"_s << u"SYS"_s;
        QTest::newRow("host keeps case, no limit")
            << u"hostAddressEdit"_s << u"host.example.com.long.name"_s
            << u"host.example.com.long.name"_s;
        QTest::newRow("job name keeps case, cut at 16")
            << u"jobNameEdit"_s << u"abcdefghijklmnopqrs"_s << u"abcdefghijklmnop"_s;
        QTest::newRow("interval cut at 16")
            << u"intervalEdit"_s << u"12345678901234567890"_s << u"1234567890123456"_s;
        QTest::newRow("port") << u"portEdit"_s << u"30000"_s << u"30000"_s;
    }

    void typing()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        ConfigureDialog dlg;
        auto* edit = dlg.findChild<QLineEdit*>(box);
        edit->clear();
        // Key events carrying each character, as a keyboard (or an input
        // method) delivers them, also for characters outside Latin-1.
        for (QChar c : typed) {
            QTest::sendKeyEvent(QTest::Press, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        QCOMPARE(edit->text(), shown);
    }

    void programTextIsNotCut()
    {
        ConfigureDialog dlg;
        child(dlg, "userEdit")->setText(u"longername12"_s);
        QCOMPARE(child(dlg, "userEdit")->text(), u"longername12"_s); // neither cut nor upper-cased
        child(dlg, "userEdit")->end(false);
        QTest::keyClicks(child(dlg, "userEdit"), u"x"_s);
        QCOMPARE(child(dlg, "userEdit")->text(), u"longername12"_s); // no room for typing
        QTest::keyClick(child(dlg, "userEdit"), Qt::Key_Backspace);
        QCOMPARE(child(dlg, "userEdit")->text(), u"longername1"_s); // deleting still works
    }

    void pasteIsCutToTheRoomLeft()
    {
        ConfigureDialog dlg;
        child(dlg, "userEdit")->setText(u"MANA"_s);
        child(dlg, "userEdit")->setCursorPosition(2);
        QApplication::clipboard()->setText(u"abcdefgh"_s);
        if (QApplication::clipboard()->text() != u"abcdefgh"_s)
            QSKIP("no clipboard on this platform");
        child(dlg, "userEdit")->paste();
        QCOMPARE(child(dlg, "userEdit")->text(), u"MAABCDNA"_s);
        QCOMPARE(child(dlg, "userEdit")->cursorPosition(), 6);
    }

    // Load asks the window to load a file; the window ends the dialog (or
    // keeps it open after an error).
    void loadButtonAsksTheWindow()
    {
        ConfigureDialog dlg;
        QSignalSpy load(&dlg, &ConfigureDialog::loadRequested);
        dlg.setResult(QDialog::Rejected);
        child<QPushButton>(dlg, "loadButton")->click();
        QCOMPARE(load.count(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    // The boxes show the settings; taking them back reads every box.
    void roundTrip()
    {
        ConfigureDialog dlg;
        ConnectionSettings s;
        s.HostAddress = "east";
        s.Port = 4001;
        s.User = "U";
        s.UserPassword = "UPW";
        s.Group = "G";
        s.GroupPassword = "GPW";
        s.Account = "A";
        s.AccountPassword = "APW";
        s.LogonExtra = "EXTRA";
        s.RefreshInterval = 17000;
        dlg.showSettings(s);
        QCOMPARE(boxes(dlg), (BoxValues{u"east"_s, u"4001"_s, u"U"_s, u"UPW"_s, u"G"_s, u"GPW"_s,
                                        u"A"_s, u"APW"_s, u"17"_s}));
        setBoxes(dlg, {u"west"_s, u"0"_s, u"U2"_s, u"UP2"_s, u"G2"_s, u"GP2"_s, u"A2"_s, u"AP2"_s,
                       u"33"_s});
        dlg.takeSettings(s);
        QCOMPARE(s.HostAddress, QByteArray("west"));
        QCOMPARE(s.Port, quint16(0)); // port 0 is accepted
        QCOMPARE(s.User, QByteArray("U2"));
        QCOMPARE(s.UserPassword, QByteArray("UP2"));
        QCOMPARE(s.Group, QByteArray("G2"));
        QCOMPARE(s.GroupPassword, QByteArray("GP2"));
        QCOMPARE(s.Account, QByteArray("A2"));
        QCOMPARE(s.AccountPassword, QByteArray("AP2"));
        QCOMPARE(s.LogonExtra, QByteArray("EXTRA")); // no box edits it
        QCOMPARE(s.RefreshInterval, 33000);
    }

    void valuesTakenBeforeAnError_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("hostTaken");
        QTest::addColumn<int>("refreshInterval");
        QTest::newRow("port too big")
            << u"70000"_s << u"30"_s << u"Range check error"_s << false << 9000;
        QTest::newRow("port negative")
            << u"-1"_s << u"30"_s << u"Range check error"_s << false << 9000;
        QTest::newRow("port not a number")
            << u"30 000"_s << u"30"_s << u"'30 000' is not a valid integer value"_s << false
            << 9000;
        QTest::newRow("port empty")
            << QString() << u"30"_s << u"'' is not a valid integer value"_s << false << 9000;
        QTest::newRow("interval not a number")
            << u"30001"_s << u"ten"_s << u"'ten' is not a valid integer value"_s << true << 9000;
        QTest::newRow("interval 3 becomes 5") << u"30001"_s << u"3"_s << QString() << true << 5000;
        QTest::newRow("interval 75 becomes 60")
            << u"30001"_s << u"75"_s << QString() << true << 60000;
    }

    void valuesTakenBeforeAnError()
    {
        QFETCH(QString, port);
        QFETCH(QString, interval);
        QFETCH(QString, message);
        QFETCH(bool, hostTaken);
        QFETCH(int, refreshInterval);
        ConfigureDialog dlg;
        ConnectionSettings s;
        s.HostAddress = "old";
        s.RefreshInterval = 9000;
        setBoxes(dlg,
                 {u"new"_s, port, u"U"_s, u"UP"_s, u"G"_s, u"GP"_s, u"A"_s, u"AP"_s, interval});
        QString thrown;
        try {
            dlg.takeSettings(s);
        } catch (const EAppError& e) {
            thrown = e.message();
        }
        QCOMPARE(thrown, message);
        QCOMPARE(s.User, QByteArray("U"));
        QCOMPARE(s.UserPassword, QByteArray("UP"));
        QCOMPARE(s.Group, QByteArray("G"));
        QCOMPARE(s.GroupPassword, QByteArray("GP"));
        QCOMPARE(s.Account, QByteArray("A"));
        QCOMPARE(s.AccountPassword, QByteArray("AP"));
        QCOMPARE(s.HostAddress, hostTaken ? QByteArray("new") : QByteArray("old"));
        QCOMPARE(s.RefreshInterval, refreshInterval);
    }

    void clampedIntervalShownNextTime()
    {
        ConfigureDialog dlg;
        ConnectionSettings s;
        child(dlg, "intervalEdit")->setText(u"3"_s);
        child(dlg, "portEdit")->setText(u"1"_s);
        dlg.takeSettings(s);
        dlg.showSettings(s);
        QCOMPARE(child(dlg, "intervalEdit")->text(), u"5"_s);
    }
};

QTEST_MAIN(TestConfigureDialog)
#include "tst_configuredialog.moc"
