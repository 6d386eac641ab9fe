#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class HostSession;

// The record of every request that changes a host, kept by every console and
// orvanite-ctl of this user: one JSON object per line in
// $XDG_STATE_HOME/orvanite/audit.jsonl (the file readable by its owner
// only), each also sent to the system journal. A command is one line when it
// goes out and a second line, referring to the first, with the effect seen
// afterwards.
class AuditTrail
{
public:
    // The trail's file: $XDG_STATE_HOME/orvanite/audit.jsonl, or
    // ~/.local/state/orvanite/audit.jsonl when XDG_STATE_HOME is not set.
    static QString defaultPath();

    explicit AuditTrail(QString path = defaultPath());
    const QString& path() const { return m_path; }

    // Appends entry as one line and sends it to the journal. On failure the
    // reason, for the operator, is in errorString(); the journal still gets
    // the entry.
    bool append(const QJsonObject& entry);
    QString errorString() const { return m_error; }

    // Every entry in the file, oldest first; lines that are not JSON objects
    // are skipped.
    QList<QJsonObject> entries() const;

private:
    QString m_path;
    QString m_error;
};

// Writes the audit lines of one session's commands: the command when it goes
// out, with the target as the operator saw it when confirming, and the effect
// seen once the work that follows it (the refresh) is done.
class CommandAudit : public QObject
{
    Q_OBJECT

public:
    enum class Command
    {
        StartListener,
        KillListener,
        KillProcess,
        SetPriority,
        ShutdownJob,
    };
    Q_ENUM(Command)

    // What the command is aimed at, as shown: empty fields are left out.
    struct Target
    {
        QByteArray listenerPin;
        QByteArray pin;
        QByteArray program;
        QByteArray user;
        QByteArray port;
        QByteArray queue; // the queue asked for (set priority)
    };

    CommandAudit(HostSession* session, QString program, QObject* parent = nullptr);
    ~CommandAudit() override;
    void setTrail(const AuditTrail& trail) { m_trail = trail; }
    const AuditTrail& trail() const { return m_trail; }

    // Call just before the session is asked to send the command; argument is
    // the request's argument as it will be sent. False when the trail could
    // not be written (errorString says why): the command still goes out.
    bool commandAboutToBeSent(Command command, const QByteArray& argument, const Target& target);
    QString errorString() const { return m_trail.errorString(); }

    static QString commandName(Command command);

Q_SIGNALS:
    // A line could not be written; text is for the status bar.
    void writeFailed(const QString& text);
    // The effect of a command was written.
    void effectSeen(const QString& id, const QString& effect);

private:
    struct Pending
    {
        QString id;
        Command command;
        Target target;
        QSet<QByteArray> listenersBefore;
    };
    void workDone();
    void writeEffect(const Pending& pending, const QString& effect, const QJsonObject& detail);
    bool write(const QJsonObject& entry);

    HostSession* m_session;
    QString m_program;
    AuditTrail m_trail;
    QList<Pending> m_pending;
    bool m_sent = false; // a pending command has gone out
};
