#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QTableView>

#include <span>

class StringGridModel;

// The rectangle of selected cells, in grid coordinates (row 0 is the header).
struct GridRect
{
    int Left = 0;
    int Top = 1;
    int Right = 0;
    int Bottom = 1;
    bool operator==(const GridRect&) const = default;
};

// A table of text cells with one fixed header row: the grid the main window's
// two tables are made of. It offers the grid operations the tables need
// (cells, row and column count, current row and column, selected rectangle,
// column width) over a compact row model, and reports the operator's clicks
// through Clicked. Changes made from code never emit Clicked.
class StringGrid : public QTableView
{
    Q_OBJECT

public:
    explicit StringGrid(QWidget* parent = nullptr);

    StringGridModel* Model() const { return m_model; }

    // Cells; reading outside the grid gives the empty text.
    QByteArrayView Cell(int col, int row) const;
    QByteArray CellText(int col, int row) const { return Cell(col, row).toByteArray(); }
    void SetCell(int col, int row, QByteArrayView text);
    // The cells of one row from column 0 on, as SetCell on each in turn.
    void SetRowCells(int row, std::span<const QByteArrayView> texts);
    void ClearRow(int row);

    int RowCount() const;
    int ColCount() const;
    // Lowering either count below the current row or column moves it to the
    // new last one; the rows cut off are gone with their cells.
    void SetRowCount(int rows);
    void SetColCount(int cols);

    int Row() const { return m_row; }
    int Col() const { return m_col; }
    void SetRow(int row);
    void SetCol(int col);
    GridRect Selection() const { return m_selection; }
    void SetSelection(const GridRect& rect);

    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    void SetDefaultRowHeight(int height);

Q_SIGNALS:
    // The operator moved to a cell with the mouse or the keyboard.
    void Clicked();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowCurrent();

    StringGridModel* m_model;
    int m_row = 1;
    int m_col = 0;
    GridRect m_selection;
    bool m_fromCode = false;
};
