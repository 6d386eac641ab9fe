#include "CtlCommands.h"
#include "CtlRunner.h"
#include "HostSim.h"
#include "config/ConfigFile.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/RecordLists.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray frame(const QByteArray& body)
{
    return QByteArray::number(body.size()).rightJustified(4, '0') + body;
}

// The logon the console sends for its defaults: MANAGER, SYS, all else empty.
// MANAGER and 57 blanks, SYS and 45 blanks: 118 bytes.
const QByteArray DefaultLogon = "000001" + QByteArray("MANAGER").leftJustified(64, ' ') +
                                QByteArray("SYS").leftJustified(48, ' ');

QStringList strings(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* s : list)
        out << QString::fromUtf8(s);
    return out;
}

// A port on loopback that nobody listens on.
quint16 deadPort()
{
    QTcpServer closed;
    return closed.listen(QHostAddress::LocalHost) ? closed.serverPort() : 0;
}

// A configuration file's line: host, port, then empty values and 5 s.
QByteArray configLine(const char* host, const char* port)
{
    return "\"" + QByteArray(host) + "\",\"" + port +
           "\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",5\r\n";
}

// The simulator's listeners as orvanite-ctl writes them in CSV.
const QByteArray ListenersCsv = "pin,port,program,product,product_name,user_limit,max_users\n"
                                "1088,30002,CNDSRVR,8,Conduit,0,unlimited\n"
                                "12,030007,\"MY PROG, \"\"X\"\"\",07,07,00,unlimited\n"
                                "345,30020,PR\xc3\xa9V\x01,32,Lookout,050,050\n";
// The simulator's process list of listener 1088 as orvanite-ctl writes it.
const QByteArray CsvHead = "main_pin,pin,program,user,cpu_ms,cpu_seconds,priority\n";
const QByteArray CsvRows[] = {"1088,2001,CNDXFER,HJENSEN,1500,1.500,DS\n",
                              ",2002,CNDSPOOL,OPERATOR,0,0.000,\n",
                              "1088,2003,CNDXFER,SROSSI,123456789,123456.789,BS\n"};
const QByteArray JsonRows[] = {
    "  {\"main_pin\": 1088, \"pin\": 2001, \"program\": \"CNDXFER\", \"user\": \"HJENSEN\", "
    "\"cpu_ms\": 1500, \"cpu_seconds\": 1.500, \"priority\": \"DS\"}",
    "  {\"main_pin\": null, \"pin\": 2002, \"program\": \"CNDSPOOL\", \"user\": \"OPERATOR\", "
    "\"cpu_ms\": 0, \"cpu_seconds\": 0.000, \"priority\": null}",
    "  {\"main_pin\": 1088, \"pin\": 2003, \"program\": \"CNDXFER\", \"user\": \"SROSSI\", "
    "\"cpu_ms\": 123456789, \"cpu_seconds\": 123456.789, \"priority\": \"BS\"}"};

} // namespace

