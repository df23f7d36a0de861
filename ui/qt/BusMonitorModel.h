// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus monitor's rows as a Qt table model: a view over ui::BusMonitor, which keeps the rows;
// refresh() follows the bus log and tells the view what came and what went.

#include "ui/core/BusMonitor.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

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

// Draws a cell's text in one call, clipped to the cell: the monitor's cells are single lines, and
// the general delegate's layout of every cell is most of a paint's time.
class PlainTextDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace norvex::qt
