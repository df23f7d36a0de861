// SPDX-License-Identifier: GPL-3.0-or-later
// Finding, naming and explaining serial devices: discovery against a device and sysfs tree laid
// out in a temporary folder, the reasons a real pseudo-terminal does not open, and the file of
// port assignments.

#include "link/PortDiscovery.h"
#include "link/PortAssignments.h"
#include "link/PortDiagnosis.h"
#include "link/PortListing.h"
#include "link/PortMap.h"
#include "link/TermiosPort.h"
#include "support/FakeDeviceTree.h"
#include "support/TestPty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace norvex::link;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

constexpr uid_t NOBODY = 65534;

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `check` as an unprivileged user: in a child that drops to nobody when the tests run as
// root, in the test process itself otherwise. True when the check returned true.
bool asUnprivileged(const std::function<bool()>& check) {
    if (::geteuid() != 0) return check();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool ok = ::setgroups(0, nullptr) == 0 && ::setresgid(NOBODY, NOBODY, NOBODY) == 0 &&
                        ::setresuid(NOBODY, NOBODY, NOBODY) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const SerialDevice* find(const std::vector<SerialDevice>& all, const std::string& name) {
    for (const SerialDevice& d : all)
        if (d.name == name) return &d;
    return nullptr;
}

} // namespace

TEST(PortDiscovery, FindsEachAdapterWithItsStableNameDriverAndUsbDescriptors) {
    FakeTree t;
    t.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    t.addUsbSerial("ttyUSB1", "1-2", "ch341", CH340); // no serial number, so no by-id name
    t.addAcm("ttyACM0", "1-3", ACM, ACM_ID);
    t.addUart("ttyS0", 4);
    t.addUart("ttyS1", 0); // a name without a chip behind it
    t.addConsole("tty1");

    const std::vector<SerialDevice> all = PortDiscovery(t.root()).scan();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].name, "ttyACM0"); // sorted by name
    EXPECT_EQ(find(all, "tty1"), nullptr);
    EXPECT_EQ(find(all, "ttyS1"), nullptr);

    const SerialDevice& ftdi = *find(all, "ttyUSB0");
    EXPECT_EQ(ftdi.path, "/dev/ttyUSB0");
    EXPECT_EQ(ftdi.stableName, std::string("/dev/serial/by-id/") + FTDI_ID);
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_TRUE(ftdi.usb);
    EXPECT_EQ(ftdi.vendorId, "0403");
    EXPECT_EQ(ftdi.productId, "6001");
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.serialNumber, "A10KX3B9");
    EXPECT_EQ(PortDiscovery::summary(ftdi),
              "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A10KX3B9), ftdi_sio");

    const SerialDevice& ch340 = *find(all, "ttyUSB1");
    EXPECT_EQ(ch340.stableName, "");
    EXPECT_EQ(ch340.driver, "ch341");
    EXPECT_EQ(ch340.vendorId, "1a86");
    EXPECT_EQ(ch340.serialNumber, "");

    const SerialDevice& acm = *find(all, "ttyACM0");
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.stableName, std::string("/dev/serial/by-id/") + ACM_ID);
    EXPECT_EQ(acm.serialNumber, "85734323231351F0E1C1");

    // The board's UART: its driver sits above the serial core's port layer; it is no USB device.
    const SerialDevice& uart = *find(all, "ttyS0");
    EXPECT_EQ(uart.driver, "serial8250");
    EXPECT_FALSE(uart.usb);

    // A stable name, a node and a pseudo-terminal-like path all lead to what they name.
    EXPECT_EQ(PortDiscovery(t.root()).describe(std::string("/dev/serial/by-id/") + FTDI_ID)->name, "ttyUSB0");
    EXPECT_EQ(PortDiscovery(t.root()).describe("/dev/ttyACM0")->driver, "cdc_acm");
    EXPECT_FALSE(PortDiscovery(t.root()).describe("/dev/ttyUSB7").has_value());
}

