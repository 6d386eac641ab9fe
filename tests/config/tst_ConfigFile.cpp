#include "core/AppErrors.h"
#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "config/ConnectionSettings.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ConnectionSettings)

namespace {

enum class Failure
{
    None,
    Convert,
    Range,
    TooLong
};

bool breaksLine(unsigned char byte)
{
    return byte == '"' || byte == '\r' || byte == '\n' || byte == 26;
}

// Settings unlike both the defaults and anything a test file holds, so that
// every value a load takes (or leaves) shows.
ConnectionSettings before()
{
    ConnectionSettings s;
    s.HostAddress = "old.host";
    s.Port = 1234;
    s.User = "OLDU";
    s.UserPassword = "OLDUP";
    s.Group = "OLDG";
    s.GroupPassword = "OLDGP";
    s.Account = "OLDA";
    s.AccountPassword = "OLDAP";
    s.LogonExtra = "OLDX";
    s.RefreshInterval = 42000;
    s.ConfigPath = QStringLiteral("kept.hcf");
    return s;
}

// A line as a file holds it, the seven logon values given in plain text.
QByteArray lineWith(const QByteArray& host, const QByteArray& port, const QByteArray& key,
                    const QList<QByteArray>& logon, const QByteArray& tail)
{
    QByteArray line = '"' + host + "\",\"" + port + "\",\"" + key + '"';
    for (const QByteArray& value : logon)
        line += ",\"" + ScrambleField(key, value) + '"';
    return line + tail;
}

const QList<QByteArray> Logon = {"USR", "UPW", "GRP", "GPW", "ACC", "APW", "EXTRA"};

void setLogon(ConnectionSettings& s, const QList<QByteArray>& v)
{
    s.User = v[0];
    s.UserPassword = v[1];
    s.Group = v[2];
    s.GroupPassword = v[3];
    s.Account = v[4];
    s.AccountPassword = v[5];
    s.LogonExtra = v[6];
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

mode_t modeOf(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Runs a load and reports how it ended: the failure kind and its message.
Failure loadReporting(const QString& path, ConnectionSettings& s, QString& message)
{
    try {
        LoadConfigFile(path, s);
        return Failure::None;
    } catch (const EConvertError& e) {
        message = e.message();
        return Failure::Convert;
    } catch (const ERangeError& e) {
        message = e.message();
        return Failure::Range;
    } catch (const EConfigLineTooLong& e) {
        message = e.message();
        return Failure::TooLong;
    }
}

void compareSettings(const ConnectionSettings& got, const ConnectionSettings& want)
{
    QCOMPARE(got.HostAddress, want.HostAddress);
    QCOMPARE(got.Port, want.Port);
    QCOMPARE(got.User, want.User);
    QCOMPARE(got.UserPassword, want.UserPassword);
    QCOMPARE(got.Group, want.Group);
    QCOMPARE(got.GroupPassword, want.GroupPassword);
    QCOMPARE(got.Account, want.Account);
    QCOMPARE(got.AccountPassword, want.AccountPassword);
    QCOMPARE(got.LogonExtra, want.LogonExtra);
    QCOMPARE(got.RefreshInterval, want.RefreshInterval);
    QCOMPARE(got.ConfigPath, want.ConfigPath);
}

} // namespace

// Loading, saving and scrambling of the one-line configuration file.
class TestConfigFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void scramble_data();
    void scramble();
    void scrambleEmptyKeyThrows();
    void lineFormat();
    void roundTripEveryKey_data();
    void roundTripEveryKey();
    void load_data();
    void load();
    void loadNothingToOpen_data();
    void loadNothingToOpen();
    void defaultSettingsSave();
    void saveCannotCreate_data();
    void saveCannotCreate();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void saveInPlace_data();
    void saveInPlace();
    void replaceLeavesOnlyNewLine();
    void permissions_data();
    void permissions();
    void ownerKept();
    void refusals_data();
    void refusals();
    void freshKeyEverySave();
    void locateBareName_data();
    void locateBareName();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestConfigFile::scramble_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty text, empty key") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("empty text, any key") << QByteArray("A") << QByteArray() << QByteArray();
    QTest::newRow("xor with key") << QByteArray("0") << QByteArray("MANAGER")
                                  << QByteArray("}q~qwu\x62");
    QTest::newRow("first key byte only")
        << QByteArray("0XYZ") << QByteArray("SYS") << QByteArray("ci\x63");
    QTest::newRow("key character becomes 0")
        << QByteArray("C") << QByteArray("CAC") << QByteArray("\0\x02\0", 3);
    QTest::newRow("high bytes") << QByteArray("@") << QByteArray("\xff\x80")
                                << QByteArray("\xbf\xc0");
}

void TestConfigFile::scramble()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(ScrambleField(key, text), expected);
    QCOMPARE(ScrambleField(key, expected), text);
}

