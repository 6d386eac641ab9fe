#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "config/ConnectionSettings.h"
#include "core/AppErrors.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(ConnectionSettings)

// The values a file holds, as "host|port|the seven logon values|interval".
QByteArray fields(const ConnectionSettings& s)
{
    const QByteArrayList values{s.HostAddress, QByteArray::number(s.Port),
                                s.User,        s.UserPassword,
                                s.Group,       s.GroupPassword,
                                s.Account,     s.AccountPassword,
                                s.LogonExtra,  QByteArray::number(s.RefreshInterval)};
    return values.join('|');
}

// Lets QCOMPARE show both settings when they differ.
char* toString(const ConnectionSettings& s)
{
    return QTest::toString(fields(s) + '|' + s.ConfigPath.toUtf8() + '|' +
                           s.SshDestination.toUtf8());
}

namespace {

bool breaksLine(unsigned char byte)
{
    return byte == '"' || byte == '\r' || byte == '\n' || byte == 26;
}

const QList<QByteArray> Logon = {"USR", "UPW", "GRP", "GPW", "ACC", "APW", "EXTRA"};
const QList<QByteArray> NoLogon = {"", "", "", "", "", "", ""};
const QList<QByteArray> OldLogon = {"OLDU", "OLDUP", "OLDG", "OLDGP", "OLDA", "OLDAP", "OLDX"};

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

// Settings unlike both the defaults and anything a test file holds, so that
// every value a load takes (or leaves) shows.
ConnectionSettings before()
{
    ConnectionSettings s;
    s.HostAddress = "old.host";
    s.Port = 1234;
    setLogon(s, OldLogon);
    s.RefreshInterval = 42000;
    s.ConfigPath = u"kept.hcf"_s;
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

// How a load ended: empty, or the kind of error and its message.
QString loadOutcome(const QString& path, ConnectionSettings& s)
{
    try {
        LoadConfigFile(path, s);
        return {};
    } catch (const EConvertError& e) {
        return "convert: "_L1 + e.message();
    } catch (const ERangeError& e) {
        return "range: "_L1 + e.message();
    } catch (const EConfigLineTooLong& e) {
        return "too long: "_L1 + e.message();
    }
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
    void lineFormat();
    void roundTripEveryKey_data();
    void roundTripEveryKey();
    void load_data();
    void load();
    void loadNothingToOpen_data();
    void loadNothingToOpen();
    void saveCannotCreate_data();
    void saveCannotCreate();
    void saveInPlaceOrKeepOldFile_data();
    void saveInPlaceOrKeepOldFile();
    void permissionsAndOwner_data();
    void permissionsAndOwner();
    void refusals_data();
    void refusals();
    void longestLineRoundTrips();
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
    QVERIFY_THROWS_EXCEPTION(ERangeError, ScrambleField(QByteArrayView(), "x"));
}

// The defaults' line (port 30000, interval 5 s, MANAGER and SYS scrambled);
// the interval truncated toward zero, the port without fill.
void TestConfigFile::lineFormat()
{
    QCOMPARE(ConfigLine(ConnectionSettings(), '0'),
             QByteArray(
                 "\"\",\"30000\",\"0\",\"}q~qwu\x62\",\"\",\"\",\"\",\"ci\x63\",\"\",\"\",5\r\n"));
    ConnectionSettings s;
    s.HostAddress = "h";
    setLogon(s, {"A", "", "", "", "", "", ""});
    s.Port = 7;
    s.RefreshInterval = 5999;
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
// save has to find it among the 20. Ports 0 and 65535 and intervals 5 to 60 s
// load back as they were.
void TestConfigFile::roundTripEveryKey()
{
    QFETCH(int, key);

    QByteArray carried;
    ConnectionSettings s;
    for (int b = 0; b < 256; ++b) {
        if (!breaksLine(static_cast<unsigned char>(b ^ key)))
            carried.append(static_cast<char>(b));
        if (!breaksLine(static_cast<unsigned char>(b)))
            s.HostAddress.append(static_cast<char>(b));
    }
    QCOMPARE(carried.size(), 252);
    QList<QByteArray> logon;
    for (int i = 0; i < 7; ++i)
        logon << carried.mid(i * 36, 36);
    setLogon(s, logon);
    s.Port = (key % 2) ? 65535 : 0;
    s.RefreshInterval = (key == 67) ? 60000 : (5 + key - 48) * 1000;

    const QByteArray line = ConfigLine(s, static_cast<char>(key));
    writeFile(path(u"forced.hcf"_s), line);
    ConnectionSettings loaded = before();
    LoadConfigFile(path(u"forced.hcf"_s), loaded);
    s.ConfigPath = loaded.ConfigPath;
    QCOMPARE(loaded, s);

    std::mt19937 rng(static_cast<std::mt19937::result_type>(key));
    QCOMPARE(SaveConfigFile(path(u"saved.hcf"_s), s, rng), QString());
    QCOMPARE(readFile(path(u"saved.hcf"_s)), line);
}

void TestConfigFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");     // empty, or the error's kind and message
    QTest::addColumn<QByteArray>("expected"); // the settings' fields after it

    const QString noInt = u"convert: '%1' is not a valid integer value"_s;
    const QString range = u"range: Range check error"_s;
    const QByteArray old = "old.host|1234|OLDU|OLDUP|OLDG|OLDGP|OLDA|OLDAP|OLDX|42000";
    const QByteArray full = "host.example|30001|USR|UPW|GRP|GPW|ACC|APW|EXTRA|30000";
    const QByteArray fullLine = lineWith("host.example", "30001", "7", Logon, ",30");
    auto withTail = [](const QByteArray& tail) {
        return lineWith("host.example", "30001", "7", Logon, tail);
    };
    QTest::newRow("complete line") << fullLine + "\r\n" << QString() << full;
    QTest::newRow("no line end") << fullLine << QString() << full;
    QTest::newRow("several lines")
        << fullLine + "\r\n" + lineWith("other", "1", "2", Logon, ",9") << QString() << full;
    QTest::newRow("text before first quote, after 21st")
        << "junk, " + fullLine + "\"more\",\"x\"\r\n"
        << QString() << full;
    QTest::newRow("line ends at LF") << fullLine + "\nrest" << QString() << full;
    QTest::newRow("line ends at byte 26") << fullLine + "\0325\r\n" << QString() << full;

    // The first line may be 65536 bytes long; one more and the file is not
    // a configuration file, whatever follows.
    const QByteArray longest = QByteArray(65536 - fullLine.size(), ' ') + fullLine;
    QTest::newRow("line of 65536 bytes") << longest + "\r\n" << QString() << full;
    QTest::newRow("line of 65537 bytes")
        << ' ' + longest + "\r\n"
        << "too long: "_L1 + path(u"load.hcf"_s) +
               ": the first line is longer than 65536 bytes; this is not a configuration file"_L1
        << old;

    QTest::newRow("key longer than one char")
        << QByteArray(fullLine).replace(",\"7\",", ",\"7XY\",") << QString() << full;

    // Intervals outside 5..60 s are brought to the nearer end.
    const QByteArray logon = "host.example|30001|USR|UPW|GRP|GPW|ACC|APW|EXTRA|";
    QTest::newRow("interval 4") << withTail(",4") << QString() << logon + "5000";
    QTest::newRow("interval -7") << withTail(",-7") << QString() << logon + "5000";
    QTest::newRow("interval 61") << withTail(",61") << QString() << logon + "60000";
    QTest::newRow("interval abc") << withTail(",abc") << noInt.arg(u"abc"_s) << logon + "42000";
    QTest::newRow("interval missing") << withTail("") << noInt.arg(QString()) << logon + "42000";

    QTest::newRow("byte 0 in a field")
        << lineWith("host.example", "30001", "7",
                    {"\0A\0"_ba, "UPW", "GRP", "GPW", "ACC", "APW", "EXTRA"}, ",30")
        << QString() << "host.example|30001|\0A\0|UPW|GRP|GPW|ACC|APW|EXTRA|30000"_ba;

    const QByteArray hostOnly = "|1234|OLDU|OLDUP|OLDG|OLDGP|OLDA|OLDAP|OLDX|42000";
    QTest::newRow("empty file") << QByteArray() << noInt.arg(QString()) << hostOnly;
    QTest::newRow("first line empty") << "\r\n" + fullLine << noInt.arg(QString()) << hostOnly;
    QTest::newRow("port 65536") << lineWith("h", "65536", "7", Logon, ",30") << range
                                << 'h' + hostOnly;
    QTest::newRow("port -1") << lineWith("h", "-1", "7", Logon, ",30") << range << 'h' + hostOnly;
    QTest::newRow("port abc") << lineWith("h", "abc", "7", Logon, ",30") << noInt.arg(u"abc"_s)
                              << 'h' + hostOnly;
    QTest::newRow("port beyond 32 bits") << lineWith("h", "4294967296", "7", Logon, ",30")
                                         << noInt.arg(u"4294967296"_s) << 'h' + hostOnly;

    QTest::newRow("stops after field 3")
        << QByteArray("\"h\",\"123\",\"7\"\r\n") << noInt.arg(QString())
        << QByteArray("h|123||||||||42000");

    // A byte 26 inside a field cuts the line there: the rest of the field and
    // the interval are lost.
    QTest::newRow("byte 26 inside a field")
        << "\"h\",\"1\",\"7\",\"" + ScrambleField("7", "ab") + "\x1a\",\"\",30\r\n"
        << noInt.arg(QString()) << QByteArray("h|1|ab|||||||42000");

    // With no key, the first non-empty logon slot is a range error there.
    QTest::newRow("key empty, User set")
        << QByteArray("\"h\",\"2\",\"\",\"U\",\"\",\"\",\"\",\"\",\"\",\"\",30") << range
        << QByteArray("h|2|OLDU|OLDUP|OLDG|OLDGP|OLDA|OLDAP|OLDX|42000");
    QTest::newRow("key empty, Group set")
        << QByteArray("\"h\",\"2\",\"\",\"\",\"\",\"G\",\"\",\"\",\"\",\"\",30") << range
        << QByteArray("h|2|||OLDG|OLDGP|OLDA|OLDAP|OLDX|42000");
    QTest::newRow("key empty, no logon value")
        << QByteArray("\"h\",\"2\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",30") << QString()
        << QByteArray("h|2||||||||30000");
}

void TestConfigFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, expected);

    const QString file = path(u"load.hcf"_s);
    writeFile(file, content);
    ConnectionSettings s = before();
    QCOMPARE(loadOutcome(file, s), outcome);
    QCOMPARE(fields(s), expected);
    QCOMPARE(s.ConfigPath, u"kept.hcf"_s);
}

void TestConfigFile::loadNothingToOpen_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("empty path") << QString();
    QTest::newRow("missing file") << path(u"absent.hcf"_s);
    QTest::newRow("missing folder") << path(u"absent/x.hcf"_s);
    QTest::newRow("a folder") << m_dir.path();
    // Nobody writes to it: opening it for reading in the usual way would wait for ever.
    const QString fifo = path(u"fifo.hcf"_s);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTest::newRow("a FIFO") << fifo;
    QTest::newRow("a device") << u"/dev/zero"_s;
}

