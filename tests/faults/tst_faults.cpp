// The main window (offscreen) against an in-process simulator that misbehaves
// on purpose. For every fault the console must not crash, must say what went
// wrong (a message box for socket errors, the status label otherwise), must
// keep the rows it had already received, and the next refresh must show
// exactly the host's lists again: no stale or shifted replies, nothing resent.
//
// Waits are shortened (ReplyTimeout, the socket's ReadTimeout, the list
// record cap) wherever the behaviour does not depend on them.
// Every row has its own simulator on its own port and its own window.

#include "ConsoleFixture.h"
#include "console/HostController.h"

#include "console/ConsoleStatusBar.h"
#include "core/WinsockErrors.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"

#include <QLabel>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString ResyncNotice =
    QStringLiteral("The connection was renewed after the host fell out of step.");

// The logon of the fixture's settings as the wire carries it.
const QByteArray Logon =
    "000001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(13, ' ') + QByteArray(32, ' ');

// Something is said, in a box or the status label, its text not checked.
const QString Any = QStringLiteral("*");

QString winsockMessage(int code)
{
    return QStringLiteral("WINSOCK error: %1\n%2").arg(code).arg(Winsock::ErrorText(code));
}

// Fault flags with one of them set.
template <typename T, typename V> HostSimFaults faulty(T HostSimFaults::*flag, V value)
{
    HostSimFaults faults;
    faults.*flag = value;
    return faults;
}

template <typename Model, typename Column>
QList<QByteArray> pinsOf(const Model* model, Column column)
{
    QList<QByteArray> pins;
    for (int r = 0; r < model->rows(); ++r)
        pins.append(model->cell(r, column).toByteArray());
    return pins;
}

} // namespace

Q_DECLARE_METATYPE(HostSimFaults)

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void listFault_data();
    void listFault();
    void lateReplyIsNeverReadAndNothingResent();
    void millionRecordList();
    void startupFault_data();
    void startupFault();
    void malformedRecord_data();
    void malformedRecord();
    void resyncThatFailsKeepsStaleRows();
    void stopDropsQueuedWorkAndRefreshListsLater();
    void backgroundHostOpensNoBox_data();
    void backgroundHostOpensNoBox();

private:
    // The pins of the host's listeners, and of the processes of listener pin.
    QList<QByteArray> hostListenerPins() const;
    QList<QByteArray> hostProcessPins(const QByteArray& listenerPin) const;
    QList<QByteArray> listenerPins() const { return pinsOf(f->listeners(), ListenerColumn::Pin); }
    QList<QByteArray> processPins() const { return pinsOf(f->processes(), ProcessColumn::Pin); }
    // The tables show exactly the host's current lists for the selected listener.
    void verifyExactLists();

    bool connectWindow();

    std::unique_ptr<ConsoleFixture> f;
};

void TestFaults::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->create();
    // No tick may start an exchange of its own while a row runs.
    ConnectionSettings settings = f->host()->settings();
    settings.RefreshInterval = 60000;
    f->host()->setSettings(settings);
}

void TestFaults::cleanup()
{
    f.reset();
}

bool TestFaults::connectWindow()
{
    if (!f->showAndConnect())
        return false;
    // The time-out of a reply is 10 s on the wire; nothing here depends on it.
    f->session()->setReplyTimeout(1);
    f->session()->setLogonTimeout(1);
    return true;
}

QList<QByteArray> TestFaults::hostListenerPins() const
{
    QList<QByteArray> pins;
    for (const SimListener& l : f->sim.Listeners)
        pins.append(l.Pin);
    return pins;
}

QList<QByteArray> TestFaults::hostProcessPins(const QByteArray& listenerPin) const
{
    QList<QByteArray> pins;
    for (const SimProcess& p : f->sim.Processes)
        if (p.ListenerPin == listenerPin)
            pins.append(p.Pin);
    return pins;
}

void TestFaults::verifyExactLists()
{
    QCOMPARE(listenerPins(), hostListenerPins());
    const QByteArray selected = f->session()->selectedListener();
    QCOMPARE(f->listeners()->cell(f->listenerRow(), ListenerColumn::Pin).toByteArray(), selected);
    QCOMPARE(processPins(), hostProcessPins(selected));
    QVERIFY(!f->session()->isOutOfStep());
    QTRY_VERIFY(!f->host()->isBusy());
}

