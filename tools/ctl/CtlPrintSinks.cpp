#include "CtlPrintSinks.h"

#include "host_link/RecordDisplay.h"
#include "session/TableColumns.h"

#include <QLocale>

#include <algorithm>
#include <charconv>

namespace {

const std::array<const char*, 5> ListenerTitles = {"Pin", "Product", "Program", "Port", "MaxUsers"};
const std::array<const char*, 7> ListenerKeys = {
    "pin", "port", "program", "product", "product_name", "user_limit", "max_users"};
const std::array<const char*, 6> ProcessTitles = {"Main", "Pin",      "Program",
                                                  "User", "CPU Time", "Pri"};
const std::array<const char*, 7> ProcessKeys = {"main_pin", "pin",         "program", "user",
                                                "cpu_ms",   "cpu_seconds", "priority"};

const std::array<const char*, 6> HostListenerTitles = {"Host",    "Pin",  "Product",
                                                       "Program", "Port", "MaxUsers"};
const std::array<const char*, 8> HostListenerKeys = {
    "host", "pin", "port", "program", "product", "product_name", "user_limit", "max_users"};
const std::array<const char*, 7> HostProcessTitles = {"Host", "Main",     "Pin", "Program",
                                                      "User", "CPU Time", "Pri"};
const std::array<const char*, 8> HostProcessKeys = {"host", "main_pin", "pin",         "program",
                                                    "user", "cpu_ms",   "cpu_seconds", "priority"};

} // namespace

namespace CtlPrint {

CtlListShape shape(CtlListKind kind, bool hostColumn)
{
    const int shift = hostColumn ? 1 : 0;
    if (kind == CtlListKind::Processes) {
        if (hostColumn)
            return {HostProcessTitles, HostProcessKeys, int(ProcessColumn::CpuTime) + shift,
                    int(ProcessColumn::Priority) + shift};
        return {ProcessTitles, ProcessKeys, int(ProcessColumn::CpuTime),
                int(ProcessColumn::Priority)};
    }
    if (hostColumn)
        return {HostListenerTitles, HostListenerKeys};
    return {ListenerTitles, ListenerKeys};
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

} // namespace CtlPrint

using CtlPrint::decimalCell;
using CtlPrint::withoutBlanks;

void ListenerPrintSink::record(const Wire::SplitResult& r, QByteArrayView)
{
    const Wire::ListenerFields& f = r.listener;
    const QByteArray name = RecordDisplay::ProductName(f.product, f.productNumber);
    const QByteArray maxUsers = RecordDisplay::UserLimitText(f.userLimit, f.userLimitNumber);
    char product[16];
    char limit[16];
    const QByteArrayView productNumber(product,
                                       std::to_chars(product, product + 16, f.productNumber).ptr);
    const QByteArrayView limitNumber(limit,
                                     std::to_chars(limit, limit + 16, f.userLimitNumber).ptr);
    const std::array<QByteArrayView, ListenerColumnCount> row = {f.pin, name, f.program, f.port,
                                                                 maxUsers};
    const std::array<CtlCell, 7> values = {decimalCell(f.pin),       decimalCell(f.port),
                                           CtlCell::text(f.program), CtlCell::number(productNumber),
                                           CtlCell::text(name),      CtlCell::number(limitNumber),
                                           CtlCell::text(maxUsers)};
    m_printer.record(row, values);
}

ProcessPrintSink::ProcessPrintSink(CtlListPrinter& printer)
    : m_printer(printer), m_rows(printer.printsRows()), m_separator(CtlPrint::decimalSeparator())
{
    for (int priority = 1; priority <= 4; ++priority)
        m_priorities[priority - 1] = Wire::priorityText(priority);
}

void ProcessPrintSink::record(const Wire::SplitResult& r, QByteArrayView)
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

void HostColumnPrinter::record(std::span<const QByteArrayView> row, std::span<const CtlCell> values)
{
    std::array<QByteArrayView, 8> hostRow;
    std::array<CtlCell, 9> hostValues;
    const std::size_t rows =
        row.empty() ? 0 : std::min<std::size_t>(row.size() + 1, hostRow.size());
    const std::size_t cells =
        values.empty() ? 0 : std::min<std::size_t>(values.size() + 1, hostValues.size());
    if (rows) {
        hostRow[0] = m_host;
        std::copy_n(row.begin(), rows - 1, hostRow.begin() + 1);
    }
    if (cells) {
        hostValues[0] = CtlCell::text(m_host);
        std::copy_n(values.begin(), cells - 1, hostValues.begin() + 1);
    }
    m_next.record(std::span<const QByteArrayView>(hostRow.data(), rows),
                  std::span<const CtlCell>(hostValues.data(), cells));
}
