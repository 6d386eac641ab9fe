// The main window (offscreen) against an in-process simulator that misbehaves
// on purpose. For every fault the console must not crash, must say what went
// wrong (a message box for socket errors, the status label otherwise), must
// keep the rows it had already received, and the next refresh must show
// exactly the host's lists again: no stale or shifted replies, nothing resent.
//
// Waits are shortened (ReplyTimeout, the socket's ReadTimeout, the list
// deadline and record cap) wherever the behaviour does not depend on them.
// Every row has its own simulator on its own port and its own window.

#include "HostSocket.h"
#include "StringGrid.h"
#include "TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

const QString ResyncNotice = TConsoleProtocol::ResyncNotice();

QString WinsockMessage(int code)
{
    return QStringLiteral("WINSOCK error: %1\n%2").arg(code).arg(THostSocket::ErrorText(code));
}

// Where a fault is applied: the listener list or the process list of one refresh.
enum class Target
{
    Listeners,
    Processes
};

// The faults of one list, applied to the simulator; the test clears them
// again as soon as the targeted request has been answered.
enum class ListFault
{
    CloseAfter,
    ResetAfter,
    BadHeader,
    LongFrame,
    ShortFrame,
    SplitWrites,
    Trickle,
    NeverEnding,
    Flood,
    SRecord
};

} // namespace

Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(ListFault)

class tst_Faults : public QObject
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
    void resyncThatFailsLeavesTablesEmpty();

private:
    // The pins of the host's listeners, and of the processes of listener pin.
    QList<QByteArray> HostListenerPins() const;
    QList<QByteArray> HostProcessPins(const QByteArray& listenerPin) const;
    static QList<QByteArray> Column(const StringGrid* grid, int col);
    // The tables show exactly the host's current lists for the listener in row 1.
    void VerifyExactLists();
    QString Status() const { return f->Form->StatusLine->property("fullText").toString(); }
    bool Connect();

    std::unique_ptr<ConsoleFixture> f;
};

void tst_Faults::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->UseStandardHost();
    f->Create();
    // No tick may start an exchange of its own while a row runs.
    f->Form->Settings.RefreshInterval = 60000;
}

void tst_Faults::cleanup()
{
    f.reset();
}

bool tst_Faults::Connect()
{
    if (!f->ShowAndConnect())
        return false;
    // The time-out of a reply is 10 s on the wire; nothing here depends on it.
    f->Form->Protocol().ReplyTimeout = 1;
    f->Form->Socket().ReadTimeout = 1;
    return true;
}

QList<QByteArray> tst_Faults::HostListenerPins() const
{
    QList<QByteArray> pins;
    for (const SimListener& l : f->Sim.Listeners)
        pins.append(l.Pin);
    return pins;
}

QList<QByteArray> tst_Faults::HostProcessPins(const QByteArray& listenerPin) const
{
    QList<QByteArray> pins;
    for (const SimProcess& p : f->Sim.Processes)
        if (p.ListenerPin == listenerPin)
            pins.append(p.Pin);
    return pins;
}

QList<QByteArray> tst_Faults::Column(const StringGrid* grid, int col)
{
    QList<QByteArray> cells;
    for (int r = 1; r < grid->RowCount(); ++r)
        if (!grid->Cell(col, r).isEmpty())
            cells.append(grid->Cell(col, r).toByteArray());
    return cells;
}

void tst_Faults::VerifyExactLists()
{
    TMainAppForm& w = *f->Form;
    const QList<QByteArray> listeners = HostListenerPins();
    QCOMPARE(Column(w.ListenerArray, 0), listeners);
    QCOMPARE(w.ListenerArray->RowCount(), std::max<int>(2, int(listeners.size()) + 1));
    const QByteArray selected = w.ListenerArray->CellText(0, w.ListenerArray->Row());
    const QList<QByteArray> processes = HostProcessPins(selected);
    QCOMPARE(Column(w.ProcessArray, 1), processes);
    QCOMPARE(w.ProcessArray->RowCount(), std::max<int>(2, int(processes.size()) + 1));
    QVERIFY(!w.Protocol().OutOfStep());
    QVERIFY(!w.IsBusy());
    QVERIFY(!w.IsExchanging());
}

// ---------------------------------------------------------------------------
// Faults in the middle of a list
// ---------------------------------------------------------------------------

