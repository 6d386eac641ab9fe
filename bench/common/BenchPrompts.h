#pragma once

#include "console/EventLog.h"
#include "console/Prompts.h"

#include <QString>

#include <cstdint>
#include <cstdio>

// Nothing modal may stop a benchmark: messages are printed, confirmations and
// dialogs answered "no", file choices cancelled.
class PrintingPrompts : public Prompts
{
public:
    void showMessage(const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool confirm(const QString&) override { return false; }
    int runDialog(QDialog&) override { return 0; }
    QString chooseOpenFile(const FileDialogSetup&) override { return {}; }
    QString chooseSaveFile(const FileDialogSetup&) override { return {}; }
};

// The system log of a benchmark: entries are dropped.
class NoEventLog : public EventLog
{
public:
    void report(const QString&, std::uint16_t, std::uint16_t, std::uint32_t) override {}
};
