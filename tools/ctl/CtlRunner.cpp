#include "CtlRunner.h"
#include "CtlRunnerShared.h"

#include "CtlAuditView.h"
#include "CtlCompletion.h"
#include "CtlFleet.h"
#include "CtlHelp.h"
#include "CtlListing.h"
#include "CtlSession.h"
#include "CtlUsageError.h"
#include "config/ConfigFile.h"
#include "config/ConnectionSettings.h"
#include "config/HostRoutes.h"
#include "core/AppErrors.h"
#include "host_link/Wire.h"
#include "keyring/PasswordKeyring.h"
#include "session/AuditTrail.h"
#include "session/ListenerTableModel.h"
#include "session/RecordLists.h"
#include "session/RecordWriter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <array>

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace {

void checkOperands(const CtlOptions& options, const CtlCommand& command)
{
    const int count = int(options.Operands.size());
    const int max = CtlCommands::maximumOperands(command);
    if (count < CtlCommands::minimumOperands(command))
        throw CtlUsageError(QStringLiteral("%1: missing arguments").arg(options.Command));
    if (max >= 0 && count > max)
        throw CtlUsageError(QStringLiteral("%1: unexpected argument '%2'")
                                .arg(options.Command, options.Operands[max]));
}

} // namespace

CtlRunner::CtlRunner(QIODevice& out, QIODevice& err, QIODevice* in)
    : m_output(out), m_err(err), m_in(in)
{
    connect(&m_output, &CtlOutput::writeFailed, this, [this] {
        m_writeFailed = true;
        if (m_session)
            m_session->interrupt();
        if (m_fleet)
            m_fleet->interrupt();
    });
}

CtlRunner::~CtlRunner() = default;

int CtlRunner::run(const QStringList& arguments, QByteArray& out, QByteArray& err,
                   const QByteArray& in)
{
    QBuffer outBuffer(&out);
    QBuffer errBuffer(&err);
    QByteArray input = in;
    QBuffer inBuffer(&input);
    outBuffer.open(QIODevice::WriteOnly | QIODevice::Append);
    errBuffer.open(QIODevice::WriteOnly | QIODevice::Append);
    inBuffer.open(QIODevice::ReadOnly);
    return CtlRunner(outBuffer, errBuffer, &inBuffer).run(arguments);
}

void CtlRunner::interrupt()
{
    m_interrupted = true;
    if (m_session)
        m_session->interrupt();
    if (m_fleet)
        m_fleet->interrupt();
}

void CtlRunner::error(const QString& text)
{
    // What was printed so far goes first, so that a message follows the
    // records it is about.
    m_output.flush();
    for (const QString& line : text.split(u'\n')) {
        m_err.write("orvanite-ctl: ");
        m_err.write(line.toUtf8());
        m_err.write("\n");
    }
}

int CtlRunner::run(const QStringList& arguments)
{
    QString command;
    CtlExit status = CtlExit::Success;
    try {
        const CtlOptions options = CtlCommandLine::parse(arguments);
        command = options.Command;
        status = dispatch(options);
    } catch (const CtlUsageError& e) {
        error(e.message());
        if (CtlCommands::find(command))
            error(QStringLiteral("Usage: ") + CtlHelp::synopsis(command));
        error(QStringLiteral("Try 'orvanite-ctl --help' for more information."));
        status = CtlExit::Usage;
    } catch (const CtlConfigFault& e) {
        error(e.text);
        status = e.status;
    }
    m_output.flush();
    // A reader that has read what it wants and closed the pipe (| head) is
    // no failure: the program ends quietly, as the standard tools do, and
    // what was sent to the host before stays sent.
    if (m_writeFailed && m_output.readerGone())
        return CtlExits::code(CtlExit::Success);
    if (m_writeFailed) {
        error(QStringLiteral("cannot write the output: %1").arg(m_output.errorString()));
        return CtlExits::code(CtlExit::Network);
    }
    return CtlExits::code(status);
}