void TestConfigFile::loadNothingToOpen()
{
    QFETCH(QString, file);
    ConnectionSettings s = before();
    LoadConfigFile(file, s);
    QCOMPARE(s, before());
}

void TestConfigFile::saveCannotCreate_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    writeFile(path(u"plain"_s), "x");
    QDir(m_dir.path()).mkdir(u"folder"_s);
    QTest::newRow("missing folder") << path(u"absent/x.hcf"_s) << u"IOResult: 2"_s;
    QTest::newRow("parent is a file") << path(u"plain/x.hcf"_s) << u"IOResult: 20"_s;
    QTest::newRow("target is a folder") << path(u"folder"_s) << u"IOResult: 21"_s;
    QTest::newRow("empty path") << QString() << QString();
}

void TestConfigFile::saveCannotCreate()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    std::mt19937 rng(2);
    QCOMPARE(SaveConfigFile(file, before(), rng), message);
    if (!file.isEmpty())
        QVERIFY(!QFileInfo(file).isFile());
}

void TestConfigFile::saveInPlaceOrKeepOldFile_data()
{
    QTest::addColumn<bool>("linked");       // a second hard link: written in place
    QTest::addColumn<bool>("lockedFolder"); // a folder without write access: the same
    QTest::addColumn<bool>("full");         // the write stops half-way
    QTest::newRow("replaced, write stops") << false << false << true;
    QTest::newRow("second hard link, write stops") << true << false << true;
    QTest::newRow("second hard link") << true << false << false;
    QTest::newRow("folder without write access") << false << true << false;
}

