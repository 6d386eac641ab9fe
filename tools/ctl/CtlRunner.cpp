#include "CtlRunner.h"

#include "AppErrors.h"
#include "ConfigFile.h"
#include "ConfigLocation.h"
#include "ConnectionSettings.h"
#include "CtlCompletion.h"
#include "CtlHelp.h"
#include "CtlListing.h"
#include "CtlSession.h"
#include "CtlUsageError.h"
#include "RecordDisplay.h"
#include "Wire.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QLocale>

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

constexpr int ExitNetwork = 1;
constexpr int ExitUsage = 2;
constexpr int ExitConfig = 5;

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

// Text for the wire or a file: Latin-1, the console's single-byte text.
QByteArray latin1(const QString& text, const QString& what)
{
    for (QChar c : text) {
        if (c.unicode() > 0xff)
            throw CtlUsageError(
                QStringLiteral("%1 holds '%2', which the host's single-byte text cannot carry")
                    .arg(what, QString(c)));
    }
    return text.toLatin1();
}

QByteArray pinArgument(const QString& text, const QString& what)
{
    if (text.isEmpty() ||
        !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        throw CtlUsageError(QStringLiteral("%1 must be a decimal PIN, not '%2'").arg(what, text));
    return text.toLatin1();
}

void checkFrame(const QByteArray& argument)
{
    if (argument.size() > Wire::MaxBody)
        throw CtlUsageError(QStringLiteral("the request is %1 bytes long; a request holds at "
                                           "most %2")
                                .arg(argument.size())
                                .arg(Wire::MaxBody));
}

void expectOperands(const CtlOptions& options, qsizetype count)
{
    if (options.Operands.size() < count)
        throw CtlUsageError(QStringLiteral("%1: missing arguments").arg(options.Command));
    if (options.Operands.size() > count)
        throw CtlUsageError(QStringLiteral("%1: unexpected argument '%2'")
                                .arg(options.Command, options.Operands[count]));
}

char decimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode())
                                                          : '.';
}

QByteArray bytesOf(QByteArrayView view)
{
    return view.toByteArray();
}

// Seconds with three decimals, computed from the integer: exact for every count.
QByteArray cpuSeconds(std::int64_t cpuMs)
{
    return RecordDisplay::CpuTimeText(cpuMs, '.').trimmed();
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

} // namespace

CtlRunner::CtlRunner(QIODevice& out, QIODevice& err, QIODevice* in)
    : m_out(out), m_err(err), m_in(in)
{
}

int CtlRunner::Run(const QStringList& arguments, QByteArray& out, QByteArray& err,
                   const QByteArray& in)
{
    QBuffer outBuffer(&out);
    QBuffer errBuffer(&err);
    QByteArray input = in;
    QBuffer inBuffer(&input);
    outBuffer.open(QIODevice::WriteOnly | QIODevice::Append);
    errBuffer.open(QIODevice::WriteOnly | QIODevice::Append);
    inBuffer.open(QIODevice::ReadOnly);
    return CtlRunner(outBuffer, errBuffer, &inBuffer).Run(arguments);
}

void CtlRunner::Print(const QByteArray& utf8)
{
    m_out.write(utf8);
}

void CtlRunner::Error(const QString& text)
{
    m_err.write(text.toUtf8());
    m_err.write("\n");
}

int CtlRunner::Run(const QStringList& arguments)
{
    QString command;
    try {
        const CtlOptions options = CtlCommandLine::Parse(arguments);
        command = options.Command;
        return Dispatch(options);
    } catch (const CtlUsageError& e) {
        Error(QStringLiteral("orvanite-ctl: ") + e.message());
        if (CtlHelp::IsCommand(command))
            Error(QStringLiteral("Usage: ") + CtlHelp::Synopsis(command));
        Error(QStringLiteral("Try 'orvanite-ctl --help' for more information."));
        return ExitUsage;
    } catch (const ConfigFault& e) {
        Error(QStringLiteral("orvanite-ctl: ") + e.text);
        return ExitConfig;
    }
}

int CtlRunner::Dispatch(const CtlOptions& options)
{
    if (options.Version) {
        Print(QByteArrayLiteral("orvanite-ctl " ORV_VERSION "\n"));
        return 0;
    }
    if (options.Command.isEmpty()) {
        if (!options.Help)
            throw CtlUsageError(QStringLiteral("no command given"));
        Print(CtlHelp::Program().toUtf8());
        return 0;
    }
    if (options.Command == QStringLiteral("help")) {
        if (options.Operands.isEmpty()) {
            Print(CtlHelp::Program().toUtf8());
            return 0;
        }
        const QString topic = options.Operands.join(u' ');
        const QString text = CtlHelp::Command(topic);
        if (text.isEmpty())
            throw CtlUsageError(QStringLiteral("no command '%1'").arg(topic));
        Print(text.toUtf8());
        return 0;
    }
    if (options.Help) {
        const QString text = CtlHelp::Command(options.Command);
        if (text.isEmpty())
            throw CtlUsageError(QStringLiteral("no command '%1'").arg(options.Command));
        Print(text.toUtf8());
        return 0;
    }
    if (options.Command == QStringLiteral("config"))
        throw CtlUsageError(QStringLiteral("config needs 'show' or 'set'"));
    if (options.Command == QStringLiteral("config show"))
        return ConfigShow(options);
    if (options.Command == QStringLiteral("config set"))
        return ConfigSet(options);
    if (options.Command == QStringLiteral("completion")) {
        expectOperands(options, 1);
        const QByteArray script = CtlCompletion::Script(options.Operands[0]);
        if (script.isEmpty())
            throw CtlUsageError(
                QStringLiteral("no completion for '%1' (bash or zsh)").arg(options.Operands[0]));
        Print(script);
        return 0;
    }
    if (!CtlHelp::IsCommand(options.Command))
        throw CtlUsageError(QStringLiteral("no command '%1'").arg(options.Command));
    return RunHostCommand(options);
}

