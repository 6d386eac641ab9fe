// Wire formats as pure functions: logon bytes, framing, header, record
// splitting, request arguments, and the error numbers and texts.
#include "host_link/RecordDisplay.h"
#include "core/WinsockErrors.h"
#include "host_link/Wire.h"

#include <QTest>

#include <cerrno>
#include <climits>
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
    void listenerRecords_data();
    void listenerRecords();
    void processRecords_data();
    void processRecords();
    void malformedRecords_data();
    void malformedRecords();
    void recordWithoutData();
    void logonReply_data();
    void logonReply();
    void requestArguments();
    void errorTexts_data();
    void errorTexts();
    void errnoMapping_data();
    void errnoMapping();
    void cpuTimeText_data();
    void cpuTimeText();
    void cpuTimeTextMatchesReference();
};

void TestWire::logonBytes_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("expectedUserField");

    QTest::newRow("MANAGER") << "MANAGER"_ba
                             << "MANAGER" + QByteArray(9, ' ');
    QTest::newRow("16 characters unchanged") << "ABCDEFGHIJKLMNOP"_ba
                                             << "ABCDEFGHIJKLMNOP"_ba;
    QTest::newRow("20 characters cut to 16") << "ABCDEFGHIJKLMNOPQRST"_ba
                                             << "ABCDEFGHIJKLMNOP"_ba;
    QTest::newRow("empty is 16 spaces") << QByteArray() << QByteArray(16, ' ');
    QTest::newRow("nothing changed: case, blanks") << " mAn "_ba
                                                   << " mAn " + QByteArray(11, ' ');
}

void TestWire::logonBytes()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, expectedUserField);
    const std::array<QByteArray, 7> fields{user, "", "", "", "SYS", "", ""};
    const QByteArray bytes = Wire::logonBytes(1, fields);
    QCOMPARE(bytes.size(), 118);
    QCOMPARE(bytes.left(6), "000001"_ba);
    QCOMPARE(bytes.mid(6, 16), expectedUserField);
    QCOMPARE(bytes.mid(6 + 16, 48), QByteArray(48, ' '));
    QCOMPARE(bytes.mid(6 + 64, 16), "SYS" + QByteArray(13, ' '));
    QCOMPARE(bytes.mid(6 + 80), QByteArray(32, ' '));
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
    QTest::newRow("NUL") << QByteArray("00\0"
                                       "1",
                                       4)
                         << -1;
}

void TestWire::parseHeader()
{
    QFETCH(QByteArray, header);
    QFETCH(int, length);
    const std::optional<int> parsed = Wire::parseHeader(header);
    QCOMPARE(parsed.value_or(-1), length);
}

void TestWire::listenerRecords_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("pin");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("userLimit");

    QTest::newRow("plain") << "S1234|30001 PROGNAME|2|0"_ba
                           << "1234"_ba
                           << "30001"_ba
                           << "PROGNAME"_ba << 2 << 0;
    QTest::newRow("|X tail ignored") << "S1234|30001 PROGNAME|2|0|X"_ba
                                     << "1234"_ba
                                     << "30001"_ba
                                     << "PROGNAME"_ba << 2 << 0;
    QTest::newRow("program with spaces") << "S77|30004 VGDSRVR.KQ.ORVANITE;PRI=DS S|16|30"_ba
                                         << "77"_ba
                                         << "30004"_ba
                                         << "VGDSRVR.KQ.ORVANITE;PRI=DS S"_ba << 16 << 30;
    QTest::newRow("NUL ends the record") << QByteArray("S1|2 P|3|4\0garbage", 18) << "1"_ba
                                         << "2"_ba
                                         << "P"_ba << 3 << 4;
    QTest::newRow("empty PIN and port") << "S| P|3|4"_ba
                                        << ""_ba
                                        << ""_ba
                                        << "P"_ba << 3 << 4;
}

void TestWire::listenerRecords()
{
    QFETCH(QByteArray, record);
    const Wire::SplitResult r = Wire::splitRecord(record);
    QVERIFY2(r.ok(), qPrintable(Wire::errorText(r)));
    QCOMPARE(r.kind, Wire::RecordKind::Listener);
    QTEST(r.listener.pin.toByteArray(), "pin");
    QTEST(r.listener.port.toByteArray(), "port");
    QTEST(r.listener.program.toByteArray(), "program");
    QTEST(int(r.listener.productNumber), "product");
    QTEST(int(r.listener.userLimitNumber), "userLimit");
}

