#pragma once

class QWidget;

// Keeps a window within the available area of its screen each time it is
// shown: no larger than that area, frame included (a window that cannot
// shrink so far keeps its minimum size), and moved so that no part of it,
// its buttons least of all, lies off the screen. At a large scale factor a
// window laid out for a wide screen would otherwise open half outside it.
void keepOnScreen(QWidget* window);
