// The main window against an in-process simulator: connecting, the tables,
// refreshing, losing the connection, time-outs, malformed records, and the
// three rules that keep the console sound: one exchange at a time, the
// selection stays on the operator's choice, no new connection once closing.

#include "HostSocket.h"
#include "StringGrid.h"
#include "TestSupport.h"

#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
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
            connect(m_peer, &QTcpSocket::readyRead, this, [this] { Read(); });
        });
    }
    quint16 Port() const { return m_server.serverPort(); }
    void Send(const QByteArray& bytes)
    {
        if (m_peer)
            m_peer->write(bytes);
    }
    std::function<QByteArray(const QByteArray&, int)> Answer;

private:
    void Read()
    {
        m_in += m_peer->readAll();
        if (!m_loggedOn) {
            if (m_in.size() < 118)
                return;
            m_in.remove(0, 118);
            m_loggedOn = true;
            Send("0");
        }
        while (m_in.size() >= 4) {
            const int length = m_in.left(4).toInt();
            if (m_in.size() < 4 + length)
                return;
            const QByteArray body = m_in.mid(4, length);
            m_in.remove(0, 4 + length);
            if (body == "H") {
                m_letter = body;
                continue;
            }
            const QByteArray request = m_letter + body;
            m_letter.clear();
            Send(Answer(request, ++m_serial));
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_peer = nullptr;
    QByteArray m_in;
    QByteArray m_letter;
    bool m_loggedOn = false;
    int m_serial = 0;
};

class tst_FormMain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void connectFillsTablesCaptionsAndLog();
    void commandLineRule_data();
    void commandLineRule();
    void missingBareNameEndsWithMessage();
    void timerRefreshesAndClickFillsProcesses();
    void lostConnectionEmptiesTablesSendsNothing();
    void quitSentOnceOnClose();
    void priorityColumnAppearsOnceAndStays();
    void routingByFirstCharacter();
    void malformedRecordsSkippedAndCounted();
    void selectionFollowsPin();
    void shrinkingListFallsBackToVisibleRow();
    void tickSkippedAndCommandQueuedDuringExchange();
    void socketErrorDuringExchangeStartsNoSecondOne();
    void clickDuringRefreshIsCarriedOutAfter();
    void noReconnectWhenClosing();
    void timeOutMidListKeepsRows();

private:
    std::unique_ptr<ConsoleFixture> f;
};

void tst_FormMain::init()
{
    f = std::make_unique<ConsoleFixture>();
    f->UseStandardHost();
}

