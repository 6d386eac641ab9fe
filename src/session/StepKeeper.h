#pragma once

#include "session/Backoff.h"
#include "session/HostSession.h"

#include <QString>

#include <optional>

// Keeps a session in step with its host. The protocol has no request ids:
// after a lost, late or cut-short reply the next reply read could answer an
// earlier request, so the connection is then out of step and is renewed
// (Quit, then a fresh logon) before the next exchange. A host that faults
// every list would otherwise be logged on to again at every refresh: each
// fault plans a longer wait before automatic work may renew, and work that
// read every list whole starts the waits afresh.
class StepKeeper
{
public:
    struct Plan
    {
        int delayMs = 0;
        QString reason; // "list cut short", "bad reply header" …
    };

    void setDelays(int firstMs, int maxMs) { m_backoff.setDelays(firstMs, maxMs); }
    // The wait planned after the last fault; 0 after a good refresh.
    int delayMs() const { return m_backoff.delayMs(); }
    // How long until the connection may be renewed; 0 when it may be now.
    int dueInMs() const { return m_backoff.leftMs(); }

    bool isOutOfStep() const { return m_outOfStep; }
    // Whether work may renew the connection now; an operator's command
    // does not wait for the planned time.
    bool mayRenew(bool operatorAsked) const { return operatorAsked || dueInMs() <= 0; }

    void workBegins();
    // Whether the work that ends read every list whole: the waits then
    // start afresh.
    bool workEnds();

    // A list ended this way. A fault puts the connection out of step and
    // plans when it may be renewed; a list the operator stopped puts it out
    // of step without a plan.
    std::optional<Plan> listEnded(HostSession::ListEnd end);

    // The renewal begins: Quit and a fresh logon follow.
    void renewalBegins();
    // A logon was accepted; whether it renewed a connection that the host
    // put out of step (not one the operator ended by stopping a list).
    bool loggedOn();
    // A connection or logon failed; whether it was a renewal.
    bool renewalFailed();

private:
    Backoff m_backoff;
    bool m_outOfStep = false;
    bool m_hostFault = false; // out of step by the host's doing, not a stop
    bool m_renewing = false;
    bool m_renewingAfterFault = false;
    // The lists of the work in hand: one was read whole, one faulted.
    bool m_listWhole = false;
    bool m_listFault = false;
};
