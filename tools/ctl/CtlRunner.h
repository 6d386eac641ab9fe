#pragma once

#include "CtlCommandLine.h"

#include <QByteArray>
#include <QStringList>

class QIODevice;
class CtlListing;
class CtlSession;
struct ConnectionSettings;

// orvanite-ctl's command layer: takes the arguments (without the program
// name), runs one command, writes its output and its messages, and returns the
// exit status. The program's main() only wires it to stdout and stderr; the
// tests run it in process.
class CtlRunner
{
public:
    // in: where "config set FILE -" reads its KEY=VALUE lines; may be null.
    CtlRunner(QIODevice& out, QIODevice& err, QIODevice* in = nullptr);

    int Run(const QStringList& arguments);

    // Convenience for the tests: output and messages collected in byte arrays.
    static int Run(const QStringList& arguments, QByteArray& out, QByteArray& err,
                   const QByteArray& in = {});

private:
    int Dispatch(const CtlOptions& options);
    int RunHostCommand(const CtlOptions& options);
    int ConfigShow(const CtlOptions& options);
    int ConfigSet(const CtlOptions& options);
    int ReadListeners(CtlSession& session, CtlListing& listing);
    int ReadProcesses(CtlSession& session, CtlListing& listing);

    ConnectionSettings HostSettings(const CtlOptions& options);
    void LoadSettings(const QString& path, ConnectionSettings& settings);

    void Print(const QByteArray& utf8);
    void Error(const QString& text);

    QIODevice& m_out;
    QIODevice& m_err;
    QIODevice* m_in;
};
