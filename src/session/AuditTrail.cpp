#include "session/AuditTrail.h"

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

bool AuditTrail::append(const QJsonObject& entry)
{
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact);
    sendToJournal(entry, line);

    m_error.clear();
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("Audit trail not written: cannot create %1").arg(folder);
        return false;
    }
    // Created readable by its owner only; O_APPEND keeps the lines of
    // several programs whole and in order.
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("Audit trail not written: %1: %2")
                      .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QByteArray record = line + '\n';
    qsizetype done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd, record.constData() + done, std::size_t(record.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = QStringLiteral("Audit trail not written: %1: %2")
                          .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return false;
        }
        done += n;
    }
    if (::close(fd) != 0) {
        m_error = QStringLiteral("Audit trail not written: %1: %2")
                      .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
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
    connect(session, &HostSession::commandSent, this, [this](char, const QByteArray&) {
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
    // Commands whose effect could not be looked at any more still get their
    // second line.
    if (!m_sent)
        return;
    for (const Pending& pending : std::exchange(m_pending, {}))
        writeEffect(pending, QStringLiteral("not seen"), {});
}

QString CommandAudit::commandName(Command command)
{
    switch (command) {
    case Command::StartListener:
        return QStringLiteral("start-listener");
    case Command::KillListener:
        return QStringLiteral("kill-listener");
    case Command::KillProcess:
        return QStringLiteral("kill-process");
    case Command::SetPriority:
        return QStringLiteral("set-priority");
    case Command::ShutdownJob:
        return QStringLiteral("shutdown-job");
    }
    return {};
}

bool CommandAudit::commandAboutToBeSent(Command command, const QByteArray& argument,
                                        const Target& target)
{
    static constexpr char Letters[] = {'S', 'K', 'K', 'P', 'E'};
    Pending pending{QUuid::createUuid().toString(QUuid::WithoutBraces), command, target, {}};
    if (command == Command::StartListener) {
        const ListenerTableModel* listeners = m_session->listeners();
        for (int row = 0; row < listeners->rows(); ++row)
            pending.listenersBefore.insert(listeners->cell(row, ListenerColumn::Pin).toByteArray());
    }

    QJsonObject shown;
    const auto put = [&shown](const char* key, const QByteArray& value) {
        if (!value.isEmpty())
            shown.insert(QLatin1String(key), QString::fromLatin1(value));
    };
    put("listener", target.listenerPin);
    put("pin", target.pin);
    put("program", target.program);
    put("user", target.user);
    put("port", target.port);
    put("queue", target.queue);

    QJsonObject entry{
        {QStringLiteral("id"), pending.id},
        {QStringLiteral("time"), now()},
        {QStringLiteral("user"), localUser()},
        {QStringLiteral("program"), m_program},
        {QStringLiteral("host"), QString::fromLatin1(m_session->settings().HostAddress)},
        {QStringLiteral("port"), int(m_session->settings().Port)},
        {QStringLiteral("command"), commandName(command)},
        {QStringLiteral("request"), QString(QLatin1Char(Letters[int(command)]))},
        {QStringLiteral("argument"), QString::fromLatin1(argument)},
        {QStringLiteral("target"), shown},
    };
    m_pending.append(pending);
    m_sent = false;
    return write(entry);
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
        const Target& t = pending.target;
        QString effect = QStringLiteral("not seen");
        QJsonObject detail;
        switch (pending.command) {
        case Command::KillListener:
            if (linkUp && listeners->findPin(t.pin) < 0)
                effect = QStringLiteral("target gone");
            break;
        case Command::KillProcess:
            // Seen only when the process list that followed is its listener's.
            if (linkUp && m_session->selectedListener() == t.listenerPin &&
                processes->findPin(t.pin) < 0)
                effect = QStringLiteral("target gone");
            break;
        case Command::SetPriority: {
            const int row = processes->findPin(t.pin);
            if (linkUp && row >= 0 && processes->cell(row, ProcessColumn::Priority) == t.queue)
                effect = QStringLiteral("queue changed");
            break;
        }
        case Command::StartListener:
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
        case Command::ShutdownJob:
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
    write(entry);
    Q_EMIT effectSeen(pending.id, effect);
}

bool CommandAudit::write(const QJsonObject& entry)
{
    if (m_trail.append(entry))
        return true;
    Q_EMIT writeFailed(m_trail.errorString());
    return false;
}
