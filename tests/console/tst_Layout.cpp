// The main window's layout: boxes, splitter, button bar, menus, tab order,
// the resize rules and the column percentages, and Alt+X.

#include "SplitterBar.h"
#include "StringGrid.h"
#include "TestSupport.h"

#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class tst_Layout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void designLayout();
    void menus();
    void workedExampleColumns();
    void minimumSizeInNormalState();
    void shortWindowMovesSplitter();
    void splitterDragStopsAt80();
    void priorityColumnGetsSixPercentOnResize();
    void altXExits();

private:
    std::unique_ptr<TMainAppForm> w;
    ScriptedPrompts prompts;
    RecordingEventLog log;
};

void tst_Layout::init()
{
    w = std::make_unique<TMainAppForm>(MainFormDeps{&prompts, &log, {}, {}});
    w->FirstShow = false; // layout only: no connection on show
}

void tst_Layout::cleanup()
{
    w.reset();
}

void tst_Layout::designLayout()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->centralWidget()->size(), QSize(715, 426));
    QCOMPARE(w->GroupBox1->geometry(), QRect(0, 0, 715, 169));
    QCOMPARE(w->Splitter1->geometry(), QRect(0, 169, 715, 8));
    QCOMPARE(w->GroupBox2->geometry(), QRect(0, 177, 715, 209));
    QCOMPARE(w->Panel1->geometry(), QRect(0, 386, 715, 40));
    QCOMPARE(w->GroupBox1->title(), QStringLiteral("Listeners"));
    QCOMPARE(w->GroupBox2->title(), QStringLiteral("User Processes"));
    QCOMPARE(w->ListenerArray->width(), 711);
    QCOMPARE(w->ListenerArray->toolTip(), QStringLiteral("Listeners"));
    QCOMPARE(w->ProcessArray->toolTip(), QStringLiteral("User Processes"));
    QCOMPARE(w->ListenerArray->RowCount(), 2);
    QCOMPARE(w->ListenerArray->verticalHeader()->defaultSectionSize(), 18);

    const QList<QPushButton*> buttons{w->btnManualRefresh, w->btnStartListener, w->btnKillListener,
                                      w->btnKillProcess, w->BtnChangePri};
    const QStringList captions{QStringLiteral("&Refresh"), QStringLiteral("&Start Listener"),
                               QStringLiteral("Kill &Listener"), QStringLiteral("Kill &Process"),
                               QStringLiteral("&Change Pri")};
    for (int i = 0; i < buttons.size(); ++i) {
        QCOMPARE(buttons[i]->geometry(), QRect(8 + 112 * i, 8, 105, 25));
        QCOMPARE(buttons[i]->text(), captions[i]);
    }
    QVERIFY(w->BtnChangePri->isHidden());
    // Tab order: Change Pri, the other four, the listeners, the processes.
    QWidget* chain[] = {w->BtnChangePri,    w->btnManualRefresh, w->btnStartListener,
                        w->btnKillListener, w->btnKillProcess,   w->ListenerArray,
                        w->ProcessArray};
    auto nextTabStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
        QCOMPARE(nextTabStop(chain[i]), chain[i + 1]);
    QVERIFY(!w->Timer1->isActive());
    QCOMPARE(w->Timer1->interval(), 5000);
    QVERIFY(w->dlgOpen && w->dlgSave);
    QCOMPARE(w->dlgOpen->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(w->dlgSave->acceptMode(), QFileDialog::AcceptSave);
}

