#pragma once

#include <QWidget>

// The bar between the listener and the process box. Dragging it asks the main
// window to move the boundary; the window keeps both boxes at least MinimumBoxHeight
// pixels high.
class SplitterBar : public QWidget
{
    Q_OBJECT

public:
    explicit SplitterBar(QWidget* parent = nullptr);

    // The least height either box keeps.
    static constexpr int MinimumBoxHeight = 80;

Q_SIGNALS:
    // The operator dragged the bar so that its top edge would sit at top
    // (in the parent's coordinates).
    void dragged(int top);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_grabOffset = -1; // where in the bar the mouse took hold; -1 when not dragging
};
