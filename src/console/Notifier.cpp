#include "console/Notifier.h"

#include "core/Plural.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QGuiApplication>
#include <QStringList>
#include <QSystemTrayIcon>

namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

bool notificationServiceExists()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface* names = bus.interface();
    if (!names)
        return false;
    if (names->isServiceRegistered(ServiceName))
        return true;
    const QDBusReply<QStringList> activatable = names->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(ServiceName);
}

} // namespace

QString Notifier::kindTitle(Kind kind)
{
    switch (kind) {
    case Kind::LinkDropped:
        return QStringLiteral("Link Dropped");
    case Kind::LinkReturned:
        return QStringLiteral("Link Returned");
    case Kind::ListenerGone:
        return QStringLiteral("Listener Disappeared");
    case Kind::UserLimitReached:
        return QStringLiteral("User Limit Reached");
    }
    return {};
}

QString Notifier::settingsKey(Kind kind)
{
    static const char* const keys[] = {"linkDropped", "linkReturned", "listenerGone",
                                       "userLimitReached"};
    return QStringLiteral("notifications/") + QLatin1String(keys[int(kind)]);
}

Notifier::Notifier(HostSession* session, QObject* parent) : QObject(parent), m_session(session)
{
    connect(session, &HostSession::linkStateChanged, this, &Notifier::linkStateChanged);
    connect(session, &HostSession::listenersChanged, this, &Notifier::listenersChanged);
    connect(session, &HostSession::processesChanged, this, &Notifier::processesChanged);
    connect(session, &HostSession::busyChanged, this, [this](bool busy) {
        if (!busy && m_dropCheckPending)
            checkDrop();
    });
}

Notifier::~Notifier() = default;

void Notifier::setEnabled(Kind kind, bool enabled)
{
    m_enabled[int(kind)] = enabled;
}

QString Notifier::hostKey() const
{
    const ConnectionSettings& s = m_session->settings();
    return latin1(s.HostAddress) + QLatin1Char(':') + QString::number(s.Port);
}

QString Notifier::hostText() const
{
    const QString name = m_hostName ? m_hostName() : QString();
    return name.isEmpty() ? hostKey() : name;
}

void Notifier::linkStateChanged()
{
    const HostSession::LinkState state = m_session->linkState();
    if (state == HostSession::LinkState::LoggedOn) {
        m_expectLinkEnd = false;
        m_dropCheckPending = false;
        m_wasLoggedOn = true;
        if (m_dropped) {
            m_dropped = false;
            notify(Kind::LinkReturned, QStringLiteral("Link returned"),
                   QStringLiteral("The console is connected to %1 again.").arg(hostText()));
        }
        return;
    }
    if (state != HostSession::LinkState::Disconnected || !m_wasLoggedOn)
        return;
    m_wasLoggedOn = false;
    if (std::exchange(m_expectLinkEnd, false)) {
        m_dropped = false;
        return;
    }
    // The session renews a connection that fell out of step within its
    // work; only a link still down once the work is over has dropped.
    m_dropCheckPending = true;
    if (!m_session->isBusy())
        checkDrop();
}

void Notifier::checkDrop()
{
    m_dropCheckPending = false;
    if (m_session->linkState() == HostSession::LinkState::LoggedOn || m_dropped)
        return;
    m_dropped = true;
    notify(Kind::LinkDropped, QStringLiteral("Link dropped"),
           QStringLiteral("The connection to %1 was lost.").arg(hostText()));
}

