#include "HistoryWindow.h"

#include "TrendChart.h"
#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/ReportFile.h"
#include "history/Trends.h"

#include <QChartView>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace norvex::qt {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString partsText(int parts) {
    QStringList names;
    if (parts & history::PART_STATISTICS) names << QStringLiteral("statistics");
    if (parts & history::PART_SENSORS) names << QStringLiteral("sensors");
    if (parts & history::PART_OPTICS) names << QStringLiteral("optics");
    if (parts & history::PART_VIDEO) names << QStringLiteral("video");
    return names.isEmpty() ? QStringLiteral("(no report)") : names.join(QStringLiteral(", "));
}

QString optionalValue(const std::optional<double>& v) {
    return v ? text(history::valueText(*v)) : QStringLiteral("-");
}

} // namespace

HistoryWindow::HistoryWindow(history::History& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
    setWindowTitle(QStringLiteral("Service History"));
    setObjectName(QStringLiteral("historyWindow"));
    resize(1100, 720);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout();
    where_ = new QLabel(this);
    auto* database = new QPushButton(QStringLiteral("Database..."), this);
    auto* reload = new QPushButton(QStringLiteral("Refresh"), this);
    top->addWidget(where_, 1);
    top->addWidget(database);
    top->addWidget(reload);
    layout->addLayout(top);

    auto* split = new QSplitter(Qt::Horizontal, this);
    units_ = new QTreeWidget(split);
    units_->setObjectName(QStringLiteral("units"));
    units_->setHeaderLabels({QStringLiteral("Serial"), QStringLiteral("Model"), QStringLiteral("Visits"),
                             QStringLiteral("Last visit"), QStringLiteral("Acceptance rate")});
    units_->setRootIsDecorated(false);
    units_->setSortingEnabled(true);
    units_->sortByColumn(0, Qt::AscendingOrder);

    tabs_ = new QTabWidget(split);
    auto* visitsPage = new QWidget(tabs_);
    auto* visitsLayout = new QVBoxLayout(visitsPage);
    visits_ = new QTreeWidget(visitsPage);
    visits_->setObjectName(QStringLiteral("visits"));
    visits_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Computer"), QStringLiteral("Program"),
                              QStringLiteral("Report parts")});
    visits_->setRootIsDecorated(false);
    visits_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Fixed widths: measuring a thousand visits' texts would take longer than reading them.
    const QFontMetrics metrics(visits_->font());
    visits_->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 24);
    visits_->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("workshop-computer")) + 16);
    visits_->setColumnWidth(2, metrics.horizontalAdvance(QStringLiteral("BV0.00-0")) + 24);
    visitsLayout->addWidget(visits_);
    auto* buttons = new QHBoxLayout();
    auto* showReport = new QPushButton(QStringLiteral("Show Report"), visitsPage);
    auto* compareButton = new QPushButton(QStringLiteral("Compare Two Visits"), visitsPage);
    auto* exportButton = new QPushButton(QStringLiteral("Export CSV..."), visitsPage);
    buttons->addWidget(showReport);
    buttons->addWidget(compareButton);
    buttons->addStretch(1);
    buttons->addWidget(exportButton);
    visitsLayout->addLayout(buttons);
    tabs_->addTab(visitsPage, QStringLiteral("Visits"));

    chartArea_ = new QScrollArea(tabs_);
    chartArea_->setWidgetResizable(true);
    tabs_->addTab(chartArea_, QStringLiteral("Trends"));

    report_ = new QPlainTextEdit(tabs_);
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    tabs_->addTab(report_, QStringLiteral("Report"));

    auto* comparePage = new QWidget(tabs_);
    auto* compareLayout = new QVBoxLayout(comparePage);
    changedOnly_ = new QCheckBox(QStringLiteral("Only what changed"), comparePage);
    changedOnly_->setChecked(true);
    differences_ = new QTreeWidget(comparePage);
    differences_->setObjectName(QStringLiteral("differences"));
    differences_->setHeaderLabels({QStringLiteral("Value"), QStringLiteral("Before"), QStringLiteral("After"),
                                   QStringLiteral("Change")});
    differences_->setRootIsDecorated(false);
    compareLayout->addWidget(changedOnly_);
    compareLayout->addWidget(differences_);
    tabs_->addTab(comparePage, QStringLiteral("Compare"));

    split->setStretchFactor(1, 3);
    layout->addWidget(split, 1);
    status_ = new QLabel(this);
    layout->addWidget(status_);

    connect(units_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto items = units_->selectedItems();
        if (!items.isEmpty()) selectUnit(items.front()->text(0).toStdString());
    });
    connect(visits_, &QTreeWidget::itemDoubleClicked, this, [this] { showSelectedReport(); });
    connect(showReport, &QPushButton::clicked, this, [this] { showSelectedReport(); });
    connect(compareButton, &QPushButton::clicked, this, [this] { compareSelected(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportDialog(); });
    connect(database, &QPushButton::clicked, this, [this] { chooseDatabase(); });
    connect(reload, &QPushButton::clicked, this, [this] { refresh(); });
    connect(changedOnly_, &QCheckBox::toggled, this, [this] { applyChangedOnly(); });

    refresh();
}

