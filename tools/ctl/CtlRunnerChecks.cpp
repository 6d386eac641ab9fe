// CtlRunner's checks against what the host lists: the identity of a kill's
// target before it is sent (--expect-*) and its effect after (--verify).
#include "CtlRunner.h"
#include "CtlRunnerShared.h"
#include "CtlSession.h"
#include "host_link/RecordDisplay.h"
#include "host_link/Wire.h"
#include "session/RecordWriter.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

// Text from the host in a message: control characters shown escaped ("\\x1b").
QString shown(QByteArrayView latin1)
{
    QByteArray utf8;
    RecordText::appendTerminalText(utf8, latin1);
    return QString::fromUtf8(utf8);
}

long long portNumber(QByteArrayView text)
{
    return CtlCommands::decimal(QString::fromLatin1(text), 0, 65535);
}

// A PIN by its value where it is a plain number ("0456" is 456); any other
// text as it stands.
QByteArrayView pinValue(QByteArrayView pin)
{
    if (pin.isEmpty() ||
        !std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return pin;
    while (pin.size() > 1 && pin.front() == '0')
        pin = pin.sliced(1);
    return pin;
}

// Two PINs name one process when their values are equal.
bool samePin(QByteArrayView a, QByteArrayView b)
{
    return pinValue(a) == pinValue(b);
}

// A listener's port in a message: its value where it is a number.
QString shownPort(QByteArrayView port)
{
    const long long value = portNumber(port);
    return value >= 0 ? QString::number(value) : shown(port);
}

} // namespace

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

// Looks for one process in a process list that may be long: keeps only the
// rows of its PIN (a host may list a PIN more than once).
class ProcessFinder : public RecordSink
{
public:
    struct Row
    {
        QByteArray mainPin, program, user;
        bool operator==(const Row& o) const
        {
            return samePin(mainPin, o.mainPin) && program == o.program && user == o.user;
        }
    };
    static constexpr qsizetype MaxRows = 64;

    // Keeps its own copies: callers pass texts made for the call.
    ProcessFinder(QByteArrayView mainPin, QByteArrayView pin)
        : m_mainPin(mainPin.toByteArray()), m_pin(pin.toByteArray())
    {
    }
    void record(const Wire::SplitResult& r, QByteArrayView) override
    {
        const Wire::ProcessFields& f = r.process;
        if (!samePin(f.pin, m_pin))
            return;
        // No main PIN asked for: any one listed will do.
        if (m_mainPin.isEmpty() || samePin(f.mainPin, m_mainPin))
            exact = true;
        Row row{f.mainPin.toByteArray(), f.program.toByteArray(), f.user.toByteArray()};
        if (rows.size() < MaxRows && !rows.contains(row))
            rows << std::move(row);
    }

    bool exact = false;     // listed with the main PIN asked for
    QList<Row> rows;        // each different row of the PIN, in the list's order
    const Row* best() const // the row of the main PIN asked for, else the first
    {
        for (const Row& row : rows)
            if (m_mainPin.isEmpty() || samePin(row.mainPin, m_mainPin))
                return &row;
        return rows.isEmpty() ? nullptr : &rows.first();
    }

private:
    QByteArray m_mainPin;
    QByteArray m_pin;
};

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

