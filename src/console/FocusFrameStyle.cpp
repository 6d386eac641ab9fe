#include "console/FocusFrameStyle.h"

#include <QStyleOption>

namespace {

// The option as a keyboard focus change would have left it.
template <typename Option> Option withFocusShown(const Option& option)
{
    Option shown = option;
    if (shown.state & QStyle::State_HasFocus)
        shown.state |= QStyle::State_KeyboardFocusChange;
    return shown;
}

} // namespace

FocusFrameStyle::FocusFrameStyle() : QProxyStyle() {}

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const
{
    if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        button && (element == CE_PushButton || element == CE_PushButtonBevel ||
                   element == CE_PushButtonLabel)) {
        const QStyleOptionButton shown = withFocusShown(*button);
        QProxyStyle::drawControl(element, &shown, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const
{
    if (const auto* frame = qstyleoption_cast<const QStyleOptionFocusRect*>(option);
        frame && element == PE_FrameFocusRect) {
        const QStyleOptionFocusRect shown = withFocusShown(*frame);
        QProxyStyle::drawPrimitive(element, &shown, painter, widget);
        return;
    }
    if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        button && element == PE_PanelButtonCommand) {
        const QStyleOptionButton shown = withFocusShown(*button);
        QProxyStyle::drawPrimitive(element, &shown, painter, widget);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
