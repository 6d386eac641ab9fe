// Many hosts in one window: each keeps its own refresh schedule while
// another is silent, and a command goes only to the host whose tab it came
// from. What the window takes back from its settings at start: lists bounded
// whatever the settings file holds, reopened hosts that are not regular
// files passed over without waiting, and a window put back where its title
// bar can be reached.

#include "ConsoleFixture.h"

#include "console/ConsoleSettings.h"
#include "console/HostSummaryModel.h"
#include "console/WindowPlacement.h"
#include "session/Reconnector.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTabBar>

#include <array>
#include <sys/stat.h>

class TestHosts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void silentHostDelaysNoOther()
    {
        std::array<HostSim, 3> sims;
        for (HostSim& sim : sims) {
            sim.Listeners = {listener("123", "30002", "CNDSRVR", "8")};
            sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                             process("123", "123", "202", "CNDUSER", "BOB", 2500)};
            QVERIFY(sim.listen());
        }
        sims[2].Listeners.append(listener("124", "30003", "QRYSRVR", "9"));
        sims[2].Processes.append(process("124", "124", "301", "QRYUSER", "CAROL", 500));
        ConsoleFixture f; // its prompts, log and settings file only
        ScriptedPrompts& prompts = f.prompts;
        MainWindow window(windowEnvironment(&prompts, &f.log, f.settingsFile()));
        window.addHost(QString());
        window.addHost(QString());
        QCOMPARE(window.hostCount(), 3);
        for (int i = 0; i < 3; ++i) {
            HostController* host = window.host(i)->controller();
            host->reconnector()->setEnabled(false);
            ConnectionSettings s = simSettings(sims[size_t(i)].serverPort());
            s.RefreshInterval = 1000;
            host->setSettings(s);
        }
        window.show();
        for (int i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(!window.host(i)->controller()->isBusy(), 15000);
        // A tab per host and All hosts; a row per host there.
        QCOMPARE(window.findChild<QTabBar*>(QStringLiteral("hostTabs"))->count(), 4);
        QCOMPARE(window.summaries()->rowCount(), 3);
        // Every listener's processes are counted, whichever tab is shown.
        QTRY_COMPARE_WITH_TIMEOUT(
            window.summaries()->index(2, HostSummaryModel::Processes).data().toInt(), 3, 8000);
        window.showAllHosts();

        // The second host falls silent: its next refresh waits for replies that
        // do not come in time.
        sims[1].Faults.ReplyDelaySeconds = 60;
        QTRY_VERIFY_WITH_TIMEOUT(window.host(1)->controller()->session()->isBusy(), 5000);
        QElapsedTimer clock;
        clock.start();
        std::array<QList<qint64>, 3> listed;
        for (size_t i : {size_t(0), size_t(2)})
            connect(&sims[i], &HostSim::requestReceived, &window, [&, i](const QByteArray& letter) {
                if (letter == "G")
                    listed[i].append(clock.elapsed());
            });
        QTRY_VERIFY_WITH_TIMEOUT(listed[0].size() >= 3 && listed[2].size() >= 3, 8000);
        // The silent host is still waiting for its reply meanwhile, and the other
        // two kept their one-second timers (a tick late at most).
        QVERIFY(window.host(1)->controller()->session()->isBusy());
        for (size_t i : {size_t(0), size_t(2)})
            for (qsizetype k = 1; k < listed[i].size(); ++k)
                QVERIFY2(listed[i][k] - listed[i][k - 1] < 2500, qPrintable(QString::number(i)));

        // Kill Process on the third host's tab: only that host hears of it, and
        // the confirmation names it.
        window.showHost(2);
        HostController* third = window.host(2)->controller();
        QTRY_VERIFY(!third->session()->isBusy());
        const std::array<qsizetype, 3> marks = {
            sims[0].received().size(), sims[1].received().size(), sims[2].received().size()};
        prompts.confirmAnswers = {true};
        window.findChild<QAction*>(QStringLiteral("killProcessAction"))->trigger();
        QTRY_VERIFY(sims[2].received().mid(marks[2]).contains(framed("K") + framed("P123|201")));
        QVERIFY(!sims[0].received().mid(marks[0]).contains(framed("K")));
        QVERIFY(!sims[1].received().mid(marks[1]).contains(framed("K")));
        QCOMPARE(prompts.subjects.last(), QStringLiteral("127.0.0.1:%1").arg(sims[2].serverPort()));
        QVERIFY(window.windowTitle().contains(prompts.subjects.last()));

        // The keys go round the tabs: Ctrl+Tab and Ctrl+PgDown forward (past
        // All hosts to the first), Ctrl+PgUp back.
        auto* tabs = window.findChild<QTabBar*>(QStringLiteral("hostTabs"));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(tabs->currentIndex(), 2);
        QTest::keyClick(&window, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 3);
        QTest::keyClick(&window, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(window.currentHost(), window.host(0));
        QTest::keyClick(&window, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 3);
        QVERIFY(!window.currentHost());
    }

    void addHostOpensWhereTheFilesAre()
    {
        QTemporaryDir files;
        QVERIFY(QDir(files.path()).mkpath(QStringLiteral("east")));
        ConsoleFixture f; // its prompts, log and settings file only
        ScriptedPrompts& prompts = f.prompts;
        MainWindow window(windowEnvironment(&prompts, &f.log, f.settingsFile()));
        auto addHostFrom = [&window, &prompts](int host, const QString& answer) {
            prompts.openAnswer = answer;
            window.showHost(host);
            window.findChild<QAction*>(QStringLiteral("addHostAction"))->trigger();
            return prompts.openSetups.last().folder;
        };
        // No host file yet and none chosen: the home folder, not the program's.
        const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
        QCOMPARE(addHostFrom(0, QString()), home + QLatin1Char('/'));
        // A file chosen there becomes the host shown; the next opens beside it.
        const QString east = files.filePath(QStringLiteral("east/east.hcf"));
        addHostFrom(0, east);
        QCOMPARE(window.hostCount(), 2);
        QCOMPARE(addHostFrom(1, QString()), files.filePath(QStringLiteral("east/")));
        // From a host without a file, the folder last used.
        window.showHost(0);
        QCOMPARE(addHostFrom(0, QString()), files.filePath(QStringLiteral("east/")));
    }

    // One screen of 1280 x 1024 with a panel of 40 at its foot, and one of
    // 1920 x 1080 to its right: a frame as stored, and where it is put back.
    void placement()
    {
        const QList<QRect> screens = {QRect(0, 0, 1280, 984), QRect(1280, 0, 1920, 1080)};
        const QRect cases[][2] = {
            {{100, 100, 723, 480}, {100, 100, 723, 480}},     // on screen
            {{1500, 200, 723, 480}, {1500, 200, 723, 480}},   // title bar on the second screen
            {{3161, 100, 723, 480}, {2477, 100, 723, 480}},   // 39 pixels left on the right
            {{100, -300, 723, 480}, {100, 0, 723, 480}},      // title bar above the top
            {{100, 990, 723, 480}, {100, 504, 723, 480}},     // title bar under the panel
            {{-9000, -9000, 1500, 1200}, {0, 0, 1280, 984}}}; // far away, larger than the screen
        for (const auto& [frame, expected] : cases)
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
        MainWindow window(windowEnvironment(&prompts, &log, file));
        QCOMPARE(window.hostCount(), 1);
        QCOMPARE(window.findChild<QMenu*>(QStringLiteral("recentMenu"))->actions().size(), 8);
        // At most 100 pixels short of the screen's right edge: the title bar can be taken.
        QVERIFY2(window.frameGeometry().left() <= screen.right() + 1 - 100,
                 qPrintable(QStringLiteral("left edge at %1").arg(window.frameGeometry().left())));
        QVERIFY(window.frameGeometry().top() >= screen.top());
    }
};

QTEST_MAIN(TestHosts)
#include "tst_hosts.moc"