void TestConfigFile::scrambleEmptyKeyThrows()
{
    QVERIFY_THROWS_EXCEPTION(ERangeError, ScrambleField(QByteArrayView(), "x"));
}

void TestConfigFile::lineFormat()
{
    ConnectionSettings s;
    s.HostAddress = "h";
    setLogon(s, {"", "", "", "", "", "", ""});
    s.RefreshInterval = 30000;
    QCOMPARE(ConfigLine(s, 'k'),
             QByteArray("\"h\",\"30000\",\"k\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",30\r\n"));

    // Interval truncated toward zero; the port without fill.
    s.Port = 7;
    s.RefreshInterval = 5999;
    s.User = "A";
    QCOMPARE(ConfigLine(s, '1'),
             QByteArray("\"h\",\"7\",\"1\",\"p\",\"\",\"\",\"\",\"\",\"\",\"\",5\r\n"));
}

void TestConfigFile::roundTripEveryKey_data()
{
    QTest::addColumn<int>("key");
    for (int key = 48; key <= 67; ++key)
        QTest::addRow("key %c", key) << key;
}

// Each key carries every byte that does not scramble into a quote, CR, LF or
// 26 (byte 0 included); and exactly that key can carry all of them, so the
// save has to find it among the 20.
void TestConfigFile::roundTripEveryKey()
{
    QFETCH(int, key);

    QByteArray carried;
    for (int b = 0; b < 256; ++b) {
        if (!breaksLine(static_cast<unsigned char>(b ^ key)))
            carried.append(static_cast<char>(b));
    }
    QCOMPARE(carried.size(), 252);
    QList<QByteArray> logon;
    for (int i = 0; i < 7; ++i)
        logon << carried.mid(i * 36, 36);

    ConnectionSettings s;
    for (int b = 0; b < 256; ++b) {
        if (!breaksLine(static_cast<unsigned char>(b)))
            s.HostAddress.append(static_cast<char>(b));
    }
    setLogon(s, logon);
    s.Port = (key % 2) ? 65535 : 0;
    s.RefreshInterval = (key == 67) ? 60000 : (5 + key - 48) * 1000;

    const QByteArray line = ConfigLine(s, static_cast<char>(key));
    writeFile(path(QStringLiteral("forced.hcf")), line);
    ConnectionSettings loaded = before();
    LoadConfigFile(path(QStringLiteral("forced.hcf")), loaded);
    ConnectionSettings expected = s;
    expected.ConfigPath = loaded.ConfigPath;
    compareSettings(loaded, expected);

    std::mt19937 rng(static_cast<std::mt19937::result_type>(key));
    QCOMPARE(SaveConfigFile(path(QStringLiteral("saved.hcf")), s, rng), QString());
    QCOMPARE(readFile(path(QStringLiteral("saved.hcf"))), line);
}

void TestConfigFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("message");
    QTest::addColumn<ConnectionSettings>("expected");

    const QString noInt = QStringLiteral("'%1' is not a valid integer value");
    const QString range = QStringLiteral("Range check error");
    const ConnectionSettings old = before();

    ConnectionSettings full = old;
    full.HostAddress = "host.example";
    full.Port = 30001;
    setLogon(full, Logon);
    full.RefreshInterval = 30000;
    const QByteArray fullLine = lineWith("host.example", "30001", "7", Logon, ",30");
    QTest::newRow("complete line") << fullLine + "\r\n" << Failure::None << QString() << full;
    QTest::newRow("no line end") << fullLine << Failure::None << QString() << full;
    QTest::newRow("several lines") << fullLine + "\r\n" + lineWith("other", "1", "2", Logon, ",9")
                                   << Failure::None << QString() << full;
    QTest::newRow("text before first quote, after 21st")
        << "junk, " + fullLine + "\"more\",\"x\"\r\n"
        << Failure::None << QString() << full;
    QTest::newRow("line ends at LF") << fullLine + "\nrest" << Failure::None << QString() << full;
    QTest::newRow("line ends at byte 26") << fullLine + "\x1a"
                                                        "5\r\n"
                                          << Failure::None << QString() << full;

    // The first line may be 65536 bytes long; one more and the file is not
    // a configuration file, whatever follows.
    const QByteArray longest = QByteArray(65536 - fullLine.size(), ' ') + fullLine;
    QTest::newRow("line of 65536 bytes") << longest + "\r\n" << Failure::None << QString() << full;
    QTest::newRow("line of 65537 bytes")
        << ' ' + longest + "\r\n"
        << Failure::TooLong
        << path(QStringLiteral("load.hcf")) +
               QStringLiteral(": the first line is longer than 65536 bytes; "
                              "this is not a configuration file")
        << old;

    ConnectionSettings longKey = full;
    QTest::newRow("key longer than one char")
        << lineWith("host.example", "30001", "7", Logon, ",30").replace(",\"7\",", ",\"7XY\",")
        << Failure::None << QString() << longKey;

    ConnectionSettings clamped = full;
    clamped.RefreshInterval = 5000;
    QTest::newRow("interval 0") << lineWith("host.example", "30001", "7", Logon, ",0")
                                << Failure::None << QString() << clamped;
    QTest::newRow("interval -7") << lineWith("host.example", "30001", "7", Logon, ",-7")
                                 << Failure::None << QString() << clamped;
    clamped.RefreshInterval = 60000;
    QTest::newRow("interval 999") << lineWith("host.example", "30001", "7", Logon, ",999")
                                  << Failure::None << QString() << clamped;

    ConnectionSettings nul = full;
    nul.User = QByteArray("\0A\0", 3);
    QTest::newRow("byte 0 in a field")
        << lineWith("host.example", "30001", "7",
                    {nul.User, "UPW", "GRP", "GPW", "ACC", "APW", "EXTRA"}, ",30")
        << Failure::None << QString() << nul;

    ConnectionSettings hostOnly = old;
    hostOnly.HostAddress = "";
    QTest::newRow("empty file") << QByteArray() << Failure::Convert << noInt.arg(QString())
                                << hostOnly;
    QTest::newRow("first line empty")
        << "\r\n" + fullLine << Failure::Convert << noInt.arg(QString()) << hostOnly;

    hostOnly.HostAddress = "h";
    QTest::newRow("port 70000") << lineWith("h", "70000", "7", Logon, ",30") << Failure::Range
                                << range << hostOnly;
    QTest::newRow("port -1") << lineWith("h", "-1", "7", Logon, ",30") << Failure::Range << range
                             << hostOnly;
    QTest::newRow("port abc") << lineWith("h", "abc", "7", Logon, ",30") << Failure::Convert
                              << noInt.arg(QStringLiteral("abc")) << hostOnly;
    QTest::newRow("port beyond 32 bits")
        << lineWith("h", "4294967296", "7", Logon, ",30") << Failure::Convert
        << noInt.arg(QStringLiteral("4294967296")) << hostOnly;

    ConnectionSettings threeFields = old;
    threeFields.HostAddress = "h";
    threeFields.Port = 123;
    setLogon(threeFields, {"", "", "", "", "", "", ""});
    QTest::newRow("stops after field 3") << QByteArray("\"h\",\"123\",\"7\"\r\n")
                                         << Failure::Convert << noInt.arg(QString()) << threeFields;

    ConnectionSettings noInterval = full;
    noInterval.RefreshInterval = old.RefreshInterval;
    QTest::newRow("interval abc") << lineWith("host.example", "30001", "7", Logon, ",abc")
                                  << Failure::Convert << noInt.arg(QStringLiteral("abc"))
                                  << noInterval;
    QTest::newRow("interval missing") << lineWith("host.example", "30001", "7", Logon, "")
                                      << Failure::Convert << noInt.arg(QString()) << noInterval;

    // A byte 26 inside a field cuts the line there: the rest of the field and
    // the interval are lost.
    ConnectionSettings cut = old;
    cut.HostAddress = "h";
    cut.Port = 1;
    setLogon(cut, {"ab", "", "", "", "", "", ""});
    QTest::newRow("byte 26 inside a field")
        << "\"h\",\"1\",\"7\",\"" + ScrambleField("7", "ab") + "\x1a\",\"\",30\r\n"
        << Failure::Convert << noInt.arg(QString()) << cut;

    // With no key, the first non-empty logon slot is a range error there.
    ConnectionSettings noKey = old;
    noKey.HostAddress = "h";
    noKey.Port = 2;
    QTest::newRow("key empty, User set")
        << QByteArray("\"h\",\"2\",\"\",\"U\",\"\",\"\",\"\",\"\",\"\",\"\",30") << Failure::Range
        << range << noKey;
    noKey.User = "";
    noKey.UserPassword = "";
    QTest::newRow("key empty, Group set")
        << QByteArray("\"h\",\"2\",\"\",\"\",\"\",\"G\",\"\",\"\",\"\",\"\",30") << Failure::Range
        << range << noKey;
    ConnectionSettings noKeyNoLogon = old;
    noKeyNoLogon.HostAddress = "h";
    noKeyNoLogon.Port = 2;
    setLogon(noKeyNoLogon, {"", "", "", "", "", "", ""});
    noKeyNoLogon.RefreshInterval = 30000;
    QTest::newRow("key empty, no logon value")
        << QByteArray("\"h\",\"2\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",30") << Failure::None
        << QString() << noKeyNoLogon;
}

void TestConfigFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(Failure, failure);
    QFETCH(QString, message);
    QFETCH(ConnectionSettings, expected);

    const QString file = path(QStringLiteral("load.hcf"));
    writeFile(file, content);
    ConnectionSettings s = before();
    QString got;
    QCOMPARE(loadReporting(file, s, got), failure);
    QCOMPARE(got, message);
    compareSettings(s, expected);
}

void TestConfigFile::loadNothingToOpen_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("empty path") << QString();
    QTest::newRow("missing file") << path(QStringLiteral("absent.hcf"));
    QTest::newRow("missing folder") << path(QStringLiteral("absent/x.hcf"));
    QTest::newRow("a folder") << m_dir.path();
    // Nobody writes to it: opening it for reading in the usual way would wait for ever.
    const QString fifo = path(QStringLiteral("fifo.hcf"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTest::newRow("a FIFO") << fifo;
    QTest::newRow("a device") << QStringLiteral("/dev/zero");
}

void TestConfigFile::loadNothingToOpen()
{
    QFETCH(QString, file);
    ConnectionSettings s = before();
    LoadConfigFile(file, s);
    compareSettings(s, before());
}

void TestConfigFile::defaultSettingsSave()
{
    const QString file = path(QStringLiteral("default.hcf"));
    const ConnectionSettings defaults;
    std::mt19937 rng(1);
    QCOMPARE(SaveConfigFile(file, defaults, rng), QString());
    const QByteArray content = readFile(file);
    QVERIFY(content.startsWith("\"\",\"30000\",\""));
    QVERIFY(content.endsWith("\",5\r\n"));
    const char key = content.at(12);
    QVERIFY(key >= '0' && key <= 'C');
    QCOMPARE(content, ConfigLine(defaults, key));

    ConnectionSettings loaded = before();
    LoadConfigFile(file, loaded);
    ConnectionSettings expected = defaults;
    expected.ConfigPath = loaded.ConfigPath;
    compareSettings(loaded, expected);
}

void TestConfigFile::saveCannotCreate_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    writeFile(path(QStringLiteral("plain")), "x");
    QTest::newRow("missing folder")
        << path(QStringLiteral("absent/x.hcf")) << QStringLiteral("IOResult: 2");
    QTest::newRow("parent is a file")
        << path(QStringLiteral("plain/x.hcf")) << QStringLiteral("IOResult: 20");
    QDir(m_dir.path()).mkdir(QStringLiteral("folder"));
    QTest::newRow("target is a folder")
        << path(QStringLiteral("folder")) << QStringLiteral("IOResult: 21");
    QTest::newRow("empty path") << QString() << QString();
}

void TestConfigFile::saveCannotCreate()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    std::mt19937 rng(2);
    ConnectionSettings s = before();
    QCOMPARE(SaveConfigFile(file, s, rng), message);
    if (!file.isEmpty())
        QVERIFY(!QFileInfo(file).isFile());
}

