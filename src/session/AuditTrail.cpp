#include "session/AuditTrail.h"

#include "host_link/Wire.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>

#include <utility>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef ORV_HAVE_JOURNAL
#include <systemd/sd-journal.h>
#else
#include <syslog.h>
#endif

namespace {

QString localUser()
{
    if (const passwd* entry = getpwuid(getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(getuid());
}

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

void sendToJournal(const QJsonObject& entry, const QByteArray& line)
{
    // One readable sentence as the message; the whole entry beside it.
    const QString program = entry.value(QLatin1String("program")).toString();
    QString message;
    if (entry.contains(QLatin1String("command"))) {
        message = QStringLiteral("%1 %2 on %3:%4")
                      .arg(entry.value(QLatin1String("command")).toString(),
                           entry.value(QLatin1String("argument")).toString(),
                           entry.value(QLatin1String("host")).toString())
                      .arg(entry.value(QLatin1String("port")).toInt());
        const QString via = entry.value(QLatin1String("via")).toString();
        if (!via.isEmpty())
            message += QStringLiteral(" via ") + via;
    } else {
        message = QStringLiteral("effect of %1: %2")
                      .arg(entry.value(QLatin1String("refers_to")).toString(),
                           entry.value(QLatin1String("effect")).toString());
    }
    const QByteArray text = message.toLocal8Bit();
    const QByteArray identifier = program.toLocal8Bit();
#ifdef ORV_HAVE_JOURNAL
    sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=5", "SYSLOG_IDENTIFIER=%s",
                    identifier.constData(), "ORVANITE_AUDIT=%s", line.constData(), nullptr);
#else
    Q_UNUSED(line);
    openlog(identifier.constData(), LOG_PID, LOG_USER);
    syslog(LOG_NOTICE, "%s", text.constData());
#endif
}

} // namespace

QString AuditTrail::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/orvanite/audit.jsonl");
}

AuditTrail::AuditTrail(QString path) : m_path(std::move(path)) {}

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes the folders of path that are missing, each readable by its owner
// only whatever the umask. Empty when the folder is there; else why not.
QString makeFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? QString() : QStringLiteral("%1 is not a folder").arg(folder);
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder) {
        if (const QString failed = makeFolder(parent); !failed.isEmpty())
            return failed;
    }
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create %1: %2").arg(folder, systemError(errno));
    return QString();
}

} // namespace

bool AuditTrail::append(const QJsonObject& entry)
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    m_error.clear();
    const auto fail = [this](const QString& reason) {
        m_error = QStringLiteral("Audit trail not written: %1: %2").arg(m_path, reason);
        return false;
    };
    if (const QString failed = makeFolder(QFileInfo(m_path).absolutePath()); !failed.isEmpty()) {
        m_error = QStringLiteral("Audit trail not written: %1").arg(failed);
        return false;
    }
    // Never through a symbolic link, and never waiting on a FIFO put where
    // the trail belongs; O_APPEND keeps the lines of several programs whole
    // and in order.
    const QByteArray name = QFile::encodeName(m_path);
    const int fd =
        ::open(name.constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP)
            return fail(QStringLiteral("is a symbolic link, which the trail does not follow"));
        if (error == ENXIO)
            return fail(QStringLiteral("is not a regular file"));
        return fail(systemError(error));
    }
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return fail(systemError(errno));
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("is not a regular file"));
    if ((info.st_mode & 077) != 0 && ::fchmod(fd, info.st_mode & 0700) != 0)
        return fail(QStringLiteral("can be read by others (mode %1) and cannot be narrowed: %2")
                        .arg(info.st_mode & 0777, 4, 8, QLatin1Char('0'))
                        .arg(systemError(errno)));

    // One write: the line is whole in the file or not there at all. Bytes
    // of a line cut short (a full disk, a file size limit) are taken back,
    // so that the next line does not join them.
    const QByteArray record = line + '\n';
    ssize_t written = -1;
    do
        written = ::write(fd, record.constData(), std::size_t(record.size()));
    while (written < 0 && errno == EINTR);
    if (written == record.size()) {
        journal(entry);
        return true;
    }
    const int error = errno;
    if (written > 0) {
        // The part written is taken back, so that the next line starts a
        // line of its own; a trail that refuses even that is said to.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= written && ::ftruncate(fd, end - written) != 0)
            return fail(QStringLiteral("only %1 of the line's %2 bytes could be written, and "
                                       "they could not be taken back: %3")
                            .arg(written)
                            .arg(record.size())
                            .arg(systemError(errno)));
        return fail(QStringLiteral("only %1 of the line's %2 bytes could be written (the disk "
                                   "is full or the file at its size limit)")
                        .arg(written)
                        .arg(record.size()));
    }
    return fail(systemError(error));
}

void AuditTrail::journal(const QJsonObject& entry) const
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    if (m_journal)
        m_journal(entry, line);
    else
        sendToJournal(entry, line);
}

QList<QJsonObject> AuditTrail::entries() const
{
    QList<QJsonObject> out;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QJsonDocument document = QJsonDocument::fromJson(file.readLine());
        if (document.isObject())
            out.append(document.object());
    }
    return out;
}

CommandAudit::CommandAudit(HostSession* session, QString program, QObject* parent)
    : QObject(parent), m_session(session), m_program(std::move(program))
{
    session->setCommandRecorder([this](const HostCommand& command) { return record(command); });
    connect(session, &HostSession::commandSent, this, [this](const HostCommand&) {
        if (!m_pending.isEmpty())
            m_sent = true;
    });
    connect(session, &HostSession::busyChanged, this, [this](bool busy) {
        if (!busy)
            workDone();
    });
    // Shutdown Job is sent outside the work queue; its effect is the link
    // closing.
    connect(session, &HostSession::linkStateChanged, this, [this](HostSession::LinkState state) {
        if (state == HostSession::LinkState::Disconnected && !m_session->isBusy())
            workDone();
    });
}