void TestWire::processRecords_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QByteArray>("mainPin");
    QTest::addColumn<QByteArray>("pin");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<qint64>("cpuMs");
    QTest::addColumn<int>("priority");

    QTest::newRow("main PIN and priority") << "P0123|456|PROG|USER|2500|3"_ba
                                           << "123"_ba
                                           << "456"_ba
                                           << "PROG"_ba
                                           << "USER"_ba << qint64(2500) << 3;
    QTest::newRow("flag 1: no main PIN") << "P1999|456|PROG|USER|2500"_ba
                                         << ""_ba
                                         << "456"_ba
                                         << "PROG"_ba
                                         << "USER"_ba << qint64(2500) << 0;
    QTest::newRow("bar as flag") << "P|456|PROG|USER|2500"_ba
                                 << ""_ba
                                 << "456"_ba
                                 << "PROG"_ba
                                 << "USER"_ba << qint64(2500) << 0;
    QTest::newRow("flag 0 with empty main PIN") << "P0|456|PROG|USER|2500"_ba
                                                << ""_ba
                                                << "456"_ba
                                                << "PROG"_ba
                                                << "USER"_ba << qint64(2500) << 0;
    QTest::newRow("routing by first character only") << "X0123|456|PROG|USER|1|1"_ba
                                                     << "123"_ba
                                                     << "456"_ba
                                                     << "PROG"_ba
                                                     << "USER"_ba << qint64(1) << 1;
    QTest::newRow("lower-case s is a process") << "s0123|456|PROG|USER|1|4"_ba
                                               << "123"_ba
                                               << "456"_ba
                                               << "PROG"_ba
                                               << "USER"_ba << qint64(1) << 4;
    QTest::newRow("NUL before the priority")
        << QByteArray("P0123|456|PROG|USER|2500\0|9", 28) << "123"_ba
        << "456"_ba
        << "PROG"_ba
        << "USER"_ba << qint64(2500) << 0;
    // The splitter takes sixteen bytes at a time: separators and NULs on
    // either side of a block's edge.
    QTest::newRow("bar as the 16th and 17th bytes") << "P0123456789ABCD|||U|7|2"_ba
                                                    << "123456789ABCD"_ba
                                                    << ""_ba
                                                    << ""_ba
                                                    << "U"_ba << qint64(7) << 2;
    QTest::newRow("NUL as the 17th byte") << QByteArray("P0|456|PROG|US|1\0|3", 19) << ""_ba
                                          << "456"_ba
                                          << "PROG"_ba
                                          << "US"_ba << qint64(1) << 0;
    QTest::newRow("CPU time beyond 32 bits") << "P0123|456|PROG|USER|99999999999|2"_ba
                                             << "123"_ba
                                             << "456"_ba
                                             << "PROG"_ba
                                             << "USER"_ba << qint64(99999999999) << 2;
    QTest::newRow("bytes above 127 in names") << "P07|8|PR\xc9G|\xff\xfe|0"_ba
                                              << "7"_ba
                                              << "8"_ba
                                              << "PR\xc9G"_ba
                                              << "\xff\xfe"_ba << qint64(0) << 0;
}

void TestWire::processRecords()
{
    QFETCH(QByteArray, record);
    const Wire::SplitResult r = Wire::splitRecord(record);
    QVERIFY2(r.ok(), qPrintable(Wire::errorText(r)));
    QCOMPARE(r.kind, Wire::RecordKind::Process);
    QTEST(r.process.mainPin.toByteArray(), "mainPin");
    QTEST(r.process.pin.toByteArray(), "pin");
    QTEST(r.process.program.toByteArray(), "program");
    QTEST(r.process.user.toByteArray(), "user");
    QTEST(qint64(r.process.cpuMs), "cpuMs");
    QTEST(r.process.priority, "priority");
}

void TestWire::malformedRecords_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("error");

    QTest::newRow("listener: no bar after PIN")
        << "S1234"_ba << u"missing separator after the PIN"_s;
    QTest::newRow("listener: no space after port")
        << "S1|30001PROG|2|0"_ba << u"missing space after the port"_s;
    QTest::newRow("listener: no bar after program")
        << "S1|30001 PROG"_ba << u"missing separator after the program"_s;
    QTest::newRow("listener: no user limit")
        << "S1234|30001 PROG|2"_ba << u"missing separator before the user limit"_s;
    QTest::newRow("listener: product not decimal")
        << "S1|2 P|x|0"_ba << u"product 'x' is not a decimal number"_s;
    QTest::newRow("listener: empty user limit")
        << "S1|2 P|2|"_ba << u"user limit '' is not a decimal number"_s;
    QTest::newRow("listener: blank in user limit")
        << "S1|2 P|2| 5"_ba << u"user limit ' 5' is not a decimal number"_s;
    QTest::newRow("process: too short") << "P"_ba << u"missing separator before the PIN"_s;
    QTest::newRow("process: no CPU time")
        << "P0123|456|PROG|USER"_ba << u"missing separator before the CPU time"_s;
    QTest::newRow("process: CPU time 12a")
        << "P0123|456|PROG|USER|12a"_ba << u"CPU time '12a' is not a decimal number"_s;
    QTest::newRow("process: CPU time with plus sign")
        << "P0123|456|PROG|USER|+12"_ba << u"CPU time '+12' is not a decimal number"_s;
    QTest::newRow("process: priority 5")
        << "P0123|456|PROG|USER|2500|5"_ba << u"priority 5 is outside 1 to 4"_s;
    QTest::newRow("process: priority 00 told as a number")
        << "P0123|456|PROG|USER|2500|00"_ba << u"priority 0 is outside 1 to 4"_s;
    QTest::newRow("process: CPU time past 64 bits")
        << "P0|1|P|U|9223372036854775808"_ba
        << u"CPU time '9223372036854775808' is not a decimal number"_s;
    QTest::newRow("listener: product past 32 bits")
        << "S1|2 P|2147483648|0"_ba << u"product '2147483648' is not a decimal number"_s;
    QTest::newRow("process: priority 0")
        << "P0123|456|PROG|USER|2500|0"_ba << u"priority 0 is outside 1 to 4"_s;
    QTest::newRow("process: empty priority")
        << "P0123|456|PROG|USER|2500|"_ba << u"priority '' is not a decimal number"_s;
    QTest::newRow("process: priority with tail")
        << "P0123|456|PROG|USER|2500|3|X"_ba << u"priority '3|X' is not a decimal number"_s;
    QTest::newRow("empty record") << QByteArray() << u"missing separator before the PIN"_s;
    QTest::newRow("NUL cuts off the separators")
        << QByteArray("S1|2 P\0|3|4", 11) << u"missing separator after the program"_s;
}

