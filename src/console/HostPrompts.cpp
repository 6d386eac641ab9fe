#include "console/HostPrompts.h"

template <typename Call> auto HostPrompts::about(Call call)
{
    // Boxes of different hosts never nest: the subject is set for the one
    // box and taken away after it.
    m_prompts->setSubject(m_subject ? m_subject() : QString());
    struct Clear
    {
        Prompts* prompts;
        ~Clear() { prompts->setSubject(QString()); }
    } clear{m_prompts};
    return call();
}

void HostPrompts::showMessage(const QString& text)
{
    about([&] {
        m_prompts->showMessage(text);
        return 0;
    });
}

bool HostPrompts::confirm(const QString& text)
{
    return about([&] { return m_prompts->confirm(text); });
}

int HostPrompts::runDialog(QDialog& dialog)
{
    return m_prompts->runDialog(dialog);
}

QString HostPrompts::chooseOpenFile(const FileDialogSetup& setup)
{
    return m_prompts->chooseOpenFile(setup);
}

QString HostPrompts::chooseSaveFile(const FileDialogSetup& setup)
{
    return m_prompts->chooseSaveFile(setup);
}
