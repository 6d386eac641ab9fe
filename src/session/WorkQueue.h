#pragma once

#include "session/SessionWork.h"

#include <deque>
#include <utility>

// The work a session was asked for: what waits, in its order, and the work
// in hand with the phase of its first step. Dropping it all bumps the
// generation, so that a step which returns into dropped work can tell.
class WorkQueue
{
public:
    void push(SessionWork work) { m_waiting.push_back(std::move(work)); }
    // Whether work of one of these kinds waits.
    bool waits(SessionWork::Kind kind, SessionWork::Kind orKind) const;
    // The waiting work of this kind, if any.
    SessionWork* waiting(SessionWork::Kind kind);
    bool isIdle() const { return !m_inHand && m_waiting.empty(); }

    // Takes the next waiting work in hand unless work is in hand; false
    // when there is none.
    bool takeNext();
    bool hasWork() const { return m_inHand; }
    SessionWork& work() { return m_work; }
    const SessionWork& work() const { return m_work; }
    // The work in hand has no steps left: it is handed back.
    SessionWork finish();
    // The step in hand ended: done moves on to the next step, abandoned
    // drops the remaining ones.
    void stepEnded(bool abandoned);
    // All work, in hand and waiting, goes.
    void drop();
    // The waiting work goes, handed back; the work in hand stays.
    std::deque<SessionWork> dropWaiting() { return std::exchange(m_waiting, {}); }

    quint64 generation() const { return m_generation; }
    // The phase of the step in hand, 0 when it begins; the step keeps it.
    int& phase() { return m_phase; }
    int phase() const { return m_phase; }

private:
    std::deque<SessionWork> m_waiting;
    SessionWork m_work;
    bool m_inHand = false;
    int m_phase = 0;
    quint64 m_generation = 0;
};
