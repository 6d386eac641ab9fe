// The audit trail: the two lines of a command (what went out, what was seen
// after it), a new trail's permissions, and a trail that cannot be written.
#include "host_link/Wire.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"

#include "hostsim/HostSim.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Command = CommandAudit::Command;

class TestAuditTrail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandAndItsEffect_data();
    void commandAndItsEffect();
    void newTrailIsPrivate();
    void unwritableTrailIsReported();
};

void TestAuditTrail::commandAndItsEffect_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("listener"); // the listener whose processes are listed
    QTest::addColumn<QString>("line");        // the first line, without id, time and user
    QTest::addColumn<QString>("effect");      // the effect and what was seen

    const QString head =
        QStringLiteral(R"("host":"127.0.0.1","port":%1,"program":"orvanite-console","request":)");
    QTest::newRow("kill process")
        << int(Command::KillProcess) << QByteArray("11")
        << head +
               QStringLiteral(
                   R"("K","target":{"listener":"11","pin":"101","program":"PROG","user":"USER"})")
        << QStringLiteral("target gone");
    QTest::newRow("kill process of a listener not listed")
        << int(Command::KillProcess) << QByteArray("22")
        << head +
               QStringLiteral(
                   R"("K","target":{"listener":"11","pin":"101","program":"PROG","user":"USER"})")
        << QStringLiteral("not seen");
    QTest::newRow("kill listener")
        << int(Command::KillListener) << QByteArray("11")
        << head + QStringLiteral(R"("K","target":{"pin":"22","port":"30002","program":"TWO"})")
        << QStringLiteral("target gone");
    QTest::newRow("set priority")
        << int(Command::SetPriority) << QByteArray("11")
        << head + QStringLiteral(
                      R"("P","target":{"listener":"11","pin":"101","queue":"DS","user":"USER"})")
        << QStringLiteral("queue changed");
    QTest::newRow("start listener")
        << int(Command::StartListener) << QByteArray("11")
        << head + QStringLiteral(R"("S","target":{"port":"30003","program":"NEW"})")
        << QStringLiteral(R"(listener appeared {"pin":"202","port":"30003"})");
}

void TestAuditTrail::commandAndItsEffect()
{
    QFETCH(int, command);
    QFETCH(QByteArray, listener);
    QFETCH(QString, line);
    QFETCH(QString, effect);

    QTemporaryDir dir;
    HostSim sim;
    QVERIFY(sim.listen());
    sim.Listeners = {{"11", "30001", "ONE", "2", "0", {}}, {"22", "30002", "TWO", "8", "5", {}}};
    sim.Processes = {{"11", "11", "101", "PROG", "USER", 1500, 3, {}},
                     {"22", "22", "201", "CND", "ANN", 0, 0, {}}};
    HostSession session;
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = sim.serverPort();
    session.setSettings(settings);
    session.connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(
        session.linkState() == HostSession::LinkState::LoggedOn && !session.isBusy(), 10000);
    session.selectListener(listener);

    CommandAudit audit(&session, QStringLiteral("orvanite-console"));
    audit.setTrail(AuditTrail(dir.filePath(QStringLiteral("state/orvanite/audit.jsonl"))));
    QSignalSpy seen(&audit, &CommandAudit::effectSeen);
    switch (Command(command)) {
    case Command::KillProcess:
        QVERIFY(audit.commandAboutToBeSent(Command(command), "P11|101",
                                           {"11", "101", "PROG", "USER", {}, {}}));
        session.killProcess("11", "101");
        break;
    case Command::KillListener:
        QVERIFY(audit.commandAboutToBeSent(Command(command), "S22",
                                           {{}, "22", "TWO", {}, "30002", {}}));
        session.killListener("22");
        break;
    case Command::SetPriority:
        QVERIFY(audit.commandAboutToBeSent(Command(command), "101|3",
                                           {"11", "101", {}, "USER", {}, "DS"}));
        session.setPriority("101", 3);
        break;
    case Command::StartListener:
        QVERIFY(audit.commandAboutToBeSent(Command(command), "2|30003|0|NEW.EXE",
                                           {{}, {}, "NEW", {}, "30003", {}}));
        session.startListener("2|30003|0|NEW.EXE");
        break;
    case Command::ShutdownJob:
        break;
    }
    QVERIFY(seen.wait(10000));

    const QList<QJsonObject> entries = audit.trail().entries();
    QCOMPARE(entries.size(), 2);
    QJsonObject first = entries[0];
    const QString id = first.take(QStringLiteral("id")).toString();
    QVERIFY(!id.isEmpty());
    QVERIFY(!first.take(QStringLiteral("time")).toString().isEmpty());
    QVERIFY(!first.take(QStringLiteral("user")).toString().isEmpty());
    const QString argument = first.take(QStringLiteral("argument")).toString();
    const QString name = first.take(QStringLiteral("command")).toString();
    QCOMPARE(name, CommandAudit::commandName(Command(command)));
    QVERIFY(!argument.isEmpty());
    QCOMPARE(QString::fromUtf8(QJsonDocument(first).toJson(QJsonDocument::Compact)),
             QLatin1Char('{') + line.arg(sim.serverPort()) + QLatin1Char('}'));

    const QJsonObject second = entries[1];
    QCOMPARE(second.value(QStringLiteral("refers_to")).toString(), id);
    QString shown = second.value(QStringLiteral("effect")).toString();
    if (second.contains(QStringLiteral("seen")))
        shown += QLatin1Char(' ') +
                 QString::fromUtf8(QJsonDocument(second.value(QStringLiteral("seen")).toObject())
                                       .toJson(QJsonDocument::Compact));
    QCOMPARE(shown, effect);
}

void TestAuditTrail::newTrailIsPrivate()
{
    QTemporaryDir dir;
    const mode_t old = umask(0);
    AuditTrail trail(dir.filePath(QStringLiteral("a/b/audit.jsonl")));
    const bool written = trail.append({{QStringLiteral("program"), QStringLiteral("test")}});
    umask(old);
    QVERIFY2(written, qPrintable(trail.errorString()));
    struct stat info
    {
    };
    QCOMPARE(stat(QFile::encodeName(trail.path()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0600));
    QCOMPARE(trail.entries().size(), 1);
}

void TestAuditTrail::unwritableTrailIsReported()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AuditTrail trail(dir.filePath(QStringLiteral("file/audit.jsonl")));
    QVERIFY(!trail.append({{QStringLiteral("program"), QStringLiteral("test")}}));
    QVERIFY2(trail.errorString().startsWith(QStringLiteral("Audit trail not written: ")),
             qPrintable(trail.errorString()));
}

QTEST_GUILESS_MAIN(TestAuditTrail)
#include "tst_audittrail.moc"