TEST(PortDiscovery, AnEmptyOrMissingTreeHasNoDevicesAndListsEachComEntryAsNotPresent) {
    FakeTree t;
    EXPECT_TRUE(PortDiscovery(t.root()).scan().empty());
    EXPECT_TRUE(PortDiscovery(t.root() + "/nothing-here").scan().empty());
    PortMap ports;
    const std::string text = portListing(PortDiscovery(t.root()), ports);
    EXPECT_NE(text.find("No serial device is present."), std::string::npos) << text;
    EXPECT_NE(text.find("COM1  /dev/ttyUSB0 (default): not present"), std::string::npos) << text;
}

TEST(PortDiscovery, ListingNamesTheComEntriesThatLeadToEachDeviceAndWhereTheyCameFrom) {
    FakeTree t;
    t.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    t.addAcm("ttyACM0", "1-3", ACM, ACM_ID);
    PortMap ports;
    ASSERT_TRUE(ports.assign(1, std::string("/dev/serial/by-id/") + FTDI_ID));
    ports.set(2, "/dev/ttyACM0", PortOrigin::Environment);
    PortDiscovery discovery(t.root());

    // COM 1 keeps its default /dev/ttyUSB0, COM 2 reaches the same adapter by its stable name.
    EXPECT_EQ(entriesLeadingTo(discovery, ports, *discovery.describe("/dev/ttyUSB0")),
              (std::vector<int>{0, 1}));
    const std::string text = portListing(discovery, ports);
    EXPECT_NE(text.find("  COM entry    COM1 (default), COM2 (assigned)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  COM entry    COM3 (NORVEX_COM3)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  USB          0403:6001  FTDI FT232R USB UART, serial A10KX3B9\n"),
              std::string::npos);
    EXPECT_NE(text.find("COM2  /dev/serial/by-id/" + std::string(FTDI_ID) + " (assigned) -> /dev/ttyUSB0\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("COM4  /dev/ttyUSB3 (default): not present\n"), std::string::npos) << text;
}

TEST(PortDiscovery, AStableNameFollowsItsAdapterWhenTheAdaptersAreReplugged) {
    FakeTree t;
    const FakeTree::Usb other{"0403", "6015", "FTDI", "FT231X USB UART", "DN05ABCD"};
    const std::string otherId = "usb-FTDI_FT231X_USB_UART_DN05ABCD-if00-port0";
    t.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    t.addUsbSerial("ttyUSB1", "1-2", "ftdi_sio", other, otherId);
    PortMap ports;
    ASSERT_TRUE(ports.assign(0, std::string("/dev/serial/by-id/") + FTDI_ID));
    PortDiscovery discovery(t.root());
    EXPECT_EQ(discovery.resolve(ports.devicePath(0)), "/dev/ttyUSB0");

    // Both pulled and plugged back the other way round: the kernel numbers them anew.
    t.unplug("ttyUSB0");
    t.unplug("ttyUSB1");
    fs::remove_all(t / "sys/devices/pci0000:00/usb1");
    t.addUsbSerial("ttyUSB0", "1-2", "ftdi_sio", other, otherId);
    t.addUsbSerial("ttyUSB1", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    EXPECT_EQ(discovery.resolve(ports.devicePath(0)), "/dev/ttyUSB1");
    EXPECT_EQ(discovery.describe(ports.devicePath(0))->serialNumber, "A10KX3B9");
}

TEST(PortDiscovery, AVanishedAdapterLeavesTheListAndItsStableNameExplainsItself) {
    FakeTree t;
    t.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    t.addAcm("ttyACM0", "1-3", ACM);
    const std::string stable = std::string("/dev/serial/by-id/") + FTDI_ID;
    ASSERT_EQ(PortDiscovery(t.root()).scan().size(), 2u);

    // udev is slower than the kernel: for a moment the stable name dangles.
    fs::remove(t / "dev/ttyUSB0");
    fs::remove(t / "sys/class/tty/ttyUSB0");
    const std::vector<SerialDevice> left = PortDiscovery(t.root()).scan();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, "ttyACM0");
    EXPECT_FALSE(PortDiscovery(t.root()).describe(stable).has_value());

    const PortExplanation dangling = PortDiagnosis(t.root()).explain(stable, ENOENT);
    EXPECT_EQ(dangling.problem, PortProblem::Missing);
    EXPECT_NE(dangling.text.find("leads to no device: the adapter it names is not plugged in"),
              std::string::npos)
        << dangling.text;
    EXPECT_NE(dangling.text.find("USB serial adapters present: /dev/ttyACM0."), std::string::npos)
        << dangling.text;

    t.unplug("ttyACM0");
    const PortExplanation gone = PortDiagnosis(t.root()).explain("/dev/ttyUSB0", ENOENT);
    EXPECT_EQ(gone.problem, PortProblem::Missing);
    EXPECT_EQ(gone.text,
              "/dev/ttyUSB0 is not there: is the adapter plugged in? No USB serial adapter is plugged in.");
}

TEST(PortDiscovery, SaysWhichDevicesThisUserMayNotOpen) {
    FakeTree t;
    t.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
    t.addAcm("ttyACM0", "1-3", ACM, ACM_ID);
    // Its group's alone: neither its owner (us, when the tests do not run as root) nor others.
    fs::permissions(t / "dev/ttyACM0", fs::perms(0060));
    const std::string root = t.root();
    EXPECT_TRUE(asUnprivileged([&] {
        const std::vector<SerialDevice> all = PortDiscovery(root).scan();
        const std::string text = portListing(PortDiscovery(root), PortMap());
        return all.size() == 2 && find(all, "ttyUSB0")->accessible && !find(all, "ttyACM0")->accessible &&
               text.find("ttyACM0\n") != std::string::npos &&
               text.find("  access       this user may not open it") != std::string::npos &&
               text.find("  access       this user may open it\n") != std::string::npos;
    }));
}

// The reasons against real terminals, as TermiosPort meets them.
class PortDiagnosisTest : public ::testing::Test {
protected:
    // Opens `path` as the link does and explains the failure; "" when it opened.
    static PortExplanation openAndExplain(const std::string& path) {
        TermiosPort port;
        const LinkResult opened = port.open(path, {});
        if (opened) return {PortProblem::None, "opened"};
        return PortDiagnosis().explain(path, opened.fault().errorNumber);
    }
};

TEST_F(PortDiagnosisTest, ATerminalThisUserMayNotOpenNamesItsGroupAndHowToJoinIt) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    // Readable and writable for its group only. As root the terminal is given to root and a
    // group the unprivileged user is not in; otherwise it stays ours, and the owner's own bits
    // (none) decide.
    if (::geteuid() == 0) {
        const group* g = ::getgrnam("dialout");
        ASSERT_EQ(::chown(pty.slave.c_str(), 0, g ? g->gr_gid : 5), 0);
    }
    ASSERT_EQ(::chmod(pty.slave.c_str(), 0060), 0);
    struct stat st {};
    ASSERT_EQ(::stat(pty.slave.c_str(), &st), 0);
    const std::string groupName = PortDiagnosis::groupName(st.st_gid);
    const std::string slave = pty.slave;

    const std::string file = testing::TempDir() + "norvex-permission-" + std::to_string(::getpid());
    EXPECT_TRUE(asUnprivileged([&] {
        const PortExplanation e = openAndExplain(slave);
        std::ofstream(file) << e.text;
        return e.problem == PortProblem::NoPermission;
    }));
    const std::string text = slurp(file);
    fs::remove(file);
    EXPECT_NE(text.find("may not open " + slave + " (c---rw----"), std::string::npos) << text;
    EXPECT_NE(text.find("group " + groupName + ")"), std::string::npos) << text;
    EXPECT_NE(text.find("sudo usermod -aG " + groupName + " $USER  then log out and in again."),
              std::string::npos)
        << text;
}

TEST_F(PortDiagnosisTest, AnotherProgramHoldingTheTerminalIsNamed) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        // Another program that takes the port as ours does: flock.
        const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const char c = held ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(c, 'y');

    std::string comm;
    std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), comm);
    const PortExplanation e = openAndExplain(pty.slave);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(e.problem, PortProblem::HeldElsewhere);
    EXPECT_EQ(e.text, "Another program holds " + pty.slave + ": " + comm + " (process " +
                          std::to_string(holder) + "). Close it and START again.");
    // Once it has gone, the port opens.
    EXPECT_EQ(openAndExplain(pty.slave).text, "opened");
}