// ---------------------------------------------------------------------------
// Faults in the middle of a list
// ---------------------------------------------------------------------------

void TestFaults::listFault_data()
{
    QTest::addColumn<HostSimFaults>("spoilt");
    QTest::addColumn<bool>("listeners"); // the listener list is spoilt, else the process list
    // What the operator is told: a message box ("*": may be shown, empty:
    // none) and a part of the status label (empty: none; "*": anything).
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    // Rows of the faulted table that must have been kept (at least, at most).
    QTest::addColumn<int>("keptMin");
    QTest::addColumn<int>("keptMax");

    const QString closed = QStringLiteral("closed the connection in the middle of a list");
    const QString bad = QStringLiteral("does not start with a length");
    const QString many = QStringLiteral("more than 50 records");
    const bool L = true;
    const bool P = false;
    using F = HostSimFaults;
    QTest::newRow("closed after 1 listener")
        << faulty(&F::CloseAfterRecords, 1) << L << QString() << closed << 1 << 1;
    QTest::newRow("closed after 2 processes")
        << faulty(&F::CloseAfterRecords, 2) << P << QString() << closed << 2 << 2;
    // A reset may take records still in flight with it.
    QTest::newRow("reset after 2 listeners")
        << faulty(&F::ResetAfterRecords, 2) << L << QString() << closed << 0 << 2;
    QTest::newRow("reset after 2 processes")
        << faulty(&F::ResetAfterRecords, 2) << P << QString() << closed << 0 << 2;
    QTest::newRow("header not a number, listeners")
        << faulty(&F::BadHeader, true) << L << QString() << bad << 0 << 0;
    QTest::newRow("header not a number, processes")
        << faulty(&F::BadHeader, true) << P << QString() << bad << 0 << 0;
    QTest::newRow("frame longer than announced")
        << faulty(&F::LongFrame, true) << L << Any << Any << 0 << 3;
    QTest::newRow("frame shorter than announced")
        << faulty(&F::ShortFrame, true) << L << Any << Any << 0 << 3;
    QTest::newRow("frame shorter, processes")
        << faulty(&F::ShortFrame, true) << P << Any << Any << 0 << 3;
    QTest::newRow("single-byte writes")
        << faulty(&F::SplitWrites, true) << L << QString() << QString() << 3 << 3;
    // A slow host that sends every record within the read time-out gets its
    // whole list, however long it takes.
    QTest::newRow("trickle, listeners")
        << faulty(&F::TrickleSeconds, 0.4) << L << QString() << QString() << 3 << 3;
    QTest::newRow("trickle, processes")
        << faulty(&F::TrickleSeconds, 0.4) << P << QString() << QString() << 3 << 3;
    QTest::newRow("never ending, listeners")
        << faulty(&F::NeverEndingList, true) << L << QString() << many << 50 << 50;
    QTest::newRow("never ending, processes")
        << faulty(&F::NeverEndingList, true) << P << QString() << many << 50 << 50;
    // 9999-byte process records without end, in the reply to the listener
    // request: no listener row; the cut last frame runs into the time-out
    // unless the receive limit cut the host off (past the 16 MiB the socket
    // buffers) first.
    QTest::newRow("flood past the receive limit")
        << faulty(&F::FloodBytes, 17 * 1024 * 1024) << L << Any << QString() << 0 << 0;
    QTest::newRow("S record in a process list")
        << faulty(&F::SRecordInProcessList, true) << P << QString() << QString() << 3 << 3;
}

