#pragma once

#include "EventLog.h"
#include "FormMain.h"
#include "HostSim.h"
#include "Prompts.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>

// Answers the main window's modal questions from a script and records what
// was asked.
class ScriptedPrompts : public IPrompts
{
public:
    void ShowMessage(const QString& text) override;
    bool Confirm(const QString& text) override;
    int RunDialog(QDialog& dialog) override;
    QString ChooseOpenFile(const FileDialogSetup& setup) override;
    QString ChooseSaveFile(const FileDialogSetup& setup) override;

    QStringList Messages;
    QStringList Confirmations;
    std::deque<bool> ConfirmAnswers;                  // false when empty
    std::deque<std::function<int(QDialog&)>> Dialogs; // Rejected when empty
    std::function<void(const QString&)> OnMessage;    // runs while the message is "open"
};

// Keeps every event-log entry.
class RecordingEventLog : public IEventLog
{
public:
    struct Entry
    {
        QString Text;
        std::uint16_t Type;
        std::uint16_t Category;
        std::uint32_t Id;
    };
    void Report(const QString& text, std::uint16_t type, std::uint16_t category,
                std::uint32_t id) override
    {
        Entries.append({text, type, category, id});
    }
    QList<Entry> Entries;
};

// A main window connected to an in-process simulator.
struct ConsoleFixture
{
    ConsoleFixture();
    ~ConsoleFixture();

    // Three listeners (products 8, 16 and an unknown "07") and four processes,
    // one without a main PIN, with CPU times that exercise the display.
    void UseStandardHost();
    // Creates the window on the simulator's port; show and wait for the tables.
    void Create();
    bool ShowAndConnect();

    // The frame texts received by the simulator since mark.
    QByteArray ReceivedSince(qsizetype mark) const { return Sim.received().mid(mark); }
    qsizetype Mark() const { return Sim.received().size(); }

    HostSim Sim;
    ScriptedPrompts Prompts;
    RecordingEventLog Log;
    std::unique_ptr<TMainAppForm> Form;
};

// A framed message as it appears on the wire.
QByteArray Framed(const QByteArray& body);

// Listeners and processes for the simulator.
SimListener Listener(const char* pin, const char* port, const char* program, const char* product,
                     const char* limit = "0");
SimProcess Process(const char* listenerPin, const char* mainPin, const char* pin,
                   const char* program, const char* user, qint64 cpuMs, int priority = 0);
// A string list from Latin-1 literals.
QStringList L(std::initializer_list<const char*> items);
// The column texts of one grid row.
QStringList RowTexts(const class StringGrid* grid, int row);
