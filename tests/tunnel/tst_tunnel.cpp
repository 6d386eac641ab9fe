// Hosts reached through an SSH tunnel made by a real sshd on loopback: the
// session, orvanite-ctl and orvanite-exporter list a simulator through it,
// the host receives exactly the bytes of a direct connection, and each way a
// tunnel fails ends at once with ssh's own words.
#include "ConsoleFixture.h"
#include "support/ServiceFixtures.h"
#include "config/ConfigFile.h"
#include "console/HostController.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/SshTunnel.h"
#include "support/HostLinkFixture.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace HostLinkFixture;
using namespace Qt::StringLiterals;

// The logon a direct connection sends for the default settings.
const QByteArray DefaultLogon =
    "000001MANAGER" + QByteArray(57, ' ') + "SYS" + QByteArray(13, ' ') + QByteArray(32, ' ');

class TestTunnel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void destinations_data();
    void destinations();
    void sessionListsThroughTheTunnel();
    void failuresNameTheirCause_data();
    void failuresNameTheirCause();
    void programsListThroughTheTunnel();
    void consoleKeepsTheTunnelPerFile();

private:
    // The tunnel folders under the runtime folder.
    QStringList tunnelFolders() const;

    SshdFixture sshd;
    QTemporaryDir runtime;
    std::unique_ptr<HostSim> sim;
};

void TestTunnel::initTestCase()
{
    QVERIFY2(sshd.start(), qPrintable(sshd.why()));
    qputenv("ORVANITE_SSH_COMMAND", sshd.sshCommand().toLocal8Bit());
    QVERIFY(runtime.isValid());
    QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
}

void TestTunnel::init()
{
    sim = startHost();
    QVERIFY(sim);
}

void TestTunnel::cleanup()
{
    sim.reset();
    qputenv("ORVANITE_SSH_COMMAND", sshd.sshCommand().toLocal8Bit());
}

QStringList TestTunnel::tunnelFolders() const
{
    return QDir(runtime.path()).entryList({u"orvanite-ssh-*"_s}, QDir::Dirs);
}

void TestTunnel::destinations_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("tail"); // the last arguments, or the refusal's reason
    // Ports from 1 to 65535.
    QTest::newRow("name") << u"jump"_s << u"-- jump"_s;
    QTest::newRow("user and port 1") << u"ops@gw.example:1"_s << u"-p 1 -- ops@gw.example"_s;
    QTest::newRow("user with @") << u"a@b@gw"_s << u"-- a@b@gw"_s;
    QTest::newRow("v6 in brackets, port 65535") << u"[::1]:65535"_s << u"-p 65535 -- ::1"_s;
    QTest::newRow("option") << u"-oProxyCommand=sh"_s << u"does not start with \"-\""_s;
    QTest::newRow("space") << u"gw -v"_s << u"no spaces"_s;
    QTest::newRow("port 0") << u"gw:0"_s << u"from 1 to 65535, not \"0\""_s;
    QTest::newRow("port 65536") << u"gw:65536"_s << u"from 1 to 65535, not \"65536\""_s;
    QTest::newRow("empty port") << u"gw:"_s << u"no port after"_s;
    QTest::newRow("no user") << u"@gw"_s << u"no user name"_s;
    QTest::newRow("bare v6") << u"::1"_s << u"in brackets"_s;
    QTest::newRow("empty") << QString() << u"no destination"_s;
}

void TestTunnel::destinations()
{
    QFETCH(QString, destination);
    QFETCH(QString, tail);
    const QString why = SshTunnel::checkDestination(destination);
    if (tail.startsWith(u"-"_s)) {
        QCOMPARE(why, QString());
        const QStringList args =
            SshTunnel::sshArguments(destination, u"/r/s"_s, "10.0.0.9", 30000, 0);
        QVERIFY(args.join(u' ').endsWith(u"-L /r/s:10.0.0.9:30000 "_s + tail));
        QVERIFY(args.contains(u"BatchMode=yes"_s));
        QVERIFY(args.contains(u"ExitOnForwardFailure=yes"_s));
    } else {
        QVERIFY2(why.contains(tail), qPrintable(why));
    }
}