// orvanite-ctl's command layer run in process against an in-process HostSim:
// the bytes each command puts on the wire, its output in each format (under a
// decimal-comma locale), each exit status, and the configuration files it
// shares with the console.
class TestCtl : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HostSim> m_sim;
    QTemporaryDir m_dir;

    QStringList hostArgs() const
    {
        return {u"--host"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(m_sim->serverPort())};
    }
    int run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr)
    {
        QByteArray o, e;
        const int status = CtlRunner::run(args, o, e);
        if (out)
            *out = o;
        if (err)
            *err = e;
        return status;
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }
    // The bytes after the logon, once the connection has been closed.
    QByteArray requestsAfterLogon()
    {
        [&] { QTRY_COMPARE(m_sim->openConnections(), 0); }();
        return m_sim->received().mid(DefaultLogon.size());
    }
    // The trail is written to, and read from, state's orvanite/audit.jsonl.
    auto stateIn(const QString& state)
    {
        const QByteArray before = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", state.toUtf8());
        return qScopeGuard([before] { qputenv("XDG_STATE_HOME", before); });
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Tables write the CPU time with the locale's separator; JSON and CSV never.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVERIFY(m_dir.isValid());
        // The audit trail of the commands sent here stays in the test's folder.
        qputenv("XDG_STATE_HOME", m_dir.filePath(u"state"_s).toUtf8());
    }

    void init()
    {
        m_sim = std::make_unique<HostSim>();
        QVERIFY2(m_sim->listen(), qPrintable(m_sim->errorString()));
        m_sim->Listeners = {
            {"1088", "30002", "CNDSRVR", "8", "0", {}},
            {"12", "030007", "MY PROG, \"X\"", "07", "00", {}},
            {"345", "30020", "PR\xe9V\x01", "32", "050", {}},
        };
        m_sim->Processes = {
            {"1088", "1088", "2001", "CNDXFER", "HJENSEN", 1500, 3, {}},
            {"1088", "", "2002", "CNDSPOOL", "OPERATOR", 0, 0, {}},
            {"1088", "1088", "2003", "CNDXFER", "SROSSI", 123456789, 1, {}},
        };
    }

    void cleanup() { m_sim.reset(); }

    void commands_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("sent");    // after the logon; empty: not looked at
        QTest::addColumn<QByteArray>("printed"); // null: not looked at
        const auto row = [](const char* name, std::initializer_list<const char*> command,
                            const QByteArrayList& frames, const QByteArray& printed) {
            QByteArray sent;
            for (const QByteArray& body : frames)
                sent += frame(body);
            QTest::newRow(name) << strings(command) << (frames.isEmpty() ? sent : sent + frame("Q"))
                                << printed;
        };
        row("listeners table", {"listeners"}, {"G"},
            "Pin   Product  Program       Port    MaxUsers\n"
            "1088  Conduit  CNDSRVR       30002   unlimited\n"
            "12    07       MY PROG, \"X\"  030007  unlimited\n"
            "345   Lookout  PR\xc3\xa9V\\x01      30020   050\n");
        row("listeners json", {"--format", "json", "listeners"}, {},
            "[\n"
            "  {\"pin\": 1088, \"port\": 30002, \"program\": \"CNDSRVR\", \"product\": 8, "
            "\"product_name\": \"Conduit\", \"user_limit\": 0, \"max_users\": \"unlimited\"},\n"
            "  {\"pin\": 12, \"port\": \"030007\", \"program\": \"MY PROG, \\\"X\\\"\", "
            "\"product\": \"07\", \"product_name\": \"07\", \"user_limit\": \"00\", "
            "\"max_users\": \"unlimited\"},\n"
            "  {\"pin\": 345, \"port\": 30020, \"program\": \"PR\xc3\xa9V\\u0001\", "
            "\"product\": 32, \"product_name\": \"Lookout\", \"user_limit\": \"050\", "
            "\"max_users\": \"050\"}\n"
            "]\n");
        row("listeners csv", {"listeners", "--format=csv"}, {}, ListenersCsv);
        row("listeners tsv", {"listeners", "--format=tsv"}, {},
            "pin\tport\tprogram\tproduct\tproduct_name\tuser_limit\tmax_users\n"
            "1088\t30002\tCNDSRVR\t8\tConduit\t0\tunlimited\n"
            "12\t030007\tMY PROG, \"X\"\t07\t07\t00\tunlimited\n"
            "345\t30020\tPR\xc3\xa9V\\x01\t32\tLookout\t050\t050\n");
        row("processes tsv, no headers", {"--format", "tsv", "--no-headers", "processes", "1088"},
            {},
            "1088\t2001\tCNDXFER\tHJENSEN\t1500\t1.500\tDS\n"
            "\t2002\tCNDSPOOL\tOPERATOR\t0\t0.000\t\n"
            "1088\t2003\tCNDXFER\tSROSSI\t123456789\t123456.789\tBS\n");
        row("processes csv, CR LF", {"--format", "csv", "--crlf", "processes", "1088"}, {},
            "main_pin,pin,program,user,cpu_ms,cpu_seconds,priority\r\n"
            "1088,2001,CNDXFER,HJENSEN,1500,1.500,DS\r\n"
            ",2002,CNDSPOOL,OPERATOR,0,0.000,\r\n"
            "1088,2003,CNDXFER,SROSSI,123456789,123456.789,BS\r\n");
        // An empty list of a listener that is there is printed as such; the
        // listeners are asked to tell it from one that is not.
        row("empty list, listener written with zeros", {"--format", "csv", "processes", "0012"},
            {"H", "0012", "G"}, CsvHead);
        row("processes table", {"processes", "1088"}, {"H", "1088"},
            "Main  Pin   Program   User        CPU Time  Pri\n"
            "1088  2001  CNDXFER   HJENSEN        1,500  DS\n"
            "      2002  CNDSPOOL  OPERATOR       0,000\n"
            "1088  2003  CNDXFER   SROSSI    123456,789  BS\n");
        row("processes json", {"--format", "json", "processes", "1088"}, {},
            "[\n" + JsonRows[0] + ",\n" + JsonRows[1] + ",\n" + JsonRows[2] + "\n]\n");
        row("processes csv", {"--format", "csv", "processes", "1088"}, {},
            CsvHead + CsvRows[0] + CsvRows[1] + CsvRows[2]);
        row("empty process list, table: no Pri column", {"processes", "12"}, {},
            "Main  Pin  Program  User  CPU Time\n");
        row("empty process list, json", {"processes", "12", "--format", "json"}, {}, "[]\n");
        row("processes csv, no headers", {"--format", "csv", "--no-headers", "processes", "1088"},
            {}, CsvRows[0] + CsvRows[1] + CsvRows[2]);
        row("processes unaligned: every column, tab-separated", {"--no-align", "processes", "1088"},
            {},
            "Main\tPin\tProgram\tUser\tCPU Time\tPri\n"
            "1088\t2001\tCNDXFER\tHJENSEN\t1,500\tDS\n"
            "\t2002\tCNDSPOOL\tOPERATOR\t0,000\t\n"
            "1088\t2003\tCNDXFER\tSROSSI\t123456,789\tBS\n");
        row("listeners unaligned, no headers", {"--no-align", "--no-headers", "listeners"}, {},
            "1088\tConduit\tCNDSRVR\t30002\tunlimited\n"
            "12\t07\tMY PROG, \"X\"\t030007\tunlimited\n"
            "345\tLookout\tPR\xc3\xa9V\\x01\t30020\t050\n");
        // A command that changes the host is followed by one list into the
        // session's tables (the listeners, and the target listener's
        // processes), where the audit sees its effect; start lists the
        // listeners before it too, and prints them after.
        row("start, dialog item text",
            {"start", "16 - Vanguard", "30004", "", "VGDSRVR.KQ.ORVANITE;PRI=DS S"},
            {"G", "S", "16|30004||VGDSRVR.KQ.ORVANITE;PRI=DS S", "G", "G"}, {});
        row("start, typed number with a dash", {"start", "12-x", "30050", "5", "X.Y"},
            {"G", "S", "12|30050|5|X.Y", "G", "G"}, {});
        row("kill-listener", {"kill-listener", "1088"}, {"K", "S1088", "G"}, {});
        row("kill-process", {"kill-process", "1088", "2001"}, {"K", "P1088|2001", "G", "H", "1088"},
            {});
        // set-priority looks up the process's listener first.
        row("set-priority", {"set-priority", "2001", "ds"},
            {"G", "H", "1088", "P", "2001|3", "G", "H", "1088"}, {});
        row("set-priority, a process not listed", {"set-priority", "7777", "ES"},
            {"G", "H", "1088", "H", "12", "H", "345", "P", "7777|4", "G"}, {});
    }

    void commands()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, printed);
        QByteArray out, err;
        QCOMPARE(run(hostArgs() + command, &out, &err), 0);
        QCOMPARE(err, QByteArray());
        if (!printed.isNull())
            QCOMPARE(out, printed);
        QCOMPARE(m_sim->received().left(DefaultLogon.size()), DefaultLogon);
        if (!sent.isEmpty())
            QCOMPARE(requestsAfterLogon(), sent);
    }

    void shutdown()
    {
        // Without --yes it is a usage error (see failures).
        QSignalSpy shutdown(m_sim.get(), &HostSim::shutdownRequested);
        QByteArray err;
        QCOMPARE(run(hostArgs() + strings({"shutdown", "--yes"}), nullptr, &err), 0);
        QCOMPARE(err, QByteArray());
        QTRY_COMPARE(shutdown.count(), 1);
        // The host hangs up on a shutdown; Quit follows only if it is still there.
        const QByteArray sent = requestsAfterLogon();
        QVERIFY2(sent == frame("E") || sent == frame("E") + frame("Q"), sent.constData());
    }

    void configFileFromCurrentFolder()
    {
        // Nothing of these names stands beside the test program, so a bare
        // name is the current folder's, as in the console. Passwords come
        // from the file only; a 20-character user is cut to 16.
        const QString cwd = path("cwd");
        QVERIFY(QDir().mkpath(cwd));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd));
        const auto restore = qScopeGuard([&before] { QDir::setCurrent(before); });
        QCOMPARE(
            run(strings({"config", "set", "bare.hcf", "host=127.0.0.1", "user=ABCDEFGHIJKLMNOPQRST",
                         "user_password=SECRET", "group=OPS", "logon_extra=X7"})
                << u"port=%1"_s.arg(m_sim->serverPort())),
            0);
        QVERIFY(QFile::exists(cwd + u"/bare.hcf"_s));
        m_sim->Credentials = {"ABCDEFGHIJKLMNOP", "SECRET", "OPS", "", "SYS", "", "X7"};
        QSignalSpy logon(m_sim.get(), &HostSim::logonReceived);
        QByteArray out, err;
        QCOMPARE(run(strings({"--config", "bare.hcf", "listeners"}), &out, &err), 0);
        QVERIFY2(out.contains("CNDSRVR"), err.constData());
        QCOMPARE(logon.count(), 1);
        QCOMPARE(logon.first().first().toByteArray(),
                 "000001ABCDEFGHIJKLMNOPSECRET          OPS             " + QByteArray(16, ' ') +
                     "SYS             " + QByteArray(16, ' ') + "X7              ");

        QCOMPARE(run(strings({"--config", "missing.hcf", "listeners"}), &out, &err), 5);
        QCOMPARE(err, u"orvanite-ctl: Cannot find the configuration file missing.hcf: it is "
                      "neither beside the program (%1/missing.hcf) nor in the current folder "
                      "(%2/missing.hcf).\n"_s.arg(QCoreApplication::applicationDirPath(), cwd)
                          .toUtf8());
        QCOMPARE(m_sim->connectionCount(), 1);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("fault"); // of the host, see failures()
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("stdOut");
        // stdErr: the whole text if it ends in a newline, else a part of it.
        QTest::addColumn<QByteArray>("stdErr");
        QTest::addColumn<QByteArray>("sent"); // after the logon
        const auto row = [](const char* name, const char* fault,
                            std::initializer_list<const char*> command, int status,
                            const QByteArray& out, const QByteArray& err, const QByteArray& sent) {
            QTest::newRow(name) << QString::fromLatin1(fault) << strings(command) << status << out
                                << err << sent;
        };
        const QByteArray none = "no connection";
        const auto usage = [&](const char* name, std::initializer_list<const char*> command,
                               const char* err) { row(name, "", command, 2, {}, err, none); };
        usage("no command", {}, "no command");
        usage("unknown command", {"list"}, "no command 'list'");
        usage("bad PIN", {"processes", "12a"}, "decimal PIN");
        usage("missing argument", {"kill-process", "1088"},
              "Usage: orvanite-ctl [OPTIONS] kill-process MAIN PIN");
        usage("extra argument", {"listeners", "x"}, "unexpected argument 'x'");
        usage("bad queue", {"set-priority", "1", "BS"}, "CS, DS or ES");
        usage("port past 65535", {"start", "8", "65536", "0", "X"}, "PORT");
        usage("bad format", {"--format", "xml", "listeners"}, "unknown format");
        usage("CR LF outside CSV", {"--format", "tsv", "--crlf", "listeners"},
              "--crlf is for the CSV format");
        usage("bad timeout", {"--timeout", "0", "listeners"}, "--timeout");
        usage("--yes elsewhere", {"listeners", "--yes"}, "shutdown");
        usage("shutdown without --yes", {"shutdown"}, "--yes");
        usage("not Latin-1", {"start", "8", "30002", "0", "\xe2\x82\xac"}, "single-byte");
        QTest::newRow("too long for a frame")
            << QString() << (strings({"start", "8", "30002", "0"}) << QString(10000, u'X')) << 2
            << QByteArray() << QByteArray("at most 9999") << none;
        row("wrong user", "", {"--user", "NOBODY", "listeners"}, 3, {},
            "orvanite-ctl: Invalid Login!\n", frame("Q"));
        row("nobody listens", "nobody listens", {"listeners"}, 1, {},
            "orvanite-ctl: WINSOCK error: 10061\norvanite-ctl: Connection refused\n", none);
        row("no server process", "logon reply 9", {"listeners"}, 4, {},
            "orvanite-ctl: Error creating server process!\n", frame("Q"));
        // No answer within the wait: the socket's time-out, then the same failure.
        row("logon never answered", "logon never", {"--timeout", "1", "listeners"}, 4, {},
            "orvanite-ctl: WINSOCK error: 10060\norvanite-ctl: Connection timed out\n"
            "orvanite-ctl: Error creating server process!\n",
            frame("Q"));
        // A listener that is not there: nothing on the standard output in
        // any format, and a status of its own.
        const QByteArray notFound = "orvanite-ctl: no listener 99999 is listed\n";
        const QByteArray askedTwice = frame("H") + frame("99999") + frame("G") + frame("Q");
        row("not found, table", "", {"processes", "99999"}, 10, {}, notFound, askedTwice);
        row("not found, json", "", {"--format", "json", "processes", "99999"}, 10, {}, notFound,
            askedTwice);
        row("not found, csv", "", {"--format", "csv", "processes", "99999"}, 10, {}, notFound,
            askedTwice);
        row("not found, tsv", "", {"--format", "tsv", "processes", "99999"}, 10, {}, notFound,
            askedTwice);
        // The records before a malformed one are printed; the rest of the list
        // is still read so that the connection stays in step.
        const QByteArray listed = frame("H") + frame("1088") + frame("Q");
        const std::initializer_list<const char*> csv = {"--format", "csv", "processes", "1088"};
        const QByteArray further = "\norvanite-ctl: 2 further record(s) of the list not shown\n";
        const QByteArray record = "orvanite-ctl: malformed record 2 of the reply: ";
        row("CPU time not decimal", "record P01088|2009|X|U|12x", csv, 6, CsvHead + CsvRows[0],
            record + "CPU time '12x' is not a decimal number: P01088|2009|X|U|12x" + further,
            listed);
        row("priority 5", "record P01088|2009|X|U|5|5", csv, 6, CsvHead + CsvRows[0],
            record + "priority 5 is outside 1 to 4: P01088|2009|X|U|5|5" + further, listed);
        row("separator missing", "record P01088|2009", csv, 6, CsvHead + CsvRows[0],
            record + "missing separator after the PIN: P01088|2009" + further, listed);
        row("listener record in a process list", "listener record in a process list", csv, 6,
            CsvHead,
            "orvanite-ctl: malformed record 1 of the reply: a listener record in the process list: "
            "S1088|30002 CNDSRVR|8|0\norvanite-ctl: 3 further record(s) of the list not shown\n",
            listed);
        row("bad header", "bad header", csv, 6, CsvHead,
            "orvanite-ctl: a reply header that is not a length; the list ends here\n", listed);
        // Cut short, a list is printed whole in its format.
        const QByteArray cut =
            "orvanite-ctl: the host closed the connection before the end of the list\n";
        row("closed after one record, csv", "closed after 1", csv, 1, CsvHead + CsvRows[0], cut,
            frame("H") + frame("1088"));
        row("closed after two records, json", "closed after 2",
            {"--format", "json", "processes", "1088"}, 1,
            "[\n" + JsonRows[0] + ",\n" + JsonRows[1] + "\n]\n", cut, frame("H") + frame("1088"));
        row("records 3 s apart, a wait of 1 s", "records 3 s apart",
            {"--timeout", "1", "--format", "csv", "processes", "1088"}, 1, CsvHead,
            "orvanite-ctl: WINSOCK error: 10060\norvanite-ctl: Connection timed out\n", listed);
        // A live host that never ends its list: stopped by the opt-in list
        // time-out, with what came so far printed.
        row("list time-out", "never ending",
            {"--list-timeout", "1", "--format", "csv", "processes", "1088"}, 6,
            CsvHead + CsvRows[0],
            "orvanite-ctl: the list took longer than 1 s; reading stopped after ", listed);
    }

    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QByteArray, stdOut);
        QFETCH(QByteArray, stdErr);
        QFETCH(QByteArray, sent);
        QStringList args = hostArgs();
        HostSimFaults& f = m_sim->Faults;
        if (fault == u"nobody listens")
            args[3] = QString::number(deadPort());
        else if (fault == u"logon reply 9")
            f.LogonReply = "9";
        else if (fault == u"logon never")
            f.LogonNever = true;
        else if (fault.startsWith(u"record "))
            m_sim->Processes.insert(1, {"1088", {}, {}, {}, {}, 0, 0, fault.mid(7).toLatin1()});
        else if (fault == u"listener record in a process list")
            f.SRecordInProcessList = true;
        else if (fault == u"bad header")
            f.BadHeader = true;
        else if (fault.startsWith(u"closed after "))
            f.CloseAfterRecords = fault.back().digitValue();
        else if (fault == u"records 3 s apart")
            f.TrickleSeconds = 3;
        else if (fault == u"never ending")
            f.NeverEndingList = true, f.TrickleSeconds = 0.2;
        QByteArray out, err;
        QCOMPARE(run(args + command, &out, &err), status);
        if (fault == u"never ending")
            QVERIFY2(out.startsWith(stdOut), out.constData());
        else
            QCOMPARE(out, stdOut);
        if (stdErr.endsWith('\n'))
            QCOMPARE(err, stdErr);
        else
            QVERIFY2(err.contains(stdErr), err.constData());
        if (sent == "no connection")
            QCOMPARE(m_sim->connectionCount(), 0);
        else
            QCOMPARE(requestsAfterLogon(), sent);
    }

    void commandChecks_data()
    {
        QTest::addColumn<QString>("listed"); // the host's lists, see commandChecks()
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("printed"); // null: not looked at
        const auto row = [](const char* name, const char* listed,
                            std::initializer_list<const char*> command, int status,
                            const QByteArray& message, const QByteArray& printed = {}) {
            QTest::newRow(name) << QString::fromLatin1(listed) << strings(command) << status
                                << message << printed;
        };
        row("another program", "", {"kill-process", "1088", "2001", "--expect-program", "CNDSPOOL"},
            7,
            "orvanite-ctl: process 2001 runs CNDXFER for HJENSEN, not program CNDSPOOL; nothing "
            "was killed\n");
        row("another user", "",
            {"kill-process", "1088", "2003", "--expect-program", "CNDXFER", "--expect-user",
             "HJENSEN"},
            7,
            "orvanite-ctl: process 2003 runs CNDXFER for SROSSI, not user HJENSEN; nothing was "
            "killed\n");
        row("not there", "", {"kill-process", "1088", "2999", "--expect-user", "HJENSEN"}, 10,
            "orvanite-ctl: no process 2999 of main process 1088 is listed; nothing was killed\n");
        row("under another main PIN", "",
            {"kill-process", "12", "2001", "--expect-user", "HJENSEN"}, 7,
            "orvanite-ctl: process 2001 belongs to main process 1088, not 12; nothing was "
            "killed\n");
        row("listener on another port", "", {"kill-listener", "12", "--expect-port", "30002"}, 7,
            "orvanite-ctl: listener 12 serves port 030007 (07, MY PROG, \"X\"), not 30002; "
            "nothing was killed\n");
        row("listener not there", "", {"kill-listener", "77", "--expect-port", "30002"}, 10,
            "orvanite-ctl: no listener 77 is listed; nothing was killed\n");
        row("process as expected", "",
            {"kill-process", "1088", "2001", "--expect-program", "CNDXFER", "--expect-user",
             "HJENSEN"},
            0, {});
        row("listener as expected, port written with a zero", "",
            {"kill-listener", "12", "--expect-port", "30007"}, 0, {});
        // A PIN listed twice with other details is refused, whichever comes first.
        const QByteArray prog = "PROG for USER under main process 123";
        const QByteArray other = "OTHER for USER under main process 123";
        const auto twice = [](const QByteArray& first, const QByteArray& second) {
            return "orvanite-ctl: process 456 is listed more than once, running " + first +
                   " and " + second + "; nothing was killed\n";
        };
        row("twice: --expect-program", "process twice",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 7, twice(prog, other));
        row("twice: --expect-user", "process twice",
            {"kill-process", "123", "456", "--expect-user", "USER"}, 7, twice(prog, other));
        row("twice: --verify", "process twice", {"kill-process", "123", "456", "--verify"}, 7,
            twice(prog, other));
        row("twice, other first: --expect-program", "process twice, other first",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 7, twice(other, prog));
        row("twice, other first: --expect-user", "process twice, other first",
            {"kill-process", "123", "456", "--expect-user", "USER"}, 7, twice(other, prog));
        row("twice, other first: --verify", "process twice, other first",
            {"kill-process", "123", "456", "--verify"}, 7, twice(other, prog));
        // The main process's listener is read first.
        row("under two listeners", "under two listeners",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 7, twice(prog, other));
        row("under two listeners, other first", "under two listeners, other first",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 7, twice(prog, other));
        row("listener twice", "listener twice", {"kill-listener", "77", "--expect-port", "30001"},
            7,
            "orvanite-ctl: listener 77 is listed more than once, as port 30001 (Conduit, ONE) and "
            "port 30002 (Conduit, TWO); nothing was killed\n");
        row("listener twice, other first", "listener twice, other first",
            {"kill-listener", "77", "--expect-port", "30001"}, 7,
            "orvanite-ctl: listener 77 is listed more than once, as port 30002 (Conduit, TWO) and "
            "port 30001 (Conduit, ONE); nothing was killed\n");
        // PINs are compared by value: a PIN written with a leading zero is
        // the same process, so listed with other details it is a duplicate.
        const QByteArray intruder = "OTHER for INTRUDER under main process 123";
        row("padded PIN twice: --expect-program", "padded process twice",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 7, twice(prog, intruder));
        row("padded PIN twice, other first: --verify", "padded process twice, other first",
            {"kill-process", "123", "456", "--verify"}, 7, twice(intruder, prog));
        row("padded listener PIN twice", "padded listener twice",
            {"kill-listener", "500", "--expect-port", "30001"}, 7,
            "orvanite-ctl: listener 500 is listed more than once, as port 30001 (Conduit, ONE) and "
            "port 30002 (Conduit, TWO); nothing was killed\n");
        row("padded main PIN as expected", "padded main PIN",
            {"kill-process", "123", "456", "--expect-program", "PROG"}, 0, {});
        // --verify: the list is printed either way; the command is sent.
        row("start seen", "",
            {"--format", "csv", "start", "16", "30004", "10", "VGDSRVR.KQ.ORVANITE;PRI=DS S",
             "--verify"},
            0, {}, ListenersCsv + "2004,30004,VGDSRVR,16,Vanguard,10,10\n");
        // The host refuses a command whose program is empty: nothing appears.
        row("start not seen", "",
            {"--format", "csv", "start", "16", "30004", "10", " X", "--verify", "--verify-timeout",
             "1"},
            8, "orvanite-ctl: no new listener of product 16 on port 30004 after 1 s\n",
            ListenersCsv);
        // A listener already on the port is not the one asked for.
        row("start, only an older listener on the port", "",
            {"--format", "csv", "start", "8", "30002", "10", " X", "--verify", "--verify-timeout",
             "1"},
            8, "orvanite-ctl: no new listener of product 8 on port 30002 after 1 s\n",
            ListenersCsv);
        row("kill-listener seen", "", {"kill-listener", "345", "--verify"}, 0, {});
        row("kill-process seen", "", {"kill-process", "1088", "2003", "--verify"}, 0, {});
    }

    void commandChecks()
    {
        // The lists come first; a refusal (7, 10) sends no command at all.
        QFETCH(QString, listed);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, printed);
        if (listed.startsWith(u"listener twice")) {
            m_sim->Listeners = {{"77", "30001", "ONE", "8", "0", {}},
                                {"77", "30002", "TWO", "8", "0", {}}};
            m_sim->Processes.clear();
        } else if (listed.startsWith(u"padded listener")) {
            m_sim->Listeners = {{"500", "30001", "ONE", "8", "0", {}},
                                {"0500", "30002", "TWO", "8", "0", {}}};
            m_sim->Processes.clear();
        } else if (listed.startsWith(u"padded")) {
            m_sim->Listeners = {{"123", "30001", "ONE", "8", "0", {}}};
            m_sim->Processes = {{"123", "123", "456", "PROG", "USER", 0, 0, {}},
                                {"123", "123", "0456", "OTHER", "INTRUDER", 0, 0, {}}};
            if (listed == u"padded main PIN")
                m_sim->Processes = {{"123", "0123", "456", "PROG", "USER", 0, 0, {}}};
        } else if (!listed.isEmpty()) {
            m_sim->Listeners = {{"123", "30001", "ONE", "8", "0", {}},
                                {"789", "30003", "THREE", "8", "0", {}}};
            m_sim->Processes = {{"123", "123", "456", "PROG", "USER", 0, 0, {}},
                                {"123", "123", "456", "OTHER", "USER", 0, 0, {}}};
            if (listed.startsWith(u"under two"))
                m_sim->Processes[1].ListenerPin = "789";
        }
        if (listed.endsWith(u"other first")) {
            std::reverse(m_sim->Listeners.begin(), m_sim->Listeners.end());
            std::reverse(m_sim->Processes.begin(), m_sim->Processes.end());
        }
        QByteArray out, err;
        QCOMPARE(run(hostArgs() + command, &out, &err), status);
        QCOMPARE(err, message);
        if (!printed.isNull())
            QCOMPARE(out, printed);
        const QByteArray sent = requestsAfterLogon();
        QVERIFY2(sent.startsWith(frame("G")), sent.constData());
        QCOMPARE(sent.contains(frame("K")) || sent.contains(frame("S")),
                 status != 7 && status != 10);
        QVERIFY(sent.endsWith(frame("Q")));
    }

    void watchUntilInterrupted()
    {
        // Into a pipe, each list is one JSON line; an interrupt ends the
        // watch with status 0 and Quit to the host.
        QByteArray out, err;
        QBuffer outBuffer(&out), errBuffer(&err);
        outBuffer.open(QIODevice::WriteOnly);
        errBuffer.open(QIODevice::WriteOnly);
        CtlRunner runner(outBuffer, errBuffer);
        // Interrupted once two lists have been printed, in the pause after them.
        QTimer poll;
        connect(&poll, &QTimer::timeout, &runner, [&out, &runner] {
            if (out.count('\n') == 2)
                runner.interrupt();
        });
        poll.start(20);
        QCOMPARE(
            runner.run(hostArgs() + strings({"--format", "json", "--watch", "1", "listeners"})), 0);
        QCOMPARE(err, QByteArray());
        const QList<QByteArray> lines = out.split('\n');
        QCOMPARE(lines.size(), 3); // two lines and nothing after the last newline
        QCOMPARE(lines[1], lines[0]);
        QVERIFY2(lines[0].startsWith("[{\"pin\": 1088, ") && lines[0].endsWith("}]"),
                 lines[0].constData());
        QVERIFY(requestsAfterLogon().endsWith(frame("G") + frame("Q")));
    }

    void auditOfAKill_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("required");
        QTest::newRow("trail written") << true << false;
        QTest::newRow("trail written, --require-audit") << true << true;
        QTest::newRow("trail cannot be written") << false << false;
        QTest::newRow("trail cannot be written, --require-audit") << false << true;
    }

    void auditOfAKill()
    {
        // The command's line carries the listed row it was checked against;
        // the line after it, the effect the list that followed showed.
        QFETCH(bool, writable);
        QFETCH(bool, required);
        const QString state =
            path(writable ? (required ? "kill-state-required" : "kill-state") : "kill-state-file");
        if (!writable) {
            QFile blocker(state); // a file where the trail's folder should be
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        const auto restore = stateIn(state);
        QByteArray err;
        QStringList args = strings({"kill-process", "1088", "2001", "--expect-program", "CNDXFER"});
        if (required)
            args << u"--require-audit"_s;
        QCOMPARE(run(hostArgs() + args, nullptr, &err), !writable && required ? 9 : 0);
        QCOMPARE(requestsAfterLogon().contains(frame("K") + frame("P1088|2001")),
                 writable || !required);
        if (!writable) {
            const QByteArray head =
                "orvanite-ctl: Audit trail not written: " + state.toUtf8() + " is not a folder; ";
            QCOMPARE(err, required ? head + "the command was not sent.\n"
                                   : head + "the command was sent unrecorded.\n" + head +
                                         "the effect of a command is not recorded.\n");
            return;
        }
        QCOMPARE(err, QByteArray());
        QList<QJsonObject> lines = AuditTrail(state + u"/orvanite/audit.jsonl"_s).entries();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[1].take(u"refers_to"_s), lines[0].value(u"id"_s));
        QByteArrayList shown;
        for (QJsonObject line : lines) {
            for (const char* key : {"id", "time", "user", "port"})
                line.remove(QLatin1StringView(key));
            shown << QJsonDocument(line).toJson(QJsonDocument::Compact);
        }
        QCOMPARE(shown.join('\n'),
                 R"({"argument":"P1088|2001","command":"kill-process","host":"127.0.0.1",)"
                 R"("program":"orvanite-ctl","request":"K","target":{"listener":"1088",)"
                 R"("pin":"2001","program":"CNDXFER","user":"HJENSEN"},"via":null})"
                 "\n"
                 R"({"effect":"target gone","program":"orvanite-ctl"})");
    }

    void auditPrintsNewestFirst_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray header = "id,time,user,program,host,port,command,argument,"
                                  "target_listener,target_pin,target_program,target_user,"
                                  "target_port,target_queue,effect,effect_time,seen_pin,"
                                  "seen_port\n";
        const QByteArray c = "c,2024-05-01T10:02:00.000Z,ann,orvanite-ctl,east,30000,"
                             "start-listener,8|30004|0|X,,,,,30004,,listener appeared,"
                             "2024-05-01T10:02:01.000Z,4001,30004\n";
        const QByteArray b = "b,2024-05-01T10:01:00.000Z,bob,orvanite-console,west,30001,"
                             "set-priority,2001|3,1088,2001,,,,DS,,,,\n";
        const QByteArray a = "a,2024-05-01T10:00:00.000Z,ann,orvanite-ctl,east,30000,"
                             "kill-listener,S1088,,1088,CNDSRVR,,30002,,target gone,"
                             "2024-05-01T10:00:01.000Z,,\n";
        QTest::newRow("all") << QStringList() << header + c + b + a;
        QTest::newRow("filter in any case, on the effect")
            << strings({"--filter", "GONE"}) << header + a;
        QTest::newRow("filter on the host and port")
            << strings({"--filter", "west:30001"}) << header + b;
        QTest::newRow("filter, then the newest one")
            << strings({"--filter", "ann", "--limit", "1"}) << header + c;
    }

    void auditPrintsNewestFirst()
    {
        // Oldest first in the file, as appended; a line that is not JSON and
        // an effect without its command are passed over.
        const QString state = path("audit-print");
        QVERIFY(QDir().mkpath(state + u"/orvanite"_s));
        QFile trail(state + u"/orvanite/audit.jsonl"_s);
        QVERIFY(trail.open(QIODevice::WriteOnly));
        trail.write(
            R"({"id":"a","time":"2024-05-01T10:00:00.000Z","user":"ann","program":"orvanite-ctl","host":"east","port":30000,"command":"kill-listener","argument":"S1088","target":{"pin":"1088","program":"CNDSRVR","port":"30002"}})"
            "\n"
            R"({"time":"2024-05-01T10:00:01.000Z","refers_to":"a","effect":"target gone"})"
            "\n"
            "not json\n"
            R"({"id":"b","time":"2024-05-01T10:01:00.000Z","user":"bob","program":"orvanite-console","host":"west","port":30001,"command":"set-priority","argument":"2001|3","target":{"listener":"1088","pin":"2001","queue":"DS"}})"
            "\n"
            R"({"time":"2024-05-01T10:01:30.000Z","refers_to":"zz","effect":"target gone"})"
            "\n"
            R"({"id":"c","time":"2024-05-01T10:02:00.000Z","user":"ann","program":"orvanite-ctl","host":"east","port":30000,"command":"start-listener","argument":"8|30004|0|X","target":{"port":"30004"}})"
            "\n"
            R"({"time":"2024-05-01T10:02:01.000Z","refers_to":"c","effect":"listener appeared","seen":{"pin":"4001","port":"30004"}})"
            "\n");
        trail.close();
        const auto restore = stateIn(state);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, expected);
        QByteArray out, err;
        QCOMPARE(run(strings({"--format", "csv", "audit"}) + options, &out, &err), 0);
        QCOMPARE(err, QByteArray());
        QCOMPARE(out, expected);
        QCOMPARE(m_sim->connectionCount(), 0);
    }

    void manyHostsOneDown_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("listeners") << strings({"--format", "csv", "listeners"})
                                   << QByteArray("host,pin,port,program,product,product_name,"
                                                 "user_limit,max_users\n"
                                                 "good,1088,30002,CNDSRVR,8,Conduit,0,unlimited\n"
                                                 "good,12,030007,\"MY PROG, \"\"X\"\"\",07,07,00,"
                                                 "unlimited\n"
                                                 "good,345,30020,PR\xc3\xa9V\x01,32,Lookout,050,"
                                                 "050\n");
        // Each host's census, as the window's All hosts shows it.
        QTest::newRow("hosts")
            << strings({"--format", "json", "hosts"})
            << QByteArray(
                   "[\n  {\"name\": \"good\", \"link\": \"connected\", \"listeners\": 3, "
                   "\"processes\": 3, \"cpu_ms\": 123458289, \"cpu_seconds\": 123458.289, "
                   "\"listed\": \"TIME\", \"reconnections\": 0, \"route\": null},\n"
                   "  {\"name\": \"down\", \"link\": \"WINSOCK error: 10061 Connection refused\", "
                   "\"listeners\": null, \"processes\": null, \"cpu_ms\": null, "
                   "\"cpu_seconds\": null, \"listed\": null, \"reconnections\": 0, "
                   "\"route\": null}\n]\n");
    }

    void manyHostsOneDown()
    {
        // The host that answers is listed in full; the other one gives its
        // error lines under its name, and the exit status.
        QFETCH(QStringList, command);
        QFETCH(QByteArray, expected);
        QStringList configs;
        for (const auto& [name, port] :
             {std::pair{"good.hcf", m_sim->serverPort()}, std::pair{"down.hcf", deadPort()}}) {
            configs << u"--config"_s << path(name);
            QCOMPARE(run(strings({"config", "set"})
                         << path(name) << u"port=%1"_s.arg(port) << u"host=127.0.0.1"_s),
                     0);
        }
        QByteArray out, err;
        QCOMPARE(run(configs + command, &out, &err), 1);
        // The time of the census, UTC.
        out = QString::fromUtf8(out)
                  .replace(QRegularExpression(u"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ"_s),
                           u"TIME"_s)
                  .toUtf8();
        QCOMPARE(out, expected);
        QCOMPARE(err, QByteArray("orvanite-ctl: down: WINSOCK error: 10061\n"
                                 "orvanite-ctl: down: Connection refused\n"));
    }

    void configShow_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("expected");
        // Each password is followed by where it lives.
        const auto json = [](const char* userPassword, const char* accountPassword) {
            return "{\"host\": \"h\xc3\xb6st.example\", \"port\": 30005, \"user\": \"OPER\", "
                   "\"user_password\": \"" +
                   QByteArray(userPassword) +
                   "\", \"user_password_in\": \"in the file\", \"group\": \"OPS\", "
                   "\"group_password\": \"\", \"group_password_in\": \"empty\", \"account\": "
                   "\"SYS\", \"account_password\": \"" +
                   accountPassword +
                   "\", \"account_password_in\": \"in the file\", \"logon_extra\": \"X,1\", "
                   "\"refresh_interval\": 30}\n";
        };
        QTest::newRow("json, masked")
            << strings({"--format", "json"}) << json("********", "********");
        QTest::newRow("json, revealed")
            << strings({"--format", "json", "--reveal"}) << json("pw1", "A\\\"B");
        QTest::newRow("csv") << strings({"--format", "csv"})
                             << QByteArray("host,port,user,user_password,user_password_in,group,"
                                           "group_password,group_password_in,account,account_"
                                           "password,account_password_in,logon_extra,refresh_"
                                           "interval\n"
                                           "h\xc3\xb6st.example,30005,OPER,********,in the file,"
                                           "OPS,,empty,SYS,********,in the file,\"X,1\",30\n");
        QTest::newRow("table") << QStringList()
                               << QByteArray("Key                  Value\n"
                                             "host                 h\xc3\xb6st.example\n"
                                             "port                 30005\n"
                                             "user                 OPER\n"
                                             "user_password        ********\n"
                                             "user_password_in     in the file\n"
                                             "group                OPS\n"
                                             "group_password\n"
                                             "group_password_in    empty\n"
                                             "account              SYS\n"
                                             "account_password     ********\n"
                                             "account_password_in  in the file\n"
                                             "logon_extra          X,1\n"
                                             "refresh_interval     30\n");
    }

    void configShow()
    {
        // A file written by the console's own save.
        QFETCH(QStringList, options);
        QFETCH(QByteArray, expected);
        ConnectionSettings s;
        s.HostAddress = "h\xf6st.example";
        s.Port = 30005;
        s.User = "OPER";
        s.UserPassword = "pw1";
        s.Group = "OPS";
        s.AccountPassword = "A\"B";
        s.LogonExtra = "X,1";
        s.RefreshInterval = 30000;
        std::mt19937 rng(7);
        const QString file = path("show.hcf");
        QCOMPARE(SaveConfigFile(file, s, rng), QString());
        QByteArray out, err;
        QCOMPARE(run(options + strings({"config", "show"}) << file, &out, &err), 0);
        QCOMPARE(err, QByteArray());
        QCOMPARE(out, expected);
    }

    void configSet()
    {
        const QString file = path("new.hcf");
        QFile::remove(file);
        QCOMPARE(run(strings({"config", "set"})
                     << file << u"host=h1"_s << u"refresh_interval=0"_s
                     << QString::fromUtf8("account_password=\xc3\xa9t\xc3\xa9")),
                 0);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        // The console reads what ctl wrote: defaults for what was not set.
        ConnectionSettings expected;
        expected.HostAddress = "h1";
        expected.AccountPassword = "\xe9t\xe9";
        expected.RefreshInterval = 5000; // 0 raised to 5 as the loader does
        ConnectionSettings loaded;
        LoadConfigFile(file, loaded);
        QCOMPARE(loaded, expected);

        // Changing one value keeps the others; a file given wider permissions keeps them.
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QCOMPARE(
            run(strings({"config", "set"}) << file << u"port=65535"_s << u"refresh_interval=999"_s),
            0);
        expected.Port = 65535;
        expected.RefreshInterval = 60000;
        loaded = ConnectionSettings();
        LoadConfigFile(file, loaded);
        QCOMPARE(loaded, expected);
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0640u);

        // Values from the standard input, one KEY=VALUE a line; not with others.
        QByteArray err;
        QCOMPARE(CtlRunner::run(strings({"config", "set"}) << file << u"-"_s, err, err,
                                "host=h2\r\nuser_password=p w=1\n\ngroup=G\n"),
                 0);
        LoadConfigFile(file, loaded);
        QCOMPARE(loaded.HostAddress, QByteArray("h2"));
        QCOMPARE(loaded.UserPassword, QByteArray("p w=1"));
        QCOMPARE(loaded.Group, QByteArray("G"));
        QCOMPARE(loaded.Port, 65535);
        QCOMPARE(CtlRunner::run(strings({"config", "set"}) << file << u"-"_s << u"port=1"_s, err,
                                err, "host=h3\n"),
                 2);
    }

    void configRefusals_data()
    {
        QTest::addColumn<QByteArray>("before");   // the file: a line, <fifo>, or none at all
        QTest::addColumn<QStringList>("command"); // F stands for the file
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("stderrHas");
        const auto row = [](const char* name, const QByteArray& before, const QStringList& command,
                            int status, const char* stderrHas) {
            QTest::newRow(name) << before << command << status << QByteArray(stderrHas);
        };
        const QByteArray old = configLine("old", "1");
        const auto set = [](std::initializer_list<const char*> a) {
            return strings({"config", "set", "F"}) + strings(a);
        };
        row("set: port past 65535", old, set({"port=65536"}), 2, "port");
        row("set: port not a number", old, set({"port=12a"}), 2, "port");
        row("set: interval not a number", old, set({"refresh_interval=ten"}), 2,
            "refresh_interval");
        row("set: unknown key", old, set({"hostname=x"}), 2, "no setting 'hostname'");
        row("set: not KEY=VALUE", old, set({"host"}), 2, "KEY=VALUE");
        row("set: a later value bad", old, set({"host=new", "port=-1"}), 2, "port");
        row("set: host the line cannot carry", old, set({"host=a\"b"}), 5, "cannot be saved");
        // The reader's bound, in the reader's words, and the file as it was.
        row("set: host past the line's bound", old,
            set({QString(100000, u'h').prepend(u"host="_s).toLatin1().constData()}), 5,
            "bad.hcf: the first line is longer than 65536 bytes");
        const QStringList show = strings({"config", "show", "F"});
        const QStringList list = strings({"--config", "F", "listeners"});
        row("missing, show", {}, show, 5, "cannot open");
        row("missing, --config", {}, list, 5, "cannot open");
        // Opening a FIFO to read it would wait until somebody writes to it.
        row("a FIFO, show", "<fifo>", show, 5, "bad.hcf: not a regular file");
        row("a FIFO, --config", "<fifo>", list, 5, "bad.hcf: not a regular file");
        row("port not a number", configLine("h", "x"), show, 5, "'x' is not a valid integer value");
        row("port out of range", configLine("h", "70000"), list, 5, "Range check error");
        row("no host", configLine("", "1"), list, 5, "names no host");
        row("bad file, set", "\"h\",\"1\",\"0\"\r\n", set({"user=X"}), 5,
            "is not a valid integer value");
    }

    void configRefusals()
    {
        // Nothing is printed or sent, and the file stays exactly as it was.
        QFETCH(QByteArray, before);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QByteArray, stderrHas);
        const QString file = path("bad.hcf");
        QFile::remove(file);
        if (before == "<fifo>") {
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        } else if (!before.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(before);
        }
        command.replaceInStrings(QRegularExpression(u"^F$"_s), file);
        QByteArray out, err;
        QCOMPARE(run(command, &out, &err), status);
        QVERIFY2(err.contains(stderrHas), err.constData());
        QCOMPARE(out, QByteArray());
        QCOMPARE(m_sim->connectionCount(), 0);
        if (before != "<fifo>") {
            QFile f(file);
            QCOMPARE(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), before);
        }
    }

    void helpAndManual()
    {
        QByteArray viaHelp, viaOption, program;
        QCOMPARE(run(strings({"help", "start"}), &viaHelp), 0);
        QCOMPARE(run(strings({"start", "--help"}), &viaOption), 0);
        QCOMPARE(viaHelp, viaOption);
        QVERIFY(
            viaHelp.startsWith("Usage: orvanite-ctl [OPTIONS] start PRODUCT PORT USERS COMMAND"));
        QCOMPARE(run(strings({"--help"}), &program), 0);
        for (const char* command :
             {"listeners", "processes PIN", "start PRODUCT", "kill-listener", "kill-process",
              "set-priority", "shutdown --yes", "config show", "config set"})
            QVERIFY2(program.contains(command), command);
        // Scripts branch on these numbers: they never change.
        QStringList statuses;
        auto it = QRegularExpression(u"^ +(\\d+)  (\\S+)"_s, QRegularExpression::MultilineOption)
                      .globalMatch(QString::fromUtf8(program.mid(program.indexOf("Exit status:"))));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            statuses << m.captured(1) + u' ' + m.captured(2);
        }
        QCOMPARE(statuses.join(u'|'),
                 u"0 success|1 network|2 usage|3 logon|4 logon|5 configuration|"
                 "6 a|7 --expect-*:|8 --verify:|9 --require-audit:|10 not|11 the|12 unknown|"
                 "130 interrupted"_s);
        QByteArray config;
        QCOMPARE(run(strings({"help", "config", "set"}), &config), 0);
        QVERIFY(config.contains("KEY=VALUE"));
        QCOMPARE(m_sim->connectionCount(), 0);
        // The manual page is written by hand; the tables are what the
        // program takes. Every command, option and exit status must be in it.
        QFile page(qEnvironmentVariable("ORV_SOURCE_DIR") + u"/docs/orvanite-ctl.1"_s);
        QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
        QByteArray text = page.readAll();
        text.replace("\\-", "-");
        for (const char* font : {"\\fB", "\\fR", "\\fI", "\\fP"})
            text.replace(font, "");
        // A command's entry in COMMANDS starts a line: .B listeners, .BI "config show" ...
        const QString page16 = QString::fromUtf8(text);
        for (const CtlCommand& c : CtlCommands::all()) {
            const QRegularExpression entry(
                u"^\\.B[IR]? \"?%1\\b"_s.arg(QRegularExpression::escape(QLatin1StringView(c.name))),
                QRegularExpression::MultilineOption);
            QVERIFY2(page16.contains(entry), c.name);
        }
        for (const CtlOption& o : CtlCommands::options())
            QVERIFY2(text.contains(QByteArray(o.name)), o.name);
        const qsizetype exitSection = text.indexOf(".SH EXIT STATUS");
        QVERIFY(exitSection > 0);
        const QByteArray exits =
            text.mid(exitSection, text.indexOf(".SH", exitSection + 1) - exitSection);
        for (const QString& status : std::as_const(statuses)) {
            const QByteArray entry = ".B " + status.section(u' ', 0, 0).toLatin1() + '\n';
            QVERIFY2(exits.contains(entry), entry.constData());
        }
    }

    void fieldsInEachFormat_data()
    {
        QTest::addColumn<QByteArray>("latin1");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QByteArray>("terminalCsv");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("tsv");
        const auto row = [](const char* name, const QByteArray& latin1, const char* csv,
                            const char* terminalCsv, const char* json, const char* table,
                            const char* tsv) {
            QTest::newRow(name) << latin1 << QByteArray(csv) << QByteArray(terminalCsv)
                                << QByteArray(json) << QByteArray(table) << QByteArray(tsv);
        };
        row("plain", "ab", "ab", "ab", "\"ab\"", "ab", "ab");
        row("empty", "", "", "", "\"\"", "", "");
        row("comma", "a,b", "\"a,b\"", "\"a,b\"", "\"a,b\"", "a,b", "a,b");
        row("quote", "a\"b", "\"a\"\"b\"", "\"a\"\"b\"", "\"a\\\"b\"", "a\"b", "a\"b");
        row("CR LF", "a\r\nb", "\"a\r\nb\"", "a\\x0d\\x0ab", "\"a\\r\\nb\"", "a\\x0d\\x0ab",
            "a\\r\\nb");
        row("tab", "a\tb", "a\tb", "a\\x09b", "\"a\\tb\"", "a\\x09b", "a\\tb");
        row("leading and trailing blanks", " a b ", "\" a b \"", "\" a b \"", "\" a b \"", " a b ",
            " a b ");
        row("controls", QByteArray("\x1b[2J\x7f\x85\\", 7), "\x1b[2J\x7f\xc2\x85\\",
            "\\x1b[2J\\x7f\\x85\\", "\"\\u001b[2J\\u007f\\u0085\\\\\"", "\\x1b[2J\\x7f\\x85\\",
            "\\x1b[2J\\x7f\\x85\\\\");
        row("Latin-1", "\xff", "\xc3\xbf", "\xc3\xbf", "\"\xc3\xbf\"", "\xc3\xbf", "\xc3\xbf");
    }

    void fieldsInEachFormat()
    {
        QFETCH(QByteArray, latin1);
        QFETCH(QByteArray, csv);
        QFETCH(QByteArray, terminalCsv);
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, tsv);
        QByteArray csvOut, terminalOut, jsonOut, tableOut, tsvOut;
        RecordText::appendTsvField(tsvOut, latin1);
        QCOMPARE(tsvOut, tsv);
        RecordText::appendCsvField(csvOut, latin1);
        RecordText::appendCsvField(terminalOut, latin1, true);
        RecordText::appendJsonString(jsonOut, latin1);
        RecordText::appendTerminalText(tableOut, latin1);
        QCOMPARE(csvOut, csv);
        QCOMPARE(terminalOut, terminalCsv);
        QCOMPARE(jsonOut, json);
        QCOMPARE(tableOut, table);
    }

    void consoleAndCtlWriteTheSameBytes()
    {
        // The console's Export of a table and orvanite-ctl's list of the same
        // host are one writer's output.
        HostSession session;
        ConnectionSettings settings;
        settings.HostAddress = "127.0.0.1";
        settings.Port = m_sim->serverPort();
        session.setSettings(settings);
        QSignalSpy listed(&session, &HostSession::processesChanged);
        session.connectToHost();
        QVERIFY(listed.wait(10000));
        QCOMPARE(session.processes()->rows(), 3);
        for (const RecordFormat format : {RecordFormat::Json, RecordFormat::Csv}) {
            for (const bool processes : {false, true}) {
                const RecordTableModel& table =
                    processes ? static_cast<const RecordTableModel&>(*session.processes())
                              : *session.listeners();
                QByteArray ctl;
                QCOMPARE(run(hostArgs() << u"--format"_s
                                        << (format == RecordFormat::Json ? u"json"_s : u"csv"_s)
                                        << (processes ? strings({"processes", "1088"})
                                                      : strings({"listeners"})),
                             &ctl),
                         0);
                QCOMPARE(RecordLists::tableRows(table, {0, 1, 2}, format), ctl);
            }
        }
        session.quit();
    }

    void realProgram()
    {
        const QString bin = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-ctl"_s;
        if (!QFile::exists(bin))
            QSKIP("orvanite-ctl is not built");
        QProcess ctl;
        QSignalSpy finished(&ctl, &QProcess::finished);
        ctl.start(bin, hostArgs() + strings({"--format", "json", "listeners"}));
        QVERIFY(finished.wait(20000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 0);
        const QByteArray out = ctl.readAllStandardOutput();
        QVERIFY2(out.startsWith("[\n  {\"pin\": 1088, "), out.constData());
        QCOMPARE(ctl.readAllStandardError(), QByteArray());
        QTRY_COMPARE(m_sim->openConnections(), 0);
        QVERIFY(m_sim->received().endsWith(frame("G") + frame("Q")));

        // Past ulimit -f the write fails and is reported; no SIGXFSZ ends the
        // program half-way.
        m_sim->Processes.clear();
        for (int i = 0; i < 20000; ++i)
            m_sim->Processes.push_back(
                {"1088", "", QByteArray::number(10000 + i), "CNDXFER", "HJENSEN", i, 0, {}});
        // A reader that stops early (| head) ends the program quietly, long
        // before the list does.
        QProcess pipeline;
        QSignalSpy pipelineFinished(&pipeline, &QProcess::finished);
        pipeline.start(u"bash"_s, QStringList{u"-c"_s, u"\"$@\" | head -1; exit ${PIPESTATUS[0]}"_s,
                                              u"bash"_s, bin} +
                                      hostArgs() +
                                      strings({"--format", "csv", "processes", "1088"}));
        QVERIFY(pipelineFinished.wait(20000));
        QCOMPARE(pipeline.readAllStandardError(), QByteArray());
        QCOMPARE(pipeline.readAllStandardOutput(), CsvHead);
        QCOMPARE(pipeline.exitCode(), 0);

        ctl.setStandardOutputFile(path("limited.txt"));
        ctl.setChildProcessModifier([] {
            const struct rlimit limit = {4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        ctl.start(bin, hostArgs() + strings({"processes", "1088"}));
        QVERIFY(finished.wait(20000));
        QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ctl.exitCode(), 1);
        QCOMPARE(ctl.readAllStandardError(),
                 QByteArray("orvanite-ctl: cannot write the output: File too large\n"));
        QCOMPARE(QFileInfo(path("limited.txt")).size(), 4096);
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_Ctl.moc"