void CtlRunner::LoadSettings(const QString& path, ConnectionSettings& settings)
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

ConnectionSettings CtlRunner::HostSettings(const CtlOptions& options)
{
    ConnectionSettings settings;
    if (!options.ConfigPath.isEmpty()) {
        const QString path = configPath(options.ConfigPath, false);
        LoadSettings(path, settings);
        if (settings.HostAddress.isEmpty())
            throw ConfigFault{QStringLiteral("%1: names no host").arg(path)};
        return settings;
    }
    if (!options.Host)
        throw CtlUsageError(QStringLiteral("no host: give --config FILE or --host HOST"));
    settings.HostAddress = latin1(*options.Host, QStringLiteral("--host"));
    if (settings.HostAddress.isEmpty())
        throw CtlUsageError(QStringLiteral("--host needs a host name or address"));
    if (options.Port) {
        const std::optional<int> port = CtlCommandLine::Decimal(*options.Port, 0, 65535);
        if (!port)
            throw CtlUsageError(
                QStringLiteral("--port takes 0 to 65535, not '%1'").arg(*options.Port));
        settings.Port = static_cast<quint16>(*port);
    }
    if (options.User)
        settings.User = latin1(*options.User, QStringLiteral("--user"));
    if (options.Group)
        settings.Group = latin1(*options.Group, QStringLiteral("--group"));
    if (options.Account)
        settings.Account = latin1(*options.Account, QStringLiteral("--account"));
    return settings;
}

int CtlRunner::RunHostCommand(const CtlOptions& options)
{
    // Every argument is checked before the connection is made, so that a
    // mistyped command never reaches the host.
    const QString& cmd = options.Command;
    const QStringList& args = options.Operands;
    char letter = 0;
    std::optional<QByteArray> argument;
    bool listenersAfter = false;

    if (cmd == QStringLiteral("listeners")) {
        expectOperands(options, 0);
        letter = Wire::GetListeners;
    } else if (cmd == QStringLiteral("processes")) {
        expectOperands(options, 1);
        letter = Wire::GetProcesses;
        argument = pinArgument(args[0], QStringLiteral("PIN"));
    } else if (cmd == QStringLiteral("start")) {
        expectOperands(options, 4);
        // "16 - Vanguard" as the dialog lists it, or "16".
        QString product = args[0];
        if (const qsizetype dash = product.indexOf(u'-'); dash >= 0)
            product.truncate(dash);
        product = product.trimmed();
        if (!CtlCommandLine::Decimal(product, 0, 999'999'999))
            throw CtlUsageError(
                QStringLiteral("PRODUCT must be a product number, not '%1'").arg(args[0]));
        if (!CtlCommandLine::Decimal(args[1], 0, 65535))
            throw CtlUsageError(QStringLiteral("PORT takes 0 to 65535, not '%1'").arg(args[1]));
        if (!args[2].isEmpty() && !CtlCommandLine::Decimal(args[2], 0, 999'999'999))
            throw CtlUsageError(
                QStringLiteral("USERS must be a number (0 for no limit), not '%1'").arg(args[2]));
        letter = Wire::StartListener;
        argument =
            Wire::startListenerArgument(product.toLatin1(), args[1].toLatin1(), args[2].toLatin1(),
                                        latin1(args[3], QStringLiteral("COMMAND")));
        listenersAfter = true;
    } else if (cmd == QStringLiteral("kill-listener")) {
        expectOperands(options, 1);
        letter = Wire::Kill;
        argument = Wire::killListenerArgument(pinArgument(args[0], QStringLiteral("PIN")));
    } else if (cmd == QStringLiteral("kill-process")) {
        expectOperands(options, 2);
        letter = Wire::Kill;
        argument = Wire::killProcessArgument(pinArgument(args[0], QStringLiteral("MAIN")),
                                             pinArgument(args[1], QStringLiteral("PIN")));
    } else if (cmd == QStringLiteral("set-priority")) {
        expectOperands(options, 2);
        const int code = Wire::priorityCode(args[1].toUpper().toLatin1());
        if (code == 0)
            throw CtlUsageError(QStringLiteral("the queue is CS, DS or ES, not '%1'").arg(args[1]));
        letter = Wire::SetPriority;
        argument = Wire::setPriorityArgument(pinArgument(args[0], QStringLiteral("PIN")), code);
    } else if (cmd == QStringLiteral("shutdown")) {
        expectOperands(options, 0);
        if (!options.Yes)
            throw CtlUsageError(QStringLiteral(
                "shutdown aborts all users of the server job; give --yes to confirm"));
        letter = Wire::ShutdownJob;
    } else {
        throw CtlUsageError(QStringLiteral("no command '%1'").arg(cmd));
    }
    if (argument)
        checkFrame(*argument);

    const ConnectionSettings settings = HostSettings(options);
    CtlSession session(settings, options.TimeoutSeconds, options.ListTimeoutSeconds,
                       [this](const QString& text) { Error(text); });
    int status = session.Open();
    if (status != 0)
        return status;

    try {
        if (letter == Wire::GetListeners || listenersAfter) {
            if (listenersAfter) {
                status = session.Send(letter, argument);
                if (status != 0)
                    return status;
            }
            CtlListing listing(
                {"Pin", "Product", "Program", "Port", "MaxUsers"},
                {"pin", "port", "program", "product", "product_name", "user_limit", "max_users"});
            status = ReadListeners(session, listing);
            Print(listing.Render(options.Format));
        } else if (letter == Wire::GetProcesses) {
            CtlListing listing(
                {"Main", "Pin", "Program", "User", "CPU Time", "Pri"},
                {"main_pin", "pin", "program", "user", "cpu_ms", "cpu_seconds", "priority"});
            listing.SetRightAligned(4);
            listing.SetOptional(5);
            status = session.Send(letter, argument);
            if (status == 0)
                status = ReadProcesses(session, listing);
            Print(listing.Render(options.Format));
        } else {
            status = session.Send(letter, argument);
        }
    } catch (const EAppError& e) {
        Error(QStringLiteral("orvanite-ctl: ") + e.message());
        return ExitUsage;
    }
    return status;
}

