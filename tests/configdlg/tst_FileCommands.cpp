// The main window's file commands and the Configure command, offscreen, with
// the modal parts answered by a script and the host played by an in-process
// simulator.

#include "ScriptedPrompts.h"

#include "AppErrors.h"
#include "ConfigFile.h"
#include "Configur.h"
#include "EventLog.h"
#include "FormMain.h"
#include "HostSim.h"
#include "HostSocket.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

class NullLog : public IEventLog
{
public:
    void Report(const QString&, std::uint16_t, std::uint16_t, std::uint32_t) override {}
};

// Counts close requests that reach the window.
class CloseCounter : public QObject
{
public:
    int Closes = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Close)
            ++Closes;
        return false;
    }
};

struct BoxValues
{
    QString Host, Port, User, UP, Group, GP, Account, AP, Interval;
};

BoxValues Boxes(const TConfigureDlg& d)
{
    return {d.HostAddress->text(), d.Port->text(),  d.User->text(),
            d.UP->text(),          d.Group->text(), d.GP->text(),
            d.Account->text(),     d.AP->text(),    d.edInterval->text()};
}

void SetBoxes(TConfigureDlg& d, const BoxValues& v)
{
    d.HostAddress->setText(v.Host);
    d.Port->setText(v.Port);
    d.User->setText(v.User);
    d.UP->setText(v.UP);
    d.Group->setText(v.Group);
    d.GP->setText(v.GP);
    d.Account->setText(v.Account);
    d.AP->setText(v.AP);
    d.edInterval->setText(v.Interval);
}

