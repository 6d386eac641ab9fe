// orvanite-hostsim: the simulated server job as a program, for the demo, for
// benchmarks and for trying the console against a misbehaving host.

#include "common/QuitOnSignals.h"
#include "hostsim/HostSim.h"
#include "hostsim/SimPopulation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace {

[[noreturn]] void usageError(const QString& message)
{
    std::fprintf(stderr, "orvanite-hostsim: %s\nTry 'orvanite-hostsim --help'.\n",
                 message.toLocal8Bit().constData());
    std::exit(2);
}

qint64 wholeNumber(const QCommandLineParser& parser, const QString& name, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < min || value > max)
        usageError(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                       .arg(name)
                       .arg(min)
                       .arg(max)
                       .arg(parser.value(name)));
    return value;
}

double seconds(const QCommandLineParser& parser, const QString& name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0 || value > 86400)
        usageError(QStringLiteral("--%1 wants seconds from 0 to 86400, not \"%2\"")
                       .arg(name, parser.value(name)));
    return value;
}

// Every option, with its help text.
void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("A simulated server job that speaks the console protocol over TCP.\n"
                       "Without --scenario or --processes it runs the demo population. "
                       "Each request received is logged to stderr, one line each."));
    parser.addHelpOption();
    parser.addVersionOption();
    auto option = [&](const char* name, const char* help, const char* value = nullptr,
                      const char* fallback = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value)
            o.setValueName(QString::fromLatin1(value));
        if (fallback)
            o.setDefaultValue(QString::fromLatin1(fallback));
        parser.addOption(o);
    };
    option("port", "TCP port to listen on; 0 picks a free one.", "N", "30000");
    option("listen", "Address to listen on (loopback unless given).", "ADDR", "127.0.0.1");
    option("demo", "Run the demo population: listeners whose users come and go.");
    option("scenario", "Load exact listeners and processes from a JSON file.", "FILE");
    option("processes", "Generate N processes spread over the listeners (up to 1000000).", "N");
    option("listeners", "With --processes: the number of listeners (default 7).", "N");
    option("prepared", "Encode each list reply once, when the population is built or changes, "
                       "and send it as one block (the same bytes).");
    option("user", "Logon user (default MANAGER).", "U");
    option("user-password", "Logon user password.", "P");
    option("group", "Logon group.", "G");
    option("group-password", "Logon group password.", "P");
    option("account", "Logon account (default SYS).", "A");
    option("account-password", "Logon account password.", "P");
    option("logon-extra", "The seventh logon field.", "X");
    option("reply-delay", "Fault: delay every reply by S seconds.", "S");
    option("logon-reply", "Fault: answer a correct logon with this character.", "C");
    option("logon-never", "Fault: never answer the logon.");
    option("close-during-logon", "Fault: close the connection once the logon arrived.");
    option("close-after-records", "Fault: close the connection after K records of a list.", "K");
    option("reset-after-records", "Fault: reset the connection after K records of a list.", "K");
    option("bad-header", "Fault: send 00x1 instead of the first header of a list.");
    option("split-writes", "Fault: write every byte on its own.");
    option("long-frame", "Fault: announce fewer bytes than the first record holds.");
    option("short-frame", "Fault: announce more bytes than the first record holds.");
    option("s-record-in-process-list", "Fault: add an S record to every process list.");
    option("never-ending-list", "Fault: lists never end; records keep coming.");
    option("trickle", "Fault: send one record of a list every S seconds.", "S");
    option("flood", "Fault: answer a list with this many bytes of endless frames.", "BYTES");
    option("silent", "Fault: accept connections and never answer anything.");
}

// The logon values the simulated job accepts.
void readCredentials(const QCommandLineParser& parser, HostSim& sim)
{
    const char* credentialOptions[] = {"user",           "user-password", "group",
                                       "group-password", "account",       "account-password",
                                       "logon-extra"};
    for (size_t i = 0; i < 7; ++i) {
        const QString name = QString::fromLatin1(credentialOptions[i]);
        if (parser.isSet(name))
            sim.Credentials[i] = parser.value(name).toLatin1();
    }
}

