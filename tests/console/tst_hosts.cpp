// Many hosts in one window: each keeps its own refresh schedule while
// another is silent, and a command goes only to the host whose tab it came
// from.

#include "ConsoleFixture.h"

#include "console/HostSummaryModel.h"
#include "session/Reconnector.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTabBar>

#include <array>

class TestHosts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void silentHostDelaysNoOther()
    {
        QTemporaryDir settings;
        std::array<HostSim, 3> sims;
        for (HostSim& sim : sims) {
            sim.Listeners = {listener("123", "30002", "CNDSRVR", "8")};
            sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                             process("123", "123", "202", "CNDUSER", "BOB", 2500)};
            QVERIFY(sim.listen());
        }
        sims[2].Listeners.append(listener("124", "30003", "QRYSRVR", "9"));
        sims[2].Processes.append(process("124", "124", "301", "QRYUSER", "CAROL", 500));
        ScriptedPrompts prompts;
        RecordingEventLog log;
        MainWindow::Environment environment;
        environment.prompts = &prompts;
        environment.eventLog = &log;
        environment.programPath = QStringLiteral("/opt/orvanite/orvanite-console");
        environment.settingsFile = settings.filePath(QStringLiteral("console.ini"));
        MainWindow window(environment);
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
        QCOMPARE(window.summaries()->index(2, HostSummaryModel::Processes).data().toInt(), 2);
        // While All hosts is shown, every listener's processes are counted.
        window.showAllHosts();
        QTRY_COMPARE_WITH_TIMEOUT(
            window.summaries()->index(2, HostSummaryModel::Processes).data().toInt(), 3, 8000);

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
                QVERIFY2(listed[i][k] - listed[i][k - 1] < 2500,
                         qPrintable(QStringLiteral("host %1 listed %2 ms apart")
                                        .arg(i)
                                        .arg(listed[i][k] - listed[i][k - 1])));

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
        QTemporaryDir settings;
        QTemporaryDir files;
        QVERIFY(QDir(files.path()).mkpath(QStringLiteral("east")));
        ScriptedPrompts prompts;
        RecordingEventLog log;
        MainWindow::Environment environment;
        environment.prompts = &prompts;
        environment.eventLog = &log;
        environment.programPath = QStringLiteral("/opt/orvanite/orvanite-console");
        environment.settingsFile = settings.filePath(QStringLiteral("console.ini"));
        MainWindow window(environment);
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
};

QTEST_MAIN(TestHosts)
#include "tst_hosts.moc"
