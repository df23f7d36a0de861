// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusMonitorWindow.h"

#include "HelpWindow.h"
#include "WindowPlacement.h"
#include "control/HeardDecoder.h"
#include "control/TypedFrame.h"
#include "ui/core/MainWindowLogic.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace norvex::qt {

namespace {

// How often the window takes what the link recorded: often enough to look live.
constexpr int REFRESH_MS = 100;
// The size the window opens at when the screen has room for it.
constexpr int PREFERRED_WIDTH = 1240, PREFERRED_HEIGHT = 640;
// Beside a cell's text: the delegate's margins and a little air; beside a title, the header's.
constexpr int CELL_PADDING = 12;
constexpr int TITLE_PADDING = 18;

// The widest text each short column shows.
const std::array<const char*, ui::COLUMN_COUNT> WIDEST = {
    "05:46:41.101500", "received", "DEVICE_ID request (IDENTIFICATION)", "", "", "999.999 ms",
    "Checksum",        ""};

} // namespace

BusMonitorWindow::BusMonitorWindow(ui::MainWindowLogic& core, QWidget* parent)
    : QWidget(parent, Qt::Window), core_(core), model_(core.busLog(), this) {
    setObjectName(QStringLiteral("busMonitor"));
    setWindowTitle(QStringLiteral("Bus Monitor"));
    setHelpTopic(this, QStringLiteral("monitor.html"));

    auto* filters = new QHBoxLayout;
    hidePolls_ = new QCheckBox(QStringLiteral("&Hide STATUS requests (POLL) answered by ACK"), this);
    command_ = new QComboBox(this);
    command_->setObjectName(QStringLiteral("commandFilter"));
    command_->addItem(QStringLiteral("All commands"), -1);
    for (std::uint8_t code = 0x30; code <= 0x37; ++code)
        command_->addItem(QString::fromStdString(control::commandFilterLabel(code)), code);
    // Narrow in a narrow window; the list shows the whole names.
    command_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    command_->setMinimumContentsLength(10);
    command_->view()->setMinimumWidth(command_->view()->sizeHintForColumn(0) + 24);
    auto* show = new QLabel(QStringLiteral("Sho&w:"), this);
    show->setBuddy(command_);
    onlyFaults_ = new QCheckBox(QStringLiteral("Only &faults"), this);
    // Listening to a machine, every device's exchanges come; the link's own are the validator's.
    address_ = new QComboBox(this);
    address_->setObjectName(QStringLiteral("addressFilter"));
    address_->addItem(QStringLiteral("All devices"), -1);
    for (const std::uint8_t a : {0x08, 0x10, 0x30, 0x60})
        address_->addItem(QStringLiteral("%1h ").arg(a, 2, 16, QLatin1Char('0')).toUpper() +
                              QString::fromStdString(control::deviceName(a)),
                          a);
    address_->setToolTip(QStringLiteral("Listening to a machine: one device's exchanges"));
    address_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    address_->setMinimumContentsLength(9);
    address_->view()->setMinimumWidth(address_->view()->sizeHintForColumn(0) + 24);
    follow_ = new QCheckBox(QStringLiteral("F&ollow"), this);
    follow_->setChecked(true);
    follow_->setToolTip(QStringLiteral("Keep the newest row in sight; off pauses the view where it is"));
    keep_ = new QSpinBox(this);
    keep_->setRange(static_cast<int>(ui::BusLog::MIN_KEEP), static_cast<int>(ui::BusLog::MAX_KEEP));
    keep_->setSingleStep(1000);
    keep_->setValue(static_cast<int>(core_.busLog().keep()));
    keep_->setPrefix(QStringLiteral("keep "));
    keep_->setSuffix(QStringLiteral(" exchanges"));
    keep_->setToolTip(QStringLiteral("How many exchanges the monitor keeps; the oldest go first"));
    filters->addWidget(hidePolls_);
    filters->addWidget(show);
    filters->addWidget(command_, 1);
    filters->addWidget(onlyFaults_);
    filters->addWidget(address_);
    filters->addStretch(1);
    filters->addWidget(follow_);

    auto* tools = new QHBoxLayout;
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(
        QStringLiteral("Search (Ctrl+F); F3 finds the next, Shift+F3 the one before"));
    search_->setClearButtonEnabled(true);
    auto* findButton = new QPushButton(QStringLiteral("Find &Next"), this);
    auto* copyButton = new QPushButton(QStringLiteral("&Copy"), this);
    auto* csvButton = new QPushButton(QStringLiteral("&Export CSV…"), this);
    auto* pcapButton = new QPushButton(QStringLiteral("Save Bus Ca&pture…"), this);
    tools->addWidget(search_, 1);
    tools->addWidget(findButton);
    tools->addWidget(copyButton);
    tools->addWidget(csvButton);
    tools->addWidget(pcapButton);

    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("rows"));
    table_->setModel(&model_);
    table_->setItemDelegate(new PlainTextDelegate(table_));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->setShowGrid(false);
    table_->verticalHeader()->hide();
    // Every row has the same height: the view never measures 100 000 rows.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setTextElideMode(Qt::ElideRight);

    auto* line = new QHBoxLayout;
    typed_ = new QLineEdit(this);
    typed_->setObjectName(QStringLiteral("typedFrame"));
    typed_->setPlaceholderText(
        QStringLiteral("Frame in hex, e.g. 33 or 35 01 (the checksum is added unless given)"));
    send_ = new QPushButton(QStringLiteral("&Send"), this);
    send_->setObjectName(QStringLiteral("sendTyped"));
    auto* typedLabel = new QLabel(QStringLiteral("Co&mmand:"), this);
    typedLabel->setBuddy(typed_);
    line->addWidget(typedLabel);
    line->addWidget(typed_, 1);
    line->addWidget(send_);
    line->addSpacing(12);
    line->addWidget(keep_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("monitorStatus"));
    // A long path in a message must not widen the window.
    status_->setMinimumWidth(1);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addLayout(tools);
    layout->addWidget(table_, 1);
    layout->addLayout(line);
    layout->addWidget(status_);

    connect(hidePolls_, &QCheckBox::toggled, this, [this] { applyFilter(); });
    connect(onlyFaults_, &QCheckBox::toggled, this, [this] { applyFilter(); });
    connect(command_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(address_, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) table_->scrollToBottom();
    });
    connect(keep_, &QSpinBox::editingFinished, this, [this] {
        core_.busLog().setKeep(static_cast<std::size_t>(keep_->value()));
        refresh();
    });
    // Looking at a row pauses following, or the next exchange would scroll it away.
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selecting_ && table_->selectionModel()->hasSelection()) setFollow(false);
    });
    // A column the operator drags keeps its width; the last one follows the window by itself.
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
        if (!fitting_ && column != ui::COLUMN_COUNT - 1) userSized_ = true;
    });
    connect(findButton, &QPushButton::clicked, this, [this] { findNext(search_->text()); });
    connect(search_, &QLineEdit::returnPressed, this, [this] { findNext(search_->text()); });
    connect(copyButton, &QPushButton::clicked, this, [this] { copySelection(); });
    auto* copyKey = new QShortcut(QKeySequence::Copy, table_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, [this] { copySelection(); });
    auto* findKey = new QShortcut(QKeySequence::Find, this);
    connect(findKey, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    auto* nextKey = new QShortcut(QKeySequence::FindNext, this);
    connect(nextKey, &QShortcut::activated, this, [this] { findNext(search_->text()); });
    auto* previousKey = new QShortcut(QKeySequence::FindPrevious, this);
    connect(previousKey, &QShortcut::activated, this, [this] { findNext(search_->text(), true); });
    connect(csvButton, &QPushButton::clicked, this, [this] { exportCsv(); });
    connect(pcapButton, &QPushButton::clicked, this, [this] { saveCapture(); });
    connect(send_, &QPushButton::clicked, this, [this] { sendTyped(typed_->text()); });
    connect(typed_, &QLineEdit::returnPressed, this, [this] { sendTyped(typed_->text()); });

    placeNear(this, {PREFERRED_WIDTH, PREFERRED_HEIGHT}, parent);

    timer_.setInterval(REFRESH_MS);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
    timer_.start();
    refresh();
}

void BusMonitorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitColumns();
}

void BusMonitorWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!userSized_) fitColumns();
}

void BusMonitorWindow::fitColumns() {
    const QFontMetrics cells(table_->font());
    const QFontMetrics headers(table_->horizontalHeader()->font());
    std::array<int, ui::COLUMN_COUNT> width{};
    for (int c = 0; c < ui::COLUMN_COUNT; ++c) {
        const int title =
            headers.horizontalAdvance(QString::fromUtf8(ui::BusMonitor::columnTitle(c))) + TITLE_PADDING;
        width[c] = std::max(title, cells.horizontalAdvance(QString::fromUtf8(WIDEST[c])) + CELL_PADDING);
    }
    // Bytes, meaning and note have their titles' width at least and share what is left.
    const int shown = table_->viewport()->width() > 0 ? table_->viewport()->width() : table_->width();
    int taken = 0;
    for (int c = 0; c < ui::COLUMN_COUNT; ++c)
        taken += width[c];
    const int rest = std::max(0, shown - taken);
    const std::array<std::pair<int, int>, 3> shares = {
        {{ui::COLUMN_BYTES, 2}, {ui::COLUMN_MEANING, 4}, {ui::COLUMN_NOTE, 4}}};
    for (const auto& [column, share] : shares)
        width[column] += rest * share / 10;
    fitting_ = true;
    for (int c = 0; c < ui::COLUMN_COUNT; ++c)
        table_->setColumnWidth(c, width[c]);
    fitting_ = false;
}

