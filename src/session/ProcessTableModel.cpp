#include "session/ProcessTableModel.h"

#include "host_link/RecordDisplay.h"

namespace {

// Value slots of a process row: main PIN, PIN, priority code, CPU ms (two).
enum Slot
{
    MainSlot,
    PinSlot,
    PrioritySlot,
    CpuSlot,
    SlotCount = CpuSlot + 2
};

std::vector<RecordTableModel::ValueSpec> processSpecs()
{
    using T = RecordTableModel::ValueType;
    std::vector<RecordTableModel::ValueSpec> specs(ProcessColumnCount);
    specs[int(ProcessColumn::Main)] = {T::Decimal, MainSlot, -1};
    specs[int(ProcessColumn::Pin)] = {T::Decimal, PinSlot, -1};
    specs[int(ProcessColumn::Priority)] = {T::Decimal, PrioritySlot, -1};
    specs[int(ProcessColumn::CpuTime)] = {T::Wide, CpuSlot, -1};
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
    std::uint32_t values[SlotCount];
    values[MainSlot] = record.mainPin.isEmpty() ? NoNumber : decimalSlot(record.mainPin);
    values[PinSlot] = decimalSlot(record.pin);
    values[PrioritySlot] = NoNumber;
    values[CpuSlot] = std::uint32_t(std::uint64_t(record.cpuMs));
    values[CpuSlot + 1] = std::uint32_t(std::uint64_t(record.cpuMs) >> 32);
    if (record.priority != 0) {
        cells[int(ProcessColumn::Priority)] = queueName(record.priority);
        values[PrioritySlot] = std::uint32_t(record.priority);
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
