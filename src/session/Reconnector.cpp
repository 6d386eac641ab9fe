#include "session/Reconnector.h"

#include <QTimer>

#include <algorithm>
#include <utility>

Reconnector::Reconnector(HostSession* session, QObject* parent)
    : QObject(parent), m_session(session), m_attemptTimer(new QTimer(this)),
      m_countdown(new QTimer(this))
{
    m_attemptTimer->setSingleShot(true);
    connect(m_attemptTimer, &QTimer::timeout, this, &Reconnector::attempt);
    // The countdown only ticks while an attempt is planned, so an idle
    // console that is connected wakes for nothing.
    m_countdown->setInterval(1000);
    connect(m_countdown, &QTimer::timeout, this, [this] {
        if (!isWaiting() && m_session->renewalDueInMs() == 0)
            m_countdown->stop();
        Q_EMIT statusChanged();
    });

    connect(session, &HostSession::linkStateChanged, this, &Reconnector::linkStateChanged);
    connect(session, &HostSession::socketError, this, [this](int code, const QString& text) {
        m_reason = QStringLiteral("%1 %2").arg(code).arg(text);
    });
    connect(session, &HostSession::logonFailed, this, [this](HostSession::LogonResult result) {
        switch (result) {
        case HostSession::LogonResult::Refused:
            // The same values would be refused again and may lock the account.
            m_reason = QStringLiteral("Invalid Login!");
            m_held = true;
            cancel();
            break;
        case HostSession::LogonResult::NoHost:
            m_held = true;
            cancel();
            break;
        case HostSession::LogonResult::Failed:
            m_reason = QStringLiteral("Error creating server process!");
            break;
        case HostSession::LogonResult::Accepted:
        case HostSession::LogonResult::NotConnected:
            break;
        }
        Q_EMIT statusChanged();
    });
    connect(session, &HostSession::connectFinished, this, [this](bool loggedOn) {
        // An attempt whose logon failed leaves its connection open; the next
        // attempt must find the socket closed, or it fails with 10056.
        if (std::exchange(m_attemptInHand, false) && !loggedOn)
            m_session->endFailedLogon();
    });
    connect(session, &HostSession::listEnded, this, [this](HostSession::ListEnd end, int) {
        if (end != HostSession::ListEnd::Stopped)
            return;
        // Ending the list ended the link: it stays down until the operator
        // lists again, or the same long list would start over.
        m_reason = QStringLiteral("stopped by the operator");
        m_held = true;
        cancel();
        Q_EMIT statusChanged();
    });
    connect(session, &HostSession::commandSent, this, [this](const HostCommand& command) {
        if (command.kind == HostCommand::Kind::ShutdownJob) {
            m_reason = QStringLiteral("the job was shut down");
            m_held = true;
            cancel();
        }
    });
    // A host that accepts the logon but faults every list: the renewals
    // are held back as reconnections are, and both start afresh only once a
    // refresh read its lists whole.
    connect(session, &HostSession::renewalPlanned, this, [this](int, const QString& reason) {
        m_renewReason = reason;
        m_countdown->start();
        Q_EMIT statusChanged();
    });
    connect(session, &HostSession::refreshSucceeded, this, [this] {
        m_backoff.reset();
        if (!m_renewReason.isEmpty()) {
            m_renewReason.clear();
            Q_EMIT statusChanged();
        }
    });
}

void Reconnector::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        cancel();
    else if (m_session->linkState() == HostSession::LinkState::Disconnected &&
             m_downSince.isValid() && !isWaiting())
        planAttempt();
    Q_EMIT statusChanged();
}

void Reconnector::setDelays(int firstMs, int maxMs)
{
    m_backoff.setDelays(firstMs, maxMs, 1);
}

void Reconnector::hold()
{
    m_held = true;
    cancel();
    Q_EMIT statusChanged();
}

void Reconnector::reconnectNow()
{
    cancel();
    m_held = false;
    m_backoff.reset();
    m_automatic = false;
    if (m_session->linkState() != HostSession::LinkState::Disconnected)
        m_session->quit();
    m_attemptInHand = true;
    m_session->connectToHost();
}

bool Reconnector::isWaiting() const
{
    return m_attemptTimer->isActive();
}

int Reconnector::secondsLeft() const
{
    if (!isWaiting())
        return 0;
    return (m_backoff.leftMs() + 999) / 1000;
}

QString Reconnector::statusText() const
{
    switch (m_session->linkState()) {
    case HostSession::LinkState::LoggedOn:
        if (const int left = m_session->renewalDueInMs(); left > 0 && m_session->isOutOfStep())
            return QStringLiteral("Renewing the connection in %1 s (%2)")
                .arg((left + 999) / 1000)
                .arg(m_renewReason);
        return QStringLiteral("Connected");
    case HostSession::LinkState::Connecting:
    case HostSession::LinkState::LoggingOn:
        return QStringLiteral("Connecting");
    case HostSession::LinkState::Disconnected:
        break;
    }
    const QString reason = m_reason.isEmpty() ? QStringLiteral("no connection") : m_reason;
    if (isWaiting())
        return QStringLiteral("Reconnecting in %1 s (%2)").arg(secondsLeft()).arg(reason);
    if (!m_downSince.isValid())
        return QStringLiteral("Disconnected");
    return QStringLiteral("Disconnected since %1: %2")
        .arg(m_downSince.toString(QStringLiteral("HH:mm:ss")), reason);
}

void Reconnector::linkStateChanged(HostSession::LinkState state)
{
    switch (state) {
    case HostSession::LinkState::LoggedOn:
        if (m_automatic)
            ++m_reconnections;
        m_automatic = false;
        // A logon made another way (Configure, Load) lifts a hold: the
        // settings were good once more.
        m_held = false;
        m_wasLoggedOn = true;
        // The wait is not started afresh here: a host that accepts the
        // logon and then faults the list is tried less and less often. A
        // good refresh resets it.
        m_reason.clear();
        m_downSince = QTime();
        cancel();
        break;
    case HostSession::LinkState::Connecting:
    case HostSession::LinkState::LoggingOn:
        // A renewal or the operator's own connect: nothing to plan.
        cancel();
        break;
    case HostSession::LinkState::Disconnected:
        if (m_wasLoggedOn) {
            // The link was up until now: this is when it dropped. Without an
            // error from the socket, the host closed it.
            m_downSince = QTime::currentTime();
            if (m_reason.isEmpty())
                m_reason = QStringLiteral("host closed the connection");
        } else if (!m_downSince.isValid()) {
            m_downSince = QTime::currentTime();
        }
        m_wasLoggedOn = false;
        planAttempt();
        break;
    }
    Q_EMIT statusChanged();
}

void Reconnector::planAttempt()
{
    // A refused logon is told just after the link state; the hold it brings
    // cancels what is planned here.
    if (!m_enabled || m_held)
        return;
    m_attemptTimer->start(m_backoff.next());
    m_countdown->start();
}

void Reconnector::attempt()
{
    m_countdown->stop();
    // The session may have come back by other means meanwhile (a renewal).
    if (m_held || m_session->linkState() != HostSession::LinkState::Disconnected)
        return;
    m_automatic = true;
    m_attemptInHand = true;
    Q_EMIT attemptStarted();
    m_session->connectToHost();
}

void Reconnector::cancel()
{
    m_attemptTimer->stop();
    m_countdown->stop();
}
