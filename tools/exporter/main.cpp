// orvanite-exporter: the listeners and user processes of the hosts' server
// jobs as Prometheus metrics.

#include "exporter/ExporterOptions.h"
#include "exporter/FleetCollector.h"
#include "exporter/MetricsServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPair[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPair[1], &byte, 1);
}

// SIGTERM (systemd's stop) and SIGINT leave through the event loop, so that
// every session says Quit to its host before the program ends.
void stopOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPair[0], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

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
        std::printf("orvanite-exporter %s\n", ORV_VERSION);
        return 0;
    }

    FleetCollector fleet(options.hosts, options.collectProcesses);
    MetricsServer server(fleet, options.collectTimeoutMs);
    const quint16 port = server.listen(options.listenAddress, options.listenPort);
    if (port == 0) {
        std::fprintf(stderr, "orvanite-exporter: cannot listen on %s:%u\n",
                     options.listenAddress.toString().toLocal8Bit().constData(),
                     unsigned(options.listenPort));
        return 1;
    }
    // Tests and scripts that ask for port 0 read the port chosen from here.
    std::printf("listening on %s:%u, %lld host(s)\n",
                options.listenAddress.toString().toLocal8Bit().constData(), unsigned(port),
                qlonglong(options.hosts.size()));
    std::fflush(stdout);
    stopOnSignals(app);
    return app.exec();
}