void TestTunnel::sessionListsThroughTheTunnel()
{
    auto session = sessionFor(sim->serverPort());
    ConnectionSettings settings = session->settings();
    settings.SshDestination = u"jump"_s;
    session->setSettings(settings);
    QSignalSpy errors(session.get(), &HostSession::tunnelError);
    QVERIFY(connectAndWait(*session, 30000));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(session->listeners()->rows(), 2);
    // The same bytes as a direct connection.
    QCOMPARE(sim->received(), DefaultLogon + "0001G0001H000211");

    // The socket sits in a folder only we can enter.
    const QStringList folders = tunnelFolders();
    QCOMPARE(folders.size(), 1);
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(runtime.filePath(folders.first())).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);

    // A refresh goes through the same tunnel.
    session->refresh();
    QVERIFY(waitIdle(*session, 20000));
    QCOMPARE(sim->connectionCount(), 1);

    // Renewals (the connection out of step after each bad header) end the
    // old session with Quit and log on again through the same tunnel.
    sim->Faults.BadHeader = true;
    session->refresh();
    QVERIFY(waitIdle(*session, 20000));
    QVERIFY(session->isOutOfStep());
    sim->Faults.BadHeader = false;
    session->refresh();
    QVERIFY(waitIdle(*session, 20000));
    QCOMPARE(session->linkState(), HostSession::LinkState::LoggedOn);
    QCOMPARE(sim->connectionCount(), 3);
    QTRY_COMPARE(sim->openConnections(), 1);
    QVERIFY(sim->received().contains("0001Q000001MANAGER"));
    QCOMPARE(tunnelFolders(), folders);

    // Quit ends the tunnel and its folder.
    session->quit();
    QVERIFY(tunnelFolders().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(sim->openConnections(), 0, 10000);
}

void TestTunnel::failuresNameTheirCause_data()
{
    QTest::addColumn<QString>("command"); // ORVANITE_SSH_COMMAND; empty: the fixture's
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("closedPort"); // forward to a port where nothing listens
    QTest::addColumn<QString>("expected");
    QTest::newRow("refused key") << QString() << u"refused"_s << false << u"Permission denied"_s;
    QTest::newRow("unknown host key")
        << QString() << u"stranger"_s << false << u"Host key verification failed"_s;
    QTest::newRow("no ssh") << u"/nonexistent/ssh"_s << u"jump"_s << false
                            << u"cannot run \"/nonexistent/ssh\""_s;
    QTest::newRow("forward refused") << QString() << u"jump"_s << true << u"open failed"_s;
}

void TestTunnel::failuresNameTheirCause()
{
    QFETCH(QString, command);
    QFETCH(QString, destination);
    QFETCH(bool, closedPort);
    QFETCH(QString, expected);
    if (!command.isEmpty())
        qputenv("ORVANITE_SSH_COMMAND", command.toLocal8Bit());
    quint16 port = sim->serverPort();
    if (closedPort) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    auto session = sessionFor(port);
    ConnectionSettings settings = session->settings();
    settings.SshDestination = destination;
    session->setSettings(settings);
    QSignalSpy errors(session.get(), &HostSession::tunnelError);
    QSignalSpy finished(session.get(), &HostSession::connectFinished);
    session->logOn();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.first().first().toBool(), false);
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
    const QString text = errors.first().first().toString();
    QVERIFY2(text.contains(expected), qPrintable(text));
    QVERIFY2(text.contains(destination), qPrintable(text));
    session->quit();
    QVERIFY(tunnelFolders().isEmpty());
}

