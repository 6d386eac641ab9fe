#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <time.h>
#include <unistd.h>

// User plus system CPU time of a process in clock ticks, -1 when unreadable.
inline qint64 processCpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name is in parentheses and may hold blanks: fields are
    // counted from after its closing one (state is field 3, utime 14, stime 15).
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

// CPU time of every thread of a process in nanoseconds, -1 when unreadable:
// the scheduler's own count, finer than clock ticks, else user plus system
// time from its stat line (whole clock ticks, 10 ms as a rule).
inline qint64 processCpuNs(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    qint64 sum = 0;
    int threads = 0;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (!schedstat.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 ns = schedstat.readAll().split(' ').value(0).toLongLong(&ok);
        if (ok) {
            sum += ns;
            ++threads;
        }
    }
    if (threads > 0)
        return sum;
    const qint64 ticks = processCpuTicks(pid);
    return ticks < 0 ? -1 : ticks * 1'000'000'000 / sysconf(_SC_CLK_TCK);
}

// CPU time this process has used so far (every thread), in nanoseconds.
inline qint64 selfCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}
