#pragma once

#include "console/RecordItemDelegate.h"

class TrendHistory;

// The listener table's cells as every record table draws them, and, at the
// right of one column's cell (the user limit), a small line of the
// listener's process count over its last samples, so a listener filling up
// is seen at a glance. The line has its own strip of the cell, out of the
// room the text leaves: a cell too narrow for both shows the text alone.
class SparklineDelegate : public RecordItemDelegate
{
    Q_OBJECT

public:
    static constexpr int Samples = 40; // the newest samples drawn
    static constexpr int MaxWidth = 48;

    SparklineDelegate(const TrendHistory* history, int pinColumn, int lineColumn,
                      QObject* parent = nullptr);

    // Lines are drawn only while the trends are being counted.
    void setActive(bool active) { m_active = active; }
    bool isActive() const { return m_active; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

protected:
    QRect textArea(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // The strip the line is drawn in; empty when the cell has none.
    QRect lineArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;

    const TrendHistory* m_history;
    int m_pinColumn;
    int m_lineColumn;
    bool m_active = false;
};
