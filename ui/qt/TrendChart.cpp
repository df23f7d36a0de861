// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrendChart.h"

#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QCursor>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QResizeEvent>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>

namespace norvex::qt {

namespace {

// Below this many points a series gets marks of its own to hover over; above, the line alone is
// drawn, which stays fast with thousands of visits.
constexpr std::size_t MARKED_POINTS = 400;
// What the value axis, its title and the chart's margins take of a chart's width.
constexpr int BESIDE_PLOT_PX = 110;
// Between two visit labels at the least.
constexpr int LABEL_GAP_PX = 24;
constexpr const char* TREND_SERIES = "trendSeries";
constexpr const char* EMPTY_TEXT = "trendEmptyText";

// Colours for up to thirteen series (the events counted) that tell each from the others; the
// theme's own repeat after five.
constexpr QRgb SERIES_COLOURS[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2,
                                   0x7f7f7f, 0xbcbd22, 0x17becf, 0x393b79, 0xe7ba52, 0x637939};

// The colour a series of the optics and video charts is drawn in is the light's own.
std::optional<QColor> lightColour(const std::string& name) {
    if (name == "red") return QColor(200, 0, 0);
    if (name == "green") return QColor(0, 150, 0);
    if (name == "blue") return QColor(0, 0, 220);
    if (name == "infrared") return QColor(190, 140, 0); // the pages draw it yellow
    return std::nullopt;
}

int legendWidth(const QChart* c, const history::Chart& chart) {
    const QFontMetrics fm(c->legend()->font());
    int total = 0;
    for (const history::Series& s : chart.series)
        total += fm.horizontalAdvance(QString::fromStdString(s.name)) + 34; // mark and spacing
    return total;
}

// The visit axis' labels for a plot `plotWidth` pixels wide. The axis reaches far enough past the
// first and last visit for their labels to stay under the plot.
void labelVisits(QCategoryAxis* x, const history::Chart& chart, int plotWidth) {
    for (const QString& label : x->categoriesLabels())
        x->remove(label);
    const QFontMetrics fm(x->labelsFont());
    const bool dates =
        !chart.visits.empty() && chart.visits.front().compare(0, 10, chart.visits.back(), 0, 10) != 0;
    const int labelWidth =
        fm.horizontalAdvance(dates ? QStringLiteral("0000-00-00") : QStringLiteral("00:00"));
    const auto room = static_cast<std::size_t>(std::max(1, plotWidth / (labelWidth + LABEL_GAP_PX)));
    const history::VisitAxis axis = history::visitAxis(chart.visits, room);
    x->setTitleText(QString::fromStdString(axis.title));
    for (const auto& [visit, text] : axis.labels)
        x->append(QString::fromStdString(text), static_cast<qreal>(visit));
    const qreal visits = std::max<qreal>(1, static_cast<qreal>(chart.visits.size()));
    // Half a label beside the outer visits, in visits: the plot holds `visits - 1 + 2 * pad`.
    const qreal halfLabel = (labelWidth / 2.0 + 4) / std::max(1, plotWidth);
    const qreal pad =
        std::max<qreal>(0.5, halfLabel * (visits - 1) / std::max<qreal>(0.1, 1 - 2 * halfLabel));
    x->setStartValue(-pad);
    x->setRange(-pad, visits - 1 + pad);
}

// A round step between ticks: 1, 2 or 5 times a power of ten, at least `least`.
double niceStep(double raw, double least) {
    double power = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return std::max(m * power, least);
    return std::max(10 * power, least);
}

void rangeValues(QValueAxis* y, const history::Chart& chart) {
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    for (const history::Series& s : chart.series)
        for (double v : s.y) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (lo > hi) {
        lo = 0;
        hi = 1;
    }
    if (chart.notation == history::Notation::Hex) {
        // Ticks on round hexadecimal numbers: a power of two apart, five or so of them.
        double step = 1;
        while (step * 5 < hi - lo)
            step *= 2;
        lo = std::max(0.0, std::floor((lo - step / 2) / step) * step);
        hi = std::ceil((hi + step / 2) / step) * step;
        y->setTickType(QValueAxis::TicksDynamic);
        y->setTickAnchor(0);
        y->setTickInterval(step);
        y->setRange(lo, hi);
        y->setLabelFormat(QStringLiteral("%0") + QString::number(std::max(1, chart.hexDigits)) +
                          QStringLiteral("X"));
        return;
    }
    // Ticks on round numbers, whole ones for counts and levels, with room above and below the
    // points; counts and levels are never negative.
    bool whole = true;
    for (const history::Series& s : chart.series)
        for (double v : s.y)
            whole = whole && v == std::floor(v);
    const double step =
        niceStep(hi > lo ? (hi - lo) / 5 : std::max(std::fabs(hi) * 0.02, 0.1), whole ? 1.0 : 0.0);
    double bottom = std::floor((lo - step / 2) / step) * step;
    if (lo >= 0) bottom = std::max(0.0, bottom);
    const double top = std::ceil((hi + step / 2) / step) * step;
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(step);
    y->setRange(bottom, top);
    y->setLabelFormat(step >= 1 ? QStringLiteral("%.0f") : QStringLiteral("%g"));
}

} // namespace

QChart* makeTrendChart(const history::Chart& chart, int width) {
    auto* c = new QChart();
    c->setTitle(QString::fromStdString(chart.title));
    c->setAnimationOptions(QChart::NoAnimation);
    c->legend()->setAlignment(legendWidth(c, chart) > width - 40 ? Qt::AlignRight : Qt::AlignBottom);

    auto* x = new QCategoryAxis();
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    x->setGridLineVisible(false);
    auto* y = new QValueAxis();
    y->setTitleText(QString::fromStdString(chart.unit));
    c->addAxis(x, Qt::AlignBottom);
    c->addAxis(y, Qt::AlignLeft);

    bool anyPoint = false;
    for (std::size_t k = 0; k < chart.series.size(); ++k) {
        const history::Series& s = chart.series[k];
        auto* line = new QLineSeries();
        line->setName(QString::fromStdString(s.name));
        line->setProperty(TREND_SERIES, static_cast<int>(k));
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(s.y.size()));
        for (std::size_t i = 0; i < s.y.size(); ++i)
            points.append(QPointF(static_cast<qreal>(i < s.visit.size() ? s.visit[i] : i), s.y[i]));
        anyPoint = anyPoint || !points.isEmpty();
        line->replace(points);
        c->addSeries(line);
        const auto light = lightColour(s.name);
        line->setColor(light ? *light : QColor(SERIES_COLOURS[k % std::size(SERIES_COLOURS)]));
        line->attachAxis(x);
        line->attachAxis(y);
        if (s.y.size() < MARKED_POINTS) {
            // Marks to see and hover over, a single visit's too; the legend names the line only.
            auto* marks = new QScatterSeries();
            marks->setName(line->name());
            marks->setProperty(TREND_SERIES, static_cast<int>(k));
            marks->setMarkerSize(7);
            marks->setColor(line->color());
            marks->setBorderColor(line->color());
            marks->replace(points);
            c->addSeries(marks);
            marks->attachAxis(x);
            marks->attachAxis(y);
            for (QLegendMarker* m : c->legend()->markers(marks))
                m->setVisible(false);
        }
    }
    labelVisits(x, chart,
                width - BESIDE_PLOT_PX -
                    (c->legend()->alignment() == Qt::AlignRight ? legendWidth(c, chart) / 2 : 0));
    rangeValues(y, chart);

