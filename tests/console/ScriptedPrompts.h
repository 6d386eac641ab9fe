#pragma once

#include "console/Prompts.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// Answers the window's modal questions from a script and records what was
// asked, so that the commands run offscreen.
class ScriptedPrompts : public Prompts
{
public:
    void showMessage(const QString& text) override
    {
        messages.append(text);
        if (onMessage)
            onMessage(text);
    }
    bool confirm(const QString& text) override
    {
        confirmations.append(text);
        if (onConfirm)
            onConfirm();
        return !confirmAnswers.empty() && takeFirst(confirmAnswers);
    }
    int runDialog(QDialog& dialog) override
    {
        ++dialogRuns;
        if (!dialogs.empty())
            return takeFirst(dialogs)(dialog);
        return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
    }
    QString chooseOpenFile(const FileDialogSetup& setup) override
    {
        openSetups.append(setup);
        return openAnswer;
    }
    QString chooseSaveFile(const FileDialogSetup& setup) override
    {
        saveSetups.append(setup);
        return saveAnswer;
    }
    void setSubject(const QString& subject) override
    {
        if (!subject.isEmpty())
            subjects.append(subject);
    }

    QStringList subjects; // the hosts boxes were about, in order

    QStringList messages;
    std::function<void(const QString&)> onMessage; // runs while the message is "open"

    QStringList confirmations;
    std::deque<bool> confirmAnswers; // No when empty
    std::function<void()> onConfirm; // runs while the confirmation is "open"

    // Each run of a dialog takes the next answer, which plays the operator's
    // part and returns the dialog's result; when none is left, onDialog
    // answers, and without it the dialog is rejected.
    std::deque<std::function<int(QDialog&)>> dialogs;
    std::function<int(QDialog&)> onDialog;
    int dialogRuns = 0;

    QList<FileDialogSetup> openSetups;
    QList<FileDialogSetup> saveSetups;
    QString openAnswer; // empty: the operator cancels
    QString saveAnswer;

private:
    template <typename T> static T takeFirst(std::deque<T>& queue)
    {
        T first = std::move(queue.front());
        queue.pop_front();
        return first;
    }
};
