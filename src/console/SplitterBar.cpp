#include "console/SplitterBar.h"

#include <QMouseEvent>
#include <QPainter>

SplitterBar::SplitterBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("splitter"));
    setCursor(Qt::SizeVerCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SplitterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(128, 0, 128)); // purple
}

void SplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_grabOffset = int(event->position().y());
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_grabOffset < 0)
        return QWidget::mouseMoveEvent(event);
    const int yInParent = int(mapToParent(event->position()).y());
    Q_EMIT dragged(yInParent - m_grabOffset);
}

void SplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_grabOffset >= 0 && event->button() == Qt::LeftButton) {
        const int yInParent = int(mapToParent(event->position()).y());
        Q_EMIT dragged(yInParent - m_grabOffset);
        m_grabOffset = -1;
        return;
    }
    QWidget::mouseReleaseEvent(event);
}