CtlExit CtlRunner::dispatch(const CtlOptions& options)
{
    if (options.Version) {
        m_output.write("orvanite-ctl " ORV_VERSION "\n");
        return CtlExit::Success;
    }
    if (options.Command.isEmpty()) {
        if (!options.Help)
            throw CtlUsageError(QStringLiteral("no command given"));
        m_output.write(CtlHelp::program().toUtf8());
        return CtlExit::Success;
    }
    if (options.Command == QStringLiteral("config") && !options.Help)
        throw CtlUsageError(QStringLiteral("config needs 'show' or 'set'"));
    if (options.Help) {
        const QString text = CtlHelp::command(options.Command);
        if (text.isEmpty())
            throw CtlUsageError(QStringLiteral("no command '%1'").arg(options.Command));
        m_output.write(text.toUtf8());
        return CtlExit::Success;
    }
    if (!options.Entry)
        throw CtlUsageError(QStringLiteral("no command '%1'").arg(options.Command));
    const CtlCommand& command = *options.Entry;
    checkOperands(options, command);

    switch (command.action) {
    case CtlAction::Host:
        return runHostCommand(options, command);
    case CtlAction::Hosts:
        return hosts(options);
    case CtlAction::Audit:
        return audit(options);
    case CtlAction::ConfigShow:
        return configShow(options);
    case CtlAction::ConfigSet:
        return configSet(options);
    case CtlAction::Completion: {
        const QByteArray script = CtlCompletion::script(options.Operands[0]);
        if (script.isEmpty())
            throw CtlUsageError(
                QStringLiteral("no completion for '%1' (bash or zsh)").arg(options.Operands[0]));
        m_output.write(script);
        return CtlExit::Success;
    }
    case CtlAction::Help: {
        if (options.Operands.isEmpty()) {
            m_output.write(CtlHelp::program().toUtf8());
            return CtlExit::Success;
        }
        const QString topic = options.Operands.join(u' ');
        const QString text = CtlHelp::command(topic);
        if (text.isEmpty())
            throw CtlUsageError(QStringLiteral("no command '%1'").arg(topic));
        m_output.write(text.toUtf8());
        return CtlExit::Success;
    }
    }
    return CtlExit::Usage;
}

void CtlRunner::loadSettings(const QString& path, ConnectionSettings& settings)
{
    // The console passes over a file it cannot open; a script is told.
    const QFileInfo info(path);
    if (info.isDir())
        throw CtlConfigFault{QStringLiteral("%1: is a folder, not a configuration file").arg(path)};
    // A FIFO or a device would hold the run until somebody writes to it.
    if (info.exists() && !info.isFile())
        throw CtlConfigFault{QStringLiteral("%1: not a regular file").arg(path)};
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        throw CtlConfigFault{QStringLiteral("%1: cannot open: %2").arg(path, probe.errorString())};
    probe.close();
    try {
        LoadConfigFile(path, settings);
    } catch (const EConfigLineTooLong& e) {
        throw CtlConfigFault{e.message()}; // names the file already
    } catch (const EAppError& e) {
        throw CtlConfigFault{QStringLiteral("%1: %2").arg(path, e.message())};
    }
}

PasswordKeyring::Result CtlRunner::keyringPasswords(const QString& path,
                                                    ConnectionSettings& settings)
{
    PasswordKeyring::Result answer;
    answer.outcome = PasswordKeyring::Outcome::NotFound;
    if (!PasswordKeyring::noPasswords(settings) || m_interrupted)
        return answer;
    // The program's one event loop runs until the keyring has answered; an
    // unlock prompt is bounded by its own time-out, every other call by
    // D-Bus's, and the whole by this one.
    bool answered = false;
    QEventLoop* loop = nullptr;
    QObject scope;
    PasswordKeyring::lookup(settings, path, &scope, [&](const PasswordKeyring::Result& r) {
        answer = r;
        answered = true;
        if (loop)
            loop->quit();
    });
    if (!answered)
        runCtlLoop(loop, PasswordKeyring::unlockTimeoutMs() + 30000);
    if (!answered) {
        answer.outcome = PasswordKeyring::Outcome::Unreadable;
        answer.message = QStringLiteral("the keyring did not answer");
    }
    if (answer.outcome == PasswordKeyring::Outcome::Done)
        PasswordKeyring::setPasswords(settings, answer.passwords);
    return answer;
}

void CtlRunner::requireKeyringPasswords(const QString& path, ConnectionSettings& settings)
{
    const PasswordKeyring::Result r = keyringPasswords(path, settings);
    // Never a logon with passwords that could not be read.
    if (r.outcome == PasswordKeyring::Outcome::Unreadable && !m_interrupted)
        throw CtlConfigFault{
            QStringLiteral("%1: %2").arg(path, PasswordKeyring::notReadText(settings, r.message)),
            CtlExit::PasswordUnavailable};
}

