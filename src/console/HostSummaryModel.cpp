#include "console/HostSummaryModel.h"

#include "console/HostPalette.h"
#include "host_link/RecordDisplay.h"

#include <QBrush>

HostSummaryModel::HostSummaryModel(QObject* parent) : QAbstractTableModel(parent) {}

void HostSummaryModel::insertHost(int row, const HostController::Summary& summary)
{
    beginInsertRows(QModelIndex(), row, row);
    m_hosts.insert(row, summary);
    endInsertRows();
}

void HostSummaryModel::updateHost(int row, const HostController::Summary& summary)
{
    if (row < 0 || row >= m_hosts.size())
        return;
    m_hosts[row] = summary;
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void HostSummaryModel::removeHost(int row)
{
    if (row < 0 || row >= m_hosts.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_hosts.removeAt(row);
    endRemoveRows();
}

int HostSummaryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_hosts.size());
}

int HostSummaryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HostSummaryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_hosts.size())
        return {};
    const HostController::Summary& h = m_hosts.at(index.row());
    const CensusSummary& c = h.census;
    const bool listed = c.taken();
    // A host that went down keeps its last figures, greyed, their time marked.
    if (role == Qt::ForegroundRole && c.stale && index.column() >= Listeners &&
        index.column() <= Listed)
        return QBrush(Qt::gray);
    if (role == Qt::ToolTipRole && c.stale && index.column() >= Listeners &&
        index.column() <= Listed)
        return QStringLiteral("The last figures, from %1: the host is not connected")
            .arg(c.takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    // The link and the name give way in a narrow table: their whole texts.
    const QString link =
        h.route.isEmpty() || h.link.isEmpty() ? h.link : h.link + QStringLiteral(" via ") + h.route;
    if (role == Qt::ToolTipRole && index.column() == Link && !link.isEmpty())
        return link;
    if (role == Qt::ToolTipRole && index.column() == Name && !h.name.isEmpty())
        return h.name;
    if (role == Qt::BackgroundRole && index.column() == Name)
        return QBrush(h.accent);
    if (role == Qt::ForegroundRole && index.column() == Name)
        return QBrush(HostPalette::textOn(h.accent));
    if (role == Qt::TextAlignmentRole && index.column() >= Listeners && index.column() != Listed)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (Column(index.column())) {
    case Name:
        return h.name;
    case Link:
        return link;
    case Listeners:
        return listed ? QVariant(c.listeners) : QVariant();
    case Processes:
        return listed ? QVariant(c.processes) : QVariant();
    case CpuTime:
        return listed ? QVariant(QString::fromLatin1(RecordDisplay::CpuTimeText(c.cpuMs).trimmed()))
                      : QVariant();
    case Listed:
        if (!listed)
            return {};
        return c.takenAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
               (c.stale ? QStringLiteral(" (stale)") : QString());
    case Reconnections:
        return h.reconnections;
    case ColumnCount:
        break;
    }
    return {};
}

QVariant HostSummaryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    static const char* const Titles[ColumnCount] = {
        "Name", "Link", "Listeners", "Processes", "CPU Time", "Listed", "Reconnections"};
    if (section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(Titles[section]);
    if (role == Qt::ToolTipRole && (section == Processes || section == CpuTime))
        return QStringLiteral("Every listener's processes, counted after each refresh while "
                              "this tab is shown");
    return {};
}