int CtlRunner::ReadListeners(CtlSession& session, CtlListing& listing)
{
    const int status = session.Send(Wire::GetListeners);
    if (status != 0)
        return ExitNetwork;
    return session.ReadList(Wire::RecordKind::Listener, [&listing](const Wire::SplitResult& r) {
        const Wire::ListenerFields& f = r.listener;
        const QByteArray product = bytesOf(f.product);
        const QByteArray userLimit = bytesOf(f.userLimit);
        const QByteArray name = RecordDisplay::ProductName(product, f.productNumber);
        const QByteArray maxUsers = RecordDisplay::UserLimitText(userLimit, f.userLimitNumber);
        listing.AddRow({bytesOf(f.pin), name, bytesOf(f.program), bytesOf(f.port), maxUsers});
        listing.AddRecord({CtlValue::Text(bytesOf(f.pin)), CtlValue::Text(bytesOf(f.port)),
                           CtlValue::Text(bytesOf(f.program)), CtlValue::Text(product),
                           CtlValue::Text(name), CtlValue::Text(userLimit),
                           CtlValue::Text(maxUsers)});
    });
}

int CtlRunner::ReadProcesses(CtlSession& session, CtlListing& listing)
{
    const char separator = decimalSeparator();
    return session.ReadList(Wire::RecordKind::Process, [&](const Wire::SplitResult& r) {
        const Wire::ProcessFields& f = r.process;
        const QByteArray priority = f.priority > 0 ? Wire::priorityText(f.priority) : QByteArray();
        listing.AddRow({bytesOf(f.mainPin), bytesOf(f.pin), bytesOf(f.program), bytesOf(f.user),
                        RecordDisplay::CpuTimeText(f.cpuMs, separator).trimmed(), priority});
        listing.AddRecord({CtlValue::Text(bytesOf(f.mainPin)), CtlValue::Text(bytesOf(f.pin)),
                           CtlValue::Text(bytesOf(f.program)), CtlValue::Text(bytesOf(f.user)),
                           CtlValue::Number(QByteArray::number(f.cpuMs)),
                           CtlValue::Number(cpuSeconds(f.cpuMs)),
                           f.priority > 0 ? CtlValue::Text(priority) : CtlValue::Null()});
    });
}

int CtlRunner::ConfigShow(const CtlOptions& options)
{
    expectOperands(options, 1);
    ConnectionSettings settings;
    LoadSettings(configPath(options.Operands[0], false), settings);

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
    Print(listing.Render(options.Format));
    return 0;
}

int CtlRunner::ConfigSet(const CtlOptions& options)
{
    if (options.Operands.size() < 2)
        throw CtlUsageError(QStringLiteral("config set needs a file and at least one KEY=VALUE"));
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
            a.text = latin1(value, name);
        } else if (name == QStringLiteral("port")) {
            const std::optional<int> port = CtlCommandLine::Decimal(value, 0, 65535);
            if (!port)
                throw CtlUsageError(QStringLiteral("port takes 0 to 65535, not '%1'").arg(value));
            a.number = *port;
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
        LoadSettings(path, settings);
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
    return 0;
}
