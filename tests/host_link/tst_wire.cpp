// Wire formats as pure functions: logon bytes, framing, header, record
// splitting, the queues, and the error numbers and texts.
#include "core/WinsockErrors.h"
#include "host_link/RecordDisplay.h"
#include "host_link/Wire.h"

#include <QTest>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <netdb.h>

using namespace Qt::StringLiterals;

class TestWire : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void logonBytes_data();
    void logonBytes();
    void frame();
    void parseHeader_data();
    void parseHeader();
    void splitRecord_data();
    void splitRecord();
    void recordWithoutData();
    void logonReply_data();
    void logonReply();
    void priorityNamesAndCodes();
    void errorCodes_data();
    void errorCodes();
    void cpuTimeText_data();
    void cpuTimeText();
    void cpuTimeTextMatchesReference();
};

void TestWire::logonBytes_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("expectedUserField");
    const auto row = [](const char* name, const QByteArray& user, const QByteArray& field) {
        QTest::newRow(name) << user << field;
    };
    row("MANAGER", "MANAGER", "MANAGER" + QByteArray(9, ' '));
    row("16 characters unchanged", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOP");
    row("20 characters cut to 16", "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOP");
    row("empty is 16 spaces", QByteArray(), QByteArray(16, ' '));
    row("nothing changed: case, blanks", " mAn ", " mAn " + QByteArray(11, ' '));
}

void TestWire::logonBytes()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, expectedUserField);
    const std::array<QByteArray, 7> fields{user, "", "", "", "SYS", "", ""};
    // The kind in six digits, then seven fields of 16 bytes: 118 bytes.
    QCOMPARE(Wire::logonBytes(1, fields),
             "000001" + expectedUserField + QByteArray(48, ' ') + "SYS" + QByteArray(45, ' '));
}

void TestWire::frame()
{
    QCOMPARE(*Wire::frame("G"), "0001G"_ba);
    QCOMPARE(*Wire::frame(""), "0000"_ba);
    QCOMPARE(*Wire::frame("1234"), "00041234"_ba);
    const QByteArray longest(9999, 'x');
    QCOMPARE(*Wire::frame(longest), "9999" + longest);
    QVERIFY(!Wire::frame(QByteArray(10000, 'x')).has_value());
}

void TestWire::parseHeader_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("length"); // -1: not a header

    QTest::newRow("end of list") << "0000"_ba << 0;
    QTest::newRow("12") << "0012"_ba << 12;
    QTest::newRow("9999") << "9999"_ba << 9999;
    QTest::newRow("00x1") << "00x1"_ba << -1;
    QTest::newRow("leading blank") << " 012"_ba << -1;
    QTest::newRow("trailing blank") << "012 "_ba << -1;
    QTest::newRow("plus sign") << "+012"_ba << -1;
    QTest::newRow("minus sign") << "-012"_ba << -1;
    QTest::newRow("hex") << "0x1A"_ba << -1;
    QTest::newRow("three digits") << "012"_ba << -1;
    QTest::newRow("five digits") << "00012"_ba << -1;
    QTest::newRow("NUL") << "00"_ba + '\0' + '1' << -1;
}

void TestWire::parseHeader()
{
    QFETCH(QByteArray, header);
    QFETCH(int, length);
    const std::optional<int> parsed = Wire::parseHeader(header);
    QCOMPARE(parsed.value_or(-1), length);
}

