#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class ConsoleStatusBar;
class HostSession;
class QTimer;

// How a list that takes its time is coming along: from its first second on
// the status line reads "Listing processes… 12,345" (the rows gathered so
// far) and shows the Stop button, until the list ends. A short list comes
// and goes unseen.
class ListProgress : public QObject
{
    Q_OBJECT

public:
    static constexpr int ShowAfterMs = 1000;
    static constexpr int UpdateMs = 250;

    ListProgress(HostSession* session, ConsoleStatusBar* bar, QObject* parent = nullptr);

    // What the status line says of the list being read; empty when nothing.
    QString text() const { return m_text; }

private:
    void poll();
    void listEnded();

    HostSession* m_session;
    ConsoleStatusBar* m_bar;
    QTimer* m_poll;
    QElapsedTimer m_since; // valid while a list is being read
    bool m_processes = false;
    int m_reported = 0; // records the session last told of
    QString m_text;
};