void Notifier::listenersChanged()
{
    // A table emptied because the link is down says nothing about listeners.
    if (m_session->linkState() != HostSession::LinkState::LoggedOn)
        return;
    const QString host = hostText();
    const bool sameHost = hostKey() == m_hostKey;
    if (!sameHost) {
        m_hostKey = hostKey();
        m_atLimit.clear();
    }
    QHash<QByteArray, Listener> now;
    const ListenerTableModel* table = m_session->listeners();
    for (int row = 0; row < table->rows(); ++row) {
        bool numeric = false;
        const int limit = table->cell(row, ListenerColumn::MaxUsers).toByteArray().toInt(&numeric);
        now.insert(table->cell(row, ListenerColumn::Pin).toByteArray(),
                   {table->cell(row, ListenerColumn::Program).toByteArray(),
                    table->cell(row, ListenerColumn::Port).toByteArray(), numeric ? limit : 0});
    }
    QStringList gone;
    if (sameHost) {
        for (auto it = m_listeners.cbegin(); it != m_listeners.cend(); ++it) {
            if (now.contains(it.key()) || m_expectedGone.contains(it.key()))
                continue;
            gone.append(QStringLiteral("%1 (%2, port %3)")
                            .arg(latin1(it.key()), latin1(it->program), latin1(it->port)));
        }
    }
    m_expectedGone.clear();
    m_listeners = std::move(now);
    for (auto it = m_atLimit.begin(); it != m_atLimit.end();)
        it = m_listeners.contains(*it) ? std::next(it) : m_atLimit.erase(it);
    if (gone.size() == 1)
        notify(Kind::ListenerGone, QStringLiteral("Listener disappeared"),
               QStringLiteral("Listener %1 on %2 is gone.").arg(gone.first(), host));
    else if (!gone.isEmpty())
        notify(Kind::ListenerGone, QStringLiteral("Listeners disappeared"),
               QStringLiteral("Listeners %1 on %2 are gone.")
                   .arg(gone.join(QStringLiteral(", ")), host));
}

void Notifier::processesChanged()
{
    // The process table lists the selected listener's processes.
    const QByteArray pin = m_session->selectedListener();
    if (pin.isEmpty() || m_session->linkState() != HostSession::LinkState::LoggedOn)
        return;
    checkLimits({{pin, m_session->processes()->rows()}});
}

void Notifier::setListenerCounts(const QHash<QByteArray, int>& counts)
{
    checkLimits(counts);
}

void Notifier::checkLimits(const QHash<QByteArray, int>& counts)
{
    QStringList reached;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const auto listener = m_listeners.constFind(it.key());
        if (listener == m_listeners.cend() || listener->limit <= 0)
            continue;
        if (it.value() < listener->limit) {
            m_atLimit.remove(it.key());
            continue;
        }
        // Told once when the limit is reached, again only after it eased.
        if (m_atLimit.contains(it.key()))
            continue;
        m_atLimit.insert(it.key());
        reached.append(QStringLiteral("Listener %1 (%2, port %3) has %4 of %5 %6.")
                           .arg(latin1(it.key()), latin1(listener->program), latin1(listener->port))
                           .arg(it.value())
                           .arg(listener->limit)
                           .arg(Plural::noun(listener->limit, "user", "users")));
    }
    if (!reached.isEmpty())
        notify(Kind::UserLimitReached, QStringLiteral("User limit reached on %1").arg(hostText()),
               reached.join(QLatin1Char('\n')));
}

void Notifier::notify(Kind kind, const QString& summary, const QString& body)
{
    if (!m_enabled[int(kind)] ||
        !m_limiter.allow(int(kind), hostKey(), QDateTime::currentMSecsSinceEpoch()))
        return;
    if (m_delivery)
        m_delivery(summary, body);
    else
        deliver(summary, body);
    Q_EMIT notified(kind, summary, body);
}

void Notifier::deliver(const QString& summary, const QString& body)
{
    const QString appName = QGuiApplication::applicationDisplayName();
    // Asked once: the answer takes a round trip on the bus.
    if (m_serviceState == 0)
        m_serviceState = notificationServiceExists() ? 1 : 2;
    if (m_serviceState == 1) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            ServiceName, QStringLiteral("/org/freedesktop/Notifications"), ServiceName,
            QStringLiteral("Notify"));
        call << appName << uint(0) << QStringLiteral("orvanite-console") << summary << body
             << QStringList() << QVariantMap() << int(-1);
        // No reply is awaited: a slow notification service never holds up
        // the window.
        QDBusConnection::sessionBus().call(call, QDBus::NoBlock);
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setIcon(QGuiApplication::windowIcon());
        m_tray->setToolTip(appName);
    }
    m_tray->show();
    m_tray->showMessage(summary, body);
}
