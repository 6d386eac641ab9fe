// orvanite-exporter in process: seconds as the exposition writes them, the
// per-host deadline a scrape allows, the command line, and collections
// against simulated hosts: the census as series, failures by reason, a
// session kept between scrapes.
#include "config/ConfigFile.h"
#include "exporter/ExporterLog.h"
#include "exporter/ExporterOptions.h"
#include "exporter/Exposition.h"
#include "exporter/HostCollector.h"
#include "exporter/MetricsServer.h"
#include "exporter/ProcessMetrics.h"

#include "ExporterTestSupport.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Two listeners; the second's processes include an awkward user and program.
void populate(HostSim& sim)
{
    sim.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}},
                     {"12", "30002", "ODD\"\\\nPROG", "77", "5", {}}};
    sim.Processes = {{"11", "11", "101", "PCLXFER", "ANN", 1500, 0, {}},
                     {"11", "11", "102", "PCLXFER", "BOB", 250, 2, {}},
                     {"12", {}, "201", "X\xe9", "Q\"\\", 1, 0, {}}};
}

QByteArray seriesLines(const QByteArray& text, const QByteArray& family)
{
    QByteArray out;
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(family + '{') || line.startsWith(family + ' '))
            out += line + '\n';
    return out;
}

// Collects once; false if the collection did not end in time.
bool collectOnce(HostCollector& host, int deadlineMs = 5000)
{
    QSignalSpy done(&host, &HostCollector::finished);
    host.collect(deadlineMs);
    // A collection that does not log on ends before collect() returns.
    return !done.isEmpty() || done.wait(5000);
}

} // namespace

class TestExporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondsFromMilliseconds()
    {
        // The last one is past 2^53.
        const std::pair<qint64, const char*> cases[] = {{0, "0"},
                                                        {1, "0.001"},
                                                        {1500, "1.5"},
                                                        {7000, "7"},
                                                        {123456, "123.456"},
                                                        {-1020, "-1.02"},
                                                        {9007199254740993, "9007199254740.993"}};
        for (const auto& [ms, text] : cases)
            QCOMPARE(Exposition::millisecondsAsSeconds(ms), QByteArray(text));
    }

    void hostDeadline()
    {
        // The scrape's time-out header and the cap; the deadline keeps a margin.
        const std::tuple<const char*, int, int> cases[] = {
            {"", 9000, 9000},      // no header
            {"10", 9000, 9000},    // Prometheus's default, capped
            {"2", 9000, 1800},     // keeps 0.2 s
            {"0.5", 9000, 400},    // a fraction
            {"60", 120000, 59000}, // a long scrape keeps 1 s
            {"60", 9000, 9000},    // capped
            {"ten", 9000, 9000},   // garbage
            {"0.05", 9000, 1},     // shorter than the margin
        };
        for (const auto& [header, capMs, deadlineMs] : cases)
            QCOMPARE(MetricsServer::hostDeadlineMs(header, capMs), deadlineMs);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("read"); // the hosts' labels and where to listen; empty: refused
        QTest::addColumn<QString>("errorPart");
        const auto row = [](const char* name, std::initializer_list<const char*> arguments,
                            const char* read, const char* errorPart) {
            QStringList list;
            for (const char* argument : arguments)
                list << QString::fromLatin1(argument);
            QTest::newRow(name) << list << QString::fromLatin1(read)
                                << QString::fromLatin1(errorPart);
        };
        row("two files", {"--config", "a.hcf", "--config=sub/b.hcf"},
            "10.0.0.1:30000 10.0.0.2:31000 on 127.0.0.1 9731", "");
        row("folder, by name", {"--config-dir", "sub"},
            "10.0.0.2:31000 10.0.0.3:30000 on 127.0.0.1 9731", "");
        row("same file twice", {"--config", "a.hcf", "--config", "./a.hcf"},
            "10.0.0.1:30000 on 127.0.0.1 9731", "");
        row("limit and web file",
            {"--config", "a.hcf", "--collect.processes.limit=0", "--web.config.file", "w.yml"},
            "10.0.0.1:30000 on 127.0.0.1 9731", "");
        row("listen on every address, last port", {"--config", "a.hcf", "--listen", ":65535"},
            "10.0.0.1:30000 on 0.0.0.0 65535", "");
        row("listen on IPv6", {"--config", "a.hcf", "--listen=[::1]:0"}, "10.0.0.1:30000 on ::1 0",
            "");
        row("same host, two files", {"--config", "a.hcf", "--config", "twin.hcf"}, "",
            "both name the host 10.0.0.1:30000");
        row("no host", {"--collect.processes"}, "", "no host");
        row("missing file", {"--config", "nowhere.hcf"}, "", "nowhere.hcf");
        row("a FIFO, not waited on", {"--config", "fifo.hcf"}, "", "fifo.hcf: not a regular file");
        row("file without host", {"--config", "empty.hcf"}, "", "is not a valid integer value");
        row("empty folder", {"--config-dir", "none"}, "", "no .hcf file");
        row("new name of --listen", {"--config", "a.hcf", "--web.listen-address", "[::1]:9"},
            "10.0.0.1:30000 on ::1 9", "");
        row("both names, the last counts",
            {"--config", "a.hcf", "--web.listen-address", ":1", "--listen", "127.0.0.2:2"},
            "10.0.0.1:30000 on 127.0.0.2 2", "");
        row("bad timeout", {"--config", "a.hcf", "--collect.timeout", "0"}, "",
            "--collect.timeout: '0' is not a number of seconds above 0 and at most 3600");
        row("log level", {"--config", "a.hcf", "--log.level", "loud"}, "",
            "--log.level: 'loud' is not debug, info, warn or error");
        row("unknown", {"--config", "a.hcf", "--verbose"}, "", "unknown argument '--verbose'");
        row("unknown, with a value", {"--config", "a.hcf", "--verbose=2"}, "",
            "unknown argument '--verbose=2'");
        row("stray word", {"--config", "a.hcf", "b.hcf"}, "", "unknown argument 'b.hcf'");
        row("value missing", {"--config"}, "", "--config needs a value");
        row("value to a switch", {"--config", "a.hcf", "--collect.processes=1"}, "",
            "--collect.processes takes no value");
        row("negative limit", {"--config", "a.hcf", "--collect.processes.limit", "-1"}, "",
            "--collect.processes.limit: '-1'");
        row("listen without a port", {"--config", "a.hcf", "--listen", "127.0.0.1"}, "",
            "--listen: '127.0.0.1' is not ADDRESS:PORT");
        row("listen past the last port", {"--config", "a.hcf", "--listen", ":65536"}, "",
            "--listen: ':65536' is not ADDRESS:PORT");
        row("listen on a name", {"--config", "a.hcf", "--listen", "east:80"}, "",
            "--listen: 'east:80' is not ADDRESS:PORT");
        row("listen address, new name", {"--config", "a.hcf", "--web.listen-address", "x"}, "",
            "--web.listen-address: 'x' is not ADDRESS:PORT");
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, read);
        QFETCH(QString, errorPart);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(u"sub"_s));
        QVERIFY(QDir(dir.path()).mkpath(u"none"_s));
        const auto save = [&](const char* name, const char* host, quint16 port) {
            ConnectionSettings s;
            s.HostAddress = host;
            s.Port = port;
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ConfigLine(s, '7'));
        };
        save("a.hcf", "10.0.0.1", 30000);
        save("twin.hcf", "10.0.0.1", 30000);
        save("sub/b.hcf", "10.0.0.2", 31000);
        save("sub/c.HCF", "10.0.0.3", 30000);
        QFile(dir.filePath(u"empty.hcf"_s)).open(QIODevice::WriteOnly);
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(u"fifo.hcf"_s)).constData(), 0600) == 0);

        ExporterOptions options;
        options.credentialsDirectory.clear();
        options.consoleFolder.clear();
        QString error;
        const bool ok =
            options.parse(arguments, dir.filePath(u"bin/orvanite-exporter"_s), dir.path(), error);
        if (read.isEmpty()) {
            QVERIFY(!ok);
            QVERIFY2(error.contains(errorPart), qPrintable(error));
            return;
        }
        QVERIFY2(ok, qPrintable(error));
        QStringList shown;
        for (const HostTarget& target : options.hosts)
            shown << target.label;
        shown << u"on"_s << options.listenAddress.toString() << QString::number(options.listenPort);
        QCOMPARE(shown.join(u' '), read);
    }

    void collectedExposition_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QByteArray>("processSeries");
        QTest::addColumn<QByteArray>("omitted");
        const QByteArray ann =
            "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"11\",pin=\"101\","
            "user=\"ANN\",program=\"PCLXFER\"} 1.5\n";
        const QByteArray bob =
            "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"11\",pin=\"102\","
            "user=\"BOB\",program=\"PCLXFER\"} 0.25\n";
        QTest::newRow("no process series") << qint64(0) << QByteArray() << QByteArray("3");
        QTest::newRow("one short") << qint64(2) << ann + bob << QByteArray("1");
        QTest::newRow("exactly")
            << qint64(3)
            << ann + bob +
                   "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"12\","
                   "pin=\"201\",user=\"Q\\\"\\\\\",program=\"X\xc3\xa9\"} 0.001\n"
            << QByteArray("0");
    }

    void collectedExposition()
    {
        // The host's census as the exposition shows it; the limit cuts only the
        // per-process series, never the listeners' sums.
        QFETCH(qint64, limit);
        QFETCH(QByteArray, processSeries);
        QFETCH(QByteArray, omitted);
        HostSim sim;
        populate(sim);
        QVERIFY(sim.listen());
        HostTarget target = targetFor(sim);
        target.settings.HostAddress = "localhost"; // a name, looked up off the thread
        HostCollector host(target, true);
        host.setProcessLimit(limit);
        QVERIFY(collectOnce(host));
        // The host's label is written H here.
        const QByteArray text =
            Exposition::write({&host.sample()}, true).replace(target.label.toUtf8(), "H");
        QByteArray census;
        for (const char* family :
             {"orvanite_up", "orvanite_listener_info", "orvanite_listener_max_users",
              "orvanite_listener_processes", "orvanite_listener_cpu_seconds",
              "orvanite_process_cpu_seconds_total", "orvanite_process_series_omitted"})
            census += seriesLines(text, family);
        QCOMPARE(census, "orvanite_up{host=\"H\"} 1\n"
                         "orvanite_listener_info{host=\"H\",pin=\"11\",product=\"Parcel Transfer\","
                         "program=\"PCLSRVR\",port=\"30001\"} 1\n"
                         "orvanite_listener_info{host=\"H\",pin=\"12\",product=\"77\","
                         "program=\"ODD\\\"\\\\\\nPROG\",port=\"30002\"} 1\n"
                         "orvanite_listener_max_users{host=\"H\",pin=\"11\"} 0\n"
                         "orvanite_listener_max_users{host=\"H\",pin=\"12\"} 5\n"
                         "orvanite_listener_processes{host=\"H\",pin=\"11\"} 2\n"
                         "orvanite_listener_processes{host=\"H\",pin=\"12\"} 1\n"
                         "orvanite_listener_cpu_seconds{host=\"H\",pin=\"11\"} 1.75\n"
                         "orvanite_listener_cpu_seconds{host=\"H\",pin=\"12\"} 0.001\n" +
                             processSeries + "orvanite_process_series_omitted{host=\"H\"} " +
                             omitted + '\n');
    }

    void failuresByReason_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QByteArray>("reason"); // the one errors series at 1, all others 0
        const auto row = [](const char* name, const char* fault, bool up, const char* reason) {
            QTest::newRow(name) << QByteArray(fault) << up << QByteArray(reason);
        };
        row("refused", "refused", false, "logon_refused");
        row("no server process", "failed", false, "logon_failed");
        row("nobody listens", "closed port", false, "connect");
        row("closed in a list", "close", false, "closed");
        row("bad header", "header", false, "bad_reply");
        // A host that never answers holds up only its own collection.
        row("silent", "silent", false, "timeout");
        // The list is still read: the other processes are counted.
        row("unreadable record", "malformed", true, "malformed_record");
    }

    void failuresByReason()
    {
        QFETCH(QByteArray, fault);
        QFETCH(bool, up);
        QFETCH(QByteArray, reason);
        auto sim = std::make_unique<HostSim>();
        populate(*sim);
        if (fault == "refused")
            sim->Credentials[0] = "OTHER";
        else if (fault == "failed")
            sim->Faults.LogonReply = "2";
        else if (fault == "close")
            sim->Faults.CloseAfterRecords = 1;
        else if (fault == "header")
            sim->Faults.BadHeader = true;
        else if (fault == "silent")
            sim->Faults.Silent = true;
        else if (fault == "malformed")
            sim->Processes.append({"11", "11", "103", "P", "U", 0, 0, "P0x|103|P|U|12a"});
        QVERIFY(sim->listen());
        const HostTarget target = targetFor(*sim);
        if (fault == "closed port")
            sim.reset();

        HostCollector host(target, false);
        QVERIFY(collectOnce(host, fault == "silent" ? 500 : 5000));
        QCOMPARE(host.sample().up, up);
        const QByteArray text =
            Exposition::write({&host.sample()}, false).replace(target.label.toUtf8(), "H");
        QVERIFY(!text.contains("orvanite_process"));
        QCOMPARE(seriesLines(text, "orvanite_up"),
                 up ? "orvanite_up{host=\"H\"} 1\n" : "orvanite_up{host=\"H\"} 0\n");
        const QByteArray errors = seriesLines(text, "orvanite_collect_errors_total");
        QCOMPARE(errors.count('\n'), 7);
        QCOMPARE(errors.count(" 0\n"), 6);
        QVERIFY2(errors.contains("{host=\"H\",reason=\"" + reason + "\"} 1\n"), errors.constData());
        if (up)
            QCOMPARE(host.sample().listeners[0].processes, 2);
        else
            QVERIFY(host.sample().listeners.empty());
    }

    void sessionKeptBetweenScrapes()
    {
        HostSim sim;
        populate(sim);
        QVERIFY(sim.listen());
        HostCollector host(targetFor(sim), false);
        for (int scrape = 0; scrape < 3; ++scrape) {
            QVERIFY(collectOnce(host));
            QVERIFY(host.sample().up);
        }
        QCOMPARE(sim.connectionCount(), 1);

        // A failed collection drops the connection; the next one logs on afresh.
        sim.Faults.CloseAfterRecords = 0;
        QVERIFY(collectOnce(host));
        QVERIFY(!host.sample().up);
        sim.Faults.CloseAfterRecords = -1;
        QVERIFY(collectOnce(host));
        QVERIFY(host.sample().up);
        QCOMPARE(host.sample().errors[size_t(CollectError::Closed)], 1u);
        QCOMPARE(sim.connectionCount(), 2);
    }
    void processListedTwiceServedOnce()
    {
        // A list that changed while it was read can name a process twice: one
        // series, the first; the same PIN under another listener is another
        // process.
        HostSim sim;
        sim.Listeners = {{"11", "30001", "PCLSRVR", "2", "0", {}},
                         {"12", "30002", "CNDSRVR", "8", "0", {}}};
        sim.Processes = {{"11", "11", "101", "P", "ANN", 1000, 0, {}},
                         {"11", "11", "102", "P", "BOB", 2000, 0, {}},
                         {"11", "11", "101", "P", "ANN", 3000, 0, {}},
                         {"12", "12", "101", "Q", "CAT", 4000, 0, {}}};
        QVERIFY(sim.listen());
        const HostTarget target = targetFor(sim);
        HostCollector host(target, true);
        QVERIFY(collectOnce(host));
        const QByteArray text =
            Exposition::write({&host.sample()}, true).replace(target.label.toUtf8(), "H");
        QCOMPARE(seriesLines(text, "orvanite_process_cpu_seconds_total"),
                 "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"11\",pin=\"101\","
                 "user=\"ANN\",program=\"P\"} 1\n"
                 "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"11\",pin=\"102\","
                 "user=\"BOB\",program=\"P\"} 2\n"
                 "orvanite_process_cpu_seconds_total{host=\"H\",listener=\"12\",pin=\"101\","
                 "user=\"CAT\",program=\"Q\"} 4\n");
    }

    void passwordSources_data()
    {
        // The host file is for MANAGER@10.0.0.1:30000 (account SYS);
        // credentials are "name=content" files. The console: "on" or "off",
        // its keyring preference; "index LEVELS", the levels it moved (for
        // user OTHER with "other"); "" none.
        QTest::addColumn<QByteArray>("filePassword");
        QTest::addColumn<QString>("console");
        QTest::addColumn<QStringList>("credentials");
        QTest::addColumn<QByteArray>("used"); // user and group password; empty: refused
        QTest::addColumn<QString>("errorPart");
        const auto row = [](const char* name, const char* filePassword, const char* console,
                            QStringList credentials, const char* used, const char* errorPart) {
            QTest::newRow(name) << QByteArray(filePassword) << QString::fromLatin1(console)
                                << credentials << QByteArray(used)
                                << QString::fromLatin1(errorPart);
        };
        row("the file's own", "FILEPW", "on", {}, "FILEPW/", "");
        row("none anywhere: a host without passwords", "", "off", {}, "/", "");
        row("no console", "", "", {}, "/", "");
        row("moved to the keyring", "", "on", {}, "",
            "x.hcf: the passwords of MANAGER@10.0.0.1:30000 are kept in the desktop keyring, "
            "which the exporter does not read; give them as the credential "
            "10.0.0.1_30000.user_password");
        row("moved, given as credentials", "", "on",
            {u"10.0.0.1_30000.user_password=s3cret\n"_s, u"10.0.0.1_30000.group_password=g"_s},
            "s3cret/g", "");
        row("a credential replaces the file's", "OLD", "off",
            {u"10.0.0.1_30000.user_password=NEW\r\n"_s}, "NEW/", "");
        row("another host's credential", "", "on", {u"10.0.0.2_30000.user_password=x"_s}, "",
            "kept in the desktop keyring");
        row("saved with the preference, one credential given", "", "on",
            {u"10.0.0.1_30000.group_password=g"_s}, "/g", "");
        row("moved by host and user", "", "index user:MANAGER account:SYS", {}, "",
            "give them as the credential 10.0.0.1_30000.user_password, "
            "10.0.0.1_30000.account_password, or");
        row("moved, one of two given", "", "index user:MANAGER account:SYS",
            {u"10.0.0.1_30000.user_password=u"_s}, "",
            "give them as the credential 10.0.0.1_30000.account_password, or");
        row("moved, both given", "", "index user:MANAGER account:SYS",
            {u"10.0.0.1_30000.user_password=u"_s, u"10.0.0.1_30000.account_password=a"_s}, "u/",
            "");
        row("moved for another user", "", "index other user:OTHER", {}, "/", "");
        row("moved, but the file has it again", "FILEPW", "index user:MANAGER", {}, "FILEPW/", "");
        row("a credential that is a folder", "", "off", {u"10.0.0.1_30000.user_password/"_s}, "",
            "10.0.0.1_30000.user_password is not a regular file");
    }

    void passwordSources()
    {
        // A service reads no keyring: a file whose passwords the console moved
        // there is refused, never logged on with empty passwords.
        QFETCH(QByteArray, filePassword);
        QFETCH(QString, console);
        QFETCH(QStringList, credentials);
        QFETCH(QByteArray, used);
        QFETCH(QString, errorPart);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ConnectionSettings s;
        s.HostAddress = "10.0.0.1";
        s.UserPassword = filePassword;
        QFile host(dir.filePath(u"x.hcf"_s));
        QVERIFY(host.open(QIODevice::WriteOnly));
        host.write(ConfigLine(s, '7'));
        host.close();
        QVERIFY(QDir(dir.path()).mkpath(u"creds"_s));
        for (const QString& c : credentials) {
            const QString name = c.section(u'=', 0, 0);
            if (name.endsWith(u'/')) {
                QVERIFY(QDir(dir.filePath(u"creds"_s)).mkpath(name));
                continue;
            }
            QFile file(dir.filePath(u"creds/"_s + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(c.section(u'=', 1).toLatin1());
        }
        ExporterOptions options;
        options.credentialsDirectory = dir.filePath(u"creds"_s);
        options.consoleFolder = dir.filePath(u"orvanite"_s);
        QVERIFY(QDir(dir.path()).mkpath(u"orvanite"_s));
        if (console == u"on"_s || console == u"off"_s) {
            QFile file(dir.filePath(u"orvanite/orvanite-console.conf"_s));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(console == u"on"_s ? "[preferences]\nkeyringPasswords=true\n"
                                          : "[preferences]\nkeyringPasswords=false\n");
        } else if (console.startsWith(u"index "_s)) {
            // As the console records the hosts it moved.
            QStringList levels = console.split(u' ').mid(1);
            const bool other = levels.removeAll(u"other"_s) > 0;
            QSettings index(dir.filePath(u"orvanite/keyring.conf"_s), QSettings::IniFormat);
            index.setValue(other ? u"hosts/OTHER%4010.0.0.1%3A30000"_s
                                 : u"hosts/MANAGER%4010.0.0.1%3A30000"_s,
                           levels);
        }
        QString error;
        const bool ok = options.parse({u"--config"_s, host.fileName()},
                                      dir.filePath(u"orvanite-exporter"_s), dir.path(), error);
        if (used.isEmpty()) {
            QVERIFY(!ok);
            QVERIFY2(error.contains(errorPart), qPrintable(error));
            return;
        }
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(options.hosts.size(), 1);
        const ConnectionSettings& read = options.hosts[0].settings;
        QCOMPARE(read.UserPassword + '/' + read.GroupPassword, used);
    }

    void refusedLogonBacksOff()
    {
        // A host that refuses the logon is asked again after 1, 2, 4, 8 s, not at
        // every scrape; the log tells each change of state once.
        QByteArray log;
        ExporterLog::setSink([&log](QByteArrayView line) {
            // The time stamp is the real clock's: left out.
            log += line.sliced(line.indexOf(" level=") + 1);
        });
        HostSim sim;
        populate(sim);
        QVERIFY(sim.listen());
        QSignalSpy logons(&sim, &HostSim::logonReceived);
        const HostTarget target = targetFor(sim);
        HostCollector host(target, false);
        qint64 now = 1000000000000; // 2001-09-09T01:46:40Z
        host.setClock([&now] { return now; });

        QVERIFY(collectOnce(host));
        sim.Faults.CloseAfterRecords = 0;
        QVERIFY(collectOnce(host));
        QVERIFY(collectOnce(host)); // down for the same reason: nothing new to tell
        sim.Faults.CloseAfterRecords = -1;
        sim.Credentials[0] = "OTHER";
        logons.clear();
        const qint64 start = now;
        for (int scrape = 0; scrape < 20; ++scrape, now += 500) {
            QVERIFY(collectOnce(host));
            QVERIFY(!host.sample().up);
        }
        // Logged on at 0, 1, 3 and 7 s; the next is due at 15 s.
        QCOMPARE(logons.size(), 4);
        QCOMPARE(host.sample().errors[size_t(CollectError::LogonRefused)], 4u);
        QCOMPARE(host.sample().nextLogonMs, start + 15000);
        const QByteArray text =
            Exposition::write({&host.sample()}, false).replace(target.label.toUtf8(), "H");
        QCOMPARE(seriesLines(text, "orvanite_next_logon_timestamp_seconds"),
                 "orvanite_next_logon_timestamp_seconds{host=\"H\"} 1000000015\n");

        sim.Credentials[0] = "MANAGER";
        now = start + 14999;
        QVERIFY(collectOnce(host));
        QCOMPARE(logons.size(), 4);
        now = start + 15000;
        QVERIFY(collectOnce(host));
        QVERIFY(host.sample().up);
        QCOMPARE(host.sample().nextLogonMs, 0);
        ExporterLog::setSink({});
        QCOMPARE(QString::fromLatin1(log.replace(target.label.toUtf8(), "H")),
                 u"level=info msg=\"host up\" host=H\n"
                 "level=warn msg=\"host down\" host=H reason=closed\n"
                 "level=error msg=\"logon refused\" host=H user=MANAGER "
                 "next_logon=2001-09-09T01:46:41Z\n"
                 "level=info msg=\"host back\" host=H\n"_s);
    }

    void processMetricsFromProc()
    {
        // A /proc of our own: a command name with a space and a ")" in it.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath(u"42/fd/3"_s));
        QVERIFY(QDir(dir.path()).mkpath(u"42/fd/7"_s));
        const auto write = [&](const QString& name, const QByteArray& text) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        write(u"stat"_s, "cpu  1 2 3\nbtime 1700000000\nprocesses 9\n");
        write(u"42/stat"_s, "42 (a b) c) S 1 42 42 0 -1 4194560 100 0 0 0 250 130 0 0 20 0 1 0 "
                            "500 123456789 300 18446744073709551615\n");
        write(u"42/limits"_s, "Limit                     Soft Limit           Hard Limit           "
                              "Units\nMax open files            1024                 524288"
                              "               files\n");
        const double ticks = double(::sysconf(_SC_CLK_TCK));
        const ProcessMetrics m = ProcessMetrics::read(dir.path(), u"42"_s);
        QVERIFY(m.ok);
        QCOMPARE(m.cpuSeconds, 380 / ticks);
        QCOMPARE(m.startTimeSeconds, 1700000000 + 500 / ticks);
        QCOMPARE(m.virtualBytes, 123456789);
        QCOMPARE(m.residentBytes, 300 * ::sysconf(_SC_PAGESIZE));
        QCOMPARE(m.openFds, 2);
        QCOMPARE(m.maxFds, 1024.0);
        QVERIFY(!ProcessMetrics::read(dir.path(), u"43"_s).ok);
    }

    void logfmtQuoting_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("pair");
        QTest::newRow("plain") << QByteArray("10.0.0.1:30000") << QByteArray("k=10.0.0.1:30000");
        QTest::newRow("empty") << QByteArray() << QByteArray("k=\"\"");
        QTest::newRow("space") << QByteArray("host down") << QByteArray("k=\"host down\"");
        QTest::newRow("quote, backslash, line feed")
            << QByteArray("a\"b\\c\nd") << QByteArray("k=\"a\\\"b\\\\c\\nd\"");
        QTest::newRow("equals sign") << QByteArray("a=b") << QByteArray("k=\"a=b\"");
    }

    void logfmtQuoting()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, pair);
        QCOMPARE(ExporterLog::pair("k", value), pair);
    }
};

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_exporter.moc"