// Each record gives its fields joined by "/" (a listener's five, a process's
// six), or the reason it was refused.
void TestWire::splitRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char* name, const QByteArray& record, const QByteArray& expected) {
        QTest::newRow(name) << record << expected;
    };
    row("listener", "S1234|30001 PROGNAME|2|0", "1234/30001/PROGNAME/2/0");
    row("listener: |X tail ignored", "S1234|30001 PROGNAME|2|0|X", "1234/30001/PROGNAME/2/0");
    row("listener: program with spaces", "S77|30004 VGDSRVR.KQ.ORVANITE;PRI=DS S|16|30",
        "77/30004/VGDSRVR.KQ.ORVANITE;PRI=DS S/16/30");
    row("listener: NUL ends the record", QByteArray("S1|2 P|3|4\0garbage", 18), "1/2/P/3/4");
    row("listener: empty PIN and port", "S| P|3|4", "//P/3/4");
    row("main PIN and priority", "P0123|456|PROG|USER|2500|3", "123/456/PROG/USER/2500/3");
    row("flag 1: no main PIN", "P1999|456|PROG|USER|2500", "/456/PROG/USER/2500/0");
    row("bar as flag", "P|456|PROG|USER|2500", "/456/PROG/USER/2500/0");
    row("flag 0 with empty main PIN", "P0|456|PROG|USER|2500", "/456/PROG/USER/2500/0");
    row("routing by first character only", "X0123|456|PROG|USER|1|1", "123/456/PROG/USER/1/1");
    row("lower-case s is a process", "s0123|456|PROG|USER|1|4", "123/456/PROG/USER/1/4");
    row("NUL before the priority", QByteArray("P0123|456|PROG|USER|2500\0|9", 28),
        "123/456/PROG/USER/2500/0");
    // The splitter takes sixteen bytes at a time: separators and NULs on
    // either side of a block's edge.
    row("bar as the 16th and 17th bytes", "P0123456789ABCD|||U|7|2", "123456789ABCD///U/7/2");
    row("NUL as the 17th byte", QByteArray("P0|456|PROG|US|1\0|3", 19), "/456/PROG/US/1/0");
    row("CPU time beyond 32 bits", "P0123|456|PROG|USER|99999999999|2",
        "123/456/PROG/USER/99999999999/2");
    row("bytes above 127 in names", "P07|8|PR\xc9G|\xff\xfe|0", "7/8/PR\xc9G/\xff\xfe/0/0");

    row("listener: no bar after PIN", "S1234", "missing separator after the PIN");
    row("listener: no space after port", "S1|30001PROG|2|0", "missing space after the port");
    row("listener: no bar after program", "S1|30001 PROG", "missing separator after the program");
    row("listener: no user limit", "S1234|30001 PROG|2", "missing separator before the user limit");
    row("listener: product not decimal", "S1|2 P|x|0", "product 'x' is not a decimal number");
    row("listener: product of 31 bits", "S1|2 P|2147483647|0", "1/2/P/2147483647/0");
    row("listener: product past 32 bits", "S1|2 P|2147483648|0",
        "product '2147483648' is not a decimal number");
    row("listener: empty user limit", "S1|2 P|2|", "user limit '' is not a decimal number");
    row("listener: blank in user limit", "S1|2 P|2| 5", "user limit ' 5' is not a decimal number");
    row("process: too short", "P", "missing separator before the PIN");
    row("empty record", QByteArray(), "missing separator before the PIN");
    row("NUL cuts off the separators", QByteArray("S1|2 P\0|3|4", 11),
        "missing separator after the program");
    row("process: no CPU time", "P0123|456|PROG|USER", "missing separator before the CPU time");
    row("process: CPU time 12a", "P0123|456|PROG|USER|12a",
        "CPU time '12a' is not a decimal number");
    row("process: CPU time with plus sign", "P0123|456|PROG|USER|+12",
        "CPU time '+12' is not a decimal number");
    row("process: CPU time of 63 bits", "P0|1|P|U|9223372036854775807|4",
        "/1/P/U/9223372036854775807/4");
    row("process: CPU time past 64 bits", "P0|1|P|U|9223372036854775808",
        "CPU time '9223372036854775808' is not a decimal number");
    row("process: priority 5", "P0123|456|PROG|USER|2500|5", "priority 5 is outside 1 to 4");
    row("process: priority 0", "P0123|456|PROG|USER|2500|0", "priority 0 is outside 1 to 4");
    row("process: priority 00 told as a number", "P0123|456|PROG|USER|2500|00",
        "priority 0 is outside 1 to 4");
    row("process: empty priority", "P0123|456|PROG|USER|2500|",
        "priority '' is not a decimal number");
    row("process: priority with tail", "P0123|456|PROG|USER|2500|3|X",
        "priority '3|X' is not a decimal number");
}

void TestWire::splitRecord()
{
    QFETCH(QByteArray, record);
    const Wire::SplitResult r = Wire::splitRecord(record);
    QByteArrayList fields;
    if (!r.ok()) {
        fields << Wire::errorText(r).toLatin1();
    } else if (r.kind == Wire::RecordKind::Listener) {
        const Wire::ListenerFields& l = r.listener;
        fields << l.pin.toByteArray() << l.port.toByteArray() << l.program.toByteArray()
               << QByteArray::number(l.productNumber) << QByteArray::number(l.userLimitNumber);
    } else {
        const Wire::ProcessFields& p = r.process;
        fields << p.mainPin.toByteArray() << p.pin.toByteArray() << p.program.toByteArray()
               << p.user.toByteArray() << QByteArray::number(p.cpuMs)
               << QByteArray::number(p.priority);
    }
    QTEST(fields.join('/'), "expected");
}

void TestWire::recordWithoutData()
{
    // Found by fuzzing: a view with no data pointer went to memchr, which
    // must never be given one (the sanitizer build stops there).
    const Wire::SplitResult r = Wire::splitRecord(QByteArrayView());
    QCOMPARE(r.kind, Wire::RecordKind::Process);
    QCOMPARE(r.error, Wire::SplitError::MissingSeparatorBeforePin);
}

void TestWire::logonReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("meaning");
    using L = Wire::LogonReply;
    QTest::newRow("0") << "0"_ba << int(L::Accepted);
    QTest::newRow("1") << "1"_ba << int(L::Refused);
    QTest::newRow("9") << "9"_ba << int(L::Failed);
    QTest::newRow("none") << QByteArray() << int(L::Failed);
    QTest::newRow("NUL") << QByteArray(1, '\0') << int(L::Failed);
    QTest::newRow("two bytes") << "01"_ba << int(L::Failed);
}

void TestWire::logonReply()
{
    QFETCH(QByteArray, reply);
    QTEST(int(Wire::parseLogonReply(reply)), "meaning");
}

