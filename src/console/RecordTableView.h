#pragma once

#include <QByteArray>
#include <QList>
#include <QTableView>

#include <vector>

class RecordItemDelegate;
class RecordSortFilterModel;
class RecordTableModel;

// A view of one of the host's tables as the window shows it: whole rows
// selected, fixed row heights (the view never measures contents, which would
// visit every row of a long list), a header of titles and no row numbers.
//
// Over a record table (setRecordTable) it shows the rows through a sort and
// filter model: a click on a header sorts by that column (a third click
// brings back the host's order), and every row number this class takes or
// gives is the table's own, whatever the order and filter, so commands act
// on the row the operator chose. The chosen row is followed by its PIN when
// a refresh or a filter reorders the rows.
//
// The columns take shares of the view's width (fitColumns) until the
// operator sets a width with the mouse; from then on they keep their widths.
class RecordTableView : public QTableView
{
    Q_OBJECT

public:
    explicit RecordTableView(QWidget* parent = nullptr);

    // Shows table through a sort and filter model; pinColumn names a row.
    void setRecordTable(RecordTableModel* table, int pinColumn);
    RecordTableModel* recordTable() const { return m_table; }
    RecordSortFilterModel* sortFilter() const { return m_proxy; }
    RecordItemDelegate* itemDelegate() const { return m_delegate; }
    // Another delegate of the same kind for every cell (one that draws more).
    void setRecordDelegate(RecordItemDelegate* delegate);

    // The selected row (the table's), the current one when several are
    // selected; -1 when none is.
    int selectedRow() const;
    // The row a command acts on: the row the frame marks, when it is
    // selected (-1 otherwise), scrolled into view first so that the operator
    // sees the row his confirmation is about.
    int targetRow();
    // Selects the table's row (whole), or nothing when row is -1 or not shown.
    void selectRow(int row);
    // The table's rows that are selected, in the order shown.
    std::vector<int> selectedRows() const;
    // The table's rows that are shown, in their order.
    std::vector<int> shownRows() const;
    // The table's row shown at viewRow (-1 when none).
    int tableRowAt(int viewRow) const;

    // Sorts by column (-1: the host's order), with the header's mark.
    void sortBy(int column, Qt::SortOrder order);

    // Each column's share of the width in per cent (the rest stays empty).
    void setColumnShares(const QList<int>& percent) { m_shares = percent; }
    // Applies the shares to the view's width less 24, unless the operator
    // has set a width.
    void fitColumns();
    bool operatorSized() const { return m_operatorSized; }
    QList<int> columnWidths() const;
    // Widths the operator set before (from the settings); empty: none.
    void restoreColumnWidths(const QList<int>& widths);

Q_SIGNALS:
    // The operator chose row (the table's) with the mouse or the keyboard.
    void rowChosen(int row);
    // The operator set a column's width.
    void columnsResized();
    // The operator sorted by another column or order.
    void sortChanged(int column, Qt::SortOrder order);
    // Ctrl+C reached the view itself.
    void copyRequested();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

private:
    void rememberChosen(int row);
    void restoreChosen();

    RecordTableModel* m_table = nullptr;
    RecordSortFilterModel* m_proxy = nullptr;
    RecordItemDelegate* m_delegate = nullptr;
    int m_pinColumn = 0;
    // The PIN of the row the operator or the window chose; kept while a
    // filter hides it, so it is selected again when it shows.
    QByteArray m_chosenPin;
    QList<int> m_shares;
    bool m_operatorSized = false;
    bool m_headerPressed = false;
    bool m_sorting = false;
};
