#pragma once

#include <QTableView>

// A view of one of the host's tables as the window shows it: whole rows
// selected one at a time, fixed column widths and row heights (the view
// never measures contents, which would visit every row of a long list), a
// header of titles and no row numbers. rowChosen tells the operator's own
// choices (a click on a row, a move with the keyboard) apart from the
// selection the window sets from code.
class RecordTableView : public QTableView
{
    Q_OBJECT

public:
    explicit RecordTableView(QWidget* parent = nullptr);

    // The selected row; -1 when none is.
    int selectedRow() const;
    // Selects row (whole), or nothing when row is -1 or past the end.
    void selectRow(int row);

Q_SIGNALS:
    // The operator chose row with the mouse or the keyboard.
    void rowChosen(int row);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