void TestFaults::listFault()
{
    QFETCH(HostSimFaults, spoilt);
    QFETCH(bool, listeners);
    QFETCH(QString, box);
    QFETCH(QString, status);
    QFETCH(int, keptMin);
    QFETCH(int, keptMax);

    QVERIFY(connectWindow());
    verifyExactLists();
    if (spoilt.NeverEndingList)
        f->session()->setRecordCap(50);

    // Only the targeted list is spoilt. The simulator shapes a list when it
    // is asked for it: the faults are set before that request (for the
    // process list, once the listener list is on its way) and cleared right
    // after it, but for the single-byte writes, which last while it goes out.
    const QByteArray letter = listeners ? "G" : "H";
    if (listeners)
        f->sim.Faults = spoilt;
    bool armed = true;
    // Tied to this function: the Quit of the window's destruction must not
    // reach a handler whose captures are gone.
    QObject scope;
    connect(&f->sim, &HostSim::requestReceived, &scope,
            [&](const QByteArray& l, const QByteArray&) {
                if (!armed)
                    return;
                if (l == "G" && !listeners) {
                    f->sim.Faults = spoilt;
                } else if (l == letter) {
                    armed = false;
                    f->sim.Faults = HostSimFaults();
                    f->sim.Faults.SplitWrites = spoilt.SplitWrites;
                }
            });
    const QList<QByteArray> listenersBefore = hostListenerPins();
    const QList<QByteArray> processesBefore = hostProcessPins("123");

    QVERIFY(f->run("refreshAction"));
    QVERIFY(!armed);
    f->sim.Faults = HostSimFaults();
    QTRY_VERIFY(!f->host()->isBusy());
    QTRY_VERIFY(f->find<QTimer>("refreshTimer")->isActive());

    // Told: the box for socket errors, the status label for the rest.
    if (box == Any || status == Any)
        QVERIFY2(!f->prompts.messages.isEmpty() || !f->status().isEmpty(), "nothing said");
    if (box.isEmpty())
        QCOMPARE(f->prompts.messages, QStringList());
    if (spoilt.FloodBytes > 0) {
        // Either the receive limit cut the host off or the flood's cut last
        // frame ran into the time-out.
        QCOMPARE(f->prompts.messages.size(), 1);
        QVERIFY2(f->prompts.messages[0] == winsockMessage(10055) ||
                     f->prompts.messages[0] == winsockMessage(10060),
                 qPrintable(f->prompts.messages[0]));
    }
    if (!status.isEmpty() && status != Any)
        QVERIFY2(f->status().contains(status), qPrintable(f->status()));
    if (status.isEmpty() && box.isEmpty())
        QCOMPARE(f->status(), QString());

    // Kept: the rows that came before the fault, in the host's order.
    if (!spoilt.LongFrame && !spoilt.ShortFrame) {
        const QList<QByteArray> kept = listeners ? listenerPins() : processPins();
        QVERIFY2(kept.size() >= keptMin && kept.size() <= keptMax,
                 qPrintable(QString::number(kept.size())));
        const QList<QByteArray> real = listeners ? listenersBefore : processesBefore;
        // An endless list goes on past the real records with made-up ones;
        // a flood is all made up and lands in the process table.
        QCOMPARE(kept.mid(0, std::min(kept.size(), real.size())),
                 real.mid(0, std::min(kept.size(), real.size())));
        if (spoilt.SRecordInProcessList) {
            // Routed by its first character: the stray listener record joins
            // the listener table.
            QCOMPARE(listenerPins(), listenersBefore + QList<QByteArray>{"123"});
        }
    }

    // The next refresh: in step, the host's lists exactly, and what went out
    // is one list exchange, after a fresh logon when the connection was lost.
    const bool resyncDue = f->session()->isOutOfStep();
    const int connections = f->sim.connectionCount();
    const qsizetype mark = f->mark();
    QVERIFY(f->run("refreshAction"));
    verifyExactLists();
    const QByteArray exchange = framed("G") + framed("H") + framed("123");
    QByteArray sent = f->receivedSince(mark);
    if (resyncDue) {
        // The old connection is ended with Quit first, where it is still open.
        const bool hostClosed = spoilt.CloseAfterRecords >= 0 || spoilt.ResetAfterRecords >= 0;
        if (!hostClosed && spoilt.FloodBytes == 0)
            QVERIFY2(sent.startsWith(framed("Q")), sent.left(20).constData());
        if (sent.startsWith(framed("Q")))
            sent.remove(0, framed("Q").size());
        QCOMPARE(f->sim.connectionCount(), connections + 1);
        QCOMPARE(sent, Logon + exchange);
        QCOMPARE(f->status(), ResyncNotice);
    } else {
        QCOMPARE(f->sim.connectionCount(), connections);
        QCOMPARE(sent, exchange);
        QCOMPARE(f->status(), QString());
    }
    // A renewed connection leaves no second one open at the host.
    QTRY_COMPARE(f->sim.openConnections(), 1);
}

// ---------------------------------------------------------------------------
// A reply that comes just after the time-out
// ---------------------------------------------------------------------------