QString HistoryWindow::status() const {
    return status_->text();
}

void HistoryWindow::showFault(const QString& what, const history::Fault& fault) {
    status_->setText(what + QStringLiteral(": ") + text(fault.detail));
}

void HistoryWindow::refresh() {
    where_->setText(QStringLiteral("History: ") + text(history::displayUrl(history_.url())));
    units_->clear();
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    if (!store) {
        showFault(QStringLiteral("The history cannot be read"), fault);
        return;
    }
    // Readings kept while the history was away go in too (on the history's own thread).
    emit keptReadingsWanted();
    std::vector<history::UnitSummary> units;
    if (!store->units(units, fault)) {
        showFault(QStringLiteral("The history cannot be read"), fault);
        return;
    }
    units_->setSortingEnabled(false);
    for (const auto& u : units) {
        auto* item = new QTreeWidgetItem(units_);
        item->setText(0, text(u.serial));
        item->setText(1, text(u.maker.empty() ? u.model : u.maker + " " + u.model));
        item->setData(2, Qt::DisplayRole, u.visits);
        item->setText(3, text(u.lastVisitText));
        item->setText(4, u.lastRate ? text(history::valueText(*u.lastRate)) + QStringLiteral(" %")
                                    : QStringLiteral("-"));
    }
    units_->setSortingEnabled(true);
    for (int c = 0; c < units_->columnCount(); ++c)
        units_->resizeColumnToContents(c);
    status_->setText(QStringLiteral("%1 unit(s)").arg(units.size()));
}

bool HistoryWindow::selectUnit(const std::string& serial) {
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    if (!store) {
        showFault(QStringLiteral("The history cannot be read"), fault);
        return false;
    }
    std::vector<history::VisitSummary> visits;
    if (!store->unitHistory(serial, history::trendValueNames(), visits, fault)) {
        showFault(QStringLiteral("The history cannot be read"), fault);
        return false;
    }
    if (visits.empty()) return false;
    unit_ = serial;
    visits_->clear();
    for (auto it = visits.rbegin(); it != visits.rend(); ++it) { // newest first
        auto* item = new QTreeWidgetItem(visits_);
        item->setText(0, text(it->localTime));
        item->setText(1, text(it->machine));
        item->setText(2, text(it->program));
        item->setText(3, partsText(it->parts));
        item->setData(0, Qt::UserRole, text(it->id));
    }
    fillCharts(visits);
    status_->setText(QStringLiteral("Unit %1: %2 visit(s)").arg(text(serial)).arg(visits.size()));
    return true;
}

void HistoryWindow::fillCharts(const std::vector<history::VisitSummary>& visits) {
    charts_.clear();
    auto* page = new QWidget();
    auto* grid = new QGridLayout(page);
    const auto charts = history::trendCharts(visits);
    for (std::size_t i = 0; i < charts.size(); ++i) {
        QChartView* view = makeTrendChartView(charts[i], page);
        grid->addWidget(view, static_cast<int>(i / 2), static_cast<int>(i % 2));
        charts_.push_back(view);
    }
    chartArea_->setWidget(page); // the previous page goes with its charts
}

std::vector<std::string> HistoryWindow::selectedVisitIds() const {
    std::vector<std::string> ids;
    // In the list's order (newest first).
    for (int i = 0; i < visits_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = visits_->topLevelItem(i);
        if (item->isSelected()) ids.push_back(item->data(0, Qt::UserRole).toString().toStdString());
    }
    return ids;
}

void HistoryWindow::showSelectedReport() {
    const auto ids = selectedVisitIds();
    if (ids.empty()) {
        status_->setText(QStringLiteral("Choose a visit"));
        return;
    }
    showReport(ids.front());
}

bool HistoryWindow::showReport(const std::string& readingId) {
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    history::Reading reading;
    if (!store || !store->reading(readingId, reading, fault)) {
        showFault(QStringLiteral("The visit cannot be read"), fault);
        return false;
    }
    const std::string report = history::recreateReport(reading);
    // The report's bytes are 8-bit text with CR LF line ends.
    QString shown = QString::fromLatin1(report.data(), static_cast<qsizetype>(report.size()));
    shown.remove(QLatin1Char('\r'));
    report_->setPlainText(report.empty() ? QStringLiteral("(no report was written at this visit)") : shown);
    tabs_->setCurrentWidget(report_);
    status_->setText(
        QStringLiteral("Report of the visit on %1").arg(text(history::localTimeText(reading.localTime))));
    return true;
}

