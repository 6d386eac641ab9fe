// The orvanite-console program as a user starts it from a terminal: options,
// and no display.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestConsoleProgram : public QObject
{
    Q_OBJECT

    QString m_program;

    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    Run Start(const QStringList& arguments, const QProcessEnvironment& env)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(m_program, arguments);
        Run r;
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_program = qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-console"_s;
        QVERIFY2(QFile::exists(m_program), qPrintable(m_program));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("stdoutHas");
        QTest::addColumn<QByteArray>("stderrHas");
        QTest::newRow("--help") << QStringList{u"--help"_s} << 0
                                << QByteArray("Usage: orvanite-console [OPTION]... [FILE]")
                                << QByteArray();
        QTest::newRow("--version") << QStringList{u"--version"_s} << 0
                                   << QByteArray("orvanite-console 2.1.2.2\n") << QByteArray();
        // An option after a file name is still an option, never a file.
        QTest::newRow("file then --help")
            << QStringList{u"east.hcf"_s, u"--help"_s} << 0 << QByteArray("Usage:") << QByteArray();
        QTest::newRow("unknown option") << QStringList{u"--east.hcf"_s} << 2 << QByteArray()
                                        << QByteArray("unknown option '--east.hcf'");
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, stdoutHas);
        QFETCH(QByteArray, stderrHas);
        // Options work without any display.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        const Run r = Start(arguments, env);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.out.contains(stdoutHas), r.out.constData());
        QVERIFY2(r.err.contains(stderrHas), r.err.constData());
    }

    void noDisplay_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::newRow("nothing set") << QString() << QString();
        QTest::newRow("xcb without DISPLAY") << u"xcb"_s << QString();
        // A display that cannot be opened: a message and exit 1, not a core dump.
        QTest::newRow("xcb with a dead DISPLAY") << u"xcb"_s << u":987"_s;
    }

    void noDisplay()
    {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        if (!platform.isEmpty())
            env.insert(u"QT_QPA_PLATFORM"_s, platform);
        if (!display.isEmpty())
            env.insert(u"DISPLAY"_s, display);
        const Run r = Start({u"east.hcf"_s}, env);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("orvanite-console: "), r.err.constData());
        QVERIFY2(!r.err.contains("Reinstalling"), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_MAIN(TestConsoleProgram)
#include "tst_consoleprogram.moc"