void TestFaults::lateReplyIsNeverReadAndNothingResent()
{
    QVERIFY(connectWindow());
    // Kill Listener: the request changes the host; the refresh behind it
    // gets its reply only after the wait has given up (two whole seconds
    // with a time-out of 1).
    f->sim.Faults.ReplyDelaySeconds = 2.4;
    f->prompts.confirmAnswers = {true};
    f->prompts.onMessage = [this](const QString& text) {
        if (text == winsockMessage(10060))
            f->sim.Faults.ReplyDelaySeconds = 0;
    };
    const qsizetype mark = f->mark();
    QVERIFY(f->run("killListenerAction"));
    QCOMPARE(f->prompts.messages, QStringList{winsockMessage(10060)});
    // The listener reply never came in time: nothing of it, and the process
    // half found no listener to ask about after renewing the connection.
    QCOMPARE(f->listeners()->rows(), 0);
    QCOMPARE(f->status(), ResyncNotice);
    QCOMPARE(f->sim.connectionCount(), 2);
    QTRY_VERIFY(!f->host()->isBusy());
    QTRY_VERIFY(f->find<QTimer>("refreshTimer")->isActive());

    // Let the late reply reach the old connection (closed by now); the next
    // refresh reads its own reply, not that one.
    QTest::qWait(600);
    QVERIFY(f->run("refreshAction"));
    verifyExactLists();
    QCOMPARE(hostListenerPins(), (QList<QByteArray>{"124", "125"}));
    const QByteArray sent = f->receivedSince(mark);
    QCOMPARE(sent.count(framed("K") + framed("S123")), 1);
    QCOMPARE(sent.count("0001K"), 1);
    QCOMPARE(f->prompts.messages.size(), 1);
    QCOMPARE(f->status(), QString());
    QCOMPARE(f->sim.connectionCount(), 2);
}

// ---------------------------------------------------------------------------
// A list of a million records
// ---------------------------------------------------------------------------

void TestFaults::millionRecordList()
{
    f->sim.Listeners = {listener("1000", "30002", "CNDSRVR", "8")};
    f->sim.Processes.clear();
    f->sim.populate(1000000);
    f->window->show();
    QVERIFY(QTest::qWaitFor([this] { return !f->host()->isBusy(); }, 90000));
    // Exactly the cap still ends normally: the whole list is there.
    QCOMPARE(f->processes()->rows(), 1000000);
    QCOMPARE(f->processes()->cell(999999, ProcessColumn::Pin).toByteArray(),
             f->sim.Processes.last().Pin);
    QCOMPARE(f->processes()->cell(0, ProcessColumn::Pin).toByteArray(),
             f->sim.Processes.first().Pin);
    QCOMPARE(f->prompts.messages, QStringList());
    QCOMPARE(f->status(), QString());
    QVERIFY(!f->session()->isOutOfStep());
}

// ---------------------------------------------------------------------------
// Faults while connecting
// ---------------------------------------------------------------------------

void TestFaults::startupFault_data()
{
    QTest::addColumn<HostSimFaults>("faults");
    // The host's address: empty for the simulator's, "closed" for a loopback
    // port where nothing listens.
    QTest::addColumn<QByteArray>("host");
    // The messages in order; "1100x" stands for any resolver failure.
    QTest::addColumn<QStringList>("messages");
    const QString refused = QStringLiteral("Invalid Login!");
    const QString failed = QStringLiteral("Error creating server process!");
    using F = HostSimFaults;
    QTest::newRow("logon answered 1")
        << faulty(&F::LogonReply, "1") << QByteArray() << QStringList{refused};
    QTest::newRow("logon answered 9")
        << faulty(&F::LogonReply, "9") << QByteArray() << QStringList{failed};
    QTest::newRow("logon not answered") << faulty(&F::LogonNever, true) << QByteArray()
                                        << QStringList{winsockMessage(10060), failed};
    QTest::newRow("host accepts and never answers")
        << faulty(&F::Silent, true) << QByteArray() << QStringList{winsockMessage(10060), failed};
    QTest::newRow("peer closes during the logon")
        << faulty(&F::CloseDuringLogon, true) << QByteArray() << QStringList{failed};
    QTest::newRow("host unreachable")
        << F() << QByteArray("closed") << QStringList{winsockMessage(10061)};
    QTest::newRow("name does not resolve") << F() << QByteArray("orvanite-console-test.invalid")
                                           << QStringList{QStringLiteral("1100x")};
}

