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
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTabBar>
#include <QTableView>
#include <QTcpServer>

#include <array>
#include <sys/stat.h>

namespace {

// Two simulated hosts of one listener in one window (not shown yet), each
// refreshed once a minute and not reconnected by itself.
struct TwoHosts
{
    TwoHosts()
    {
        for (HostSim& sim : sims) {
            sim.Listeners = {listener("123", "30002", "CNDSRVR", "8")};
            sim.listen();
        }
        window.addHost(QString());
        for (int i = 0; i < 2; ++i) {
            HostController* host = window.host(i)->controller();
            host->reconnector()->setEnabled(false);
            ConnectionSettings s = simSettings(sims[size_t(i)].serverPort());
            s.RefreshInterval = 60000;
            host->setSettings(s);
        }
    }

    std::array<HostSim, 2> sims;
    ConsoleFixture f; // its prompts, log and settings file only
    MainWindow window{windowEnvironment(&f.prompts, &f.log, f.settingsFile())};
};

} // namespace

class TestHosts : public QObject
{
    Q_OBJECT

    static constexpr const char* EastColour = "#3f4e63";
    static constexpr const char* WestColour = "#7a4a1e";
    static constexpr const char* NorthColour = "#5b3f9e";

private Q_SLOTS:
    // A host in a tab behind that connects while the operator types in the
    // shown host's filter leaves him the focus.
    void backgroundHostTakesNoFocus()
    {
        std::array<HostSim, 2> sims;
        for (HostSim& sim : sims) {
            sim.Listeners = {listener("123", "30002", "CNDSRVR", "8")};
            QVERIFY(sim.listen());
        }
        sims[1].Faults.ReplyDelaySeconds = 1;
        ConsoleFixture f;
        MainWindow window(windowEnvironment(&f.prompts, &f.log, f.settingsFile()));
        window.addHost(QString());
        for (int i = 0; i < 2; ++i)
            window.host(i)->controller()->setSettings(simSettings(sims[size_t(i)].serverPort()));
        window.showHost(0);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY_WITH_TIMEOUT(!window.host(0)->controller()->isBusy(), 15000);
        window.host(0)->openFilter();
        auto* filter = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(filter && window.host(0)->isAncestorOf(filter));
        QVERIFY(window.host(1)->controller()->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!window.host(1)->controller()->isBusy(), 15000);
        QCOMPARE(QApplication::focusWidget(), filter);
    }

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

    // Each tab tells its host's link and pause, in words and in its spot;
    // one host's change sets nothing on another's tab.
    void tabsShowLinkAndPause()
    {
        TwoHosts t;
        MainWindow& window = t.window;
        QStringList names;
        for (const HostSim& sim : t.sims)
            names.append(QStringLiteral("127.0.0.1:%1").arg(sim.serverPort()));
        window.show();
        for (int i = 0; i < 2; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(!window.host(i)->controller()->isBusy(), 15000);
        auto* tabs = window.findChild<QTabBar*>(QStringLiteral("hostTabs"));
        QTRY_COMPARE(tabs->tabText(0), names[0]);
        QCOMPARE(tabs->tabText(1), names[1]);
        const qint64 first = tabs->tabIcon(0).cacheKey();
        const qint64 second = tabs->tabIcon(1).cacheKey();

        HostController* host = window.host(0)->controller();
        host->setPaused(true);
        QCOMPARE(tabs->tabText(0), names[0] + QStringLiteral(" (paused)"));
        QVERIFY(tabs->tabIcon(0).cacheKey() != first);
        host->refresh();
        QTRY_VERIFY(!host->session()->isBusy());
        QCOMPARE(tabs->tabIcon(1).cacheKey(), second);
        QCOMPARE(tabs->tabText(1), names[1]);

        // The second host's link drops and stays down.
        HostSession* session = window.host(1)->controller()->session();
        ConnectionSettings s = session->settings();
        QTcpServer unused;
        QVERIFY(unused.listen(QHostAddress::LocalHost));
        s.Port = unused.serverPort();
        unused.close();
        session->setSettings(s);
        session->disconnectFromHost();
        QTRY_COMPARE(tabs->tabText(1), names[1] + QStringLiteral(" (down)"));
        QVERIFY(tabs->tabIcon(1).cacheKey() != second);
        host->setPaused(false);
        QCOMPARE(tabs->tabText(0), names[0]);
    }

    // A host's colour follows from its file alone, whichever hosts are open
    // beside it and in whatever order.
    void colourFollowsTheFile_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("colours");
        QTest::newRow("east, west, north")
            << texts({"/srv/hosts/east.hcf", "/srv/hosts/west.hcf", "/srv/hosts/north.hcf"})
            << texts({EastColour, WestColour, NorthColour});
        QTest::newRow("north, east") << texts({"/srv/hosts/north.hcf", "/srv/hosts/east.hcf"})
                                     << texts({NorthColour, EastColour});
        QTest::newRow("west alone") << texts({"/srv/hosts/west.hcf"}) << texts({WestColour});
    }

