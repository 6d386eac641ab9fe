#pragma once

#include "console/Prompts.h"

class QFileDialog;
class QWidget;

// The real dialogs: message boxes, confirmations and file dialogs. "\r" in a
// text is a line break.
class WidgetPrompts : public Prompts
{
public:
    explicit WidgetPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void showMessage(const QString& text) override;
    bool confirm(const QString& text) override;
    int runDialog(QDialog& dialog) override;
    QString chooseOpenFile(const FileDialogSetup& setup) override;
    QString chooseSaveFile(const FileDialogSetup& setup) override;
    void setSubject(const QString& subject) override { m_subject = subject; }

    // The window's own file dialogs; without them each choice uses a dialog
    // of its own with the same options.
    void useFileDialogs(QFileDialog* open, QFileDialog* save);
    // The options of the open (save = false) and the save dialog.
    static void setUpFileDialog(QFileDialog& dialog, bool save);

private:
    QWidget* m_parent;
    QFileDialog* m_open = nullptr;
    QFileDialog* m_save = nullptr;
    QString m_subject;
};
