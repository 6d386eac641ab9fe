#include "console/TableTransfer.h"

#include "console/Prompts.h"
#include "console/RecordTableView.h"
#include "session/RecordTableModel.h"
#include "session/RecordLists.h"
#include "session/RecordWriter.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>

TableTransfer::TableTransfer(RecordTableView* view, Prompts* prompts, const QString& baseName)
    : QObject(view), m_view(view), m_prompts(prompts), m_baseName(baseName),
      m_copy(new QAction(QStringLiteral("&Copy"), this)),
      m_export(new QAction(QStringLiteral("&Export shown rows..."), this))
{
    m_copy->setObjectName(baseName + QStringLiteral("CopyAction"));
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetShortcut);
    view->addAction(m_copy);
    m_export->setObjectName(baseName + QStringLiteral("ExportAction"));
    connect(m_copy, &QAction::triggered, this, &TableTransfer::copy);
    connect(m_export, &QAction::triggered, this, &TableTransfer::exportShown);
    connect(view, &RecordTableView::copyRequested, this, &TableTransfer::copy);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &TableTransfer::showMenu);
}

void TableTransfer::showMenu(const QPoint& at)
{
    QMenu menu(m_view);
    m_copy->setEnabled(!m_view->selectedRows().empty());
    menu.addAction(m_copy);
    menu.addAction(m_export);
    menu.exec(m_view->viewport()->mapToGlobal(at));
    m_copy->setEnabled(true);
}

void TableTransfer::copy()
{
    const RecordTableModel* table = m_view->recordTable();
    const std::vector<int> rows = m_view->selectedRows();
    if (!table || rows.empty())
        return;
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(RecordLists::tableRows(*table, rows, RecordFormat::Tsv)));
}

void TableTransfer::exportShown()
{
    const RecordTableModel* table = m_view->recordTable();
    if (!table)
        return;
    FileDialogSetup setup;
    setup.title = QStringLiteral("Export Shown Rows");
    setup.folder = QDir::homePath();
    setup.fileName = m_baseName + QStringLiteral(".csv");
    setup.filters = {QStringLiteral("CSV Files(*.csv)"), QStringLiteral("JSON Files(*.json)")};
    setup.defaultSuffix = QStringLiteral("csv");
    const QString path = m_prompts->chooseSaveFile(setup);
    if (path.isEmpty())
        return;
    const RecordFormat format = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)
                                    ? RecordFormat::Json
                                    : RecordFormat::Csv;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(RecordLists::tableRows(*table, m_view->shownRows(), format)) < 0 ||
        !file.commit()) {
        m_prompts->showMessage(
            QStringLiteral("Cannot write %1:\r%2").arg(path, file.errorString()));
    }
}