void tst_FormMain::connectFillsTablesCaptionsAndLog()
{
    f->Create();
    QStringList captions;
    connect(f->Form.get(), &QWidget::windowTitleChanged, this,
            [&captions](const QString& t) { captions.append(t); });
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;

    QCOMPARE(captions, (QStringList{QStringLiteral("KELD32 001"), QStringLiteral("KELD32 002"),
                                    QStringLiteral("KELD32 003"),
                                    QStringLiteral("Orvanite Server Console - (127.0.0.1)")}));
    QCOMPARE(f->Log.Entries.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f->Log.Entries[i].Text, QStringLiteral("KELD32 00%1").arg(i + 1));
        QCOMPARE(f->Log.Entries[i].Type, 4);
        QCOMPARE(f->Log.Entries[i].Category, 3);
        QCOMPARE(f->Log.Entries[i].Id, 1000u);
    }

    QCOMPARE(w.ListenerArray->RowCount(), 4);
    QCOMPARE(RowTexts(w.ListenerArray, 0), (L({"Pin", "Product", "Program", "Port", "MaxUsers"})));
    QCOMPARE(RowTexts(w.ListenerArray, 1),
             (L({"123", "Conduit", "CNDSRVR", "30002", "unlimited"})));
    QCOMPARE(RowTexts(w.ListenerArray, 2), (L({"124", "Vanguard", "VGDSRVR", "30004", "050"})));
    QCOMPARE(RowTexts(w.ListenerArray, 3), (L({"125", "07", "ODDSRVR", "30009", "unlimited"})));
    QCOMPARE(w.ProcessArray->ColCount(), 5);
    QCOMPARE(RowTexts(w.ProcessArray, 0), (L({"Main", "Pin", "Program", "User", "CPU Time"})));
    QCOMPARE(RowTexts(w.ProcessArray, 1), (L({"123", "201", "CNDUSER", "ALICE", "   1.500"})));
    QCOMPARE(RowTexts(w.ProcessArray, 2), (L({"123", "202", "CNDUSER", "BOB", " 123.456"})));
    QCOMPARE(RowTexts(w.ProcessArray, 3), (L({"", "203", "CNDUSER", "CAROL", "   0.000"})));
    QCOMPARE(w.GroupBox2->title(),
             QStringLiteral("User Processes for (123:Conduit:CNDSRVR:30002)"));
    QVERIFY(!w.IsBusy());
    QVERIFY(w.Timer1->isActive());
    QVERIFY(w.btnManualRefresh->isEnabled());
    QVERIFY(!w.BtnChangePri->isVisibleTo(&w));

    // The logon record: kind 1, seven fields of 16 bytes.
    const QByteArray logon = f->Sim.received().left(118);
    QCOMPARE(logon.left(6), QByteArray("000001"));
    QCOMPARE(logon.mid(6, 16), QByteArray("MANAGER         "));
    QCOMPARE(logon.mid(70, 16), QByteArray("SYS             "));
    QCOMPARE(f->Sim.received().mid(118), Framed("G") + Framed("H") + Framed("123"));
}

void tst_FormMain::commandLineRule_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::newRow("absolute") << L({"/etc/orv/east.hcf"}) << QStringLiteral("/etc/orv/east.hcf");
    QTest::newRow("bare name") << L({"east.hcf"}) << QStringLiteral("/opt/orvanite/east.hcf");
    QTest::newRow("relative with folder") << L({"cfg/east.hcf"}) << QStringLiteral("cfg/east.hcf");
    QTest::newRow("backslash is a name")
        << L({"cfg\\east.hcf"}) << QStringLiteral("/opt/orvanite/cfg\\east.hcf");
    QTest::newRow("only the first")
        << L({"a.hcf", "b.hcf"}) << QStringLiteral("/opt/orvanite/a.hcf");
    QTest::newRow("none") << QStringList() << QStringLiteral("");
}

void tst_FormMain::commandLineRule()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    ScriptedPrompts prompts;
    RecordingEventLog log;
    MainFormDeps deps{&prompts, &log, arguments, QStringLiteral("/opt/orvanite/orvanite-console")};
    TMainAppForm w(deps);
    QCOMPARE(w.Settings.ConfigPath, path);
    QCOMPARE(w.windowTitle(), path.isEmpty() ? QStringLiteral("Orvanite Server Console")
                                             : QStringLiteral("Orvanite Server Console - ") + path);
    QVERIFY(w.IsBusy());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.Settings.Port, quint16(30000));
    QCOMPARE(w.Settings.User, QByteArray("MANAGER"));
    QCOMPARE(w.Settings.Account, QByteArray("SYS"));
}

void tst_FormMain::missingBareNameEndsWithMessage()
{
    // A host is known, so a window that passed over the missing file would
    // connect; it must say so and end instead.
    MainFormDeps deps{&f->Prompts, &f->Log, L({"nosuch.hcf"}),
                      QStringLiteral("/opt/orvanite/orvanite-console")};
    f->Form = std::make_unique<TMainAppForm>(deps);
    TMainAppForm& w = *f->Form;
    w.Settings.HostAddress = "127.0.0.1";
    w.Settings.Port = f->Sim.serverPort();
    bool dialogRun = false;
    f->Prompts.Dialogs.push_back([&dialogRun](QDialog&) {
        dialogRun = true;
        return int(QDialog::Rejected);
    });
    w.show();
    QTRY_VERIFY(w.IsClosing());
    QCOMPARE(f->Prompts.Messages,
             QStringList{QStringLiteral("Cannot find the configuration file nosuch.hcf: it is "
                                        "neither beside the program (/opt/orvanite/nosuch.hcf) "
                                        "nor in the current folder (%1/nosuch.hcf).")
                             .arg(QDir::currentPath())});
    QVERIFY(!dialogRun);
    QCOMPARE(f->Sim.connectionCount(), 0);
    QVERIFY(f->Sim.received().isEmpty());
}