void TestConfigFile::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<bool>("linked"); // a second name: the file is written in place
    QTest::newRow("replaced") << false;
    QTest::newRow("written in place") << true;
}

// A write that stops half-way (here: the file size limit, as a full disk
// would) leaves the old file whole and no temporary file behind, and the
// limit's signal, left at its default here, does not end the program.
void TestConfigFile::failedWriteKeepsOldFile()
{
    QFETCH(bool, linked);
    const QString file = path(QStringLiteral("keep.hcf"));
    const QString link = path(QStringLiteral("keep-link.hcf"));
    QFile::remove(file);
    QFile::remove(link);
    const QByteArray old = "\"old\",\"1\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",9\r\n";
    writeFile(file, old);
    if (linked)
        QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(link).constData()),
                 0);
    const QStringList entriesBefore =
        QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

    ConnectionSettings s = before();
    s.HostAddress = QByteArray(200, 'h');
    std::mt19937 rng(3);

    struct rlimit original = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_DFL);
    struct rlimit small = original;
    small.rlim_cur = 64;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString message = SaveConfigFile(file, s, rng);
    ::setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(message, QStringLiteral("I/O error 27"));
    QCOMPARE(readFile(file), old);
    if (linked)
        QCOMPARE(readFile(link), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), entriesBefore);
}

