#include "CtlRunner.h"

#include "CtlCompletion.h"
#include "CtlHelp.h"
#include "CtlListPrinter.h"
#include "CtlListing.h"
#include "CtlSession.h"
#include "CtlUsageError.h"
#include "config/ConfigFile.h"
#include "config/ConfigLocation.h"
#include "config/ConnectionSettings.h"
#include "host_link/AppErrors.h"
#include "host_link/RecordDisplay.h"
#include "host_link/Wire.h"
#include "session/TableColumns.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QLocale>

#include <array>
#include <charconv>
#include <random>

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace {

// A configuration file that cannot be used: exit status 5 with the text.
struct ConfigFault
{
    QString text;
};

const QByteArray Masked = QByteArrayLiteral("********");

// The settings of a file as its keys, in the order of config show.
struct SettingKey
{
    const char* key;
    QByteArray ConnectionSettings::*member; // null for port and refresh_interval
    bool password;
};

const std::array<SettingKey, 10> SettingKeys = {{
    {"host", &ConnectionSettings::HostAddress, false},
    {"port", nullptr, false},
    {"user", &ConnectionSettings::User, false},
    {"user_password", &ConnectionSettings::UserPassword, true},
    {"group", &ConnectionSettings::Group, false},
    {"group_password", &ConnectionSettings::GroupPassword, true},
    {"account", &ConnectionSettings::Account, false},
    {"account_password", &ConnectionSettings::AccountPassword, true},
    {"logon_extra", &ConnectionSettings::LogonExtra, false},
    {"refresh_interval", nullptr, false},
}};

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

char decimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode())
                                                          : '.';
}

// A field the host sends as decimal text is a JSON number when the text is one
// as it stands (no sign, no leading zero, at most 18 digits); otherwise the
// host's text is kept, as a string, so that nothing it sent is lost.
CtlCell decimalCell(QByteArrayView text)
{
    const bool number =
        !text.isEmpty() && text.size() <= 18 && (text.size() == 1 || text[0] != '0') &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number ? CtlCell::number(text) : CtlCell::text(text);
}

// The CPU time's text without the blanks that align it in the window.
QByteArrayView withoutBlanks(QByteArrayView text)
{
    qsizetype blanks = 0;
    while (blanks < text.size() && text[blanks] == ' ')
        ++blanks;
    return text.sliced(blanks);
}

// Text from the host in a message: control characters shown as "?".
QString shown(QByteArrayView latin1)
{
    QByteArray utf8;
    CtlText::appendTerminalText(utf8, latin1);
    return QString::fromUtf8(utf8);
}

long long portNumber(QByteArrayView text)
{
    return CtlCommands::decimal(QString::fromLatin1(text), 0, 65535);
}

// A configuration file named on the command line, found as the console finds
// it. A file to be created needs no earlier one: it goes where it is named.
QString configPath(const QString& name, bool mayCreate)
{
    const ConfigLocation location =
        LocateConfigFile(name, QCoreApplication::applicationFilePath(), QDir::currentPath());
    if (location.Missing.isEmpty())
        return location.Path;
    if (mayCreate)
        return name;
    throw ConfigFault{location.Missing};
}

const std::array<const char*, 5> ListenerTitles = {"Pin", "Product", "Program", "Port", "MaxUsers"};
const std::array<const char*, 7> ListenerKeys = {
    "pin", "port", "program", "product", "product_name", "user_limit", "max_users"};
const std::array<const char*, 6> ProcessTitles = {"Main", "Pin",      "Program",
                                                  "User", "CPU Time", "Pri"};
const std::array<const char*, 7> ProcessKeys = {"main_pin", "pin",         "program", "user",
                                                "cpu_ms",   "cpu_seconds", "priority"};

// Turns the records of a listener list into the printer's rows and values.
class ListenerPrintSink : public RecordSink
{
public:
    explicit ListenerPrintSink(CtlListPrinter& printer) : m_printer(printer) {}

