#pragma once

#include <QStyledItemDelegate>

class TrendHistory;

// Draws, at the right of a listener row's cell, a small line of the
// listener's process count over its last samples, beside the text of the
// cell (the user limit), so a listener filling up is seen at a glance.
class SparklineDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int Samples = 40; // the newest samples drawn
    static constexpr int MaxWidth = 48;

    SparklineDelegate(const TrendHistory* history, int pinColumn, QObject* parent = nullptr);

    // Lines are drawn only while the trends are being counted.
    void setActive(bool active) { m_active = active; }
    bool isActive() const { return m_active; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    const TrendHistory* m_history;
    int m_pinColumn;
    bool m_active = false;
};