void tst_Faults::listFault_data()
{
    QTest::addColumn<ListFault>("fault");
    QTest::addColumn<Target>("target");
    // What the operator is told: a message box (exact text, or empty for
    // none) and a part of the status label (empty: none expected).
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    // Rows of the faulted table that must have been kept (at least, at most).
    QTest::addColumn<int>("keptMin");
    QTest::addColumn<int>("keptMax");

    const QString closed = QStringLiteral("closed the connection in the middle of a list");
    const QString bad = QStringLiteral("does not start with a length");
    const QString late = QStringLiteral("took longer than 0.6 seconds");
    const QString many = QStringLiteral("more than 50 records");
    const auto L = Target::Listeners;
    const auto P = Target::Processes;
    QTest::newRow("closed after 1 listener")
        << ListFault::CloseAfter << L << QString() << closed << 1 << 1;
    QTest::newRow("closed after 2 processes")
        << ListFault::CloseAfter << P << QString() << closed << 2 << 2;
    // A reset may take records still in flight with it.
    QTest::newRow("reset after 2 listeners")
        << ListFault::ResetAfter << L << QString() << closed << 0 << 2;
    QTest::newRow("reset after 2 processes")
        << ListFault::ResetAfter << P << QString() << closed << 0 << 2;
    QTest::newRow("header not a number, listeners")
        << ListFault::BadHeader << L << QString() << bad << 0 << 0;
    QTest::newRow("header not a number, processes")
        << ListFault::BadHeader << P << QString() << bad << 0 << 0;
    QTest::newRow("frame longer than announced")
        << ListFault::LongFrame << L << QStringLiteral("*") << QStringLiteral("*") << 0 << 3;
    QTest::newRow("frame shorter than announced")
        << ListFault::ShortFrame << L << QStringLiteral("*") << QStringLiteral("*") << 0 << 3;
    QTest::newRow("frame shorter, processes")
        << ListFault::ShortFrame << P << QStringLiteral("*") << QStringLiteral("*") << 0 << 3;
    QTest::newRow("single-byte writes")
        << ListFault::SplitWrites << L << QString() << QString() << 3 << 3;
    QTest::newRow("trickle, listeners") << ListFault::Trickle << L << QString() << late << 1 << 2;
    QTest::newRow("trickle, processes") << ListFault::Trickle << P << QString() << late << 1 << 2;
    QTest::newRow("never ending, listeners")
        << ListFault::NeverEnding << L << QString() << many << 50 << 50;
    QTest::newRow("never ending, processes")
        << ListFault::NeverEnding << P << QString() << many << 50 << 50;
    // 9999-byte process records without end, in the reply to the listener
    // request: no listener row; the cut last frame runs into the time-out
    // unless the receive limit cut the host off first.
    QTest::newRow("flood past the receive limit")
        << ListFault::Flood << L << QStringLiteral("*") << QString() << 0 << 0;
    QTest::newRow("S record in a process list")
        << ListFault::SRecord << P << QString() << QString() << 3 << 3;
}