void ctlTakeRoute(const QString& sshOption, ConnectionSettings& settings)
{
    if (!sshOption.isEmpty()) {
        settings.SshDestination = sshOption;
        return;
    }
    QString why;
    if (!HostRoutes::lookUp(settings.HostAddress, settings.Port, settings.SshDestination, why))
        throw CtlConfigFault{why};
}

ConnectionSettings CtlRunner::hostSettings(const CtlOptions& options)
{
    ConnectionSettings settings;
    if (!options.ConfigPath.isEmpty()) {
        const QString path = ctlConfigPath(options.ConfigPath, false);
        loadSettings(path, settings);
        if (settings.HostAddress.isEmpty())
            throw CtlConfigFault{QStringLiteral("%1: names no host").arg(path)};
        requireKeyringPasswords(path, settings);
        ctlTakeRoute(options.SshDestination, settings);
        return settings;
    }
    if (!options.Host)
        throw CtlUsageError(QStringLiteral("no host: give --config FILE or --host HOST"));
    settings.HostAddress = CtlUsageError::latin1(*options.Host, QStringLiteral("--host"));
    if (settings.HostAddress.isEmpty())
        throw CtlUsageError(QStringLiteral("--host needs a host name or address"));
    if (options.Port) {
        const long long port = CtlCommands::decimal(*options.Port, 0, 65535);
        if (port < 0)
            throw CtlUsageError(
                QStringLiteral("--port takes 0 to 65535, not '%1'").arg(*options.Port));
        settings.Port = static_cast<quint16>(port);
    }
    if (options.User)
        settings.User = CtlUsageError::latin1(*options.User, QStringLiteral("--user"));
    if (options.Group)
        settings.Group = CtlUsageError::latin1(*options.Group, QStringLiteral("--group"));
    if (options.Account)
        settings.Account = CtlUsageError::latin1(*options.Account, QStringLiteral("--account"));
    ctlTakeRoute(options.SshDestination, settings);
    return settings;
}

CtlExit CtlRunner::runHostCommand(const CtlOptions& options, const CtlCommand& command)
{
    std::optional<HostCommand> hostCommand;
    const std::optional<QByteArray> argument = checkedArgument(options, command, hostCommand);
    if (options.ConfigPaths.size() > 1)
        return listMany(options, command, argument);
    const ConnectionSettings settings = hostSettings(options);
    if (m_interrupted)
        return CtlExit::Interrupted;

    CtlSession session(settings, options.TimeoutSeconds, options.ListTimeoutSeconds);
    connect(&session, &CtlSession::message, this, [this](const QString& text) { error(text); });
    m_session = &session;
    struct Forget
    {
        CtlSession*& session;
        ~Forget() { session = nullptr; }
    } forget{m_session};

    const CtlExit status = session.open();
    if (status != CtlExit::Success)
        return status;

    const bool listRequest =
        command.request == Wire::GetListeners || command.request == Wire::GetProcesses;
    try {
        if (!listRequest)
            return sendCommand(options, command, *hostCommand);
        if (options.WatchSeconds)
            return watch(options, command.list, argument);
        return printList(options, command.list, argument, false);
    } catch (const EAppError& e) {
        error(e.message());
        return CtlExit::Usage;
    }
}

std::optional<QByteArray> CtlRunner::checkedArgument(const CtlOptions& options,
                                                     const CtlCommand& command,
                                                     std::optional<HostCommand>& hostCommand)
{
    // Every argument is checked before the connection is made, so that a
    // mistyped command never reaches the host.
    std::optional<QByteArray> argument;
    if (command.command) {
        hostCommand = command.command(options.Operands);
        argument = hostCommand->argument();
    } else if (command.argument) {
        argument = command.argument(options.Operands);
    }
    if (command.request == Wire::ShutdownJob && !options.Yes)
        throw CtlUsageError(
            QStringLiteral("shutdown aborts all users of the server job; give --yes to confirm"));
    if (argument && argument->size() > Wire::MaxBody)
        throw CtlUsageError(QStringLiteral("the request is %1 bytes long; a request holds at "
                                           "most %2")
                                .arg(argument->size())
                                .arg(Wire::MaxBody));
    // The names compared with the host's lists must be its single-byte text.
    if (options.ExpectProgram)
        CtlUsageError::latin1(*options.ExpectProgram, QStringLiteral("NAME"));
    if (options.ExpectUser)
        CtlUsageError::latin1(*options.ExpectUser, QStringLiteral("NAME"));
    return argument;
}

