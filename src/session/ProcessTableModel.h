#pragma once

#include "host_link/Wire.h"
#include "session/RecordTableModel.h"
#include "session/TableColumns.h"

// The user processes of one listener, one row per process record: the main
// PIN when the record carries one, the CPU time in seconds with three
// decimals, and the dispatching queue ("BS" … "ES") in a "Pri" column that
// appears with the first record that reports one and stays from then on.
class ProcessTableModel : public RecordTableModel
{
    Q_OBJECT

public:
    explicit ProcessTableModel(QObject* parent = nullptr);

    QByteArrayView cell(int row, ProcessColumn column) const { return cellAt(row, int(column)); }
    int findPin(QByteArrayView pin) const { return findRow(int(ProcessColumn::Pin), pin); }
    QByteArrayView columnTitle(int column) const override;
    bool hasPriorityColumn() const { return visibleColumns() == ProcessColumnCount; }

    // The decimal separator of the CPU time (the locale's).
    void setDecimalSeparator(char separator) { m_separator = separator; }
    // A record of the list being gathered.
    void appendRecord(const Wire::ProcessFields& record);

Q_SIGNALS:
    // The first priority arrived: the "Pri" column is shown from now on.
    void priorityColumnAdded();

private:
    char m_separator = '.';
    bool m_priorityPending = false;

    friend class ListReader;
    // Called after commitFill: shows the priority column when the list had one.
    void showPendingColumns();
    // The host reports priorities (a process record with one arrived outside
    // a process list): the priority column is shown from now on.
    void showPriorityColumn()
    {
        m_priorityPending = true;
        showPendingColumns();
    }
};
