// Hosts reached through an SSH route made by a real sshd on loopback: the
// session, orvanite-ctl, orvanite-exporter and the console find the route by
// the host (so a renamed file keeps it), never reach a host directly when its
// route fails, say which route they used, and name each fault once.
#include "ConsoleFixture.h"
#include "config/ConfigFile.h"
#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/HostController.h"
#include "console/HostFileStore.h"
#include "console/HostSummaryModel.h"
#include "console/MainWindow.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/Reconnector.h"
#include "session/SshTunnel.h"
#include "support/HostLinkFixture.h"
#include "support/ServiceFixtures.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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
    void routeOutcomes_data();
    void routeOutcomes();
    void ctlFollowsTheHostsRoute_data();
    void ctlFollowsTheHostsRoute();
    void exporterNamesTheRoute();
    void consoleKeepsTheRouteWithTheHost();
    void tunnelDropsAreToldOnce();
    void unknownHostKeyOffered_data();
    void unknownHostKeyOffered();

private:
    void writeRoutes(const QByteArray& text);
    QString routesFile() const { return config.filePath(u"orvanite/routes"_s); }
    // The fingerprint of the server's key, as ssh-keygen shows it.
    QString serverFingerprint();
    QByteArray knownToStranger() const;

    SshdFixture sshd;
    QTemporaryDir config; // XDG_CONFIG_HOME: the routes file
    QTemporaryDir home;   // HOME for the shell's "~" and "$HOME"
    std::unique_ptr<HostSim> sim;
};

