#include "session/WorkQueue.h"

bool WorkQueue::waits(SessionWork::Kind kind, SessionWork::Kind orKind) const
{
    for (const SessionWork& waiting : m_waiting)
        if (waiting.kind == kind || waiting.kind == orKind)
            return true;
    return false;
}

SessionWork* WorkQueue::waiting(SessionWork::Kind kind)
{
    for (SessionWork& work : m_waiting)
        if (work.kind == kind)
            return &work;
    return nullptr;
}

bool WorkQueue::takeNext()
{
    if (m_inHand)
        return true;
    if (m_waiting.empty())
        return false;
    m_work = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_inHand = true;
    m_phase = 0;
    return true;
}

SessionWork WorkQueue::finish()
{
    SessionWork work = std::move(m_work);
    m_work = SessionWork();
    m_inHand = false;
    return work;
}

void WorkQueue::stepEnded(bool abandoned)
{
    m_phase = 0;
    if (abandoned)
        m_work.steps.clear();
    else if (!m_work.steps.empty())
        m_work.steps.pop_front();
}

void WorkQueue::drop()
{
    ++m_generation;
    m_waiting.clear();
    m_work = SessionWork();
    m_inHand = false;
    m_phase = 0;
}
