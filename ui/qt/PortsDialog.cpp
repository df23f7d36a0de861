// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortsDialog.h"

#include "HelpWindow.h"
#include "link/PortDiagnosis.h"
#include "link/PortListing.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include <sys/stat.h>

namespace norvex::qt {

namespace {

// udev makes the stable names a moment after the node: one look after the changes settle.
constexpr int SETTLE_MS = 250;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string adapterText(const link::SerialDevice& d) {
    if (!d.usb) return {};
    // Appended piece by piece: GCC 12 at -O3 takes `literal + std::string` for an overlapping copy.
    std::string text = d.manufacturer;
    if (!d.product.empty()) {
        if (!text.empty()) text += ' ';
        text += d.product;
    }
    if (!text.empty()) text += ' ';
    text += '(';
    text += d.vendorId;
    text += ':';
    text += d.productId;
    if (!d.serialNumber.empty()) {
        text += ", serial ";
        text += d.serialNumber;
    }
    text += ')';
    return text;
}

std::string entryName(int portNumber) {
    return "COM " + std::to_string(portNumber + 1);
}

} // namespace

PortsDialog::AccessText PortsDialog::accessText(unsigned mode, unsigned gid) {
    // In the words "No Connection" uses: joining the group helps only where the group may read
    // and write the device.
    if (link::PortDiagnosis::groupMayUse(mode, gid))
        return {"may not open (group " + link::PortDiagnosis::groupName(gid) + ")",
                link::PortDiagnosis::permissionAdvice(mode, gid)};
    return {"may not open (no group may)", link::PortDiagnosis::permissionAdvice(mode, gid)};
}

PortsDialog::PortsDialog(QWidget* owner, link::PortMap& ports, std::string portsFile, std::string root,
                         std::function<void()> changed)
    : QDialog(owner), ports_(ports), portsFile_(std::move(portsFile)), discovery_(std::move(root)),
      changed_(std::move(changed)) {
    setWindowTitle(QStringLiteral("Serial Ports"));
    setObjectName(QStringLiteral("portsDialog"));
    setHelpTopic(this, QStringLiteral("ports.html"));

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("Serial devices present (the list follows adapters as they are "
                                              "plugged in and pulled out):"),
                               this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    table_ = new QTableWidget(0, COLUMN_COUNT, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Device"), QStringLiteral("COM entry"),
                                       QStringLiteral("Access"), QStringLiteral("Adapter"),
                                       QStringLiteral("Driver"), QStringLiteral("Stable name")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    // One line a device; a long stable name keeps its end in sight.
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setTextElideMode(Qt::ElideRight);
    // Narrower than its columns, the table scrolls; the dialog can be as small as its buttons.
    table_->setMinimumSize(320, 150);
    layout->addWidget(table_, 1);

    auto* row = new QHBoxLayout;
    auto* assignTo = new QLabel(QStringLiteral("Assign the selected device &to"), this);
    row->addWidget(assignTo);
    entry_ = new QComboBox(this);
    for (int i = 0; i < link::PortMap::PORT_COUNT; ++i)
        entry_->addItem(q(entryName(i)));
    assignTo->setBuddy(entry_);
    row->addWidget(entry_);
    assign_ = new QPushButton(QStringLiteral("&Assign"), this);
    useDefault_ = new QPushButton(QStringLiteral("Use the &default"), this);
    row->addWidget(assign_);
    row->addWidget(useDefault_);
    row->addStretch();
    layout->addLayout(row);

    entries_ = new QLabel(this);
    entries_->setObjectName(QStringLiteral("entries"));
    entries_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long stable names must not hold the dialog wide; the whole text is in the tooltip.
    entries_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(entries_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(assign_, &QPushButton::clicked, this, [this] {
        const auto rows = table_->selectionModel()->selectedRows();
        if (!rows.isEmpty()) assignRow(entry_->currentIndex(), rows.front().row());
    });
    connect(useDefault_, &QPushButton::clicked, this, [this] { assignRow(entry_->currentIndex(), -1); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = table_->selectionModel()->selectedRows();
        assign_->setEnabled(!rows.isEmpty());
        // The row chosen is the row selected, whatever had the keyboard's focus before.
        if (!rows.isEmpty() && table_->currentRow() != rows.front().row())
            table_->setCurrentCell(rows.front().row(),
                                   table_->currentColumn() < 0 ? 0 : table_->currentColumn(),
                                   QItemSelectionModel::NoUpdate);
    });

    if (!portsFile_.empty()) {
        std::string warning;
        if (!assignments_.load(portsFile_, warning)) status_->setText(q(warning));
    }

    // Room for the usual columns where the screen has it; any smaller size works too.
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(std::min(960, room.width() - 16), std::min(480, room.height() - 48));

    settle_.setSingleShot(true);
    settle_.setInterval(SETTLE_MS);
    connect(&settle_, &QTimer::timeout, this, &PortsDialog::rescan);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
    rescan();
}

void PortsDialog::watch() {
    // /dev for the nodes; the stable names' folders once udev has made them.
    QStringList wanted;
    for (const char* dir : {"/dev", "/dev/serial", "/dev/serial/by-id"}) {
        const QString path = q(discovery_.root() == "/" ? dir : discovery_.root() + dir);
        if (QDir(path).exists()) wanted << path;
    }
    const QStringList watched = watcher_.directories();
    for (const QString& path : wanted)
        if (!watched.contains(path)) watcher_.addPath(path);
}

void PortsDialog::rescan() {
    ++rescans_;
    watch();
    // The selection follows its device through the rescan.
    const int selected = table_->currentRow();
    const std::string selectedPath =
        selected >= 0 && selected < static_cast<int>(devices_.size()) ? devices_[selected].path : "";
    devices_ = discovery_.scan();
    table_->setRowCount(static_cast<int>(devices_.size()));
    int reselect = -1;
    for (int r = 0; r < static_cast<int>(devices_.size()); ++r) {
        const link::SerialDevice& d = devices_[static_cast<std::size_t>(r)];
        if (d.path == selectedPath) reselect = r;
        std::string coms;
        for (int i : link::entriesLeadingTo(discovery_, ports_, d))
            coms += (coms.empty() ? "" : ", ") + entryName(i);
        std::string access = "may open";
        std::string hint;
        if (!d.accessible) {
            struct stat st {};
            const std::string node = discovery_.root() == "/" ? d.path : discovery_.root() + d.path;
            const AccessText words = ::stat(node.c_str(), &st) == 0 ? accessText(st.st_mode, st.st_gid)
                                                                    : AccessText{"may not open", {}};
            access = words.cell;
            hint = words.advice;
        }
        const std::string texts[COLUMN_COUNT] = {
            d.path, coms, access, adapterText(d), d.driver, d.stableName.empty() ? "(none)" : d.stableName};
        const QString tip = q(link::PortDiscovery::summary(d) + (hint.empty() ? "" : "\n" + hint));
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            auto* item = new QTableWidgetItem(q(texts[c]));
            item->setToolTip(tip);
            table_->setItem(r, c, item);
        }
    }
    // Every column but the last at its contents' width; the last takes the rest.
    for (int c = 0; c + 1 < COLUMN_COUNT; ++c)
        table_->resizeColumnToContents(c);
    table_->horizontalHeader()->setStretchLastSection(true);
    // The device chosen before, else the first: a single adapter is ready to assign.
    if (reselect < 0 && !devices_.empty()) reselect = 0;
    if (reselect >= 0) {
        table_->setCurrentCell(reselect, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        table_->clearSelection();
    }
    assign_->setEnabled(reselect >= 0);
    showEntries();
}

void PortsDialog::showEntries() {
    QString text;
    for (int i = 0; i < link::PortMap::PORT_COUNT; ++i) {
        const std::string path = ports_.devicePath(i);
        const std::string target = discovery_.resolve(path);
        std::string line = entryName(i) + "  " + path + "  (" + link::originText(ports_, i) + ")";
        if (target.empty())
            line += "  not present";
        else if (target != path)
            line += "  \u2192 " + target;
        text += q(line) + (i + 1 < link::PortMap::PORT_COUNT ? QStringLiteral("\n") : QString());
    }
    entries_->setText(text);
    entries_->setToolTip(text);
}

void PortsDialog::assignRow(int portNumber, int row) {
    if (portNumber < 0 || portNumber >= link::PortMap::PORT_COUNT) return;
    std::string path;
    if (row >= 0) {
        if (row >= static_cast<int>(devices_.size())) return;
        const link::SerialDevice& d = devices_[static_cast<std::size_t>(row)];
        path = d.stableName.empty() ? d.path : d.stableName;
    }
    assignments_.assign(portNumber, path);
    const bool applied = ports_.assign(portNumber, path);

    // What the entry opens now and from the next start, without saying one and then the other.
    const std::string device = path.empty() ? std::string("its default device") : path;
    std::string text;
    if (applied)
        text = entryName(portNumber) +
               (path.empty() ? " opens its default device again." : " now opens " + path + ".");
    else
        text = "For this session " + link::originText(ports_, portNumber) + " decides " +
               entryName(portNumber) + " (" + ports_.devicePath(portNumber) +
               "); from the next start without it, " + entryName(portNumber) + " opens " + device + ".";
    if (!path.empty() && row >= 0 && devices_[static_cast<std::size_t>(row)].stableName.empty())
        text += " This device has no stable name: after plugging adapters in another order, assign it again.";
    if (portsFile_.empty()) {
        text += " Kept for this session only: there is no configuration folder (HOME is not set).";
    } else if (std::string error; !assignments_.save(portsFile_, error)) {
        text += " Not kept for the next start: " + error + ".";
    }
    status_->setText(q(text));
    rescan();
    if (changed_) changed_();
}

} // namespace norvex::qt