void tst_FormMain::timerRefreshesAndClickFillsProcesses()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    f->Sim.Processes.append(Process("123", "123", "204", "CNDUSER", "EVE", 42));
    w.Timer1->setInterval(20);
    w.Timer1->start();
    QTRY_COMPARE(w.ProcessArray->RowCount(), 5);
    QCOMPARE(RowTexts(w.ProcessArray, 4), (L({"123", "204", "CNDUSER", "EVE", "   0.042"})));

    // A click on a listener asks for its processes only.
    w.Timer1->setInterval(60000);
    const qsizetype mark = f->Mark();
    w.ListenerArray->SetRow(2);
    w.ListenerArrayClick();
    QCOMPARE(f->ReceivedSince(mark), Framed("H") + Framed("124"));
    QCOMPARE(w.SelectedListenerRow, 2);
    QCOMPARE(w.ProcessArray->RowCount(), 2);
    QCOMPARE(RowTexts(w.ProcessArray, 1), (L({"124", "301", "VGDUSER", "DAVE", "123456.789"})));
    QCOMPARE(w.GroupBox2->title(),
             QStringLiteral("User Processes for (124:Vanguard:VGDSRVR:30004)"));
    QCOMPARE(w.ListenerArray->Selection(), (GridRect{0, 2, 4, 2}));
    QVERIFY(!w.IsBusy());
}

void tst_FormMain::lostConnectionEmptiesTablesSendsNothing()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    // The close arrives between two exchanges (a close in the middle of a
    // list puts the connection out of step and is renewed; see tests/faults).
    w.Socket().HandleClose(0);
    QCOMPARE(w.Socket().State(), hsClosed);
    QVERIFY(!w.Protocol().OutOfStep());
    const qsizetype mark = f->Mark();
    const int messages = f->Prompts.Messages.size();
    w.Timer1Timer();
    w.btnKillListenerClick();
    w.btnKillProcessClick();
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QCOMPARE(w.ProcessArray->RowCount(), 2);
    QVERIFY(w.ListenerArray->Cell(0, 1).isEmpty());
    QVERIFY(w.ProcessArray->Cell(1, 1).isEmpty());
    QCOMPARE(f->ReceivedSince(mark), QByteArray());
    QCOMPARE(f->Prompts.Messages.size(), messages);
    QVERIFY(f->Prompts.Confirmations.isEmpty());
    QVERIFY(!w.IsBusy());
}

void tst_FormMain::quitSentOnceOnClose()
{
    QVERIFY(f->ShowAndConnect());
    const qsizetype mark = f->Mark();
    f->Form->close();
    QCOMPARE(f->Form->Socket().State(), hsClosed);
    f->Form.reset();
    QCOMPARE(f->ReceivedSince(mark), Framed("Q"));
}

void tst_FormMain::priorityColumnAppearsOnceAndStays()
{
    f->Sim.Processes[1].Priority = 3;
    f->Sim.Processes[2].Priority = 1;
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    QCOMPARE(w.ProcessArray->ColCount(), 6);
    QCOMPARE(w.ProcessArray->Cell(5, 0), QByteArrayView("Pri"));
    QVERIFY(w.ProcessArray->Cell(5, 1).isEmpty());
    QCOMPARE(w.ProcessArray->Cell(5, 2), QByteArrayView("DS"));
    QCOMPARE(w.ProcessArray->Cell(5, 3), QByteArrayView("BS"));
    QVERIFY(w.BtnChangePri->isVisibleTo(&w));
    QCOMPARE(w.ProcessArray->ColWidth(5), int(w.ProcessArray->width() * 0.05));

    for (SimProcess& p : f->Sim.Processes)
        p.Priority = 0;
    w.btnManualRefreshClick();
    QCOMPARE(w.ProcessArray->ColCount(), 6);
    QCOMPARE(w.ProcessArray->Cell(5, 0), QByteArrayView("Pri"));
    QVERIFY(w.ProcessArray->Cell(5, 2).isEmpty());
    QVERIFY(w.BtnChangePri->isVisibleTo(&w));
}