void TestConfigFile::saveInPlace_data()
{
    QTest::addColumn<bool>("lockedFolder"); // else: a second hard link
    QTest::newRow("second hard link") << false;
    QTest::newRow("folder without write access") << true;
}

// A file that a replacement would fail on (its folder lets the operator write
// the file but not create one) or cut off (another name links to it) is
// written in place: the same file, every name sees the new line.
void TestConfigFile::saveInPlace()
{
    QFETCH(bool, lockedFolder);
    const QString folder = path(QStringLiteral("inplace"));
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkdir(folder));
    const QString file = folder + QStringLiteral("/op.hcf");
    const QString other = folder + QStringLiteral("/other.hcf");
    writeFile(file, QByteArray(300, 'x') + "\r\n");
    QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0666), 0);
    if (!lockedFolder)
        QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()),
                 0);
    struct stat was = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &was), 0);

    // Root may create files in any folder: it saves as "nobody" instead, for
    // whom the folder (root's, 0755) is closed and the file (0666) is open.
    const bool root = ::geteuid() == 0;
    const QByteArray top = QFile::encodeName(m_dir.path());
    const QByteArray dir = QFile::encodeName(folder);
    if (lockedFolder) {
        QCOMPARE(::chmod(top.constData(), 0711), 0);
        QCOMPARE(::chmod(dir.constData(), root ? 0755 : 0555), 0);
    }
    ConnectionSettings s = before();
    std::mt19937 rng(9);
    const bool asNobody = lockedFolder && root;
    if (asNobody)
        QCOMPARE(::seteuid(65534), 0);
    const QString message = SaveConfigFile(file, s, rng);
    if (asNobody)
        QCOMPARE(::seteuid(0), 0);
    ::chmod(dir.constData(), 0755);
    ::chmod(top.constData(), 0700);

    QCOMPARE(message, QString());
    const QByteArray content = readFile(file);
    QCOMPARE(content.left(19), QByteArray("\"old.host\",\"1234\",\""));
    QCOMPARE(content.size(), 78);
    struct stat now = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &now), 0);
    QCOMPARE(now.st_ino, was.st_ino);
    QCOMPARE(now.st_mode & 07777, mode_t(0666));
    const QStringList names = QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    if (lockedFolder) {
        QCOMPARE(names, QStringList{QStringLiteral("op.hcf")});
    } else {
        QCOMPARE(names, (QStringList{QStringLiteral("op.hcf"), QStringLiteral("other.hcf")}));
        QCOMPARE(readFile(other), content);
    }
}

