#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// CPU time of every thread of a process, in nanoseconds (the scheduler's own
// count, finer than clock ticks).
inline qint64 processCpuNs(qint64 pid)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').first().toLongLong();
    }
    return total;
}

#include <time.h>

// CPU time this process has used so far (every thread), in nanoseconds.
inline qint64 selfCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}
