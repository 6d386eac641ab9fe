#pragma once

#include <QByteArray>

class ListenerTableModel;

// Which listener's processes a session lists: the one the operator chose,
// followed by its PIN across refreshes; before any choice, the first one
// listed; none once the chosen one has gone from a list read whole, so that
// no other listener's processes are shown in its place.
class ListenerSelection
{
public:
    const QByteArray& pin() const { return m_pin; }
    void choose(const QByteArray& pin)
    {
        m_pin = pin;
        m_chosen = true;
    }
    // As at the first connection: the next list's first listener is taken.
    void forget()
    {
        m_pin.clear();
        m_chosen = false;
    }
    // A listener list was read; complete: read whole (a list cut short may
    // only have missed the chosen listener).
    void listed(const ListenerTableModel& listeners, bool complete);

private:
    QByteArray m_pin;
    bool m_chosen = false;
};
