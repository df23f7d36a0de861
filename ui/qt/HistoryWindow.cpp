// SPDX-License-Identifier: GPL-3.0-or-later
#include "HistoryWindow.h"

#include "HelpWindow.h"
#include "TrendChart.h"
#include "WindowPlacement.h"
#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/ReportFile.h"
#include "history/Trends.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <fstream>

namespace norvex::qt {

namespace {

// The size the window opens at when the screen has room for it.
constexpr int PREFERRED_WIDTH = 1200, PREFERRED_HEIGHT = 780;
enum UnitColumn { UNIT_SERIAL, UNIT_MODEL, UNIT_VISITS, UNIT_LAST_VISIT, UNIT_RATE, UNIT_COLUMNS };

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

QString counted(qsizetype n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QString::fromLatin1(n == 1 ? one : many);
}

const char* const EMPTY_HISTORY =
    "No readings in this history yet.\n\n"
    "A reading of a unit is kept when a diagnostics report is written (Log File > Create Log File) "
    "and, for the records read since, when the program ends. It appears here as soon as it is "
    "stored.";
const char* const CHOOSE_UNIT =
    "Choose a unit on the left to see its visits, trends, reports and comparisons.";
const char* const CHOOSE_TWO =
    "Choose two visits on the Visits page (Ctrl+click the second) and press Compare Two Visits.";

} // namespace

HistoryWindow::HistoryWindow(history::History& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
    setWindowTitle(QStringLiteral("Service History"));
    setObjectName(QStringLiteral("historyWindow"));
    setHelpTopic(this, QStringLiteral("history.html"));
    placeNear(this, {PREFERRED_WIDTH, PREFERRED_HEIGHT}, parent);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout();
    where_ = new QLabel(this);
    where_->setObjectName(QStringLiteral("where"));
    where_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long URL must not widen the window.
    where_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* database = new QPushButton(QStringLiteral("&Database..."), this);
    auto* reload = new QPushButton(QStringLiteral("&Refresh"), this);
    reload->setToolTip(QStringLiteral("Read the history again (F5)"));
    top->addWidget(where_, 1);
    top->addWidget(database);
    top->addWidget(reload);
    layout->addLayout(top);

    split_ = new QSplitter(Qt::Horizontal, this);
    units_ = new QTreeWidget(split_);
    units_->setObjectName(QStringLiteral("units"));
    units_->setHeaderLabels({QStringLiteral("Serial"), QStringLiteral("Model"), QStringLiteral("Visits"),
                             QStringLiteral("Last visit"), QStringLiteral("Acceptance rate")});
    units_->setRootIsDecorated(false);
    units_->setSortingEnabled(true);
    units_->sortByColumn(UNIT_SERIAL, Qt::AscendingOrder);

    right_ = new QStackedWidget(split_);
    hint_ = new QLabel(right_);
    hint_->setObjectName(QStringLiteral("hint"));
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setMargin(24);
    right_->addWidget(hint_);

    tabs_ = new QTabWidget(right_);
    right_->addWidget(tabs_);
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
    auto* reportButton = new QPushButton(QStringLiteral("Show Re&port"), visitsPage);
    auto* compareButton = new QPushButton(QStringLiteral("&Compare Two Visits"), visitsPage);
    auto* exportButton = new QPushButton(QStringLiteral("&Export CSV..."), visitsPage);
    buttons->addWidget(reportButton);
    buttons->addWidget(compareButton);
    buttons->addStretch(1);
    buttons->addWidget(exportButton);
    visitsLayout->addLayout(buttons);
    tabs_->addTab(visitsPage, QStringLiteral("&Visits"));

    chartArea_ = new QScrollArea(tabs_);
    chartArea_->setObjectName(QStringLiteral("trends"));
    chartArea_->setWidgetResizable(true);
    chartArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    charts_ = new TrendChartGrid();
    chartArea_->setWidget(charts_);
    tabs_->addTab(chartArea_, QStringLiteral("&Trends"));

    report_ = new QPlainTextEdit(tabs_);
    report_->setObjectName(QStringLiteral("report"));
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    report_->setPlaceholderText(QStringLiteral("Choose a visit on the Visits page to see its report."));
    tabs_->addTab(report_, QStringLiteral("Rep&ort"));

    auto* comparePage = new QWidget(tabs_);
    auto* compareLayout = new QVBoxLayout(comparePage);
    compareHint_ = new QLabel(QString::fromUtf8(CHOOSE_TWO), comparePage);
    compareHint_->setWordWrap(true);
    changedOnly_ = new QCheckBox(QStringLiteral("Only &what changed"), comparePage);
    changedOnly_->setChecked(true);
    differences_ = new QTreeWidget(comparePage);
    differences_->setObjectName(QStringLiteral("differences"));
    differences_->setHeaderLabels({QStringLiteral("Value"), QStringLiteral("Before"), QStringLiteral("After"),
                                   QStringLiteral("Change")});
    differences_->setRootIsDecorated(false);
    // The values' captions take what the three narrow columns leave; a caption cut short shows
    // whole when the mouse rests on it.
    differences_->header()->setStretchLastSection(false);
    differences_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c)
        differences_->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    compareLayout->addWidget(compareHint_);
    compareLayout->addWidget(changedOnly_);
    compareLayout->addWidget(differences_);
    tabs_->addTab(comparePage, QStringLiteral("Co&mpare"));

