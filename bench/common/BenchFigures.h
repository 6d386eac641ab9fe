#pragma once

#include <QLatin1Char>
#include <QString>
#include <QStringList>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <vector>

// The middle value of a set of runs (the upper one of an even count); 0 when
// there was none.
inline double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The most resident memory this process has held so far, in KiB.
inline long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A monotonic clock reading in nanoseconds, the same in every process.
inline qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The runs as a comma-separated list for a JSON array, each with `decimals`
// digits after the point.
inline QString joinRuns(const std::vector<double>& values, int decimals)
{
    QStringList texts;
    for (double v : values)
        texts.append(QString::number(v, 'f', decimals));
    return texts.join(QLatin1Char(','));
}
