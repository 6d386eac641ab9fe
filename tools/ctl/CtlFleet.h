#pragma once

#include "CtlExit.h"
#include "config/ConnectionSettings.h"
#include "host_link/Wire.h"
#include "session/HostCensus.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QEventLoop;
class RecordSink;

// One host of a run over several: its name as printed and its settings, or
// why its configuration file cannot be used.
struct CtlFleetHost
{
    QString name;
    ConnectionSettings settings;
    QString fault; // not empty: the host is not asked, and this is its error
    CtlExit faultStatus = CtlExit::Config; // the host's exit status for its fault
};

// What the hosts command shows of one host.
struct CtlHostSummary
{
    QString name;
    CtlExit status = CtlExit::Success;
    QString link;         // "connected", or the first error of the host
    CensusSummary census; // taken(): every list was read
    QString route;        // the SSH destination the host was reached through; empty: direct
};

// Several hosts asked at once: one connection each, all served by the one
// event loop, so that a slow or silent host holds up nobody else. A host that
// fails says so in its own message lines and leaves the others to go on.
class CtlFleet : public QObject
{
    Q_OBJECT

public:
    CtlFleet(QList<CtlFleetHost> hosts, std::optional<int> timeoutSeconds,
             std::optional<int> listTimeoutSeconds, QObject* parent = nullptr);
    ~CtlFleet() override;

    // Asks every host for the same list; each host's records go to its own
    // sink (sinks[i] for hosts[i]) as they are read. The status is that of
    // the first host, in the given order, that failed.
    CtlExit readLists(char letter, const std::optional<QByteArray>& argument, Wire::RecordKind kind,
                      const QList<RecordSink*>& sinks);

    // Lists every host's listeners and the processes of each, and sums them.
    QList<CtlHostSummary> summaries(CtlExit& status);

    // Ends at once what runs, each host with Quit when logged on.
    void interrupt();

Q_SIGNALS:
    // A message line about one host, beginning with its name.
    void message(const QString& text);

private:
    struct Job;
    CtlExit run(bool summary, char letter, const std::optional<QByteArray>& argument,
                Wire::RecordKind kind, const QList<RecordSink*>& sinks);
    void advance(Job& job);
    void beginProcesses(Job& job);
    void afterBegin(Job& job);
    void finish(Job& job, CtlExit status);

    QList<CtlFleetHost> m_hosts;
    std::optional<int> m_timeout;
    std::optional<int> m_listTimeout;
    std::vector<std::unique_ptr<Job>> m_jobs;
    char m_letter = 0;
    std::optional<QByteArray> m_argument;
    Wire::RecordKind m_kind = Wire::RecordKind::Listener;
    QEventLoop* m_loop = nullptr;
    int m_running = 0;
    bool m_interrupted = false;
};
