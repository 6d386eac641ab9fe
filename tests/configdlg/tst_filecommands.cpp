// The main window's file commands and the Configure command, offscreen, with
// the modal parts answered by a script and the host played by an in-process
// simulator.

#include "ConsoleFixture.h"
#include "console/ConsoleSettings.h"
#include "console/Notifier.h"

#include "config/ConfigFile.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Counts close requests that reach the window.
class CloseCounter : public QObject
{
public:
    int closes = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Close)
            ++closes;
        return false;
    }
};

} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ConsoleFixture> f;
    CloseCounter m_closes;

    template <typename T = QLineEdit> static T* box(QDialog& d, const char* name)
    {
        return d.findChild<T*>(QString::fromLatin1(name));
    }
    MainWindow& window() const { return *f->window; }
    HostController& host() const { return *f->host(); }
    const ConnectionSettings& settings() const { return f->host()->settings(); }
    QString writeConfig(const QString& name, const ConnectionSettings& s)
    {
        return writeRaw(name, ConfigLine(s, '7'));
    }
    QString writeRaw(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    void changeSettings(const std::function<void(ConnectionSettings&)>& change)
    {
        ConnectionSettings s = settings();
        change(s);
        f->host()->setSettings(s);
    }
    bool connectWindow() { return f->showAndConnect() && f->sim.connectionCount() == 1; }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<ConsoleFixture>();
        f->useStandardHost();
        f->programPath = m_dir.filePath(u"bin/orvanite-console"_s);
        f->create();
        f->host()->setSettings(simSettings(f->sim.serverPort()));
        m_closes.closes = 0;
        f->window->installEventFilter(&m_closes);
    }

    void cleanup() { f.reset(); }

    // Configure while connected drops the link without Quit. Cancel ends the
    // program and keeps the settings; OK logs on again with what the boxes
    // hold; a port out of range is said, and nothing connects or stays busy.
    void configure_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("interval"); // in ms, afterwards
        QTest::newRow("Cancel") << u"intervalEdit"_s << u"20"_s << false << QStringList() << 5000;
        QTest::newRow("OK") << u"intervalEdit"_s << u"20"_s << true << QStringList() << 20000;
        QTest::newRow("OK, port out of range")
            << u"portEdit"_s << u"99999"_s << true << QStringList{u"Range check error"_s} << 5000;
    }

    void configure()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QStringList, messages);
        QFETCH(int, interval);
        QVERIFY(connectWindow());
        bool busyInDialog = true;
        f->prompts.onDialog = [&](QDialog& d) {
            busyInDialog = host().isBusy();
            this->box(d, qPrintable(box))->setText(typed);
            return int(ok ? QDialog::Accepted : QDialog::Rejected);
        };
        QVERIFY(f->run("configureAction"));
        QVERIFY(!busyInDialog);
        QCOMPARE(f->prompts.messages, messages);
        QCOMPARE(m_closes.closes, ok ? 0 : 1);
        QCOMPARE(f->closing(), !ok);
        const bool relinked = ok && messages.isEmpty();
        QTRY_COMPARE(f->sim.connectionCount(), relinked ? 2 : 1);
        QTRY_VERIFY(f->closing() || !host().isBusy()); // not left with a dead Refresh button
        QCOMPARE(f->session()->isConnected(), relinked);
        QVERIFY(!f->sim.received().contains("0001Q"));
        QCOMPARE(settings().RefreshInterval, interval);
        QCOMPARE(f->find<QTimer>("refreshTimer")->interval(), interval);
    }

    // The dialog's Load button: the boxes show the file's settings and the
    // dialog ends with OK; the window then connects with them.
    void loadButtonRefillsTheBoxes()
    {
        ConnectionSettings file = simSettings(f->sim.serverPort());
        file.User = "OPERATOR";
        file.UserPassword = "PW";
        file.Account = "ACCTNAMELONG"; // longer than typing allows: shown in full
        file.LogonExtra = "X7";
        file.RefreshInterval = 30000;
        changeSettings(
            [this](ConnectionSettings& s) { s.ConfigPath = m_dir.filePath(u"old.hcf"_s); });
        f->prompts.openAnswer = writeConfig(u"east.hcf"_s, file);
        f->sim.Credentials = {"OPERATOR", "PW", "", "", "ACCTNAMELONG", "", "X7"};
        QStringList during;
        int result = -1;
        f->prompts.onDialog = [&](QDialog& d) {
            box<QPushButton>(d, "loadButton")->click();
            for (const char* name : {"hostAddressEdit", "portEdit", "userEdit", "userPasswordEdit",
                                     "accountEdit", "intervalEdit"})
                during.append(box(d, name)->text());
            result = d.result();
            return d.result();
        };
        QVERIFY(f->run("configureAction"));
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(during, (QStringList{u"127.0.0.1"_s, QString::number(f->sim.serverPort()),
                                      u"OPERATOR"_s, u"PW"_s, u"ACCTNAMELONG"_s, u"30"_s}));

        QCOMPARE(settings().Account, QByteArray("ACCTNAMELONG"));
        QCOMPARE(settings().LogonExtra, QByteArray("X7"));
        QCOMPARE(settings().ConfigPath, f->prompts.openAnswer);
        QTRY_VERIFY(!host().isBusy());
        QCOMPARE(window().windowTitle(), u"Orvanite Server Console - "_s + f->prompts.openAnswer);
        QVERIFY(f->session()->isConnected());

        // Both file dialogs are set up alike.
        QCOMPARE(f->prompts.openSetups.size(), 1);
        const FileDialogSetup& setup = f->prompts.openSetups.first();
        QCOMPARE(setup.title, u"Open Configuration File"_s);
        QCOMPARE(setup.filters, (QStringList{u"HCF Cfg Files(*.hcf)"_s, u"All Files(*.*)"_s}));
        QCOMPARE(setup.defaultSuffix, u"HCF"_s);
        QCOMPARE(setup.folder, m_dir.filePath(u"bin/"_s));
        QCOMPARE(setup.fileName, m_dir.filePath(u"old.hcf"_s));
    }

    void loadButtonWithChoiceCancelledStillEndsWithOk()
    {
        f->sim.Credentials[0] = "TYPED";
        f->prompts.openAnswer.clear();
        f->prompts.onDialog = [&](QDialog& d) {
            box(d, "userEdit")->setText(u"TYPED"_s);
            box<QPushButton>(d, "loadButton")->click();
            return d.result();
        };
        QVERIFY(f->run("configureAction"));
        QCOMPARE(settings().User, QByteArray("TYPED"));
        QTRY_VERIFY(!host().isBusy());
        QCOMPARE(m_closes.closes, 0);
        QVERIFY(settings().ConfigPath.isEmpty());
    }

    // A file whose interval cannot be read: the error is shown, the boxes
    // keep what they showed, the dialog stays open, nothing is left busy.
    void loadButtonErrorKeepsTheDialogOpen()
    {
        ConnectionSettings file;
        file.HostAddress = "fromfile";
        QByteArray line = ConfigLine(file, '7');
        line.replace(",5\r\n", ",x\r\n");
        f->prompts.openAnswer = writeRaw(u"bad.hcf"_s, line);
        int resultAfterLoad = -1;
        bool busyAfterLoad = true;
        f->prompts.onDialog = [&](QDialog& d) {
            d.setResult(QDialog::Rejected);
            box<QPushButton>(d, "loadButton")->click();
            resultAfterLoad = d.result();
            busyAfterLoad = host().isBusy();
            // The host box as it was shown, so that OK connects to the simulator.
            box(d, "hostAddressEdit")->setText(u"127.0.0.1"_s);
            box<QPushButton>(d, "okButton")->click();
            return d.result();
        };
        QVERIFY(connectWindow());
        QVERIFY(f->run("configureAction"));
        QCOMPARE(resultAfterLoad, int(QDialog::Rejected));
        QVERIFY(!busyAfterLoad);
        QCOMPARE(f->prompts.messages, QStringList{u"'x' is not a valid integer value"_s});
        // The boxes were not refilled: OK took back what they showed.
        QCOMPARE(settings().HostAddress, QByteArray("127.0.0.1"));
        QCOMPARE(settings().Port, f->sim.serverPort());
    }

    // Another host while connected, by Load, from the recent files or by
    // typing its port in Configure: the old link ends (Quit for a file), the
    // new host starts as at start-up (its first listener and that listener's
    // processes, not the old host's chosen PIN), and no link-lost notice.
    void switchToAnotherHost_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("File, Load") << u"loadAction"_s;
        QTest::newRow("File, Recent") << u"recentFile1"_s;
        QTest::newRow("File, Configure") << u"configureAction"_s;
    }
    void switchToAnotherHost()
    {
        QFETCH(QString, how);
        const bool byFile = how != u"configureAction"_s;
        HostSim other;
        other.Listeners = {listener("777", "30005", "QRYSRVR", "5")};
        other.Processes = {process("777", "777", "901", "QRYUSER", "ERIN", 2500)};
        QVERIFY(other.listen());
        ConnectionSettings settingsInFile = simSettings(other.serverPort());
        settingsInFile.RefreshInterval = 42000;
        const QString file = writeConfig(u"other.hcf"_s, settingsInFile);
        auto* notifier = window().findChild<Notifier*>(u"notifier"_s);
        notifier->setDelivery([](const QString&, const QString&) {});
        QSignalSpy notified(notifier, &Notifier::notified);
        QVERIFY(connectWindow());
        f->chooseListener(1); // the old host's PIN 124
        QVERIFY(f->waitIdle());
        const qsizetype mark = f->mark();
        if (how == u"recentFile1"_s) {
            host().store()->addRecentFile(file);
            Q_EMIT f->find<QMenu>("recentMenu")->aboutToShow();
        } else if (how == u"loadAction"_s) {
            f->prompts.openAnswer = file;
        } else {
            f->prompts.onDialog = [&](QDialog& d) {
                box(d, "portEdit")->setText(QString::number(other.serverPort()));
                return int(QDialog::Accepted);
            };
        }
        QVERIFY(f->run(qPrintable(how)));
        QTRY_COMPARE(other.received().size(), 118 + fullRefresh("777").size());
        QCOMPARE(f->receivedSince(mark), byFile ? framed("Q") : QByteArray());
        QCOMPARE(other.received().mid(118), fullRefresh("777"));
        QTRY_COMPARE(f->processes()->rows(), 1);
        QCOMPARE(f->listenerRow(), 0);
        QCOMPARE(f->processRow(), 0);
        QCOMPARE(f->find<QGroupBox>("processBox")->title(),
                 u"User Processes for (777:Quarry:QRYSRVR:30005)"_s);
        QTRY_VERIFY(!host().isBusy());
        QCOMPARE(notified.count(), 0);
        if (!byFile)
            return;
        QCOMPARE(settings().RefreshInterval, 42000);
        QCOMPARE(settings().ConfigPath, file);
        QCOMPARE(window().windowTitle(), u"Orvanite Server Console - "_s + file);
        QCOMPARE(f->find<QTimer>("refreshTimer")->interval(), 42000);
    }

    // Load cancelled changes nothing; a file that cannot be read is said so,
    // after Quit to the old host, and no new connection is made.
    void loadCommandCancelledOrFailing_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: no file chosen
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("cancelled") << QByteArray() << QStringList();
        QTest::newRow("port unreadable") << QByteArray("\"127.0.0.1\",\"port\",\"7\"\r\n")
                                         << QStringList{u"'port' is not a valid integer value"_s};
    }

    void loadCommandCancelledOrFailing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, messages);
        QVERIFY(connectWindow());
        f->prompts.openAnswer = file.isEmpty() ? QString() : writeRaw(u"bad.hcf"_s, file);
        const ConnectionSettings before = settings();
        QVERIFY(f->run("loadAction"));
        QCOMPARE(f->prompts.messages, messages);
        QTRY_COMPARE(f->sim.received().contains("0001Q"), !file.isEmpty());
        QCOMPARE(f->session()->isConnected(), file.isEmpty());
        QCOMPARE(f->sim.connectionCount(), 1);
        QVERIFY(!host().isBusy()); // not left with a dead Refresh button
        if (file.isEmpty())
            QCOMPARE(settings(), before);
    }

    void saveAndSaveAs()
    {
        f->prompts.saveAnswer.clear();
        const QStringList filesBefore = QDir(m_dir.path()).entryList(QDir::Files);
        QVERIFY(f->run("saveAction"));
        QCOMPARE(f->prompts.saveSetups.size(), 1);
        QVERIFY(settings().ConfigPath.isEmpty());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), filesBefore);

        const QString title = window().windowTitle();
        f->prompts.saveAnswer = m_dir.filePath(u"saved.hcf"_s);
        changeSettings([](ConnectionSettings& s) {
            s.HostAddress = "east";
            s.RefreshInterval = 25000;
        });
        QVERIFY(f->run("saveAction"));
        QCOMPARE(f->prompts.saveSetups.size(), 2);
        QCOMPARE(f->prompts.saveSetups.last().title, u"Open Configuration File"_s);
        QCOMPARE(settings().ConfigPath, f->prompts.saveAnswer);
        QCOMPARE(window().windowTitle(), title); // Save As leaves the caption
        ConnectionSettings back;
        QVERIFY(loadConfig(f->prompts.saveAnswer, back).ok());
        QCOMPARE(back.HostAddress, QByteArray("east"));
        QCOMPARE(back.RefreshInterval, 25000);

        // With a path, Save writes without asking.
        changeSettings([](ConnectionSettings& s) { s.HostAddress = "west"; });
        QVERIFY(f->run("saveAction"));
        QCOMPARE(f->prompts.saveSetups.size(), 2);
        QVERIFY(loadConfig(f->prompts.saveAnswer, back).ok());
        QCOMPARE(back.HostAddress, QByteArray("west"));

        // A Save As that fails is said, and the name is kept for the next Save.
        f->prompts.saveAnswer = m_dir.filePath(u"no/such/folder/x.hcf"_s);
        QVERIFY(f->run("saveAsAction"));
        QCOMPARE(f->prompts.messages.size(), 1);
        QVERIFY2(f->prompts.messages.first().startsWith(u"IOResult: "_s),
                 qPrintable(f->prompts.messages.first()));
        QCOMPARE(settings().ConfigPath, f->prompts.saveAnswer);
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
