// The About box as splash and from Help: its countdown, its closing keys,
// its layout, and a box opened again getting its full countdown.

#include "app/AboutBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

template <typename T> T* child(const AboutBox& box, const char* name)
{
    return box.findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout()
    {
        AboutBox box(QString{});
        QCOMPARE(box.size(), QSize(304, 244));
        QCOMPARE(box.windowTitle(), u"About"_s);
        QCOMPARE(child<QFrame>(box, "panel")->geometry(), QRect(8, 8, 281, 161));
        QCOMPARE(child<QPushButton>(box, "okButton")->geometry(), QRect(118, 178, 65, 26));
        QCOMPARE(child<QPushButton>(box, "okButton")->text(), u"OK"_s);
        QVERIFY(child<QPushButton>(box, "okButton")->isDefault());
        QCOMPARE(child<QLabel>(box, "programIcon")->geometry(), QRect(23, 23, 38, 33));
        QVERIFY(!child<QLabel>(box, "programIcon")->pixmap().isNull());
        QCOMPARE(child<QLabel>(box, "version2")->text(), u"Version: Unknown"_s);
        QCOMPARE(box.countdown(), 0); // idle at creation
    }

    // The splash closes by itself when the countdown runs out.
    void splashClosesAfterItsCountdown()
    {
        AboutBox box(QString{});
        box.setCountdown(600);
        QCOMPARE(child<QTimer>(box, "countdown")->interval(), 600);
        QElapsedTimer clock;
        clock.start();
        box.showModal();
        QVERIFY(clock.elapsed() >= 500); // not closed early by anything else
        QCOMPARE(box.countdown(), 0);
        QVERIFY(!box.isVisible());
    }

    // However the box is closed its countdown stops, and a box opened again
    // (from the menu) gets its full countdown: the old one must not cut it short.
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
        AboutBox box(QString{});
        box.setCountdown(10000);
        QTimer::singleShot(0, &box, [&box, key] {
            QWidget* modal = QApplication::activeModalWidget();
            QCOMPARE(modal, &box);
            if (key)
                QTest::keyClick(modal, Qt::Key(key));
            else
                QTest::mouseClick(child<QPushButton>(box, "okButton"), Qt::LeftButton);
        });
        box.showModal();
        QCOMPARE(box.result(), result);
        QCOMPARE(box.countdown(), 0);

        box.setCountdown(10000);
        QTimer::singleShot(0, &box, [&box] {
            QVERIFY(child<QTimer>(box, "countdown")->remainingTime() > 9000);
            child<QPushButton>(box, "okButton")->click();
        });
        box.showModal();
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    // Started with a configuration file, the countdown runs out on the hidden
    // box with no visible effect; Help, About... gives the box ten seconds.
    void countdownHiddenAndFromHelp()
    {
        AboutBox box(QString{});
        box.setCountdown(50);
        QTRY_COMPARE(box.countdown(), 0);
        QVERIFY(!box.isVisible());
        int countdown = 0;
        QTimer::singleShot(0, &box, [&] {
            countdown = child<QTimer>(box, "countdown")->interval();
            box.accept();
        });
        box.showFromHelp();
        QCOMPARE(countdown, 10000);
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