void TestFaults::startupFault()
{
    QFETCH(HostSimFaults, faults);
    QFETCH(QByteArray, host);
    QFETCH(QStringList, messages);
    HostController& w = *f->host();
    ConnectionSettings settings = w.settings();
    w.session()->setLogonTimeout(1);
    f->sim.Faults = faults;
    if (host == "closed") {
        // A loopback port that was free a moment ago and is closed now.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        settings.Port = probe.serverPort();
    } else if (!host.isEmpty()) {
        settings.HostAddress = host;
    }
    w.setSettings(settings);

    f->window->show();
    QTRY_VERIFY_WITH_TIMEOUT(w.isClosing(), 20000);
    if (messages == QStringList{QStringLiteral("1100x")}) {
        QCOMPARE(f->prompts.messages.size(), 1);
        const QString text = f->prompts.messages[0];
        QVERIFY2(text == winsockMessage(11001) || text == winsockMessage(11002) ||
                     text == winsockMessage(11003) || text == winsockMessage(11004),
                 qPrintable(text));
    } else {
        QCOMPARE(f->prompts.messages, messages);
    }
    // Nothing was logged on: no progress entries, no list asked for, and the
    // window is on its way out without a second attempt.
    QVERIFY(f->log.entries.isEmpty());
    QVERIFY(!f->sim.received().contains("0001G"));
    QVERIFY(!w.session()->isConnected());
    QVERIFY(f->sim.connectionCount() <= 1);
    QTRY_COMPARE(f->sim.openConnections(), 0);
}

// ---------------------------------------------------------------------------
// Records that cannot be placed as they are
// ---------------------------------------------------------------------------

void TestFaults::malformedRecord_data()
{
    QTest::addColumn<QByteArray>("raw");
    // Empty: the record is skipped (and said so); else the cells it gives,
    // joined by "/" (process: main, pin, program, user).
    QTest::addColumn<QByteArray>("placed");
    QTest::newRow("separator missing before the CPU time")
        << QByteArray("P0123|299|CNDUSER|MALLORY 12") << QByteArray();
    QTest::newRow("CPU time not decimal")
        << QByteArray("P0123|299|CNDUSER|MALLORY|12x4") << QByteArray();
    QTest::newRow("CPU time in hex")
        << QByteArray("P0123|299|CNDUSER|MALLORY|0x10") << QByteArray();
    QTest::newRow("priority 5") << QByteArray("P0123|299|CNDUSER|MALLORY|5|5") << QByteArray();
    QTest::newRow("priority 0") << QByteArray("P0123|299|CNDUSER|MALLORY|5|0") << QByteArray();
    QTest::newRow("bytes above 127 in a name")
        << QByteArray("P0123|299|CNDUSER|M\xDC\xDFLLER\xFF|5")
        << QByteArray("123/299/CNDUSER/M\xDC\xDFLLER\xFF");
    QTest::newRow("NUL ends the record after the CPU time")
        << QByteArray("P0123|299|CNDUSER|ZED|7\0|9|junk", 32) << QByteArray("123/299/CNDUSER/ZED");
    QTest::newRow("NUL in a name cuts the record short")
        << QByteArray("P0123|299|CNDUSER|Z\0ED|7", 25) << QByteArray();
    QTest::newRow("empty record after the flag") << QByteArray("P") << QByteArray();
}

void TestFaults::malformedRecord()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, placed);
    SimProcess odd = process("123", "123", "299", "X", "Y", 0);
    odd.RawRecord = raw;
    f->sim.Processes.insert(1, odd);
    QVERIFY(connectWindow());

    const QList<QByteArray> around{"201", "202", "203"};
    QList<QByteArray> pins = processPins();
    if (placed.isEmpty()) {
        QCOMPARE(pins, around);
        QVERIFY2(f->status().startsWith(QStringLiteral("1 record skipped: ")),
                 qPrintable(f->status()));
    } else {
        QCOMPARE(pins, (QList<QByteArray>{"201", "299", "202", "203"}));
        QByteArray cells;
        for (int c = 0; c < 4; ++c)
            cells += (c ? "/" : "") + f->processes()->cellAt(1, c).toByteArray();
        QCOMPARE(cells, placed);
        QCOMPARE(f->status(), QString());
    }
    QCOMPARE(f->prompts.messages, QStringList());
    QVERIFY(!f->session()->isOutOfStep());

    // The replies that follow are read in step.
    f->sim.Processes.removeAt(1);
    const qsizetype mark = f->mark();
    QVERIFY(f->run("refreshAction"));
    verifyExactLists();
    QCOMPARE(f->receivedSince(mark), framed("G") + framed("H") + framed("123"));
    QCOMPARE(f->status(), QString());
}

