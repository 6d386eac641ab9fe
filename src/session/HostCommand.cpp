#include "session/HostCommand.h"

#include "host_link/Wire.h"

HostCommand HostCommand::startListener(const QByteArray& product, const QByteArray& port,
                                       const QByteArray& users, const QByteArray& command)
{
    HostCommand c;
    c.kind = Kind::StartListener;
    c.product = product;
    c.port = port;
    c.users = users;
    c.program = command;
    return c;
}

HostCommand HostCommand::killListener(const QByteArray& pin, const QByteArray& port,
                                      const QByteArray& program)
{
    HostCommand c;
    c.kind = Kind::KillListener;
    c.pin = pin;
    c.port = port;
    c.program = program;
    return c;
}

HostCommand HostCommand::killProcess(const QByteArray& listenerPin, const QByteArray& mainPin,
                                     const QByteArray& pin, const QByteArray& program,
                                     const QByteArray& user)
{
    HostCommand c;
    c.kind = Kind::KillProcess;
    c.listenerPin = listenerPin;
    c.mainPin = mainPin;
    c.pin = pin;
    c.program = program;
    c.user = user;
    return c;
}

HostCommand HostCommand::setPriority(const QByteArray& listenerPin, const QByteArray& pin,
                                     int queueCode, const QByteArray& program,
                                     const QByteArray& user)
{
    HostCommand c;
    c.kind = Kind::SetPriority;
    c.listenerPin = listenerPin;
    c.pin = pin;
    c.queueCode = queueCode;
    c.program = program;
    c.user = user;
    return c;
}

HostCommand HostCommand::shutdownJob()
{
    return HostCommand();
}

char HostCommand::letter() const
{
    switch (kind) {
    case Kind::StartListener:
        return Wire::StartListener;
    case Kind::KillListener:
    case Kind::KillProcess:
        return Wire::Kill;
    case Kind::SetPriority:
        return Wire::SetPriority;
    case Kind::ShutdownJob:
        break;
    }
    return Wire::ShutdownJob;
}

std::optional<QByteArray> HostCommand::argument() const
{
    switch (kind) {
    case Kind::StartListener:
        return Wire::startListenerArgument(product, port, users, program);
    case Kind::KillListener:
        return Wire::killListenerArgument(pin);
    case Kind::KillProcess:
        return Wire::killProcessArgument(mainPin, pin);
    case Kind::SetPriority:
        return Wire::setPriorityArgument(pin, queueCode);
    case Kind::ShutdownJob:
        break;
    }
    return std::nullopt;
}

QString HostCommand::name() const
{
    return name(kind);
}

QString HostCommand::name(Kind kind)
{
    switch (kind) {
    case Kind::StartListener:
        return QStringLiteral("start-listener");
    case Kind::KillListener:
        return QStringLiteral("kill-listener");
    case Kind::KillProcess:
        return QStringLiteral("kill-process");
    case Kind::SetPriority:
        return QStringLiteral("set-priority");
    case Kind::ShutdownJob:
        break;
    }
    return QStringLiteral("shutdown-job");
}

QJsonObject HostCommand::target() const
{
    QJsonObject shown;
    const auto put = [&shown](const char* key, QByteArrayView value) {
        if (!value.isEmpty())
            shown.insert(QLatin1String(key), QString::fromLatin1(value));
    };
    put("listener", listenerPin);
    put("pin", pin);
    put("program", program);
    put("user", user);
    put("port", port);
    put("queue", Wire::priorityName(queueCode));
    return shown;
}
