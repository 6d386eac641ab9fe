#pragma once

#include "CtlCommandLine.h"
#include "CtlExit.h"
#include "CtlOutput.h"
#include "keyring/PasswordKeyring.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <optional>

class QIODevice;
class CtlSession;
class CtlFleet;
struct CtlFleetHost;
struct ConnectionSettings;

// orvanite-ctl's command layer: takes the arguments (without the program
// name), runs one command, writes its output and its messages, and returns the
// exit status. The program's main() only wires it to the standard streams and
// the signals; the tests run it in process.
class CtlRunner : public QObject
{
    Q_OBJECT

public:
    // in: where "config set FILE -" reads its KEY=VALUE lines; may be null.
    CtlRunner(QIODevice& out, QIODevice& err, QIODevice* in = nullptr);
    ~CtlRunner() override;

    // The output is a terminal: --watch redraws the screen.
    void setTerminal(bool terminal) { m_terminal = terminal; }

    int run(const QStringList& arguments);

    // Convenience for the tests: output and messages collected in byte arrays.
    static int run(const QStringList& arguments, QByteArray& out, QByteArray& err,
                   const QByteArray& in = {});

public Q_SLOTS:
    // SIGINT or SIGTERM: what runs ends at once, with Quit when logged on.
    void interrupt();

private:
    struct ListenerInfo;
    struct ProcessInfo;

    CtlExit dispatch(const CtlOptions& options);
    CtlExit runHostCommand(const CtlOptions& options, const CtlCommand& command);
    // The request's argument, with every check the command line allows made
    // before the host is reached; the command as the operator saw it too.
    static std::optional<QByteArray> checkedArgument(const CtlOptions& options,
                                                     const CtlCommand& command,
                                                     std::optional<HostCommand>& hostCommand);
    // A command other than a list: the checks against what is listed,
    // the command with its audit line, --verify and the list after it.
    CtlExit sendCommand(const CtlOptions& options, const CtlCommand& command,
                        const HostCommand& hostCommand);
    // How lists are written: the options' format, escaped for a terminal.
    RecordStyle style(const CtlOptions& options, bool jsonLines) const;
    CtlExit printList(const CtlOptions& options, CtlListKind kind,
                      const std::optional<QByteArray>& argument, bool jsonLines);
    CtlExit watch(const CtlOptions& options, CtlListKind kind,
                  const std::optional<QByteArray>& argument);
    CtlExit listListeners(QList<ListenerInfo>& listeners);
    CtlExit findProcess(const QByteArray& mainPin, const QByteArray& pin, ProcessInfo& found,
                        bool everyList = false);
    CtlExit checkListener(const CtlOptions& options, const QByteArray& pin, ListenerInfo& found);
    CtlExit sendAudited(const CtlOptions& options, HostCommand command,
                        const ListenerInfo& listener, const ProcessInfo& process);
    CtlExit checkProcess(const CtlOptions& options, const QByteArray& mainPin,
                         const QByteArray& pin, ProcessInfo& found);
    CtlExit verify(const CtlOptions& options, const CtlCommand& command,
                   const QList<QByteArray>& listenersBefore, const ProcessInfo& process);
    CtlExit listMany(const CtlOptions& options, const CtlCommand& command,
                     const std::optional<QByteArray>& argument);
    CtlExit hosts(const CtlOptions& options);
    CtlExit audit(const CtlOptions& options);
    QList<CtlFleetHost> fleetHosts(const CtlOptions& options);
    CtlExit configShow(const CtlOptions& options);
    CtlExit configSet(const CtlOptions& options);

    ConnectionSettings hostSettings(const CtlOptions& options);
    void loadSettings(const QString& path, ConnectionSettings& settings);
    // A file whose password fields are all empty: its host's passwords are
    // taken from the desktop keyring when it holds them (Done then).
    PasswordKeyring::Result keyringPasswords(const QString& path, ConnectionSettings& settings);
    // The same, for a logon: passwords kept in the keyring that cannot be
    // read end the command (exit status 11, with the reason).
    void requireKeyringPasswords(const QString& path, ConnectionSettings& settings);

    void error(const QString& text);

    CtlOutput m_output;
    QIODevice& m_err;
    QIODevice* m_in;
    CtlSession* m_session = nullptr;
    CtlFleet* m_fleet = nullptr;
    bool m_terminal = false;
    bool m_interrupted = false;
    bool m_writeFailed = false;
};