    split_->addWidget(units_);
    split_->addWidget(right_);
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);
    split_->setChildrenCollapsible(false);
    connect(split_, &QSplitter::splitterMoved, this, [this] { splitMoved_ = true; });
    layout->addWidget(split_, 1);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(status_);

    connect(units_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto items = units_->selectedItems();
        if (!items.isEmpty()) selectUnit(items.front()->text(UNIT_SERIAL).toStdString());
    });
    // The row the keyboard moves to is the unit chosen.
    connect(units_, &QTreeWidget::currentItemChanged, this,
            [](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                if (current && previous && !current->isSelected()) current->setSelected(true);
            });
    units_->installEventFilter(this);
    connect(visits_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto ids = selectedVisitIds();
        if (!ids.empty()) showReport(ids.front(), false);
    });
    connect(visits_, &QTreeWidget::itemDoubleClicked, this, [this] { showSelectedReport(); });
    connect(reportButton, &QPushButton::clicked, this, [this] { showSelectedReport(); });
    connect(compareButton, &QPushButton::clicked, this, [this] { compareSelected(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportDialog(); });
    connect(database, &QPushButton::clicked, this, [this] { chooseDatabase(); });
    connect(reload, &QPushButton::clicked, this, [this] { refresh(); });
    connect(new QShortcut(QKeySequence::Refresh, this), &QShortcut::activated, this, [this] { refresh(); });
    connect(changedOnly_, &QCheckBox::toggled, this, [this] { applyChangedOnly(); });

    // The keyboard starts in the unit list.
    units_->setFocus(Qt::OtherFocusReason);

    follow_.setInterval(FOLLOW_MS);
    connect(&follow_, &QTimer::timeout, this, [this] { followHistory(); });

    refresh();
}

int HistoryWindow::chartCount() const {
    return charts_->count();
}

QWidget* HistoryWindow::chart(int index) const {
    return charts_->view(index);
}

QString HistoryWindow::status() const {
    return status_->text();
}

QString HistoryWindow::hint() const {
    return right_->currentWidget() == hint_ ? hint_->text() : QString();
}

void HistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    follow_.start();
}

void HistoryWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    follow_.stop();
}

bool HistoryWindow::event(QEvent* event) {
    // Coming back to the window shows what was stored meanwhile at once.
    if (event->type() == QEvent::WindowActivate) followHistory();
    return QWidget::event(event);
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
    // A list that has the focus frames its first row before anything is chosen: a key that
    // moves the frame chooses the row it ends on, also where it cannot move (a single unit).
    if (watched == units_ && event->type() == QEvent::KeyPress && units_->selectedItems().isEmpty()) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Down:
        case Qt::Key_Up:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageDown:
        case Qt::Key_PageUp:
            static_cast<QObject*>(units_)->event(event);
            if (units_->selectedItems().isEmpty() && units_->currentItem())
                units_->currentItem()->setSelected(true);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryWindow::showFault(const QString& what, const history::Fault& fault) {
    status_->setText(what + QStringLiteral(": ") + text(fault.detail));
}

void HistoryWindow::showHint(const QString& hint) {
    hint_->setText(hint);
    right_->setCurrentWidget(hint_);
}

std::string HistoryWindow::unitsFingerprint(const std::vector<history::UnitSummary>& units) const {
    std::string print = history_.url();
    for (const auto& u : units)
        print += '\n' + u.serial + ' ' + std::to_string(u.visits) + ' ' + std::to_string(u.lastVisit) + ' ' +
                 u.maker + ' ' + u.model;
    return print;
}

bool HistoryWindow::followHistory() {
    // A history that could not be read is not asked again by itself (a server that does not
    // answer would hold the window each time): Refresh does that.
    if (readFailed_ || !isVisible()) return false;
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    std::vector<history::UnitSummary> units;
    if (!store || !store->units(units, fault)) {
        readFailed_ = true;
        showFault(QStringLiteral("The history cannot be read (Refresh tries again)"), fault);
        return false;
    }
    if (unitsFingerprint(units) == shownFingerprint_) return false;
    refresh();
    return true;
}

void HistoryWindow::fitUnitColumns() {
    // Columns grow to their contents, never shrink under the operator's hand.
    for (int c = 0; c < units_->columnCount(); ++c) {
        const int before = units_->columnWidth(c);
        units_->resizeColumnToContents(c);
        if (columnsFitted_ && units_->columnWidth(c) < before) units_->setColumnWidth(c, before);
    }
    columnsFitted_ = true;
    fitSplitter();
}

void HistoryWindow::fitSplitter() {
    // The unit list as wide as its columns (all of them in sight), at most half the window, until
    // the operator moves the splitter.
    if (splitMoved_ || units_->topLevelItemCount() == 0) return;
    int wanted = units_->frameWidth() * 2 + units_->verticalScrollBar()->sizeHint().width() + 4;
    for (int c = 0; c < units_->columnCount(); ++c)
        wanted += units_->columnWidth(c);
    const int total = std::max(split_->width(), width() - 24);
    const int left = std::min(wanted, total / 2);
    split_->setSizes({left, std::max(0, total - left - split_->handleWidth())});
}

void HistoryWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitSplitter();
}