    if (!anyPoint && !chart.emptyText.empty()) {
        // Said where the lines would be, over no scale: there is nothing to read on one.
        y->setVisible(false);
        auto* note = new QGraphicsSimpleTextItem(QString::fromStdString(chart.emptyText), c);
        note->setData(0, QString::fromLatin1(EMPTY_TEXT));
        auto centre = [c, note] {
            const QRectF box = note->boundingRect();
            note->setPos(c->plotArea().center() - QPointF(box.width() / 2, box.height() / 2));
        };
        QObject::connect(c, &QChart::plotAreaChanged, c, centre);
        centre();
    }
    return c;
}

TrendChartView::TrendChartView(const history::Chart& chart, QWidget* parent)
    : QChartView(makeTrendChart(chart), parent), trend_(chart) {
    // Smooth lines while they are few; thousands of visits draw much faster without.
    std::size_t points = 0;
    for (const auto& s : trend_.series)
        points += s.y.size();
    setRenderHint(QPainter::Antialiasing, points < 2000);
    for (QAbstractSeries* series : QChartView::chart()->series()) {
        auto* xy = qobject_cast<QXYSeries*>(series);
        if (!xy) continue;
        const int index = xy->property(TREND_SERIES).toInt();
        connect(xy, &QXYSeries::hovered, this, [this, index](const QPointF& at, bool state) {
            if (!state) {
                QToolTip::hideText();
                return;
            }
            // The point of the visit nearest to the mouse.
            const history::Series& s = trend_.series[static_cast<std::size_t>(index)];
            if (s.visit.empty()) return;
            const auto visit = static_cast<std::size_t>(std::max(0.0, std::round(at.x())));
            const auto it = std::lower_bound(s.visit.begin(), s.visit.end(), visit);
            std::size_t point =
                it == s.visit.end() ? s.visit.size() - 1 : static_cast<std::size_t>(it - s.visit.begin());
            if (point > 0 && (it == s.visit.end() || s.visit[point] - visit > visit - s.visit[point - 1]))
                --point;
            QToolTip::showText(QCursor::pos(), pointToolTip(index, static_cast<int>(point)), this);
        });
    }
}

