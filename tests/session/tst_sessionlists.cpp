// Lists read by HostSession from the simulator: every record example whole
// and one byte at a time, every way a list ends and the renewal after it,
// and lists that are slow, endless, stopped or a million records long.
#include "host_link/Wire.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "support/HostLinkFixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace HostLinkFixture;
using ListEnd = HostSession::ListEnd;

Q_DECLARE_METATYPE(HostSimFaults)

class TestSessionLists : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void recordExamples_data();
    void recordExamples();
    void emptyList();
    void listEndsThenRenews_data();
    void listEndsThenRenews();
    void listFollowedAtOnceByClose();
    void stoppedListKeepsItsRowsAndRenews();
    void millionRecordList();
};

void TestSessionLists::recordExamples_data()
{
    QTest::addColumn<bool>("splitWrites");
    QTest::newRow("whole writes") << false;
    QTest::newRow("one byte at a time") << true;
}

void TestSessionLists::recordExamples()
{
    QFETCH(bool, splitWrites);
    sim->Listeners = {{"1234", "30001", "PROGNAME", "2", "0", {}},
                      {"1235", "30002", "PROGNAME", "2", "0", "|X"},
                      {"77", "30004", "VGDSRVR.KQ.ORVANITE;PRI=DS S", "16", "30", {}}};
    // Records sent as they stand.
    sim->Processes = {{"1234", {}, {}, {}, {}, 0, 0, "P0123|456|PROG|USER|2500|3"},
                      {"1234", {}, {}, {}, {}, 0, 0, "P1999|456|PROG|USER|2500"},
                      {"1234", {}, {}, {}, {}, 0, 0, "P|456|PROG|USER|2500"}};
    QVERIFY(logOn(*session));
    sim->Faults.SplitWrites = splitWrites;

    const ListRead listeners = readList(*session, Wire::GetListeners);
    QCOMPARE(listeners.end, ListEnd::Complete);
    QCOMPARE(listeners.bodies,
             (QList<QByteArray>{"S1234|30001 PROGNAME|2|0", "S1235|30002 PROGNAME|2|0|X",
                                "S77|30004 VGDSRVR.KQ.ORVANITE;PRI=DS S|16|30"}));
    const ListRead processes = readList(*session, Wire::GetProcesses, QByteArray("1234"));
    QCOMPARE(processes.end, ListEnd::Complete);
    QCOMPARE(processes.bodies,
             (QList<QByteArray>{"P0123|456|PROG|USER|2500|3", "P1999|456|PROG|USER|2500",
                                "P|456|PROG|USER|2500"}));

    // The same lists into the tables.
    Transcript t(*session);
    session->refresh();
    QVERIFY(waitIdle(*session));
    QCOMPARE(t.lines, lines({"list 0 3", "list 0 3"}));
    QCOMPARE(shownRows(*session->listeners()),
             lines({"1234|Parcel Transfer|PROGNAME|30001|unlimited",
                    "1235|Parcel Transfer|PROGNAME|30002|unlimited",
                    "77|Vanguard|VGDSRVR.KQ.ORVANITE;PRI=DS S|30004|30"}));
    QCOMPARE(shownRows(*session->processes()),
             lines({"123|456|PROG|USER|   2.500|DS", "|456|PROG|USER|   2.500|",
                    "|456|PROG|USER|   2.500|"}));
}

void TestSessionLists::emptyList()
{
    sim->Listeners.clear();
    QVERIFY(logOn(*session));
    const qsizetype before = sim->received().size();
    Transcript t(*session);
    session->refresh();
    QVERIFY(waitIdle(*session));
    // No listener, so no process list is asked for.
    QCOMPARE(t.lines, lines({"list 0 0", "list 2 0"}));
    QCOMPARE(sim->received().mid(before), QByteArray("0001G"));
    QCOMPARE(session->listeners()->rows(), 0);
    QCOMPARE(session->processes()->rows(), 0);
}

