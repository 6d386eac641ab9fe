// What the window keeps of the past: the audit lines of its commands with the
// target as the operator saw it and the effect seen after, the trail's
// viewer, the trends' counting of every listener, and the notifications.

#include "ConsoleFixture.h"
#include "console/HostController.h"

#include "console/NotificationLimiter.h"
#include "console/Notifier.h"
#include "console/TrendsPane.h"
#include "console/dialogs/AuditDialog.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/TrendCollector.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QJsonDocument>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

namespace {

// An entry without the fields that change from run to run.
QString stable(QJsonObject entry)
{
    for (const char* key : {"id", "time", "user", "refers_to", "port"})
        entry.remove(QLatin1String(key));
    return QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact));
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void commandsAuditedAsShown();
    void unwritableTrail_data();
    void unwritableTrail();
    void trendsCountEveryListenerOnlyWhileShown();
    void listenerGoneNotifiedOncePerMinute();
    void limiter_data();
    void limiter();

private:
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<ConsoleFixture> f;
    QList<Notifier::Kind> m_notified;
};

void TestHistory::init()
{
    // The trail of this test alone.
    m_state = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_state->path()));
    f = std::make_unique<ConsoleFixture>();
    f->sim.Listeners = {listener("123", "30002", "CNDSRVR", "8"),
                        listener("124", "30007", "VGDSRVR", "16"),
                        listener("125", "30009", "ODDSRVR", "07")};
    f->sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                        process("123", "123", "203", "CNDUSER", "CAROL", 10),
                        process("124", "124", "301", "VGDUSER", "DAVE", 700)};
    f->create();
    auto* notifier = f->window->findChild<Notifier*>(QStringLiteral("notifier"));
    notifier->setDelivery([](const QString&, const QString&) {});
    m_notified.clear();
    connect(
        notifier, &Notifier::notified, this,
        [this](Notifier::Kind kind, const QString&, const QString&) { m_notified.append(kind); });
    QVERIFY(f->showAndConnect());
    f->find<QTimer>("refreshTimer")->setInterval(60000);
}

void TestHistory::cleanup()
{
    f.reset();
}

void TestHistory::commandsAuditedAsShown()
{
    f->chooseProcess(1);
    f->prompts.confirmAnswers = {true};
    QVERIFY(f->run("killProcessAction"));
    f->chooseListener(1);
    QVERIFY(f->waitIdle());
    f->prompts.confirmAnswers = {true};
    QVERIFY(f->run("killListenerAction"));

    const QList<QJsonObject> lines =
        AuditTrail(m_state->path() + QStringLiteral("/orvanite/audit.jsonl")).entries();
    QCOMPARE(lines.size(), 4);
    QCOMPARE(
        stable(lines[0]),
        QStringLiteral(
            R"({"argument":"P123|203","command":"kill-process","host":"127.0.0.1",)"
            R"("program":"orvanite-console","request":"K","target":)"
            R"({"listener":"123","pin":"203","program":"CNDUSER","user":"CAROL"},"via":null})"));
    QCOMPARE(lines[1].value(QStringLiteral("refers_to")), lines[0].value(QStringLiteral("id")));
    QCOMPARE(stable(lines[1]),
             QStringLiteral(R"({"effect":"target gone","program":"orvanite-console"})"));
    QCOMPARE(stable(lines[2]),
             QStringLiteral(R"({"argument":"S124","command":"kill-listener","host":"127.0.0.1",)"
                            R"("program":"orvanite-console","request":"K","target":)"
                            R"({"pin":"124","port":"30007","program":"VGDSRVR"},"via":null})"));
    QCOMPARE(stable(lines[3]),
             QStringLiteral(R"({"effect":"target gone","program":"orvanite-console"})"));
    // The operator's own kill is not news.
    QVERIFY(!m_notified.contains(Notifier::Kind::ListenerGone));

    // Help, Audit Trail: newest first, one row per command, filterable; one
    // dialog however often it is opened.
    f->action("auditTrailAction")->trigger();
    auto* dialog = f->window->findChild<AuditDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->shownRows(), 2);
    QCOMPARE(dialog->cellText(0, AuditDialog::Command), QStringLiteral("kill-listener"));
    QCOMPARE(dialog->cellText(0, AuditDialog::Target),
             QStringLiteral("pin 124, program VGDSRVR, port 30007"));
    QCOMPARE(dialog->cellText(1, AuditDialog::Effect), QStringLiteral("target gone"));
    dialog->findChild<QLineEdit*>(QStringLiteral("auditFilter"))->setText(QStringLiteral("carol"));
    QCOMPARE(dialog->shownRows(), 1);
    QCOMPARE(dialog->cellText(0, AuditDialog::Argument), QStringLiteral("P123|203"));
    f->action("auditTrailAction")->trigger();
    QCOMPARE(f->window->findChildren<AuditDialog*>().size(), 1);
}

