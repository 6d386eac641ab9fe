#pragma once

#include "EventLog.h"
#include "Prompts.h"

#include <QString>

#include <cstdint>
#include <cstdio>

// Nothing modal may stop a benchmark: messages are printed, confirmations and
// dialogs answered "no", file choices cancelled.
class PrintingPrompts : public IPrompts
{
public:
    void ShowMessage(const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool Confirm(const QString&) override { return false; }
    int RunDialog(QDialog&) override { return 0; }
    QString ChooseOpenFile(const FileDialogSetup&) override { return {}; }
    QString ChooseSaveFile(const FileDialogSetup&) override { return {}; }
};

// The system log of a benchmark: entries are dropped.
class NoEventLog : public IEventLog
{
public:
    void Report(const QString&, std::uint16_t, std::uint16_t, std::uint32_t) override {}
};
