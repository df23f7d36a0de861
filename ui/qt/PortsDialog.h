// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The ports dialog: every serial device present with what the system knows about it (stable
// name, adapter, driver, the COM entries that lead to it, whether this user may open it), kept
// up to date while adapters come and go; the technician assigns the selected device to a COM
// entry, and the assignment is kept by stable name in the ports file.

#include "link/PortAssignments.h"
#include "link/PortDiscovery.h"
#include "link/PortMap.h"

#include <QDialog>
#include <QFileSystemWatcher>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace norvex::qt {

class PortsDialog final : public QDialog {
    Q_OBJECT
public:
    // `portsFile` keeps the assignments (nothing is kept when empty); `root` is where devices are
    // looked for ("/"); `changed` is called after an entry's device has changed.
    PortsDialog(QWidget* owner, link::PortMap& ports, std::string portsFile, std::string root,
                std::function<void()> changed);

    // Reads the devices again and shows them.
    void rescan();
    // Gives COM entry `portNumber` the device of table row `row`; -1 gives it its default back.
    void assignRow(int portNumber, int row);

    QTableWidget* table() const { return table_; }
    QLabel* status() const { return status_; }
    QLabel* entries() const { return entries_; }
    const std::vector<link::SerialDevice>& devices() const { return devices_; }
    int rescans() const { return rescans_; }

    // The access column's text and the advice for a device this user may not open, from its mode
    // and group.
    struct AccessText {
        std::string cell, advice;
    };
    static AccessText accessText(unsigned mode, unsigned gid);

    // The stable name is the longest: last, where it may run out of the window.
    enum Column { DEVICE, COM_ENTRY, ACCESS, ADAPTER, DRIVER, STABLE_NAME, COLUMN_COUNT };

private:
    void watch();
    void showEntries();

    link::PortMap& ports_;
    std::string portsFile_;
    link::PortDiscovery discovery_;
    link::PortAssignments assignments_;
    std::function<void()> changed_;
    std::vector<link::SerialDevice> devices_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QTableWidget* table_ = nullptr;
    QComboBox* entry_ = nullptr;
    QPushButton* assign_ = nullptr;
    QPushButton* useDefault_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* entries_ = nullptr;
    int rescans_ = 0;
};

} // namespace norvex::qt
