#include "session/ListenerSelection.h"

#include "session/ListenerTableModel.h"

void ListenerSelection::listed(const ListenerTableModel& listeners, bool complete)
{
    if (!m_chosen) {
        if (listeners.rows() > 0) {
            m_pin = listeners.cell(0, ListenerColumn::Pin).toByteArray();
            m_chosen = true;
        }
    } else if (complete && !m_pin.isEmpty() && listeners.findPin(m_pin) < 0) {
        m_pin.clear();
    }
}