void tst_FormMain::routingByFirstCharacter()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    f->Sim.Faults.SRecordInProcessList = true;
    w.btnManualRefreshClick();
    // The stray listener record of the process reply lands in the listener table.
    QCOMPARE(w.ListenerArray->RowCount(), 5);
    QCOMPARE(w.ListenerArray->Cell(0, 4), QByteArrayView("123"));
    QCOMPARE(w.ProcessArray->RowCount(), 4);
}

void tst_FormMain::malformedRecordsSkippedAndCounted()
{
    SimProcess bad = Process("123", "123", "299", "X", "Y", 0);
    bad.RawRecord = "P0123|299|CNDUSER|MALLORY|12x4";
    SimProcess bad2 = Process("123", "123", "298", "X", "Y", 0);
    bad2.RawRecord = "P0123|298|CNDUSER|TRENT|5|9";
    f->Sim.Processes.insert(1, bad);
    f->Sim.Processes.append(bad2);
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    QCOMPARE(w.ProcessArray->RowCount(), 4);
    QCOMPARE(w.ProcessArray->Cell(1, 1), QByteArrayView("201"));
    QCOMPARE(w.ProcessArray->Cell(1, 2), QByteArrayView("202"));
    QCOMPARE(w.ProcessArray->Cell(1, 3), QByteArrayView("203"));
    const QString status = w.StatusLine->property("fullText").toString();
    QVERIFY2(status.startsWith(QStringLiteral("2 records skipped")), qPrintable(status));
    QVERIFY(!w.IsBusy());

    // The next exchange is in step, and a clean list clears the line.
    f->Sim.Processes.removeAt(1);
    f->Sim.Processes.removeLast();
    w.btnManualRefreshClick();
    QCOMPARE(w.ProcessArray->RowCount(), 4);
    QCOMPARE(w.ListenerArray->RowCount(), 4);
    QCOMPARE(w.StatusLine->property("fullText").toString(), QString());
}

void tst_FormMain::selectionFollowsPin()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    w.ListenerArray->SetRow(1);
    w.ListenerArrayClick();
    w.ProcessArray->SetRow(2); // BOB, 202
    w.ProcessArrayClick();
    QCOMPARE(w.SelectedProcessRow, 2);

    // New rows in front of both: the selection moves with its PINs.
    f->Sim.Listeners.prepend(Listener("100", "30001", "PCLSRVR", "2"));
    f->Sim.Processes.prepend(Process("123", "123", "200", "CNDUSER", "ZED", 1));
    w.Timer1Timer();
    QCOMPARE(w.ListenerArray->Row(), 2);
    QCOMPARE(w.SelectedListenerRow, 2);
    QCOMPARE(w.ListenerArray->Cell(0, w.ListenerArray->Row()), QByteArrayView("123"));
    QCOMPARE(w.ProcessArray->Row(), 3);
    QCOMPARE(w.SelectedProcessRow, 3);
    QCOMPARE(w.ProcessArray->Cell(1, 3), QByteArrayView("202"));

    // A command acts on that row.
    f->Prompts.ConfirmAnswers = {true};
    const qsizetype mark = f->Mark();
    w.btnKillProcessClick();
    QVERIFY(f->ReceivedSince(mark).startsWith(Framed("K") + Framed("P123|202")));
    QCOMPARE(w.ProcessArray->RowCount(), 4);

    // When the PIN is gone, the row number counts.
    w.ProcessArray->SetRow(3);
    w.ProcessArrayClick();
    f->Sim.Processes.removeIf([](const SimProcess& p) { return p.Pin == "203"; });
    w.btnManualRefreshClick();
    QCOMPARE(w.ProcessArray->Row(), 1);
    QCOMPARE(w.SelectedProcessRow, 1);
}

