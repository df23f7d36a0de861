#pragma once
// A trend chart of the service history drawn with Qt Charts: the series computed by the core
// (history::trendCharts) as lines over the visit dates.

#include "history/Trends.h"

#include <QImage>

class QChart;
class QChartView;
class QWidget;

namespace norvex::qt {

// A chart with a date axis (the visits) and a value axis (the chart's unit), one line with
// point marks per series and a legend.
QChart* makeTrendChart(const history::Chart& chart);
QChartView* makeTrendChartView(const history::Chart& chart, QWidget* parent = nullptr);
// The chart drawn into an image of the given size (for looking at it without a window).
QImage renderTrendChart(const history::Chart& chart, int width, int height);

} // namespace norvex::qt
