#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

// A request that changes the host, with its target as the operator saw it
// when choosing it (the row's texts, or the command line's operands). The
// session encodes the request from it, and the audit trail records it.
struct HostCommand
{
    enum class Kind
    {
        StartListener,
        KillListener,
        KillProcess,
        SetPriority,
        ShutdownJob,
    };

    // product, port, users and command as the dialog or the command line gave them.
    static HostCommand startListener(const QByteArray& product, const QByteArray& port,
                                     const QByteArray& users, const QByteArray& command);
    // The listener's row: its PIN, port and program.
    static HostCommand killListener(const QByteArray& pin, const QByteArray& port = {},
                                    const QByteArray& program = {});
    // The process's row (main PIN, PIN, program, user) and the listener whose
    // processes were listed.
    static HostCommand killProcess(const QByteArray& listenerPin, const QByteArray& mainPin,
                                   const QByteArray& pin, const QByteArray& program = {},
                                   const QByteArray& user = {});
    // queueCode: 2 CS, 3 DS, 4 ES (0: none chosen).
    static HostCommand setPriority(const QByteArray& listenerPin, const QByteArray& pin,
                                   int queueCode, const QByteArray& program = {},
                                   const QByteArray& user = {});
    static HostCommand shutdownJob();

    // The request letter and its argument as they go on the wire.
    char letter() const;
    std::optional<QByteArray> argument() const;
    // The tables are listed again after it (all but Shutdown Job).
    bool listsAfter() const { return kind != Kind::ShutdownJob; }
    // "kill-process", as the audit trail and orvanite-ctl name it.
    QString name() const;
    static QString name(Kind kind);
    // The target for the audit trail: listener, pin, program, user, port and
    // queue; empty fields are left out.
    QJsonObject target() const;

    Kind kind = Kind::ShutdownJob;
    QByteArray listenerPin; // whose processes were listed (kill process, set priority)
    QByteArray mainPin;     // kill process
    QByteArray pin;         // the listener's or the process's
    QByteArray product;     // start listener: the product number
    QByteArray port;
    QByteArray users;   // start listener: the user limit as given
    QByteArray program; // the row's program; start listener: the command
    QByteArray user;
    int queueCode = 0;
};

Q_DECLARE_METATYPE(HostCommand)