void TestHistory::unwritableTrail_data()
{
    QTest::addColumn<bool>("required"); // "Send no command that cannot be recorded"
    QTest::newRow("sent unrecorded") << false;
    QTest::newRow("preference: not sent") << true;
}

void TestHistory::unwritableTrail()
{
    QFETCH(bool, required);
    if (required) {
        f->prompts.dialogs.push_back([](QDialog& d) {
            auto* box = d.findChild<QCheckBox*>(QStringLiteral("requireAuditBox"));
            if (!box || box->isChecked() ||
                box->text() != u"Send no command that cannot be recorded")
                return int(QDialog::Rejected);
            box->setChecked(true);
            return int(QDialog::Accepted);
        });
        QVERIFY(f->run("preferencesAction"));
    }
    // A file where the trail's folder should be.
    const QString folder = m_state->filePath(QStringLiteral("orvanite"));
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString expected = QStringLiteral("Audit trail not written: ") + folder +
                             QStringLiteral(" is not a folder; ") +
                             (required ? QStringLiteral("the command was not sent.")
                                       : QStringLiteral("the command was sent unrecorded."));
    for (const char* pin : {"P123|201", "P123|203"}) {
        f->chooseProcess(0); // 201, then 203 once 201 is gone (or 201 again)
        f->prompts.confirmAnswers = {true};
        const qsizetype mark = f->mark();
        QVERIFY(f->run("killProcessAction"));
        QVERIFY(f->waitIdle());
        // Not sent: the refresh after it alone.
        const QByteArray got = f->receivedSince(mark);
        QCOMPARE(got.contains(framed("K")), !required);
        QVERIFY(required || got.startsWith(framed("K") + framed(pin)));
        // The line of the kill's effect cannot be written either.
        QCOMPARE(f->status(), required ? expected
                                       : QStringLiteral("Audit trail not written: ") + folder +
                                             QStringLiteral(" is not a folder; the effect of a "
                                                            "command is not recorded."));
    }
    // The message box names the file and the reason, once for one cause.
    QTRY_COMPARE(f->prompts.messages.size(), 1);
    QCOMPARE(f->prompts.messages.first(), expected);
    QTest::qWait(0);
    QCOMPARE(f->prompts.messages.size(), 1);
    if (!required)
        return;
    // A shutdown that cannot be recorded is not sent either: the window stays.
    f->prompts.confirmAnswers = {true};
    const qsizetype mark = f->mark();
    f->action("shutdownJobAction")->trigger();
    QVERIFY(f->waitIdle());
    QVERIFY(!f->closing());
    QVERIFY(!f->receivedSince(mark).contains(framed("E")));
}