// A program that set the exclusive-use mark and ended without clearing it leaves the terminal
// refusing every ordinary user's open (on a pseudo-terminal for as long as its other end stays
// open); no program holds it, and that is what the technician is told.
TEST_F(PortDiagnosisTest, AMarkLeftByAProgramThatEndedIsNotBlamedOnAHolder) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    ASSERT_EQ(::chmod(pty.slave.c_str(), 0666), 0); // the unprivileged user may open it
    const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    ::close(fd);

    const std::string slave = pty.slave;
    const std::string file = testing::TempDir() + "norvex-left-marked-" + std::to_string(::getpid());
    EXPECT_TRUE(asUnprivileged([&] {
        const PortExplanation e = openAndExplain(slave);
        std::ofstream(file) << e.text;
        return e.problem == PortProblem::LeftMarked;
    }));
    const std::string text = slurp(file);
    fs::remove(file);
    EXPECT_EQ(text.rfind(slave + " is still marked for exclusive use, but no program has it open", 0), 0u)
        << text;
    EXPECT_NE(text.find(": a program that ended without releasing it left the mark. Restart the program at "
                        "its other end"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Another program holds"), std::string::npos) << text;
}

TEST_F(PortDiagnosisTest, WhatIsNoSerialPortOrNotThereIsSaidSo) {
    EXPECT_EQ(openAndExplain("/dev/null").problem, PortProblem::NotSerial);
    EXPECT_EQ(openAndExplain("/dev/null").text, "/dev/null is not a serial port.");
    const std::string file = testing::TempDir() + "norvex-not-a-port";
    writeTreeFile(file, "x");
    EXPECT_EQ(openAndExplain(file).problem, PortProblem::NotSerial);
    fs::remove(file);
    EXPECT_EQ(openAndExplain("/dev/ttyNORVEX9").problem, PortProblem::Missing);
    // Nothing found wrong and no error number: nothing to add.
    Pty pty;
    EXPECT_EQ(PortDiagnosis().explain(pty.slave, 0).problem, PortProblem::None);
    EXPECT_EQ(PortDiagnosis().explain(pty.slave, 0).text, "");
}

// --- the assignments file ------------------------------------------------------------------------

class PortAssignmentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/norvex-config-XXXXXX";
        dir = ::mkdtemp(name);
        file = dir + "/norvex/ports.conf";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string dir, file;
};

