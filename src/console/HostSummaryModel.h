#pragma once

#include "console/HostController.h"

#include <QAbstractTableModel>
#include <QList>

// The hosts of the window at a glance, one row per host in tab order: the
// columns orvanite-ctl's hosts prints (Name, Link, Listeners, Processes,
// CPU Time, Listed, Reconnections), the name on the host's accent colour. A
// host reached through an SSH route says so after its link ("Connected via
// ops@gw"), which keeps the row narrow enough for a small screen.
class HostSummaryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        Name,
        Link,
        Listeners,
        Processes,
        CpuTime,
        Listed,
        Reconnections,
        ColumnCount
    };

    explicit HostSummaryModel(QObject* parent = nullptr);

    void insertHost(int row, const HostController::Summary& summary);
    void updateHost(int row, const HostController::Summary& summary);
    void removeHost(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<HostController::Summary> m_hosts;
};