CtlExit CtlRunner::findProcess(const QByteArray& mainPin, const QByteArray& pin, ProcessInfo& found,
                               bool everyList)
{
    // Process lists are asked for by listener: the listener whose PIN is the
    // main PIN first (usually the one), then the others. For an identity
    // check every list is read: a PIN listed twice with different details
    // is no target to act on.
    QList<ListenerInfo> listeners;
    CtlExit status = listListeners(listeners);
    if (status != CtlExit::Success)
        return status;
    std::stable_partition(listeners.begin(), listeners.end(),
                          [&mainPin](const ListenerInfo& l) { return samePin(l.pin, mainPin); });
    found = ProcessInfo();
    for (const ListenerInfo& l : std::as_const(listeners)) {
        ProcessFinder finder(mainPin, pin);
        status = m_session->readList(Wire::GetProcesses, l.pin, Wire::RecordKind::Process, finder);
        if (status != CtlExit::Success)
            return status;
        for (const ProcessFinder::Row& row : std::as_const(finder.rows)) {
            const QString seen = QStringLiteral("%1 for %2 under main process %3")
                                     .arg(shown(row.program), shown(row.user),
                                          row.mainPin.isEmpty() ? QStringLiteral("(none)")
                                                                : shown(pinValue(row.mainPin)));
            if (!found.listings.contains(seen))
                found.listings << seen;
        }
        const ProcessFinder::Row* row = finder.best();
        if (row && (!found.found ||
                    (finder.exact && !samePin(found.mainPin, mainPin) && !mainPin.isEmpty())))
            found = ProcessInfo{true, l.pin, row->mainPin, row->program, row->user, found.listings};
        if (finder.exact && !everyList)
            break;
    }
    return CtlExit::Success;
}

CtlExit CtlRunner::checkListener(const CtlOptions& options, const QByteArray& pin,
                                 ListenerInfo& found)
{
    QList<ListenerInfo> listeners;
    const CtlExit status = listListeners(listeners);
    if (status != CtlExit::Success)
        return status;
    QStringList listings;
    const ListenerInfo* first = nullptr;
    for (const ListenerInfo& l : std::as_const(listeners)) {
        if (!samePin(l.pin, pin))
            continue;
        if (!first)
            first = &l;
        const QString seen = QStringLiteral("port %1 (%2, %3)")
                                 .arg(shownPort(l.port), shown(l.productName), shown(l.program));
        if (!listings.contains(seen))
            listings << seen;
    }
    if (!first) {
        error(QStringLiteral("no listener %1 is listed; nothing was killed").arg(shown(pin)));
        return CtlExit::NotFound;
    }
    if (listings.size() > 1) {
        error(QStringLiteral("listener %1 is listed more than once, as %2; nothing was killed")
                  .arg(shown(pin), listings.join(QStringLiteral(" and "))));
        return CtlExit::NotAsExpected;
    }
    found = *first;
    if (options.ExpectPort && portNumber(first->port) != *options.ExpectPort) {
        error(QStringLiteral("listener %1 serves port %2 (%3, %4), not %5; nothing was killed")
                  .arg(shown(pin), shown(first->port), shown(first->productName),
                       shown(first->program))
                  .arg(*options.ExpectPort));
        return CtlExit::NotAsExpected;
    }
    return CtlExit::Success;
}

CtlExit CtlRunner::checkProcess(const CtlOptions& options, const QByteArray& mainPin,
                                const QByteArray& pin, ProcessInfo& found)
{
    const CtlExit status = findProcess(mainPin, pin, found, true);
    if (status != CtlExit::Success)
        return status;
    if (!found.found) {
        error(QStringLiteral("no process %1 of main process %2 is listed; nothing was killed")
                  .arg(shown(pin), shown(mainPin)));
        return CtlExit::NotFound;
    }
    // Which of two rows the host would act on cannot be told: the row order
    // decides nothing.
    if (found.listings.size() > 1) {
        error(QStringLiteral("process %1 is listed more than once, running %2; nothing was killed")
                  .arg(shown(pin), found.listings.join(QStringLiteral(" and "))));
        return CtlExit::NotAsExpected;
    }
    if (!samePin(found.mainPin, mainPin)) {
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
                const bool before =
                    std::any_of(listenersBefore.cbegin(), listenersBefore.cend(),
                                [&l](const QByteArray& pin) { return samePin(pin, l.pin); });
                return !before && portNumber(l.port) == port && l.product == productNumber;
            });
        } else if (options.Operands.size() == 1) {
            QList<ListenerInfo> listeners;
            status = listListeners(listeners);
            const QByteArray pin = options.Operands[0].toLatin1();
            seen = std::none_of(listeners.cbegin(), listeners.cend(),
                                [&pin](const ListenerInfo& l) { return samePin(l.pin, pin); });
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