void tst_Layout::menus()
{
    auto captions = [](QMenu* menu) {
        QStringList list;
        for (QAction* a : menu->actions())
            list.append(a->isSeparator() ? QStringLiteral("-") : a->text());
        return list;
    };
    QCOMPARE(w->File1->title(), QStringLiteral("&File"));
    QCOMPARE(captions(w->File1),
             L({"&Load", "&Save", "Save &As", "&Configure", "-", "Shutdown Job", "-", "E&xit"}));
    QCOMPARE(w->Control1->title(), QStringLiteral("C&ontrol"));
    QCOMPARE(captions(w->Control1), L({"Refresh List", "-", "Start Listener", "Kill Listener", "-",
                                       "Kill Process", "Change Priority"}));
    QCOMPARE(w->Help1->title(), QStringLiteral("&Help"));
    QCOMPARE(captions(w->Help1), L({"&About..."}));
    QCOMPARE(w->menuExit->shortcut(), QKeySequence(Qt::ALT | Qt::Key_X));
    QCOMPARE(w->menuExit->shortcut()[0].toCombined(), 0x08000000 | Qt::Key_X);
    QVERIFY(w->ChangePriority1->isVisible());
}

void tst_Layout::workedExampleColumns()
{
    w->FormResize();
    QCOMPARE(w->ListenerArray->width(), 711);
    QList<int> listener;
    for (int c = 0; c < 5; ++c)
        listener.append(w->ListenerArray->ColWidth(c));
    QCOMPARE(listener, (QList<int>{48, 158, 274, 103, 103}));
    QList<int> process;
    for (int c = 0; c < 5; ++c)
        process.append(w->ProcessArray->ColWidth(c));
    QCOMPARE(process, (QList<int>{48, 48, 206, 274, 68}));
}

void tst_Layout::minimumSizeInNormalState()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->resize(300, 200);
    QTRY_COMPARE(w->OuterSize(), QSize(400, 300));
    w->resize(350, 500);
    QTRY_COMPARE(w->OuterSize().width(), 400);
    QVERIFY(w->OuterSize().height() >= 500);
    // A maximized window is not held to the minimum (nor would it need to be):
    // the rule is not applied, and the splitter rule still is.
    w->showMaximized();
    QTRY_VERIFY(w->isMaximized());
}

void tst_Layout::shortWindowMovesSplitter()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const int menu = w->height() - w->centralWidget()->height();
    // Client height 280: 280 - 120 < 169, so the splitter goes to 280 - 127.
    w->resize(715, 280 + menu);
    QTRY_COMPARE(w->centralWidget()->height(), 280);
    QCOMPARE(w->ListenerBoxHeight(), 153);
    QCOMPARE(w->GroupBox2->height(), 79);
    // Growing again leaves the listener box where it is.
    w->resize(715, 600 + menu);
    QTRY_COMPARE(w->centralWidget()->height(), 600);
    QCOMPARE(w->ListenerBoxHeight(), 153);
    QCOMPARE(w->GroupBox2->height(), 600 - 153 - 8 - 40);
}

void tst_Layout::splitterDragStopsAt80()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->centralWidget()->height(), 426);
    w->SplitterDragged(10);
    QCOMPARE(w->ListenerBoxHeight(), 80);
    w->SplitterDragged(400);
    QCOMPARE(w->ListenerBoxHeight(), 426 - 40 - 8 - 80);
    QCOMPARE(w->GroupBox2->height(), 80);
    // Through the mouse.
    w->SplitterDragged(169);
    QTest::mousePress(w->Splitter1, Qt::LeftButton, {}, QPoint(100, 4));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 4 - 200),
                     w->Splitter1->mapToGlobal(QPointF(100, -196)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w->Splitter1, &move);
    QTest::mouseRelease(w->Splitter1, Qt::LeftButton, {}, QPoint(100, -196));
    QCOMPARE(w->ListenerBoxHeight(), 80);
}

void tst_Layout::priorityColumnGetsSixPercentOnResize()
{
    w->FormResize();
    w->ProcessArray->SetColCount(6);
    w->FormResize();
    QCOMPARE(w->ProcessArray->ColWidth(5), 41);
}

void tst_Layout::altXExits()
{
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QVERIFY(w->isVisible());
    QTest::keyClick(w.get(), Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(w->IsClosing());
}

QTEST_MAIN(tst_Layout)
#include "tst_Layout.moc"
