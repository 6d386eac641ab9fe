// Every value readable: cut cells tell their whole text, the status line
// drops whole parts, counts read as English, hosts get colours of their own
// and message boxes show their whole title. The table view under the
// window's tables tells the operator's choices apart from selections made in
// code, and a row that is not there selects nothing.

#include "ConsoleFixture.h"

#include "console/ConsoleStatusBar.h"
#include "console/HostPalette.h"
#include "console/TableFilterBar.h"
#include "console/WidgetPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolTip>

#include <array>
#include <tuple>

namespace {

// The tooltip shown for a help event at a cell's centre; empty when none.
QString tooltipAt(RecordTableView* view, int row, int column)
{
    QToolTip::hideText();
    const QModelIndex index = view->model()->index(row, column);
    const QPoint at = view->visualRect(index).center();
    QHelpEvent event(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// A table view on four rows of three cells.
struct SmallTable
{
    SmallTable()
    {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                model.setItem(r, c, new QStandardItem(QStringLiteral("%1/%2").arg(r).arg(c)));
        view.setModel(&model);
        view.resize(300, 200);
    }
    QStandardItemModel model{4, 3};
    RecordTableView view;
};

} // namespace

class TestReadable : public QObject
{
    Q_OBJECT

    static QString u(const char* text) { return QString::fromUtf8(text); }

private Q_SLOTS:
    // A cell cut by its column's width tells its whole value ("   1.500" shown,
    // the value without its padding told); a cell that fits tells nothing.
    void cellTooltipOnlyWhenCut()
    {
        ConsoleFixture f;
        f.useStandardHost();
        QVERIFY(f.showAndConnect());
        RecordTableView* view = f.processTable();
        // Row 0 is ALICE's process, 1.5 s of CPU time.
        QCOMPARE(rowTexts(view, 0).at(int(ProcessColumn::User)), QStringLiteral("ALICE"));
        using C = ProcessColumn;
        for (const auto& [column, width, tooltip] : {std::tuple{C::CpuTime, 30, "1.500"},
                                                     {C::CpuTime, 200, ""},
                                                     {C::User, 14, "ALICE"},
                                                     {C::User, 200, ""}}) {
            view->setColumnWidth(int(column), width);
            const QString shown = tooltipAt(view, 0, int(column));
            if (*tooltip)
                QCOMPARE(shown, u(tooltip));
            else
                QVERIFY2(!shown.contains(u("ALICE")) && !shown.contains(u("1.500")),
                         qPrintable(shown));
        }
    }

    void statusLineDropsWholeParts_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("listing");
        QTest::addColumn<QString>("shown");
        const QString idle;
        const QString link = u("Disconnected since 13:28:50: host closed the connection");
        const QString stopped =
            u("The list was stopped after 4,000 records; the connection will be renewed.");
        const QString progress = u("Listing processes\u2026 12,345");
        QTest::newRow("800, all fit")
            << 800 << idle << false
            << u("127.0.0.1:3665 | ") + link +
                   u(" | Refreshed 13:28:50 | 1 listener \u00b7 4 processes");
        QTest::newRow("715, the time goes")
            << 715 << idle << false
            << u("127.0.0.1:3665 | ") + link + u(" | 1 listener \u00b7 4 processes");
        QTest::newRow("600, the host goes")
            << 600 << idle << false << link + u(" | 1 listener \u00b7 4 processes");
        QTest::newRow("450, the counts go") << 450 << idle << false << link;
        QTest::newRow("300, the link cut between words")
            << 300 << idle << false << u("Disconnected since 13:28:50: host\u2026");
        QTest::newRow("900, a notice gives way")
            << 900 << stopped << false
            << u("The list was\u2026 | 127.0.0.1:3665 | ") + link +
                   u(" | Refreshed 13:28:50 | 1 listener \u00b7 4 processes");
        QTest::newRow("900, a list's progress does not")
            << 900 << progress << true
            << u("[Stop] | ") + progress + u(" | 127.0.0.1:3665 | ") + link +
                   u(" | 1 listener \u00b7 4 processes");
        QTest::newRow("900, a long one is cut between words")
            << 900 << stopped << true
            << u("[Stop] | The list was stopped after 4,000 records; the connection will be\u2026 "
                 "| ") +
                   link;
    }

    void statusLineDropsWholeParts()
    {
        QFETCH(int, width);
        QFETCH(QString, message);
        QFETCH(bool, listing);
        QFETCH(QString, shown);
        QWidget window;
        auto* bar = new ConsoleStatusBar(&window);
        bar->setGeometry(0, 0, width, 24);
        window.resize(width, 24);
        window.show();
        bar->setHost(QStringLiteral("127.0.0.1:3665"));
        bar->setLink(QStringLiteral("Disconnected since 13:28:50: host closed the connection"),
                     false);
        bar->setRefreshed(QStringLiteral("Refreshed 13:28:50"));
        bar->setCounts(QStringLiteral("1 listener \u00b7 4 processes"));
        bar->setMessage(message);
        bar->setStopVisible(listing);
        QCOMPARE(bar->shownText(), shown);
        // Every part shown is whole, and the line fits.
        QCoreApplication::processEvents();
        for (const QLabel* label : bar->findChildren<QLabel*>())
            if (label->isVisible() && label->objectName() != QLatin1String("statusLabel"))
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        QVERIFY(bar->minimumSizeHint().width() <= width);
        QCOMPARE(bar->toolTip(),
                 (message.isEmpty() ? QString() : message + QLatin1Char('\n')) +
                     u("127.0.0.1:3665\nDisconnected since 13:28:50: host closed the connection\n"
                       "Refreshed 13:28:50\n1 listener \u00b7 4 processes"));
    }

    void countsInEnglish()
    {
        for (const auto& [count, noun, text] : {std::tuple{1, "listener", "1 listener"},
                                                {0, "listener", "0 listeners"},
                                                {1, "process", "1 process"},
                                                {12345, "process", "12,345 processes"}})
            QCOMPARE(TableFilterBar::countOf(count, u(noun)), u(text));
    }

    void paletteTellsHostsApart()
    {
        const auto hueGap = [](const QColor& a, const QColor& b) {
            const int d = std::abs(a.hsvHue() - b.hsvHue());
            return std::min(d, 360 - d);
        };
        const QList<QColor> colours = HostPalette::colours();
        QVERIFY(colours.size() >= 12);
        // Hues at least 30 degrees apart round the circle.
        for (int i = 0; i < colours.size(); ++i)
            for (int j = i + 1; j < colours.size(); ++j)
                QVERIFY2(hueGap(colours[i], colours[j]) >= 30,
                         qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
        // Twelve hosts open together, each its own colour; the same files give
        // the same colours again.
        QStringList keys;
        for (int i = 1; i <= 12; ++i)
            keys.append(QStringLiteral("/home/op/hosts/host%1.hcf").arg(i));
        const QList<QColor> assigned = HostPalette::assign(keys);
        QSet<QRgb> distinct;
        for (const QColor& c : assigned)
            distinct.insert(c.rgb());
        QCOMPARE(distinct.size(), 12);
        QCOMPARE(HostPalette::assign(keys), assigned);
        // The same file open twice is told apart too.
        const QList<QColor> twice = HostPalette::assign({keys[0], keys[0]});
        QVERIFY(twice[0] != twice[1]);
        // Up to four hosts stand at least 60 degrees apart, whatever their files.
        for (int first = 0; first + 4 <= keys.size(); ++first) {
            const QList<QColor> four = HostPalette::assign(keys.mid(first, 4));
            for (int i = 0; i < 4; ++i)
                for (int j = i + 1; j < 4; ++j)
                    QVERIFY2(hueGap(four[i], four[j]) >= 60,
                             qPrintable(QStringLiteral("%1: %2 %3").arg(first).arg(i).arg(j)));
        }
        // The first host keeps its colour when others open beside it.
        QCOMPARE(HostPalette::assign({keys[3], keys[0], keys[1]}).first(),
                 HostPalette::assign({keys[3]}).first());
    }

    // The program's own boxes: the whole title, with the host it is about,
    // and the text's line breaks.
    void messageBoxShowsWholeTitle_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("title");
        QTest::newRow("message") << false << u("production-west")
                                 << u("Orvanite Server Console - production-west");
        QTest::newRow("message, one host") << false << QString() << u("Orvanite Server Console");
        QTest::newRow("confirmation")
            << true << u("production-west") << u("Confirm - production-west");
    }

    void messageBoxShowsWholeTitle()
    {
        QFETCH(bool, confirm);
        QFETCH(QString, subject);
        QFETCH(QString, title);
        QWidget parent;
        parent.show();
        WidgetPrompts prompts(&parent);
        prompts.setSubject(subject);
        int width = 0;
        QString shownTitle;
        QString text;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            width = box->width();
            shownTitle = box->windowTitle();
            text = box->text();
            icon = box->icon();
            for (QAbstractButton* b : box->buttons())
                buttons.append(b->text());
            box->close();
        });
        const QString asked = u("WINSOCK error: 11001\rHost not found");
        if (confirm)
            prompts.confirm(asked);
        else
            prompts.showMessage(asked);
        QCOMPARE(shownTitle, title);
        QCOMPARE(text, u("WINSOCK error: 11001\nHost not found"));
        buttons.sort();
        QCOMPARE(buttons, confirm ? texts({"&No", "&Yes"}) : texts({"OK"}));
        QCOMPARE(icon, confirm ? QMessageBox::Question : QMessageBox::NoIcon);
        QFont bold = QApplication::font();
        bold.setBold(true);
        // The title in a bold title-bar font with room for the icon and buttons.
        QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance(title) + 100,
                 qPrintable(QString::number(width)));
    }

    // A row chosen in code: the whole row, and only it, or none when it is not
    // there; never told as the operator's choice.
    void selectionFromCode()
    {
        for (const auto& [row, selected, cells] : {std::array{2, 2, 3}, {-1, -1, 0}, {4, -1, 0}}) {
            SmallTable t;
            QSignalSpy chosen(&t.view, &RecordTableView::rowChosen);
            t.view.selectRow(1);
            t.view.selectRow(row);
            QCOMPARE(t.view.selectedRow(), selected);
            QCOMPARE(t.view.selectionModel()->selectedIndexes().size(), cells);
            QCOMPARE(chosen.count(), 0);
        }
    }

    void operatorChoicesAreTold()
    {
        SmallTable t;
        t.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&t.view));
        QSignalSpy chosen(&t.view, &RecordTableView::rowChosen);
        const QModelIndex cell = t.model.index(2, 1);
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.view.visualRect(cell).center());
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.last().at(0).toInt(), 2);
        QCOMPARE(t.view.selectedRow(), 2);
        // The same row again is a choice too (its processes are listed afresh).
        QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.view.visualRect(cell).center());
        QCOMPARE(chosen.count(), 2);
        QTest::keyClick(&t.view, Qt::Key_Down);
        QCOMPARE(chosen.count(), 3);
        QCOMPARE(chosen.last().at(0).toInt(), 3);
        // A key that moves nowhere chooses nothing.
        QTest::keyClick(&t.view, Qt::Key_Down);
        QCOMPARE(chosen.count(), 3);
    }
};

QTEST_MAIN(TestReadable)
#include "tst_readable.moc"
