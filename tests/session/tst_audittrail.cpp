// The audit trail: the two lines of a command (what went out, what was seen
// after it), a new trail's permissions, and a trail that cannot be written.
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "support/HostLinkFixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace HostLinkFixture;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

mode_t modeOf(const QString& path)
{
    struct ::stat info = {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

class TestAuditTrail : public SessionTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void commandAndItsEffect_data();
    void commandAndItsEffect();
    void trailThatCannotTakeALine_data();
    void trailThatCannotTakeALine();
    void requiredTrailKeepsTheCommandBack_data();
    void requiredTrailKeepsTheCommandBack();
};

void TestAuditTrail::commandAndItsEffect_data()
{
    QTest::addColumn<HostCommand>("command");
    QTest::addColumn<QByteArray>("listener"); // the listener whose processes are listed
    QTest::addColumn<QString>("line");        // the first line, %1 for the port
    QTest::addColumn<QString>("effect");      // the second, what was seen after it

    const auto row = [](const char* name, const HostCommand& command, const char* listener,
                        const char* argument, const char* commandName, const char* target,
                        const char* effect, const char* seen = "") {
        QTest::newRow(name)
            << command << QByteArray(listener)
            << QStringLiteral(
                   R"({"argument":"%1","command":"%2","host":"127.0.0.1","id":"ID","port":%3,"program":"orvanite-console","request":%4,"via":null})")
                   .arg(QLatin1StringView(argument), QLatin1StringView(commandName), u"%1",
                        QLatin1StringView(target))
            << QStringLiteral(R"({"effect":"%1","program":"orvanite-console","refers_to":"ID"%2})")
                   .arg(QLatin1StringView(effect), QLatin1StringView(seen));
    };
    const HostCommand killProcess = HostCommand::killProcess("11", "11", "101", "PROG", "USER");
    const char* processTarget =
        R"("K","target":{"listener":"11","pin":"101","program":"PROG","user":"USER"})";
    row("kill process", killProcess, "11", "P11|101", "kill-process", processTarget, "target gone");
    row("kill process of a listener not listed", killProcess, "22", "P11|101", "kill-process",
        processTarget, "not seen");
    row("kill listener", HostCommand::killListener("22", "30002", "TWO"), "11", "S22",
        "kill-listener", R"("K","target":{"pin":"22","port":"30002","program":"TWO"})",
        "target gone");
    row("set priority", HostCommand::setPriority("11", "101", 3, {}, "USER"), "11", "101|3",
        "set-priority", R"("P","target":{"listener":"11","pin":"101","queue":"DS","user":"USER"})",
        "queue changed");
    row("start listener", HostCommand::startListener("2", "30003", "0", "NEW"), "11",
        "2|30003|0|NEW", "start-listener", R"("S","target":{"port":"30003","program":"NEW"})",
        "listener appeared", R"(,"seen":{"pin":"202","port":"30003"})");
}

void TestAuditTrail::commandAndItsEffect()
{
    QFETCH(HostCommand, command);
    QFETCH(QByteArray, listener);
    QFETCH(QString, line);
    QFETCH(QString, effect);

    QTemporaryDir dir;
    QVERIFY(connectAndWait(*session));
    session->selectListener(listener);

    CommandAudit audit(session.get(), QStringLiteral("orvanite-console"));
    audit.setTrail(AuditTrail(dir.filePath(QStringLiteral("state/orvanite/audit.jsonl"))));
    QSignalSpy seen(&audit, &CommandAudit::effectSeen);
    session->send(command);
    QVERIFY(seen.wait(10000));

    const QList<QJsonObject> entries = audit.trail().entries();
    QCOMPARE(entries.size(), 2);
    // Each line as compact JSON, its time and user (which vary) checked and
    // left out, the first line's id standing as ID in both.
    const QString id = entries[0].value(QStringLiteral("id")).toString();
    QVERIFY(!id.isEmpty());
    const auto shown = [&id](QJsonObject entry) {
        const bool stamped = !entry.take(QStringLiteral("time")).toString().isEmpty() &&
                             !entry.take(QStringLiteral("user")).toString().isEmpty();
        return QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact))
                   .replace(id, QStringLiteral("ID")) +
               (stamped ? QString() : QStringLiteral(" without time or user"));
    };
    QCOMPARE(shown(entries[0]), line.arg(sim->serverPort()));
    QCOMPARE(shown(entries[1]), effect);
}

void TestAuditTrail::trailThatCannotTakeALine_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");     // the end of the reason; none when written
    QTest::addColumn<QByteArray>("before"); // the trail's bytes before, where there is a file
    QTest::addColumn<QByteArray>("after");  // and after
    QTest::addColumn<int>("mode");          // of the trail afterwards (folder 0700 where made)
    const auto row = [](const char* name, const char* kind, const char* error,
                        const QByteArray& before, const QByteArray& after, int mode) {
        QTest::newRow(name) << QString::fromLatin1(kind)
                            << (*error ? QString::fromLatin1(error) : QString()) << before << after
                            << mode;
    };
    const QByteArray old = "{\"old\":1}\n";
    const QByteArray line = "{\"program\":\"test\"}\n";
    row("new trail, umask 000", "new", "", {}, line, 0600);
    row("0644 trail narrowed", "0644", "", old, old + line, 0600);
    row("full disk mid-line", "full",
        "only 5 of the line's 19 bytes could be written (the disk is full or the file at its "
        "size limit)",
        old, old, 0600);
    row("full disk before the line", "fullnow", "File too large", old, old, 0600);
    row("FIFO", "fifo", "is not a regular file", {}, {}, 0);
    row("symbolic link", "symlink", "is a symbolic link, which the trail does not follow", old, old,
        0644);
    row("folder is a file", "folder", "is not a folder", {}, {}, 0);
}

