// The main window against an in-process simulator: connecting, the tables,
// refreshing, losing the connection, time-outs, malformed records, long
// lists, and the rules that keep the console sound: one exchange at a time,
// the selection stays on the operator's choice and a vanished one selects
// nothing, no new connection once closing.

#include "ConsoleFixture.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A peer that answers the logon with "0" and each request with what Answer
// gives (request letter and argument joined, and how many came so far).
class ScriptedHost : public QObject
{
public:
    ScriptedHost()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            // A new connection starts with its logon.
            m_peer = m_server.nextPendingConnection();
            m_in.clear();
            m_letter.clear();
            m_loggedOn = false;
            connect(m_peer, &QTcpSocket::readyRead, this, [this] { read(); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void send(const QByteArray& bytes) { m_peer->write(bytes); }
    std::function<QByteArray(const QByteArray&, int)> answer;

private:
    void read()
    {
        m_in += m_peer->readAll();
        if (!m_loggedOn && m_in.size() >= 118) {
            m_in.remove(0, 118);
            m_loggedOn = true;
            send("0");
        }
        // Each whole frame; "H" is joined to the argument after it.
        while (m_loggedOn && m_in.size() >= 4 && m_in.size() >= 4 + m_in.left(4).toInt()) {
            const QByteArray body = m_in.mid(4, m_in.left(4).toInt());
            m_in.remove(0, 4 + body.size());
            if (body == "H")
                m_letter = body;
            else
                send(answer(std::exchange(m_letter, {}) + body, ++m_serial));
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_peer = nullptr;
    QByteArray m_in;
    QByteArray m_letter;
    bool m_loggedOn = false;
    int m_serial = 0;
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTimer* refreshTimer() const { return f->find<QTimer>("refreshTimer"); }
    QString processCaption() const { return f->find<QGroupBox>("processBox")->title(); }

    // Runs act once, queued, when the simulator first receives a request with this letter.
    void onFirstRequest(const char* letter, const std::function<void()>& act)
    {
        auto done = std::make_shared<bool>(false);
        connect(
            &f->sim, &HostSim::requestReceived, this,
            [=](const QByteArray& got, const QByteArray&) {
                if (!*done && got == letter) {
                    *done = true;
                    act();
                }
            },
            Qt::QueuedConnection);
    }

    std::unique_ptr<ConsoleFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ConsoleFixture>();
        f->useStandardHost();
    }

    void connectFillsTablesCaptionsAndLog()
    {
        f->create();
        QStringList captions;
        connect(f->window.get(), &QWidget::windowTitleChanged, this,
                [&captions](const QString& t) { captions.append(t); });
        QVERIFY(f->showAndConnect());
        QCOMPARE(captions, texts({"KELD32 001", "KELD32 002", "KELD32 003",
                                  "Orvanite Server Console - (127.0.0.1)"}));
        QCOMPARE(f->log.entries.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(f->log.entries[i].text, QStringLiteral("KELD32 00%1").arg(i + 1));
            QCOMPARE(f->log.entries[i].type, 4);
            QCOMPARE(f->log.entries[i].category, 3);
            QCOMPARE(f->log.entries[i].id, 1000u);
        }

        QCOMPARE(tableTexts(f->listenerTable()),
                 (QList<QStringList>{texts({"Pin", "Product", "Program", "Port", "MaxUsers"}),
                                     texts({"123", "Conduit", "CNDSRVR", "30002", "unlimited"}),
                                     texts({"124", "Vanguard", "VGDSRVR", "30004", "050"}),
                                     texts({"125", "07", "ODDSRVR", "30009", "unlimited"})}));
        QCOMPARE(tableTexts(f->processTable()),
                 (QList<QStringList>{texts({"Main", "Pin", "Program", "User", "CPU Time"}),
                                     texts({"123", "201", "CNDUSER", "ALICE", "   1.500"}),
                                     texts({"123", "202", "CNDUSER", "BOB", " 123.456"}),
                                     texts({"", "203", "CNDUSER", "CAROL", "   0.000"})}));
        QCOMPARE(processCaption(),
                 QStringLiteral("User Processes for (123:Conduit:CNDSRVR:30002)"));
        // The first listener and its first process are selected.
        QCOMPARE(f->listenerRow(), 0);
        QCOMPARE(f->processRow(), 0);
        QVERIFY(!f->host()->isBusy());
        QVERIFY(refreshTimer()->isActive());
        QVERIFY(f->find<QPushButton>("refreshButton")->isEnabled());
        QVERIFY(!f->find<QPushButton>("changePriorityButton")->isVisibleTo(f->window.get()));

        // The logon record: kind 1, seven fields of 16 bytes.
        const QByteArray logon = f->sim.received().left(118);
        QCOMPARE(logon.left(6), QByteArray("000001"));
        QCOMPARE(logon.mid(6, 16), QByteArray("MANAGER         "));
        QCOMPARE(logon.mid(70, 16), QByteArray("SYS             "));
        QCOMPARE(f->sim.received().mid(118), fullRefresh());
    }

    // While the logon reply is awaited the window keeps the title it was
    // shown with, not the file's path.
    void captionWhileTheLogonIsAwaited()
    {
        const QString path = f->settingsDir.filePath(QStringLiteral("east.hcf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\"127.0.0.1\",\"" + QByteArray::number(f->sim.serverPort()) +
                   "\",\"5\",\"xt{trpg\",\"\",\"\",\"\",\"flf\",\"\",\"\",5\r\n");
        file.close();
        f->sim.Faults.LogonNever = true;
        f->create({path});
        QCOMPARE(f->window->windowTitle(), QStringLiteral("Orvanite Server Console - ") + path);
        f->window->setWindowTitle(QStringLiteral("Orvanite Server Console 32-bit"));
        f->window->show();
        QTRY_VERIFY(f->sim.received().size() >= 118);
        QVERIFY(f->session()->isBusy());
        QCOMPARE(f->window->windowTitle(), QStringLiteral("Orvanite Server Console 32-bit"));
    }

    void commandLineRule_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("path");
        QTest::newRow("absolute") << texts({"/etc/orv/east.hcf"})
                                  << QStringLiteral("/etc/orv/east.hcf");
        QTest::newRow("bare name")
            << texts({"east.hcf"}) << QStringLiteral("/opt/orvanite/east.hcf");
        QTest::newRow("relative with folder")
            << texts({"cfg/east.hcf"}) << QStringLiteral("cfg/east.hcf");
        QTest::newRow("backslash is a name")
            << texts({"cfg\\east.hcf"}) << QStringLiteral("/opt/orvanite/cfg\\east.hcf");
        QTest::newRow("only the first")
            << texts({"a.hcf", "b.hcf"}) << QStringLiteral("/opt/orvanite/a.hcf");
        QTest::newRow("none") << QStringList() << QStringLiteral("");
    }

    void commandLineRule()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, path);
        MainWindow w(windowEnvironment(&f->prompts, &f->log, f->settingsFile(), arguments));
        const HostController* host = w.host(0)->controller();
        QCOMPARE(host->settings().ConfigPath, path);
        QCOMPARE(w.windowTitle(), path.isEmpty()
                                      ? QStringLiteral("Orvanite Server Console")
                                      : QStringLiteral("Orvanite Server Console - ") + path);
        QVERIFY(host->isBusy());
        QVERIFY(!w.findChild<QTimer*>(QStringLiteral("refreshTimer"))->isActive());
        QCOMPARE(host->settings().Port, quint16(30000));
        QCOMPARE(host->settings().User, QByteArray("MANAGER"));
        QCOMPARE(host->settings().Account, QByteArray("SYS"));
    }

    void missingBareNameEndsWithMessage()
    {
        // A host is known, so a window that passed over the missing file would
        // connect; it must say so and end instead.
        f->create(texts({"nosuch.hcf"}));
        f->prompts.onDialog = [](QDialog&) { return int(QDialog::Rejected); };
        f->window->show();
        QTRY_VERIFY(f->closing());
        QCOMPARE(f->prompts.messages,
                 QStringList{QStringLiteral("Cannot find the configuration file nosuch.hcf: it is "
                                            "neither beside the program (/opt/orvanite/nosuch.hcf) "
                                            "nor in the current folder (%1/nosuch.hcf).")
                                 .arg(QDir::currentPath())});
        QCOMPARE(f->prompts.dialogRuns, 0);
        QCOMPARE(f->sim.connectionCount(), 0);
        QVERIFY(f->sim.received().isEmpty());
    }

    void timerRefreshesAndClickFillsProcesses()
    {
        QVERIFY(f->showAndConnect());
        f->sim.Processes.append(process("123", "123", "204", "CNDUSER", "EVE", 42));
        refreshTimer()->setInterval(20);
        refreshTimer()->start();
        QTRY_COMPARE(f->processes()->rows(), 4);
        QCOMPARE(rowTexts(f->processTable(), 3),
                 (texts({"123", "204", "CNDUSER", "EVE", "   0.042"})));

        // A click on a listener asks for its processes only.
        refreshTimer()->setInterval(60000);
        QVERIFY(f->waitIdle());
        const qsizetype mark = f->mark();
        f->chooseListener(1);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->receivedSince(mark), framed("H") + framed("124"));
        QCOMPARE(f->listenerRow(), 1);
        QCOMPARE(f->processes()->rows(), 1);
        QCOMPARE(rowTexts(f->processTable(), 0),
                 (texts({"124", "301", "VGDUSER", "DAVE", "123456.789"})));
        QCOMPARE(processCaption(),
                 QStringLiteral("User Processes for (124:Vanguard:VGDSRVR:30004)"));
        QTRY_VERIFY(!f->host()->isBusy());
    }