void HistoryWindow::refresh() {
    where_->setText(QStringLiteral("History: ") + text(history::displayUrl(history_.url())));
    where_->setToolTip(where_->text());
    history::Fault fault;
    history::HistoryStore* store = history_.store(fault);
    std::vector<history::UnitSummary> units;
    // Readings kept while the history was away go in too (on the history's own thread).
    if (store) emit keptReadingsWanted();
    if (!store || !store->units(units, fault)) {
        readFailed_ = true;
        units_->clear();
        showHint(QStringLiteral("The history cannot be read:\n%1\n\nRefresh (F5) tries again; Database... "
                                "chooses another.")
                     .arg(text(fault.detail)));
        showFault(QStringLiteral("The history cannot be read"), fault);
        return;
    }
    readFailed_ = false;
    shownFingerprint_ = unitsFingerprint(units);
    const int unitsScrolled = units_->verticalScrollBar()->value();
    {
        const QSignalBlocker block(units_);
        units_->clear();
        units_->setSortingEnabled(false);
        for (const auto& u : units) {
            auto* item = new QTreeWidgetItem(units_);
            item->setText(UNIT_SERIAL, text(u.serial));
            item->setText(UNIT_MODEL, text(u.maker.empty() ? u.model : u.maker + " " + u.model));
            item->setData(UNIT_VISITS, Qt::DisplayRole, u.visits);
            item->setText(UNIT_LAST_VISIT, text(u.lastVisitText));
            item->setText(UNIT_RATE, u.lastRate ? text(history::valueText(*u.lastRate)) + QStringLiteral(" %")
                                                : QStringLiteral("-"));
            if (u.serial == unit_) {
                item->setSelected(true);
                units_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
            }
        }
        units_->setSortingEnabled(true);
    }
    if (!units.empty()) fitUnitColumns();
    // The list stays where the operator scrolled it.
    units_->verticalScrollBar()->setValue(unitsScrolled);
    if (units.empty()) {
        unit_.clear();
        visits_->clear();
        charts_->setCharts({});
        showHint(QString::fromUtf8(EMPTY_HISTORY));
        status_->setText(QStringLiteral("No unit in this history yet"));
        return;
    }
    const bool stillThere =
        std::any_of(units.begin(), units.end(), [&](const auto& u) { return u.serial == unit_; });
    if (!unit_.empty() && stillThere && loadUnit(unit_, selectedVisitIds())) {
        status_->setText(counted(static_cast<qsizetype>(units.size()), "unit", "units") +
                         QStringLiteral("; ") + status_->text());
        return;
    }
    unit_.clear();
    showHint(QString::fromUtf8(CHOOSE_UNIT));
    status_->setText(counted(static_cast<qsizetype>(units.size()), "unit", "units") +
                     QStringLiteral(" in this history"));
}

bool HistoryWindow::selectUnit(const std::string& serial) {
    if (serial != unit_) {
        // What belonged to the unit shown before goes with it.
        differences_->clear();
        compareHint_->setText(QString::fromUtf8(CHOOSE_TWO));
        report_->clear();
    }
    if (!loadUnit(serial, {})) return false;
    const QSignalBlocker block(units_);
    for (int i = 0; i < units_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = units_->topLevelItem(i);
        const bool it = item->text(UNIT_SERIAL).toStdString() == serial;
        item->setSelected(it);
        if (it) units_->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    }
    return true;
}

