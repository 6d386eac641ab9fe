#pragma once

#include "console/NotificationLimiter.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class HostSession;
class QSystemTrayIcon;

// Tells the operator on the desktop what happened while they looked away: the
// link to the host dropped or returned, a listener disappeared, a listener
// reached its user limit. Each kind can be switched off (kept in QSettings),
// and at most one of a kind per host per minute is shown. Notifications go to
// the desktop's notification service over D-Bus where there is one, and to a
// tray icon's message otherwise.
class Notifier : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        LinkDropped,
        LinkReturned,
        ListenerGone,
        UserLimitReached,
    };
    Q_ENUM(Kind)
    static constexpr int KindCount = 4;

    // The preference's menu text and its QSettings key.
    static QString kindTitle(Kind kind);
    static QString settingsKey(Kind kind);

    // How a notification reaches the desktop; tests replace it.
    using Delivery = std::function<void(const QString& summary, const QString& body)>;

    explicit Notifier(HostSession* session, QObject* parent = nullptr);
    ~Notifier() override;

    bool isEnabled(Kind kind) const { return m_enabled[int(kind)]; }
    // Switches a kind on or off and keeps the choice.
    void setEnabled(Kind kind, bool enabled);
    void setDelivery(Delivery delivery) { m_delivery = std::move(delivery); }
    // How the host is named in the notifications (as the window's title
    // names it); unset or empty: its address and port.
    void setHostName(std::function<QString()> name) { m_hostName = std::move(name); }

    // The operator ends the link (closing, loading another host, Configure):
    // the next drop is not news.
    void expectLinkEnd() { m_expectLinkEnd = true; }
    // The operator killed this listener: its going is not news.
    void expectListenerGone(const QByteArray& pin) { m_expectedGone.insert(pin); }
    // Process counts of all listeners, from a full count (empty when none ran).
    void setListenerCounts(const QHash<QByteArray, int>& counts);

Q_SIGNALS:
    // A notification was let through (and handed to the desktop).
    void notified(Notifier::Kind kind, const QString& summary, const QString& body);

private:
    struct Listener
    {
        QByteArray program;
        QByteArray port;
        int limit = 0; // 0: unlimited
    };
    void linkStateChanged();
    void checkDrop();
    void listenersChanged();
    void processesChanged();
    void checkLimits(const QHash<QByteArray, int>& counts);
    void notify(Kind kind, const QString& summary, const QString& body);
    void deliver(const QString& summary, const QString& body);
    // The host's address and port: which host a notification is about.
    QString hostKey() const;
    // The host as the notifications name it.
    QString hostText() const;

    HostSession* m_session;
    NotificationLimiter m_limiter;
    bool m_enabled[KindCount] = {true, true, true, true};
    Delivery m_delivery;
    std::function<QString()> m_hostName;
    QPointer<QSystemTrayIcon> m_tray;
    int m_serviceState = 0; // the desktop's service: 0 not asked yet, 1 there, 2 absent

    bool m_wasLoggedOn = false;
    bool m_dropped = false; // a drop was told; its return will be too
    bool m_dropCheckPending = false;
    bool m_expectLinkEnd = false;
    QString m_hostKey;
    QHash<QByteArray, Listener> m_listeners; // as last listed while logged on
    QSet<QByteArray> m_expectedGone;
    QSet<QByteArray> m_atLimit;
};