CtlExit CtlRunner::sendCommand(const CtlOptions& options, const CtlCommand& command,
                               const HostCommand& hostCommand)
{
    // What is there before the command: the identity checks, and what
    // --verify and the audit compare with.
    CtlExit status = CtlExit::Success;
    QList<QByteArray> listenersBefore;
    ProcessInfo process;
    ListenerInfo listener;
    const bool killsListener = command.request == Wire::Kill && options.Operands.size() == 1;
    const bool killsProcess = command.request == Wire::Kill && options.Operands.size() == 2;
    if (command.request == Wire::StartListener) {
        // The audit tells a new listener by the ones listed before.
        status = m_session->listIntoTable();
        const ListenerTableModel* table = m_session->host().listeners();
        for (int row = 0; row < table->rows(); ++row)
            listenersBefore << table->cell(row, ListenerColumn::Pin).toByteArray();
    } else if (killsListener && (options.ExpectPort || options.Verify)) {
        status = checkListener(options, hostCommand.pin, listener);
    } else if (killsProcess && (options.ExpectProgram || options.ExpectUser || options.Verify)) {
        status = checkProcess(options, options.Operands[0].toLatin1(),
                              options.Operands[1].toLatin1(), process);
    } else if (command.request == Wire::SetPriority) {
        // Where the process is listed, so that the list after the
        // command shows its queue. A process not found is still asked.
        status = findProcess({}, options.Operands[0].toLatin1(), process);
    }
    if (status != CtlExit::Success)
        return status;

    status = sendAudited(options, hostCommand, listener, process);
    if (status != CtlExit::Success)
        return status;
    if (options.Verify)
        status = verify(options, command, listenersBefore, process);
    if (command.list != CtlListKind::None) {
        const CtlExit listed = printList(options, command.list, std::nullopt, false);
        if (status == CtlExit::Success)
            status = listed;
    }
    return status;
}

CtlExit CtlRunner::sendAudited(const CtlOptions& options, HostCommand command,
                               const ListenerInfo& listener, const ProcessInfo& process)
{
    // The trail gets the command just before it goes out, with its target
    // as listed here (or as the command line gave it), and then the effect
    // seen in the list that follows. A trail that cannot be written is
    // warned of; with --require-audit the command is not sent.
    CommandAudit audit(&m_session->host(), QStringLiteral("orvanite-ctl"));
    audit.setRequired(options.RequireAudit);
    connect(&audit, &CommandAudit::writeFailed, this, [this](const QString& text) { error(text); });
    QByteArray listedListener; // whose processes the list after the command shows
    switch (command.kind) {
    case HostCommand::Kind::KillListener:
        command.port = listener.port;
        command.program = listener.program;
        break;
    case HostCommand::Kind::KillProcess:
    case HostCommand::Kind::SetPriority:
        if (process.found) {
            command.listenerPin = process.listenerPin;
            command.program = process.program;
            command.user = process.user;
        } else if (command.kind == HostCommand::Kind::KillProcess) {
            // A main process is usually its listener.
            command.listenerPin = command.mainPin;
        }
        listedListener = command.listenerPin;
        break;
    case HostCommand::Kind::StartListener:
    case HostCommand::Kind::ShutdownJob:
        break;
    }
    if (command.kind == HostCommand::Kind::ShutdownJob)
        return m_session->shutdownJob(
            options.TimeoutSeconds.value_or(HostSession::DefaultReplyTimeout) * 1000);
    return m_session->sendAndList(command, listedListener);
}

RecordStyle CtlRunner::style(const CtlOptions& options, bool jsonLines) const
{
    RecordStyle s;
    switch (options.Format) {
    case CtlFormat::Table:
        s.format = RecordFormat::Table;
        break;
    case CtlFormat::Json:
        s.format = RecordFormat::Json;
        break;
    case CtlFormat::Csv:
        s.format = RecordFormat::Csv;
        break;
    case CtlFormat::Tsv:
        s.format = RecordFormat::KeyedTsv;
        break;
    }
    s.crlf = options.Crlf;
    s.noHeaders = options.NoHeaders;
    s.noAlign = options.NoAlign;
    s.jsonLines = jsonLines;
    s.terminal = m_terminal;
    return s;
}