void TestTunnel::initTestCase()
{
    QVERIFY2(sshd.start(), qPrintable(sshd.why()));
    QVERIFY(config.isValid() && home.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    // A configuration and an ssh in the shell's home, one under a name with a space.
    QVERIFY(QFile::copy(sshd.folder() + u"/ssh_config"_s, home.filePath(u"cfg"_s)));
    QVERIFY(QDir(home.path()).mkpath(u"bin dir"_s));
    QVERIFY(QFile::link(u"/usr/bin/ssh"_s, home.filePath(u"bin dir/ssh"_s)));
    qputenv("HOME", QFile::encodeName(home.path()));
}

void TestTunnel::init()
{
    qputenv("ORVANITE_SSH_COMMAND", sshd.sshCommand().toLocal8Bit());
    QFile::remove(routesFile());
    // "stranger" is unknown again.
    QFile known(sshd.folder() + u"/no_known_hosts"_s);
    QVERIFY(known.open(QIODevice::WriteOnly | QIODevice::Truncate));
    sim = startHost();
    QVERIFY(sim);
}

void TestTunnel::cleanup()
{
    sim.reset();
}

void TestTunnel::writeRoutes(const QByteArray& text)
{
    QVERIFY(QDir().mkpath(config.filePath(u"orvanite"_s)));
    QFile f(routesFile());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QString TestTunnel::serverFingerprint()
{
    QProcess keygen;
    keygen.start(u"ssh-keygen"_s, {u"-lf"_s, sshd.folder() + u"/host_key.pub"_s});
    if (!keygen.waitForFinished(10000))
        return {};
    // "256 SHA256:… test (ED25519)"
    return QString::fromLatin1(keygen.readAllStandardOutput().split(' ').value(1));
}

QByteArray TestTunnel::knownToStranger() const
{
    QFile f(sshd.folder() + u"/no_known_hosts"_s);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
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
        const QStringList args = SshTunnel::sshArguments(destination, "10.0.0.9", 30000, 0);
        QVERIFY(args.join(u' ').endsWith(u"-W 10.0.0.9:30000 "_s + tail));
        QVERIFY(args.contains(u"BatchMode=yes"_s));
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
    const int loginsBefore = sshd.logins();
    QVERIFY(connectAndWait(*session, 30000));
    QCOMPARE(errors.count(), 0);
    QCOMPARE(session->listeners()->rows(), 2);
    // The same bytes as a direct connection, through the server.
    QCOMPARE(sim->received(), DefaultLogon + "0001G0001H000211");
    QTRY_COMPARE(sshd.logins(), loginsBefore + 1);

    // A command's audit line names the route.
    QTemporaryDir state;
    CommandAudit audit(session.get(), u"test"_s);
    audit.setTrail(AuditTrail(state.filePath(u"audit.jsonl"_s)));
    session->send(HostCommand::killListener("22", "30002", "TWO"));
    QVERIFY(waitIdle(*session, 20000));
    const QList<QJsonObject> entries = audit.trail().entries();
    QVERIFY(!entries.isEmpty());
    QCOMPARE(entries.first().value(u"via"_s).toString(), u"jump"_s);

    // Renewals (the connection out of step after a bad header) end the old
    // session with Quit and log on again, each connection through a forward
    // of its own that ends with it.
    sim->Faults.BadHeader = true;
    session->refresh();
    QVERIFY(waitIdle(*session, 20000));
    QVERIFY(session->isOutOfStep());
    sim->Faults.BadHeader = false;
    session->refresh();
    QVERIFY(waitIdle(*session, 20000));
    QCOMPARE(session->linkState(), HostSession::LinkState::LoggedOn);
    QCOMPARE(sim->connectionCount(), 3);
    QVERIFY(sim->received().contains("0001Q000001MANAGER"));
    QTRY_COMPARE_WITH_TIMEOUT(sim->openConnections(), 1, 10000);

    // Quit reaches the host, and ssh ends with its stream.
    session->quit();
    QTRY_COMPARE_WITH_TIMEOUT(sim->openConnections(), 0, 10000);
    QVERIFY(sim->received().endsWith("0001Q"));
    QTRY_VERIFY_WITH_TIMEOUT(session->findChildren<QProcess*>().isEmpty(), 10000);
}

void TestTunnel::routeOutcomes_data()
{
    // ORVANITE_SSH_COMMAND ("fixture": the fixture's), the destination,
    // whether the host's port is closed, and what comes of it: logged on, or
    // the tunnel's message (a socket error as "WINSOCK N").
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("closedPort");
    QTest::addColumn<QString>("expected"); // empty: logged on
    QTest::newRow("refused key") << u"fixture"_s << u"refused"_s << false << u"Permission denied"_s;
    QTest::newRow("unknown host key")
        << u"fixture"_s << u"stranger"_s << false << u"Host key verification failed"_s;
    // A key that changed is refused, never offered to be added.
    QTest::newRow("changed host key")
        << u"fixture"_s << u"changed"_s << false << u"Host key verification failed"_s;
    QTest::newRow("ssh missing") << u"/nonexistent/ssh"_s << u"jump"_s << false
                                 << u"/nonexistent/ssh: not found"_s;
    QTest::newRow("forward refused") << u"fixture"_s << u"jump"_s << true << u"WINSOCK 10061"_s;
    QTest::newRow("~ in an option") << u"ssh -F ~/cfg"_s << u"jump"_s << false << QString();
    QTest::newRow("$HOME and quotes")
        << uR"("$HOME/bin dir/ssh" -F "$HOME"/cfg)"_s << u"jump"_s << false << QString();
    QTest::newRow("escaped space")
        << uR"(~/bin\ dir/ssh -F ~/cfg)"_s << u"jump"_s << false << QString();
    QTest::newRow("unterminated quote")
        << uR"(ssh -F "~/cfg)"_s << u"jump"_s << false << u"Unterminated quoted string"_s;
}

void TestTunnel::routeOutcomes()
{
    QFETCH(QString, command);
    QFETCH(QString, destination);
    QFETCH(bool, closedPort);
    QFETCH(QString, expected);
    if (command != u"fixture"_s)
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
    QSignalSpy socketErrors(session.get(), &HostSession::socketError);
    QSignalSpy keys(session.get(), &HostSession::unknownHostKey);
    QSignalSpy finished(session.get(), &HostSession::connectFinished);
    session->logOn();
    QVERIFY(finished.wait(30000));
    if (expected.isEmpty()) {
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(sim->connectionCount(), 1);
        session->quit();
        return;
    }
    QCOMPARE(finished.first().first().toBool(), false);
    // Never reached directly instead.
    QCOMPARE(sim->connectionCount(), 0);
    if (expected.startsWith(u"WINSOCK "_s)) {
        // The failure a closed port gives without a route, and nothing else.
        QCOMPARE(socketErrors.count(), 1);
        QCOMPARE(u"WINSOCK "_s + socketErrors.first().first().toString(), expected);
        QCOMPARE(errors.count(), 0);
        return;
    }
    QCOMPARE(errors.count(), 1);
    const QString text = errors.first().first().toString();
    QVERIFY2(text.contains(expected), qPrintable(text));
    QVERIFY2(text.contains(destination), qPrintable(text));
    if (destination == u"stranger"_s) {
        // Its fingerprint, and how to add it.
        const QString fingerprint = serverFingerprint();
        QVERIFY(fingerprint.startsWith(u"SHA256:"_s));
        QVERIFY2(text.contains(u"ssh-ed25519 "_s + fingerprint), qPrintable(text));
        QVERIFY2(text.contains(u"ssh -o StrictHostKeyChecking=ask -p "_s), qPrintable(text));
        QCOMPARE(keys.count(), 1);
        QCOMPARE(keys.first().at(1).toString(), u"ssh-ed25519 "_s + fingerprint);
        QCOMPARE(keys.first().at(2).toString(), u"127.0.0.1"_s);
    } else {
        QCOMPARE(keys.count(), 0);
    }
}

void TestTunnel::ctlFollowsTheHostsRoute_data()
{
    // The routes file (PORT: the simulator's, CLOSED: a port where nothing
    // listens), the options before the command, ORVANITE_SSH_COMMAND (empty:
    // the fixture's), and what comes of it. Every host file is a renamed copy.
    QTest::addColumn<QByteArray>("routes");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expected"); // in standard output then error
    QTest::addColumn<bool>("throughSsh");     // an ssh login was made
    QTest::addColumn<int>("connections");     // at the simulator
    const QByteArray route = "# kept by the console\n127.0.0.1:PORT jump\n";
    QTest::newRow("renamed file") << route << QStringList{u"--format"_s, u"csv"_s, u"listeners"_s}
                                  << QString() << 0 << QByteArray("ONE") << true << 1;
    QTest::newRow("hosts") << route << QStringList{u"--format"_s, u"json"_s, u"hosts"_s}
                           << QString() << 0 << QByteArray("\"route\": \"jump\"") << true << 1;
    QTest::newRow("hosts, direct") << QByteArray() << QStringList{u"hosts"_s} << QString() << 0
                                   << QByteArray(" direct") << false << 1;
    QTest::newRow("refused forward")
        << QByteArray("127.0.0.1:CLOSED jump\n")
        << QStringList{u"--host"_s, u"127.0.0.1"_s, u"--port"_s, u"CLOSED"_s, u"listeners"_s}
        << QString() << 1 << QByteArray("WINSOCK error: 10061") << true << 0;
    QTest::newRow("unknown host key")
        << route << QStringList{u"--ssh"_s, u"stranger"_s, u"listeners"_s} << QString() << 12
        << QByteArray("To add it once you have checked it, answer yes to: ssh -o "
                      "StrictHostKeyChecking=ask -p ")
        << false << 0;
    QTest::newRow("ssh missing") << route << QStringList{u"listeners"_s} << u"/nonexistent/ssh"_s
                                 << 1 << QByteArray("not found") << false << 0;
    QTest::newRow("routes unreadable")
        << QByteArray("127.0.0.1:PORT jump extra\n") << QStringList{u"listeners"_s} << QString()
        << 5 << QByteArray("line 1, is not \"HOST:PORT DESTINATION\"") << false << 0;
}

void TestTunnel::ctlFollowsTheHostsRoute()
{
    QFETCH(QByteArray, routes);
    QFETCH(QStringList, options);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expected);
    QFETCH(bool, throughSsh);
    QFETCH(int, connections);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QByteArray port = QByteArray::number(sim->serverPort());
    const QByteArray closedPort = QByteArray::number(closed.serverPort());
    closed.close();
    writeRoutes(routes.replace("CLOSED", closedPort).replace("PORT", port));
    if (!command.isEmpty())
        qputenv("ORVANITE_SSH_COMMAND", command.toLocal8Bit());

    QTemporaryDir dir;
    QFile file(dir.filePath(u"east.hcf"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ConfigLine(settingsFor(sim->serverPort()), '5'));
    file.close();
    QVERIFY(file.rename(dir.filePath(u"west.hcf"_s)));
    QStringList arguments;
    if (!options.contains(u"--host"_s))
        arguments << u"--config"_s << file.fileName();
    for (const QString& o : std::as_const(options))
        arguments << (o == u"CLOSED"_s ? QString::fromLatin1(closedPort) : o);

    const int loginsBefore = sshd.logins();
    QByteArray out;
    const int code = runProgram(projectProgram("orvanite-ctl"), arguments, &out);
    QVERIFY2(out.contains(expected), out.constData());
    QCOMPARE(code, exitCode);
    QCOMPARE(sim->connectionCount(), connections);
    if (throughSsh)
        QTRY_VERIFY(sshd.logins() > loginsBefore);
    else
        QCOMPARE(sshd.logins(), loginsBefore);
    if (options.contains(u"stranger"_s))
        QVERIFY2(out.contains(serverFingerprint().toLatin1()), out.constData());
}

void TestTunnel::exporterNamesTheRoute()
{
    // Two hosts, each with its route: one answers, the other's port is closed.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QByteArray port = QByteArray::number(sim->serverPort());
    const QByteArray closedPort = QByteArray::number(closed.serverPort());
    closed.close();
    writeRoutes("127.0.0.1:" + port + " jump\n127.0.0.1:" + closedPort + " jump\n");
    QTemporaryDir dir;
    QStringList arguments{u"--listen"_s, u"127.0.0.1:0"_s};
    for (const quint16 p : {sim->serverPort(), quint16(closedPort.toUShort())}) {
        QFile file(dir.filePath(u"host%1.hcf"_s.arg(p)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ConfigLine(settingsFor(p), '5'));
        arguments << u"--config"_s << file.fileName();
    }
    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(projectProgram("orvanite-exporter"), arguments);
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
    stopProcess(exporter);
    QVERIFY2(metrics.contains("orvanite_up{host=\"127.0.0.1:" + port + "\",via=\"jump\"} 1"),
             metrics.constData());
    QVERIFY2(metrics.contains("ONE"), metrics.constData());
    QVERIFY2(metrics.contains("orvanite_collect_errors_total{host=\"127.0.0.1:" + closedPort +
                              "\",reason=\"connect\"} 1"),
             metrics.constData());
    QVERIFY2(metrics.contains("orvanite_collect_errors_total{host=\"127.0.0.1:" + closedPort +
                              "\",reason=\"logon_failed\"} 0"),
             metrics.constData());
}

void TestTunnel::consoleKeepsTheRouteWithTheHost()
{
    QTemporaryDir dir;
    {
        // A route kept the old way, by its file's path, moves to its host.
        const QString old = dir.filePath(u"old.hcf"_s);
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ConfigLine(settingsFor(4321), '5'));
        file.close();
        ConsoleSettings store(dir.filePath(u"console.ini"_s));
        store.setSshDestination(old, u"ops@gw"_s);
        ScriptedPrompts prompts;
        HostFileStore files(&store, &prompts, nullptr);
        QCOMPARE(store.pathRouteFiles(), QStringList());
        QFile routes(routesFile());
        QVERIFY(routes.open(QIODevice::ReadOnly));
        QVERIFY(routes.readAll().endsWith("\n127.0.0.1:4321 ops@gw\n"));
        QCOMPARE(prompts.messages, QStringList());
    }

    auto f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->create();
    QVERIFY(f->showAndConnect());
    QCOMPARE(f->sim.connectionCount(), 1);

    // Configure's SSH tunnel box, then a save: the route is the host's.
    f->prompts.onDialog = [](QDialog& d) {
        d.findChild<QLineEdit*>(u"sshEdit"_s)->setText(u" jump "_s);
        return int(QDialog::Accepted);
    };
    QVERIFY(f->run("configureAction"));
    f->prompts.onDialog = {};
    QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn, 30000);
    const QString path = dir.filePath(u"east.hcf"_s);
    f->prompts.saveAnswer = path;
    QVERIFY(f->run("saveAction"));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(!saved.readAll().contains("jump"));
    QFile routes(routesFile());
    QVERIFY(routes.open(QIODevice::ReadOnly));
    QVERIFY(routes.readAll().endsWith("\n127.0.0.1:" + QByteArray::number(f->sim.serverPort()) +
                                      " jump\n"));

    // A renamed file is the same host: it goes through the same route.
    const QString renamed = dir.filePath(u"west.hcf"_s);
    QVERIFY(QFile::rename(path, renamed));
    ConnectionSettings direct = f->host()->settings();
    direct.SshDestination.clear();
    f->host()->setSettings(direct);
    const int loginsBefore = sshd.logins();
    f->prompts.openAnswer = renamed;
    QVERIFY(f->run("loadAction"));
    QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn, 30000);
    QCOMPARE(f->host()->settings().SshDestination, u"jump"_s);
    QCOMPARE(f->sim.connectionCount(), 3);
    QTRY_VERIFY(sshd.logins() > loginsBefore);
    // Shown in the status line and All hosts.
    const QString port = QString::number(f->sim.serverPort());
    QVERIFY2(f->window->findChild<ConsoleStatusBar*>()->wholeText().contains(u"127.0.0.1:"_s +
                                                                             port + u" via jump"_s),
             qPrintable(f->window->findChild<ConsoleStatusBar*>()->wholeText()));
    QCOMPARE(f->host()->summary().route, u"jump"_s);
    f->window->summaries()->updateHost(0, f->host()->summary());
    QCOMPARE(f->window->summaries()->index(0, HostSummaryModel::Link).data().toString(),
             u"Connected via jump"_s);
    QCOMPARE(f->prompts.messages, QStringList());
}