TEST_F(PortAssignmentsTest, AssignmentsSurviveTheRoundTripAndOnlyDefaultsGiveWay) {
    PortAssignments a;
    std::string why;
    EXPECT_TRUE(a.load(file, why)); // no file yet: nothing assigned
    a.assign(0, std::string("/dev/serial/by-id/") + FTDI_ID);
    a.assign(2, "/dev/ttyACM0");
    a.assign(3, "relative/path");      // not kept
    a.assign(1, "/dev/with\nnewline"); // not kept
    ASSERT_TRUE(a.save(file, why)) << why;
    EXPECT_EQ(slurp(file), "# Norvex: the serial device behind each COM entry, by stable name.\n"
                           "COM1=/dev/serial/by-id/" +
                               std::string(FTDI_ID) + "\nCOM3=/dev/ttyACM0\n");
    EXPECT_FALSE(fs::exists(file + ".new"));

    PortAssignments b;
    ASSERT_TRUE(b.load(file, why)) << why;
    for (int i = 0; i < PortMap::PORT_COUNT; ++i)
        EXPECT_EQ(b.assigned(i), a.assigned(i)) << i;

    // The environment and --port still win; a cleared assignment gives the default back.
    PortMap ports;
    ports.set(2, "/dev/from-env", PortOrigin::Environment);
    b.applyTo(ports);
    EXPECT_EQ(ports.devicePath(0), std::string("/dev/serial/by-id/") + FTDI_ID);
    EXPECT_EQ(ports.origin(0), PortOrigin::Assigned);
    EXPECT_EQ(ports.devicePath(2), "/dev/from-env");
    std::string error;
    ASSERT_TRUE(ports.parseOverride("COM1=/dev/from-cli", error));
    EXPECT_FALSE(ports.assign(0, "/dev/ttyUSB3"));
    EXPECT_EQ(ports.devicePath(0), "/dev/from-cli");
    EXPECT_TRUE(ports.assign(1, "/dev/ttyUSB3"));
    EXPECT_TRUE(ports.assign(1, ""));
    EXPECT_EQ(ports.devicePath(1), "/dev/ttyUSB1");
    EXPECT_EQ(ports.origin(1), PortOrigin::Default);

    // Clearing every entry leaves a file with its comment alone.
    for (int i = 0; i < PortMap::PORT_COUNT; ++i)
        b.assign(i, "");
    ASSERT_TRUE(b.save(file, why));
    PortAssignments c;
    ASSERT_TRUE(c.load(file, why));
    EXPECT_EQ(c.assigned(0), "");
}

