// The orvanite-hostsim program itself: start-up line, a real exchange, and
// its clean exits on the shutdown request and on SIGTERM.

#include "RawClient.h"

#include <QProcess>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

class tst_HostSimProgram : public QObject
{
    Q_OBJECT

private:
    // Starts the program and returns the port from its first line.
    quint16 start(QProcess& process, const QStringList& arguments)
    {
        process.start(qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-hostsim"_s,
                      QStringList{u"--port"_s, u"0"_s} + arguments);
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(10000))
            return 0;
        const QByteArray line = process.readLine().trimmed();
        if (!line.startsWith("listening on 127.0.0.1:"))
            return 0;
        return quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    }

private Q_SLOTS:
    void exitsOnShutdownRequest()
    {
        QProcess process;
        const quint16 port = start(process, {u"--processes"_s, u"14"_s});
        QVERIFY(port != 0);
        RawClient client;
        QVERIFY(client.logOn(port));
        QList<QByteArray> bodies;
        bool ended = false;
        QVERIFY(RawClient::frames(client.ask("0001G"), &bodies, &ended));
        QCOMPARE(bodies.size(), 7);
        QCOMPARE(bodies[0], "S1000|30001 PCLSRVR|2|0");
        client.send("0001E");
        QVERIFY(client.waitForClose());
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QByteArray log = process.readAllStandardError();
        QVERIFY2(log.contains("request G\n") && log.contains("request E\n"), log.constData());
    }

    void exitsOnSigterm()
    {
        QProcess process;
        QVERIFY(start(process, {u"--demo"_s}) != 0);
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("two populations") << QStringList{u"--demo"_s, u"--processes"_s, u"5"_s};
        QTest::newRow("port out of range") << QStringList{u"--port"_s, u"70000"_s};
        QTest::newRow("logon reply of two characters") << QStringList{u"--logon-reply"_s, u"10"_s};
        QTest::newRow("delay not a number") << QStringList{u"--reply-delay"_s, u"soon"_s};
        QTest::newRow("unknown option") << QStringList{u"--no-such-option"_s};
        QTest::newRow("value missing") << QStringList{u"--port"_s};
    }
    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        process.start(qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-hostsim"_s, arguments);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().startsWith("orvanite-hostsim: "));
    }

    void version()
    {
        QProcess process;
        process.start(qEnvironmentVariable("ORV_BIN_DIR") + u"/orvanite-hostsim"_s,
                      {u"--version"_s});
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("orvanite-hostsim 2.1.2.2\n"));
    }
};

QTEST_GUILESS_MAIN(tst_HostSimProgram)
#include "tst_HostSimProgram.moc"
