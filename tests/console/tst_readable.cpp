// Every value readable: cut cells tell their whole text, the status line
// drops whole parts, counts read as English, hosts get colours of their own
// that their names read well on, notifications name the host, a listener's
// line leaves its user limit whole, and message boxes show their whole
// title. The table view under the window's tables tells the operator's
// choices apart from selections made in code, and a row that is not there
// selects nothing.

#include "ConsoleFixture.h"

#include "config/ConfigFile.h"
#include "console/ConsoleStatusBar.h"
#include "console/HostPalette.h"
#include "console/Notifier.h"
#include "console/SparklineDelegate.h"
#include "console/TableFilterBar.h"
#include "console/TrendsPane.h"
#include "console/WidgetPrompts.h"
#include "core/Plural.h"
#include "session/ListReader.h"
#include "session/TrendHistory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <array>
#include <cmath>
#include <random>
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

    // Every colour of the palette, literally, with the text drawn on it: at
    // least 4.5 : 1 (by the relative luminance of both), and no red or green
    // that could be taken for the host's health.
    void paletteReadsWell_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("text");
        const char* const rows[][2] = {
            {"#1f4e9c", "#ffffff"}, {"#7fb3e6", "#000000"}, {"#006d77", "#ffffff"},
            {"#5cc8c8", "#000000"}, {"#5b3f9e", "#ffffff"}, {"#b9a3e3", "#000000"},
            {"#8e2c7f", "#ffffff"}, {"#e59ad6", "#000000"}, {"#7a4a1e", "#ffffff"},
            {"#d6c08f", "#000000"}, {"#3f4e63", "#ffffff"}, {"#a9b8cc", "#000000"}};
        QCOMPARE(HostPalette::colours().size(), int(std::size(rows)));
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i][0]) << i << u(rows[i][0]) << u(rows[i][1]);
    }

    void paletteReadsWell()
    {
        QFETCH(int, index);
        QFETCH(QString, colour);
        QFETCH(QString, text);
        const QColor shown = HostPalette::colours().at(index);
        QCOMPARE(shown.name(), colour);
        QCOMPARE(HostPalette::textOn(shown).name(), text);
        const auto luminance = [](const QColor& c) {
            double sum = 0;
            for (const auto& [value, weight] :
                 {std::pair{c.redF(), 0.2126}, {c.greenF(), 0.7152}, {c.blueF(), 0.0722}})
                sum += weight *
                       (value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4));
            return sum;
        };
        const double a = luminance(shown);
        const double b = luminance(QColor(text));
        QVERIFY2((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 4.5, qPrintable(colour));
        // Red about 0 degrees, green about 120: only greys may sit there.
        const int hue = shown.hsvHue();
        const bool reddish = hue < 20 || hue > 340;
        const bool greenish = hue > 80 && hue < 160;
        QVERIFY2(shown.hsvSaturationF() < 0.15 || (!reddish && !greenish), qPrintable(colour));
    }

    // A file's colour is its canonical path's: a link to it gets the same.
    void colourOfLinkedFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u("east.hcf"));
        const QString link = dir.filePath(u("also-east.hcf"));
        QFile created(file);
        QVERIFY(created.open(QIODevice::WriteOnly));
        created.close();
        QVERIFY(QFile::link(file, link));
        QCOMPARE(HostPalette::colourFor(link), HostPalette::colourFor(file));
        QCOMPARE(HostPalette::colourFor(u("127.0.0.1:30000")).name(), u("#7fb3e6"));
    }

    // Counts and their nouns agree, in every text that has one.
    void pluralsByCount()
    {
        TrendHistory::Sample sample;
        sample.time = QDateTime(QDate(2026, 12, 7), QTime(13, 28, 50)).toSecsSinceEpoch();
        sample.cpuPerMinute = std::nanf("");
        const auto sampled = [&sample](int processes) {
            sample.processes = processes;
            return TrendsPane::sampleText(sample);
        };
        // Only the count's noun is checked here, not the rest of a stopped list's text.
        const auto stopped = [](int records) {
            return ListReader::endText(HostSession::ListEnd::Stopped, records, 5000)
                .section(QLatin1Char(';'), 0, 0);
        };
        for (const auto& [shown, expected] :
             {std::pair{stopped(1), "The list was stopped after 1 record"},
              {stopped(2), "The list was stopped after 2 records"},
              {sampled(1), "13:28:50  1 process"},
              {sampled(0), "13:28:50  0 processes"},
              {Plural::noun(1, "user", "users"), "user"},
              {Plural::noun(0, "user", "users"), "users"}})
            QCOMPARE(shown, u(expected));
    }

    // A notification names the host as the window's title does (its file's
    // name), and counts its users by number.
    void notificationsNameTheHost()
    {
        ConsoleFixture f;
        f.sim.Listeners = {listener("123", "30002", "CNDSRVR", "8", "1")};
        f.sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500)};
        QTemporaryDir dir;
        const QString file = dir.filePath(u("east.hcf"));
        std::mt19937 random(1);
        ConnectionSettings settings = simSettings(f.sim.serverPort());
        QVERIFY(SaveConfigFile(file, settings, random).isEmpty());
        f.create({file});
        auto* notifier = f.window->findChild<Notifier*>(u("notifier"));
        QStringList told;
        notifier->setDelivery([&told](const QString& summary, const QString& body) {
            told.append(summary + u(": ") + body);
        });
        QVERIFY(f.showAndConnect());
        QTRY_COMPARE(told, QStringList{u("User limit reached on east: Listener 123 (CNDSRVR, "
                                         "port 30002) has 1 of 1 user.")});
        QVERIFY(f.window->windowTitle().contains(u("east")));
    }

    // The line beside a listener's user limit takes only the room its text
    // leaves: "unlimited" is never cut for it.
    void sparklineLeavesTextWhole_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("line");
        QTest::newRow("design width 73: no line") << 73 << false;
        QTest::newRow("width 120: a line beside") << 120 << true;
    }

    void sparklineLeavesTextWhole()
    {
        QFETCH(int, width);
        QFETCH(bool, line);
        TrendHistory history;
        for (int i = 0; i < 5; ++i)
            history.addSample(1'700'000'000'000 + i * 5000, {{"125", i, 0}});
        QStandardItemModel model(1, 5);
        model.setItem(0, 0, new QStandardItem(u("125")));
        model.setItem(0, 4, new QStandardItem(u("unlimited")));
        RecordTableView view;
        view.setModel(&model);
        struct Delegate : SparklineDelegate
        {
            using SparklineDelegate::SparklineDelegate;
            using SparklineDelegate::textArea;
        } delegate(&history, 0, 4);
        delegate.setActive(true);
        view.setItemDelegate(&delegate);
        view.setColumnWidth(4, width);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.widget = &view;
        option.rect = view.visualRect(model.index(0, 4));
        QVERIFY(!delegate.isElided(option, model.index(0, 4)));
        QCOMPARE(delegate.textArea(option, model.index(0, 4)).width() < option.rect.width(), line);
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
