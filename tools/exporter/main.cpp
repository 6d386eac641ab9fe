// orvanite-exporter: the listeners and user processes of the hosts' server
// jobs as Prometheus metrics.

#include "common/QuitOnSignals.h"
#include "exporter/BuildInfo.h"
#include "exporter/ExporterOptions.h"
#include "exporter/FleetCollector.h"
#include "exporter/MetricsServer.h"
#include "exporter/WebConfig.h"
#include "exporter/WebReloader.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // A host or a scraper that hangs up while we write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvanite-exporter"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    ExporterOptions options;
    QString error;
    if (!options.parse(arguments, QCoreApplication::applicationFilePath(), QDir::currentPath(),
                       error)) {
        std::fprintf(stderr, "orvanite-exporter: %s\nTry 'orvanite-exporter --help'.\n",
                     error.toLocal8Bit().constData());
        return 2;
    }
    if (options.action == ExporterOptions::Action::Help) {
        std::fputs(ExporterOptions::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.action == ExporterOptions::Action::Version) {
        std::fputs(BuildInfo::versionText().constData(), stdout);
        return 0;
    }
    ExporterLog::setLevel(options.logLevel);

    WebConfig web;
    if (!options.webConfigFile.isEmpty() && !web.load(options.webConfigFile, error)) {
        std::fprintf(stderr, "orvanite-exporter: %s\n", error.toLocal8Bit().constData());
        return 2;
    }

    FleetCollector fleet(options.hosts, options.collectProcesses);
    fleet.setProcessLimit(options.processLimit);
    MetricsServer server(fleet, options.collectTimeoutMs);
    server.setUsers(BasicAuth(web.users));
    ConnectionGuard::Limits limits;
    limits.idleMs = options.idleTimeoutMs;
    // SIGHUP reads the web configuration again, changed certificates are
    // read before the next connection; without a file it is ignored.
    std::unique_ptr<WebReloader> reloader;
    if (!options.webConfigFile.isEmpty())
        reloader = std::make_unique<WebReloader>(options.webConfigFile, web, server);
    if (!reloader || !reloader->reloadOnHangup())
        std::signal(SIGHUP, SIG_IGN);
    const quint16 port =
        server.start(options.listenAddress, options.listenPort, limits, web.tls, error);
    if (port == 0) {
        std::fprintf(stderr, "orvanite-exporter: cannot listen on %s:%u: %s\n",
                     options.listenAddress.toString().toLocal8Bit().constData(),
                     unsigned(options.listenPort), error.toLocal8Bit().constData());
        return 1;
    }
    // Tests and scripts that ask for port 0 read the port chosen from here.
    std::printf("listening on %s:%u, %lld host(s)\n",
                options.listenAddress.toString().toLocal8Bit().constData(), unsigned(port),
                qlonglong(options.hosts.size()));
    std::fflush(stdout);
    quitOnSignals(app);
    return app.exec();
}