// ---------------------------------------------------------------------------
// Renewing the connection can fail too
// ---------------------------------------------------------------------------

void TestFaults::resyncThatFailsKeepsStaleRows()
{
    QVERIFY(connectWindow());
    f->sim.Faults.BadHeader = true;
    f->sim.Faults.LogonReply = "1"; // the renewed logon is refused
    QVERIFY(f->run("refreshAction"));
    // The listener list ended at its header; the process half tried to log
    // on again and was refused. Told once each; then nothing more is sent.
    QCOMPARE(f->prompts.messages, QStringList{QStringLiteral("Invalid Login!")});
    QVERIFY2(f->status().contains(QStringLiteral("could not be renewed")), qPrintable(f->status()));
    QVERIFY(!f->session()->isOutOfStep());
    QTRY_VERIFY(!f->host()->isBusy());
    QVERIFY(!f->closing());

    const qsizetype mark = f->mark();
    const int connections = f->sim.connectionCount();
    QVERIFY(f->run("refreshAction"));
    // At most the Quit that ends the refused connection.
    const QByteArray sent = f->receivedSince(mark);
    QVERIFY2(sent.isEmpty() || sent == framed("Q"), sent.constData());
    QCOMPARE(f->sim.connectionCount(), connections);
    // The listener list ended at its header; the processes read before the
    // link went are kept, greyed as stale.
    QCOMPARE(f->listeners()->rows(), 0);
    QCOMPARE(f->processes()->rows(), 3);
    QVERIFY(f->processes()->isStale());
    QCOMPARE(f->prompts.messages.size(), 1);
}

// ---------------------------------------------------------------------------
// Esc ends the list and what waits behind it; F5 lists however much later
// ---------------------------------------------------------------------------

