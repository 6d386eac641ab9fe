#pragma once

#include <QProxyStyle>

// The platform's style, except that a push button with the keyboard focus
// always shows its focus frame. Most styles draw it only after the focus was
// moved with Tab, so a button that took the focus from a click, from the
// program or from a disabled neighbour looked like any other, and a key
// meant for a table went to it unseen.
class FocusFrameStyle : public QProxyStyle
{
    Q_OBJECT

public:
    FocusFrameStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
