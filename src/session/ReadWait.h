#pragma once

#include <QObject>

#include <limits>

class QTimer;

// The wait of one read of a reply: it gives up at the first check after
// T + 1 whole seconds from when the read first found its bytes missing. A
// read that ends, however it ends (its bytes came, the connection closed,
// the list was stopped, the wait ran out), ends its wait with it: the next
// read, on this connection or the next, waits afresh and never inherits a
// wait that was running or had already run out.
class ReadWait : public QObject
{
    Q_OBJECT

public:
    explicit ReadWait(QObject* parent = nullptr);

    // The read in hand is waiting: starts its wait of seconds + 1 unless it
    // runs already.
    void arm(int seconds);
    // The read in hand ended.
    void completed();
    // Whether the wait of the read in hand has passed; true once, and the
    // read is then over.
    bool takeExpired();
    // No read is in hand any more (the work was dropped).
    void stop() { completed(); }
    // A wait runs for the read in hand.
    bool isRunning() const;

Q_SIGNALS:
    void expired();

private:
    QTimer* m_timer;
    quint64 m_readSerial = 0;                                    // bumped by every completed read
    quint64 m_timerSerial = std::numeric_limits<quint64>::max(); // the read the timer runs for
    bool m_expired = false;
};
