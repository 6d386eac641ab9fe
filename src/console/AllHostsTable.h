#pragma once

#include <QTableView>

#include <vector>

// The All hosts table: one row per host, every column as wide as its
// contents, and the whole row within the view's width. The link column
// takes what the others leave; when the contents are wider than the view,
// the link and then the name give way first (cut short, their whole text
// in the tooltip), so that the figures, the stale mark and the
// reconnections are never pushed past the right edge.
class AllHostsTable : public QTableView
{
    Q_OBJECT

public:
    // The columns that give way, in that order; the first also takes the
    // room the others leave.
    AllHostsTable(std::vector<int> givingWay, QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    // Sets the columns' widths from their contents and the view's width.
    void fitColumns();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fitSoon();

    std::vector<int> m_givingWay;
    bool m_fitQueued = false;
};
