// SPDX-License-Identifier: GPL-3.0-or-later
// The ports dialog and the port selector's tooltip against a device tree in a temporary folder,
// rendered offscreen. With NORVEX_SHOTS set to a folder, the dialog and a tooltip are saved there
// as PNG files to look at.

#include "ui/qt/PortsDialog.h"
#include "GuiTestApp.h"
#include "support/FakeDeviceTree.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/ListenDialog.h"
#include "ui/qt/MainWindow.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>

#include "link/PortDiagnosis.h"

#include <gtest/gtest.h>

#include <grp.h>

namespace norvex::test {
namespace {

using qt::PortsDialog;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Saves what `w` shows when NORVEX_SHOTS names a folder.
void shoot(QWidget* w, const char* name) {
    const QByteArray folder = qgetenv("NORVEX_SHOTS");
    if (folder.isEmpty()) return;
    w->grab().save(QString::fromUtf8(folder) + "/" + name);
}

class PortsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        ASSERT_TRUE(config.isValid());
        tree.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    }

    QString cell(PortsDialog& d, int row, int column) { return d.table()->item(row, column)->text(); }
    int rowOf(PortsDialog& d, const std::string& device) {
        for (int r = 0; r < d.table()->rowCount(); ++r)
            if (cell(d, r, PortsDialog::DEVICE).toStdString() == device) return r;
        return -1;
    }

    FakeTree tree;
    QTemporaryDir config;
    std::string portsFile = config.path().toStdString() + "/norvex/ports.conf";
    link::PortMap ports;
    int changed = 0;
};

TEST_F(PortsDialogTest, ShowsEachDeviceAndFollowsAdaptersAsTheyComeAndGo) {
    PortsDialog d(nullptr, ports, portsFile, tree.root(), [&] { ++changed; });
    d.show();
    settle();
    ASSERT_EQ(d.table()->rowCount(), 1);
    EXPECT_EQ(cell(d, 0, PortsDialog::DEVICE), "/dev/ttyUSB0");
    EXPECT_EQ(cell(d, 0, PortsDialog::STABLE_NAME).toStdString(),
              std::string("/dev/serial/by-id/") + FTDI_ID);
    EXPECT_EQ(cell(d, 0, PortsDialog::ADAPTER), "FTDI FT232R USB UART (0403:6001, serial A10KX3B9)");
    EXPECT_EQ(cell(d, 0, PortsDialog::DRIVER), "ftdi_sio");
    EXPECT_EQ(cell(d, 0, PortsDialog::COM_ENTRY), "COM 1"); // COM 1's default is /dev/ttyUSB0
    EXPECT_EQ(cell(d, 0, PortsDialog::ACCESS), "may open");
    EXPECT_TRUE(d.entries()->text().contains("COM 2  /dev/ttyUSB1  (default)  not present"));

    // Plugged in: the dialog notices without being asked.
    tree.addAcm("ttyACM0", "1-3", ACM, ACM_ID);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.table()->rowCount() == 2; }, 5000));
    EXPECT_EQ(rowOf(d, "/dev/ttyACM0"), 0);
    EXPECT_EQ(cell(d, 0, PortsDialog::DRIVER), "cdc_acm");
    EXPECT_EQ(cell(d, 0, PortsDialog::COM_ENTRY), "");
    shoot(&d, "ports-dialog.png");

    // Nothing changes, nothing is read: no polling.
    QTest::qWait(400);
    const int quiet = d.rescans();
    QTest::qWait(600);
    EXPECT_EQ(d.rescans(), quiet);

    // Pulled out: gone from the list.
    tree.unplug("ttyACM0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.table()->rowCount() == 1; }, 5000));
    EXPECT_EQ(rowOf(d, "/dev/ttyUSB0"), 0);
    EXPECT_EQ(changed, 0);
}