void TestFaults::stopDropsQueuedWorkAndRefreshListsLater()
{
    // A slow process list: 43 records, one every 0.2 s.
    for (int i = 0; i < 40; ++i)
        f->sim.Processes.append(
            process("123", "123", QByteArray::number(400 + i).constData(), "CNDUSER", "EVE", 1000));
    QVERIFY(f->showAndConnect());
    f->host()->reconnector()->setEnabled(true);
    QStringList requests; // what the host was asked, in order
    QObject scope;
    connect(&f->sim, &HostSim::logonReceived, &scope, [&] { requests << QStringLiteral("logon"); });
    connect(&f->sim, &HostSim::requestReceived, &scope,
            [&](const QByteArray& letter, const QByteArray&) {
                requests << QString::fromLatin1(letter);
            });

    f->sim.Faults.TrickleSeconds = 0.2;
    f->action("refreshAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(f->processes()->pendingRows() >= 3, 10000);
    // F5 again and Kill Listener while the list comes: both wait behind
    // it. Esc.
    f->action("refreshAction")->trigger();
    f->prompts.confirmAnswers = {true};
    f->action("killListenerAction")->trigger();
    const int connections = f->sim.connectionCount();
    f->action("stopListAction")->trigger();
    QVERIFY(f->waitIdle());
    // The waiting refresh went with the list: nothing after the Quit.
    QVERIFY(!f->session()->isConnected());
    QCOMPARE(f->sim.connectionCount(), connections);
    QTRY_COMPARE(requests, texts({"G", "H", "Q"}));
    QVERIFY(f->host()->isPaused());
    QCOMPARE(f->find<QLabel>("pausedLabel")->text(), QStringLiteral("Paused"));
    QVERIFY2(f->status().startsWith(QStringLiteral("The list was stopped after ")) &&
                 f->status().endsWith(
                     QStringLiteral("; the connection was ended until the next refresh. The "
                                    "command kill-listener was not sent: the list before it "
                                    "was stopped.")),
             qPrintable(f->status()));
    // The rows not read did not end.
    QCOMPARE(f->processes()->rowsEnded(), 0);
    QCOMPARE(f->find<QLabel>("changesLabel")->text(), QString());

    // F5 after a pause longer than a reply's wait (10 s, given up after 11):
    // a fresh logon and both lists, nothing else, no error.
    f->sim.Faults.TrickleSeconds = 0;
    requests.clear();
    QTimer::singleShot(11500, &scope, [this] { f->action("refreshAction")->trigger(); });
    QTRY_COMPARE_WITH_TIMEOUT(requests, texts({"logon", "G", "H"}), 20000);
    QVERIFY(f->waitIdle());
    QCOMPARE(f->processes()->rows(), 43);
    QCOMPARE(f->prompts.messages, QStringList());
    // The operator ended the connection; the host did not fall out of step.
    QCOMPARE(f->status(), QString());
    QVERIFY(!f->host()->isPaused());
    QCOMPARE(requests, texts({"logon", "G", "H"}));

    // Space pauses; Space again lists at once, not an interval later.
    f->action("pauseAction")->trigger();
    QVERIFY(f->host()->isPaused());
    f->action("pauseAction")->trigger();
    QVERIFY(!f->host()->isPaused());
    QTRY_COMPARE(requests, texts({"logon", "G", "H", "G", "H"}));
}

// ---------------------------------------------------------------------------
// A host whose tab is not shown tells its errors in its own status line
// ---------------------------------------------------------------------------

void TestFaults::backgroundHostOpensNoBox_data()
{
    QTest::addColumn<bool>("atStart"); // else a list of the connected host times out
    QTest::addColumn<QString>("error");
    QTest::newRow("list times out") << false << "WINSOCK error: 10060 Connection timed out";
    QTest::newRow("first connection refused") << true << "WINSOCK error: 10061 Connection refused";
}

void TestFaults::backgroundHostOpensNoBox()
{
    QFETCH(bool, atStart);
    QFETCH(QString, error);

    // The next listener list of a host comes after the wait has given up
    // (1 s); what follows is answered at once.
    QObject scope;
    const auto delayNextList = [&scope](HostSim& sim) {
        sim.Faults.ReplyDelaySeconds = 3;
        connect(&sim, &HostSim::requestReceived, &scope, [&sim](const QByteArray& letter) {
            if (letter == "G")
                sim.Faults = HostSimFaults();
        });
    };
    HostSim other;
    other.Listeners = {listener("777", "30007", "BGSRVR", "2")};
    QVERIFY(other.listen());
    HostPage* background = f->window->addHost(QString());
    HostController* host = background->controller();
    host->reconnector()->setEnabled(false);
    QTcpServer gone; // a port that refuses connections once closed
    QVERIFY(gone.listen(QHostAddress::LocalHost));
    const quint16 refusing = gone.serverPort();
    gone.close();
    ConnectionSettings s = simSettings(atStart ? refusing : other.serverPort());
    s.RefreshInterval = 60000;
    host->setSettings(s);
    QVERIFY(connectWindow());
    QCOMPARE(f->window->currentHost(), f->page());
    QTRY_VERIFY_WITH_TIMEOUT(!host->isBusy(), 15000);
    if (!atStart) {
        QCOMPARE(host->session()->linkState(), HostSession::LinkState::LoggedOn);
        host->session()->setReplyTimeout(1);
        delayNextList(other);
        host->refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!host->isBusy(), 15000);
    }

    // No box over the host on show; the background host stays open and
    // says it in its status line, which its tab can show.
    QCOMPARE(f->prompts.messages, QStringList());
    QVERIFY(!host->isClosing());
    QCOMPARE(f->window->hostCount(), 2);
    QCOMPARE(host->unseenError(), error);
    const QString status = background->statusBar()
                               ->findChild<QLabel*>(QStringLiteral("statusLabel"))
                               ->property("fullText")
                               .toString();
    QVERIFY2(status.startsWith(error), qPrintable(status));
    // Shown, it has nothing unseen left.
    f->window->showHost(1);
    QCOMPARE(host->unseenError(), QString());

    // The host on show keeps its box.
    f->window->showHost(0);
    delayNextList(f->sim);
    QVERIFY(f->run("refreshAction"));
    QCOMPARE(f->prompts.messages, texts({"WINSOCK error: 10060\nConnection timed out"}));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