void tst_Faults::listFault()
{
    QFETCH(ListFault, fault);
    QFETCH(Target, target);
    QFETCH(QString, box);
    QFETCH(QString, status);
    QFETCH(int, keptMin);
    QFETCH(int, keptMax);

    QVERIFY(Connect());
    TMainAppForm& w = *f->Form;
    VerifyExactLists();
    if (fault == ListFault::Trickle)
        w.Protocol().ListDeadlineMs = 600;
    if (fault == ListFault::NeverEnding)
        w.Protocol().ListRecordCap = 50;

    HostSimFaults spoilt;
    HostSimFaults& faults = spoilt;
    switch (fault) {
    case ListFault::CloseAfter:
        faults.CloseAfterRecords = target == Target::Listeners ? 1 : 2;
        break;
    case ListFault::ResetAfter:
        faults.ResetAfterRecords = 2;
        break;
    case ListFault::BadHeader:
        faults.BadHeader = true;
        break;
    case ListFault::LongFrame:
        faults.LongFrame = true;
        break;
    case ListFault::ShortFrame:
        faults.ShortFrame = true;
        break;
    case ListFault::SplitWrites:
        faults.SplitWrites = true;
        break;
    case ListFault::Trickle:
        faults.TrickleSeconds = 0.4;
        break;
    case ListFault::NeverEnding:
        faults.NeverEndingList = true;
        break;
    case ListFault::Flood:
        faults.FloodBytes = THostSocket::MaxBuffered + 1024 * 1024;
        break;
    case ListFault::SRecord:
        faults.SRecordInProcessList = true;
        break;
    }
    // Only the targeted list is spoilt. The simulator shapes a list when it
    // is asked for it: the faults are set before that request (for the
    // process list, once the listener list is on its way) and cleared right
    // after it, but for the single-byte writes, which last while it goes out.
    const QByteArray letter = target == Target::Listeners ? "G" : "H";
    if (target == Target::Listeners)
        f->Sim.Faults = spoilt;
    bool armed = true;
    // Tied to this function: the Quit of the window's destruction must not
    // reach a handler whose captures are gone.
    QObject scope;
    connect(&f->Sim, &HostSim::requestReceived, &scope,
            [&](const QByteArray& l, const QByteArray&) {
                if (!armed)
                    return;
                if (l == "G" && target == Target::Processes) {
                    f->Sim.Faults = spoilt;
                } else if (l == letter) {
                    armed = false;
                    f->Sim.Faults = HostSimFaults();
                    f->Sim.Faults.SplitWrites = spoilt.SplitWrites;
                }
            });
    const QList<QByteArray> listenersBefore = HostListenerPins();
    const QList<QByteArray> processesBefore = HostProcessPins("123");

    w.btnManualRefreshClick();
    QVERIFY(!armed);
    f->Sim.Faults = HostSimFaults();
    QVERIFY(!w.IsExchanging());
    QVERIFY(!w.IsBusy());
    QVERIFY(w.Timer1->isActive());

    // Told: the box for socket errors, the status label for the rest.
    if (box == QStringLiteral("*") || status == QStringLiteral("*")) {
        QVERIFY2(!f->Prompts.Messages.isEmpty() || !Status().isEmpty(), "nothing said");
    }
    if (box.isEmpty())
        QCOMPARE(f->Prompts.Messages, QStringList());
    else if (box != QStringLiteral("*"))
        QCOMPARE(f->Prompts.Messages, QStringList{box});
    if (fault == ListFault::Flood) {
        // Either the receive limit cut the host off or the flood's cut last
        // frame ran into the time-out.
        QCOMPARE(f->Prompts.Messages.size(), 1);
        QVERIFY2(f->Prompts.Messages[0] == WinsockMessage(10055) ||
                     f->Prompts.Messages[0] == WinsockMessage(10060),
                 qPrintable(f->Prompts.Messages[0]));
    }
    if (!status.isEmpty() && status != QStringLiteral("*"))
        QVERIFY2(Status().contains(status), qPrintable(Status()));
    if (status.isEmpty() && box.isEmpty())
        QCOMPARE(Status(), QString());

    // Kept: the rows that came before the fault, in the host's order.
    if (fault != ListFault::LongFrame && fault != ListFault::ShortFrame) {
        const bool listeners = target == Target::Listeners;
        const QList<QByteArray> kept =
            listeners ? Column(w.ListenerArray, 0) : Column(w.ProcessArray, 1);
        QVERIFY2(kept.size() >= keptMin && kept.size() <= keptMax,
                 qPrintable(QString::number(kept.size())));
        const QList<QByteArray> real = listeners ? listenersBefore : processesBefore;
        // An endless list goes on past the real records with made-up ones;
        // a flood is all made up and lands in the process table.
        QCOMPARE(kept.mid(0, std::min(kept.size(), real.size())),
                 real.mid(0, std::min(kept.size(), real.size())));
        if (fault == ListFault::SRecord) {
            // Routed by its first character: the stray listener record joins
            // the listener table.
            QCOMPARE(Column(w.ListenerArray, 0), listenersBefore + QList<QByteArray>{"123"});
        }
    }

    // The next refresh: in step, the host's lists exactly, and what went out
    // is one list exchange, after a fresh logon when the connection was lost.
    const bool resyncDue = w.Protocol().OutOfStep();
    const int connections = f->Sim.connectionCount();
    const qsizetype mark = f->Mark();
    w.btnManualRefreshClick();
    VerifyExactLists();
    const QByteArray exchange = Framed("G") + Framed("H") + Framed("123");
    const QByteArray sent = f->ReceivedSince(mark);
    if (resyncDue) {
        QCOMPARE(f->Sim.connectionCount(), connections + 1);
        QCOMPARE(sent.size(), 118 + exchange.size());
        QCOMPARE(sent.left(6), QByteArray("000001"));
        QCOMPARE(sent.mid(118), exchange);
        QCOMPARE(Status(), ResyncNotice);
    } else {
        QCOMPARE(f->Sim.connectionCount(), connections);
        QCOMPARE(sent, exchange);
        QCOMPARE(Status(), QString());
    }
    // A renewed connection leaves no second one open at the host.
    QTRY_COMPARE(f->Sim.openConnections(), 1);
}

// ---------------------------------------------------------------------------
// A reply that comes just after the time-out
// ---------------------------------------------------------------------------

