#pragma once

#include "host_link/Wire.h"
#include "session/RecordTableModel.h"
#include "session/TableColumns.h"

// The listeners of the host's server job, one row per listener record, with
// the product's display name and "unlimited" for a user limit of 0.
class ListenerTableModel : public RecordTableModel
{
    Q_OBJECT

public:
    explicit ListenerTableModel(QObject* parent = nullptr);

    QByteArrayView cell(int row, ListenerColumn column) const { return cellAt(row, int(column)); }
    int findPin(QByteArrayView pin) const { return findRow(int(ListenerColumn::Pin), pin); }
    QByteArrayView columnTitle(int column) const override;

    // A record of the list being gathered.
    void appendRecord(const Wire::ListenerFields& record);
    // A listener record that came in another list: shown at once, after the
    // rows there are.
    void appendRecordNow(const Wire::ListenerFields& record);
};