void TestWire::malformedRecords()
{
    QFETCH(QByteArray, record);
    QFETCH(QString, error);
    QCOMPARE(Wire::errorText(Wire::splitRecord(record)), error);
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

void TestWire::requestArguments()
{
    QCOMPARE(Wire::killListenerArgument("1234"), "S1234"_ba);
    QCOMPARE(Wire::killProcessArgument("123", "456"), "P123|456"_ba);
    QCOMPARE(Wire::setPriorityArgument("456", 3), "456|3"_ba);
    QCOMPARE(Wire::setPriorityArgument("456", 0), QByteArray());
    QCOMPARE(Wire::startListenerArgument("16", "30004", "users", "VGDSRVR.KQ.ORVANITE;PRI=DS S"),
             "16|30004|users|VGDSRVR.KQ.ORVANITE;PRI=DS S"_ba);
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

void TestWire::errorTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("10004") << 10004 << u"Interrupted system call"_s;
    QTest::newRow("10035") << 10035 << u"Operation would block"_s;
    QTest::newRow("10050") << 10050 << u"Network is down"_s;
    QTest::newRow("10059") << 10059 << u"Too many references:can't splice"_s;
    QTest::newRow("10060") << 10060 << u"Connection timed out"_s;
    QTest::newRow("10061") << 10061 << u"Connection refused"_s;
    QTest::newRow("10093") << 10093 << u"Winsock not initialized"_s;
    QTest::newRow("11001") << 11001 << u"Host not found"_s;
    QTest::newRow("11002") << 11002 << u"Non authoritative - host not found"_s;
    QTest::newRow("11004") << 11004 << u"Valid name, no data record of requested type"_s;
    QTest::newRow("5") << 5 << u"Not a Winsock error"_s;
    QTest::newRow("0") << 0 << u"Not a Winsock error"_s;
    QTest::newRow("10072 (gap in the table)") << 10072 << u"Not a Winsock error"_s;
    QTest::newRow("11005") << 11005 << u"Not a Winsock error"_s;
}

void TestWire::errorTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(Winsock::ErrorText(code), text);
}

void TestWire::errnoMapping_data()
{
    QTest::addColumn<bool>("resolver");
    QTest::addColumn<int>("native");
    QTest::addColumn<int>("code");

    QTest::newRow("ECONNREFUSED") << false << ECONNREFUSED << 10061;
    QTest::newRow("ETIMEDOUT") << false << ETIMEDOUT << 10060;
    QTest::newRow("ECONNRESET") << false << ECONNRESET << 10054;
    QTest::newRow("EHOSTUNREACH") << false << EHOSTUNREACH << 10065;
    QTest::newRow("ENETUNREACH") << false << ENETUNREACH << 10051;
    QTest::newRow("ENETDOWN") << false << ENETDOWN << 10050;
    QTest::newRow("EAGAIN") << false << EAGAIN << 10035;
    QTest::newRow("EINPROGRESS") << false << EINPROGRESS << 10036;
    QTest::newRow("EAI_NONAME") << true << EAI_NONAME << 11001;
    QTest::newRow("EAI_AGAIN") << true << EAI_AGAIN << 11002;
    QTest::newRow("EAI_FAIL") << true << EAI_FAIL << 11003;
    QTest::newRow("EAI_NODATA") << true << EAI_NODATA << 11004;
}

void TestWire::errnoMapping()
{
    QFETCH(bool, resolver);
    QFETCH(int, native);
    QFETCH(int, code);
    QCOMPARE(resolver ? Winsock::FromResolver(native, 0) : Winsock::FromErrno(native), code);
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
