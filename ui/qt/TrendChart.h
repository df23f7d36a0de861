// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend charts of the service history drawn with Qt Charts: the series computed by the core
// (history::trendCharts) as lines over the visits, one place per visit, oldest left; and the
// grid that lays the charts out in as many columns as the window's width has room for.

#include "history/Trends.h"

#include <QChartView>
#include <QImage>
#include <QWidget>

#include <vector>

class QCategoryAxis;
class QChart;
class QGraphicsSimpleTextItem;

namespace norvex::qt {

// A chart with a visit axis (labelled with times or dates, as many as `width` has room for)
// and a value axis titled with its unit, in the chart's notation; one line with point marks per
// series, each named in the legend.
QChart* makeTrendChart(const history::Chart& chart, int width = 480);

// One chart in the window: the visit axis is labelled again when the width changes, the legend
// goes beside the plot when its names do not fit below it, and hovering over a point shows its
// visit and value.
class TrendChartView final : public QChartView {
    Q_OBJECT
public:
    explicit TrendChartView(const history::Chart& chart, QWidget* parent = nullptr);
    const history::Chart& trend() const { return trend_; }
    // What hovering over point `point` of series `series` shows.
    QString pointToolTip(int series, int point) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitToWidth();

    history::Chart trend_;
    int labelledWidth_ = -1;
};

// The charts in columns: as many as the width has room for, one at the least; a chart with
// many series has a row of its own.
class TrendChartGrid final : public QWidget {
    Q_OBJECT
public:
    explicit TrendChartGrid(QWidget* parent = nullptr);
    void setCharts(const std::vector<history::Chart>& charts);
    int count() const { return static_cast<int>(views_.size()); }
    TrendChartView* view(int index) const { return views_.at(static_cast<std::size_t>(index)); }
    int columns() const { return columns_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int MIN_CHART_WIDTH = 440;
    static constexpr int CHART_HEIGHT = 320;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lays the charts out for `width`; returns the height they take.
    int place(int width, bool move) const;

    std::vector<TrendChartView*> views_;
    mutable int columns_ = 1;
};

// The chart drawn into an image of the given size (for looking at it without a window).
QImage renderTrendChart(const history::Chart& chart, int width, int height);

} // namespace norvex::qt
