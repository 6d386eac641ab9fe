#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;

// A client of the freedesktop Secret Service on the session bus: one plain
// session, searches by attributes, secrets read and items made or deleted.
// Every call returns at once and answers through exactly one of its two
// callbacks on the thread's event loop, unless this object has gone by then.
// A failure's text says why, for the operator ("no Secret Service on the
// session bus").
class SecretService : public QObject
{
    Q_OBJECT

public:
    using Attributes = QMap<QString, QString>;
    using Fail = std::function<void(const QString& why)>;

    // unlockTimeoutMs bounds the wait for the operator to unlock a locked
    // keyring when the service asks (the prompt is dismissed after it).
    SecretService(int unlockTimeoutMs, QObject* parent);
    ~SecretService() override;

    // Connects to the session bus and opens a session with the service.
    void open(std::function<void()> ok, Fail fail);
    // The items whose attributes include these, unlocked ones and locked ones.
    void
    search(const Attributes& attributes,
           std::function<void(QList<QDBusObjectPath> unlocked, QList<QDBusObjectPath> locked)> ok,
           Fail fail);
    // Unlocks items or collections; where the service asks the operator, the
    // answer is waited for no longer than the unlock bound.
    void unlock(const QList<QDBusObjectPath>& objects, std::function<void()> ok, Fail fail);
    void secret(const QDBusObjectPath& item, std::function<void(QByteArray)> ok, Fail fail);
    // Makes (or replaces: same attributes) an item in the default collection,
    // unlocking it first.
    void create(const QString& label, const Attributes& attributes, const QByteArray& secret,
                std::function<void()> ok, Fail fail);
    void remove(const QDBusObjectPath& item, std::function<void()> ok, Fail fail);

    // The unlock bound: ORVANITE_KEYRING_UNLOCK_TIMEOUT seconds when set
    // (1 to 3600), else 30 s.
    static int defaultUnlockTimeoutMs();

private:
    void call(const QString& path, const QString& interface, const QString& method,
              const QList<QVariant>& arguments, std::function<void(const QDBusMessage&)> ok,
              Fail fail, int timeoutMs = 10000);
    void prompt(const QString& path, std::function<void()> ok, Fail fail);

    int m_unlockTimeoutMs;
    QString m_connectionName;
    QDBusConnection m_bus;
    QDBusObjectPath m_session;
};