QString TrendChartView::pointToolTip(int series, int point) const {
    if (series < 0 || series >= static_cast<int>(trend_.series.size()) || point < 0) return {};
    return QString::fromStdString(history::pointText(trend_, trend_.series[static_cast<std::size_t>(series)],
                                                     static_cast<std::size_t>(point)));
}

void TrendChartView::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    if (event->size().width() != labelledWidth_) fitToWidth();
}

void TrendChartView::fitToWidth() {
    labelledWidth_ = width();
    QChart* c = chart();
    c->legend()->setAlignment(legendWidth(c, trend_) > width() - 40 ? Qt::AlignRight : Qt::AlignBottom);
    const auto axes = c->axes(Qt::Horizontal);
    if (auto* x = axes.isEmpty() ? nullptr : qobject_cast<QCategoryAxis*>(axes.front()))
        labelVisits(x, trend_,
                    width() - BESIDE_PLOT_PX -
                        (c->legend()->alignment() == Qt::AlignRight ? legendWidth(c, trend_) / 2 : 0));
}

TrendChartGrid::TrendChartGrid(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void TrendChartGrid::setCharts(const std::vector<history::Chart>& charts) {
    for (TrendChartView* v : views_)
        delete v;
    views_.clear();
    for (const history::Chart& c : charts) {
        auto* view = new TrendChartView(c, this);
        views_.push_back(view);
        view->show();
    }
    place(width(), true);
    updateGeometry();
}

int TrendChartGrid::place(int width, bool move) const {
    constexpr int GAP = 6;
    const int columns = std::clamp((width + GAP) / (MIN_CHART_WIDTH + GAP), 1, 3);
    columns_ = columns;
    const int chartWidth = std::max(MIN_CHART_WIDTH, (width - GAP * (columns - 1)) / columns);
    int row = 0, column = 0;
    for (TrendChartView* v : views_) {
        // A chart of many series needs the whole width for its legend.
        const bool wide = columns > 1 && v->trend().series.size() > 5;
        if (wide && column > 0) {
            column = 0;
            row += CHART_HEIGHT + GAP;
        }
        if (move)
            v->setGeometry(wide ? QRect(0, row, std::max(width, MIN_CHART_WIDTH), CHART_HEIGHT)
                                : QRect(column * (chartWidth + GAP), row, chartWidth, CHART_HEIGHT));
        if (wide || ++column == columns) {
            column = 0;
            row += CHART_HEIGHT + GAP;
        }
    }
    return column > 0 ? row + CHART_HEIGHT : std::max(0, row - GAP);
}

int TrendChartGrid::heightForWidth(int width) const {
    return place(width, false);
}

QSize TrendChartGrid::sizeHint() const {
    const int width = 2 * MIN_CHART_WIDTH;
    return {width, heightForWidth(width)};
}

QSize TrendChartGrid::minimumSizeHint() const {
    return {MIN_CHART_WIDTH, CHART_HEIGHT};
}

void TrendChartGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place(event->size().width(), true);
}

QImage renderTrendChart(const history::Chart& chart, int width, int height) {
    QGraphicsScene scene;
    QChart* c = makeTrendChart(chart, width);
    scene.addItem(c); // the scene owns it
    c->setGeometry(0, 0, width, height);
    // The chart lays out its axes and legend when its layout request is handled.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    scene.render(&p, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
    return image;
}

} // namespace norvex::qt