namespace {

// Starts the list's writer at its first record, so that an empty list can
// still turn out to be no list at all (a listener that is not there) with
// nothing printed.
class FirstRecordSink : public RecordSink
{
public:
    FirstRecordSink(const RecordStyle& style, const RecordShape& shape, RecordOutput& out)
        : m_style(style), m_shape(shape), m_out(out)
    {
    }
    void record(const Wire::SplitResult& record, QByteArrayView body) override
    {
        start();
        m_sink->record(record, body);
    }
    void start()
    {
        if (m_writer)
            return;
        m_writer = RecordWriter::create(m_style, m_shape, m_out);
        m_sink.emplace(*m_writer);
    }
    bool started() const { return m_writer != nullptr; }
    void finish()
    {
        start();
        m_writer->finish();
    }

private:
    RecordStyle m_style;
    RecordShape m_shape;
    RecordOutput& m_out;
    std::unique_ptr<RecordWriter> m_writer;
    std::optional<ListWriterSink> m_sink;
};

// Whether two PINs name the same one: as numbers when both are plain
// decimals ("0012" is 12), else byte for byte.
bool samePin(QByteArrayView a, QByteArrayView b)
{
    const auto number = [](QByteArrayView text) -> std::optional<unsigned long long> {
        if (text.isEmpty() || text.size() > 18)
            return std::nullopt;
        unsigned long long n = 0;
        for (const char c : text) {
            if (c < '0' || c > '9')
                return std::nullopt;
            n = n * 10 + unsigned(c - '0');
        }
        return n;
    };
    const auto x = number(a);
    const auto y = number(b);
    return x && y ? *x == *y : a == b;
}

} // namespace

CtlExit CtlRunner::printList(const CtlOptions& options, CtlListKind kind,
                             const std::optional<QByteArray>& argument, bool jsonLines)
{
    const bool processes = kind == CtlListKind::Processes;
    FirstRecordSink sink(style(options, jsonLines),
                         processes ? RecordLists::processShape() : RecordLists::listenerShape(),
                         m_output);
    const CtlExit status =
        processes
            ? m_session->readList(Wire::GetProcesses, argument, Wire::RecordKind::Process, sink)
            : m_session->readList(Wire::GetListeners, argument, Wire::RecordKind::Listener, sink);
    // The host answers an empty list for a listener it does not have: the
    // listeners tell the two apart. One that is not there prints nothing,
    // in every format, and is an error of its own.
    if (status == CtlExit::Success && processes && argument && !sink.started() && !m_interrupted &&
        !m_writeFailed) {
        QList<ListenerInfo> listeners;
        const CtlExit listed = listListeners(listeners);
        if (listed != CtlExit::Success)
            return listed;
        const bool there =
            std::any_of(listeners.cbegin(), listeners.cend(),
                        [&argument](const ListenerInfo& l) { return samePin(l.pin, *argument); });
        if (!there) {
            QByteArray shown;
            RecordText::appendTerminalText(shown, *argument);
            error(QStringLiteral("no listener %1 is listed").arg(QString::fromUtf8(shown)));
            return CtlExit::NotFound;
        }
    }
    sink.finish();
    return status;
}

CtlExit CtlRunner::watch(const CtlOptions& options, CtlListKind kind,
                         const std::optional<QByteArray>& argument)
{
    // On a terminal each list replaces the last on the screen; into a pipe
    // the lists follow one another, a JSON list as one line.
    const bool jsonLines = !m_terminal && options.Format == CtlFormat::Json;
    for (int round = 0;; ++round) {
        if (m_terminal)
            m_output.write("\x1b[H\x1b[2J");
        else if (round > 0 && options.Format == CtlFormat::Table)
            m_output.write("\n");
        const CtlExit status = printList(options, kind, argument, jsonLines);
        m_output.flush();
        if (m_interrupted)
            return CtlExit::Success;
        if (status != CtlExit::Success)
            return status;
        if (!m_session->pause(*options.WatchSeconds * 1000))
            return m_writeFailed ? CtlExit::Network : CtlExit::Success;
    }
}

CtlExit CtlRunner::audit(const CtlOptions& options)
{
    // The trail is this user's file; no host is asked.
    const AuditTrail trail;
    CtlAuditView::print(trail.entries(), style(options, false), options.Filter, options.Limit,
                        m_output);
    return CtlExit::Success;
}