    void colourFollowsTheFile()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, colours);
        ConsoleFixture f; // its prompts, log and settings file only
        MainWindow::Environment environment =
            windowEnvironment(&f.prompts, &f.log, f.settingsFile(), {files.first()});
        environment.added = files.mid(1);
        MainWindow window(environment);
        QCOMPARE(window.hostCount(), files.size());
        for (int i = 0; i < window.hostCount(); ++i)
            QCOMPARE(window.host(i)->controller()->accent().name(), colours[i]);
    }

    // In All hosts no column is pushed past the right edge by a long link
    // text or the stale mark: the link is cut, its whole text its tooltip.
    void allHostsColumnsWithinWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("715") << 715;
        QTest::newRow("1000") << 1000;
        QTest::newRow("640, a 1280 screen at scale 2") << 640;
    }

    void allHostsColumnsWithinWidth()
    {
        QFETCH(int, width);
        TwoHosts t;
        MainWindow& window = t.window;
        window.resize(width, 480);
        window.show();
        window.showAllHosts();
        // Connected and counted: nothing more is to come from the hosts.
        for (int i = 0; i < 2; ++i) {
            HostController* host = window.host(i)->controller();
            QTRY_VERIFY_WITH_TIMEOUT(!host->isBusy() && !host->session()->isBusy() &&
                                         host->summary().everyListener,
                                     15000);
        }

        HostController::Summary dropped = window.host(0)->controller()->summary();
        dropped.name = QStringLiteral("production-west-2");
        dropped.link = QStringLiteral("Reconnecting in 12 s (10061 Connection refused)");
        dropped.census.listeners = 3;
        dropped.census.processes = 4;
        dropped.census.cpuMs = 123581745;
        dropped.census.takenAt = QDateTime(QDate(2026, 12, 7), QTime(23, 41, 46));
        dropped.census.stale = true;
        dropped.reconnections = 12;
        window.summaries()->updateHost(0, dropped);

        auto* table = window.findChild<QTableView*>(QStringLiteral("allHostsTable"));
        QHeaderView* header = table->horizontalHeader();
        const QModelIndex listed = window.summaries()->index(0, HostSummaryModel::Listed);
        QCOMPARE(listed.data().toString(), QStringLiteral("2026-12-07 23:41:46 (stale)"));
        QTRY_VERIFY(header->sectionSize(HostSummaryModel::Listed) >
                    table->fontMetrics().horizontalAdvance(listed.data().toString()));
        for (int c = 0; c < HostSummaryModel::ColumnCount; ++c)
            QVERIFY2(
                header->sectionViewportPosition(c) + header->sectionSize(c) <=
                    table->viewport()->width(),
                qPrintable(QStringLiteral("column %1 ends at %2 of %3")
                               .arg(c)
                               .arg(header->sectionViewportPosition(c) + header->sectionSize(c))
                               .arg(table->viewport()->width())));
        QCOMPARE(window.summaries()->index(0, HostSummaryModel::Link).data(Qt::ToolTipRole),
                 QVariant(dropped.link));
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
