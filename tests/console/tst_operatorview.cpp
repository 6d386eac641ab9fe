// The operator's view around the tables: commands act on the row chosen
// whatever the sort and filter, the link coming back (or not) as the window
// sees it, rows kept after a drop, what is remembered between runs, and the
// shapes of copied and exported rows.

#include "ConsoleFixture.h"

#include "console/PageSplitter.h"
#include "session/Reconnector.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>

class TestOperatorView : public QObject
{
    Q_OBJECT

private:
    // Clicks on a column's title: once sorts ascending, twice descending.
    static void clickHeader(RecordTableView* view, int column, int clicks = 1)
    {
        QHeaderView* header = view->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    QString link() const { return f->find<QLabel>("linkLabel")->text(); }

    std::unique_ptr<ConsoleFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ConsoleFixture>();
        f->sim.Listeners = {listener("123", "30002", "CNDSRVR", "8"),
                            listener("124", "30004", "VGDSRVR", "16", "050")};
        f->sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                            process("123", "123", "202", "CNDUSER", "BOB", 123456, 3),
                            process("123", "123", "210", "CNDUSER", "ZOE", 9000),
                            process("123", "123", "1000", "CNDUSER", "ANN", 50)};
    }

    void cleanup()
    {
        f.reset();
        QLocale::setDefault(QLocale::system());
    }

    void commandsActOnChosenPin_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks"); // 1 ascending, 2 descending
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("viewRow");
        QTest::addColumn<bool>("deleteKey");
        QTest::addColumn<QByteArray>("pin");

        // PINs as numbers: 1000 is the highest, not the lowest.
        QTest::newRow("pin descending") << 1 << 2 << QString() << 0 << false << QByteArray("1000");
        QTest::newRow("cpu time ascending")
            << 4 << 1 << QString() << 2 << false << QByteArray("210");
        QTest::newRow("filter only")
            << -1 << 0 << QStringLiteral("o") << 1 << false << QByteArray("210");
        QTest::newRow("filter, user descending, Delete key")
            << 3 << 2 << QStringLiteral("O") << 1 << true << QByteArray("202");
    }

    void commandsActOnChosenPin()
    {
        QFETCH(int, column);
        QFETCH(int, clicks);
        QFETCH(QString, filter);
        QFETCH(int, viewRow);
        QFETCH(bool, deleteKey);
        QFETCH(QByteArray, pin);

        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        RecordTableView* view = f->processTable();
        clickHeader(view, column, clicks);
        if (!filter.isEmpty())
            f->find<QLineEdit>("processesFilter")->setText(filter);
        f->chooseProcess(viewRow);
        // New rows in front of both tables: a refresh keeps the choices on
        // their PINs, in whatever rows they now show.
        f->sim.Listeners.prepend(listener("100", "30001", "PCLSRVR", "2"));
        f->sim.Processes.prepend(process("123", "123", "200", "CNDUSER", "ZED", 1));
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(f->listenerRow(), 1);
        QCOMPARE(f->listeners()->cell(1, ListenerColumn::Pin), QByteArrayView("123"));
        QCOMPARE(f->processes()->cell(f->processRow(), ProcessColumn::Pin).toByteArray(), pin);

        f->prompts.confirmAnswers = {true};
        const qsizetype mark = f->mark();
        if (deleteKey) {
            view->setFocus();
            QTest::keyClick(view, Qt::Key_Delete);
            QVERIFY(f->waitIdle());
        } else {
            QVERIFY(f->run("killProcessAction"));
        }
        QCOMPARE(f->prompts.confirmations.size(), 1);
        QVERIFY(f->prompts.confirmations[0].contains(QString::fromLatin1("Kill Process:" + pin)));
        QVERIFY(f->receivedSince(mark).startsWith(framed("K") + framed("P123|" + pin)));
    }

    // Every key that moves the row frame selects the row it lands on, and
    // the command's confirmation is about that row, scrolled into view.
    void keysMoveTheOneTarget_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QByteArray>("pin"); // of the row that Delete then kills

        QTest::newRow("Ctrl+End") << int(Qt::Key_End) << int(Qt::ControlModifier)
                                  << QByteArray("2040");
        QTest::newRow("Ctrl+Home")
            << int(Qt::Key_Home) << int(Qt::ControlModifier) << QByteArray("2001");
        QTest::newRow("Ctrl+Down")
            << int(Qt::Key_Down) << int(Qt::ControlModifier) << QByteArray("2004");
        // End goes to the row's last cell: the row stays the target.
        QTest::newRow("End") << int(Qt::Key_End) << int(Qt::NoModifier) << QByteArray("2003");
        QTest::newRow("Up") << int(Qt::Key_Up) << int(Qt::NoModifier) << QByteArray("2002");
    }

    void keysMoveTheOneTarget()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QByteArray, pin);
        f->sim.Processes.clear();
        for (int p = 2001; p <= 2040; ++p)
            f->sim.Processes.append(
                process("123", "123", QByteArray::number(p), "CNDUSER", "USER", 10));
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        RecordTableView* view = f->processTable();
        f->chooseProcess(2);
        QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(f->processes()->cell(f->processRow(), ProcessColumn::Pin).toByteArray(), pin);
        QCOMPARE(view->currentIndex().row(), view->selectionModel()->selectedRows().value(0).row());

        // Scrolled away by the operator, the row comes back into view before
        // its confirmation.
        view->scrollTo(view->model()->index(key == Qt::Key_Home || key == Qt::Key_Up ? 39 : 0, 0));
        f->prompts.confirmAnswers = {true};
        QRect shown;
        f->prompts.onConfirm = [&] { shown = view->visualRect(view->currentIndex()); };
        const qsizetype mark = f->mark();
        QTest::keyClick(view, Qt::Key_Delete);
        QVERIFY(f->waitIdle());
        QVERIFY(view->viewport()->rect().contains(shown));
        QVERIFY(f->receivedSince(mark).startsWith(framed("K") + framed("P123|" + pin)));
    }

    // A row the frame marks but a Ctrl+click deselected is no target, even
    // while another row stays selected: Delete asks nothing and sends nothing.
    void deselectedFrameIsNoTarget()
    {
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        RecordTableView* view = f->processTable();
        f->chooseProcess(0);
        const QPoint third = view->visualRect(view->model()->index(2, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, third);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, third);
        QCOMPARE(view->currentIndex().row(), 2);
        QCOMPARE(view->selectedRows(), std::vector<int>{0});
        f->prompts.confirmAnswers = {true};
        const qsizetype mark = f->mark();
        QTest::keyClick(view, Qt::Key_Delete);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->prompts.confirmations, QStringList());
        QVERIFY(!f->receivedSince(mark).contains(framed("K")));
    }

    // The rows under the process box's caption are that listener's: a slow
    // host's old rows go as soon as another listener is asked for, and a
    // listener that left the list says so instead of standing over nothing.
    void processCaptionOwnsItsRows()
    {
        f->sim.Processes.append(process("124", "124", "301", "VGDUSER", "DAVE", 7));
        QVERIFY(f->showAndConnect());
        QCOMPARE(f->processes()->rows(), 4);
        auto* box = f->find<QGroupBox>("processBox");

        f->sim.Faults.ReplyDelaySeconds = 1.5;
        f->chooseListener(1);
        QTRY_COMPARE(box->title(),
                     QStringLiteral("User Processes for (124:Vanguard:VGDSRVR:30004)"));
        QVERIFY(f->session()->isBusy());
        QCOMPARE(f->processTable()->model()->rowCount(), 0);
        QVERIFY(f->waitIdle());
        QCOMPARE(columnTexts(f->processTable(), int(ProcessColumn::User)), texts({"DAVE"}));

        f->sim.Faults.ReplyDelaySeconds = 0;
        f->sim.Listeners.removeLast();
        QVERIFY(f->run("refreshAction"));
        QCOMPARE(box->title(),
                 QStringLiteral("User Processes for (124:Vanguard:VGDSRVR:30004): the listener "
                                "is gone"));
        QCOMPARE(f->processTable()->model()->rowCount(), 0);
        // The next refresh changes nothing of it; a choice names its listener.
        QVERIFY(f->run("refreshAction"));
        QVERIFY(box->title().endsWith(QStringLiteral("gone")));
        f->chooseListener(0);
        QVERIFY(f->waitIdle());
        QCOMPARE(box->title(), QStringLiteral("User Processes for (123:Conduit:CNDSRVR:30002)"));
        QCOMPARE(f->processes()->rows(), 4);
    }

    void linkComesBackOrNot_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("status"); // the link part of the status line afterwards
        QTest::addColumn<bool>("waiting");   // another attempt is planned

        QTest::newRow("comes back")
            << QStringLiteral("drop") << QStringLiteral("^Connected$") << false;
        QTest::newRow("refused connection, backing off")
            << QStringLiteral("no host") << QStringLiteral("^Reconnecting in \\d+ s \\(10061 ")
            << true;
        QTest::newRow("never after a refused logon")
            << QStringLiteral("refused")
            << QStringLiteral("^Disconnected since .*: Invalid Login!$") << false;
        QTest::newRow("never after Shutdown Job")
            << QStringLiteral("shutdown") << QString() << false;
        QTest::newRow("never while closing") << QStringLiteral("close") << QString() << false;
    }

    void linkComesBackOrNot()
    {
        QFETCH(QString, how);
        QFETCH(QString, status);
        QFETCH(bool, waiting);

        QVERIFY(f->showAndConnect());
        Reconnector* reconnector = f->host()->reconnector();
        reconnector->setDelays(100, 800);
        reconnector->setEnabled(true);
        const int messages = f->prompts.messages.size();
        QSignalSpy attempts(reconnector, &Reconnector::attemptStarted);

        if (how == QLatin1String("shutdown")) {
            f->prompts.confirmAnswers = {true};
            f->action("shutdownJobAction")->trigger();
            QTRY_VERIFY(f->closing());
        } else if (how == QLatin1String("close")) {
            f->window->close();
            QVERIFY(f->closing());
        } else {
            if (how == QLatin1String("refused"))
                f->sim.Credentials[4] = "OTHER";
            if (how == QLatin1String("no host")) {
                // The host is gone: nothing listens on its port any more.
                ConnectionSettings settings = f->session()->settings();
                QTcpServer unused;
                QVERIFY(unused.listen(QHostAddress::LocalHost));
                settings.Port = unused.serverPort();
                unused.close();
                f->session()->setSettings(settings);
            }
            f->session()->disconnectFromHost(); // the link drops
            QVERIFY(attempts.wait(5000));
            if (how == QLatin1String("no host"))
                QVERIFY(attempts.wait(5000)); // and again, later
            else
                QTRY_VERIFY(!f->session()->isBusy() &&
                            f->session()->linkState() != HostSession::LinkState::Connecting);
            QTRY_VERIFY2(QRegularExpression(status).match(link()).hasMatch(), qPrintable(link()));
        }
        if (waiting)
            QTRY_VERIFY(reconnector->isWaiting());
        else
            QVERIFY(!reconnector->isWaiting());
        if (how == QLatin1String("no host")) {
            // Each wait twice the one before.
            QVERIFY(reconnector->currentDelayMs() >= 200);
        }
        if (how == QLatin1String("drop")) {
            QTRY_VERIFY(!f->listeners()->isStale());
            QVERIFY(f->action("killListenerAction")->isEnabled());
            QCOMPARE(reconnector->reconnections(), 1);
        } else if (how != QLatin1String("shutdown") && how != QLatin1String("close")) {
            // The window stays open on greyed rows, with nothing to ask about.
            QVERIFY(!f->closing());
            QVERIFY(f->listeners()->isStale());
            QCOMPARE(f->listeners()->rows(), 2);
            QCOMPARE(f->prompts.messages.size(), messages);
        } else {
            QCOMPARE(attempts.count(), 0);
        }
    }

    void settingsRoundTrip()
    {
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowExposed(f->window.get()));
        RecordTableView* view = f->processTable();
        clickHeader(view, 4, 2); // CPU time, descending
        f->find<QLineEdit>("processesFilter")->setText(QStringLiteral("o"));
        // The operator drags the right edge of the user column 30 pixels on.
        QHeaderView* header = view->horizontalHeader();
        const int edge = header->sectionViewportPosition(3) + header->sectionSize(3) - 1;
        const int userWidth = header->sectionSize(3) + 30;
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, 5));
        QMouseEvent drag(QEvent::MouseMove, QPointF(edge + 30, 5),
                         header->viewport()->mapToGlobal(QPointF(edge + 30, 5)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(header->viewport(), &drag);
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + 30, 5));
        QCOMPARE(header->sectionSize(3), userWidth);
        // A resize of the window no longer sets the widths.
        f->window->resize(f->window->size() + QSize(40, 0));
        QTRY_COMPARE(header->sectionSize(3), userWidth);
        QWidget* bar = f->find<PageSplitter>("splitter")->handle(1);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(100, 0));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(100, 120 - bar->y()));
        f->prompts.dialogs.push_back([](QDialog& d) {
            d.findChild<QCheckBox*>(QStringLiteral("autoReconnectBox"))->setChecked(false);
            return int(QDialog::Accepted);
        });
        QVERIFY(f->run("preferencesAction"));
        f->prompts.saveAnswer = f->settingsDir.filePath(QStringLiteral("host.hcf"));
        QVERIFY(f->run("saveAsAction"));
        f->window->close();
        f->window.reset();

        // The next run, on the same settings.
        f->create();
        QVERIFY(f->showAndConnect());
        view = f->processTable();
        QCOMPARE(view->horizontalHeader()->sortIndicatorSection(), 4);
        QCOMPARE(view->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(view->columnWidth(3), userWidth);
        QCOMPARE(f->find<QGroupBox>("listenerBox")->height(), 120);
        QCOMPARE(f->find<QLineEdit>("processesFilter")->text(), QStringLiteral("o"));
        QCOMPARE(rowTexts(view, 0).at(1), QStringLiteral("202")); // BOB, 123.456 s
        QCOMPARE(view->model()->rowCount(), 2);
        QCOMPARE(f->find<QLabel>("countsLabel")->text(),
                 QStringLiteral("2 listeners \u00b7 2 of 4 processes shown"));
        const QList<QAction*> recent = f->find<QMenu>("recentMenu")->actions();
        QCOMPARE(recent.size(), 1);
        QVERIFY(recent[0]->text().endsWith(QStringLiteral("/host.hcf")));
        bool autoReconnect = true;
        f->prompts.dialogs.push_back([&autoReconnect](QDialog& d) {
            autoReconnect =
                d.findChild<QCheckBox*>(QStringLiteral("autoReconnectBox"))->isChecked();
            return int(QDialog::Rejected);
        });
        QVERIFY(f->run("preferencesAction"));
        QVERIFY(!autoReconnect);
    }

    void copyAndExportShapes_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("decimalComma"); // the operator's locale writes 1,5
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("copy: the selected rows under a header line")
            << QStringLiteral("copy") << false
            << QByteArray("Main\tPin\tProgram\tUser\tCPU Time\tPri\n"
                          "123\t202\tCNDUSER\tBOB\t123.456\tDS\n"
                          "123\t210\tCNDUSER\tZOE\t9.000\t\n");
        QTest::newRow("processes as CSV, shown rows in the order shown")
            << QStringLiteral("processes.csv") << false
            << QByteArray("main_pin,pin,program,user,cpu_ms,cpu_seconds,priority\n"
                          "123,202,CNDUSER,BOB,123456,123.456,DS\n"
                          "123,210,CNDUSER,ZOE,9000,9.000,\n");
        QTest::newRow("processes as JSON")
            << QStringLiteral("processes.json") << false
            << QByteArray("[\n"
                          "  {\"main_pin\": 123, \"pin\": 202, \"program\": \"CNDUSER\", "
                          "\"user\": \"BOB\", \"cpu_ms\": 123456, \"cpu_seconds\": 123.456, "
                          "\"priority\": \"DS\"},\n"
                          "  {\"main_pin\": 123, \"pin\": 210, \"program\": \"CNDUSER\", "
                          "\"user\": \"ZOE\", \"cpu_ms\": 9000, \"cpu_seconds\": 9.000, "
                          "\"priority\": null}\n"
                          "]\n");
        // Under a decimal-comma locale the copied cells are as shown; the file keeps its point.
        QTest::newRow("copy, decimal comma")
            << QStringLiteral("copy") << true
            << QByteArray("Main\tPin\tProgram\tUser\tCPU Time\tPri\n"
                          "123\t202\tCNDUSER\tBOB\t123,456\tDS\n"
                          "123\t210\tCNDUSER\tZOE\t9,000\t\n");
        QTest::newRow("CSV, decimal comma")
            << QStringLiteral("processes.csv") << true
            << QByteArray("main_pin,pin,program,user,cpu_ms,cpu_seconds,priority\n"
                          "123,202,CNDUSER,BOB,123456,123.456,DS\n"
                          "123,210,CNDUSER,ZOE,9000,9.000,\n");
    }

    void copyAndExportShapes()
    {
        QFETCH(QString, what);
        QFETCH(bool, decimalComma);
        QFETCH(QByteArray, expected);
        if (decimalComma)
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

        QVERIFY(f->showAndConnect());
        RecordTableView* view = f->processTable();
        // Shown: BOB and ZOE, by CPU time descending.
        f->find<QLineEdit>("processesFilter")->setText(QStringLiteral("o"));
        clickHeader(view, 4, 2);
        QByteArray got;
        if (what == QLatin1String("copy")) {
            view->selectAll();
            f->action("processesCopyAction")->trigger();
            got = QApplication::clipboard()->text().toUtf8();
        } else {
            const QString table = what.section(QLatin1Char('.'), 0, 0);
            f->prompts.saveAnswer = f->settingsDir.filePath(what);
            f->action(qPrintable(table + QStringLiteral("ExportAction")))->trigger();
            QFile file(f->prompts.saveAnswer);
            QVERIFY(file.open(QIODevice::ReadOnly));
            got = file.readAll();
        }
        QCOMPARE(got, expected);
    }
};

QTEST_MAIN(TestOperatorView)
#include "tst_operatorview.moc"
