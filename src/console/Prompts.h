#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QFileDialog;
class QWidget;

// How a file dialog is set up each time a command uses it.
struct FileDialogSetup
{
    QString Title;        // "Open Configuration File"
    QString Folder;       // starting folder
    QString FileName;     // preset file name
    QStringList Filters;  // e.g. "HCF Cfg Files(*.hcf)", "All Files(*.*)"
    QString DefaultSuffix; // "HCF"
};

// Everything modal that a handler shows goes through this interface, so that
// the same handlers run in the program with real Qt dialogs and in tests with
// scripted answers.
class IPrompts
{
public:
    virtual ~IPrompts() = default;
    // A plain message box: the text and OK, captioned with the application title.
    virtual void ShowMessage(const QString& text) = 0;
    // "Confirm" with the question icon and "&Yes" / "&No"; true only for Yes.
    virtual bool Confirm(const QString& text) = 0;
    // Runs a dialog modally; its result (QDialog::Accepted or Rejected).
    virtual int RunDialog(QDialog& dialog) = 0;
    // A file to open or to save as; empty when the operator cancelled.
    virtual QString ChooseOpenFile(const FileDialogSetup& setup) = 0;
    virtual QString ChooseSaveFile(const FileDialogSetup& setup) = 0;
};

// The real dialogs. "\r" in a text is a line break.
class QtPrompts : public IPrompts
{
public:
    explicit QtPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void ShowMessage(const QString& text) override;
    bool Confirm(const QString& text) override;
    int RunDialog(QDialog& dialog) override;
    QString ChooseOpenFile(const FileDialogSetup& setup) override;
    QString ChooseSaveFile(const FileDialogSetup& setup) override;

    // The window's own file dialogs (dlgOpen, dlgSave); without them each
    // choice uses a dialog of its own with the same options.
    void UseFileDialogs(QFileDialog* open, QFileDialog* save);
    // The options of the open (save = false) and the save dialog.
    static void SetUpFileDialog(QFileDialog& dialog, bool save);

private:
    QWidget* m_parent;
    QFileDialog* m_open = nullptr;
    QFileDialog* m_save = nullptr;
};
