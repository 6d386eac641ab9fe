#include "Prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

namespace {

const QString ApplicationTitle = QStringLiteral("Orvanite Server Console");

// Message texts use "\r" as their line break.
QString MessageText(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QWidget* ParentFor(QWidget* parent)
{
    if (parent && parent->isVisible())
        return parent;
    return QApplication::activeWindow();
}

QString RunFileDialog(QFileDialog* given, QWidget* parent, const FileDialogSetup& setup, bool save)
{
    std::unique_ptr<QFileDialog> own;
    QFileDialog* dialog = given;
    if (!dialog) {
        own = std::make_unique<QFileDialog>(parent);
        dialog = own.get();
        QtPrompts::SetUpFileDialog(*dialog, save);
    }
    dialog->setWindowTitle(setup.Title);
    dialog->setNameFilters(setup.Filters);
    dialog->setDefaultSuffix(setup.DefaultSuffix);
    if (!setup.Folder.isEmpty())
        dialog->setDirectory(setup.Folder);
    dialog->selectFile(setup.FileName);
    if (dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

void QtPrompts::SetUpFileDialog(QFileDialog& dialog, bool save)
{
    // Open: the path and the file must exist. Save: the path must exist and
    // an existing file is only replaced after asking.
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
}

void QtPrompts::UseFileDialogs(QFileDialog* open, QFileDialog* save)
{
    m_open = open;
    m_save = save;
}

void QtPrompts::ShowMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, MessageText(text), QMessageBox::Ok,
                    ParentFor(m_parent));
    box.exec();
}

bool QtPrompts::Confirm(const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), MessageText(text),
                    QMessageBox::NoButton, ParentFor(m_parent));
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

int QtPrompts::RunDialog(QDialog& dialog)
{
    return dialog.exec();
}

QString QtPrompts::ChooseOpenFile(const FileDialogSetup& setup)
{
    return RunFileDialog(m_open, ParentFor(m_parent), setup, false);
}

QString QtPrompts::ChooseSaveFile(const FileDialogSetup& setup)
{
    return RunFileDialog(m_save, ParentFor(m_parent), setup, true);
}