void tst_FormMain::shrinkingListFallsBackToVisibleRow()
{
    f->Sim.Listeners.append(Listener("126", "30010", "QRYSRVR", "5"));
    f->Sim.Listeners.append(Listener("127", "30011", "TABSRVR", "4"));
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    QCOMPARE(w.ListenerArray->RowCount(), 6);
    w.ListenerArray->SetRow(4);
    w.ListenerArrayClick();
    f->Sim.Listeners = {Listener("124", "30004", "VGDSRVR", "16"),
                        Listener("130", "30020", "NEW", "2")};
    w.Timer1Timer();
    // Row 4 is gone: the row the operator sees (row 1) is the selected one,
    // and its processes are shown.
    QCOMPARE(w.ListenerArray->RowCount(), 3);
    QCOMPARE(w.ListenerArray->Row(), 1);
    QCOMPARE(w.SelectedListenerRow, 1);
    QCOMPARE(w.ProcessArray->Cell(1, 1), QByteArrayView("301"));
    QCOMPARE(w.GroupBox2->title(),
             QStringLiteral("User Processes for (124:Vanguard:VGDSRVR:30004)"));
}

void tst_FormMain::tickSkippedAndCommandQueuedDuringExchange()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    f->Sim.Faults.ReplyDelaySeconds = 0.3;
    f->Prompts.ConfirmAnswers = {false};
    int pendingSeen = -1;
    bool exchangingSeen = false;
    QTimer::singleShot(100, this, [&] {
        exchangingSeen = w.IsExchanging();
        w.Timer1Timer();           // skipped
        w.btnKillListenerClick();  // carried out afterwards
        w.btnManualRefreshClick(); // queued once
        w.btnManualRefreshClick(); // merged with the first
        pendingSeen = w.PendingCount();
    });
    const qsizetype mark = f->Mark();
    w.btnManualRefreshClick();
    QVERIFY(exchangingSeen);
    QCOMPARE(pendingSeen, 2);
    QCOMPARE(w.PendingCount(), 0);
    QCOMPARE(f->Prompts.Confirmations.size(), 1);
    const QByteArray full = Framed("G") + Framed("H") + Framed("123");
    // Refresh, then the kill's tail (answered No), then the queued refresh.
    QCOMPARE(f->ReceivedSince(mark), full + full + full);
    QVERIFY(!w.IsBusy());
}

void tst_FormMain::socketErrorDuringExchangeStartsNoSecondOne()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    f->Sim.Faults.ReplyDelaySeconds = 0.4;
    bool busyAfter = true;
    f->Prompts.OnMessage = [&](const QString&) {
        // While the message is up the failed exchange has not unwound yet.
        QVERIFY(w.IsExchanging());
    };
    QTimer::singleShot(100, this, [&] {
        w.Socket().ReportError(10054);
        busyAfter = w.IsBusy();
        // The busy state is off, but the exchange is still running: neither
        // the timer nor the Refresh button may start another one.
        w.Timer1->setInterval(10);
        w.Timer1->start();
        w.btnManualRefresh->click();
    });
    const qsizetype mark = f->Mark();
    w.btnManualRefreshClick();
    QVERIFY(!busyAfter);
    QVERIFY(f->Prompts.Messages.contains(QStringLiteral("WINSOCK error: 10054\n") +
                                         THostSocket::ErrorText(10054)));
    const QByteArray sent = f->ReceivedSince(mark);
    const QByteArray full = Framed("G") + Framed("H") + Framed("123");
    // The first refresh went out whole before anything else.
    QVERIFY2(sent.startsWith(full), sent.constData());
    QVERIFY(!sent.mid(0, full.size()).contains("0001G0001G"));
    w.Timer1->setInterval(60000);
}

