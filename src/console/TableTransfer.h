#pragma once

#include <QObject>

class Prompts;
class QAction;
class QPoint;
class RecordTableView;

// Copy and export for one table: Ctrl+C puts the selected rows on the
// clipboard as tab-separated text under a header line; "Export shown rows"
// writes the rows the view shows, in its order, as CSV or JSON records in
// the shape orvanite-ctl prints. Both are in the table's context menu.
class TableTransfer : public QObject
{
    Q_OBJECT

public:
    TableTransfer(RecordTableView* view, Prompts* prompts, const QString& baseName);

    QAction* copyAction() const { return m_copy; }
    QAction* exportAction() const { return m_export; }

    void copy();
    void exportShown();

private:
    void showMenu(const QPoint& at);

    RecordTableView* m_view;
    Prompts* m_prompts;
    QString m_baseName;
    QAction* m_copy;
    QAction* m_export;
};
