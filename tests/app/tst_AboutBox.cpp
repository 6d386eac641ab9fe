// The About box as splash and from Help: its countdown, its closing keys,
// its layout, and a box opened again getting its full countdown.

#include "About.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAboutBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout()
    {
        TAboutBox box(QString{});
        QCOMPARE(box.size(), QSize(304, 244));
        QCOMPARE(box.windowTitle(), u"About"_s);
        QCOMPARE(box.Panel1->geometry(), QRect(8, 8, 281, 161));
        QCOMPARE(box.OKButton->geometry(), QRect(118, 178, 65, 26));
        QCOMPARE(box.OKButton->text(), u"OK"_s);
        QVERIFY(box.OKButton->isDefault());
        QCOMPARE(box.ProgramIcon->geometry(), QRect(23, 23, 38, 33));
        QVERIFY(!box.ProgramIcon->pixmap().isNull());
        QCOMPARE(box.Version2->text(), u"Version: Unknown"_s);
        QCOMPARE(box.Countdown(), 0); // idle at creation
    }

    // The splash closes by itself when the countdown runs out.
    void splashClosesAfterItsCountdown()
    {
        TAboutBox box(QString{});
        box.SetCountdown(3000);
        QCOMPARE(box.Timer1->interval(), 3000);
        QElapsedTimer clock;
        clock.start();
        box.ShowModal();
        QVERIFY(clock.elapsed() >= 2500); // not closed early by anything else
        QCOMPARE(box.Countdown(), 0);
        QVERIFY(!box.isVisible());
    }

    void closingKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
        QTest::newRow("OK clicked") << 0 << int(QDialog::Accepted);
    }

    void closingKeys()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        TAboutBox box(QString{});
        box.SetCountdown(10000);
        QTimer::singleShot(0, &box, [&box, key] {
            QWidget* modal = QApplication::activeModalWidget();
            QCOMPARE(modal, &box);
            if (key)
                QTest::keyClick(modal, Qt::Key(key));
            else
                QTest::mouseClick(box.OKButton, Qt::LeftButton);
        });
        box.ShowModal();
        QCOMPARE(box.result(), result);
        QCOMPARE(box.Countdown(), 0); // stopped however the box was closed
    }

    // Closed early (by Esc or the close box), then opened again from the
    // menu: the old countdown must not cut the new display short.
    void reopenedBoxGetsItsFullCountdown()
    {
        TAboutBox box(QString{});
        box.SetCountdown(10000);
        QTimer::singleShot(0, &box, [&box] { box.reject(); });
        box.ShowModal();
        QCOMPARE(box.Countdown(), 0);

        box.SetCountdown(10000);
        QVERIFY(box.Timer1->remainingTime() > 9000);
        QTimer::singleShot(0, &box, [&box] {
            QVERIFY(box.Timer1->remainingTime() > 9000);
            box.OKButtonClick();
        });
        box.ShowModal();
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    // Started with a configuration file: the countdown runs out on the
    // hidden box with no visible effect.
    void countdownOnHiddenBoxDoesNothing()
    {
        TAboutBox box(QString{});
        box.SetCountdown(50);
        QTRY_COMPARE(box.Countdown(), 0);
        QVERIFY(!box.isVisible());
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_AboutBox.moc"