// A file that a replacement would fail on (its folder lets the operator write
// the file but not create one) or cut off (another name links to it) is
// written in place: the same file, every name sees the new line. A write that
// stops half-way (here: the file size limit, as a full disk would) leaves the
// old file whole, and no temporary file behind, and the limit's signal, left
// at its default here, does not end the program.
void TestConfigFile::saveInPlaceOrKeepOldFile()
{
    QFETCH(bool, linked);
    QFETCH(bool, lockedFolder);
    QFETCH(bool, full);
    const QString folder = path(u"inplace"_s);
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkdir(folder));
    const QString file = folder + u"/op.hcf"_s;
    const QString other = folder + u"/other.hcf"_s;
    // Shorter than the size limit, so that a failed write in place grows it;
    // else longer than the new line, which must cut it.
    const QByteArray old = full ? "\"old\",\"1\",\"0\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",9\r\n"
                                : QByteArray(300, 'x') + "\r\n";
    writeFile(file, old);
    QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0666), 0);
    if (linked)
        QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(other).constData()),
                 0);
    const QStringList names = QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
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
    struct rlimit original = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    struct rlimit limit = original;
    if (full)
        limit.rlim_cur = 64;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_DFL);
    std::mt19937 rng(9);
    const bool asNobody = lockedFolder && root;
    if (asNobody)
        QCOMPARE(::seteuid(65534), 0);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const QString message = SaveConfigFile(file, before(), rng);
    ::setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, oldHandler);
    if (asNobody)
        QCOMPARE(::seteuid(0), 0);
    ::chmod(dir.constData(), 0755);
    ::chmod(top.constData(), 0700);

    QCOMPARE(message, full ? u"I/O error 27"_s : QString());
    const QByteArray content = readFile(file);
    const QByteArray key = content.mid(QByteArray("\"old.host\",\"1234\",\"").size(), 1);
    QCOMPARE(content, full ? old : lineWith("old.host", "1234", key, OldLogon, ",42\r\n"));
    if (linked)
        QCOMPARE(readFile(other), content);
    QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), names);
    struct stat now = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &now), 0);
    QCOMPARE(now.st_ino, was.st_ino);
    QCOMPARE(now.st_mode & 07777, mode_t(0666));
}

