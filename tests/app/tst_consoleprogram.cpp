// The orvanite-console program as a user starts it from a terminal: options,
// and no display.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestConsoleProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void start_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("stdoutHas"); // empty: nothing on stdout
        QTest::addColumn<QByteArray>("stderrHas");
        // Options work without any display.
        QTest::newRow("--help") << QStringList{u"--help"_s} << QString() << QString() << 0
                                << QByteArray("Usage: orvanite-console [OPTION]... [FILE]")
                                << QByteArray();
        QTest::newRow("--version") << QStringList{u"--version"_s} << QString() << QString() << 0
                                   << QByteArray("orvanite-console 2.1.2.2\n") << QByteArray();
        // An option after a file name is still an option, never a file.
        QTest::newRow("file then --help") << QStringList{u"east.hcf"_s, u"--help"_s} << QString()
                                          << QString() << 0 << QByteArray("Usage:") << QByteArray();
        QTest::newRow("unknown option")
            << QStringList{u"--east.hcf"_s} << QString() << QString() << 2 << QByteArray()
            << QByteArray("unknown option '--east.hcf'");
        // No display: a message and exit 1, not a core dump.
        const QByteArray said("orvanite-console: ");
        QTest::newRow("nothing set")
            << QStringList{u"east.hcf"_s} << QString() << QString() << 1 << QByteArray() << said;
        QTest::newRow("xcb without DISPLAY")
            << QStringList{u"east.hcf"_s} << u"xcb"_s << QString() << 1 << QByteArray() << said;
        QTest::newRow("xcb with a dead DISPLAY")
            << QStringList{u"east.hcf"_s} << u"xcb"_s << u":987"_s << 1 << QByteArray() << said;
    }

    void start()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, stdoutHas);
        QFETCH(QByteArray, stderrHas);
        const QString program = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-console"_s;
        QVERIFY2(QFile::exists(program), qPrintable(program));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        if (!platform.isEmpty())
            env.insert(u"QT_QPA_PLATFORM"_s, platform);
        if (!display.isEmpty())
            env.insert(u"DISPLAY"_s, display);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            QFAIL("the program did not end");
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(stdoutHas.isEmpty() ? out.isEmpty() : out.contains(stdoutHas), out.constData());
        QVERIFY2(err.contains(stderrHas), err.constData());
        QVERIFY2(!err.contains("Reinstalling"), err.constData());
    }
};

QTEST_MAIN(TestConsoleProgram)
#include "tst_consoleprogram.moc"
