#pragma once

#include "console/Prompts.h"

#include <QFileDialog>
#include <QPointer>

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

    // The open (save = false) or the save dialog: made at its first use, not
    // at start (a file dialog reads folders and the file types), and then
    // kept, so that it opens where it was left.
    QFileDialog* fileDialog(bool save);
    // The options of the open (save = false) and the save dialog.
    static void setUpFileDialog(QFileDialog& dialog, bool save);
    // The width a window needs for its whole title in the title bar, with
    // the window system's icon and buttons beside it; never wider than the
    // screen.
    static int titleWidth(const QWidget& window);

private:
    QWidget* m_parent;
    QPointer<QFileDialog> m_open;
    QPointer<QFileDialog> m_save;
    QString m_subject;
};
