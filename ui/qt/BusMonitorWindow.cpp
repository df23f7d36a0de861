#include "BusMonitorWindow.h"

#include "control/HeardDecoder.h"
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
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace norvex::qt {

namespace {

// How often the window takes what the link recorded: often enough to look live.
constexpr int REFRESH_MS = 100;

} // namespace

BusMonitorWindow::BusMonitorWindow(ui::MainWindowLogic& core, QWidget* parent)
    : QWidget(parent, Qt::Window), core_(core), model_(core.busLog(), this) {
    setObjectName(QStringLiteral("busMonitor"));
    setWindowTitle(QStringLiteral("Bus Monitor"));
    resize(1100, 560);

    auto* filters = new QHBoxLayout;
    hidePolls_ = new QCheckBox(QStringLiteral("Hide POLLs answered by ACK"), this);
    command_ = new QComboBox(this);
    command_->addItem(QStringLiteral("All commands"), -1);
    static const std::uint8_t commands[][2] = {{0x30, 0x30}, {0x31, 0x31}, {0x33, 0x33}, {0x34, 0x34},
                                               {0x35, 0x35}, {0x36, 0x36}, {0x37, 0x37}};
    for (const auto& c : commands) {
        const std::string label = control::commandLabel(c, c[0] == 0x37 ? 1 : 2);
        command_->addItem(QStringLiteral("%1 ").arg(c[0], 2, 16, QLatin1Char('0')).toUpper() +
                              QString::fromStdString(c[0] == 0x37 ? "EXPANSION" : label),
                          c[0]);
    }
    onlyFaults_ = new QCheckBox(QStringLiteral("Only faults"), this);
    // Listening to a machine, every device's exchanges come; the link's own are the validator's.
    address_ = new QComboBox(this);
    address_->setObjectName(QStringLiteral("addressFilter"));
    address_->addItem(QStringLiteral("All devices"), -1);
    for (const std::uint8_t a : {0x08, 0x10, 0x30, 0x60})
        address_->addItem(QStringLiteral("%1h ").arg(a, 2, 16, QLatin1Char('0')).toUpper() +
                              QString::fromStdString(control::deviceName(a)),
                          a);
    follow_ = new QCheckBox(QStringLiteral("Follow"), this);
    follow_->setChecked(true);
    follow_->setToolTip(QStringLiteral("Keep the newest row in sight; off pauses the view where it is"));
    keep_ = new QSpinBox(this);
    keep_->setRange(static_cast<int>(ui::BusLog::MIN_KEEP), static_cast<int>(ui::BusLog::MAX_KEEP));
    keep_->setSingleStep(1000);
    keep_->setValue(static_cast<int>(core_.busLog().keep()));
    keep_->setPrefix(QStringLiteral("keep "));
    keep_->setSuffix(QStringLiteral(" exchanges"));
    filters->addWidget(hidePolls_);
    filters->addWidget(command_);
    filters->addWidget(onlyFaults_);
    filters->addWidget(address_);
    filters->addStretch(1);
    filters->addWidget(follow_);
    filters->addWidget(keep_);

    auto* tools = new QHBoxLayout;
    search_ = new QLineEdit(this);
    search_->setPlaceholderText(QStringLiteral("Search"));
    auto* findButton = new QPushButton(QStringLiteral("Find Next"), this);
    auto* copyButton = new QPushButton(QStringLiteral("Copy"), this);
    auto* csvButton = new QPushButton(QStringLiteral("Export CSV…"), this);
    auto* pcapButton = new QPushButton(QStringLiteral("Save Bus Capture…"), this);
    tools->addWidget(search_, 1);
    tools->addWidget(findButton);
    tools->addWidget(copyButton);
    tools->addWidget(csvButton);
    tools->addWidget(pcapButton);

    table_ = new QTableView(this);
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
    const int widths[ui::COLUMN_COUNT] = {180, 70, 150, 150, 300, 75, 70, 300};
    for (int c = 0; c < ui::COLUMN_COUNT; ++c)
        table_->setColumnWidth(c, widths[c]);

    auto* line = new QHBoxLayout;
    typed_ = new QLineEdit(this);
    typed_->setObjectName(QStringLiteral("typedFrame"));
    typed_->setPlaceholderText(
        QStringLiteral("Frame in hex, e.g. 33 or 35 01 (the checksum is added unless given)"));
    send_ = new QPushButton(QStringLiteral("Send"), this);
    send_->setObjectName(QStringLiteral("sendTyped"));
    line->addWidget(new QLabel(QStringLiteral("Command:"), this));
    line->addWidget(typed_, 1);
    line->addWidget(send_);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("monitorStatus"));

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
    connect(findButton, &QPushButton::clicked, this, [this] { findNext(search_->text()); });
    connect(search_, &QLineEdit::returnPressed, this, [this] { findNext(search_->text()); });
    connect(copyButton, &QPushButton::clicked, this, [this] { copySelection(); });
    auto* copyKey = new QShortcut(QKeySequence::Copy, table_);
    connect(copyKey, &QShortcut::activated, this, [this] { copySelection(); });
    connect(csvButton, &QPushButton::clicked, this, [this] { exportCsv(); });
    connect(pcapButton, &QPushButton::clicked, this, [this] { saveCapture(); });
    connect(send_, &QPushButton::clicked, this, [this] { sendTyped(typed_->text()); });
    connect(typed_, &QLineEdit::returnPressed, this, [this] { sendTyped(typed_->text()); });

    timer_.setInterval(REFRESH_MS);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
    timer_.start();
    refresh();
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
    model_.refresh();
    if (follow_->isChecked()) table_->scrollToBottom();
    QString text = QStringLiteral("%1 rows shown, %2 exchanges kept")
                       .arg(model_.rowCount())
                       .arg(static_cast<qulonglong>(core_.busLog().kept().size()));
    if (const auto lost = core_.busLog().lost(); lost > 0)
        text += QStringLiteral(", %1 lost before they were shown").arg(static_cast<qulonglong>(lost));
    if (core_.typedFramePending()) text += QStringLiteral("; the typed frame waits for an idle link");
    if (!status_->property("message").toString().isEmpty())
        text += "  —  " + status_->property("message").toString();
    status_->setText(text);
}