void TestSessionLists::listEndsThenRenews_data()
{
    QTest::addColumn<HostSimFaults>("faults");
    QTest::addColumn<int>("cap"); // 0: the default
    QTest::addColumn<int>("hostListeners");
    QTest::addColumn<int>("records");          // read before the end
    QTest::addColumn<bool>("exact");           // else at most that many
    QTest::addColumn<ListEnd>("end");          // Stopped: stopped from a slot the first record runs
    QTest::addColumn<bool>("connected");       // when the list has ended
    QTest::addColumn<QStringList>("requests"); // the host saw, this list and the next

    const QStringList inStep = lines({"G", "G"});
    const QStringList renewed = lines({"G", "Q", "logon", "G"});
    const QStringList reopened = lines({"G", "logon", "G"});
    const auto row = [](const char* name, const HostSimFaults& faults, int cap, int hostListeners,
                        int records, ListEnd end, bool connected, const QStringList& requests,
                        bool exact = true) {
        QTest::newRow(name) << faults << cap << hostListeners << records << exact << end
                            << connected << requests;
    };
    row("whole list", {}, 0, 3, 3, ListEnd::Complete, true, inStep);
    row("exactly the cap", {}, 5, 5, 5, ListEnd::Complete, true, inStep);
    row("one past the cap", {}, 5, 6, 5, ListEnd::TooManyRecords, false, renewed);
    row("list that never ends", {.NeverEndingList = true}, 5, 3, 5, ListEnd::TooManyRecords, false,
        renewed);
    row("header not a number", {.BadHeader = true}, 0, 3, 0, ListEnd::BadHeader, true, renewed);
    // The first body swallows the next header.
    row("frame shorter than announced", {.ShortFrame = true}, 0, 3, 1, ListEnd::BadHeader, true,
        renewed);
    row("closed after 1 record", {.CloseAfterRecords = 1}, 0, 3, 1, ListEnd::Closed, false,
        reopened);
    row("reset after 2 records", {.ResetAfterRecords = 2}, 0, 3, 2, ListEnd::Closed, false,
        reopened, false);
    // The shortest wait there is (one second); the host answers after it.
    row("reply later than the wait", {.ReplyDelaySeconds = 1.5}, 0, 3, 0, ListEnd::TimedOut, true,
        renewed);
    // Each record within the per-read wait (0.7 s of 1 s), the whole list
    // longer than it: read whole.
    row("slow host", {.TrickleSeconds = 0.7}, 0, 3, 3, ListEnd::Complete, true, inStep);
    // The whole list already received when the operator stops it.
    row("stopped at a record", {}, 0, 200, 1, ListEnd::Stopped, false, renewed);
}

void TestSessionLists::listEndsThenRenews()
{
    QFETCH(HostSimFaults, faults);
    QFETCH(int, cap);
    QFETCH(int, hostListeners);
    QFETCH(int, records);
    QFETCH(bool, exact);
    QFETCH(ListEnd, end);
    QFETCH(bool, connected);
    QFETCH(QStringList, requests);
    sim->Listeners.clear();
    for (int i = 0; i < hostListeners; ++i)
        sim->Listeners.append({QByteArray::number(100 + i), "31000", "LISTENER", "2", "0", {}});
    QVERIFY(logOn(*session));
    if (cap > 0)
        session->setRecordCap(cap);
    sim->Faults = faults;
    if (faults.ReplyDelaySeconds > 0)
        session->setReplyTimeout(0);
    else if (faults.TrickleSeconds > 0)
        session->setReplyTimeout(1);
    CollectingSink sink;
    if (end == ListEnd::Stopped)
        sink.onRecord = [this](const Wire::SplitResult&) { session->stopList(); };
    HostRequests seen(*sim);
    Transcript t(*session);

    QElapsedTimer clock;
    clock.start();
    const ListRead cut = readList(*session, Wire::GetListeners, std::nullopt, &sink);
    QVERIFY(faults.TrickleSeconds == 0 || clock.elapsed() > 2000);
    QCOMPARE(cut.end, end);
    if (exact)
        QCOMPARE(cut.records, records);
    else
        QVERIFY2(cut.records <= records, qPrintable(QString::number(cut.records)));
    QCOMPARE(cut.bodies.size(), cut.records);
    QCOMPARE(session->isConnected(), connected);
    QCOMPARE(session->isOutOfStep(), end != ListEnd::Complete);
    // Only a reply that never came is reported by the socket.
    QCOMPARE(t.only(QStringLiteral("error")).size(), end == ListEnd::TimedOut ? 1 : 0);

    sim->Faults = HostSimFaults();
    session->setRecordCap(HostSession::MaxListRecords);
    session->setReplyTimeout(HostSession::DefaultReplyTimeout);
    sim->Listeners.resize(2);
    const ListRead next = readList(*session, Wire::GetListeners);
    QCOMPARE(next.end, ListEnd::Complete);
    QCOMPARE(next.bodies, listenerRecords(*sim));
    QVERIFY(!session->isOutOfStep());
    QTRY_COMPARE(seen.lines, requests);
}

