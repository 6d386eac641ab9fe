#pragma once

#include "support/ServiceFixtures.h"

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

// An X server of its own (Xvfb, on the display number it picks) with a
// window manager (openbox), and the tools that act on it as an operator
// would: xdotool for real key and mouse events and window requests, xclip for
// the clipboard, import for a picture of a window. start() waits until the
// window manager runs, or says why() not.
class XDisplayFixture : public ServiceFixture
{
public:
    ~XDisplayFixture();
    bool start();
    // The environment of a program shown on this display.
    QProcessEnvironment environment() const;

    // Runs xdotool; its output, or a null array (with why()) when it failed.
    QByteArray xdotool(const QStringList& arguments);
    // The visible window of process pid that has a title; empty when there
    // is none (yet).
    QString findWindow(qint64 pid);
    // Whether a visible window has exactly this title.
    bool windowShown(const QString& title);
    QString windowName(const QString& window);
    // The titles of the windows shown.
    QStringList shownWindows();
    // The window's inside, in screen coordinates.
    QRect geometry(const QString& window);
    // The clipboard's text; empty when nobody offers one.
    QString clipboard();
    bool setClipboard(const QString& text);
    // A picture of the window's inside.
    QImage grab(const QString& window);

private:
    QByteArray runTool(const QString& program, const QStringList& arguments, bool* ok,
                       const QByteArray& input = QByteArray());

    QProcess m_xvfb;
    QProcess m_wm;
    QString m_display;
};