void BusMonitorWindow::showStatus(const QString& text) {
    status_->setProperty("message", text);
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
    if (address_->findData(filter.address) < 0)
        address_->addItem(QStringLiteral("%1h").arg(filter.address, 2, 16, QLatin1Char('0')).toUpper(),
                          filter.address);
    address_->setCurrentIndex(address_->findData(filter.address));
    model_.setFilter(filter);
    if (follow_->isChecked()) table_->scrollToBottom();
}

void BusMonitorWindow::setFollow(bool follow) {
    follow_->setChecked(follow);
}

bool BusMonitorWindow::follows() const {
    return follow_->isChecked();
}

bool BusMonitorWindow::findNext(const QString& text) {
    const QModelIndex current = table_->currentIndex();
    const std::size_t from = current.isValid() ? static_cast<std::size_t>(current.row()) + 1 : 0;
    const long row = model_.monitor().find(text.toStdString(), from);
    if (row < 0) {
        showStatus(QStringLiteral("\"%1\" not found").arg(text));
        return false;
    }
    // Looking at a found row pauses following, or the next exchange would scroll it away.
    setFollow(false);
    const QModelIndex index = model_.index(static_cast<int>(row), 0);
    table_->setCurrentIndex(index);
    table_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollTo(index);
    return true;
}

QString BusMonitorWindow::copySelection() {
    std::vector<std::size_t> rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(i.row()));
    std::sort(rows.begin(), rows.end());
    const QString text = QString::fromStdString(model_.monitor().tabText(rows));
    if (QClipboard* clipboard = QApplication::clipboard()) clipboard->setText(text);
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
        showStatus(QStringLiteral("CSV not written: %1").arg(QString::fromStdString(error)));
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
        showStatus(QStringLiteral("Capture not saved: %1").arg(QString::fromStdString(error)));
}

void BusMonitorWindow::sendTyped(const QString& text) {
    const std::string refusal = core_.sendTypedFrame(text.toStdString());
    if (refusal.empty()) {
        typed_->clear();
        setFollow(true);
        showStatus(QStringLiteral("\"%1\" goes out at the next tick").arg(text.trimmed()));
    } else {
        showStatus(QStringLiteral("Not sent: %1").arg(QString::fromStdString(refusal)));
    }
}

} // namespace norvex::qt
