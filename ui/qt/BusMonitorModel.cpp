// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusMonitorModel.h"

#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QStyle>

namespace norvex::qt {

namespace {

// "YYYY-MM-DD " before the time of day in a time cell.
constexpr std::size_t TIME_OF_DAY = 11;

} // namespace

BusMonitorModel::BusMonitorModel(const ui::BusLog& log, QObject* parent)
    : QAbstractTableModel(parent), monitor_(log) {}

void BusMonitorModel::refresh() {
    // The view is told before each change, the rows that go first.
    if (const std::size_t gone = monitor_.forgottenRows(); gone > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
        monitor_.dropForgotten();
        endRemoveRows();
    }
    if (const std::size_t added = monitor_.newRows(); added > 0) {
        const int first = static_cast<int>(monitor_.rowCount());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(added) - 1);
        monitor_.appendNew();
        endInsertRows();
    } else {
        monitor_.appendNew(); // exchanges that the filter hides are looked at once only
    }
}

void BusMonitorModel::setFilter(const ui::MonitorFilter& filter) {
    beginResetModel();
    monitor_.setFilter(filter);
    endResetModel();
}

int BusMonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(monitor_.rowCount());
}

int BusMonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ui::COLUMN_COUNT;
}

QVariant BusMonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole:
        // The time of day to the microsecond; the date is in the tooltip, the CSV and the copy.
        if (index.column() == ui::COLUMN_TIME) {
            const std::string time = monitor_.cell(row, index.column());
            return QString::fromStdString(time.size() > TIME_OF_DAY ? time.substr(TIME_OF_DAY) : time);
        }
        return QString::fromStdString(monitor_.cell(row, index.column()));
    case Qt::ToolTipRole:
        return QString::fromStdString(monitor_.cell(row, index.column()));
    case Qt::ForegroundRole:
        if (monitor_.isFault(row)) return QBrush(QColor(176, 0, 0));
        return monitor_.isAnswer(row) ? QBrush(QColor(0, 96, 0)) : QBrush(QColor(0, 0, 0));
    default:
        return {};
    }
}

QVariant BusMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    return QString::fromUtf8(ui::BusMonitor::columnTitle(section));
}

void PlainTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(option.rect, option.palette.highlight());
    const QVariant foreground = index.data(Qt::ForegroundRole);
    painter->setPen(selected                          ? option.palette.highlightedText().color()
                    : foreground.canConvert<QBrush>() ? foreground.value<QBrush>().color()
                                                      : option.palette.text().color());
    painter->drawText(option.rect.adjusted(4, 0, -4, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
}

} // namespace norvex::qt
