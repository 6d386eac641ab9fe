#pragma once

#include "exporter/HostTarget.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <functional>
#include <vector>

class HostCollector;

// Every host of the exporter, collected at once for a scrape. All sessions
// share this thread: nothing waits, so the slowest host costs its own
// deadline and nothing more. A scrape that arrives while a collection runs
// gets that collection's result.
class FleetCollector : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const QByteArray& exposition)>;

    FleetCollector(const QList<HostTarget>& targets, bool withProcesses, QObject* parent = nullptr);
    ~FleetCollector() override;

    // Collects every host, each within deadlineMs, then hands the exposition
    // to done.
    void scrape(int deadlineMs, Done done);

private:
    void hostFinished();

    std::vector<HostCollector*> m_hosts;
    bool m_withProcesses;
    int m_running = 0;
    std::vector<Done> m_waiting;
};
