#include "session/ListenerTableModel.h"

#include "host_link/RecordDisplay.h"

ListenerTableModel::ListenerTableModel(QObject* parent)
    : RecordTableModel(ListenerStoredColumnCount, ListenerColumnCount, parent)
{
}

QByteArrayView ListenerTableModel::columnTitle(int column) const
{
    return TableColumns::title(ListenerColumn(column));
}

namespace {

struct ListenerRow
{
    QByteArray product;
    QByteArray limit;
    QByteArrayView cells[ListenerStoredColumnCount];

    explicit ListenerRow(const Wire::ListenerFields& r)
        : product(RecordDisplay::ProductName(r.product, r.productNumber)),
          limit(RecordDisplay::UserLimitText(r.userLimit, r.userLimitNumber))
    {
        cells[int(ListenerColumn::Pin)] = r.pin;
        cells[int(ListenerColumn::Product)] = product;
        cells[int(ListenerColumn::Program)] = r.program;
        cells[int(ListenerColumn::Port)] = r.port;
        cells[int(ListenerColumn::MaxUsers)] = limit;
        cells[int(ListenerColumn::ProductField)] = r.product;
        cells[int(ListenerColumn::UserLimitField)] = r.userLimit;
    }
};

} // namespace

void ListenerTableModel::appendRecord(const Wire::ListenerFields& record)
{
    const ListenerRow row(record);
    appendPending(row.cells);
}

void ListenerTableModel::appendRecordNow(const Wire::ListenerFields& record)
{
    const ListenerRow row(record);
    appendNow(row.cells);
}
