#pragma once

#include "Prompts.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Answers the console's modal questions from a script and records what was
// asked, so that the file commands and the Configure dialog run offscreen.
class ScriptedPrompts : public IPrompts
{
public:
    QStringList Messages;
    QList<FileDialogSetup> OpenSetups;
    QList<FileDialogSetup> SaveSetups;
    QString OpenAnswer; // empty: the operator cancels
    QString SaveAnswer;
    int DialogRuns = 0;
    // Plays the operator's part while the dialog is open; its result is the
    // dialog's (Accepted or Rejected). Unset: the dialog is rejected.
    std::function<int(QDialog&)> OnDialog;

    void ShowMessage(const QString& text) override { Messages.append(text); }
    bool Confirm(const QString&) override { return true; }
    int RunDialog(QDialog& dialog) override
    {
        ++DialogRuns;
        return OnDialog ? OnDialog(dialog) : int(QDialog::Rejected);
    }
    QString ChooseOpenFile(const FileDialogSetup& setup) override
    {
        OpenSetups.append(setup);
        return OpenAnswer;
    }
    QString ChooseSaveFile(const FileDialogSetup& setup) override
    {
        SaveSetups.append(setup);
        return SaveAnswer;
    }
};
