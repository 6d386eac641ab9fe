#include "console/PageSplitter.h"

#include <QMouseEvent>

#include <algorithm>

namespace {

// The handle follows the mouse as a plain splitter handle does, but hands the
// splitter a position already held to the boxes' minimum.
class BoundedHandle : public QSplitterHandle
{
public:
    explicit BoundedHandle(PageSplitter* parent)
        : QSplitterHandle(Qt::Vertical, parent), m_splitter(parent)
    {
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            m_grabOffset = event->position().toPoint().y();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (m_grabOffset >= 0 && (event->buttons() & Qt::LeftButton))
            follow(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (m_grabOffset >= 0 && event->button() == Qt::LeftButton) {
            follow(event);
            m_grabOffset = -1;
        }
    }

private:
    void follow(QMouseEvent* event)
    {
        const int top =
            m_splitter->mapFromGlobal(event->globalPosition().toPoint()).y() - m_grabOffset;
        moveSplitter(m_splitter->boundedTop(top));
    }

    PageSplitter* m_splitter;
    int m_grabOffset = -1; // where in the handle the mouse took hold; -1 when not dragging
};

} // namespace

PageSplitter::PageSplitter(QWidget* parent) : QSplitter(Qt::Vertical, parent)
{
    setHandleWidth(HandleHeight);
    setChildrenCollapsible(false);
    setOpaqueResize(true);
    setStyleSheet(QStringLiteral("PageSplitter::handle { background-color: purple; }"));
}

int PageSplitter::boundedTop(int top) const
{
    const int max = height() - HandleHeight - MinimumBoxHeight;
    if (max < MinimumBoxHeight)
        return sizes().value(0); // no room to move: the handle stays
    return std::clamp(top, MinimumBoxHeight, max);
}

QSplitterHandle* PageSplitter::createHandle()
{
    auto* handle = new BoundedHandle(this);
    handle->setCursor(Qt::SizeVerCursor);
    return handle;
}