void HistoryWindow::compareSelected() {
    const auto ids = selectedVisitIds();
    if (ids.size() != 2) {
        status_->setText(QStringLiteral("Choose two visits to compare (Ctrl+click)"));
        return;
    }
    compare(ids[1], ids[0]); // the older one first
}

bool HistoryWindow::compare(const std::string& beforeId, const std::string& afterId) {
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    history::Reading before, after;
    if (!store || !store->reading(beforeId, before, fault) || !store->reading(afterId, after, fault)) {
        showFault(QStringLiteral("The visits cannot be read"), fault);
        return false;
    }
    differences_->clear();
    differences_->setHeaderLabels({QStringLiteral("Value"), text(history::localTimeText(before.localTime)),
                                   text(history::localTimeText(after.localTime)), QStringLiteral("Change")});
    auto addRow = [&](const QString& name, const QString& a, const QString& b, const QString& change,
                      bool changed) {
        auto* item = new QTreeWidgetItem(differences_);
        item->setText(0, name);
        item->setText(1, a);
        item->setText(2, b);
        item->setText(3, change);
        item->setData(0, Qt::UserRole, changed);
        if (changed) {
            QFont bold = item->font(0);
            bold.setBold(true);
            for (int c = 0; c < 4; ++c) {
                item->setFont(c, bold);
                item->setForeground(3, QColor(160, 0, 0));
            }
        }
    };
    addRow(QStringLiteral("program revision"), text(before.programText), text(after.programText), QString(),
           before.programText != after.programText);
    addRow(QStringLiteral("computer"), text(before.machine), text(after.machine), QString(),
           before.machine != after.machine);
    for (const auto& d : history::compareReadings(before, after)) {
        QString change;
        if (d.before && d.after && d.changed) {
            const double delta = *d.after - *d.before;
            change = (delta > 0 ? QStringLiteral("+") : QString()) + text(history::valueText(delta));
        } else if (d.changed) {
            change = d.before ? QStringLiteral("not read") : QStringLiteral("new");
        }
        addRow(text(d.name), optionalValue(d.before), optionalValue(d.after), change, d.changed);
    }
    applyChangedOnly();
    for (int c = 0; c < differences_->columnCount(); ++c)
        differences_->resizeColumnToContents(c);
    tabs_->setCurrentIndex(3);
    return true;
}

void HistoryWindow::applyChangedOnly() {
    const bool only = changedOnly_->isChecked();
    for (int i = 0; i < differences_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = differences_->topLevelItem(i);
        item->setHidden(only && !item->data(0, Qt::UserRole).toBool());
    }
}

bool HistoryWindow::exportCsv(const std::string& path) {
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    std::string csv;
    std::size_t visits = 0;
    if (!store || !store->writeCsv(
                      unit_,
                      [&](const std::string& text) {
                          csv += text;
                          return true;
                      },
                      visits, fault)) {
        showFault(QStringLiteral("The history cannot be read"), fault);
        return false;
    }
    if (visits == 0) {
        status_->setText(QStringLiteral("No visits of %1 in the history").arg(text(unit_)));
        return false;
    }
    // All or nothing, as a report: an earlier export of that name survives a full disk.
    std::string error;
    if (!diagnostics::writeReportFile(path, csv, error)) {
        status_->setText(text(error));
        return false;
    }
    status_->setText(QStringLiteral("History of %1 written to %2").arg(text(unit_), text(path)));
    return true;
}

void HistoryWindow::exportDialog() {
    if (unit_.empty()) {
        status_->setText(QStringLiteral("Choose a unit"));
        return;
    }
    // The unit's serial number made safe for a file name, as the report's is.
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export History"),
        text("history_" + diagnostics::sanitizeSerial(unit_) + ".csv"), QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty()) exportCsv(path.toStdString());
}

void HistoryWindow::useHistory(const std::string& url) {
    history::HistoryUrl parsed;
    std::string error;
    if (!history::parseHistoryUrl(url, parsed, error)) {
        status_->setText(text(error));
        return;
    }
    history_.reopen(url);
    emit historyChosen(text(url));
    if (!history::saveHistoryUrl(url, error)) status_->setText(text(error));
    unit_.clear();
    visits_->clear();
    fillCharts({});
    refresh();
}

void HistoryWindow::chooseDatabase() {
    bool ok = false;
    // The URL is offered without its password, which is never shown; left as offered, the
    // history (and its password) stays as it is.
    const QString shown = text(history::displayUrl(history_.url()));
    const QString url = QInputDialog::getText(
        this, QStringLiteral("History Database"),
        QStringLiteral(
            "sqlite:PATH for a file on this computer, or postgresql://USER@HOST/DB for a workshop's "
            "shared server (keep its password in ~/.pgpass):"),
        QLineEdit::Normal, shown, &ok);
    if (ok && !url.trimmed().isEmpty() && url.trimmed() != shown) useHistory(url.trimmed().toStdString());
}

} // namespace norvex::qt
