#include "console/WidgetPrompts.h"

#include "console/dialogs/ScreenFit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <memory>

namespace {

const QString ApplicationTitle = QStringLiteral("Orvanite Server Console");

// Message texts use "\r" as their line break.
QString messageText(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString caption(const QString& title, const QString& subject)
{
    return subject.isEmpty() ? title : title + QStringLiteral(" - ") + subject;
}

// A message box sizes itself to its text; its title, the one place that
// names the host, is not cut short either.
void widenForTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    const QMargins margins = grid->contentsMargins();
    const int inside = WidgetPrompts::titleWidth(box) - margins.left() - margins.right();
    grid->addItem(new QSpacerItem(inside, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

QWidget* parentFor(QWidget* parent)
{
    if (parent && parent->isVisible())
        return parent;
    return QApplication::activeWindow();
}

QString runFileDialog(QFileDialog* dialog, const FileDialogSetup& setup)
{
    dialog->setWindowTitle(setup.title);
    dialog->setNameFilters(setup.filters);
    dialog->setDefaultSuffix(setup.defaultSuffix);
    if (!setup.folder.isEmpty())
        dialog->setDirectory(setup.folder);
    dialog->selectFile(setup.fileName);
    const int result = dialog->exec();
    // A name typed and taken with Enter can leave the name box's completion
    // list open over the window once the dialog has gone, where it would
    // take the next key; the dialog is kept for its next use, so nothing
    // closes it but this.
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
        if (QAbstractItemView* list = completer->popup(); list && list->isVisible())
            list->hide();
    if (result != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

int WidgetPrompts::titleWidth(const QWidget& window)
{
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    // The window's icon and three buttons, each about a title bar high.
    const int beside = 4 * (metrics.height() + 12);
    int most = 100000;
    if (const QScreen* screen = window.screen())
        most = screen->availableGeometry().width() - 8;
    return std::min(metrics.horizontalAdvance(window.windowTitle()) + beside, most);
}

void WidgetPrompts::setUpFileDialog(QFileDialog& dialog, bool save)
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

QFileDialog* WidgetPrompts::fileDialog(bool save)
{
    QPointer<QFileDialog>& dialog = save ? m_save : m_open;
    // Owned by the window it first showed over; made again if that closed.
    if (!dialog) {
        dialog = new QFileDialog(parentFor(m_parent));
        dialog->setObjectName(save ? QStringLiteral("saveDialog") : QStringLiteral("openDialog"));
        setUpFileDialog(*dialog, save);
        keepOnScreen(dialog);
    }
    return dialog;
}

void WidgetPrompts::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption(ApplicationTitle, m_subject), messageText(text),
                    QMessageBox::Ok, parentFor(m_parent));
    widenForTitle(box);
    box.exec();
}

bool WidgetPrompts::confirm(const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption(QStringLiteral("Confirm"), m_subject),
                    messageText(text), QMessageBox::NoButton, parentFor(m_parent));
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    widenForTitle(box);
    box.exec();
    return box.clickedButton() == yes;
}

int WidgetPrompts::runDialog(QDialog& dialog)
{
    return dialog.exec();
}

QString WidgetPrompts::chooseOpenFile(const FileDialogSetup& setup)
{
    return runFileDialog(fileDialog(false), setup);
}

QString WidgetPrompts::chooseSaveFile(const FileDialogSetup& setup)
{
    return runFileDialog(fileDialog(true), setup);
}