CommandAudit::~CommandAudit()
{
    if (m_session)
        m_session->setCommandRecorder({});
    // Commands whose effect could not be looked at any more still get their
    // second line.
    if (!m_sent)
        return;
    for (const Pending& pending : std::exchange(m_pending, {}))
        writeEffect(pending, QStringLiteral("not seen"), {});
}

QString CommandAudit::record(const HostCommand& command)
{
    Pending pending{QUuid::createUuid().toString(QUuid::WithoutBraces), command, {}};
    if (command.kind == HostCommand::Kind::StartListener) {
        const ListenerTableModel* listeners = m_session->listeners();
        for (int row = 0; row < listeners->rows(); ++row)
            pending.listenersBefore.insert(listeners->cell(row, ListenerColumn::Pin).toByteArray());
    }
    QJsonObject entry{
        {QStringLiteral("id"), pending.id},
        {QStringLiteral("time"), now()},
        {QStringLiteral("user"), localUser()},
        {QStringLiteral("program"), m_program},
        {QStringLiteral("host"), QString::fromLatin1(m_session->settings().HostAddress)},
        {QStringLiteral("port"), int(m_session->settings().Port)},
        // The SSH route the command went through; null when it went direct.
        {QStringLiteral("via"), m_session->settings().SshDestination.isEmpty()
                                    ? QJsonValue(QJsonValue::Null)
                                    : QJsonValue(m_session->settings().SshDestination)},
        {QStringLiteral("command"), command.name()},
        {QStringLiteral("request"), QString(QLatin1Char(command.letter()))},
        {QStringLiteral("argument"),
         QString::fromLatin1(command.argument().value_or(QByteArray()))},
        {QStringLiteral("target"), command.target()},
    };
    const QString failed = write(entry,
                                 m_required ? QStringLiteral("the command was not sent")
                                            : QStringLiteral("the command was sent unrecorded"),
                                 !m_required);
    if (!failed.isEmpty() && m_required)
        return failed;
    m_pending.append(pending);
    m_sent = false;
    return QString();
}

void CommandAudit::workDone()
{
    if (m_pending.isEmpty() || !m_sent)
        return;
    const QList<Pending> done = std::exchange(m_pending, {});
    m_sent = false;
    const bool linkUp = m_session->linkState() == HostSession::LinkState::LoggedOn;
    const ListenerTableModel* listeners = m_session->listeners();
    const ProcessTableModel* processes = m_session->processes();
    for (const Pending& pending : done) {
        const HostCommand& t = pending.command;
        QString effect = QStringLiteral("not seen");
        QJsonObject detail;
        switch (t.kind) {
        case HostCommand::Kind::KillListener:
            if (linkUp && listeners->findPin(t.pin) < 0)
                effect = QStringLiteral("target gone");
            break;
        case HostCommand::Kind::KillProcess:
            // Seen only when the process list that followed is its listener's.
            if (linkUp && m_session->selectedListener() == t.listenerPin &&
                processes->findPin(t.pin) < 0)
                effect = QStringLiteral("target gone");
            break;
        case HostCommand::Kind::SetPriority: {
            const int row = processes->findPin(t.pin);
            if (linkUp && row >= 0 &&
                processes->cell(row, ProcessColumn::Priority) == Wire::priorityName(t.queueCode))
                effect = QStringLiteral("queue changed");
            break;
        }
        case HostCommand::Kind::StartListener:
            for (int row = 0; linkUp && row < listeners->rows(); ++row) {
                const QByteArray pin = listeners->cell(row, ListenerColumn::Pin).toByteArray();
                if (pending.listenersBefore.contains(pin))
                    continue;
                effect = QStringLiteral("listener appeared");
                detail.insert(QStringLiteral("pin"), QString::fromLatin1(pin));
                detail.insert(QStringLiteral("port"),
                              QString::fromLatin1(listeners->cell(row, ListenerColumn::Port)));
                break;
            }
            break;
        case HostCommand::Kind::ShutdownJob:
            if (!linkUp)
                effect = QStringLiteral("link closed");
            break;
        }
        writeEffect(pending, effect, detail);
    }
}

void CommandAudit::writeEffect(const Pending& pending, const QString& effect,
                               const QJsonObject& detail)
{
    QJsonObject entry{
        {QStringLiteral("time"), now()},        {QStringLiteral("user"), localUser()},
        {QStringLiteral("program"), m_program}, {QStringLiteral("refers_to"), pending.id},
        {QStringLiteral("effect"), effect},
    };
    if (!detail.isEmpty())
        entry.insert(QStringLiteral("seen"), detail);
    write(entry, QStringLiteral("the effect of a command is not recorded"), true);
    Q_EMIT effectSeen(pending.id, effect);
}

QString CommandAudit::write(const QJsonObject& entry, const QString& outcome, bool goesOut)
{
    if (m_trail.append(entry))
        return QString();
    if (goesOut)
        m_trail.journal(entry);
    const QString text = m_trail.errorString() + QStringLiteral("; ") + outcome + u'.';
    Q_EMIT writeFailed(text);
    if (!m_reported.contains(m_trail.errorString())) {
        m_reported.insert(m_trail.errorString());
        Q_EMIT writeFailedFirstTime(text);
    }
    return text;
}