void TestTunnel::tunnelDropsAreToldOnce()
{
    auto f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->create();
    ConnectionSettings settings = f->host()->settings();
    settings.SshDestination = u"jump"_s;
    f->host()->setSettings(settings);
    f->host()->reconnector()->setDelays(100, 200);
    f->host()->reconnector()->setEnabled(true);
    QVERIFY(f->showAndConnect());
    // ssh killed three times; each time the link comes back through a new one.
    for (int drop = 1; drop <= 3; ++drop) {
        QList<QProcess*> ssh = f->session()->findChildren<QProcess*>();
        ssh.removeIf([](const QProcess* p) { return p->state() != QProcess::Running; });
        QCOMPARE(ssh.size(), 1);
        // ssh and the shell that runs it.
        QVERIFY(::kill(-pid_t(ssh.first()->processId()), SIGKILL) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(f->sim.connectionCount(), drop + 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn,
                                  30000);
    }
    QCOMPARE(f->prompts.messages, QStringList{u"SSH tunnel to jump ended: ssh was killed"_s});
}

void TestTunnel::unknownHostKeyOffered_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("accepted") << true;
    QTest::newRow("declined") << false;
}

void TestTunnel::unknownHostKeyOffered()
{
    QFETCH(bool, accept);
    auto f = std::make_unique<ConsoleFixture>();
    f->useStandardHost();
    f->create();
    QVERIFY(f->showAndConnect());
    f->prompts.confirmAnswers = {accept};
    f->prompts.onDialog = [](QDialog& d) {
        d.findChild<QLineEdit*>(u"sshEdit"_s)->setText(u"stranger"_s);
        return int(QDialog::Accepted);
    };
    QVERIFY(f->run("configureAction"));
    f->prompts.onDialog = {};
    QTRY_COMPARE_WITH_TIMEOUT(f->prompts.confirmations.size(), 1, 30000);
    QVERIFY2(f->prompts.confirmations.first().contains(u"ssh-ed25519 "_s + serverFingerprint()),
             qPrintable(f->prompts.confirmations.first()));
    if (accept) {
        QTRY_COMPARE_WITH_TIMEOUT(f->sim.connectionCount(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f->session()->linkState(), HostSession::LinkState::LoggedOn,
                                  30000);
        QVERIFY(knownToStranger().startsWith("[127.0.0.1]:"));
        QCOMPARE(f->prompts.messages, QStringList());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(f->closing(), 30000);
        QCOMPARE(f->sim.connectionCount(), 1);
        QCOMPARE(knownToStranger(), QByteArray());
    }
}

QTEST_MAIN(TestTunnel)
#include "tst_tunnel.moc"
