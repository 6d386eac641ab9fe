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

// The boxes that hold settings, in the order of the lists below.
const char* const kBoxes[] = {
    "hostAddressEdit", "portEdit",          "userEdit",    "userPasswordEdit",
    "groupEdit",       "groupPasswordEdit", "accountEdit", "accountPasswordEdit",
    "intervalEdit"};

QStringList boxes(const ConfigureDialog& d)
{
    QStringList texts;
    for (const char* name : kBoxes)
        texts.append(child(d, name)->text());
    return texts;
}

void setBoxes(ConfigureDialog& d, const QStringList& texts)
{
    for (int i = 0; i < texts.size(); ++i)
        child(d, kBoxes[i])->setText(texts[i]);
}

} // namespace

class TestConfigureDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void frameButtonsAndTabOrder()
    {
        ConfigureDialog dlg;
        QCOMPARE(dlg.size(), QSize(405, 325));
        QCOMPARE(dlg.windowTitle(), u"ConfigureDlg"_s);
        QCOMPARE(child<QPushButton>(dlg, "okButton")->text(), u"&Ok"_s);
        QCOMPARE(child<QPushButton>(dlg, "okButton")->geometry(), QRect(78, 239, 75, 25));
        QCOMPARE(child<QPushButton>(dlg, "cancelButton")->text(), u"&Cancel"_s);
        QCOMPARE(child<QPushButton>(dlg, "cancelButton")->geometry(), QRect(171, 239, 75, 25));
        QCOMPARE(child<QPushButton>(dlg, "loadButton")->text(), u"&Load"_s);
        QCOMPARE(child<QPushButton>(dlg, "loadButton")->geometry(), QRect(264, 240, 81, 25));
        QVERIFY(child<QPushButton>(dlg, "okButton")->isDefault());

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

        // Load asks the window to load a file; the window ends the dialog (or
        // keeps it open after an error).
        QSignalSpy load(&dlg, &ConfigureDialog::loadRequested);
        dlg.setResult(QDialog::Rejected);
        child<QPushButton>(dlg, "loadButton")->click();
        QCOMPARE(load.count(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void controls_data()
    {
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QRect>("labelGeometry");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("upper");
        QTest::addColumn<bool>("password");
        const auto row = [](const char* box, QRect at, const char* label, QRect labelAt, int limit,
                            bool upper, bool password) {
            QTest::newRow(box) << at << QString::fromLatin1(label) << labelAt << limit << upper
                               << password;
        };
        row("hostAddressEdit", {80, 15, 266, 24}, "Host Name:", {17, 24, 56, 13}, 0, false, false);
        row("portEdit", {80, 40, 71, 24}, "Port:", {51, 48, 22, 13}, 0, false, false);
        row("userEdit", {80, 90, 71, 24}, "User:", {20, 95, 55, 13}, 8, true, false);
        row("accountEdit", {80, 115, 71, 24}, "Account:", {20, 120, 55, 13}, 8, true, false);
        row("groupEdit", {80, 140, 71, 24}, "Group:", {20, 145, 55, 13}, 8, true, false);
        row("jobNameEdit", {80, 165, 71, 24}, "Job Name:", {20, 170, 55, 13}, 16, false, false);
        row("userPasswordEdit", {275, 90, 71, 24}, "User Password:", {170, 95, 100, 13}, 8, true,
            true);
        row("accountPasswordEdit", {275, 115, 71, 24}, "Account Password:", {170, 120, 100, 13}, 8,
            true, true);
        row("groupPasswordEdit", {275, 140, 71, 24}, "Group Password:", {170, 145, 100, 13}, 8,
            true, true);
        row("intervalEdit", {275, 165, 71, 24}, "Refresh Interval", {195, 170, 75, 13}, 16, false,
            false);
        row("securityEdit", {80, 197, 265, 24}, "Security/3000", {8, 202, 67, 13}, 16, false,
            false);
    }

    void controls()
    {
        QFETCH(QRect, geometry);
        QFETCH(QString, label);
        QFETCH(QRect, labelGeometry);
        QFETCH(int, limit);
        QFETCH(bool, upper);
        QFETCH(bool, password);
        ConfigureDialog dlg;
        auto* edit = child(dlg, QTest::currentDataTag());
        QVERIFY(edit);
        QCOMPARE(edit->geometry(), geometry);
        QCOMPARE(ConfigureDialog::typedLimit(edit), limit);
        QCOMPARE(ConfigureDialog::typedUpperCase(edit), upper);
        QCOMPARE(edit->echoMode() == QLineEdit::Password, password);
        QCOMPARE(edit->isEnabled(), edit->objectName() != u"securityEdit"_s);
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

    void typing_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("user upper case, 8 kept") << u"userEdit"_s << u"manager1"_s << u"MANAGER1"_s;
        QTest::newRow("user cut at 8") << u"userEdit"_s << u"manager12"_s << u"MANAGER1"_s;
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
            << u"jobNameEdit"_s << u"abcdefghijklmnopq"_s << u"abcdefghijklmnop"_s;
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

    // Only typing is held to the limit: the program's text is kept whole
    // (and deletable), a paste is cut to the room left.
    void programTextAndPaste()
    {
        ConfigureDialog dlg;
        QLineEdit* user = child(dlg, "userEdit");
        user->setText(u"longername12"_s);
        QCOMPARE(user->text(), u"longername12"_s); // neither cut nor upper-cased
        user->end(false);
        QTest::keyClicks(user, u"x"_s);
        QCOMPARE(user->text(), u"longername12"_s); // no room for typing
        QTest::keyClick(user, Qt::Key_Backspace);
        QCOMPARE(user->text(), u"longername1"_s);

        user->setText(u"MANA"_s);
        user->setCursorPosition(2);
        QApplication::clipboard()->setText(u"abcdefgh"_s);
        if (QApplication::clipboard()->text() != u"abcdefgh"_s)
            QSKIP("no clipboard on this platform");
        user->paste();
        QCOMPARE(user->text(), u"MAABCDNA"_s);
        QCOMPARE(user->cursorPosition(), 6);
    }

    // The boxes show the settings they were taken from (the interval in seconds).
    void showSettings()
    {
        const QStringList typed = {u"east"_s, u"4001"_s, u"U"_s,   u"UPW"_s, u"G"_s,
                                   u"GPW"_s,  u"A"_s,    u"APW"_s, u"17"_s};
        ConfigureDialog first;
        setBoxes(first, typed);
        ConnectionSettings s;
        first.takeSettings(s);
        ConfigureDialog dlg;
        dlg.showSettings(s);
        QCOMPARE(boxes(dlg), typed);
    }

    // Taking the settings back reads every box; an error leaves the values
    // taken before it changed and the rest as they were.
    void takeSettings_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArrayList>("taken"); // host, port, interval in ms
        const QByteArrayList before{"old", "4001", "9000"};
        QTest::newRow("all read, port 0")
            << u"0"_s << u"33"_s << QString() << QByteArrayList{"new", "0", "33000"};
        QTest::newRow("port 65535")
            << u"65535"_s << u"33"_s << QString() << QByteArrayList{"new", "65535", "33000"};
        QTest::newRow("port 65536") << u"65536"_s << u"30"_s << u"Range check error"_s << before;
        QTest::newRow("port negative") << u"-1"_s << u"30"_s << u"Range check error"_s << before;
        QTest::newRow("port not a number")
            << u"30 000"_s << u"30"_s << u"'30 000' is not a valid integer value"_s << before;
        QTest::newRow("port empty")
            << QString() << u"30"_s << u"'' is not a valid integer value"_s << before;
        QTest::newRow("interval not a number")
            << u"30001"_s << u"ten"_s << u"'ten' is not a valid integer value"_s
            << QByteArrayList{"new", "30001", "9000"};
        QTest::newRow("interval 4 becomes 5")
            << u"30001"_s << u"4"_s << QString() << QByteArrayList{"new", "30001", "5000"};
        QTest::newRow("interval 5")
            << u"30001"_s << u"5"_s << QString() << QByteArrayList{"new", "30001", "5000"};
        QTest::newRow("interval 60")
            << u"30001"_s << u"60"_s << QString() << QByteArrayList{"new", "30001", "60000"};
        QTest::newRow("interval 61 becomes 60")
            << u"30001"_s << u"61"_s << QString() << QByteArrayList{"new", "30001", "60000"};
    }

    void takeSettings()
    {
        QFETCH(QString, port);
        QFETCH(QString, interval);
        QFETCH(QString, message);
        QFETCH(QByteArrayList, taken);
        ConfigureDialog dlg;
        ConnectionSettings s;
        s.HostAddress = "old";
        s.Port = 4001;
        s.RefreshInterval = 9000;
        s.LogonExtra = "EXTRA";
        setBoxes(dlg,
                 {u"new"_s, port, u"U"_s, u"UP"_s, u"G"_s, u"GP"_s, u"A"_s, u"AP"_s, interval});
        QString thrown;
        try {
            dlg.takeSettings(s);
        } catch (const EAppError& e) {
            thrown = e.message();
        }
        QCOMPARE(thrown, message);
        // No box edits the logon extra.
        const QByteArrayList got{s.HostAddress,
                                 QByteArray::number(s.Port),
                                 QByteArray::number(s.RefreshInterval),
                                 s.User,
                                 s.UserPassword,
                                 s.Group,
                                 s.GroupPassword,
                                 s.Account,
                                 s.AccountPassword,
                                 s.LogonExtra};
        QCOMPARE(got, (taken + QByteArrayList{"U", "UP", "G", "GP", "A", "AP", "EXTRA"}));
    }
};

QTEST_MAIN(TestConfigureDialog)
#include "tst_configuredialog.moc"