    void record(const Wire::SplitResult& r, QByteArrayView) override
    {
        const Wire::ListenerFields& f = r.listener;
        const QByteArray name = RecordDisplay::ProductName(f.product, f.productNumber);
        const QByteArray maxUsers = RecordDisplay::UserLimitText(f.userLimit, f.userLimitNumber);
        char product[16];
        char limit[16];
        const QByteArrayView productNumber(
            product, std::to_chars(product, product + 16, f.productNumber).ptr);
        const QByteArrayView limitNumber(limit,
                                         std::to_chars(limit, limit + 16, f.userLimitNumber).ptr);
        const std::array<QByteArrayView, ListenerColumnCount> row = {f.pin, name, f.program, f.port,
                                                                     maxUsers};
        const std::array<CtlCell, 7> values = {
            decimalCell(f.pin),       decimalCell(f.port),
            CtlCell::text(f.program), CtlCell::number(productNumber),
            CtlCell::text(name),      CtlCell::number(limitNumber),
            CtlCell::text(maxUsers)};
        m_printer.record(row, values);
    }

private:
    CtlListPrinter& m_printer;
};

// Turns the records of a process list into the printer's rows and values,
// without allocating: a list may hold a million.
class ProcessPrintSink : public RecordSink
{
public:
    explicit ProcessPrintSink(CtlListPrinter& printer)
        : m_printer(printer), m_rows(printer.printsRows()), m_separator(decimalSeparator())
    {
        for (int priority = 1; priority <= 4; ++priority)
            m_priorities[priority - 1] = Wire::priorityText(priority);
    }

    void record(const Wire::SplitResult& r, QByteArrayView) override
    {
        const Wire::ProcessFields& f = r.process;
        const QByteArrayView priority = f.priority >= 1 && f.priority <= 4
                                            ? QByteArrayView(m_priorities[f.priority - 1])
                                            : QByteArrayView();
        char cpuText[RecordDisplay::CpuTimeCapacity];
        if (m_rows) {
            const QByteArrayView cpu =
                withoutBlanks(RecordDisplay::WriteCpuTime(cpuText, f.cpuMs, m_separator));
            const std::array<QByteArrayView, ProcessColumnCount> row = {f.mainPin, f.pin, f.program,
                                                                        f.user,    cpu,   priority};
            m_printer.record(row, {});
            return;
        }
        char ms[24];
        const QByteArrayView seconds =
            withoutBlanks(RecordDisplay::WriteCpuTime(cpuText, f.cpuMs, '.'));
        const QByteArrayView cpuMs(ms, std::to_chars(ms, ms + sizeof ms, f.cpuMs).ptr);
        const std::array<CtlCell, 7> values = {
            f.mainPin.isEmpty() ? CtlCell::null() : decimalCell(f.mainPin),
            decimalCell(f.pin),
            CtlCell::text(f.program),
            CtlCell::text(f.user),
            CtlCell::number(cpuMs),
            CtlCell::number(seconds),
            priority.isEmpty() ? CtlCell::null() : CtlCell::text(priority)};
        m_printer.record({}, values);
    }

private:
    CtlListPrinter& m_printer;
    bool m_rows;
    char m_separator;
    std::array<QByteArray, 4> m_priorities; // "BS" ... "ES", made once
};

} // namespace

// What the identity checks and --verify need of a listener.
struct CtlRunner::ListenerInfo
{
    QByteArray pin, port, program, productName;
    qint32 product = 0;
};

// The process found for an identity check: where it is listed and what it runs.
struct CtlRunner::ProcessInfo
{
    bool found = false;
    QByteArray listenerPin, mainPin, program, user;
};

