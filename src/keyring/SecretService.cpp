#include "keyring/SecretService.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace {

const QString Service = QStringLiteral("org.freedesktop.secrets");
const QString ServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString ServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString ItemInterface = QStringLiteral("org.freedesktop.Secret.Item");
const QString CollectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString PromptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");

// The (oayays) of the Secret Service: a secret in a session.
struct SecretValue
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

} // namespace

Q_DECLARE_METATYPE(SecretValue)

namespace {

QDBusArgument& operator<<(QDBusArgument& a, const SecretValue& s)
{
    a.beginStructure();
    a << s.session << s.parameters << s.value << s.contentType;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, SecretValue& s)
{
    a.beginStructure();
    a >> s.session >> s.parameters >> s.value >> s.contentType;
    a.endStructure();
    return a;
}

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<SecretValue>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        return true;
    }();
    Q_UNUSED(done);
}

QString describe(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return QStringLiteral("no Secret Service on the session bus");
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        return QStringLiteral("the Secret Service did not answer");
    if (name == QLatin1String("org.freedesktop.Secret.Error.IsLocked"))
        return QStringLiteral("the keyring is locked");
    const QString message = reply.errorMessage();
    return message.isEmpty() ? name : message;
}

// The session bus named by DBUS_SESSION_BUS_ADDRESS, else the usual socket in
// XDG_RUNTIME_DIR; empty when there is none (nothing is started to get one).
QString sessionBusAddress()
{
    const QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!named.isEmpty())
        return named;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return QString();
}

} // namespace

// Waits for a prompt's Completed signal.
class PromptWatch : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    std::function<void(bool dismissed)> done;

public Q_SLOTS:
    void completed(bool dismissed, const QDBusVariant& result)
    {
        Q_UNUSED(result);
        if (auto call = std::exchange(done, {}))
            call(dismissed);
    }
};

SecretService::SecretService(int unlockTimeoutMs, QObject* parent)
    : QObject(parent), m_unlockTimeoutMs(unlockTimeoutMs), m_bus(QString())
{
    registerTypes();
}

SecretService::~SecretService() = default;

int SecretService::defaultUnlockTimeoutMs()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("ORVANITE_KEYRING_UNLOCK_TIMEOUT", &ok);
    if (ok && seconds >= 1 && seconds <= 3600)
        return seconds * 1000;
    return 30000;
}

void SecretService::open(std::function<void()> ok, Fail fail)
{
    const QString address = sessionBusAddress();
    if (address.isEmpty())
        return fail(QStringLiteral("no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is not set)"));
    // One connection per bus address: a process may meet more than one bus.
    m_connectionName = QStringLiteral("orvanite-keyring ") + address;
    m_bus = QDBusConnection::connectToBus(address, m_connectionName);
    if (!m_bus.isConnected()) {
        const QString why = m_bus.lastError().message();
        QDBusConnection::disconnectFromBus(m_connectionName);
        return fail(QStringLiteral("no D-Bus session bus at %1 (%2)").arg(address, why));
    }
    call(
        ServicePath, ServiceInterface, QStringLiteral("OpenSession"),
        {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))},
        [this, ok](const QDBusMessage& reply) {
            m_session = reply.arguments().value(1).value<QDBusObjectPath>();
            ok();
        },
        fail);
}

void SecretService::search(const Attributes& attributes,
                           std::function<void(QList<QDBusObjectPath>, QList<QDBusObjectPath>)> ok,
                           Fail fail)
{
    call(
        ServicePath, ServiceInterface, QStringLiteral("SearchItems"),
        {QVariant::fromValue(attributes)},
        [ok](const QDBusMessage& reply) {
            const QList<QVariant> args = reply.arguments();
            ok(qdbus_cast<QList<QDBusObjectPath>>(args.value(0)),
               qdbus_cast<QList<QDBusObjectPath>>(args.value(1)));
        },
        fail);
}

void SecretService::unlock(const QList<QDBusObjectPath>& objects, std::function<void()> ok,
                           Fail fail)
{
    call(
        ServicePath, ServiceInterface, QStringLiteral("Unlock"), {QVariant::fromValue(objects)},
        [this, ok, fail](const QDBusMessage& reply) {
            const QString path = reply.arguments().value(1).value<QDBusObjectPath>().path();
            if (path.isEmpty() || path == QLatin1String("/"))
                return ok();
            prompt(path, ok, fail);
        },
        fail);
}

