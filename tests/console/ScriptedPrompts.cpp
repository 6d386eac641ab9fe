#include "ScriptedPrompts.h"

#include <QDialog>

void ScriptedPrompts::showMessage(const QString& text)
{
    messages.append(text);
    if (onMessage)
        onMessage(text);
}

bool ScriptedPrompts::confirm(const QString& text)
{
    confirmations.append(text);
    if (confirmAnswers.empty())
        return false;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

int ScriptedPrompts::runDialog(QDialog& dialog)
{
    ++dialogRuns;
    if (!dialogs.empty()) {
        auto answer = std::move(dialogs.front());
        dialogs.pop_front();
        return answer(dialog);
    }
    return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
}

QString ScriptedPrompts::chooseOpenFile(const FileDialogSetup& setup)
{
    openSetups.append(setup);
    return openAnswer;
}

QString ScriptedPrompts::chooseSaveFile(const FileDialogSetup& setup)
{
    saveSetups.append(setup);
    return saveAnswer;
}