// The queues' names and codes. (The request arguments are compared byte for
// byte where the session sends each command.)
void TestWire::priorityNamesAndCodes()
{
    QCOMPARE(Wire::priorityText(1), "BS"_ba);
    QCOMPARE(Wire::priorityText(4), "ES"_ba);
    QCOMPARE(Wire::priorityText(0), QByteArray());
    QCOMPARE(Wire::priorityText(5), QByteArray());
    QCOMPARE(Wire::priorityCode("CS"), 2);
    QCOMPARE(Wire::priorityCode("ES"), 4);
    QCOMPARE(Wire::priorityCode("BS"), 0); // no process is moved to BS
    QCOMPARE(Wire::priorityCode("cs"), 0);
    QCOMPARE(Wire::priorityName(3), QByteArrayView("DS"));
    QCOMPARE(Wire::priorityName(1), QByteArrayView());
}

// The error numbers errno and the resolver map to (0: none maps there), and
// each number's text, gaps in the table included.
void TestWire::errorCodes_data()
{
    QTest::addColumn<int>("native");
    QTest::addColumn<int>("resolved"); // from the resolver
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const auto row = [](int native, int resolved, int code, const char* text) {
        QTest::addRow("%d", code) << native << resolved << code << QString::fromLatin1(text);
    };
    row(0, 0, 10004, "Interrupted system call");
    row(EAGAIN, 0, 10035, "Operation would block");
    row(EINPROGRESS, 0, 10036, "Operation now in progress");
    row(ENETDOWN, 0, 10050, "Network is down");
    row(ENETUNREACH, 0, 10051, "Network is unreachable");
    row(ECONNRESET, 0, 10054, "Connection reset by peer");
    row(0, 0, 10059, "Too many references:can't splice");
    row(ETIMEDOUT, 0, 10060, "Connection timed out");
    row(ECONNREFUSED, 0, 10061, "Connection refused");
    row(EHOSTUNREACH, 0, 10065, "No route to host");
    row(0, 0, 10072, "Not a Winsock error");
    row(0, 0, 10093, "Winsock not initialized");
    row(0, EAI_NONAME, 11001, "Host not found");
    row(0, EAI_AGAIN, 11002, "Non authoritative - host not found");
    row(0, EAI_FAIL, 11003, "Non recoverable error");
    row(0, EAI_NODATA, 11004, "Valid name, no data record of requested type");
    row(0, 0, 11005, "Not a Winsock error");
    row(0, 0, 5, "Not a Winsock error");
    row(0, 0, 0, "Not a Winsock error");
}

void TestWire::errorCodes()
{
    QFETCH(int, native);
    QFETCH(int, resolved);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (native)
        QCOMPARE(Winsock::FromErrno(native), code);
    if (resolved)
        QCOMPARE(Winsock::FromResolver(resolved, 0), code);
    QCOMPARE(Winsock::ErrorText(code), text);
}

void TestWire::cpuTimeText_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("1500") << qint64(1500) << '.' << QByteArray("   1.500");
    QTest::newRow("0") << qint64(0) << '.' << QByteArray("   0.000");
    QTest::newRow("123456") << qint64(123456) << '.' << QByteArray(" 123.456");
    QTest::newRow("123456789") << qint64(123456789) << '.' << QByteArray("123456.789");
    QTest::newRow("comma") << qint64(1500) << ',' << QByteArray("   1,500");
    QTest::newRow("32-bit seconds") << qint64(4294967295999) << '.' << QByteArray("4294967295.999");
    QTest::newRow("past 32 bits") << qint64(4294967296000) << '.' << QByteArray("4294967296.000");
}

void TestWire::cpuTimeText()
{
    QFETCH(qint64, ms);
    QFETCH(char, separator);
    QFETCH(QByteArray, text);
    QCOMPARE(RecordDisplay::CpuTimeText(ms, separator), text);
}

void TestWire::cpuTimeTextMatchesReference()
{
    // Against a plain formatting of the same value, over the whole range.
    auto reference = [](std::int64_t ms, char separator) {
        const bool negative = ms < 0;
        const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(ms)
                                                      : static_cast<unsigned long long>(ms);
        char text[40];
        const int n = std::snprintf(text, sizeof text, "%s%llu%c%03llu", negative ? "-" : "",
                                    magnitude / 1000, separator, magnitude % 1000);
        return QByteArray(n < 8 ? 8 - n : 0, ' ') + QByteArray(text, n);
    };
    const std::int64_t samples[] = {0,      1,          999,       1000,          1500,
                                    123456, 9999999,    10000000,  123456789,     -1,
                                    -1500,  -123456789, INT64_MAX, INT64_MIN + 1, INT64_MIN};
    for (std::int64_t ms : samples) {
        for (char separator : {'.', ','}) {
            char buffer[RecordDisplay::CpuTimeCapacity];
            QCOMPARE(RecordDisplay::WriteCpuTime(buffer, ms, separator).toByteArray(),
                     reference(ms, separator));
        }
    }
    for (std::int64_t ms = 0; ms < 200000; ms += 7)
        QCOMPARE(RecordDisplay::CpuTimeText(ms, '.'), reference(ms, '.'));
}

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
