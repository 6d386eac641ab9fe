#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class RecordSortFilterModel;

// The filter box over one table: the rows shown are those with the text in
// some column, ignoring case, and beside it how many are shown of how many.
// Hidden while there is no filter; open() shows it with the keyboard focus,
// Esc in the box clears and closes it.
class TableFilterBar : public QWidget
{
    Q_OBJECT

public:
    // noun names one row ("process"); counts use it or its plural.
    TableFilterBar(RecordSortFilterModel* rows, const QString& noun, QWidget* parent = nullptr);
    // "1 process", "2 processes", "12,345 listeners".
    static QString countOf(int count, const QString& noun);

    void open();
    QString text() const;
    void setText(const QString& text);
    QLineEdit* edit() const { return m_edit; }
    // "12 of 100,000 processes shown", or "100,000 processes" unfiltered.
    QString countText() const;
    bool isFiltering() const;

Q_SIGNALS:
    // The filter text changed (typed or set).
    void filterChanged(const QString& text);
    // The rows shown or their count changed.
    void countChanged();
    // The box closed (Esc): the focus goes back to the table.
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCount();

    RecordSortFilterModel* m_rows;
    QString m_noun;
    QLineEdit* m_edit;
    QLabel* m_count;
};