void TestSessionLists::listFollowedAtOnceByClose()
{
    // A host that answers the logon, then sends a whole list and closes the
    // connection in the same breath: every frame is read before the close.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QByteArray list;
    for (int i = 0; i < 200; ++i)
        list += "0017S" + QByteArray::number(1000 + i) + "|30001 P|2|0";
    list += "0000";
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* peer = server.nextPendingConnection();
        connect(peer, &QTcpSocket::readyRead, peer, [peer, list] {
            const QByteArray got = peer->readAll();
            if (got.size() >= 118 && got.startsWith("000001"))
                peer->write("0");
            if (got.contains("0001G")) {
                peer->write(list);
                peer->disconnectFromHost();
            }
        });
    });
    session->setSettings(settingsFor(server.serverPort()));
    Transcript t(*session);
    session->connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(!t.only(QStringLiteral("list")).isEmpty(), 15000);
    QCOMPARE(t.only(QStringLiteral("list")).first(), QStringLiteral("list 0 200"));
    QCOMPARE(session->listeners()->rows(), 200);
    QCOMPARE(session->listeners()->cell(199, ListenerColumn::Pin), "1199");
}

void TestSessionLists::stoppedListKeepsItsRowsAndRenews()
{
    QVERIFY(connectAndWait(*session));
    sim->Faults.NeverEndingList = true;
    sim->Faults.TrickleSeconds = 0.05;
    QSignalSpy ended(session.get(), &HostSession::listEnded);
    HostRequests seen(*sim);
    session->refresh();
    // Let a few records arrive, then stop as the operator would.
    QTRY_VERIFY(session->listeners()->pendingRows() >= 3);
    session->stopList();
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().at(0).value<ListEnd>(), ListEnd::Stopped);
    // The rows read before the stop are shown.
    QVERIFY(ended.first().at(1).toInt() >= 3);
    QCOMPARE(session->listeners()->rows(), ended.first().at(1).toInt());
    QVERIFY(!session->isConnected());
    QVERIFY(session->isOutOfStep());
    QTRY_COMPARE(seen.lines, lines({"G", "Q"}));
    QVERIFY(waitIdle(*session));

    sim->Faults = HostSimFaults();
    session->refresh();
    QVERIFY(waitIdle(*session));
    QVERIFY(session->isConnected());
    QCOMPARE(session->listeners()->rows(), 2);
}

void TestSessionLists::millionRecordList()
{
    // The record cap is not hit by a list of exactly a million records.
    QCOMPARE(HostSession::MaxListRecords, 1'000'000);
    sim->Listeners = {{"4242", "30001", "BIG", "2", "0", {}}};
    sim->Processes.clear();
    sim->populate(1'000'000);
    QVERIFY(logOn(*session));
    CollectingSink sink;
    sink.keepBodies = false;
    int unsplit = 0;
    sink.onRecord = [&unsplit](const Wire::SplitResult& record) { unsplit += !record.ok(); };
    const ListRead read = readList(*session, Wire::GetProcesses, QByteArray("4242"), &sink, 120000);
    QCOMPARE(read.end, ListEnd::Complete);
    QCOMPARE(read.records, 1'000'000);
    QCOMPARE(sink.count, 1'000'000);
    QCOMPARE(unsplit, 0);
    QVERIFY(!session->isOutOfStep());
}

QTEST_GUILESS_MAIN(TestSessionLists)
#include "tst_sessionlists.moc"