    void lostConnectionKeepsStaleRowsSendsNothing()
    {
        QVERIFY(f->showAndConnect());
        QVERIFY(!f->listeners()->isStale());
        QVERIFY(f->action("killListenerAction")->isEnabled());
        // The connection is gone between two exchanges (a close in the middle of
        // a list puts the connection out of step and is renewed; see tests/faults).
        f->session()->disconnectFromHost();
        const qsizetype mark = f->mark();
        const int messages = f->prompts.messages.size();
        QVERIFY(f->run("refreshAction"));
        QVERIFY(f->run("killListenerAction"));
        QVERIFY(f->run("killProcessAction"));
        // The rows read before stay, greyed, and the commands wait for the link.
        QCOMPARE(f->listeners()->rows(), 3);
        QCOMPARE(f->processes()->rows(), 3);
        QVERIFY(f->listeners()->isStale());
        QVERIFY(f->processes()->isStale());
        QVERIFY(
            f->listenerTable()->model()->index(0, 0).data(RecordTableModel::StaleRole).toBool());
        QVERIFY(!f->action("killListenerAction")->isEnabled());
        QVERIFY(!f->find<QPushButton>("killProcessButton")->isEnabled());
        QCOMPARE(f->receivedSince(mark), QByteArray());
        QCOMPARE(f->prompts.messages.size(), messages);
        QVERIFY(f->prompts.confirmations.isEmpty());
        QTRY_VERIFY(!f->host()->isBusy());
    }

