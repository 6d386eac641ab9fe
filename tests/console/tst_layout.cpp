// The main window's layout: boxes, splitter, button bar, menus, tab order,
// the resize rules and the column percentages, and the keyboard.

#include "ConsoleFixture.h"
#include "console/WidgetPrompts.h"

#include "console/PageSplitter.h"
#include "console/RecordItemDelegate.h"
#include "console/TrendsPane.h"
#include "session/HostSession.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

class TestLayout : public QObject
{
    Q_OBJECT

private:
    QRect geometryOf(const char* name) const { return f->find<QWidget>(name)->geometry(); }
    int listenerBoxHeight() const { return f->find<QGroupBox>("listenerBox")->height(); }
    void drag(int top) const
    {
        // The bar is taken at its top edge and let go where its top should be.
        QWidget* bar = f->find<PageSplitter>("splitter")->handle(1);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(100, 0));
        const QPoint to(100, top - bar->y());
        QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
    }
    QList<int> columnWidths(const RecordTableView* view) const
    {
        QList<int> widths;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            widths.append(view->columnWidth(c));
        return widths;
    }

    std::unique_ptr<ConsoleFixture> f;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ConsoleFixture>();
        f->useStandardHost();
        f->create();
    }

    void cleanup() { f.reset(); }

    void designLayout()
    {
        MainWindow& w = *f->window;
        QCOMPARE(f->find<QTimer>("refreshTimer")->interval(), 5000);
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // One menu bar above the host's page, the status line below it.
        QCOMPARE(f->page()->size(), QSize(715, 426));
        QCOMPARE(w.findChildren<QMenuBar*>().size(), 1);
        QCOMPARE(f->page()->mapTo(&w, QPoint(0, 0)), QPoint(0, w.menuBar()->height()));
        QCOMPARE(geometryOf("listenerBox"), QRect(0, 0, 715, 169));
        QCOMPARE(f->find<PageSplitter>("splitter")->handle(1)->geometry(), QRect(0, 169, 715, 8));
        QCOMPARE(geometryOf("processBox"), QRect(0, 177, 715, 209));
        QCOMPARE(geometryOf("buttonBar"), QRect(0, 386, 715, 40));
        QCOMPARE(f->find<QGroupBox>("listenerBox")->title(), QStringLiteral("Listeners"));
        QCOMPARE(f->listenerTable()->width(), 711);
        // The worked example: the shares of a 711-pixel table.
        QCOMPARE(columnWidths(f->listenerTable()), (QList<int>{48, 158, 274, 103, 103}));
        QCOMPARE(columnWidths(f->processTable()), (QList<int>{48, 48, 206, 274, 68}));
        QCOMPARE(f->listenerTable()->toolTip(), QStringLiteral("Listeners"));
        QCOMPARE(f->processTable()->toolTip(), QStringLiteral("User Processes"));
        QCOMPARE(f->listenerTable()->verticalHeader()->defaultSectionSize(), 18);
        QVERIFY(f->listenerTable()->verticalHeader()->isHidden());
        QCOMPARE(f->listenerTable()->selectionBehavior(), QAbstractItemView::SelectRows);
        const char* names[] = {"refreshButton", "startListenerButton", "killListenerButton",
                               "killProcessButton", "changePriorityButton"};
        const QStringList captions = texts(
            {"&Refresh", "&Start Listener", "Kill &Listener", "Kill &Process", "&Change Pri"});
        for (int i = 0; i < 5; ++i) {
            // (Change Pri has its place once shown.)
            if (i < 4)
                QCOMPARE(geometryOf(names[i]), QRect(8 + 112 * i, 8, 105, 25));
            QCOMPARE(f->find<QPushButton>(names[i])->text(), captions[i]);
        }
        QVERIFY(f->find<QPushButton>("changePriorityButton")->isHidden());
        QVERIFY(f->find<QPushButton>("stopListButton")->isHidden());
        // The file dialogs are made at their first use, over the window.
        QVERIFY(!f->find<QFileDialog>("openDialog"));
        WidgetPrompts prompts(f->window.get());
        QCOMPARE(prompts.fileDialog(false)->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(prompts.fileDialog(true)->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(prompts.fileDialog(false), f->find<QFileDialog>("openDialog"));
    }

    void menus()
    {
        auto captions = [](QMenu* menu) {
            QStringList list;
            for (QAction* a : menu->actions())
                list.append(a->isSeparator() ? QStringLiteral("-") : a->text());
            return list;
        };
        QMenu* file = f->find<QMenu>("fileMenu");
        QCOMPARE(file->title(), QStringLiteral("&File"));
        QCOMPARE(captions(file),
                 texts({"&Load", "&Save", "Save &As", "&Configure", "&Recent", "Pr&eferences...",
                        "-", "A&dd Host...", "Close Hos&t", "-", "S&hutdown Job", "-", "E&xit"}));
        QMenu* control = f->find<QMenu>("controlMenu");
        QCOMPARE(control->title(), QStringLiteral("C&ontrol"));
        QCOMPARE(captions(control),
                 texts({"&Refresh List", "Reco&nnect", "P&ause", "&Filter", "-", "&Start Listener",
                        "Kill &Listener", "-", "Kill &Process", "&Change Priority"}));
        QCOMPARE(f->action("refreshAction")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(f->action("killProcessAction")->shortcut(), QKeySequence(QKeySequence::Delete));
        QMenu* help = f->find<QMenu>("helpMenu");
        QCOMPARE(help->title(), QStringLiteral("&Help"));
        QCOMPARE(captions(help), texts({"Audit &Trail...", "-", "&About..."}));
        QMenu* view = f->find<QMenu>("viewMenu");
        QCOMPARE(view->title(), QStringLiteral("&View"));
        QCOMPARE(captions(view), texts({"&Trends", "-", "&Notify When"}));
        QCOMPARE(f->action("exitAction")->shortcut()[0].toCombined(), 0x08000000 | Qt::Key_X);
        QCOMPARE(f->action("stopListAction")->shortcut(), QKeySequence(Qt::Key_Escape));
        QVERIFY(f->action("changePriorityAction")->isVisible());
        // Help, About... is the program's to show.
        QSignalSpy about(f->window.get(), &MainWindow::aboutRequested);
        f->action("aboutAction")->trigger();
        QCOMPARE(about.count(), 1);
    }

    // The splitter bar stops 80 pixels short of either end, a short window
    // moves it, and the window keeps its minimum size unless maximized.
    // CPU times are drawn right-aligned, so that their decimal points line
    // up, and a time wider than its column's share widens the column.
    void cpuTimesAlignAndFit_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<qint64>("cpuMs");
        QTest::newRow("715, a time that fits") << 715 << qint64(123456);
        QTest::newRow("715, a time wider than the share") << 715 << qint64(12345678901);
        QTest::newRow("400 wide") << 400 << qint64(123456);
    }

    void cpuTimesAlignAndFit()
    {
        QFETCH(int, width);
        QFETCH(qint64, cpuMs);
        f->sim.Processes[1].CpuMs = cpuMs; // BOB's; ALICE has 1.500, CAROL 0.000
        QVERIFY(f->showAndConnect());
        f->window->resize(width, f->window->height());
        RecordTableView* view = f->processTable();
        const int column = int(ProcessColumn::CpuTime);
        QTRY_COMPARE(f->page()->width(), width);
        QCoreApplication::processEvents();
        for (int row = 0; row < 3; ++row) {
            const QModelIndex cell = view->model()->index(row, column);
            QStyleOptionViewItem option;
            option.initFrom(view);
            option.widget = view;
            option.rect = view->visualRect(cell);
            QVERIFY2(!view->itemDelegate()->isElided(option, cell),
                     qPrintable(cell.data().toString()));
        }
        // The last digit of every time at the same distance from the right.
        const QImage image = view->viewport()->grab().toImage();
        const QColor background = image.pixelColor(
            view->visualRect(view->model()->index(2, 0)).adjusted(1, 1, -1, -1).bottomRight());
        QList<int> rightmost;
        for (int row = 0; row < 3; ++row) {
            const QRect rect = view->visualRect(view->model()->index(row, column));
            int inked = -1;
            for (int x = rect.left() + 1; x < rect.right() - 1; ++x)
                for (int y = rect.top() + 2; y < rect.bottom() - 2; ++y)
                    if (row != 0 && qGray(image.pixel(x, y)) < qGray(background.rgb()) - 80)
                        inked = x;
            // Row 0 is selected (its colours differ): only the others are read.
            if (row != 0)
                rightmost.append(inked);
        }
        QVERIFY(rightmost[0] > 0);
        QCOMPARE(rightmost[1], rightmost[0]);
    }

    // The trends are readable in a window of 1000 x 800, and dark under a
    // dark palette; in the window's first size they leave the processes room.
    void trendsPaneReadable_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light palette") << false;
        QTest::newRow("dark palette") << true;
    }

    void trendsPaneReadable()
    {
        QFETCH(bool, dark);
        QVERIFY(f->showAndConnect());
        if (dark) {
            QPalette palette(QColor(53, 53, 53));
            palette.setColor(QPalette::Base, QColor(30, 30, 30));
            palette.setColor(QPalette::Text, Qt::white);
            palette.setColor(QPalette::WindowText, Qt::white);
            f->window->setPalette(palette);
        }
        f->window->resize(715, 480);
        f->page()->setTrendsShown(true);
        QTRY_VERIFY2(geometryOf("processBox").height() >= 100,
                     qPrintable(QString::number(geometryOf("processBox").height())));
        f->window->resize(1000, 800);
        auto* pane = f->find<TrendsPane>("trendsPane");
        QVERIFY(pane);
        QTRY_VERIFY2(pane->plotArea(0).height() >= 200,
                     qPrintable(QString::number(pane->plotArea(0).height())));
        // The process box keeps room for its rows.
        QVERIFY(geometryOf("processBox").height() >= 150);
        const QImage plot = pane->chartViewport(1)->grab().toImage();
        const QPoint centre = pane->plotArea(1).center().toPoint();
        QCOMPARE(plot.pixelColor(centre).lightness() < 128, dark);
    }

    void splitterAndResizeRules()
    {
        MainWindow& w = *f->window;
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(f->page()->height(), 426);
        drag(10);
        QCOMPARE(listenerBoxHeight(), 80);
        drag(400);
        QCOMPARE(listenerBoxHeight(), 426 - 40 - 8 - 80);
        QCOMPARE(geometryOf("processBox").height(), 80);
        drag(169);
        QCOMPARE(listenerBoxHeight(), 169);
        // Through a move while the button is held.
        QWidget* bar = f->find<PageSplitter>("splitter")->handle(1);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(100, 4));
        QMouseEvent move(QEvent::MouseMove, QPointF(100, 4 - 200),
                         bar->mapToGlobal(QPointF(100, -196)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        QCOMPARE(listenerBoxHeight(), 80);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(100, -196));
        drag(169);

        const int menu = w.height() - f->page()->height();
        // Client height 280: 280 - 120 < 169, so the splitter goes to 280 - 127.
        w.resize(715, 280 + menu);
        QTRY_COMPARE(f->page()->height(), 280);
        QCOMPARE(listenerBoxHeight(), 153);
        QCOMPARE(geometryOf("processBox").height(), 79);
        // Growing again leaves the listener box where it is.
        w.resize(715, 600 + menu);
        QTRY_COMPARE(f->page()->height(), 600);
        QCOMPARE(listenerBoxHeight(), 153);
        QCOMPARE(geometryOf("processBox").height(), 600 - 153 - 8 - 40);

        w.resize(300, 200);
        QTRY_COMPARE(w.frameGeometry().size(), QSize(400, 300));
        w.resize(350, 500);
        QTRY_COMPARE(w.frameGeometry().width(), 400);
        QVERIFY(w.frameGeometry().height() >= 500);
        // A maximized window is not held to the minimum.
        w.showMaximized();
        QTRY_VERIFY(w.isMaximized());
    }

    // Space meant for the pause never answers a dialog that has just
    // opened; Enter still does.
    void spaceNeverAnswersADialog()
    {
        f->create();
        QDialog dialog(f->window.get());
        auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
        ok->setAutoDefault(true);
        QSignalSpy clicked(ok, &QPushButton::clicked);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        ok->setFocus();
        QTest::keyClick(ok, Qt::Key_Space);
        QCOMPARE(clicked.count(), 0);
        QTest::keyClick(ok, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
    }

    void keyboardTabStopsAndFocus()
    {
        QVERIFY(f->showAndConnect());
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        // After the connection Refresh has the focus, and shows it.
        QTRY_COMPARE(QApplication::focusWidget(), f->find<QWidget>("refreshButton"));
        auto* refreshButton = f->find<QPushButton>("refreshButton");
        const QImage focused = refreshButton->grab().toImage();
        f->listenerTable()->setFocus();
        QVERIFY(focused != refreshButton->grab().toImage());
        refreshButton->setFocus();
        const qsizetype mark = f->mark();
        // Each table is one Tab stop: Tab leaves it at once (the process
        // table's next stop is the first button again), the selected
        // listener stays and no process list is asked for; Shift+Tab goes
        // back the same way.
        const QList<const char*> stops = {"startListenerButton", "killListenerButton",
                                          "killProcessButton",   "listenerTable",
                                          "processTable",        "refreshButton"};
        for (const char* name : stops) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), f->find<QWidget>(name));
        }
        for (qsizetype i = stops.size() - 2; i >= 0; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), f->find<QWidget>(stops[i]));
        }
        QCOMPARE(f->listenerRow(), 0);
        QVERIFY(f->waitIdle());
        QCOMPARE(f->receivedSince(mark), QByteArray());
        // Arrows move within a table.
        f->listenerTable()->setFocus();
        QTest::keyClick(f->listenerTable(), Qt::Key_Down);
        QCOMPARE(f->listenerRow(), 1);
        QVERIFY(f->waitIdle());
        // Space on a focused button pauses and never presses it.
        auto* start = f->find<QPushButton>("startListenerButton");
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Space);
        QVERIFY(f->action("pauseAction")->isChecked());
        QTest::keyClick(start, Qt::Key_Space);
        QVERIFY(!f->action("pauseAction")->isChecked());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // (Resuming lists at once.)
        QVERIFY(f->waitIdle());
        // A focused Refresh that a refresh disables hands the focus to the
        // listener table, not to Start Listener.
        auto* refresh = f->find<QPushButton>("refreshButton");
        refresh->setFocus();
        QTest::keyClick(refresh, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(QApplication::focusWidget(), f->listenerTable());
        QVERIFY(f->waitIdle());
        QCOMPARE(QApplication::focusWidget(), f->listenerTable());
        // A connection that comes back leaves the focus where it was: only
        // the first one moves it to Refresh.
        f->processTable()->setFocus();
        QVERIFY(f->run("reconnectAction"));
        QVERIFY(f->waitIdle());
        QTRY_COMPARE(f->session()->linkState(), HostSession::LinkState::LoggedOn);
        QCOMPARE(QApplication::focusWidget(), f->processTable());
        // Alt+X ends the window and the host.
        QTest::keyClick(f->window.get(), Qt::Key_X, Qt::AltModifier);
        QTRY_VERIFY(!f->window->isVisible());
        QVERIFY(f->closing());
    }
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
