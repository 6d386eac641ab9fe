// CtlRunner's commands over many hosts at once: a list of every host named
// (several --config) and the hosts summary.
#include "CtlRunner.h"
#include "CtlRunnerShared.h"

#include "CtlFleet.h"
#include "CtlListing.h"
#include "CtlUsageError.h"
#include "config/ConfigFile.h"
#include "config/ConnectionSettings.h"
#include "host_link/RecordDisplay.h"
#include "session/RecordLists.h"
#include "session/RecordWriter.h"

#include <QFileInfo>
#include <QIODevice>

QList<CtlFleetHost> CtlRunner::fleetHosts(const CtlOptions& options)
{
    QList<CtlFleetHost> hosts;
    if (options.ConfigPaths.isEmpty()) {
        CtlFleetHost host;
        host.settings = hostSettings(options);
        host.name = QStringLiteral("%1:%2")
                        .arg(QString::fromLatin1(host.settings.HostAddress))
                        .arg(host.settings.Port);
        return {host};
    }
    // A host is named by its file, without the folder and the .hcf; two
    // files of one name are told apart by their paths as given.
    for (const QString& given : options.ConfigPaths) {
        CtlFleetHost host;
        host.name = QFileInfo(given).fileName();
        if (host.name.endsWith(QStringLiteral(".hcf"), Qt::CaseInsensitive))
            host.name.chop(4);
        try {
            const QString path = ctlConfigPath(given, false);
            loadSettings(path, host.settings);
            requireKeyringPasswords(path, host.settings);
            if (host.settings.HostAddress.isEmpty())
                host.fault = QStringLiteral("%1: names no host").arg(path);
            else
                ctlTakeRoute(options.SshDestination, host.settings);
        } catch (const CtlConfigFault& e) {
            host.fault = e.text;
            host.faultStatus = e.status;
        }
        hosts << host;
    }
    QStringList names;
    for (const CtlFleetHost& h : std::as_const(hosts))
        names << h.name;
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        if (names.count(names[i]) > 1)
            hosts[i].name = options.ConfigPaths[i];
    }
    return hosts;
}

CtlExit CtlRunner::listMany(const CtlOptions& options, const CtlCommand& command,
                            const std::optional<QByteArray>& argument)
{
    if (options.WatchSeconds)
        throw CtlUsageError(QStringLiteral("--watch lists one host; give --config once"));
    const QList<CtlFleetHost> hosts = fleetHosts(options);
    const bool processes = command.list == CtlListKind::Processes;
    const std::unique_ptr<RecordWriter> printer = RecordWriter::create(
        style(options, false),
        processes ? RecordLists::processShape(true) : RecordLists::listenerShape(true), m_output);
    // Each host's rows go through its own sink as they are read; rows of
    // different hosts may follow one another in any order.
    std::vector<std::unique_ptr<HostColumnWriter>> columns;
    std::vector<std::unique_ptr<RecordSink>> sinks;
    QList<RecordSink*> perHost;
    for (const CtlFleetHost& h : hosts) {
        columns.push_back(std::make_unique<HostColumnWriter>(*printer, h.name.toLatin1()));
        sinks.push_back(std::make_unique<ListWriterSink>(*columns.back()));
        perHost << sinks.back().get();
    }
    CtlFleet fleet(hosts, options.TimeoutSeconds, options.ListTimeoutSeconds);
    connect(&fleet, &CtlFleet::message, this, [this](const QString& text) { error(text); });
    m_fleet = &fleet;
    const Wire::RecordKind kind = command.list == CtlListKind::Processes
                                      ? Wire::RecordKind::Process
                                      : Wire::RecordKind::Listener;
    const CtlExit status = m_interrupted
                               ? CtlExit::Interrupted
                               : fleet.readLists(command.request, argument, kind, perHost);
    m_fleet = nullptr;
    printer->finish();
    return status;
}

CtlExit CtlRunner::hosts(const CtlOptions& options)
{
    static const std::array<const char*, 8> Titles = {
        "Name", "Link", "Listeners", "Processes", "CPU Time", "Listed", "Reconnections", "Route"};
    static const std::array<const char*, 9> Keys = {"name",      "link",          "listeners",
                                                    "processes", "cpu_ms",        "cpu_seconds",
                                                    "listed",    "reconnections", "route"};
    const QList<CtlFleetHost> hosts = fleetHosts(options);
    if (m_interrupted)
        return CtlExit::Interrupted;
    CtlFleet fleet(hosts, options.TimeoutSeconds, options.ListTimeoutSeconds);
    connect(&fleet, &CtlFleet::message, this, [this](const QString& text) { error(text); });
    m_fleet = &fleet;
    CtlExit status = CtlExit::Success;
    const QList<CtlHostSummary> summaries = fleet.summaries(status);
    m_fleet = nullptr;
    if (status == CtlExit::Interrupted)
        return status;

    const std::unique_ptr<RecordWriter> printer =
        RecordWriter::create(style(options, false), RecordShape{Titles, Keys, 4}, m_output);
    for (const CtlHostSummary& s : summaries) {
        const QByteArray name = s.name.toLatin1();
        const QByteArray link = s.link.toLatin1();
        QByteArray listeners, processes, cpuShown, listed, listedShown;
        const CensusSummary& c = s.census;
        if (c.taken()) {
            listeners = QByteArray::number(c.listeners);
            processes = QByteArray::number(c.processes);
            cpuShown =
                RecordDisplay::CpuTimeText(c.cpuMs, RecordLists::decimalSeparator()).trimmed();
            listed = c.takenAt.toUTC().toString(Qt::ISODate).toLatin1();
            listedShown = c.takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
        }
        const QByteArray route = s.route.toLocal8Bit();
        const QByteArray routeShown = route.isEmpty() ? QByteArray("direct") : "via " + route;
        const std::array<QByteArrayView, 8> row = {name,     link,        listeners, processes,
                                                   cpuShown, listedShown, "0",       routeShown};
        const auto number = [&c](RecordValue v) { return c.taken() ? v : RecordValue::null(); };
        const std::array<RecordValue, 9> values = {
            RecordValue::ofText(name),
            RecordValue::ofText(link),
            number(RecordValue::integer(c.listeners)),
            number(RecordValue::integer(c.processes)),
            number(RecordValue::integer(c.cpuMs)),
            number(RecordValue::seconds(c.cpuMs)),
            c.taken() ? RecordValue::ofText(listed) : RecordValue::null(),
            RecordValue::integer(0),
            route.isEmpty() ? RecordValue::null() : RecordValue::ofText(route)};
        printer->record(row, values);
    }
    printer->finish();
    return status;
}
