#include "session/StepKeeper.h"

void StepKeeper::workBegins()
{
    m_listWhole = false;
    m_listFault = false;
}

bool StepKeeper::workEnds()
{
    if (!m_listWhole || m_listFault)
        return false;
    // A good refresh: the next fault is renewed after the first wait.
    if (m_backoff.delayMs() != 0)
        m_backoff.reset();
    return true;
}

std::optional<StepKeeper::Plan> StepKeeper::listEnded(HostSession::ListEnd end)
{
    using End = HostSession::ListEnd;
    QString reason;
    switch (end) {
    case End::Complete:
        m_listWhole = true;
        return std::nullopt;
    case End::NotConnected:
    case End::NoSelection:
        return std::nullopt;
    case End::Stopped:
        m_outOfStep = true;
        m_hostFault = false;
        return std::nullopt;
    case End::TimedOut:
        reason = QStringLiteral("no reply in time");
        break;
    case End::BadHeader:
        reason = QStringLiteral("bad reply header");
        break;
    case End::TooManyRecords:
        reason = QStringLiteral("list too long");
        break;
    case End::Closed:
        reason = QStringLiteral("list cut short");
        break;
    }
    m_outOfStep = true;
    m_hostFault = true;
    m_listFault = true;
    return Plan{m_backoff.next(), reason};
}

void StepKeeper::renewalBegins()
{
    m_renewingAfterFault = m_hostFault;
    m_outOfStep = false;
    m_hostFault = false;
    m_renewing = true;
}

bool StepKeeper::loggedOn()
{
    m_outOfStep = false;
    m_hostFault = false;
    const bool renewed = m_renewing && m_renewingAfterFault;
    m_renewing = false;
    m_renewingAfterFault = false;
    return renewed;
}

bool StepKeeper::renewalFailed()
{
    const bool renewing = m_renewing;
    m_renewing = false;
    m_renewingAfterFault = false;
    return renewing;
}
