#include "session/ListenerTableModel.h"

#include "host_link/RecordDisplay.h"

namespace {

// Value slots of a listener row: PIN, port, product code, user limit.
enum Slot
{
    PinSlot,
    PortSlot,
    ProductSlot,
    UserLimitSlot,
    SlotCount
};

std::vector<RecordTableModel::ValueSpec> listenerSpecs()
{
    using T = RecordTableModel::ValueType;
    std::vector<RecordTableModel::ValueSpec> specs(ListenerStoredColumnCount);
    specs[int(ListenerColumn::Pin)] = {T::Number, PinSlot, -1};
    specs[int(ListenerColumn::Port)] = {T::Number, PortSlot, -1};
    specs[int(ListenerColumn::Product)] = {T::Number, ProductSlot,
                                           int(ListenerColumn::ProductField)};
    specs[int(ListenerColumn::MaxUsers)] = {T::Number, UserLimitSlot,
                                            int(ListenerColumn::UserLimitField)};
    return specs;
}

} // namespace

ListenerTableModel::ListenerTableModel(QObject* parent)
    : RecordTableModel(ListenerStoredColumnCount, ListenerColumnCount, listenerSpecs(), SlotCount,
                       parent)
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
    std::int64_t values[SlotCount];

    explicit ListenerRow(const Wire::ListenerFields& r)
        : product(RecordDisplay::ProductName(r.product, r.productNumber)),
          limit(RecordDisplay::UserLimitText(r.userLimit, r.userLimitNumber))
    {
        cells[int(ListenerColumn::Pin)] = r.pin;
        cells[int(ListenerColumn::Product)] = product;
        cells[int(ListenerColumn::Program)] = r.program;
        cells[int(ListenerColumn::Port)] = r.port;
        cells[int(ListenerColumn::MaxUsers)] = limit;
        values[PinSlot] = RecordTableModel::decimalSlot(r.pin);
        values[PortSlot] = RecordTableModel::decimalSlot(r.port);
        values[ProductSlot] = RecordTableModel::decimalSlot(r.product);
        values[UserLimitSlot] = RecordTableModel::decimalSlot(r.userLimit);
        // The fields as sent are kept only when they are not plain numbers
        // (then they are the value, and nothing the host sent is lost).
        if (values[ProductSlot] == RecordTableModel::NoNumber)
            cells[int(ListenerColumn::ProductField)] = r.product;
        if (values[UserLimitSlot] == RecordTableModel::NoNumber)
            cells[int(ListenerColumn::UserLimitField)] = r.userLimit;
    }
};

} // namespace

void ListenerTableModel::appendRecord(const Wire::ListenerFields& record)
{
    const ListenerRow row(record);
    appendPending(row.cells, row.values);
}

void ListenerTableModel::appendRecordNow(const Wire::ListenerFields& record)
{
    const ListenerRow row(record);
    appendNow(row.cells, row.values);
}
