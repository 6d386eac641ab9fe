// The Configure dialog on its own: layout, tab order, and the rules on what
// the operator types (upper case, length limits, single-byte text) that
// never touch text the program puts into a box.

#include "Configur.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestConfigureDlg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void size()
    {
        TConfigureDlg dlg;
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
            << u"HostAddress"_s << QRect(80, 15, 266, 24) << u"Host Name:"_s
            << QRect(17, 24, 56, 13) << 0 << false << false;
        QTest::newRow("Port") << u"Port"_s << QRect(80, 40, 71, 24) << u"Port:"_s
                              << QRect(51, 48, 22, 13) << 0 << false << false;
        QTest::newRow("User") << u"User"_s << QRect(80, 90, 71, 24) << u"User:"_s
                              << QRect(20, 95, 55, 13) << 8 << true << false;
        QTest::newRow("Account") << u"Account"_s << QRect(80, 115, 71, 24) << u"Account:"_s
                                 << QRect(20, 120, 55, 13) << 8 << true << false;
        QTest::newRow("Group") << u"Group"_s << QRect(80, 140, 71, 24) << u"Group:"_s
                               << QRect(20, 145, 55, 13) << 8 << true << false;
        QTest::newRow("JobName") << u"JobName"_s << QRect(80, 165, 71, 24) << u"Job Name:"_s
                                 << QRect(20, 170, 55, 13) << 16 << false << false;
        QTest::newRow("UP") << u"UP"_s << QRect(275, 90, 71, 24) << u"User Password:"_s
                            << QRect(170, 95, 100, 13) << 8 << true << true;
        QTest::newRow("AP") << u"AP"_s << QRect(275, 115, 71, 24) << u"Account Password:"_s
                            << QRect(170, 120, 100, 13) << 8 << true << true;
        QTest::newRow("GP") << u"GP"_s << QRect(275, 140, 71, 24) << u"Group Password:"_s
                            << QRect(170, 145, 100, 13) << 8 << true << true;
        QTest::newRow("edInterval")
            << u"edInterval"_s << QRect(275, 165, 71, 24) << u"Refresh Interval"_s
            << QRect(195, 170, 75, 13) << 16 << false << false;
        QTest::newRow("Security3000")
            << u"Security3000"_s << QRect(80, 197, 265, 24) << u"Security/3000"_s
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
        TConfigureDlg dlg;
        auto* edit = dlg.findChild<QLineEdit*>(box);
        QVERIFY(edit);
        QCOMPARE(edit->geometry(), geometry);
        QCOMPARE(TConfigureDlg::TypedLimit(edit), limit);
        QCOMPARE(TConfigureDlg::TypedUpperCase(edit), upper);
        QCOMPARE(edit->echoMode() == QLineEdit::Password, password);
        QCOMPARE(edit->isEnabled(), box != u"Security3000"_s);
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
        TConfigureDlg dlg;
        QCOMPARE(dlg.OKBtn->text(), u"&Ok"_s);
        QCOMPARE(dlg.OKBtn->geometry(), QRect(78, 239, 75, 25));
        QVERIFY(dlg.OKBtn->isDefault());
        QCOMPARE(dlg.CancelBtn->text(), u"&Cancel"_s);
        QCOMPARE(dlg.CancelBtn->geometry(), QRect(171, 239, 75, 25));
        QCOMPARE(dlg.LoadBtn->text(), u"&Load"_s);
        QCOMPARE(dlg.LoadBtn->geometry(), QRect(264, 240, 81, 25));
    }

    void tabOrder()
    {
        TConfigureDlg dlg;
        const QStringList expected = {
            u"HostAddress"_s, u"Security3000"_s, u"Port"_s,      u"User"_s,   u"Account"_s,
            u"Group"_s,       u"UP"_s,           u"AP"_s,        u"GP"_s,     u"JobName"_s,
            u"edInterval"_s,  u"OKBtn"_s,        u"CancelBtn"_s, u"LoadBtn"_s};
        QStringList seen;
        QWidget* w = dlg.HostAddress;
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
        QTest::newRow("user upper case, cut at 8") << u"User"_s << u"manager12"_s << u"MANAGER1"_s;
        QTest::newRow("password upper case") << u"UP"_s << u"secret"_s << u"SECRET"_s;
        QTest::newRow("group") << u"Group"_s << u"pub"_s << u"PUB"_s;
        QTest::newRow("Latin-1 letters too") << u"Account"_s << u"sys\u00e9"_s << u"SYS\u00c9"_s;
        QTest::newRow("no single-byte form: dropped")
            << u"Account"_s << u"s\u20acy\u0100s"_s << u"SYS"_s;
        QTest::newRow("host keeps case, no limit")
            << u"HostAddress"_s << u"host.example.com.long.name"_s
            << u"host.example.com.long.name"_s;
        QTest::newRow("job name keeps case, cut at 16")
            << u"JobName"_s << u"abcdefghijklmnopqrs"_s << u"abcdefghijklmnop"_s;
        QTest::newRow("interval cut at 16")
            << u"edInterval"_s << u"12345678901234567890"_s << u"1234567890123456"_s;
        QTest::newRow("port") << u"Port"_s << u"30000"_s << u"30000"_s;
    }

    void typing()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TConfigureDlg dlg;
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
        TConfigureDlg dlg;
        dlg.User->setText(u"longername12"_s);
        QCOMPARE(dlg.User->text(), u"longername12"_s); // neither cut nor upper-cased
        dlg.User->end(false);
        QTest::keyClicks(dlg.User, u"x"_s);
        QCOMPARE(dlg.User->text(), u"longername12"_s); // no room for typing
        QTest::keyClick(dlg.User, Qt::Key_Backspace);
        QCOMPARE(dlg.User->text(), u"longername1"_s); // deleting still works
    }

    void pasteIsCutToTheRoomLeft()
    {
        TConfigureDlg dlg;
        dlg.User->setText(u"MANA"_s);
        dlg.User->setCursorPosition(2);
        QApplication::clipboard()->setText(u"abcdefgh"_s);
        if (QApplication::clipboard()->text() != u"abcdefgh"_s)
            QSKIP("no clipboard on this platform");
        dlg.User->paste();
        QCOMPARE(dlg.User->text(), u"MAABCDNA"_s);
        QCOMPARE(dlg.User->cursorPosition(), 6);
    }

    void loadButton_data()
    {
        QTest::addColumn<int>("hook"); // 0 none, 1 succeeds, 2 fails
        QTest::addColumn<bool>("accepted");
        QTest::newRow("no main window") << 0 << true;
        QTest::newRow("loaded or file choice cancelled") << 1 << true;
        QTest::newRow("load failed: stays open") << 2 << false;
    }

    void loadButton()
    {
        QFETCH(int, hook);
        QFETCH(bool, accepted);
        TConfigureDlg dlg;
        QList<int> modes;
        if (hook)
            dlg.OpenConfigFile = [&modes, hook](int mode) {
                modes.append(mode);
                return hook == 1;
            };
        dlg.setResult(QDialog::Rejected);
        dlg.LoadBtn->click();
        QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
        QCOMPARE(modes, hook ? QList<int>{2} : QList<int>{});
    }
};

QTEST_MAIN(TestConfigureDlg)
#include "tst_ConfigureDlg.moc"