void BusMonitorWindow::refresh() {
    core_.busLog().takeNew();
    // Listening, Norvex sends nothing: the command line says so instead of taking frames.
    const bool listening = core_.listening();
    if (typed_->isEnabled() == listening) {
        const QString why =
            listening ? QString::fromUtf8(ui::MainWindowLogic::listeningRefusal()) : QString();
        for (QWidget* w : {static_cast<QWidget*>(typed_), static_cast<QWidget*>(send_)}) {
            w->setEnabled(!listening);
            w->setToolTip(why);
        }
    }
    {
        // Rows forgotten at the top change the selection without the operator choosing anything.
        const QScopedValueRollback<bool> guard(selecting_, true);
        model_.refresh();
    }
    if (follow_->isChecked()) table_->scrollToBottom();
    QString text = QStringLiteral("%1 rows shown, %2 exchanges kept")
                       .arg(model_.rowCount())
                       .arg(static_cast<qulonglong>(core_.busLog().kept().size()));
    if (const auto lost = core_.busLog().lost(); lost > 0)
        text += QStringLiteral(", %1 lost before they were shown").arg(static_cast<qulonglong>(lost));
    if (message_ && (message_->shown.hasExpired(message_->seconds * 1000LL) ||
                     (message_->stillTrue && !message_->stillTrue())))
        message_.reset();
    if (message_) text += QStringLiteral("  —  ") + message_->text;
    status_->setText(text);
    status_->setToolTip(message_ ? message_->text : QString());
}

void BusMonitorWindow::showStatus(const QString& text, std::function<bool()> stillTrue, int seconds) {
    message_ = Message{text, std::move(stillTrue), {}, seconds};
    message_->shown.start();
    refresh();
}

QString BusMonitorWindow::statusText() const {
    return status_->text();
}

