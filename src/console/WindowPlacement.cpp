#include "console/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace WindowPlacement {

QRect reachable(const QRect& frame, const QList<QRect>& available, int titleHeight,
                int minimumShown)
{
    if (available.isEmpty() || frame.isEmpty())
        return frame;
    const QRect title(frame.left(), frame.top(), frame.width(),
                      std::min(titleHeight, frame.height()));
    for (const QRect& area : available) {
        const QRect shown = title.intersected(area);
        // The title bar's top is on the screen and enough of its width can
        // be taken with the mouse.
        if (area.contains(QPoint(shown.left(), title.top())) &&
            shown.width() >= std::min(minimumShown, title.width()) && !shown.isEmpty())
            return frame;
    }
    const QRect* best = &available.front();
    qint64 bestOverlap = -1;
    for (const QRect& area : available) {
        const QRect overlap = frame.intersected(area);
        const qint64 size = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (size > bestOverlap) {
            bestOverlap = size;
            best = &area;
        }
    }
    QRect placed(frame.topLeft(), frame.size().boundedTo(best->size()));
    placed.moveLeft(std::clamp(placed.left(), best->left(), best->right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), best->top(), best->bottom() + 1 - placed.height()));
    return placed;
}

void keepReachable(QWidget& window)
{
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    const QRect frame = window.frameGeometry();
    const QRect placed = reachable(frame, areas);
    if (placed == frame)
        return;
    // The frame's borders and title bar stay as they are around the client area.
    const QMargins border(
        window.geometry().left() - frame.left(), window.geometry().top() - frame.top(),
        frame.right() - window.geometry().right(), frame.bottom() - window.geometry().bottom());
    window.resize(placed.size().shrunkBy(border));
    window.move(placed.topLeft());
}

} // namespace WindowPlacement
