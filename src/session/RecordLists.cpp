#include "session/RecordLists.h"

#include "host_link/RecordDisplay.h"
#include "host_link/Wire.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QLocale>

#include <array>
#include <memory>
#include <vector>

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

// The CPU time's text without the blanks that align it in the window.
QByteArrayView withoutBlanks(QByteArrayView text)
{
    qsizetype blanks = 0;
    while (blanks < text.size() && text[blanks] == ' ')
        ++blanks;
    return text.sliced(blanks);
}

RecordValue nullWhenEmpty(QByteArrayView text)
{
    return text.isEmpty() ? RecordValue::null() : RecordValue::ofText(text);
}

} // namespace

namespace RecordLists {

RecordShape listenerShape(bool hostColumn)
{
    if (hostColumn)
        return {HostListenerTitles, HostListenerKeys};
    return {ListenerTitles, ListenerKeys};
}

RecordShape processShape(bool hostColumn)
{
    const int shift = hostColumn ? 1 : 0;
    if (hostColumn)
        return {HostProcessTitles, HostProcessKeys, int(ProcessColumn::CpuTime) + shift,
                int(ProcessColumn::Priority) + shift};
    return {ProcessTitles, ProcessKeys, int(ProcessColumn::CpuTime), int(ProcessColumn::Priority)};
}

char decimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode())
                                                          : '.';
}

void writeListener(RecordWriter& writer, const Wire::ListenerFields& f)
{
    const QByteArray name = RecordDisplay::ProductName(f.product, f.productNumber);
    const QByteArray maxUsers = RecordDisplay::UserLimitText(f.userLimit, f.userLimitNumber);
    const std::array<QByteArrayView, ListenerColumnCount> row = {f.pin, name, f.program, f.port,
                                                                 maxUsers};
    const std::array<RecordValue, 7> values = {
        RecordValues::decimal(f.pin),   RecordValues::decimal(f.port),
        RecordValue::ofText(f.program), RecordValues::decimal(f.product),
        RecordValue::ofText(name),      RecordValues::decimal(f.userLimit),
        RecordValue::ofText(maxUsers)};
    writer.record(row, values);
}

void writeListener(RecordWriter& writer, const ListenerTableModel& table, int r)
{
    using C = ListenerColumn;
    const std::array<QByteArrayView, ListenerColumnCount> row = {
        table.cell(r, C::Pin), table.cell(r, C::Product), table.cell(r, C::Program),
        table.cell(r, C::Port), table.cell(r, C::MaxUsers)};
    const std::array<RecordValue, 7> values = {
        table.value(r, int(C::Pin)),     table.value(r, int(C::Port)),
        table.value(r, int(C::Program)), table.value(r, int(C::Product)),
        RecordValue::ofText(row[1]),     table.value(r, int(C::MaxUsers)),
        RecordValue::ofText(row[4])};
    writer.record(row, values);
}

void writeProcess(RecordWriter& writer, const Wire::ProcessFields& f, char separator)
{
    static constexpr std::array<const char*, 4> Queues = {"BS", "CS", "DS", "ES"};
    const QByteArrayView priority = f.priority >= 1 && f.priority <= 4
                                        ? QByteArrayView(Queues[std::size_t(f.priority - 1)], 2)
                                        : QByteArrayView();
    if (writer.printsRows()) {
        char cpuText[RecordDisplay::CpuTimeCapacity];
        const QByteArrayView cpu =
            withoutBlanks(RecordDisplay::WriteCpuTime(cpuText, f.cpuMs, separator));
        const std::array<QByteArrayView, ProcessColumnCount> row = {f.mainPin, f.pin, f.program,
                                                                    f.user,    cpu,   priority};
        writer.record(row, {});
        return;
    }
    const std::array<RecordValue, 7> values = {
        f.mainPin.isEmpty() ? RecordValue::null() : RecordValues::decimal(f.mainPin),
        RecordValues::decimal(f.pin),
        RecordValue::ofText(f.program),
        RecordValue::ofText(f.user),
        RecordValue::integer(f.cpuMs),
        RecordValue::seconds(f.cpuMs),
        nullWhenEmpty(priority)};
    writer.record({}, values);
}

void writeProcess(RecordWriter& writer, const ProcessTableModel& table, int r)
{
    using C = ProcessColumn;
    const QByteArrayView priority = table.cell(r, C::Priority);
    if (writer.printsRows()) {
        const std::array<QByteArrayView, ProcessColumnCount> row = {
            table.cell(r, C::Main),
            table.cell(r, C::Pin),
            table.cell(r, C::Program),
            table.cell(r, C::User),
            withoutBlanks(table.cell(r, C::CpuTime)),
            priority};
        writer.record(row, {});
        return;
    }
    const std::int64_t cpuMs = table.value(r, int(C::CpuTime)).number;
    const std::array<RecordValue, 7> values = {
        table.value(r, int(C::Main)), table.value(r, int(C::Pin)), table.value(r, int(C::Program)),
        table.value(r, int(C::User)), RecordValue::integer(cpuMs), RecordValue::seconds(cpuMs),
        nullWhenEmpty(priority)};
    writer.record({}, values);
}

QByteArray tableRows(const RecordTableModel& table, const std::vector<int>& rows,
                     RecordFormat format)
{
    const auto* listeners = qobject_cast<const ListenerTableModel*>(&table);
    const auto* processes = qobject_cast<const ProcessTableModel*>(&table);
    RecordShape shape = listeners ? listenerShape() : processShape();
    if (format == RecordFormat::Tsv)
        shape.titles = shape.titles.first(
            std::min(shape.titles.size(), std::size_t(std::max(table.columnCount(), 0))));
    RecordStyle style;
    style.format = format;
    ByteArrayOutput out;
    {
        const std::unique_ptr<RecordWriter> writer = RecordWriter::create(style, shape, out);
        for (const int row : rows) {
            if (listeners)
                writeListener(*writer, *listeners, row);
            else if (processes)
                writeProcess(*writer, *processes, row);
        }
        writer->finish();
    }
    return out.take();
}

} // namespace RecordLists

void ListWriterSink::record(const Wire::SplitResult& record, QByteArrayView)
{
    if (!record.ok())
        return;
    if (record.kind == Wire::RecordKind::Process)
        RecordLists::writeProcess(m_writer, record.process, m_separator);
    else
        RecordLists::writeListener(m_writer, record.listener);
}
