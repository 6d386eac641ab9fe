#pragma once

#include <QObject>

// Keeps Space from pressing a push button in any of the console's dialogs
// (confirmations, message boxes, Add New Listener, file dialogs): Space is
// the window's pause key, and one pressed as a dialog opens must not answer
// it. Enter, Esc, the access letters and the mouse still press the buttons;
// Space still types in text boxes and checks radio buttons and check boxes.
// Installed once on the application.
class DialogKeyFilter : public QObject
{
    Q_OBJECT

public:
    explicit DialogKeyFilter(QObject* parent = nullptr) : QObject(parent) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