void BusMonitorWindow::applyFilter() {
    ui::MonitorFilter f;
    f.hidePollBareAck = hidePolls_->isChecked();
    f.command = command_->currentData().toInt();
    f.onlyFaults = onlyFaults_->isChecked();
    f.address = address_->currentData().toInt();
    setFilter(f);
}

void BusMonitorWindow::setFilter(const ui::MonitorFilter& filter) {
    const QSignalBlocker b1(hidePolls_), b2(onlyFaults_), b3(command_), b4(address_);
    hidePolls_->setChecked(filter.hidePollBareAck);
    onlyFaults_->setChecked(filter.onlyFaults);
    const int at = command_->findData(filter.command);
    command_->setCurrentIndex(at >= 0 ? at : 0);

    // The selection is kept by what its rows show; a row the filter now hides gives its place to
    // the nearest row shown after it.
    const ui::BusMonitor& m = model_.monitor();
    std::vector<ui::BusMonitor::RowKey> selected;
    for (int row : selectedRowNumbers())
        selected.push_back(m.key(static_cast<std::size_t>(row)));
    const QModelIndex current = table_->currentIndex();
    std::optional<ui::BusMonitor::RowKey> currentKey;
    if (current.isValid()) currentKey = m.key(static_cast<std::size_t>(current.row()));

    if (address_->findData(filter.address) < 0)
        address_->addItem(QStringLiteral("%1h").arg(filter.address, 2, 16, QLatin1Char('0')).toUpper(),
                          filter.address);
    address_->setCurrentIndex(address_->findData(filter.address));
    model_.setFilter(filter);

    if (selected.empty() && !currentKey) {
        if (follow_->isChecked()) table_->scrollToBottom();
        return;
    }
    const QScopedValueRollback<bool> guard(selecting_, true);
    // Their new rows, in runs: a hundred thousand rows selected are one range, not as many.
    std::vector<long> rows;
    rows.reserve(selected.size());
    for (const auto& key : selected)
        if (const long row = m.rowOf(key); row >= 0) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        selection.select(model_.index(static_cast<int>(rows[i]), 0),
                         model_.index(static_cast<int>(rows[j]), ui::COLUMN_COUNT - 1));
        i = j + 1;
    }
    const long row = m.rowOf(currentKey ? *currentKey : selected.front());
    if (row < 0) return;
    const QModelIndex index = model_.index(static_cast<int>(row), 0);
    table_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!table_->selectionModel()->hasSelection())
        table_->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The selected row stays in sight, and following no longer moves it away.
    setFollow(false);
    table_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

std::vector<int> BusMonitorWindow::selectedRowNumbers() const {
    // From the selection's ranges: asking for the selected rows one by one takes seconds when a
    // hundred thousand are.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : table_->selectionModel()->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void BusMonitorWindow::setFollow(bool follow) {
    follow_->setChecked(follow);
}

bool BusMonitorWindow::follows() const {
    return follow_->isChecked();
}

