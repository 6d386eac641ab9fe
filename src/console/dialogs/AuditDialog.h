#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

// The audit trail as a table, newest command first: one row per command with
// the effect seen after it, narrowed by a filter box that matches any column.
// Created once and read again each time it is opened.
class AuditDialog : public QDialog
{
    Q_OBJECT

public:
    enum Column
    {
        Time,
        User,
        Program,
        Host,
        Command,
        Argument,
        Target,
        Effect,
        ColumnCount
    };

    explicit AuditDialog(QString trailPath, QWidget* parent = nullptr);

    // Reads the trail file again.
    void reload();
    // Rows shown (after the filter).
    int shownRows() const;
    QString cellText(int row, Column column) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_path;
    QStandardItemModel* m_model;
    QSortFilterProxyModel* m_filter;
    QLineEdit* m_filterEdit;
    QTableView* m_table;
    QLabel* m_count;
};
