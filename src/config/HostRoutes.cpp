#include "config/HostRoutes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

// Past this size the file is not a routes file: it is refused unread.
constexpr qint64 LargestFile = 4 * 1024 * 1024;

const char Header[] =
    "# SSH routes of Orvanite hosts: HOST:PORT DESTINATION, one a line.\n"
    "# Written by orvanite-console; read by orvanite-ctl and orvanite-exporter.\n";

bool sameHost(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// "host:port" or "[v6]:port" into its parts; false when it is neither.
bool splitKey(QByteArrayView text, QByteArray& host, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(':');
    if (colon <= 0)
        return false;
    QByteArrayView name = text.first(colon);
    if (name.startsWith('[')) {
        if (!name.endsWith(']') || name.size() < 3)
            return false;
        name = name.sliced(1, name.size() - 2);
    } else if (name.contains(':')) {
        return false;
    }
    bool ok = false;
    const QByteArrayView digits = text.sliced(colon + 1);
    const uint number = digits.toUInt(&ok);
    if (!ok || number > 65535 || digits.isEmpty() || digits.front() == '+')
        return false;
    host = name.toByteArray();
    port = quint16(number);
    return true;
}

} // namespace

QString HostRoutes::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/orvanite/routes");
}

QString HostRoutes::key(const QByteArray& host, quint16 port)
{
    const QString name = QString::fromLatin1(host);
    return (name.contains(u':') ? u'[' + name + u']' : name) + u':' + QString::number(port);
}

HostRoutes::HostRoutes(const QString& path) : m_path(path) {}

QByteArray HostRoutes::lineOf(const Route& r)
{
    return key(r.host, r.port).toLatin1() + ' ' + r.destination.toLocal8Bit();
}

bool HostRoutes::readRoute(QByteArrayView line, Route& r)
{
    const QList<QByteArray> words = line.toByteArray().simplified().split(' ');
    if (words.size() != 2 || !splitKey(words[0], r.host, r.port) || words[1].startsWith('-'))
        return false;
    r.destination = QString::fromLocal8Bit(words[1]);
    return true;
}

bool HostRoutes::load()
{
    m_routes.clear();
    m_error.clear();
    QFile file(m_path);
    // Only a file that is not there is an empty book; one that cannot be
    // looked at (a dangling link, a folder that cannot be searched) may hold
    // a host's route, which must not turn into a direct link.
    struct stat info;
    if (::lstat(QFile::encodeName(m_path).constData(), &info) != 0) {
        if (errno == ENOENT)
            return true;
        m_error = QStringLiteral("cannot read the routes file %1: %2")
                      .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_error =
            QStringLiteral("cannot read the routes file %1: %2").arg(m_path, file.errorString());
        return false;
    }
    if (file.size() > LargestFile) {
        m_error = QStringLiteral("the routes file %1 is larger than %2 bytes")
                      .arg(m_path)
                      .arg(LargestFile);
        return false;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        Route r;
        if (!readRoute(line, r)) {
            m_routes.clear();
            m_error = QStringLiteral("the routes file %1, line %2, is not "
                                     "\"HOST:PORT DESTINATION\": %3")
                          .arg(m_path)
                          .arg(i + 1)
                          .arg(QString::fromLocal8Bit(line));
            return false;
        }
        setRoute(r.host, r.port, r.destination);
    }
    return true;
}

bool HostRoutes::save()
{
    m_error.clear();
    // Every line must read back as it was meant: one the reader refuses
    // would stop every host's connection, not just this one's.
    for (const Route& r : std::as_const(m_routes)) {
        Route back;
        if (!readRoute(lineOf(r), back) || back.destination != r.destination) {
            m_error = QStringLiteral("the SSH route \"%1\" of %2 cannot be kept: a route is one "
                                     "[user@]host[:port] without spaces, not beginning with \"-\"")
                          .arg(r.destination, key(r.host, r.port));
            return false;
        }
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (file.open(QIODevice::WriteOnly)) {
        QByteArray text = Header;
        for (const Route& r : std::as_const(m_routes))
            text += lineOf(r) + '\n';
        file.write(text);
        if (file.commit())
            return true;
    }
    m_error = QStringLiteral("cannot write the routes file %1: %2").arg(m_path, file.errorString());
    return false;
}

QString HostRoutes::route(const QByteArray& host, quint16 port) const
{
    for (const Route& r : m_routes)
        if (r.port == port && sameHost(r.host, host))
            return r.destination;
    return {};
}

bool HostRoutes::setRoute(const QByteArray& host, quint16 port, const QString& destination)
{
    for (qsizetype i = 0; i < m_routes.size(); ++i) {
        Route& r = m_routes[i];
        if (r.port != port || !sameHost(r.host, host))
            continue;
        if (destination.isEmpty()) {
            m_routes.removeAt(i);
            return true;
        }
        if (r.destination == destination)
            return false;
        r.destination = destination;
        return true;
    }
    if (destination.isEmpty())
        return false;
    m_routes.append({host, port, destination});
    return true;
}

bool HostRoutes::lookUp(const QByteArray& host, quint16 port, QString& destination, QString& why)
{
    HostRoutes book;
    if (!book.load()) {
        destination.clear();
        why = book.error();
        return false;
    }
    destination = book.route(host, port);
    return true;
}