void BusMonitorWindow::selectRow(int row, bool clearOthers) {
    const QModelIndex index = model_.index(row, 0);
    table_->setCurrentIndex(index);
    table_->selectionModel()->select(
        index, (clearOthers ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select) |
                   QItemSelectionModel::Rows);
    table_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

bool BusMonitorWindow::findNext(const QString& text, bool backwards) {
    if (text.isEmpty()) {
        search_->setFocus(Qt::OtherFocusReason);
        showStatus(QStringLiteral("Type what to search for (Ctrl+F), then F3"),
                   [this] { return search_->text().isEmpty(); });
        return false;
    }
    // From the row after the current one (before it, backwards), round the end.
    const QModelIndex current = table_->currentIndex();
    const int count = model_.rowCount();
    int from = backwards ? count - 1 : 0;
    if (current.isValid())
        from = backwards ? (current.row() > 0 ? current.row() - 1 : count - 1) : current.row() + 1;
    const long row =
        model_.monitor().find(text.toStdString(), static_cast<std::size_t>(std::max(from, 0)), backwards);
    if (row < 0) {
        showStatus(QStringLiteral("\"%1\" not found in the rows shown").arg(text),
                   [this, text] { return search_->text() == text; });
        return false;
    }
    setFollow(false);
    selectRow(static_cast<int>(row), true);
    if (message_ && message_->text.endsWith(QStringLiteral("not found in the rows shown"))) message_.reset();
    refresh();
    return true;
}

QString BusMonitorWindow::copySelection() {
    std::vector<std::size_t> rows;
    for (int row : selectedRowNumbers())
        rows.push_back(static_cast<std::size_t>(row));
    if (rows.empty()) {
        showStatus(
            QStringLiteral("Nothing copied: select rows first (click; Shift+click or Ctrl+A for more)"),
            [this] { return !table_->selectionModel()->hasSelection(); });
        return {};
    }
    std::sort(rows.begin(), rows.end());
    const QString text = QString::fromStdString(model_.monitor().tabText(rows));
    if (QClipboard* clipboard = QApplication::clipboard()) clipboard->setText(text);
    showStatus(rows.size() == 1 ? QStringLiteral("1 row copied")
                                : QStringLiteral("%1 rows copied").arg(rows.size()),
               {}, 5);
    return text;
}

std::optional<std::string> BusMonitorWindow::askSavePath(QWidget* parent, const QString& title,
                                                         const QString& filter, const QString& suffix,
                                                         const SavePathHook& hook) {
    if (hook) return hook(title.toStdString());
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void BusMonitorWindow::exportCsv() {
    const auto path = askSavePath(this, QStringLiteral("Export CSV"), QStringLiteral("CSV files (*.csv)"),
                                  QStringLiteral("csv"), savePathHook_);
    if (!path) return;
    std::string error;
    if (model_.monitor().exportCsv(*path, error))
        showStatus(QStringLiteral("%1 rows written to %2")
                       .arg(model_.rowCount())
                       .arg(QString::fromStdString(*path)));
    else
        showStatus(QStringLiteral("CSV not written: %1").arg(QString::fromStdString(error)), {}, 30);
}

void BusMonitorWindow::saveCapture() {
    const auto path = askSavePath(this, QStringLiteral("Save Bus Capture"),
                                  QStringLiteral("Captures (*.pcap)"), QStringLiteral("pcap"), savePathHook_);
    if (!path) return;
    core_.busLog().takeNew();
    std::string error;
    if (core_.busLog().saveCapture(*path, error))
        showStatus(QStringLiteral("%1 exchanges saved to %2")
                       .arg(static_cast<qulonglong>(core_.busLog().kept().size()))
                       .arg(QString::fromStdString(*path)));
    else
        showStatus(QStringLiteral("Capture not saved: %1").arg(QString::fromStdString(error)), {}, 30);
}

void BusMonitorWindow::sendTyped(const QString& text) {
    if (typed_->text() != text) typed_->setText(text); // as if typed on the command line
    const std::string refusal = core_.sendTypedFrame(text.toStdString());
    if (refusal.empty()) {
        typed_->clear();
        setFollow(true);
        showStatus(
            QStringLiteral("\"%1\" goes out when the link is idle").arg(text.trimmed()),
            [this] { return core_.typedFramePending(); }, 3600);
        return;
    }
    // A refusal holds while the same text is there and, for one that comes from the link's
    // state, while that state lasts.
    control::TypedFrame frame;
    std::string reason;
    const bool wellFormed = control::parseTypedFrame(text.toStdString(), frame, reason);
    const bool pendingBefore = core_.typedFramePending();
    showStatus(
        QStringLiteral("Not sent: %1").arg(QString::fromStdString(refusal)),
        [this, text, refusal, wellFormed, pendingBefore] {
            if (typed_->text() != text) return false;
            if (!wellFormed) return true;
            if (pendingBefore) return core_.typedFramePending();
            return core_.typedRefusal() == refusal;
        },
        3600);
}

} // namespace norvex::qt
