#pragma once

#include "session/HostSession.h"

#include <QEventLoop>
#include <QObject>

// Runs the event loop until the session has nothing in hand.
inline void waitIdle(HostSession& session)
{
    if (!session.isBusy())
        return;
    QEventLoop loop;
    QObject::connect(&session, &HostSession::busyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    loop.exec();
}
