// orvanite-ctl: the console's commands for scripts and terminals.

#include "CtlRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM reach the event loop through a socket pair, so that the
// command ends with Quit to the host. A second signal ends the program at once.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int)
{
    if (signalled)
        _exit(130);
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    // A host that hangs up while a request goes out must give an error, not
    // end the program; a reader of the output that stops early (| head) ends
    // the run quietly, with Quit to the host and exit status 0.
    std::signal(SIGPIPE, SIG_IGN);
    // Output, a message or an audit line that goes past the file-size limit
    // (ulimit -f) must fail its write (EFBIG, "File too large"), not end the
    // program half-way through a list: output gives exit status 1, an audit
    // line is taken back and reported.
    std::signal(SIGXFSZ, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvanite-ctl"));

    QFile out;
    QFile err;
    QFile in;
    // On the descriptors, not the C streams: every write goes straight out
    // and reports its own failure (a reader that went away).
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    in.open(STDIN_FILENO, QIODevice::ReadOnly);

    CtlRunner runner(out, err, &in);
    runner.setTerminal(::isatty(STDOUT_FILENO) == 1);

    std::unique_ptr<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &runner, [&runner] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
            runner.interrupt();
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return runner.run(arguments);
}