void TestConfigFile::replaceLeavesOnlyNewLine()
{
    const QString file = path(QStringLiteral("replace.hcf"));
    writeFile(file, QByteArray(4096, 'x') + "\r\nsecond line\r\n");
    ConnectionSettings s = before();
    std::mt19937 rng(4);
    QCOMPARE(SaveConfigFile(file, s, rng), QString());
    const QByteArray content = readFile(file);
    QCOMPARE(content, ConfigLine(s, content.at(QByteArray("\"old.host\",\"1234\",\"").size())));
}

void TestConfigFile::permissions_data()
{
    QTest::addColumn<int>("existing"); // -1: no file yet
    QTest::addColumn<int>("expected");
    QTest::newRow("new file") << -1 << 0600;
    QTest::newRow("existing 0644") << 0644 << 0644;
    QTest::newRow("existing 0640") << 0640 << 0640;
    QTest::newRow("existing 0600") << 0600 << 0600;
}

void TestConfigFile::permissions()
{
    QFETCH(int, existing);
    QFETCH(int, expected);
    const QString file = path(QStringLiteral("perm.hcf"));
    QFile::remove(file);
    if (existing >= 0) {
        writeFile(file, "old\r\n");
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), static_cast<mode_t>(existing)), 0);
    }
    // A permissive umask must not widen a new file.
    const mode_t oldMask = ::umask(0);
    std::mt19937 rng(5);
    const QString message = SaveConfigFile(file, before(), rng);
    ::umask(oldMask);
    QCOMPARE(message, QString());
    QCOMPARE(modeOf(file), static_cast<mode_t>(expected));
}