TEST_F(PortsDialogTest, AnAssignmentIsKeptByStableNameAndTheEnvironmentStillWins) {
    tree.addUsbSerial("ttyUSB1", "1-2", "ch341", CH340); // no stable name
    ports.set(2, "/dev/from-env", link::PortOrigin::Environment);
    PortsDialog d(nullptr, ports, portsFile, tree.root(), [&] { ++changed; });
    const int ftdi = rowOf(d, "/dev/ttyUSB0");
    ASSERT_GE(ftdi, 0);

    d.assignRow(1, ftdi);
    const std::string stable = std::string("/dev/serial/by-id/") + FTDI_ID;
    EXPECT_EQ(ports.devicePath(1), stable);
    EXPECT_EQ(ports.origin(1), link::PortOrigin::Assigned);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(cell(d, rowOf(d, "/dev/ttyUSB0"), PortsDialog::COM_ENTRY), "COM 1, COM 2");
    EXPECT_TRUE(d.status()->text().contains("COM 2 now opens " + QString::fromStdString(stable)));
    EXPECT_NE(readText(portsFile).find("COM2=" + stable + "\n"), std::string::npos);

    // A device without a stable name is kept by its path, with a warning.
    d.assignRow(3, rowOf(d, "/dev/ttyUSB1"));
    EXPECT_EQ(ports.devicePath(3), "/dev/ttyUSB1");
    EXPECT_TRUE(d.status()->text().contains("no stable name"));

    // The environment decides COM 3 for this session; the file keeps the choice for later. The
    // message says both, without claiming the entry opens the device now.
    d.assignRow(2, ftdi);
    EXPECT_EQ(ports.devicePath(2), "/dev/from-env");
    EXPECT_EQ(d.status()->text().toStdString(),
              "For this session NORVEX_COM3 decides COM 3 (/dev/from-env); from the "
              "next start without it, COM 3 opens " +
                  stable + ".");
    EXPECT_NE(readText(portsFile).find("COM3=" + stable + "\n"), std::string::npos);

    // Back to the default.
    d.assignRow(1, -1);
    EXPECT_EQ(ports.devicePath(1), "/dev/ttyUSB1");
    EXPECT_EQ(readText(portsFile).find("COM2="), std::string::npos);

    // The next start reads the file back; a damaged file is said in the dialog and ignored.
    link::PortAssignments again;
    std::string warning;
    ASSERT_TRUE(again.load(portsFile, warning)) << warning;
    EXPECT_EQ(again.assigned(2), stable);
    writeTreeFile(portsFile, "COM1=/dev/ttyUSB0\n\x7f\x45\x4c\x46\x02\x01\n");
    link::PortMap fresh;
    PortsDialog damaged(nullptr, fresh, portsFile, tree.root(), {});
    EXPECT_TRUE(damaged.status()->text().contains("line 2 is damaged"))
        << damaged.status()->text().toStdString();
    EXPECT_EQ(fresh.devicePath(0), "/dev/ttyUSB0");
}

