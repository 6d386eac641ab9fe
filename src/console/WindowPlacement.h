#pragma once

#include <QList>
#include <QRect>

class QWidget;

// Where a window restored from the settings may stand: a geometry saved on
// a larger screen, or on a screen that is gone, can leave a window almost
// wholly off-screen, its title bar out of reach.
namespace WindowPlacement {

// The frame geometry to use instead of frame so that its title bar (the
// top titleHeight pixels) lies on one of the screens' available areas, and
// the frame fits it: unchanged when at least minimumShown pixels of the
// title bar's width can be reached there, else the frame moved onto the
// screen it overlaps most (the first when none), and shrunk to it.
QRect reachable(const QRect& frame, const QList<QRect>& available, int titleHeight = 32,
                int minimumShown = 100);

// Applies reachable() to a top-level window over the screens there are.
void keepReachable(QWidget& window);

} // namespace WindowPlacement
