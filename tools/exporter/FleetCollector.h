#pragma once

#include "exporter/HostTarget.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>
#include <vector>

class HostCollector;
class QTimer;

// Every host of the exporter, collected at once for a scrape. All sessions
// share this thread: nothing waits, so the slowest host costs its own
// deadline and nothing more. A scrape that arrives while a collection runs
// joins it, and is answered by its own deadline all the same: a host still
// being listed then shows as not up in that answer.
class FleetCollector : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QByteArray& exposition)>;

    FleetCollector(const QList<HostTarget>& targets, bool withProcesses, QObject* parent = nullptr);
    ~FleetCollector() override;

    // The most per-process series kept per host.
    void setProcessLimit(qint64 limit);

    // Collects every host, each within deadlineMs, then hands the exposition
    // to done, at the latest deadlineMs from now.
    void scrape(int deadlineMs, Done done);

private:
    struct Waiting
    {
        quint64 id;
        Done done;
        QTimer* deadline;
    };

    void hostFinished();
    void answerEarly(quint64 id);

    std::vector<HostCollector*> m_hosts;
    bool m_withProcesses;
    int m_running = 0;
    quint64 m_nextId = 0;
    std::vector<Waiting> m_waiting;
};
