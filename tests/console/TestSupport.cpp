#include "TestSupport.h"

#include "HostSocket.h"
#include "StringGrid.h"

#include <QDialog>
#include <QTest>

void ScriptedPrompts::ShowMessage(const QString& text)
{
    Messages.append(text);
    if (OnMessage)
        OnMessage(text);
}

bool ScriptedPrompts::Confirm(const QString& text)
{
    Confirmations.append(text);
    if (ConfirmAnswers.empty())
        return false;
    const bool answer = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return answer;
}

int ScriptedPrompts::RunDialog(QDialog& dialog)
{
    if (Dialogs.empty())
        return QDialog::Rejected;
    auto answer = std::move(Dialogs.front());
    Dialogs.pop_front();
    return answer(dialog);
}

QString ScriptedPrompts::ChooseOpenFile(const FileDialogSetup&)
{
    return {};
}

QString ScriptedPrompts::ChooseSaveFile(const FileDialogSetup&)
{
    return {};
}

ConsoleFixture::ConsoleFixture()
{
    Sim.listen();
}

ConsoleFixture::~ConsoleFixture()
{
    Form.reset();
}

void ConsoleFixture::Create()
{
    MainFormDeps deps;
    deps.Prompts = &Prompts;
    deps.EventLog = &Log;
    deps.ProgramPath = QStringLiteral("/opt/orvanite/orvanite-console");
    Form = std::make_unique<TMainAppForm>(deps);
    Form->Settings.HostAddress = "127.0.0.1";
    Form->Settings.Port = Sim.serverPort();
}

bool ConsoleFixture::ShowAndConnect()
{
    if (!Form)
        Create();
    Form->show();
    return QTest::qWaitFor([this] { return !Form->FirstShow && !Form->IsExchanging(); }, 15000);
}

QByteArray Framed(const QByteArray& body)
{
    return QByteArray::number(body.size()).rightJustified(4, '0') + body;
}

SimListener Listener(const char* pin, const char* port, const char* program, const char* product,
                     const char* limit)
{
    return SimListener{pin, port, program, product, limit, {}};
}

SimProcess Process(const char* listenerPin, const char* mainPin, const char* pin,
                   const char* program, const char* user, qint64 cpuMs, int priority)
{
    SimProcess p;
    p.ListenerPin = listenerPin;
    p.MainPin = mainPin;
    p.Pin = pin;
    p.Program = program;
    p.User = user;
    p.CpuMs = cpuMs;
    p.Priority = priority;
    return p;
}

QStringList RowTexts(const StringGrid* grid, int row)
{
    QStringList texts;
    for (int c = 0; c < grid->ColCount(); ++c)
        texts.append(QString::fromLatin1(grid->Cell(c, row)));
    return texts;
}

QStringList L(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromLatin1(item));
    return list;
}

void ConsoleFixture::UseStandardHost()
{
    Sim.Listeners = {Listener("123", "30002", "CNDSRVR", "8"),
                     Listener("124", "30004", "VGDSRVR", "16", "050"),
                     Listener("125", "30009", "ODDSRVR", "07", "00")};
    Sim.Processes = {Process("123", "123", "201", "CNDUSER", "ALICE", 1500),
                     Process("123", "123", "202", "CNDUSER", "BOB", 123456),
                     Process("123", "", "203", "CNDUSER", "CAROL", 0),
                     Process("124", "124", "301", "VGDUSER", "DAVE", 123456789)};
}
