#pragma once

#include "HostSim.h"
#include "RecordingEventLog.h"
#include "ScriptedPrompts.h"

#include "config/ConnectionSettings.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/MainWindow.h"
#include "console/RecordTableView.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QAction>
#include <QByteArray>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <memory>

// A console window of one host on an in-process simulator, and what the tests do with it:
// trigger its actions by name, choose rows as the operator does, wait for
// the session to finish, read the tables.
struct ConsoleFixture
{
    // The window, declared last, goes first.
    ConsoleFixture() { sim.listen(); }

    // Three listeners (products 8, 16 and an unknown "07") and four processes,
    // one without a main PIN, with CPU times that exercise the display.
    void useStandardHost();
    // Creates the window with the simulator as its host (not shown).
    void create(const QStringList& arguments = {});
    // The host's page and controller (the window's first host).
    HostPage* page() const { return window->host(0); }
    HostController* host() const { return m_host; }
    // The host has closed (its page may be gone already).
    bool closing() const { return !m_host || m_host->isClosing(); }
    // Shows it and waits until the first refresh is done.
    bool showAndConnect();

    // Triggers the named action and waits until the session is idle again.
    bool run(const char* actionName);
    QAction* action(const char* name) const { return find<QAction>(name); }
    // Waits until the session has no work.
    bool waitIdle(int milliseconds = 15000) const
    {
        return QTest::qWaitFor([this] { return !session()->isBusy(); }, milliseconds);
    }
    // A click on a row (from 0), as the operator does.
    void clickRow(RecordTableView* view, int row) const;
    void chooseListener(int row) const { clickRow(listenerTable(), row); }
    void chooseProcess(int row) const { clickRow(processTable(), row); }

    HostSession* session() const { return m_host->session(); }
    ListenerTableModel* listeners() const { return session()->listeners(); }
    ProcessTableModel* processes() const { return session()->processes(); }
    RecordTableView* listenerTable() const { return find<RecordTableView>("listenerTable"); }
    RecordTableView* processTable() const { return find<RecordTableView>("processTable"); }
    // The selected row of a table, -1 when none.
    int listenerRow() const { return listenerTable()->selectedRow(); }
    int processRow() const { return processTable()->selectedRow(); }
    template <typename T> T* find(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    // The status line as written, not cut to its width.
    QString status() const;

    // The frame texts received by the simulator since mark.
    QByteArray receivedSince(qsizetype mark) const { return sim.received().mid(mark); }
    qsizetype mark() const { return sim.received().size(); }

    // The window's remembered state, apart for each test.
    QString settingsFile() const { return settingsDir.filePath(QStringLiteral("console.ini")); }

    QTemporaryDir settingsDir;
    QString programPath = QStringLiteral("/opt/orvanite/orvanite-console");
    HostSim sim;
    ScriptedPrompts prompts;
    RecordingEventLog log;
    std::unique_ptr<MainWindow> window;
    QPointer<HostController> m_host;
};

// What a window is started with: the program in /opt/orvanite, its state in settingsFile.
MainWindow::Environment windowEnvironment(Prompts* prompts, EventLog* log,
                                          const QString& settingsFile,
                                          const QStringList& arguments = {});
// Settings that point at the simulator on port.
ConnectionSettings simSettings(quint16 port);

// A framed message as it appears on the wire.
QByteArray framed(const QByteArray& body);
// Listeners, then the processes of listener pin.
QByteArray fullRefresh(const char* pin = "123");

// Listeners and processes for the simulator.
SimListener listener(const char* pin, const char* port, const char* program, const char* product,
                     const char* limit = "0");
SimProcess process(const char* listenerPin, const char* mainPin, const char* pin,
                   const char* program, const char* user, qint64 cpuMs, int priority = 0);
// A string list from Latin-1 literals.
QStringList texts(std::initializer_list<const char*> items);
// The column titles of a table, and the texts of one row (from 0).
QStringList headerTexts(const RecordTableView* view);
QStringList rowTexts(const RecordTableView* view, int row);
// The texts of one column, row by row; the column titles, then every row's texts.
QStringList columnTexts(const RecordTableView* view, int column);
QList<QStringList> tableTexts(const RecordTableView* view);