void tst_Faults::lateReplyIsNeverReadAndNothingResent()
{
    QVERIFY(Connect());
    TMainAppForm& w = *f->Form;
    // Kill Listener: the request changes the host; the refresh behind it
    // gets its reply only after the wait has given up (two whole seconds
    // with a time-out of 1).
    f->Sim.Faults.ReplyDelaySeconds = 2.4;
    f->Prompts.ConfirmAnswers = {true};
    f->Prompts.OnMessage = [this](const QString& text) {
        if (text == WinsockMessage(10060))
            f->Sim.Faults.ReplyDelaySeconds = 0;
    };
    const qsizetype mark = f->Mark();
    w.ListenerArray->SetRow(1);
    w.btnKillListenerClick();
    QCOMPARE(f->Prompts.Messages, QStringList{WinsockMessage(10060)});
    // The listener reply never came in time: nothing of it, and the process
    // half found no listener to ask about after renewing the connection.
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QVERIFY(w.ListenerArray->Cell(0, 1).isEmpty());
    QCOMPARE(Status(), ResyncNotice);
    QCOMPARE(f->Sim.connectionCount(), 2);
    QVERIFY(!w.IsBusy());
    QVERIFY(w.Timer1->isActive());

    // Let the late reply reach the old connection (closed by now); the next
    // refresh reads its own reply, not that one.
    QTest::qWait(600);
    w.btnManualRefreshClick();
    VerifyExactLists();
    QCOMPARE(HostListenerPins(), (QList<QByteArray>{"124", "125"}));
    const QByteArray sent = f->ReceivedSince(mark);
    QCOMPARE(sent.count(Framed("K") + Framed("S123")), 1);
    QCOMPARE(sent.count("0001K"), 1);
    QCOMPARE(f->Prompts.Messages.size(), 1);
    QCOMPARE(Status(), QString());
    QCOMPARE(f->Sim.connectionCount(), 2);
}

// ---------------------------------------------------------------------------
// A list of a million records
// ---------------------------------------------------------------------------

void tst_Faults::millionRecordList()
{
    f->Sim.Listeners = {Listener("1000", "30002", "CNDSRVR", "8")};
    f->Sim.Processes.clear();
    f->Sim.populate(1000000);
    f->Form->show();
    QVERIFY(
        QTest::qWaitFor([this] { return !f->Form->FirstShow && !f->Form->IsExchanging(); }, 90000));
    TMainAppForm& w = *f->Form;
    // Exactly the cap still ends normally: the whole list is there.
    QCOMPARE(w.ProcessArray->RowCount(), 1000001);
    QCOMPARE(w.ProcessArray->Cell(1, 1000000).toByteArray(), f->Sim.Processes.last().Pin);
    QCOMPARE(w.ProcessArray->Cell(1, 1).toByteArray(), f->Sim.Processes.first().Pin);
    QCOMPARE(f->Prompts.Messages, QStringList());
    QCOMPARE(Status(), QString());
    QVERIFY(!w.Protocol().OutOfStep());
    QVERIFY(!w.IsBusy());
}

// ---------------------------------------------------------------------------
// Faults while connecting
// ---------------------------------------------------------------------------

void tst_Faults::startupFault_data()
{
    QTest::addColumn<QString>("kind");
    // The messages in order; "1100x" stands for any resolver failure.
    QTest::addColumn<QStringList>("messages");
    const QString refused = QStringLiteral("Invalid Login!");
    const QString failed = QStringLiteral("Error creating server process!");
    QTest::newRow("logon answered 1") << QStringLiteral("reply1") << QStringList{refused};
    QTest::newRow("logon answered 9") << QStringLiteral("reply9") << QStringList{failed};
    QTest::newRow("logon not answered")
        << QStringLiteral("never") << QStringList{WinsockMessage(10060), failed};
    QTest::newRow("host accepts and never answers")
        << QStringLiteral("silent") << QStringList{WinsockMessage(10060), failed};
    QTest::newRow("peer closes during the logon") << QStringLiteral("close") << QStringList{failed};
    QTest::newRow("host unreachable")
        << QStringLiteral("unreachable") << QStringList{WinsockMessage(10061)};
    QTest::newRow("name does not resolve")
        << QStringLiteral("unresolved") << QStringList{QStringLiteral("1100x")};
}