    void priorityColumnAppearsOnceAndStays()
    {
        f->sim.Processes[1].Priority = 3;
        f->sim.Processes[2].Priority = 1;
        QVERIFY(f->showAndConnect());
        MainWindow& w = *f->window;
        QCOMPARE(headerTexts(f->processTable()),
                 (texts({"Main", "Pin", "Program", "User", "CPU Time", "Pri"})));
        QCOMPARE(columnTexts(f->processTable(), 5), texts({"", "DS", "BS"}));
        QWidget* changePri = f->find<QPushButton>("changePriorityButton");
        QVERIFY(changePri->isVisibleTo(&w));
        // The column comes in at 5% of the table's width, and a resize makes it 6%.
        RecordTableView* table = f->processTable();
        QCOMPARE(table->columnWidth(5), int(table->width() * 0.05));
        w.resize(w.size() + QSize(1, 0));
        w.resize(w.size() - QSize(1, 0));
        QTRY_COMPARE(table->columnWidth(5), 41);
        // Change Pri takes its place in the button bar and the first Tab stop.
        QCOMPARE(changePri->geometry(), QRect(456, 8, 105, 25));
        QWidget* next = changePri->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, f->find<QWidget>("refreshButton"));

        for (SimProcess& p : f->sim.Processes)
            p.Priority = 0;
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(columnTexts(f->processTable(), 5), texts({"", "", ""}));
        QVERIFY(changePri->isVisibleTo(&w));
    }

    void priorityInListenerReplyShowsChangePri()
    {
        // Records go where their first character says: a process record with a
        // priority in the reply to the listener request, a listener record in
        // the process list. The process list after it has no priority.
        ScriptedHost host;
        host.answer = [](const QByteArray& request, int) -> QByteArray {
            if (request == "G")
                return framed("S123|30002 CNDSRVR|8|0") + framed("P0123|201|CNDUSER|ALICE|1500|3") +
                       framed("");
            if (request == "H123")
                return framed("P0123|201|CNDUSER|ALICE|1500") + framed("S124|30004 VGDSRVR|16|0") +
                       framed("");
            return {};
        };
        f->create();
        f->host()->setSettings(simSettings(host.port()));
        QVERIFY(f->showAndConnect());
        QCOMPARE(tableTexts(f->processTable()),
                 (QList<QStringList>{texts({"Main", "Pin", "Program", "User", "CPU Time", "Pri"}),
                                     texts({"123", "201", "CNDUSER", "ALICE", "   1.500", ""})}));
        QVERIFY(f->find<QPushButton>("changePriorityButton")->isVisibleTo(f->window.get()));
        QCOMPARE(columnTexts(f->listenerTable(), 0), texts({"123", "124"}));
    }

    void malformedRecordsSkippedAndCounted()
    {
        SimProcess bad = process("123", "123", "299", "X", "Y", 0);
        bad.RawRecord = "P0123|299|CNDUSER|MALLORY|12x4";
        SimProcess bad2 = process("123", "123", "298", "X", "Y", 0);
        bad2.RawRecord = "P0123|298|CNDUSER|TRENT|5|9";
        f->sim.Processes.insert(1, bad);
        f->sim.Processes.append(bad2);
        QVERIFY(f->showAndConnect());
        QCOMPARE(columnTexts(f->processTable(), 1), texts({"201", "202", "203"}));
        QVERIFY2(f->status().startsWith(QStringLiteral("2 records skipped")),
                 qPrintable(f->status()));

        // The next exchange is in step, and a clean list clears the line.
        f->sim.Processes.removeAt(1);
        f->sim.Processes.removeLast();
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(f->processes()->rows(), 3);
        QCOMPARE(f->listeners()->rows(), 3);
        QCOMPARE(f->status(), QString());
    }

    void vanishedSelectionSelectsNothing()
    {
        QVERIFY(f->showAndConnect());
        f->chooseProcess(2); // CAROL, 203
        QVERIFY(f->waitIdle());

        // The chosen process goes: no other process takes its place.
        f->sim.Processes.removeIf([](const SimProcess& p) { return p.Pin == "203"; });
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(f->processes()->rows(), 2);
        QCOMPARE(f->processRow(), -1);
        f->prompts.confirmAnswers = {true};
        const qsizetype mark = f->mark();
        QVERIFY(f->run("killProcessAction"));
        QVERIFY(f->prompts.confirmations.isEmpty());
        QCOMPARE(f->receivedSince(mark), QByteArray());
    }

    void commandsDuringExchangeWaitTheirTurn()
    {
        QVERIFY(f->showAndConnect());
        f->sim.Faults.ReplyDelaySeconds = 0.3;
        f->prompts.confirmAnswers = {false};
        bool busySeen = false;
        onFirstRequest("G", [&] {
            // The window stays live while the host is slow: the commands
            // run at once and their requests wait their turn.
            busySeen = f->host()->isBusy();
            f->action("killListenerAction")->trigger(); // answered No: a refresh follows
            f->action("refreshAction")->trigger();      // merged with the waiting one
        });
        const qsizetype mark = f->mark();
        QVERIFY(f->run("refreshAction"));
        QTRY_VERIFY(busySeen);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->prompts.confirmations.size(), 1);
        QCOMPARE(f->receivedSince(mark), fullRefresh() + fullRefresh());
        QTRY_VERIFY(!f->host()->isBusy());
    }

    void socketErrorDuringExchangeStartsNoSecondOne()
    {
        QVERIFY(f->showAndConnect());
        f->sim.Faults.ReplyDelaySeconds = 0.3;
        bool reported = false;
        onFirstRequest("G", [&] {
            // The socket reports an error while the list is awaited.
            reported = true;
            Q_EMIT f->session()->socketError(10054, QStringLiteral("Connection reset by peer."));
        });
        f->prompts.onMessage = [&](const QString&) {
            // A refresh asked for while the message is up waits its turn.
            f->find<QPushButton>("refreshButton")->click();
            f->action("refreshAction")->trigger();
        };
        const qsizetype mark = f->mark();
        QVERIFY(f->run("refreshAction"));
        QTRY_VERIFY(reported);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->prompts.messages,
                 QStringList{QStringLiteral("WINSOCK error: 10054\nConnection reset by peer.")});
        // The first refresh went out whole before the one asked for meanwhile.
        QCOMPARE(f->receivedSince(mark), fullRefresh() + fullRefresh());
    }

    void clickDuringRefreshIsCarriedOutAfter()
    {
        QVERIFY(f->showAndConnect());
        f->sim.Faults.ReplyDelaySeconds = 0.3;
        bool clicked = false;
        onFirstRequest("H", [&] {
            // The operator picks listener 124 while the process list is awaited.
            clicked = true;
            f->chooseListener(1);
        });
        const qsizetype mark = f->mark();
        QVERIFY(f->run("refreshAction"));
        QTRY_VERIFY(clicked);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->receivedSince(mark), fullRefresh() + framed("H") + framed("124"));
        QCOMPARE(f->listenerRow(), 1);
        QCOMPARE(columnTexts(f->processTable(), 1), texts({"301"}));
    }

    // Exit: Quit once, and no new connection for anything asked after it.
    void closingQuitsOnceAndNeverReconnects()
    {
        QVERIFY(f->showAndConnect());
        const qsizetype mark = f->mark();
        f->action("exitAction")->trigger();
        QVERIFY(f->closing());
        QVERIFY(!f->session()->isConnected());
        QVERIFY(f->run("refreshAction"));
        QVERIFY(f->run("configureAction"));
        QVERIFY(!refreshTimer()->isActive());
        f->window.reset();
        QTRY_COMPARE(f->receivedSince(mark), framed("Q"));
        QCOMPARE(f->sim.connectionCount(), 1);
        QCOMPARE(f->sim.openConnections(), 0);
    }

    void longListShowsProgressAndStops()
    {
        // A slow host: one process record every 0.2 s, 43 of them.
        for (int i = 0; i < 40; ++i)
            f->sim.Processes.append(process("123", "123", QByteArray::number(400 + i).constData(),
                                            "CNDUSER", "EVE", 1000));
        QVERIFY(f->showAndConnect());
        MainWindow& w = *f->window;
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QPushButton* stop = f->find<QPushButton>("stopListButton");
        QVERIFY(stop->isHidden());
        f->sim.Faults.TrickleSeconds = 0.2;
        f->action("refreshAction")->trigger();
        // From the first second the rows so far show beside a Stop button.
        QTRY_VERIFY_WITH_TIMEOUT(f->status().startsWith(QStringLiteral("Listing processes\u2026 ")),
                                 6000);
        QVERIFY(stop->isVisible());
        const int counted =
            f->status().section(QLatin1Char(' '), 2).remove(QLatin1Char(',')).toInt();
        QVERIFY2(counted > 0 && counted < 43, qPrintable(f->status()));

        // Esc stops it; the refresh stays paused and the link down, said to be
        // the operator's doing.
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(f->waitIdle());
        QVERIFY(stop->isHidden());
        QVERIFY2(f->status().startsWith(QStringLiteral("The list was stopped after ")),
                 qPrintable(f->status()));
        QVERIFY(f->action("pauseAction")->isChecked());
        QVERIFY(!refreshTimer()->isActive());
        const QString link = f->find<QLabel>("linkLabel")->property("fullText").toString();
        QVERIFY2(link.endsWith(QStringLiteral(": stopped by the operator")), qPrintable(link));

        // F5 lists again on a renewed connection and lifts the pause.
        f->sim.Faults.TrickleSeconds = 0;
        QVERIFY(f->run("refreshAction"));
        QTRY_COMPARE(f->session()->linkState(), HostSession::LinkState::LoggedOn);
        QVERIFY(f->waitIdle());
        QVERIFY(!f->action("pauseAction")->isChecked());
        QVERIFY(refreshTimer()->isActive());
        QCOMPARE(f->processes()->rows(), 43);
        QCOMPARE(f->sim.connectionCount(), 2);
    }

    void timeOutMidListKeepsRows()
    {
        // The one slow test: a reply time-out takes the real ten seconds. The
        // peer is scripted so that the process list stalls after one record.
        ScriptedHost host;
        host.answer = [](const QByteArray& request, int serial) -> QByteArray {
            if (request == "G")
                return framed("S123|30002 CNDSRVR|8|0") + framed("");
            if (request == "H123")
                return serial < 3 ? framed("P0123|201|CNDUSER|ALICE|1500")
                                  : framed("P0123|201|CNDUSER|ALICE|1500") +
                                        framed("P0123|205|CNDUSER|FRED|7") + framed("");
            return {};
        };
        f->create();
        f->host()->setSettings(simSettings(host.port()));
        QVERIFY(f->showAndConnect());
        QCOMPARE(f->prompts.messages.size(), 1);
        QVERIFY(f->prompts.messages[0].startsWith(QStringLiteral("WINSOCK error: 10060\n")));
        QCOMPARE(columnTexts(f->processTable(), 1), texts({"201"}));
        QCOMPARE(f->listeners()->rows(), 1);
        QVERIFY(!f->host()->isBusy());
        QVERIFY(refreshTimer()->isActive());

        // The end of the list arrives late. The connection is out of step: the
        // next refresh logs on afresh, so that late end is never read.
        QVERIFY(f->session()->isOutOfStep());
        host.send(framed(""));
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(f->listeners()->rows(), 1);
        QCOMPARE(columnTexts(f->processTable(), 1), texts({"201", "205"}));
        QCOMPARE(f->prompts.messages.size(), 1);
        QCOMPARE(f->status(),
                 QStringLiteral("The connection was renewed after the host fell out of step."));
        QVERIFY(!f->session()->isOutOfStep());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
