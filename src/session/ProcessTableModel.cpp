#include "session/ProcessTableModel.h"

#include "host_link/RecordDisplay.h"

namespace {

// Value slots of a process row: main PIN, PIN, CPU ms. (The priority's code
// is read from the queue name the table writes.)
enum Slot
{
    MainSlot,
    PinSlot,
    CpuSlot,
    SlotCount
};

std::vector<RecordTableModel::ValueSpec> processSpecs()
{
    using T = RecordTableModel::ValueType;
    std::vector<RecordTableModel::ValueSpec> specs(ProcessColumnCount);
    specs[int(ProcessColumn::Main)] = {T::Number, MainSlot, -1};
    specs[int(ProcessColumn::Pin)] = {T::Number, PinSlot, -1};
    specs[int(ProcessColumn::Priority)] = {T::Queue, -1, -1};
    // The CPU time's text is its display ("   1.500"), never its literal.
    specs[int(ProcessColumn::CpuTime)] = {T::Number, CpuSlot, int(ProcessColumn::CpuTime)};
    return specs;
}

} // namespace

ProcessTableModel::ProcessTableModel(QObject* parent)
    : RecordTableModel(ProcessColumnCount, ProcessColumnCount - 1, processSpecs(), SlotCount,
                       parent)
{
}

QByteArrayView ProcessTableModel::columnTitle(int column) const
{
    return TableColumns::title(ProcessColumn(column));
}

namespace {

// The queue's name for priority 1..4: "BS", "CS", "DS", "ES".
QByteArrayView queueName(int priority)
{
    static constexpr const char* names[] = {"BS", "CS", "DS", "ES"};
    if (priority < 1 || priority > 4)
        return {};
    return QByteArrayView(names[priority - 1], 2);
}

} // namespace

void ProcessTableModel::appendRecord(const Wire::ProcessFields& record)
{
    char cpu[RecordDisplay::CpuTimeCapacity];
    QByteArrayView cells[ProcessColumnCount];
    cells[int(ProcessColumn::Main)] = record.mainPin;
    cells[int(ProcessColumn::Pin)] = record.pin;
    cells[int(ProcessColumn::Program)] = record.program;
    cells[int(ProcessColumn::User)] = record.user;
    cells[int(ProcessColumn::CpuTime)] =
        RecordDisplay::WriteCpuTime(cpu, record.cpuMs, m_separator);
    std::int64_t values[SlotCount];
    values[MainSlot] = record.mainPin.isEmpty() ? NoNumber : decimalSlot(record.mainPin);
    values[PinSlot] = decimalSlot(record.pin);
    values[CpuSlot] = record.cpuMs;
    if (record.priority != 0) {
        cells[int(ProcessColumn::Priority)] = queueName(record.priority);
        m_priorityPending = true;
    }
    addToPendingTotal(record.cpuMs);
    appendPending(cells, values);
}

void ProcessTableModel::showPendingColumns()
{
    if (!m_priorityPending || hasPriorityColumn())
        return;
    showColumns(ProcessColumnCount);
    Q_EMIT priorityColumnAdded();
}