void tst_Faults::startupFault()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, messages);
    TMainAppForm& w = *f->Form;
    w.Socket().ReadTimeout = 1;
    if (kind == QStringLiteral("reply1"))
        f->Sim.Faults.LogonReply = "1";
    else if (kind == QStringLiteral("reply9"))
        f->Sim.Faults.LogonReply = "9";
    else if (kind == QStringLiteral("never"))
        f->Sim.Faults.LogonNever = true;
    else if (kind == QStringLiteral("silent"))
        f->Sim.Faults.Silent = true;
    else if (kind == QStringLiteral("close"))
        f->Sim.Faults.CloseDuringLogon = true;
    else if (kind == QStringLiteral("unreachable")) {
        // A loopback port that was free a moment ago and is closed now.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        w.Settings.Port = probe.serverPort();
    } else if (kind == QStringLiteral("unresolved")) {
        w.Settings.HostAddress = "orvanite-console-test.invalid";
    }

    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(w.IsClosing(), 20000);
    QTRY_VERIFY(!w.IsExchanging());
    if (messages == QStringList{QStringLiteral("1100x")}) {
        QCOMPARE(f->Prompts.Messages.size(), 1);
        const QString text = f->Prompts.Messages[0];
        QVERIFY2(text == WinsockMessage(11001) || text == WinsockMessage(11002) ||
                     text == WinsockMessage(11003) || text == WinsockMessage(11004),
                 qPrintable(text));
    } else {
        QCOMPARE(f->Prompts.Messages, messages);
    }
    // Nothing was logged on: no progress entries, no list asked for, and the
    // window is on its way out without a second attempt.
    QVERIFY(f->Log.Entries.isEmpty());
    QVERIFY(!f->Sim.received().contains("0001G"));
    QCOMPARE(w.Socket().State(), hsClosed);
    QVERIFY(f->Sim.connectionCount() <= 1);
    QTRY_COMPARE(f->Sim.openConnections(), 0);
}

// ---------------------------------------------------------------------------
// Records that cannot be placed as they are
// ---------------------------------------------------------------------------

void tst_Faults::malformedRecord_data()
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

void tst_Faults::malformedRecord()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, placed);
    SimProcess odd = Process("123", "123", "299", "X", "Y", 0);
    odd.RawRecord = raw;
    f->Sim.Processes.insert(1, odd);
    QVERIFY(Connect());
    TMainAppForm& w = *f->Form;

    const QList<QByteArray> around{"201", "202", "203"};
    QList<QByteArray> pins = Column(w.ProcessArray, 1);
    if (placed.isEmpty()) {
        QCOMPARE(pins, around);
        QVERIFY2(Status().startsWith(QStringLiteral("1 record skipped: ")), qPrintable(Status()));
    } else {
        QCOMPARE(pins, (QList<QByteArray>{"201", "299", "202", "203"}));
        QByteArray cells;
        for (int c = 0; c < 4; ++c)
            cells += (c ? "/" : "") + w.ProcessArray->Cell(c, 2).toByteArray();
        QCOMPARE(cells, placed);
        QCOMPARE(Status(), QString());
    }
    QCOMPARE(f->Prompts.Messages, QStringList());
    QVERIFY(!w.Protocol().OutOfStep());

    // The replies that follow are read in step.
    f->Sim.Processes.removeAt(1);
    const qsizetype mark = f->Mark();
    w.btnManualRefreshClick();
    VerifyExactLists();
    QCOMPARE(f->ReceivedSince(mark), Framed("G") + Framed("H") + Framed("123"));
    QCOMPARE(Status(), QString());
}

// ---------------------------------------------------------------------------
// Renewing the connection can fail too
// ---------------------------------------------------------------------------

void tst_Faults::resyncThatFailsLeavesTablesEmpty()
{
    QVERIFY(Connect());
    TMainAppForm& w = *f->Form;
    f->Sim.Faults.BadHeader = true;
    f->Sim.Faults.LogonReply = "1"; // the renewed logon is refused
    w.btnManualRefreshClick();
    // The listener list ended at its header; the process half tried to log
    // on again and was refused. Told once each; then nothing more is sent.
    QCOMPARE(f->Prompts.Messages, QStringList{QStringLiteral("Invalid Login!")});
    QVERIFY2(Status().contains(QStringLiteral("could not be renewed")), qPrintable(Status()));
    QVERIFY(!w.Protocol().OutOfStep());
    QVERIFY(!w.IsBusy());
    QVERIFY(!w.IsClosing());

    const qsizetype mark = f->Mark();
    const int connections = f->Sim.connectionCount();
    w.btnManualRefreshClick();
    QCOMPARE(f->ReceivedSince(mark), QByteArray());
    QCOMPARE(f->Sim.connectionCount(), connections);
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QCOMPARE(w.ProcessArray->RowCount(), 2);
    QCOMPARE(f->Prompts.Messages.size(), 1);
}

QTEST_MAIN(tst_Faults)
#include "tst_Faults.moc"
