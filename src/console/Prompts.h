#pragma once

#include <QString>
#include <QStringList>

class QDialog;

// How a file dialog is set up each time a command uses it.
struct FileDialogSetup
{
    QString title;         // "Open Configuration File"
    QString folder;        // starting folder
    QString fileName;      // preset file name
    QStringList filters;   // e.g. "HCF Cfg Files(*.hcf)", "All Files(*.*)"
    QString defaultSuffix; // "HCF"
};

// Everything modal that a command shows goes through this interface, so that
// the same slots run in the program with real Qt dialogs and in tests with
// scripted answers.
class Prompts
{
public:
    virtual ~Prompts() = default;
    // A plain message box: the text and OK, captioned with the application title.
    virtual void showMessage(const QString& text) = 0;
    // "Confirm" with the question icon and "&Yes" / "&No"; true only for Yes.
    virtual bool confirm(const QString& text) = 0;
    // Runs a dialog modally; its result (QDialog::Accepted or Rejected).
    virtual int runDialog(QDialog& dialog) = 0;
    // A file to open or to save as; empty when the operator cancelled.
    virtual QString chooseOpenFile(const FileDialogSetup& setup) = 0;
    virtual QString chooseSaveFile(const FileDialogSetup& setup) = 0;
    // The host the next boxes are about, named in their captions after the
    // usual caption ("Confirm - east"); empty: none named.
    virtual void setSubject(const QString& subject) { (void)subject; }
};
