#pragma once

#include <QByteArray>
#include <QString>

// The exporter's own process as the usual process_* series describe it,
// read from /proc (the process's own entry, and the boot time for its start).
struct ProcessMetrics
{
    double cpuSeconds = 0;       // user and system time
    qint64 residentBytes = 0;    // resident set
    qint64 virtualBytes = 0;     // address space
    qint64 openFds = 0;          // descriptors open now
    double maxFds = 0;           // the soft limit
    double startTimeSeconds = 0; // since the epoch
    bool ok = false;             // false when /proc could not be read

    // Reads procRoot ("/proc") for the process pid ("self" for this one).
    static ProcessMetrics read(const QString& procRoot = QStringLiteral("/proc"),
                               const QString& pid = QStringLiteral("self"));
};
