#pragma once

#include "session/HostCensus.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <vector>

// Why a collection from a host failed; each has its own series of
// orvanite_collect_errors_total, shown from the start with 0.
enum class CollectError : int
{
    Connect,         // the connection could not be made
    LogonRefused,    // the host refused the logon values
    LogonFailed,     // the host could not create the server process
    Timeout,         // the host did not finish within the scrape's time
    Closed,          // the host closed the connection in the middle of a list
    BadReply,        // a reply that is not a frame, or a list without end
    MalformedRecord, // a record that could not be split (the list was still read)
};
inline constexpr int CollectErrorCount = 7;

// The reason label of each CollectError.
const char* collectErrorName(CollectError error);

// One listener as the exporter shows it: as the host's census found it.
using ListenerSample = ListenerCensus;

// One user process, kept only when per-process series are asked for. Its
// texts (its listener's PIN, its PIN, user and program) lie one after
// another in its HostSample's processText, so that a host of many processes
// costs two growing buffers rather than four small arrays each.
struct ProcessSample
{
    qsizetype at = 0; // where its texts begin in processText
    qint32 listenerSize = 0;
    qint32 pinSize = 0;
    qint32 userSize = 0;
    qint32 programSize = 0;
    qint64 cpuMs = 0;
};

// What the last collection from one host found. A host that is not up has
// no listeners or processes; its error counts run on across collections.
struct HostSample
{
    QString host; // the label: address:port
    QString via;  // the SSH destination the host is reached through; empty: direct
    bool up = false;
    double durationSeconds = 0;
    std::vector<ListenerSample> listeners;
    std::vector<ProcessSample> processes;
    QByteArray processText;      // the processes' texts
    qint64 processesOmitted = 0; // past the per-host limit of per-process series
    // After a refused logon: when the next logon is due (ms since the epoch);
    // 0 when the next collection logs on as usual.
    qint64 nextLogonMs = 0;
    std::array<quint64, CollectErrorCount> errors{};

    void addProcess(QByteArrayView listener, QByteArrayView pin, QByteArrayView user,
                    QByteArrayView program, qint64 cpuMs)
    {
        processes.push_back(ProcessSample{processText.size(), qint32(listener.size()),
                                          qint32(pin.size()), qint32(user.size()),
                                          qint32(program.size()), cpuMs});
        processText.append(listener).append(pin).append(user).append(program);
    }
    QByteArrayView listenerOf(const ProcessSample& p) const
    {
        return QByteArrayView(processText).sliced(p.at, p.listenerSize);
    }
    QByteArrayView pinOf(const ProcessSample& p) const
    {
        return QByteArrayView(processText).sliced(p.at + p.listenerSize, p.pinSize);
    }
    QByteArrayView userOf(const ProcessSample& p) const
    {
        return QByteArrayView(processText).sliced(p.at + p.listenerSize + p.pinSize, p.userSize);
    }
    QByteArrayView programOf(const ProcessSample& p) const
    {
        return QByteArrayView(processText)
            .sliced(p.at + p.listenerSize + p.pinSize + p.userSize, p.programSize);
    }
};