QString Message(const std::function<void()>& job)
{
    try {
        job();
    } catch (const EAppError& e) {
        return e.message();
    }
    return {};
}

} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedPrompts m_prompts;
    NullLog m_log;
    std::unique_ptr<HostSim> m_sim;
    std::unique_ptr<TMainAppForm> m_form;
    TConfigureDlg* m_dlg = nullptr;
    CloseCounter m_closes;

    QString WriteConfig(const QString& name, const ConnectionSettings& s)
    {
        return WriteRaw(name, ConfigLine(s, '7'));
    }
    QString WriteRaw(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    ConnectionSettings SimSettings() const
    {
        ConnectionSettings s;
        s.HostAddress = "127.0.0.1";
        s.Port = m_sim->serverPort();
        return s;
    }
    void Connect()
    {
        m_form->Settings.HostAddress = "127.0.0.1";
        m_form->Settings.Port = m_sim->serverPort();
        m_form->ConnectAndLogon();
        QCOMPARE(m_form->Socket().State(), hsConnected);
        QCOMPARE(m_sim->connectionCount(), 1);
    }

private Q_SLOTS:
    void init()
    {
        m_prompts = ScriptedPrompts{};
        m_sim = std::make_unique<HostSim>();
        QVERIFY(m_sim->listen());
        MainFormDeps deps;
        deps.Prompts = &m_prompts;
        deps.EventLog = &m_log;
        deps.ProgramPath = m_dir.filePath(u"bin/orvanite-console"_s);
        m_form = std::make_unique<TMainAppForm>(deps);
        m_dlg = new TConfigureDlg(m_form.get());
        m_form->ConfigureDlg = m_dlg;
        m_closes.Closes = 0;
        m_form->installEventFilter(&m_closes);
    }

    void cleanup()
    {
        m_form.reset();
        m_sim.reset();
    }

    // The boxes show the settings; OK takes every box back.
    void roundTrip()
    {
        ConnectionSettings& s = m_form->Settings;
        s.HostAddress = "east";
        s.Port = 4001;
        s.User = "U";
        s.UserPassword = "UPW";
        s.Group = "G";
        s.GroupPassword = "GPW";
        s.Account = "A";
        s.AccountPassword = "APW";
        s.LogonExtra = "EXTRA";
        s.RefreshInterval = 17000;
        BoxValues shown;
        m_prompts.OnDialog = [&](QDialog& d) {
            shown = Boxes(static_cast<TConfigureDlg&>(d));
            SetBoxes(*m_dlg, {u"west"_s, u"0"_s, u"U2"_s, u"UP2"_s, u"G2"_s, u"GP2"_s, u"A2"_s,
                              u"AP2"_s, u"33"_s});
            return int(QDialog::Accepted);
        };
        m_form->EditSettings();
        QCOMPARE(shown.Host, u"east"_s);
        QCOMPARE(shown.Port, u"4001"_s);
        QCOMPARE(shown.User, u"U"_s);
        QCOMPARE(shown.UP, u"UPW"_s);
        QCOMPARE(shown.Group, u"G"_s);
        QCOMPARE(shown.GP, u"GPW"_s);
        QCOMPARE(shown.Account, u"A"_s);
        QCOMPARE(shown.AP, u"APW"_s);
        QCOMPARE(shown.Interval, u"17"_s);

        QCOMPARE(s.HostAddress, QByteArray("west"));
        QCOMPARE(s.Port, quint16(0)); // port 0 is accepted
        QCOMPARE(s.User, QByteArray("U2"));
        QCOMPARE(s.UserPassword, QByteArray("UP2"));
        QCOMPARE(s.Group, QByteArray("G2"));
        QCOMPARE(s.GroupPassword, QByteArray("GP2"));
        QCOMPARE(s.Account, QByteArray("A2"));
        QCOMPARE(s.AccountPassword, QByteArray("AP2"));
        QCOMPARE(s.LogonExtra, QByteArray("EXTRA")); // no box edits it
        QCOMPARE(s.RefreshInterval, 33000);
        QCOMPARE(m_closes.Closes, 0);
    }

    void valuesTakenBeforeAnError_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("hostTaken");
        QTest::addColumn<int>("refreshInterval");
        QTest::newRow("port too big")
            << u"70000"_s << u"30"_s << u"Range check error"_s << false << 9000;
        QTest::newRow("port negative")
            << u"-1"_s << u"30"_s << u"Range check error"_s << false << 9000;
        QTest::newRow("port not a number")
            << u"30 000"_s << u"30"_s << u"'30 000' is not a valid integer value"_s << false
            << 9000;
        QTest::newRow("port empty")
            << QString() << u"30"_s << u"'' is not a valid integer value"_s << false << 9000;
        QTest::newRow("interval not a number")
            << u"30001"_s << u"ten"_s << u"'ten' is not a valid integer value"_s << true << 9000;
        QTest::newRow("interval 3 becomes 5") << u"30001"_s << u"3"_s << QString() << true << 5000;
        QTest::newRow("interval 75 becomes 60")
            << u"30001"_s << u"75"_s << QString() << true << 60000;
    }

    void valuesTakenBeforeAnError()
    {
        QFETCH(QString, port);
        QFETCH(QString, interval);
        QFETCH(QString, message);
        QFETCH(bool, hostTaken);
        QFETCH(int, refreshInterval);
        m_form->Settings.HostAddress = "old";
        m_form->Settings.RefreshInterval = 9000;
        m_prompts.OnDialog = [&](QDialog&) {
            SetBoxes(*m_dlg,
                     {u"new"_s, port, u"U"_s, u"UP"_s, u"G"_s, u"GP"_s, u"A"_s, u"AP"_s, interval});
            return int(QDialog::Accepted);
        };
        QCOMPARE(Message([&] { m_form->EditSettings(); }), message);
        const ConnectionSettings& s = m_form->Settings;
        QCOMPARE(s.User, QByteArray("U"));
        QCOMPARE(s.UserPassword, QByteArray("UP"));
        QCOMPARE(s.Group, QByteArray("G"));
        QCOMPARE(s.GroupPassword, QByteArray("GP"));
        QCOMPARE(s.Account, QByteArray("A"));
        QCOMPARE(s.AccountPassword, QByteArray("AP"));
        QCOMPARE(s.HostAddress, hostTaken ? QByteArray("new") : QByteArray("old"));
        QCOMPARE(s.RefreshInterval, refreshInterval);
    }

    void clampedIntervalShownNextTime()
    {
        m_prompts.OnDialog = [&](QDialog&) {
            m_dlg->edInterval->setText(u"3"_s);
            return int(QDialog::Accepted);
        };
        m_form->EditSettings();
        QString shown;
        m_prompts.OnDialog = [&](QDialog&) {
            shown = m_dlg->edInterval->text();
            return int(QDialog::Accepted);
        };
        m_form->EditSettings();
        QCOMPARE(shown, u"5"_s);
    }

    // Cancel closes the window; the Configure command then makes no new connection.
    void cancelEndsTheProgram()
    {
        Connect();
        m_prompts.OnDialog = [](QDialog&) { return int(QDialog::Rejected); };
        m_form->Settings.User = "KEPT";
        m_form->menuConfigureClick();
        QCOMPARE(m_closes.Closes, 1);
        QVERIFY(m_form->IsClosing());
        QCOMPARE(m_form->Settings.User, QByteArray("KEPT"));
        QCOMPARE(m_sim->connectionCount(), 1);
        QCOMPARE(m_form->Socket().State(), hsClosed);
        QVERIFY(!m_sim->received().contains("0001Q")); // Configure drops without Quit
    }

    // Configure while connected: dropped without Quit, logged on again.
    void configureReconnects()
    {
        Connect();
        m_prompts.OnDialog = [&](QDialog&) {
            m_dlg->edInterval->setText(u"20"_s);
            return int(QDialog::Accepted);
        };
        m_form->menuConfigureClick();
        QCOMPARE(m_form->Socket().State(), hsConnected);
        QTRY_COMPARE(m_sim->connectionCount(), 2);
        QVERIFY(!m_sim->received().contains("0001Q"));
        QCOMPARE(m_form->Settings.RefreshInterval, 20000);
        QCOMPARE(m_form->Timer1->interval(), 20000);
    }

    void configurePortErrorDoesNotReconnect()
    {
        Connect();
        m_prompts.OnDialog = [&](QDialog&) {
            m_dlg->Port->setText(u"99999"_s);
            return int(QDialog::Accepted);
        };
        QCOMPARE(Message([&] { m_form->menuConfigureClick(); }), u"Range check error"_s);
        QCOMPARE(m_form->Socket().State(), hsClosed);
        QCOMPARE(m_sim->connectionCount(), 1);
    }

    // The dialog's Load button: the boxes show the file's settings and the
    // dialog ends with OK; the connection is left alone.
    void loadButtonRefillsTheBoxes()
    {
        Connect();
        ConnectionSettings file;
        file.HostAddress = "10.1.2.3";
        file.Port = 4000;
        file.User = "OPERATOR";
        file.UserPassword = "PW";
        file.Account = "ACCTNAMELONG"; // longer than typing allows: shown in full
        file.LogonExtra = "X7";
        file.RefreshInterval = 30000;
        m_form->Settings.ConfigPath = m_dir.filePath(u"old.hcf"_s);
        m_prompts.OpenAnswer = WriteConfig(u"east.hcf"_s, file);
        BoxValues during;
        m_prompts.OnDialog = [&](QDialog& d) {
            m_dlg->LoadBtn->click();
            during = Boxes(*m_dlg);
            return d.result();
        };
        m_form->EditSettings();
        QCOMPARE(during.Host, u"10.1.2.3"_s);
        QCOMPARE(during.Port, u"4000"_s);
        QCOMPARE(during.User, u"OPERATOR"_s);
        QCOMPARE(during.UP, u"PW"_s);
        QCOMPARE(during.Account, u"ACCTNAMELONG"_s);
        QCOMPARE(during.Interval, u"30"_s);

        const ConnectionSettings& s = m_form->Settings;
        QCOMPARE(s.HostAddress, QByteArray("10.1.2.3"));
        QCOMPARE(s.Account, QByteArray("ACCTNAMELONG"));
        QCOMPARE(s.LogonExtra, QByteArray("X7"));
        QCOMPARE(s.ConfigPath, m_prompts.OpenAnswer);
        QCOMPARE(m_form->windowTitle(), u"Orvanite Server Console - "_s + m_prompts.OpenAnswer);
        QCOMPARE(m_form->Socket().State(), hsConnected); // untouched
        QVERIFY(!m_form->IsBusy());

        // Both file dialogs are set up alike.
        QCOMPARE(m_prompts.OpenSetups.size(), 1);
        const FileDialogSetup& setup = m_prompts.OpenSetups.first();
        QCOMPARE(setup.Title, u"Open Configuration File"_s);
        QCOMPARE(setup.Filters, (QStringList{u"HCF Cfg Files(*.hcf)"_s, u"All Files(*.*)"_s}));
        QCOMPARE(setup.DefaultSuffix, u"HCF"_s);
        QCOMPARE(setup.Folder, m_dir.filePath(u"bin/"_s));
        QCOMPARE(setup.FileName, m_dir.filePath(u"old.hcf"_s));
    }

    void loadButtonWithChoiceCancelledStillEndsWithOk()
    {
        m_prompts.OpenAnswer.clear();
        m_prompts.OnDialog = [&](QDialog& d) {
            m_dlg->User->setText(u"TYPED"_s);
            m_dlg->LoadBtn->click();
            return d.result();
        };
        m_form->EditSettings();
        QCOMPARE(m_form->Settings.User, QByteArray("TYPED"));
        QCOMPARE(m_closes.Closes, 0);
        QVERIFY(m_form->Settings.ConfigPath.isEmpty());
    }

    // A file whose interval cannot be read: the error is shown, the boxes
    // keep what they showed, the dialog stays open, the busy state is gone.
    void loadButtonErrorKeepsTheDialogOpen()
    {
        ConnectionSettings file;
        file.HostAddress = "fromfile";
        QByteArray line = ConfigLine(file, '7');
        line.replace(",5\r\n", ",x\r\n");
        m_prompts.OpenAnswer = WriteRaw(u"bad.hcf"_s, line);
        m_form->Settings.HostAddress = "before";
        int resultAfterLoad = -1;
        bool busyAfterLoad = true;
        m_prompts.OnDialog = [&](QDialog& d) {
            d.setResult(QDialog::Rejected);
            m_dlg->LoadBtn->click();
            resultAfterLoad = d.result();
            busyAfterLoad = m_form->IsBusy();
            m_dlg->OKBtn->click();
            return d.result();
        };
        m_form->EditSettings();
        QCOMPARE(resultAfterLoad, int(QDialog::Rejected));
        QVERIFY(!busyAfterLoad);
        QCOMPARE(m_prompts.Messages, QStringList{u"'x' is not a valid integer value"_s});
        // The boxes were not refilled: OK took back what they showed.
        QCOMPARE(m_form->Settings.HostAddress, QByteArray("before"));
    }

    // Load: Quit to the old connection, then a new one with the file's settings.
    void loadCommandReconnects()
    {
        Connect();
        ConnectionSettings file = SimSettings();
        file.RefreshInterval = 42000;
        m_prompts.OpenAnswer = WriteConfig(u"sim.hcf"_s, file);
        m_form->menuConfigLoadClick();
        QVERIFY(m_sim->received().contains("0001Q"));
        QTRY_COMPARE(m_sim->connectionCount(), 2);
        QCOMPARE(m_form->Socket().State(), hsConnected);
        QCOMPARE(m_form->Settings.RefreshInterval, 42000);
        QCOMPARE(m_form->Settings.ConfigPath, m_prompts.OpenAnswer);
        QCOMPARE(m_form->windowTitle(), u"Orvanite Server Console - "_s + m_prompts.OpenAnswer);
        QCOMPARE(m_form->Timer1->interval(), 42000);
        QVERIFY(!m_form->IsBusy());
    }

    void loadCommandCancelledChangesNothing()
    {
        Connect();
        m_prompts.OpenAnswer.clear();
        const ConnectionSettings before = m_form->Settings;
        m_form->menuConfigLoadClick();
        QCOMPARE(m_form->Settings, before);
        QCOMPARE(m_form->Socket().State(), hsConnected);
        QVERIFY(!m_sim->received().contains("0001Q"));
        QVERIFY(!m_form->IsBusy());
    }

    void loadCommandErrorMakesNoConnection()
    {
        Connect();
        m_prompts.OpenAnswer = WriteRaw(u"bad.hcf"_s, "\"127.0.0.1\",\"port\",\"7\"\r\n");
        QCOMPARE(Message([&] { m_form->menuConfigLoadClick(); }),
                 u"'port' is not a valid integer value"_s);
        QVERIFY(m_sim->received().contains("0001Q"));
        QCOMPARE(m_form->Socket().State(), hsClosed);
        QCOMPARE(m_sim->connectionCount(), 1);
        QVERIFY(!m_form->IsBusy()); // not left with a dead Refresh button
    }

    void saveWithoutPathAsksForOne()
    {
        m_prompts.SaveAnswer.clear();
        const QStringList filesBefore = QDir(m_dir.path()).entryList(QDir::Files);
        m_form->menuConfigSaveClick();
        QCOMPARE(m_prompts.SaveSetups.size(), 1);
        QVERIFY(m_form->Settings.ConfigPath.isEmpty());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), filesBefore);
        QVERIFY(!m_form->IsBusy());

        const QString title = m_form->windowTitle();
        m_prompts.SaveAnswer = m_dir.filePath(u"saved.hcf"_s);
        m_form->Settings.HostAddress = "east";
        m_form->Settings.RefreshInterval = 25000;
        m_form->menuConfigSaveClick();
        QCOMPARE(m_prompts.SaveSetups.size(), 2);
        QCOMPARE(m_prompts.SaveSetups.last().Title, u"Open Configuration File"_s);
        QCOMPARE(m_form->Settings.ConfigPath, m_prompts.SaveAnswer);
        QCOMPARE(m_form->windowTitle(), title); // Save As leaves the caption
        ConnectionSettings back;
        ::LoadConfigFile(m_prompts.SaveAnswer, back);
        QCOMPARE(back.HostAddress, QByteArray("east"));
        QCOMPARE(back.RefreshInterval, 25000);

        // With a path, Save writes without asking.
        m_form->Settings.HostAddress = "west";
        m_form->menuConfigSaveClick();
        QCOMPARE(m_prompts.SaveSetups.size(), 2);
        ::LoadConfigFile(m_prompts.SaveAnswer, back);
        QCOMPARE(back.HostAddress, QByteArray("west"));
    }

    void saveAsFailureIsShownAndKeepsTheName()
    {
        m_prompts.SaveAnswer = m_dir.filePath(u"no/such/folder/x.hcf"_s);
        m_form->menuSaveAsClick();
        QCOMPARE(m_prompts.Messages.size(), 1);
        QVERIFY2(m_prompts.Messages.first().startsWith(u"IOResult: "_s),
                 qPrintable(m_prompts.Messages.first()));
        QCOMPARE(m_form->Settings.ConfigPath, m_prompts.SaveAnswer);
        QVERIFY(!m_form->IsBusy());
    }

    void aboutGetsTenSeconds()
    {
        struct FakeAbout : IAboutBox
        {
            QStringList Calls;
            void SetCountdown(int ms) override { Calls.append(u"countdown %1"_s.arg(ms)); }
            void ShowModal() override { Calls.append(u"show"_s); }
        } about;
        m_form->AboutBox = &about;
        m_form->menuAboutClick();
        m_form->AboutBox = nullptr;
        QCOMPARE(about.Calls, (QStringList{u"countdown 10000"_s, u"show"_s}));
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_FileCommands.moc"