bool HistoryWindow::loadUnit(const std::string& serial, const std::vector<std::string>& keepVisits) {
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
    const bool again = serial == unit_;
    const int visitsScrolled = visits_->verticalScrollBar()->value();
    unit_ = serial;
    {
        const QSignalBlocker block(visits_);
        visits_->clear();
        QTreeWidgetItem* current = nullptr;
        for (auto it = visits.rbegin(); it != visits.rend(); ++it) { // newest first
            auto* item = new QTreeWidgetItem(visits_);
            item->setText(0, text(it->localTime));
            item->setText(1, text(it->machine));
            item->setText(2, text(it->program));
            item->setText(3, partsText(it->parts));
            item->setData(0, Qt::UserRole, text(it->id));
            if (std::find(keepVisits.begin(), keepVisits.end(), it->id) != keepVisits.end()) {
                item->setSelected(true);
                if (!current) current = item;
            }
        }
        // The newest visit is chosen unless the operator had chosen others.
        if (!current) {
            current = visits_->topLevelItem(0);
            current->setSelected(true);
        }
        visits_->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
        // The same unit read again stays where it was scrolled; another starts at its choice.
        if (again)
            visits_->verticalScrollBar()->setValue(visitsScrolled);
        else
            visits_->scrollToItem(current);
    }
    charts_->setCharts(history::trendCharts(visits));
    right_->setCurrentWidget(tabs_);
    const auto ids = selectedVisitIds();
    if (!ids.empty()) showReport(ids.front(), false);
    status_->setText(
        QStringLiteral("Unit %1: %2")
            .arg(text(serial), counted(static_cast<qsizetype>(visits.size()), "visit", "visits")));
    return true;
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

bool HistoryWindow::showReport(const std::string& readingId, bool bringToFront) {
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
    report_->setPlainText(report.empty() ? QStringLiteral("(no report was written at this visit: its records "
                                                          "were kept when the program ended)")
                                         : shown);
    tabs_->setTabText(tabs_->indexOf(report_),
                      QStringLiteral("Rep&ort of %1").arg(text(history::localTimeText(reading.localTime))));
    if (bringToFront) {
        tabs_->setCurrentWidget(report_);
        status_->setText(
            QStringLiteral("Report of the visit on %1").arg(text(history::localTimeText(reading.localTime))));
    }
    return true;
}

void HistoryWindow::compareSelected() {
    const auto ids = selectedVisitIds();
    if (ids.size() != 2) {
        status_->setText(ids.size() < 2
                             ? QStringLiteral("Choose two visits to compare (Ctrl+click the second)")
                             : QStringLiteral("Choose only two visits to compare"));
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
    // The visits' times above the table: the columns stay narrow and leave room for the captions.
    compareHint_->setText(QStringLiteral("Before: the visit of %1.   After: the visit of %2.")
                              .arg(text(history::localTimeText(before.localTime)),
                                   text(history::localTimeText(after.localTime))));
    auto addRow = [&](const QString& name, const QString& a, const QString& b,
                      const history::ChangeWords& w) {
        auto* item = new QTreeWidgetItem(differences_);
        item->setText(0, name);
        item->setText(1, a);
        item->setText(2, b);
        item->setText(3, text(w.text));
        item->setData(0, Qt::UserRole, w.changed);
        if (!w.changed) return;
        // A change is marked as one; green or red only where better or worse is known.
        QFont bold = item->font(0);
        bold.setBold(true);
        for (int c = 0; c < 4; ++c)
            item->setFont(c, bold);
        if (w.verdict > 0) item->setForeground(3, QColor(0, 128, 0));
        if (w.verdict < 0) item->setForeground(3, QColor(176, 0, 0));
    };
    auto textChange = [](const std::string& a, const std::string& b) {
        history::ChangeWords w;
        w.changed = a != b;
        if (w.changed) w.text = "changed";
        return w;
    };
    addRow(QStringLiteral("Program revision"), text(before.programText), text(after.programText),
           textChange(before.programText, after.programText));
    addRow(QStringLiteral("Computer"), text(before.machine), text(after.machine),
           textChange(before.machine, after.machine));
    for (const auto& d : history::compareReadings(before, after)) {
        const history::ValueInfo info = history::valueInfo(d.name);
        auto shown = [&](const std::optional<double>& v) {
            return v ? text(history::displayValue(info, *v)) : QStringLiteral("not read");
        };
        addRow(text(info.caption), shown(d.before), shown(d.after), history::changeWords(d));
        // The caption whole, and the value's name in the CSV.
        differences_->topLevelItem(differences_->topLevelItemCount() - 1)
            ->setToolTip(0, text(info.caption + "\n(" + d.name + " in the CSV)"));
    }
    applyChangedOnly();
    tabs_->setCurrentIndex(3);
    status_->setText(QStringLiteral("The visit of %1 beside that of %2")
                         .arg(text(history::localTimeText(after.localTime)),
                              text(history::localTimeText(before.localTime))));
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
    charts_->setCharts({});
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