void TestConfigFile::permissionsAndOwner_data()
{
    QTest::addColumn<int>("existing"); // -1: no file yet
    QTest::addColumn<int>("expected");
    QTest::newRow("new file") << -1 << 0600;
    QTest::newRow("existing 0644") << 0644 << 0644;
    QTest::newRow("existing 0640") << 0640 << 0640;
    QTest::newRow("existing 0600") << 0600 << 0600;
}

// A new file is its owner's alone, whatever the umask; an existing one keeps
// its mode, and (saved by an administrator) its owner.
void TestConfigFile::permissionsAndOwner()
{
    QFETCH(int, existing);
    QFETCH(int, expected);
    const QString file = path(u"perm.hcf"_s);
    const QByteArray name = QFile::encodeName(file);
    const bool giveAway = existing >= 0 && ::geteuid() == 0;
    QFile::remove(file);
    if (existing >= 0) {
        writeFile(file, "old\r\n");
        QCOMPARE(::chmod(name.constData(), static_cast<mode_t>(existing)), 0);
    }
    if (giveAway)
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    const mode_t oldMask = ::umask(0);
    std::mt19937 rng(5);
    const QString message = SaveConfigFile(file, before(), rng);
    ::umask(oldMask);
    QCOMPARE(message, QString());
    struct stat st = {};
    QCOMPARE(::stat(name.constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, static_cast<mode_t>(expected));
    QCOMPARE(st.st_uid, giveAway ? uid_t(65534) : ::geteuid());
    QCOMPARE(st.st_gid, giveAway ? gid_t(65534) : ::getegid());
}

void TestConfigFile::refusals_data()
{
    QTest::addColumn<ConnectionSettings>("settings");
    QTest::addColumn<QString>("message");

    const QString host =
        u"The host address contains a double quote or a line break and cannot be saved."_s;
    for (const char* bad : {"a\"b", "a\rb", "a\nb", "a\032b"}) { // 032: byte 26
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
    QTest::newRow("one field")
        << one << u"No key can carry the value of AccountPassword; change it and save again."_s;

    ConnectionSettings two = before();
    two.UserPassword = everyKey.left(10);
    two.LogonExtra = everyKey.mid(10);
    QTest::newRow("two fields together")
        << two
        << u"No key can carry the values of UserPassword, LogonExtra together; "
           u"change one of them and save again."_s;

    // The reader takes a first line of at most 65536 bytes; the writer
    // refuses a longer one in the reader's words (%1: the file).
    const QString tooLong =
        u"%1: the first line is longer than 65536 bytes; this is not a configuration file"_s;
    ConnectionSettings huge = before();
    huge.HostAddress = QByteArray(100000, 'h');
    QTest::newRow("host of 100,000 bytes") << huge << tooLong;
    ConnectionSettings past = before();
    past.HostAddress.clear();
    past.HostAddress = QByteArray(65537 - (ConfigLine(past, '0').size() - 2), 'h');
    QTest::newRow("line one byte past the bound") << past << tooLong;
}

void TestConfigFile::refusals()
{
    QFETCH(ConnectionSettings, settings);
    QFETCH(QString, message);
    std::mt19937 rng(6);

    const QString existing = path(u"existing.hcf"_s);
    writeFile(existing, "kept\r\n");
    const auto naming = [&message](const QString& file) {
        return message.contains(u"%1"_s) ? message.arg(file) : message;
    };
    QCOMPARE(SaveConfigFile(existing, settings, rng), naming(existing));
    QCOMPARE(readFile(existing), QByteArray("kept\r\n"));

    const QString absent = path(u"refused.hcf"_s);
    QCOMPARE(SaveConfigFile(absent, settings, rng), naming(absent));
    QVERIFY(!QFile::exists(absent));
}

// A line of exactly the reader's bound is written and read back.
void TestConfigFile::longestLineRoundTrips()
{
    ConnectionSettings s = before();
    s.HostAddress.clear();
    s.HostAddress = QByteArray(65536 - (ConfigLine(s, '0').size() - 2), 'h');
    std::mt19937 rng(7);
    const QString file = path(u"longest.hcf"_s);
    QCOMPARE(SaveConfigFile(file, s, rng), QString());
    QCOMPARE(readFile(file).size(), 65538);
    ConnectionSettings back;
    LoadConfigFile(file, back);
    QCOMPARE(back.HostAddress, s.HostAddress);
}

// Every save replaces the whole file (a longer one with a second line
// included) with one line, draws its own key over the 20 codes '0' to 'C',
// skips a key that would make the line unreadable, and every line loads back
// the same settings.
void TestConfigFile::freshKeyEverySave()
{
    ConnectionSettings s = before();
    setLogon(s, NoLogon);
    // Two bytes that rule out exactly the keys '@' and '5' (each of them would
    // scramble its byte into a double quote).
    s.User = QByteArray(1, static_cast<char>('@' ^ '"')) + static_cast<char>('5' ^ '"');
    const QString file = path(u"fresh.hcf"_s);
    writeFile(file, QByteArray(4096, 'x') + "\r\nsecond line\r\n");
    std::mt19937 rng(7);
    QSet<char> keys;
    for (int i = 0; i < 300; ++i) {
        QCOMPARE(SaveConfigFile(file, s, rng), QString());
        const QByteArray content = readFile(file);
        const char key = content.at(QByteArray("\"old.host\",\"1234\",\"").size());
        QVERIFY2(key >= '0' && key <= 'C', content.constData());
        QCOMPARE(content, lineWith("old.host", "1234", QByteArray(1, key),
                                   {s.User, "", "", "", "", "", ""}, ",42\r\n"));
        keys.insert(key);
        ConnectionSettings loaded;
        LoadConfigFile(file, loaded);
        loaded.ConfigPath = s.ConfigPath;
        QCOMPARE(loaded, s);
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
    QTest::newRow("beside the program")
        << u"east.hcf"_s << u"file"_s << u""_s << u"bin/east.hcf"_s << false;
    QTest::newRow("current folder")
        << u"east.hcf"_s << u""_s << u"file"_s << u"cwd/east.hcf"_s << false;
    QTest::newRow("both: the program's wins")
        << u"east.hcf"_s << u"file"_s << u"file"_s << u"bin/east.hcf"_s << false;
    QTest::newRow("a folder is not the file")
        << u"east.hcf"_s << u"dir"_s << u"file"_s << u"cwd/east.hcf"_s << false;
    QTest::newRow("neither") << u"east.hcf"_s << u""_s << u"dir"_s << u"bin/east.hcf"_s << true;
    QTest::newRow("backslash is part of a name")
        << u"cfg\\east.hcf"_s << u""_s << u"file"_s << u"cwd/cfg\\east.hcf"_s << false;
    QTest::newRow("a slash is used as it stands")
        << u"./east.hcf"_s << u"file"_s << u""_s << u"./east.hcf"_s << false;
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
    for (const auto& [folder, kind] : {std::pair{u"bin"_s, inBin}, {u"cwd"_s, inCwd}}) {
        QVERIFY(QDir(root).mkpath(folder));
        const QString entry = root + u'/' + folder + u'/' + name;
        if (kind == u"dir"_s)
            QVERIFY(QDir().mkpath(entry));
        else if (kind == u"file"_s)
            QVERIFY(QFile(entry).open(QIODevice::WriteOnly));
    }

    const ConfigLocation location =
        LocateConfigFile(name, root + u"/bin/orvanite-console"_s, root + u"/cwd"_s);
    QCOMPARE(location.Path, path.startsWith(u'.') ? path : root + u'/' + path);
    QCOMPARE(
        location.Missing,
        missing
            ? u"Cannot find the configuration file east.hcf: it is neither beside the "
              u"program (%1/bin/east.hcf) nor in the current folder (%1/cwd/east.hcf)."_s.arg(root)
            : QString());
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_ConfigFile.moc"