TEST_F(PortAssignmentsTest, ADamagedFileIsReportedAndIgnoredWhole) {
    const std::string good = "COM1=/dev/ttyUSB0\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"unknown entry", good + "COM5=/dev/ttyUSB4\n"},
        {"no value", good + "COM2\n"},
        {"relative path", "COM2=ttyUSB1\n"},
        {"entry twice", good + "COM1=/dev/ttyUSB1\n"},
        {"binary garbage", std::string("COM1=/dev/tty\x01\x02\xff", 16) + "\n"},
        {"NUL byte", std::string("COM1=/dev/tt\0y", 14) + "\n"},
        {"oversized", good + std::string(70 * 1024, '#')},
    };
    for (const auto& [what, text] : cases) {
        writeTreeFile(file, text);
        PortAssignments a;
        a.assign(3, "/dev/ttyUSB9");
        std::string warning;
        EXPECT_FALSE(a.load(file, warning)) << what;
        EXPECT_NE(warning.find(file), std::string::npos) << what << ": " << warning;
        EXPECT_NE(warning.find("ignored"), std::string::npos) << what << ": " << warning;
        for (int i = 0; i < PortMap::PORT_COUNT; ++i)
            EXPECT_EQ(a.assigned(i), "") << what;
    }
    writeTreeFile(file, "# comment\r\n\r\nCOM2=/dev/ttyUSB1\r\n");
    PortAssignments crlf;
    std::string warning;
    EXPECT_TRUE(crlf.load(file, warning)) << warning;
    EXPECT_EQ(crlf.assigned(1), "/dev/ttyUSB1");

    // A FIFO where the file should be is not waited on; a folder is not read either, and
    // writing over it fails with a reason.
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    PortAssignments fifo;
    EXPECT_FALSE(fifo.load(file, warning));
    EXPECT_NE(warning.find(file + " is a FIFO"), std::string::npos) << warning;
    fs::remove(file);
    fs::create_directories(file);
    PortAssignments d;
    EXPECT_FALSE(d.load(file, warning));
    EXPECT_NE(warning.find("is a folder"), std::string::npos) << warning;
    d.assign(0, "/dev/ttyUSB0");
    std::string error;
    EXPECT_FALSE(d.save(file, error));
    EXPECT_FALSE(error.empty());
}

TEST(PortAssignments, TheFileLivesInTheUsersConfigurationFolder) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("XDG_CONFIG_HOME", "/srv/config", 1);
    EXPECT_EQ(PortAssignments::defaultFile(), "/srv/config/norvex/ports.conf");
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored, as the standard says
    ::setenv("HOME", "/home/tech", 1);
    EXPECT_EQ(PortAssignments::defaultFile(), "/home/tech/.config/norvex/ports.conf");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(PortAssignments::defaultFile(), "/home/tech/.config/norvex/ports.conf");
    if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}
