#pragma once

#include "session/HostCommand.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

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

    // Appends entry as one line and, once it is written, sends it to the
    // journal. On failure the reason, for the operator, is in errorString()
    // and the journal gets nothing: an entry that stands for what is still
    // to be done goes there only when it is done all the same (journal()).
    bool append(const QJsonObject& entry);
    QString errorString() const { return m_error; }
    // Sends entry to the journal alone.
    void journal(const QJsonObject& entry) const;

    // Where journal entries go: the system journal (or syslog) unless set;
    // the entry and its JSON line.
    using JournalSink = std::function<void(const QJsonObject&, const QByteArray&)>;
    void setJournalSink(JournalSink sink) { m_journal = std::move(sink); }

    // Every entry in the file, oldest first; lines that are not JSON objects
    // are skipped.
    QList<QJsonObject> entries() const;

private:
    QString m_path;
    QString m_error;
    JournalSink m_journal;
};

// Writes the audit lines of one session's commands: the command just before
// it goes out (the session asks it), with the target as the operator saw it,
// and the effect seen once the work that follows it (the refresh) is done.
class CommandAudit : public QObject
{
    Q_OBJECT

public:
    // Becomes the session's command recorder.
    CommandAudit(HostSession* session, QString program, QObject* parent = nullptr);
    ~CommandAudit() override;
    void setTrail(const AuditTrail& trail) { m_trail = trail; }
    const AuditTrail& trail() const { return m_trail; }
    // With it, a command whose line cannot be written is not sent; without
    // it the command goes out all the same, and the operator is told.
    void setRequired(bool required) { m_required = required; }
    bool isRequired() const { return m_required; }

    // Writes the command's line. Empty when the command may go out; else
    // why not (the line could not be written and a line is required).
    QString record(const HostCommand& command);
    QString errorString() const { return m_trail.errorString(); }

Q_SIGNALS:
    // A line could not be written: the reason, and what became of the
    // command, for the status line.
    void writeFailed(const QString& text);
    // The same, the first time this cause is met: for a message box.
    void writeFailedFirstTime(const QString& text);
    // The effect of a command was written.
    void effectSeen(const QString& id, const QString& effect);

private:
    struct Pending
    {
        QString id;
        HostCommand command;
        QSet<QByteArray> listenersBefore;
    };
    void workDone();
    void writeEffect(const Pending& pending, const QString& effect, const QJsonObject& detail);
    // Empty when written; else the text told by writeFailed. The journal
    // gets the entry when it was written, or else when goesOut: what it
    // stands for happens unrecorded.
    QString write(const QJsonObject& entry, const QString& outcome, bool goesOut);

    QPointer<HostSession> m_session;
    QString m_program;
    AuditTrail m_trail;
    QList<Pending> m_pending;
    QSet<QString> m_reported; // causes already shown in a message box
    bool m_sent = false;      // a pending command has gone out
    bool m_required = false;
};
