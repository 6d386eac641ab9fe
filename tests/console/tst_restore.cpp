// What the window takes back from its settings at start: lists bounded
// whatever the settings file holds, reopened hosts that are not regular
// files passed over without waiting, and a window put back where its title
// bar can be reached.

#include "ConsoleFixture.h"

#include "console/ConsoleSettings.h"
#include "console/WindowPlacement.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>

#include <sys/stat.h>

class TestRestore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void placement_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("expected");
        // One screen of 1280 x 1024 with a panel of 40 at its foot, and one of
        // 1920 x 1080 to its right.
        QTest::newRow("on screen") << QRect(100, 100, 723, 480) << QRect(100, 100, 723, 480);
        QTest::newRow("title bar on the second screen")
            << QRect(1500, 200, 723, 480) << QRect(1500, 200, 723, 480);
        QTest::newRow("39 pixels left on the right")
            << QRect(3161, 100, 723, 480) << QRect(2477, 100, 723, 480);
        QTest::newRow("title bar above the top")
            << QRect(100, -300, 723, 480) << QRect(100, 0, 723, 480);
        QTest::newRow("title bar under the panel")
            << QRect(100, 990, 723, 480) << QRect(100, 504, 723, 480);
        QTest::newRow("far away, larger than the screen")
            << QRect(-9000, -9000, 1500, 1200) << QRect(0, 0, 1280, 984);
    }

    void placement()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, expected);
        const QList<QRect> screens = {QRect(0, 0, 1280, 984), QRect(1280, 0, 1920, 1080)};
        QCOMPARE(WindowPlacement::reachable(frame, screens), expected);
    }

    void boundedStart()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("console.ini"));
        const QString fifo = dir.filePath(QStringLiteral("fifo.hcf"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        {
            QStringList recent;
            for (int i = 0; i < 10'000; ++i)
                recent.append(QStringLiteral("/srv/hosts/host-%1.hcf").arg(i));
            QStringList last = {fifo};
            for (int i = 0; i < 200; ++i)
                last.append(dir.filePath(QStringLiteral("gone-%1.hcf").arg(i)));
            QWidget placed;
            placed.setGeometry(screen.right() - 38, screen.top() + 50, 600, 400);
            QSettings store(file, QSettings::IniFormat);
            store.setValue(QStringLiteral("recentFiles"), recent);
            store.setValue(QStringLiteral("hosts/last"), last);
            store.setValue(QStringLiteral("preferences/reopenHosts"), true);
            store.setValue(QStringLiteral("window/geometry"), placed.saveGeometry());
        }
        ConsoleSettings settings(file);
        QCOMPARE(settings.recentFiles().size(), 8);
        QCOMPARE(settings.recentFiles().constLast(), QStringLiteral("/srv/hosts/host-7.hcf"));
        QCOMPARE(settings.lastHosts().size(), 50);

        // Neither the FIFO nor the missing files are opened: the window starts
        // with the one host it always has, asking for its settings.
        ScriptedPrompts prompts;
        RecordingEventLog log;
        MainWindow::Environment environment;
        environment.prompts = &prompts;
        environment.eventLog = &log;
        environment.programPath = QStringLiteral("/opt/orvanite/orvanite-console");
        environment.settingsFile = file;
        MainWindow window(environment);
        QCOMPARE(window.hostCount(), 1);
        QCOMPARE(window.findChild<QMenu*>(QStringLiteral("recentMenu"))->actions().size(), 8);
        // At most 100 pixels short of the screen's right edge: the title bar can be taken.
        QVERIFY2(window.frameGeometry().left() <= screen.right() + 1 - 100,
                 qPrintable(QStringLiteral("left edge at %1").arg(window.frameGeometry().left())));
        QVERIFY(window.frameGeometry().top() >= screen.top());
    }
};

QTEST_MAIN(TestRestore)
#include "tst_restore.moc"