void TestTunnel::programsListThroughTheTunnel()
{
    const QString port = QString::number(sim->serverPort());

    QByteArray out;
    const int code = runProgram(projectProgram("orvanite-ctl"),
                                {u"--host"_s, u"127.0.0.1"_s, u"--port"_s, port, u"--ssh"_s,
                                 u"jump"_s, u"--format"_s, u"csv"_s, u"listeners"_s},
                                &out);
    QVERIFY2(code == 0 && out.contains("ONE") && out.contains("TWO"), out.constData());
    QCOMPARE(sim->received(), DefaultLogon + "0001G0001Q");

    QTemporaryDir dir;
    ConnectionSettings s = settingsFor(sim->serverPort());
    QFile file(dir.filePath(u"host.hcf"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ConfigLine(s, '5'));
    file.close();
    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(
        projectProgram("orvanite-exporter"),
        {u"--listen"_s, u"127.0.0.1:0"_s, u"--ssh"_s, u"jump"_s, u"--config"_s, file.fileName()});
    QVERIFY(exporter.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(exporter.canReadLine(), 10000);
    const QByteArray line = exporter.readLine();
    const quint16 exporterPort =
        line.mid(line.indexOf(':') + 1).split(',').first().trimmed().toUShort();
    QVERIFY2(exporterPort != 0, line.constData());
    QNetworkAccessManager http;
    QNetworkReply* reply =
        http.get(QNetworkRequest(QUrl(u"http://127.0.0.1:%1/metrics"_s.arg(exporterPort))));
    QSignalSpy replied(reply, &QNetworkReply::finished);
    QVERIFY(replied.wait(30000));
    const QByteArray metrics = reply->readAll();
    reply->deleteLater();
    exporter.terminate();
    QVERIFY(exporter.waitForFinished(10000));
    QVERIFY2(metrics.contains("orvanite_up{host=\"127.0.0.1:" + port.toLatin1() + "\"} 1"),
             metrics.constData());
    QVERIFY2(metrics.contains("ONE"), metrics.constData());
}

void TestTunnel::consoleKeepsTheTunnelPerFile()
{
    QTemporaryDir dir;
    auto f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->create();
    QVERIFY(f->showAndConnect());
    QCOMPARE(f->sim.connectionCount(), 1);

    // Configure's SSH tunnel box: the next connection goes through it.
    f->prompts.onDialog = [](QDialog& d) {
        d.findChild<QLineEdit*>(u"sshEdit"_s)->setText(u" jump "_s);
        return int(QDialog::Accepted);
    };
    QVERIFY(f->run("configureAction"));
    f->prompts.onDialog = {};
    QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn, 30000);
    QCOMPARE(f->sim.connectionCount(), 2);
    QCOMPARE(f->host()->settings().SshDestination, u"jump"_s);
    QCOMPARE(tunnelFolders().size(), 1);
    QCOMPARE(f->prompts.messages, QStringList());

    // Saved: the file's line is as without a tunnel; the console keeps it.
    const QString path = dir.filePath(u"east.hcf"_s);
    f->prompts.saveAnswer = path;
    QVERIFY(f->run("saveAction"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray line = file.readAll();
    QVERIFY(!line.contains("jump"));
    QCOMPARE(line.count("\r\n"), 1);

    // Loaded again, the file brings its tunnel back.
    ConnectionSettings direct = f->host()->settings();
    direct.SshDestination.clear();
    f->host()->setSettings(direct);
    f->prompts.openAnswer = path;
    QVERIFY(f->run("loadAction"));
    QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn, 30000);
    QCOMPARE(f->host()->settings().SshDestination, u"jump"_s);
    QCOMPARE(f->sim.connectionCount(), 3);
    QCOMPARE(tunnelFolders().size(), 1); // the old tunnel ended with its connection

    // The window goes, and its tunnel with it.
    f.reset();
    QVERIFY(tunnelFolders().isEmpty());
}

QTEST_MAIN(TestTunnel)
#include "tst_tunnel.moc"