// An administrator saving an operator's file leaves it the operator's.
void TestConfigFile::ownerKept()
{
    if (::geteuid() != 0)
        QSKIP("needs to run as root to give a file away");
    const QString file = path(QStringLiteral("owned.hcf"));
    writeFile(file, "old\r\n");
    const QByteArray name = QFile::encodeName(file);
    QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    std::mt19937 rng(8);
    QCOMPARE(SaveConfigFile(file, before(), rng), QString());
    struct stat st = {};
    QCOMPARE(::stat(name.constData(), &st), 0);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_gid, gid_t(65534));
}

void TestConfigFile::refusals_data()
{
    QTest::addColumn<ConnectionSettings>("settings");
    QTest::addColumn<QString>("message");

    const QString host = QStringLiteral(
        "The host address contains a double quote or a line break and cannot be saved.");
    for (const char* bad : {"a\"b", "a\rb", "a\nb",
                            "a\x1a"
                            "b"}) {
        ConnectionSettings s = before();
        s.HostAddress = bad;
        QTest::addRow("host with byte %d", bad[1]) << s << host;
    }

    // Each key k would turn k ^ 13 into CR: a value holding all of them
    // leaves no key.
    QByteArray everyKey;
    for (int k = 48; k <= 67; ++k)
        everyKey.append(static_cast<char>(k ^ 13));
    ConnectionSettings one = before();
    one.AccountPassword = everyKey;
    QTest::newRow("one field") << one
                               << QStringLiteral("No key can carry the value of AccountPassword; "
                                                 "change it and save again.");

    ConnectionSettings two = before();
    two.UserPassword = everyKey.left(10);
    two.LogonExtra = everyKey.mid(10);
    QTest::newRow("two fields together")
        << two
        << QStringLiteral("No key can carry the values of UserPassword, LogonExtra together; "
                          "change one of them and save again.");
}

void TestConfigFile::refusals()
{
    QFETCH(ConnectionSettings, settings);
    QFETCH(QString, message);
    std::mt19937 rng(6);

    const QString existing = path(QStringLiteral("existing.hcf"));
    writeFile(existing, "kept\r\n");
    QCOMPARE(SaveConfigFile(existing, settings, rng), message);
    QCOMPARE(readFile(existing), QByteArray("kept\r\n"));

    const QString absent = path(QStringLiteral("refused.hcf"));
    QCOMPARE(SaveConfigFile(absent, settings, rng), message);
    QVERIFY(!QFile::exists(absent));
}