void TestHistory::trendsCountEveryListenerOnlyWhileShown()
{
    auto* collector = f->window->findChild<TrendCollector*>();
    // No pane (and no charts) until the trends are first shown.
    QVERIFY(!f->find<TrendsPane>("trendsPane"));
    const int processBoxHeight = f->find<QGroupBox>("processBox")->height();

    QSignalSpy sampled(collector, &TrendCollector::sampled);
    qsizetype mark = f->mark();
    f->action("trendsAction")->setChecked(true);
    auto* pane = f->find<TrendsPane>("trendsPane");
    QVERIFY(pane && !pane->isHidden());
    QVERIFY(sampled.wait(10000));
    QCOMPARE(f->receivedSince(mark), framed("H") + framed("123") + framed("H") + framed("124") +
                                         framed("H") + framed("125"));
    QVERIFY(pane->isVisible());
    QVERIFY(f->find<QGroupBox>("processBox")->height() < processBoxHeight);

    // The counting itself is the census's (tst_hostcensus); here, what the
    // pane shows of it. A second sample has a CPU figure.
    f->sim.Processes = {process("123", "123", "201", "CNDUSER", "ALICE", 1600),
                        process("124", "124", "302", "VGDUSER", "EVE", 50)};
    QVERIFY(f->run("refreshAction"));
    QVERIFY(sampled.size() == 2 || sampled.wait(10000));
    const TrendHistory::Sample last = collector->history().host().last();
    QVERIFY(last.hasCpu() && last.cpuPerMinute > 0);
    // Hovering the host's curve near its last point names that sample.
    QVERIFY2(pane->textNear(1, qint64(last.time) * 1000 + 400)
                 .endsWith(QStringLiteral(" 2 processes, CPU ") +
                           QString::number(double(last.cpuPerMinute), 'f', 1) +
                           QStringLiteral(" s/min")),
             qPrintable(pane->textNear(1, qint64(last.time) * 1000)));
    // The mouse resting anywhere over the curves shows a sample's time and
    // values; outside the plot, nothing.
    QWidget* curves = pane->chartViewport(1);
    auto hover = [curves](const QPoint& at) {
        // A tip being hidden lingers a moment: wait until it is gone.
        QToolTip::hideText();
        if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000))
            return QStringLiteral("(a tip stayed)");
        QHelpEvent event(QEvent::ToolTip, at, curves->mapToGlobal(at));
        QApplication::sendEvent(curves, &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const QString shown = hover(curves->rect().center());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  [23] processes"))
                 .match(shown)
                 .hasMatch(),
             qPrintable(shown));
    QCOMPARE(pane->textAt(1, QPoint(1, 1)), QString());

    // Hidden again: a refresh lists only what the tables show.
    f->action("trendsAction")->setChecked(false);
    QVERIFY(pane->isHidden());
    mark = f->mark();
    QVERIFY(f->run("refreshAction"));
    QCoreApplication::processEvents();
    QVERIFY(!f->session()->isBusy());
    QCOMPARE(f->receivedSince(mark), fullRefresh("123"));
    QCOMPARE(f->find<QGroupBox>("processBox")->height(), processBoxHeight);
}

void TestHistory::listenerGoneNotifiedOncePerMinute()
{
    f->sim.Listeners.removeLast();
    QVERIFY(f->run("refreshAction"));
    QCOMPARE(m_notified, QList<Notifier::Kind>{Notifier::Kind::ListenerGone});
    // Another within the minute is held back.
    f->sim.Listeners.removeLast();
    QVERIFY(f->run("refreshAction"));
    QCOMPARE(m_notified.size(), 1);
}

void TestHistory::limiter_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<bool>>("allowed");
    QTest::newRow("same kind and host within a minute")
        << QList<int>{0, 0, 0}
        << QStringList{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("a")}
        << QList<qint64>{0, 59'999, 60'000} << QList<bool>{true, false, true};
    QTest::newRow("held back ones do not extend the minute")
        << QList<int>{0, 0, 0}
        << QStringList{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("a")}
        << QList<qint64>{1000, 31'000, 61'000} << QList<bool>{true, false, true};
    QTest::newRow("other kind, other host")
        << QList<int>{0, 1, 0}
        << QStringList{QStringLiteral("a"), QStringLiteral("a"), QStringLiteral("b")}
        << QList<qint64>{0, 10, 20} << QList<bool>{true, true, true};
    QTest::newRow("clock set back")
        << QList<int>{2, 2} << QStringList{QStringLiteral("a"), QStringLiteral("a")}
        << QList<qint64>{100'000, 5'000} << QList<bool>{true, true};
}

void TestHistory::limiter()
{
    QFETCH(QList<int>, kinds);
    QFETCH(QStringList, hosts);
    QFETCH(QList<qint64>, times);
    QFETCH(QList<bool>, allowed);
    NotificationLimiter limiter;
    QList<bool> got;
    for (int i = 0; i < kinds.size(); ++i)
        got.append(limiter.allow(kinds[i], hosts[i], times[i]));
    QCOMPARE(got, allowed);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
