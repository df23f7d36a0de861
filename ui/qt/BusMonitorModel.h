#pragma once
// The bus monitor's rows as a Qt table model: a view over ui::BusMonitor, which keeps the rows;
// refresh() follows the bus log and tells the view what came and what went.

#include "ui/core/BusMonitor.h"

#include <QAbstractTableModel>

namespace norvex::qt {

class BusMonitorModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit BusMonitorModel(const ui::BusLog& log, QObject* parent = nullptr);

    // Takes the rows of the exchanges the bus log took since the last call.
    void refresh();
    void setFilter(const ui::MonitorFilter& filter);
    ui::BusMonitor& monitor() { return monitor_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    ui::BusMonitor monitor_;
};

} // namespace norvex::qt
