#include "console/RecordItemDelegate.h"

#include "session/RecordTableModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

RecordItemDelegate::RecordItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void RecordItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (m_rightAligned.contains(index.column()))
        option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    if (index.data(RecordTableModel::StaleRole).toBool()) {
        const QColor grey = option->palette.color(QPalette::Disabled, QPalette::Text);
        option->palette.setColor(QPalette::Text, grey);
        option->palette.setColor(
            QPalette::HighlightedText,
            option->palette.color(QPalette::Disabled, QPalette::HighlightedText));
        option->palette.setColor(QPalette::Highlight,
                                 option->palette.color(QPalette::Disabled, QPalette::Highlight));
        option->font.setItalic(true);
    } else if (m_markNew && index.data(RecordTableModel::NewRowRole).toBool()) {
        option->font.setBold(true);
    }
}

void RecordItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    paintRowFrame(painter, option, index);
}

void RecordItemDelegate::paintRowFrame(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const
{
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    if (!view || !view->hasFocus() || view->currentIndex().row() != index.row())
        return;
    // A frame round the whole current row: lines above and below every cell,
    // and the ends at the first and last column.
    painter->save();
    QPen pen(option.palette.color(QPalette::Active, QPalette::Highlight).darker(130));
    pen.setWidth(2);
    painter->setPen(pen);
    const QRect r = option.rect.adjusted(0, 1, 0, -1);
    painter->drawLine(r.topLeft(), r.topRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    if (index.column() == 0)
        painter->drawLine(r.topLeft() + QPoint(1, 0), r.bottomLeft() + QPoint(1, 0));
    if (index.column() == index.model()->columnCount() - 1)
        painter->drawLine(r.topRight(), r.bottomRight());
    painter->restore();
}

bool RecordItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                   const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStringList lines;
    if (!m_staleNote.isEmpty() && index.data(RecordTableModel::StaleRole).toBool())
        lines.append(m_staleNote);
    if (isElided(option, index))
        lines.append(index.data().toString().trimmed()); // CPU times are padded
    if (lines.isEmpty()) {
        // Nothing of the cell's own: the table's tooltip, if it has one.
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event->globalPos(), lines.join(QLatin1Char('\n')), view->viewport(),
                       option.rect);
    return true;
}

int RecordItemDelegate::wholeWidth(const QWidget* view, const QString& text)
{
    // The text, the style's margin on each side of it (as isElided counts
    // it) and the grid line; a new row's bold text is the widest.
    const QStyle* style = view ? view->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    QFont bold = view ? view->font() : QApplication::font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(text) + 2 * margin + 2;
}

QRect RecordItemDelegate::textArea(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return option.rect;
}

bool RecordItemDelegate::isElided(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    if (opt.text.isEmpty())
        return false;
    opt.rect = textArea(option, index);
    // Where and how the style draws the text: its rectangle less the
    // focus frame's margin on each side, in the cell's own font.
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QFontMetrics metrics(opt.font);
    return metrics.horizontalAdvance(opt.text) > textRect.width() - 2 * margin;
}