// Every save draws its own key over all 20 codes, skips a key that would make
// the line unreadable, and every line loads back the same settings.
void TestConfigFile::freshKeyEverySave()
{
    ConnectionSettings s = before();
    setLogon(s, {"", "", "", "", "", "", ""});
    // Two bytes that rule out exactly the keys '@' and '5' (each of them would
    // scramble its byte into a double quote).
    s.User = QByteArray(1, static_cast<char>('@' ^ '"')) + static_cast<char>('5' ^ '"');
    const QString file = path(QStringLiteral("fresh.hcf"));
    std::mt19937 rng(7);
    QSet<char> keys;
    for (int i = 0; i < 300; ++i) {
        QCOMPARE(SaveConfigFile(file, s, rng), QString());
        const QByteArray content = readFile(file);
        const char key = content.at(QByteArray("\"old.host\",\"1234\",\"").size());
        QCOMPARE(content, ConfigLine(s, key));
        keys.insert(key);
        ConnectionSettings loaded;
        LoadConfigFile(file, loaded);
        loaded.ConfigPath = s.ConfigPath;
        QVERIFY(loaded == s);
    }
    QCOMPARE(keys.size(), 18);
    QVERIFY(!keys.contains('@'));
    QVERIFY(!keys.contains('5'));
}

void TestConfigFile::locateBareName_data()
{
    // Which of bin/ (the program's folder) and cwd/ (the current folder) hold
    // an entry of the name; "dir" is a folder of that name.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("inBin");
    QTest::addColumn<QString>("inCwd");
    QTest::addColumn<QString>("path"); // below the test folder, or as given
    QTest::addColumn<bool>("missing");
    QTest::newRow("beside the program") << "east.hcf"
                                        << "file"
                                        << ""
                                        << "bin/east.hcf" << false;
    QTest::newRow("current folder") << "east.hcf"
                                    << ""
                                    << "file"
                                    << "cwd/east.hcf" << false;
    QTest::newRow("both: the program's wins") << "east.hcf"
                                              << "file"
                                              << "file"
                                              << "bin/east.hcf" << false;
    QTest::newRow("a folder is not the file") << "east.hcf"
                                              << "dir"
                                              << "file"
                                              << "cwd/east.hcf" << false;
    QTest::newRow("neither") << "east.hcf"
                             << ""
                             << "dir"
                             << "bin/east.hcf" << true;
    QTest::newRow("backslash is part of a name") << "cfg\\east.hcf"
                                                 << ""
                                                 << "file"
                                                 << "cwd/cfg\\east.hcf" << false;
    QTest::newRow("a slash is used as it stands") << "./east.hcf"
                                                  << "file"
                                                  << ""
                                                  << "./east.hcf" << false;
}

void TestConfigFile::locateBareName()
{
    QFETCH(QString, name);
    QFETCH(QString, inBin);
    QFETCH(QString, inCwd);
    QFETCH(QString, path);
    QFETCH(bool, missing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    for (const auto& [folder, kind] :
         {std::pair{QStringLiteral("bin"), inBin}, {QStringLiteral("cwd"), inCwd}}) {
        QVERIFY(QDir(root).mkpath(folder));
        const QString entry = root + u'/' + folder + u'/' + name;
        if (kind == QStringLiteral("dir"))
            QVERIFY(QDir().mkpath(entry));
        else if (kind == QStringLiteral("file"))
            QVERIFY(QFile(entry).open(QIODevice::WriteOnly));
    }

    const ConfigLocation location = LocateConfigFile(
        name, root + QStringLiteral("/bin/orvanite-console"), root + QStringLiteral("/cwd"));
    QCOMPARE(location.Path, path.startsWith(u'.') ? path : root + u'/' + path);
    QCOMPARE(location.Missing,
             missing ? QStringLiteral("Cannot find the configuration file east.hcf: it is neither "
                                      "beside the program (%1/bin/east.hcf) nor in the current "
                                      "folder (%1/cwd/east.hcf).")
                           .arg(root)
                     : QString());
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_ConfigFile.moc"