void SecretService::prompt(const QString& path, std::function<void()> ok, Fail fail)
{
    auto* watch = new PromptWatch(this);
    const int seconds = m_unlockTimeoutMs / 1000;
    auto finish = [watch = QPointer<PromptWatch>(watch)](const std::function<void()>& then) {
        if (!watch || !watch->done)
            return; // answered already
        watch->done = {};
        watch->deleteLater();
        then();
    };
    watch->done = [watch, ok, fail](bool dismissed) {
        watch->deleteLater();
        if (dismissed)
            fail(QStringLiteral("the keyring is locked and unlocking it was cancelled"));
        else
            ok();
    };
    m_bus.connect(Service, path, PromptInterface, QStringLiteral("Completed"), watch,
                  SLOT(completed(bool, QDBusVariant)));
    // The operator has this long to unlock; then the prompt goes away.
    QTimer::singleShot(m_unlockTimeoutMs, watch, [this, path, finish, fail, seconds] {
        finish([&] {
            QDBusMessage dismiss = QDBusMessage::createMethodCall(Service, path, PromptInterface,
                                                                  QStringLiteral("Dismiss"));
            m_bus.call(dismiss, QDBus::NoBlock);
            fail(QStringLiteral("the keyring is locked and was not unlocked within %1 s")
                     .arg(seconds));
        });
    });
    call(
        path, PromptInterface, QStringLiteral("Prompt"), {QString()}, [](const QDBusMessage&) {},
        [finish, fail](const QString& why) {
            finish([&] {
                fail(QStringLiteral("the keyring is locked and cannot ask to be unlocked (%1)")
                         .arg(why));
            });
        });
}

void SecretService::secret(const QDBusObjectPath& item, std::function<void(QByteArray)> ok,
                           Fail fail)
{
    call(
        item.path(), ItemInterface, QStringLiteral("GetSecret"), {QVariant::fromValue(m_session)},
        [ok](const QDBusMessage& reply) {
            ok(qdbus_cast<SecretValue>(reply.arguments().value(0)).value);
        },
        fail);
}

void SecretService::create(const QString& label, const Attributes& attributes,
                           const QByteArray& secret, std::function<void()> ok, Fail fail)
{
    call(
        ServicePath, ServiceInterface, QStringLiteral("ReadAlias"), {QStringLiteral("default")},
        [=, this](const QDBusMessage& reply) {
            const QDBusObjectPath collection = reply.arguments().value(0).value<QDBusObjectPath>();
            if (collection.path().isEmpty() || collection.path() == QLatin1String("/"))
                return fail(QStringLiteral("the keyring has no default collection"));
            unlock(
                {collection},
                [=, this] {
                    QVariantMap properties;
                    properties.insert(QStringLiteral("org.freedesktop.Secret.Item.Label"), label);
                    properties.insert(QStringLiteral("org.freedesktop.Secret.Item.Attributes"),
                                      QVariant::fromValue(attributes));
                    const SecretValue value{
                        m_session, {}, secret, QStringLiteral("text/plain; charset=utf8")};
                    call(
                        collection.path(), CollectionInterface, QStringLiteral("CreateItem"),
                        {properties, QVariant::fromValue(value), true},
                        [ok](const QDBusMessage&) { ok(); }, fail);
                },
                fail);
        },
        fail);
}

void SecretService::remove(const QDBusObjectPath& item, std::function<void()> ok, Fail fail)
{
    call(
        item.path(), ItemInterface, QStringLiteral("Delete"), {},
        [ok](const QDBusMessage&) { ok(); }, fail);
}

void SecretService::call(const QString& path, const QString& interface, const QString& method,
                         const QList<QVariant>& arguments,
                         std::function<void(const QDBusMessage&)> ok, Fail fail, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, path, interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [ok = std::move(ok), fail = std::move(fail)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusMessage reply = w->reply();
                if (reply.type() == QDBusMessage::ErrorMessage)
                    fail(describe(reply));
                else
                    ok(reply);
            });
}

#include "SecretService.moc"
