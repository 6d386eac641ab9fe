#include "session/ProcessTableModel.h"

#include "host_link/RecordDisplay.h"

ProcessTableModel::ProcessTableModel(QObject* parent)
    : RecordTableModel(ProcessColumnCount, ProcessColumnCount - 1, parent)
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
    cells[int(ProcessColumn::CpuTime)] = RecordDisplay::WriteCpuTime(cpu, record.cpuMs, m_separator);
    if (record.priority != 0) {
        cells[int(ProcessColumn::Priority)] = queueName(record.priority);
        m_priorityPending = true;
    }
    appendPending(cells);
}

void ProcessTableModel::showPendingColumns()
{
    if (!m_priorityPending || hasPriorityColumn())
        return;
    showColumns(ProcessColumnCount);
    Q_EMIT priorityColumnAdded();
}