// The faults asked for.
void readFaults(const QCommandLineParser& parser, HostSimFaults& f)
{
    auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    auto name = [](const char* n) { return QString::fromLatin1(n); };
    if (isSet("reply-delay"))
        f.ReplyDelaySeconds = seconds(parser, name("reply-delay"));
    if (isSet("logon-reply")) {
        f.LogonReply = parser.value(name("logon-reply")).toLatin1();
        if (f.LogonReply.size() != 1)
            usageError(QStringLiteral("--logon-reply wants exactly one character"));
    }
    f.LogonNever = isSet("logon-never");
    f.CloseDuringLogon = isSet("close-during-logon");
    if (isSet("close-after-records"))
        f.CloseAfterRecords = int(wholeNumber(parser, name("close-after-records"), 0, 1000000000));
    if (isSet("reset-after-records"))
        f.ResetAfterRecords = int(wholeNumber(parser, name("reset-after-records"), 0, 1000000000));
    f.BadHeader = isSet("bad-header");
    f.SplitWrites = isSet("split-writes");
    f.LongFrame = isSet("long-frame");
    f.ShortFrame = isSet("short-frame");
    f.SRecordInProcessList = isSet("s-record-in-process-list");
    f.NeverEndingList = isSet("never-ending-list");
    if (isSet("trickle"))
        f.TrickleSeconds = seconds(parser, name("trickle"));
    if (isSet("flood"))
        f.FloodBytes = wholeNumber(parser, name("flood"), 0, qint64(1) << 40);
    f.Silent = isSet("silent");
}

// The listeners and processes: a scenario, a generated population or the
// demo. False when a scenario cannot be read (said on stderr).
bool readPopulation(const QCommandLineParser& parser, HostSim& sim)
{
    auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    auto name = [](const char* n) { return QString::fromLatin1(n); };
    if (isSet("scenario")) {
        QString error;
        if (!sim.loadScenario(parser.value(name("scenario")), &error)) {
            std::fprintf(stderr, "orvanite-hostsim: %s\n", error.toLocal8Bit().constData());
            return false;
        }
    } else if (isSet("processes")) {
        const int listeners =
            isSet("listeners") ? int(wholeNumber(parser, name("listeners"), 1, 10000)) : 7;
        sim.Listeners = SimPopulation::standardListeners(listeners, 1000);
        sim.populate(int(wholeNumber(parser, name("processes"), 0, 1000000)));
    } else {
        sim.loadDemo();
    }

    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvanite-hostsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORV_VERSION));

    // A usage error is status 2, as for the other programs (process() would
    // end with 1).
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("orvanite-hostsim %s\n", ORV_VERSION);
        return 0;
    }

    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments()[0]));
    const int populations = int(parser.isSet(QStringLiteral("demo"))) +
                            int(parser.isSet(QStringLiteral("scenario"))) +
                            int(parser.isSet(QStringLiteral("processes")));
    if (populations > 1)
        usageError(QStringLiteral("--demo, --scenario and --processes exclude each other"));
    if (parser.isSet(QStringLiteral("listeners")) && !parser.isSet(QStringLiteral("processes")))
        usageError(QStringLiteral("--listeners goes with --processes"));

    HostSim sim;
    readCredentials(parser, sim);
    readFaults(parser, sim.Faults);
    if (!readPopulation(parser, sim))
        return 1;
    auto isSet = [&](const char* name) { return parser.isSet(QString::fromLatin1(name)); };
    auto name = [](const char* n) { return QString::fromLatin1(n); };
    sim.setPrepared(isSet("prepared"));

    QObject::connect(&sim, &HostSim::logMessage, &app, [](const QString& line) {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    });
    QObject::connect(&sim, &HostSim::shutdownRequested, &app, [&app] {
        std::fprintf(stderr, "shutdown requested; exiting\n");
        // Leave the event loop once the closes of this pass have gone out.
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });

    const QString address = parser.value(name("listen"));
    QHostAddress host;
    if (!host.setAddress(address))
        usageError(QStringLiteral("--listen wants an IP address, not \"%1\"").arg(address));
    const auto port = quint16(wholeNumber(parser, name("port"), 0, 65535));
    if (!sim.listen(host, port)) {
        std::fprintf(stderr, "orvanite-hostsim: cannot listen on %s port %u: %s\n",
                     address.toLocal8Bit().constData(), unsigned(port),
                     sim.errorString().toLocal8Bit().constData());
        return 1;
    }
    if (!quitOnSignals(app, "signal received; stopping"))
        std::fprintf(stderr, "orvanite-hostsim: signals not watched\n");

    std::printf("listening on %s:%u\n", sim.serverAddress().toString().toLatin1().constData(),
                unsigned(sim.serverPort()));
    std::fflush(stdout);
    return app.exec();
}
