#include "console/dialogs/ScreenFit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// The window frame before the window system has drawn one: a title bar
// and thin borders.
QMargins assumedFrame(const QWidget* window)
{
    const int title = window->fontMetrics().height() + 12;
    return QMargins(4, title, 4, 4);
}

void fit(QWidget* window)
{
    QScreen* screen = window->screen();
    if (window->parentWidget())
        screen = window->parentWidget()->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QMargins frame = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    if (frame.isNull())
        frame = assumedFrame(window);

    const QSize most(area.width() - frame.left() - frame.right(),
                     area.height() - frame.top() - frame.bottom());
    const QSize size = window->size().boundedTo(most).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);

    // The frame's top left corner, kept so that the whole frame is inside.
    const int outerWidth = size.width() + frame.left() + frame.right();
    const int outerHeight = size.height() + frame.top() + frame.bottom();
    const QPoint at = window->pos(); // the frame's corner for a top-level window
    const int x = std::max(area.left(), std::min(at.x(), area.right() + 1 - outerWidth));
    const int y = std::max(area.top(), std::min(at.y(), area.bottom() + 1 - outerHeight));
    if (QPoint(x, y) != at)
        window->move(x, y);
}

class ScreenFitter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            if (window->isWindow())
                fit(window);
        }
        return false;
    }
};

} // namespace

void keepOnScreen(QWidget* window)
{
    window->installEventFilter(new ScreenFitter(window));
}