void TestAuditTrail::trailThatCannotTakeALine()
{
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(int, mode);

    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state/orvanite"));
    QString path = folder + QStringLiteral("/audit.jsonl");
    QString checked = path; // the file whose bytes are compared
    const auto put = [](const QString& file, const QByteArray& bytes, mode_t m) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() &&
               chmod(QFile::encodeName(file).constData(), m) == 0;
    };
    if (kind != QLatin1String("new") && kind != QLatin1String("folder"))
        QVERIFY(QDir().mkpath(folder));
    if (kind == QLatin1String("0644") || kind.startsWith(QLatin1String("full"))) {
        QVERIFY(put(path, before, kind == QLatin1String("0644") ? 0644 : 0600));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("symlink")) {
        checked = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(put(checked, before, 0644));
        QVERIFY(QFile::link(checked, path));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(put(dir.filePath(QStringLiteral("state")), {}, 0600));
    }

    AuditTrail trail(path);
    const QJsonObject entry{{QStringLiteral("program"), QStringLiteral("test")}};
    if (kind.startsWith(QLatin1String("full"))) {
        // A small file size limit in a child stands for a full disk: the
        // line is cut after 5 bytes, or not begun.
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlim_t limit = rlim_t(before.size()) + (kind == QLatin1String("full") ? 5 : 0);
            const rlimit r{limit, limit};
            setrlimit(RLIMIT_FSIZE, &r);
            const bool appended = trail.append(entry);
            const bool told = trail.errorString().endsWith(error);
            _exit(appended ? 1 : told ? 0 : 2);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        // Nothing of the cut line stays: the next line starts on its own.
        QCOMPARE(readAll(checked), after);
        QVERIFY(trail.append(entry));
        QCOMPARE(readAll(checked), after + "{\"program\":\"test\"}\n");
        return;
    }
    const mode_t old = umask(0);
    const bool written = trail.append(entry);
    umask(old);
    QCOMPARE(written, error.isEmpty());
    QVERIFY2(trail.errorString().endsWith(error), qPrintable(trail.errorString()));
    if (!written)
        QVERIFY(trail.errorString().startsWith(QStringLiteral("Audit trail not written: ")));
    if (kind != QLatin1String("fifo") && kind != QLatin1String("folder"))
        QCOMPARE(readAll(checked), after);
    if (mode != 0)
        QCOMPARE(modeOf(checked), mode_t(mode));
    if (kind == QLatin1String("new")) {
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(modeOf(dir.filePath(QStringLiteral("state"))), mode_t(0700));
    }
}

void TestAuditTrail::requiredTrailKeepsTheCommandBack_data()
{
    QTest::addColumn<bool>("required");
    QTest::addColumn<QByteArray>("sent"); // what the host got
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("journaled"); // the commands the journal got
    const QByteArray refresh = "0001G0001H000211";
    // A command kept back is nowhere, the journal included.
    QTest::newRow("required") << true << refresh + refresh
                              << QStringLiteral("; the command was not sent.") << QStringList();
    // Listener 11 is gone after its kill: no process list is asked for.
    QTest::newRow("not required") << false << "0001K0003S22" + refresh + "0001K0003S110001G"
                                  << QStringLiteral("; the command was sent unrecorded.")
                                  << QStringList{QStringLiteral("kill-listener S22"),
                                                 QStringLiteral("kill-listener S11")};
}

void TestAuditTrail::requiredTrailKeepsTheCommandBack()
{
    QFETCH(bool, required);
    QFETCH(QByteArray, sent);
    QFETCH(QString, status);
    QFETCH(QStringList, journaled);

    QStringList journal; // outlives the audit, which writes as it goes
    QTemporaryDir dir;
    QVERIFY(logOn(*session));
    session->selectListener("11");

    // The trail's folder is a file: no line can be written.
    QFile blocker(dir.filePath(QStringLiteral("state")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CommandAudit audit(session.get(), QStringLiteral("orvanite-console"));
    AuditTrail trail(dir.filePath(QStringLiteral("state/orvanite/audit.jsonl")));
    trail.setJournalSink([&journal](const QJsonObject& entry, const QByteArray&) {
        if (entry.contains(QStringLiteral("command")))
            journal << entry.value(QStringLiteral("command")).toString() + u' ' +
                           entry.value(QStringLiteral("argument")).toString();
    });
    audit.setTrail(trail);
    audit.setRequired(required);
    QSignalSpy failed(&audit, &CommandAudit::writeFailed);
    QSignalSpy firstTime(&audit, &CommandAudit::writeFailedFirstTime);
    QSignalSpy notSent(session.get(), &HostSession::commandNotSent);

    const qsizetype before = sim->received().size();
    session->send(HostCommand::killListener("22"));
    session->send(HostCommand::killListener("11"));
    QVERIFY(waitIdle(*session));
    QTRY_COMPARE(sim->received().mid(before), sent);
    QCOMPARE(notSent.size(), required ? 2 : 0);
    QVERIFY(failed.size() >= 2);
    QVERIFY2(failed.first().first().toString().endsWith(status),
             qPrintable(failed.first().first().toString()));
    // The message box comes once for one cause.
    QCOMPARE(firstTime.size(), 1);
    QCOMPARE(journal, journaled);
}

QTEST_GUILESS_MAIN(TestAuditTrail)
#include "tst_audittrail.moc"
