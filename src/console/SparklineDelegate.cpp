#include "console/SparklineDelegate.h"

#include "session/TrendHistory.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>

SparklineDelegate::SparklineDelegate(const TrendHistory* history, int pinColumn, int lineColumn,
                                     QObject* parent)
    : RecordItemDelegate(parent), m_history(history), m_pinColumn(pinColumn),
      m_lineColumn(lineColumn)
{
}

void SparklineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    RecordItemDelegate::paint(painter, option, index);
    if (!m_active || index.column() != m_lineColumn)
        return;
    const QByteArray pin = index.siblingAtColumn(m_pinColumn).data().toString().toLatin1();
    const TrendHistory::Ring* ring = m_history->listener(pin);
    if (!ring || ring->size() < 2)
        return;
    const int width = std::min(MaxWidth, option.rect.width() / 2);
    if (width < 12 || option.rect.height() < 8)
        return;
    const QRectF area(option.rect.right() - width - 2, option.rect.top() + 3, width,
                      option.rect.height() - 6);
    const int first = std::max(0, ring->size() - Samples);
    int top = 1;
    for (int i = first; i < ring->size(); ++i)
        top = std::max(top, int(ring->at(i).processes));
    QPolygonF line;
    const int count = ring->size() - first;
    for (int i = 0; i < count; ++i) {
        const qreal x = area.left() + area.width() * i / std::max(1, count - 1);
        const qreal y = area.bottom() - area.height() * ring->at(first + i).processes / top;
        line.append(QPointF(x, y));
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(
        QPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Link), 1.2));
    painter->drawPolyline(line);
    painter->restore();
}