TEST_F(PortsDialogTest, OpensWithTheFirstDeviceChosenReadyToAssignAndResizesFreely) {
    PortsDialog d(nullptr, ports, portsFile, tree.root(), [&] { ++changed; });
    d.show();
    settle();
    QPushButton* assign = nullptr;
    for (auto* b : d.findChildren<QPushButton*>())
        if (b->text() == "&Assign") assign = b;
    ASSERT_TRUE(assign);
    ASSERT_EQ(d.table()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(d.table()->selectionModel()->selectedRows().front().row(), 0);
    EXPECT_TRUE(assign->isEnabled()) << "the only device is ready to assign";
    assign->click();
    EXPECT_EQ(ports.devicePath(0), std::string("/dev/serial/by-id/") + FTDI_ID);
    EXPECT_EQ(changed, 1);

    // After a rescan the device stays chosen and the last column still takes the rest.
    d.resize(1200, 500);
    tree.addAcm("ttyACM0", "1-3", ACM, ACM_ID);
    d.rescan();
    settle();
    ASSERT_EQ(d.table()->rowCount(), 2);
    ASSERT_EQ(d.table()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(cell(d, d.table()->selectionModel()->selectedRows().front().row(), PortsDialog::DEVICE),
              "/dev/ttyUSB0");
    QHeaderView* header = d.table()->horizontalHeader();
    const int last = PortsDialog::STABLE_NAME;
    EXPECT_EQ(header->sectionViewportPosition(last) + header->sectionSize(last),
              d.table()->viewport()->width());
    EXPECT_LE(d.minimumSizeHint().width(), 560) << "the dialog can be made narrow";
}

TEST_F(PortsDialogTest, ADeviceOnlyRootMayOpenIsNotAnsweredWithJoiningItsGroup) {
    const group* dialout = ::getgrnam("dialout");
    const unsigned dialoutGid = dialout ? dialout->gr_gid : 20;
    const std::string dialoutName = link::PortDiagnosis::groupName(dialoutGid);
    const struct {
        unsigned mode, gid;
        std::string cell, advice;
    } cases[] = {
        {0660, dialoutGid, "may not open (group " + dialoutName + ")", "sudo usermod -aG " + dialoutName},
        {0600, 0, "may not open (no group may)", "Its group may not use it either"},
        {0660, 0, "may not open (no group may)", "Its group may not use it either"},
        {0600, dialoutGid, "may not open (no group may)", "Its group may not use it either"},
    };
    for (const auto& c : cases) {
        const PortsDialog::AccessText t = PortsDialog::accessText(c.mode, c.gid);
        EXPECT_EQ(t.cell, c.cell) << c.mode << " " << c.gid;
        EXPECT_NE(t.advice.find(c.advice), std::string::npos) << t.advice;
        EXPECT_EQ(t.advice.find("group root"), std::string::npos) << t.advice;
    }
}

TEST_F(PortsDialogTest, TheSelectorsTooltipNamesTheDeviceBehindEachEntryAndTheMenuOpensTheDialog) {
    QTemporaryDir dir;
    qt::MainWindowSetup setup;
    setup.settingsDirectory = dir.path().toStdString();
    setup.portsFile = portsFile;
    setup.deviceRoot = tree.root();
    qt::MainWindow w(ports, setup);
    w.show();
    settle();
    auto* box = qobject_cast<QComboBox*>(w.control(ids::COM_SELECTOR));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->itemData(0, Qt::ToolTipRole).toString().toStdString(),
              "COM 1 = /dev/ttyUSB0 (default)\n"
              "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A10KX3B9), ftdi_sio");
    EXPECT_EQ(box->itemData(1, Qt::ToolTipRole).toString().toStdString(),
              "COM 2 = /dev/ttyUSB1 (default)\nnot present");
    EXPECT_EQ(box->toolTip(), box->itemData(0, Qt::ToolTipRole).toString());

    QAction* menu = w.menuAction(cmd::SERIAL_PORTS);
    ASSERT_NE(menu, nullptr);
    menu->trigger();
    settle();
    ASSERT_NE(w.portsDialog(), nullptr);
    EXPECT_TRUE(w.portsDialog()->isVisible());
    w.portsDialog()->assignRow(1, 0);
    EXPECT_TRUE(box->itemData(1, Qt::ToolTipRole).toString().startsWith("COM 2 = /dev/serial/by-id/"));
    EXPECT_TRUE(box->itemData(1, Qt::ToolTipRole).toString().contains("FT232R USB UART"));

    // The tooltip follows a pulled adapter when it is next shown.
    tree.unplug("ttyUSB0");
    QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), box->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(box, &tip);
    settle();
    EXPECT_TRUE(box->toolTip().endsWith("not present")) << box->toolTip().toStdString();

    if (!qgetenv("NORVEX_SHOTS").isEmpty()) {
        tree.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
        w.showComPortPaths();
        QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), box->toolTip(), box);
        settle();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QTipLabel") && top->isVisible()) shoot(top, "com-tooltip.png");
        shoot(&w, "main-window.png");
    }
}

} // namespace
} // namespace norvex::test

namespace norvex::test {
namespace {

TEST(ListenDialogTest, OffersTheDevicesPresentOneForEachLine) {
    guiApp();
    // The listening dialog takes its devices from the same scan: the first for the controller's
    // line, the second for the peripherals'; a line with no device of its own starts empty.
    struct Case {
        int devices;
        const char* controller;
        const char* peripherals;
    };
    const Case cases[] = {{0, "", ""}, {1, "/dev/ttyUSB0", ""}, {2, "/dev/ttyUSB0", "/dev/ttyUSB1"}};
    for (const Case& c : cases) {
        FakeTree tree;
        for (int i = 0; i < c.devices; ++i)
            tree.addUsbSerial("ttyUSB" + std::to_string(i), "1-" + std::to_string(i + 1), "ftdi_sio", FTDI,
                              FTDI_ID + std::to_string(i));
        qt::ListenDialog d(nullptr, tree.root());
        EXPECT_EQ(d.controllerPath(), c.controller) << c.devices << " devices";
        EXPECT_EQ(d.peripheralPath(), c.peripherals) << c.devices << " devices";
        d.setPaths(" /dev/pts/3 ", "/dev/pts/4");
        EXPECT_EQ(d.controllerPath(), "/dev/pts/3") << "typed paths, trimmed";
        if (c.devices == 2) shoot(&d, "listen-dialog.png");
    }
}

} // namespace
} // namespace norvex::test