CtlRunner::CtlRunner(QIODevice& out, QIODevice& err, QIODevice* in)
    : m_output(out), m_err(err), m_in(in)
{
    connect(&m_output, &CtlOutput::writeFailed, this, [this] {
        m_writeFailed = true;
        if (m_session)
            m_session->interrupt();
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
    } catch (const ConfigFault& e) {
        error(e.text);
        status = CtlExit::Config;
    }
    m_output.flush();
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
        throw ConfigFault{QStringLiteral("%1: is a folder, not a configuration file").arg(path)};
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        throw ConfigFault{QStringLiteral("%1: cannot open: %2").arg(path, probe.errorString())};
    probe.close();
    try {
        LoadConfigFile(path, settings);
    } catch (const EConfigLineTooLong& e) {
        throw ConfigFault{e.message()}; // names the file already
    } catch (const EAppError& e) {
        throw ConfigFault{QStringLiteral("%1: %2").arg(path, e.message())};
    }
}

ConnectionSettings CtlRunner::hostSettings(const CtlOptions& options)
{
    ConnectionSettings settings;
    if (!options.ConfigPath.isEmpty()) {
        const QString path = configPath(options.ConfigPath, false);
        loadSettings(path, settings);
        if (settings.HostAddress.isEmpty())
            throw ConfigFault{QStringLiteral("%1: names no host").arg(path)};
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
    return settings;
}

CtlExit CtlRunner::runHostCommand(const CtlOptions& options, const CtlCommand& command)
{
    // Every argument is checked before the connection is made, so that a
    // mistyped command never reaches the host.
    std::optional<QByteArray> argument;
    if (command.argument)
        argument = command.argument(options.Operands);
    if (command.request == Wire::ShutdownJob && !options.Yes)
        throw CtlUsageError(
            QStringLiteral("shutdown aborts all users of the server job; give --yes to confirm"));
    if (argument && argument->size() > Wire::MaxBody)
        throw CtlUsageError(QStringLiteral("the request is %1 bytes long; a request holds at "
                                           "most %2")
                                .arg(argument->size())
                                .arg(Wire::MaxBody));
    QByteArray expectProgram, expectUser;
    if (options.ExpectProgram)
        expectProgram = CtlUsageError::latin1(*options.ExpectProgram, QStringLiteral("NAME"));
    if (options.ExpectUser)
        expectUser = CtlUsageError::latin1(*options.ExpectUser, QStringLiteral("NAME"));
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

    CtlExit status = session.open();
    if (status != CtlExit::Success)
        return status;

    const bool listRequest =
        command.request == Wire::GetListeners || command.request == Wire::GetProcesses;
    try {
        if (listRequest) {
            if (options.WatchSeconds)
                return watch(options, command.list, argument);
            return printList(options, command.list, argument, false);
        }

        // What is there before the command: the identity checks, and what
        // --verify compares with.
        QList<QByteArray> listenersBefore;
        ProcessInfo process;
        if (command.request == Wire::StartListener && options.Verify) {
            QList<ListenerInfo> listeners;
            status = listListeners(listeners);
            for (const ListenerInfo& l : std::as_const(listeners))
                listenersBefore << l.pin;
        } else if (command.request == Wire::Kill && options.Operands.size() == 1 &&
                   (options.ExpectPort || options.Verify)) {
            status = checkListener(options, argument->mid(1));
        } else if (command.request == Wire::Kill && options.Operands.size() == 2 &&
                   (options.ExpectProgram || options.ExpectUser || options.Verify)) {
            status = checkProcess(options, options.Operands[0].toLatin1(),
                                  options.Operands[1].toLatin1(), process);
        }
        if (status != CtlExit::Success)
            return status;

        status = session.send(command.request, argument);
        if (status != CtlExit::Success)
            return status;
        if (options.Verify)
            status = verify(options, command, listenersBefore, process);
        if (command.list != CtlListKind::None) {
            const CtlExit listed = printList(options, command.list, std::nullopt, false);
            if (status == CtlExit::Success)
                status = listed;
        }
    } catch (const EAppError& e) {
        error(e.message());
        return CtlExit::Usage;
    }
    return status;
}

CtlExit CtlRunner::printList(const CtlOptions& options, CtlListKind kind,
                             const std::optional<QByteArray>& argument, bool jsonLines)
{
    const CtlPrintStyle style{options.Format, options.NoHeaders, options.NoAlign, jsonLines};
    CtlExit status;
    if (kind == CtlListKind::Processes) {
        const CtlListShape shape{ProcessTitles, ProcessKeys, int(ProcessColumn::CpuTime),
                                 int(ProcessColumn::Priority)};
        const std::unique_ptr<CtlListPrinter> printer =
            CtlListPrinter::create(style, shape, m_output);
        ProcessPrintSink sink(*printer);
        status = m_session->readList(Wire::GetProcesses, argument, Wire::RecordKind::Process, sink);
        printer->finish();
    } else {
        const CtlListShape shape{ListenerTitles, ListenerKeys};
        const std::unique_ptr<CtlListPrinter> printer =
            CtlListPrinter::create(style, shape, m_output);
        ListenerPrintSink sink(*printer);
        status =
            m_session->readList(Wire::GetListeners, argument, Wire::RecordKind::Listener, sink);
        printer->finish();
    }
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

namespace {

// Keeps what the checks need of every listener (a listener list is short).
class ListenerCollector : public RecordSink
{
public:
    explicit ListenerCollector(QList<QByteArray>& pins, QList<QList<QByteArray>>& rows)
        : m_pins(pins), m_rows(rows)
    {
    }
    void record(const Wire::SplitResult& r, QByteArrayView) override
    {
        const Wire::ListenerFields& f = r.listener;
        m_pins << f.pin.toByteArray();
        m_rows << QList<QByteArray>{f.port.toByteArray(), f.program.toByteArray(),
                                    RecordDisplay::ProductName(f.product, f.productNumber),
                                    QByteArray::number(f.productNumber)};
    }

private:
    QList<QByteArray>& m_pins;
    QList<QList<QByteArray>>& m_rows;
};

// Looks for one process in a process list that may be long: keeps only it.
class ProcessFinder : public RecordSink
{
public:
    ProcessFinder(QByteArrayView mainPin, QByteArrayView pin) : m_mainPin(mainPin), m_pin(pin) {}
    void record(const Wire::SplitResult& r, QByteArrayView) override
    {
        const Wire::ProcessFields& f = r.process;
        if (exact || f.pin != m_pin)
            return;
        if (f.mainPin == m_mainPin)
            exact = true;
        else if (!inexact)
            inexact = true;
        else
            return;
        mainPin = f.mainPin.toByteArray();
        program = f.program.toByteArray();
        user = f.user.toByteArray();
    }

    bool exact = false;   // found with the main PIN asked for
    bool inexact = false; // found under another main PIN only
    QByteArray mainPin, program, user;

private:
    QByteArrayView m_mainPin;
    QByteArrayView m_pin;
};

} // namespace

CtlExit CtlRunner::listListeners(QList<ListenerInfo>& listeners)
{
    QList<QByteArray> pins;
    QList<QList<QByteArray>> rows;
    ListenerCollector collector(pins, rows);
    const CtlExit status = m_session->readList(Wire::GetListeners, std::nullopt,
                                               Wire::RecordKind::Listener, collector);
    listeners.clear();
    for (qsizetype i = 0; i < pins.size(); ++i)
        listeners << ListenerInfo{pins[i], rows[i][0], rows[i][1], rows[i][2], rows[i][3].toInt()};
    return status;
}

CtlExit CtlRunner::findProcess(const QByteArray& mainPin, const QByteArray& pin, ProcessInfo& found)
{
    // Process lists are asked for by listener: the listener whose PIN is the
    // main PIN first (usually the one), then the others.
    QList<ListenerInfo> listeners;
    CtlExit status = listListeners(listeners);
    if (status != CtlExit::Success)
        return status;
    std::stable_partition(listeners.begin(), listeners.end(),
                          [&mainPin](const ListenerInfo& l) { return l.pin == mainPin; });
    found = ProcessInfo();
    for (const ListenerInfo& l : std::as_const(listeners)) {
        ProcessFinder finder(mainPin, pin);
        status = m_session->readList(Wire::GetProcesses, l.pin, Wire::RecordKind::Process, finder);
        if (status != CtlExit::Success)
            return status;
        if (finder.exact || (finder.inexact && !found.found)) {
            found = ProcessInfo{true, l.pin, finder.mainPin, finder.program, finder.user};
            if (finder.exact)
                break;
        }
    }
    return CtlExit::Success;
}

CtlExit CtlRunner::checkListener(const CtlOptions& options, const QByteArray& pin)
{
    QList<ListenerInfo> listeners;
    const CtlExit status = listListeners(listeners);
    if (status != CtlExit::Success)
        return status;
    const auto it = std::find_if(listeners.cbegin(), listeners.cend(),
                                 [&pin](const ListenerInfo& l) { return l.pin == pin; });
    if (it == listeners.cend()) {
        error(QStringLiteral("no listener %1 is listed; nothing was killed").arg(shown(pin)));
        return CtlExit::NotAsExpected;
    }
    if (options.ExpectPort && portNumber(it->port) != *options.ExpectPort) {
        error(QStringLiteral("listener %1 serves port %2 (%3, %4), not %5; nothing was killed")
                  .arg(shown(pin), shown(it->port), shown(it->productName), shown(it->program))
                  .arg(*options.ExpectPort));
        return CtlExit::NotAsExpected;
    }
    return CtlExit::Success;
}

CtlExit CtlRunner::checkProcess(const CtlOptions& options, const QByteArray& mainPin,
                                const QByteArray& pin, ProcessInfo& found)
{
    const CtlExit status = findProcess(mainPin, pin, found);
    if (status != CtlExit::Success)
        return status;
    if (!found.found) {
        error(QStringLiteral("no process %1 of main process %2 is listed; nothing was killed")
                  .arg(shown(pin), shown(mainPin)));
        return CtlExit::NotAsExpected;
    }
    if (found.mainPin != mainPin) {
        error(QStringLiteral("process %1 belongs to main process %2, not %3; nothing was killed")
                  .arg(shown(pin),
                       found.mainPin.isEmpty() ? QStringLiteral("(none)") : shown(found.mainPin),
                       shown(mainPin)));
        return CtlExit::NotAsExpected;
    }
    QStringList expected;
    if (options.ExpectProgram && found.program != options.ExpectProgram->toLatin1())
        expected << QStringLiteral("program %1").arg(*options.ExpectProgram);
    if (options.ExpectUser && found.user != options.ExpectUser->toLatin1())
        expected << QStringLiteral("user %1").arg(*options.ExpectUser);
    if (!expected.isEmpty()) {
        error(QStringLiteral("process %1 runs %2 for %3, not %4; nothing was killed")
                  .arg(shown(pin), shown(found.program), shown(found.user),
                       expected.join(QStringLiteral(" and "))));
        return CtlExit::NotAsExpected;
    }
    return CtlExit::Success;
}

CtlExit CtlRunner::verify(const CtlOptions& options, const CtlCommand& command,
                          const QList<QByteArray>& listenersBefore, const ProcessInfo& process)
{
    // The host does not answer these requests: their effect shows only in
    // the lists, once the host has acted on them.
    constexpr int PollMs = 500;
    const qint64 limitMs = qint64(options.VerifyTimeoutSeconds) * 1000;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        bool seen = false;
        CtlExit status = CtlExit::Success;
        if (command.request == Wire::StartListener) {
            QList<ListenerInfo> listeners;
            status = listListeners(listeners);
            const long long port = portNumber(options.Operands[1].toLatin1());
            QString product = options.Operands[0];
            if (const qsizetype dash = product.indexOf(u'-'); dash >= 0)
                product.truncate(dash);
            const long long productNumber = CtlCommands::decimal(product.trimmed(), 0, 999'999'999);
            seen = std::any_of(listeners.cbegin(), listeners.cend(), [&](const ListenerInfo& l) {
                return !listenersBefore.contains(l.pin) && portNumber(l.port) == port &&
                       l.product == productNumber;
            });
        } else if (options.Operands.size() == 1) {
            QList<ListenerInfo> listeners;
            status = listListeners(listeners);
            const QByteArray pin = options.Operands[0].toLatin1();
            seen = std::none_of(listeners.cbegin(), listeners.cend(),
                                [&pin](const ListenerInfo& l) { return l.pin == pin; });
        } else {
            ProcessFinder finder(process.mainPin, options.Operands[1].toLatin1());
            status = m_session->readList(Wire::GetProcesses, process.listenerPin,
                                         Wire::RecordKind::Process, finder);
            seen = !finder.exact;
        }
        if (status != CtlExit::Success)
            return status;
        if (seen)
            return CtlExit::Success;
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0)
            break;
        if (!m_session->pause(int(std::min<qint64>(left, PollMs))))
            return CtlExit::Interrupted;
    }
    if (command.request == Wire::StartListener)
        error(QStringLiteral("no new listener of product %1 on port %2 after %3 s")
                  .arg(options.Operands[0], options.Operands[1])
                  .arg(options.VerifyTimeoutSeconds));
    else if (options.Operands.size() == 1)
        error(QStringLiteral("listener %1 is still listed after %2 s")
                  .arg(options.Operands[0])
                  .arg(options.VerifyTimeoutSeconds));
    else
        error(QStringLiteral("process %1 is still listed after %2 s")
                  .arg(options.Operands[1])
                  .arg(options.VerifyTimeoutSeconds));
    return CtlExit::NotVerified;
}

CtlExit CtlRunner::configShow(const CtlOptions& options)
{
    ConnectionSettings settings;
    loadSettings(configPath(options.Operands[0], false), settings);

    QList<QByteArray> keys;
    for (const SettingKey& k : SettingKeys)
        keys << QByteArray(k.key);
    CtlListing listing({"Key", "Value"}, keys);
    listing.SetSingleRecord(true);
    QList<CtlValue> record;
    for (const SettingKey& k : SettingKeys) {
        CtlValue value;
        if (k.member) {
            QByteArray text = settings.*k.member;
            if (k.password && !options.Reveal && !text.isEmpty())
                text = Masked;
            value = CtlValue::Text(text);
        } else if (QByteArrayView(k.key) == "port") {
            value = CtlValue::Number(QByteArray::number(settings.Port));
        } else {
            value = CtlValue::Number(QByteArray::number(settings.RefreshInterval / 1000));
        }
        listing.AddRow({QByteArray(k.key), value.bytes});
        record << value;
    }
    listing.AddRecord(record);
    m_output.write(listing.Render(options.Format, !options.NoHeaders));
    return CtlExit::Success;
}

CtlExit CtlRunner::configSet(const CtlOptions& options)
{
    // All assignments are checked before the file is touched.
    struct Assignment
    {
        const SettingKey* key;
        QByteArray text;
        int number = 0;
    };
    // "-" takes KEY=VALUE lines from the standard input, so that passwords
    // need not stand in the process list.
    QStringList operands = options.Operands.mid(1);
    if (operands.contains(QStringLiteral("-"))) {
        if (operands.size() != 1)
            throw CtlUsageError(QStringLiteral("give KEY=VALUE arguments or -, not both"));
        if (!m_in)
            throw CtlUsageError(QStringLiteral("no standard input to read KEY=VALUE lines from"));
        operands.clear();
        const QString text = QString::fromUtf8(m_in->readAll());
        for (QString line : text.split(u'\n')) {
            if (line.endsWith(u'\r'))
                line.chop(1);
            if (!line.isEmpty())
                operands << line;
        }
        if (operands.isEmpty())
            throw CtlUsageError(QStringLiteral("no KEY=VALUE lines on the standard input"));
    }
    QList<Assignment> assignments;
    for (const QString& operand : std::as_const(operands)) {
        const qsizetype eq = operand.indexOf(u'=');
        if (eq <= 0)
            throw CtlUsageError(QStringLiteral("'%1' is not KEY=VALUE").arg(operand));
        const QString name = operand.left(eq);
        const QString value = operand.mid(eq + 1);
        const SettingKey* key = nullptr;
        for (const SettingKey& k : SettingKeys) {
            if (name == QLatin1StringView(k.key))
                key = &k;
        }
        if (!key)
            throw CtlUsageError(QStringLiteral("no setting '%1' (keys: host, port, user, "
                                               "user_password, group, group_password, account, "
                                               "account_password, logon_extra, refresh_interval)")
                                    .arg(name));
        Assignment a{key, {}, 0};
        if (key->member) {
            a.text = CtlUsageError::latin1(value, name);
        } else if (name == QStringLiteral("port")) {
            const long long port = CtlCommands::decimal(value, 0, 65535);
            if (port < 0)
                throw CtlUsageError(QStringLiteral("port takes 0 to 65535, not '%1'").arg(value));
            a.number = int(port);
        } else {
            std::int32_t seconds = 0;
            if (!TryStrToInt(value.toLatin1(), seconds))
                throw CtlUsageError(
                    QStringLiteral("refresh_interval takes whole seconds, not '%1'").arg(value));
            // Raised or lowered into 5..60 as the loader does.
            a.number = std::clamp<std::int32_t>(seconds, 5, 60);
        }
        assignments << a;
    }

    const QString path = configPath(options.Operands[0], true);
    ConnectionSettings settings;
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        loadSettings(path, settings);
    for (const Assignment& a : std::as_const(assignments)) {
        if (a.key->member)
            settings.*(a.key->member) = a.text;
        else if (QByteArrayView(a.key->key) == "port")
            settings.Port = static_cast<quint16>(a.number);
        else
            settings.RefreshInterval = a.number * 1000;
    }

    std::random_device seed;
    std::mt19937 rng(seed());
    const QString problem = SaveConfigFile(path, settings, rng);
    if (!problem.isEmpty())
        throw ConfigFault{QStringLiteral("%1: %2").arg(path, problem)};
    return CtlExit::Success;
}
