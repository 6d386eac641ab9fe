#pragma once

#include "session/Backoff.h"
#include "session/HostSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTime>

class QTimer;

// Brings a session back after its link dropped: the first attempt one second
// after the drop, then after 2, 4, 8 … seconds up to a minute between
// attempts, until a refresh reads its lists whole. It never tries while the window closes
// (hold), after the job was shut down, or after the host refused the logon:
// retrying a wrong password can lock the account. The operator's Reconnect
// tries at once and lifts a hold.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    explicit Reconnector(HostSession* session, QObject* parent = nullptr);

    // The preference: when off, a dropped link stays down until Reconnect.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The waits between attempts (tests shorten them; the ratio stays).
    void setDelays(int firstMs, int maxMs);

    // No automatic attempt until reconnectNow or the next logon: the window
    // is closing, or the operator ended the link.
    void hold();
    // The Reconnect command: a new connection and logon now.
    void reconnectNow();

    // An automatic attempt is planned.
    bool isWaiting() const;
    // The wait before the planned attempt, or before the attempt in hand, in
    // ms; 0 while the link is up.
    int currentDelayMs() const { return m_backoff.delayMs(); }
    // Whole seconds until the planned attempt, rounded up.
    int secondsLeft() const;
    // Reconnections that succeeded since the session started.
    int reconnections() const { return m_reconnections; }
    // The session's link in the operator's words: "Connected",
    // "Reconnecting in 8 s (10061 Connection refused)", "Disconnected since
    // 14:02:11: host closed the connection", "Renewing the connection in 4 s
    // (list cut short)".
    QString statusText() const;

Q_SIGNALS:
    // statusText changed (also each second of a countdown).
    void statusChanged();
    // An automatic attempt begins: its errors are for the status bar, not
    // for message boxes.
    void attemptStarted();

private:
    void linkStateChanged(HostSession::LinkState state);
    void planAttempt();
    void attempt();
    void cancel();

    HostSession* m_session;
    QTimer* m_attemptTimer;
    QTimer* m_countdown;
    bool m_enabled = true;
    bool m_held = false;
    bool m_automatic = false;     // the attempt in hand was started by the timer
    bool m_attemptInHand = false; // an attempt of ours (timer or reconnectNow) runs
    bool m_wasLoggedOn = false;
    Backoff m_backoff;
    int m_reconnections = 0;
    QString m_reason;
    QString m_renewReason; // why the connection is to be renewed
    QTime m_downSince;
};
