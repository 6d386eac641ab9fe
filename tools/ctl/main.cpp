// orvanite-ctl: the console's commands for scripts and terminals.

#include "CtlRunner.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    // A host that hangs up while a request goes out, or a reader of the output
    // that stops early (| head), must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvanite-ctl"));

    QFile out;
    QFile err;
    QFile in;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    in.open(stdin, QIODevice::ReadOnly);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return CtlRunner(out, err, &in).Run(arguments);
}
