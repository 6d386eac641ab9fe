#include "console/SparklineDelegate.h"

#include "session/TrendHistory.h"

#include <QApplication>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>

SparklineDelegate::SparklineDelegate(const TrendHistory* history, int pinColumn, int lineColumn,
                                     QObject* parent)
    : RecordItemDelegate(parent), m_history(history), m_pinColumn(pinColumn),
      m_lineColumn(lineColumn)
{
}

QRect SparklineDelegate::lineArea(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    if (!m_active || index.column() != m_lineColumn)
        return {};
    const QByteArray pin = index.siblingAtColumn(m_pinColumn).data().toString().toLatin1();
    const TrendHistory::Ring* ring = m_history->listener(pin);
    if (!ring || ring->size() < 2)
        return {};
    // The line takes only the room the text leaves: "unlimited" is never
    // cut for it.
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int text =
        opt.text.isEmpty() ? 0 : QFontMetrics(opt.font).horizontalAdvance(opt.text) + 2 * margin;
    const int width = std::min(MaxWidth, option.rect.width() - text - 4);
    if (width < 12 || option.rect.height() < 8)
        return {};
    return QRect(option.rect.right() - width - 2, option.rect.top(), width + 3,
                 option.rect.height());
}

QRect SparklineDelegate::textArea(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    const QRect line = lineArea(option, index);
    if (line.isEmpty())
        return option.rect;
    QRect text = option.rect;
    text.setRight(line.left() - 1);
    return text;
}

void SparklineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    const QRect strip = lineArea(option, index);
    if (strip.isEmpty()) {
        RecordItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's background over its whole width, then the text in the
    // part left of the line.
    QStyleOptionViewItem whole = option;
    initStyleOption(&whole, index);
    whole.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &whole, painter, widget);
    QStyleOptionViewItem textPart = option;
    textPart.rect = textArea(option, index);
    QStyledItemDelegate::paint(painter, textPart, index);
    paintRowFrame(painter, option, index);

    const QByteArray pin = index.siblingAtColumn(m_pinColumn).data().toString().toLatin1();
    const TrendHistory::Ring* ring = m_history->listener(pin);
    const QRectF area(strip.left() + 1, strip.top() + 3, strip.width() - 3, strip.height() - 6);
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
