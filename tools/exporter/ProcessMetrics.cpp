#include "exporter/ProcessMetrics.h"

#include <QByteArrayList>
#include <QFile>

#include <dirent.h>
#include <unistd.h>

namespace {

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The files of /proc report a size of 0: read what comes.
    return file.read(64 * 1024);
}

// The boot time (btime of /proc/stat), in seconds since the epoch.
qint64 bootTime(const QString& procRoot)
{
    const QByteArray stat = readSmallFile(procRoot + QStringLiteral("/stat"));
    const qsizetype at = stat.indexOf("\nbtime ");
    if (at < 0)
        return 0;
    const qsizetype end = stat.indexOf('\n', at + 1);
    return stat.mid(at + 7, end < 0 ? -1 : end - at - 7).trimmed().toLongLong();
}

qint64 countEntries(const QString& folder, bool ownFolder)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    qint64 count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    // Our own descriptor that reads the folder is one of them while it is read.
    return ownFolder ? std::max<qint64>(0, count - 1) : count;
}

// The soft limit of "Max open files" in the limits file.
double maxOpenFiles(const QByteArray& limits)
{
    for (const QByteArray& line : limits.split('\n')) {
        if (!line.startsWith("Max open files"))
            continue;
        const QByteArrayList words = line.mid(14).simplified().split(' ');
        if (words.isEmpty())
            return 0;
        if (words.first() == "unlimited")
            return 18446744073709551615.0; // RLIM_INFINITY, as the kernel's own number
        return double(words.first().toLongLong());
    }
    return 0;
}

} // namespace

ProcessMetrics ProcessMetrics::read(const QString& procRoot, const QString& pid)
{
    ProcessMetrics m;
    const QString self = procRoot + u'/' + pid;
    const QByteArray stat = readSmallFile(self + QStringLiteral("/stat"));
    // The command's name, in parentheses, may hold spaces and parentheses:
    // the fields are counted from the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return m;
    const QByteArrayList fields = stat.mid(close + 2).trimmed().split(' ');
    // fields[0] is the state, field 3 of the line; field N is fields[N - 3].
    if (fields.size() < 22)
        return m;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    m.cpuSeconds = double(fields[11].toLongLong() + fields[12].toLongLong()) / ticks;
    m.startTimeSeconds = double(bootTime(procRoot)) + double(fields[19].toLongLong()) / ticks;
    m.virtualBytes = fields[20].toLongLong();
    m.residentBytes = fields[21].toLongLong() * pageSize;
    m.openFds = countEntries(self + QStringLiteral("/fd"), pid == QLatin1String("self"));
    m.maxFds = maxOpenFiles(readSmallFile(self + QStringLiteral("/limits")));
    m.ok = true;
    return m;
}
