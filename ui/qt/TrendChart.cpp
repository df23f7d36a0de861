#include "TrendChart.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace norvex::qt {

QChart* makeTrendChart(const history::Chart& chart) {
    auto* c = new QChart();
    c->setTitle(QString::fromStdString(chart.title));
    c->setAnimationOptions(QChart::NoAnimation);
    c->legend()->setAlignment(Qt::AlignBottom);

    auto* x = new QDateTimeAxis();
    x->setFormat(QStringLiteral("yyyy-MM-dd"));
    x->setTickCount(5);
    auto* y = new QValueAxis();
    y->setTitleText(QString::fromStdString(chart.unit));
    y->setLabelFormat(QStringLiteral("%.0f"));
    c->addAxis(x, Qt::AlignBottom);
    c->addAxis(y, Qt::AlignLeft);

    double xMin = std::numeric_limits<double>::max(), xMax = std::numeric_limits<double>::lowest();
    double yMin = xMin, yMax = xMax;
    for (const history::Series& s : chart.series) {
        auto* line = new QLineSeries();
        line->setName(QString::fromStdString(s.name));
        line->setPointsVisible(s.x.size() < 60);
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(s.x.size()));
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            points.append(QPointF(s.x[i] * 1000.0, s.y[i])); // the axis counts milliseconds
            xMin = std::min(xMin, s.x[i]);
            xMax = std::max(xMax, s.x[i]);
            yMin = std::min(yMin, s.y[i]);
            yMax = std::max(yMax, s.y[i]);
        }
        line->replace(points);
        c->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
    }
    if (xMin > xMax) { // no point at all
        xMin = 0;
        xMax = 86400;
        yMin = 0;
        yMax = 1;
    }
    if (xMax - xMin < 86400) { // one day at least, centred on the visits
        const double mid = (xMin + xMax) / 2;
        xMin = mid - 43200;
        xMax = mid + 43200;
    }
    const double pad = std::max((yMax - yMin) * 0.08, 1.0);
    x->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xMin * 1000)),
                QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xMax * 1000)));
    y->setRange(std::floor(yMin - pad), std::ceil(yMax + pad));
    y->applyNiceNumbers();
    return c;
}

QChartView* makeTrendChartView(const history::Chart& chart, QWidget* parent) {
    auto* view = new QChartView(makeTrendChart(chart), parent);
    // Smooth lines while they are few; hundreds of visits draw much faster without.
    std::size_t points = 0;
    for (const auto& s : chart.series)
        points += s.x.size();
    view->setRenderHint(QPainter::Antialiasing, points < 2000);
    view->setMinimumSize(420, 260);
    return view;
}

QImage renderTrendChart(const history::Chart& chart, int width, int height) {
    QGraphicsScene scene;
    QChart* c = makeTrendChart(chart);
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
