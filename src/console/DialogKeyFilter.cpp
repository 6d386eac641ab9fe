#include "console/DialogKeyFilter.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

bool DialogKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space)
        return false;
    const auto* button = qobject_cast<const QPushButton*>(watched);
    return button && qobject_cast<const QDialog*>(button->window());
}
