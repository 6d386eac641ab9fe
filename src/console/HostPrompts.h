#pragma once

#include "console/Prompts.h"

#include <functional>

// One host's way to the window's prompts: every box it shows names the host
// in its caption while more than one host is open, so that the operator
// knows which host a confirmation is about. The subject is asked for at each
// box, as the host's name and the number of hosts change.
class HostPrompts : public Prompts
{
public:
    explicit HostPrompts(Prompts* prompts) : m_prompts(prompts) {}
    // Where the host's name comes from at each box; empty names none.
    void setSubjectSource(std::function<QString()> subject) { m_subject = std::move(subject); }

    void showMessage(const QString& text) override;
    bool confirm(const QString& text) override;
    int runDialog(QDialog& dialog) override;
    QString chooseOpenFile(const FileDialogSetup& setup) override;
    QString chooseSaveFile(const FileDialogSetup& setup) override;

private:
    template <typename Call> auto about(Call call);

    Prompts* m_prompts;
    std::function<QString()> m_subject;
};