void tst_FormMain::clickDuringRefreshIsCarriedOutAfter()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    f->Sim.Faults.ReplyDelaySeconds = 0.3;
    bool clicked = false;
    connect(
        &f->Sim, &HostSim::requestReceived, this,
        [&](const QByteArray& letter, const QByteArray&) {
            if (clicked || letter != "H" || w.ListenerArray->Cell(0, 2) != "124")
                return;
            clicked = true;
            // The operator picks listener 124 while the process list is awaited.
            w.ListenerArray->SetRow(2);
            w.ListenerArrayClick();
        },
        Qt::QueuedConnection);
    const qsizetype mark = f->Mark();
    w.Timer1Timer();
    QTRY_VERIFY(!w.IsExchanging());
    disconnect(&f->Sim, &HostSim::requestReceived, this, nullptr);
    const QByteArray sent = f->ReceivedSince(mark);
    QCOMPARE(sent, Framed("G") + Framed("H") + Framed("123") + Framed("H") + Framed("124"));
    QCOMPARE(w.ListenerArray->Cell(0, w.ListenerArray->Row()), QByteArrayView("124"));
    QCOMPARE(w.SelectedListenerRow, 2);
    QCOMPARE(w.ProcessArray->Cell(1, 1), QByteArrayView("301"));
}

void tst_FormMain::noReconnectWhenClosing()
{
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    QCOMPARE(f->Sim.connectionCount(), 1);
    w.menuExitClick();
    QVERIFY(w.IsClosing());
    w.ConnectAndLogon();
    w.btnManualRefreshClick();
    w.Timer1Timer();
    QCOMPARE(f->Sim.connectionCount(), 1);
    QCOMPARE(w.Socket().State(), hsClosed);
    QVERIFY(!w.Timer1->isActive());
}

void tst_FormMain::timeOutMidListKeepsRows()
{
    // The one slow test: a reply time-out takes the real ten seconds. The
    // peer is scripted so that the process list stalls after one record.
    ScriptedHost host;
    host.Answer = [](const QByteArray& request, int serial) -> QByteArray {
        if (request == "G")
            return Framed("S123|30002 CNDSRVR|8|0") + Framed("");
        if (request == "H123")
            return serial < 3 ? Framed("P0123|201|CNDUSER|ALICE|1500")
                              : Framed("P0123|201|CNDUSER|ALICE|1500") +
                                    Framed("P0123|205|CNDUSER|FRED|7") + Framed("");
        return {};
    };
    f->Create();
    f->Form->Settings.Port = host.Port();
    QVERIFY(f->ShowAndConnect());
    TMainAppForm& w = *f->Form;
    QCOMPARE(f->Prompts.Messages.size(), 1);
    QCOMPARE(f->Prompts.Messages[0],
             QStringLiteral("WINSOCK error: 10060\n") + THostSocket::ErrorText(10060));
    QCOMPARE(w.ProcessArray->RowCount(), 2);
    QCOMPARE(w.ProcessArray->Cell(1, 1), QByteArrayView("201"));
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QVERIFY(!w.IsBusy());
    QVERIFY(w.Timer1->isActive());

    // The end of the list arrives late. The connection is out of step: the
    // next refresh logs on afresh, so that late end is never read.
    QVERIFY(w.Protocol().OutOfStep());
    host.Send(Framed(""));
    QTest::qWait(50);
    w.btnManualRefreshClick();
    QCOMPARE(w.ListenerArray->RowCount(), 2);
    QCOMPARE(w.ProcessArray->RowCount(), 3);
    QCOMPARE(w.ProcessArray->Cell(1, 2), QByteArrayView("205"));
    QCOMPARE(f->Prompts.Messages.size(), 1);
    QCOMPARE(w.StatusLine->property("fullText").toString(), TConsoleProtocol::ResyncNotice());
    QVERIFY(!w.Protocol().OutOfStep());
}

QTEST_MAIN(tst_FormMain)
#include "tst_FormMain.moc"
