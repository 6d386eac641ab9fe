#include "console/AllHostsTable.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// What a column that gives way keeps: a few characters and the ellipsis.
constexpr int LeastWidth = 56;

} // namespace

AllHostsTable::AllHostsTable(std::vector<int> givingWay, QWidget* parent)
    : QTableView(parent), m_givingWay(std::move(givingWay))
{
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setTextElideMode(Qt::ElideRight);
    setWordWrap(false);
}

void AllHostsTable::setModel(QAbstractItemModel* model)
{
    QTableView::setModel(model);
    if (!model)
        return;
    // Fitted again once the changes of one pass of the event loop are in
    // (hosts change one by one, each a row).
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &AllHostsTable::fitSoon);
    connect(model, &QAbstractItemModel::dataChanged, this, &AllHostsTable::fitSoon);
    connect(model, &QAbstractItemModel::modelReset, this, &AllHostsTable::fitSoon);
}

void AllHostsTable::fitSoon()
{
    if (isVisible() && !m_fitQueued) {
        m_fitQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_fitQueued = false;
            fitColumns();
        });
    }
}

void AllHostsTable::fitColumns()
{
    if (!model() || !isVisible())
        return;
    QHeaderView* header = horizontalHeader();
    const int columns = model()->columnCount();
    std::vector<int> widths(static_cast<std::size_t>(columns));
    int total = 0;
    for (int c = 0; c < columns; ++c) {
        widths[std::size_t(c)] = std::max(header->sectionSizeHint(c), sizeHintForColumn(c));
        total += widths[std::size_t(c)];
    }
    const int room = viewport()->width();
    // Too wide: the link, then the name, down to a few characters each.
    for (const int c : m_givingWay) {
        if (c < 0 || c >= columns || total <= room)
            continue;
        int& width = widths[std::size_t(c)];
        const int give = std::min(total - room, std::max(0, width - LeastWidth));
        width -= give;
        total -= give;
    }
    // Room to spare goes to the link.
    const int first = m_givingWay.empty() ? -1 : m_givingWay.front();
    if (total < room && first >= 0 && first < columns)
        widths[std::size_t(first)] += room - total;
    for (int c = 0; c < columns; ++c)
        if (header->sectionSize(c) != widths[std::size_t(c)])
            header->resizeSection(c, widths[std::size_t(c)]);
}

void AllHostsTable::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    fitColumns();
}

void AllHostsTable::showEvent(QShowEvent* event)
{
    QTableView::showEvent(event);
    fitColumns();
}
