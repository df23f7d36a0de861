// SPDX-License-Identifier: GPL-3.0-or-later
// Port names, and what only the link's termios port does on a pseudo-terminal: the two-stop-bit
// fallback for mark parity, marked input and reads that never wait. What it shares with the
// download's channel (open, lock, settings, purge, close, hang-up) is in TermiosDeviceTest.cpp.

#include "link/PortMap.h"
#include "link/TermiosPort.h"
#include "support/TestPty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace norvex::link;
using norvex::test::Pty;

TEST(PortMap, DefaultsEnvironmentAndCommandLineInThatOrder) {
    PortMap m;
    EXPECT_EQ(m.devicePath(0), "/dev/ttyUSB0");
    EXPECT_EQ(m.devicePath(3), "/dev/ttyUSB3");
    EXPECT_EQ(m.devicePath(4), "");
    EXPECT_EQ(PortMap::portName(2), "COM3");

    ::setenv("NORVEX_COM2", "/dev/from-env", 1);
    m.loadEnvironment();
    ::unsetenv("NORVEX_COM2");
    EXPECT_EQ(m.devicePath(1), "/dev/from-env");

    std::string error;
    EXPECT_TRUE(m.parseOverride("COM2=/dev/from-cli", error));
    EXPECT_EQ(m.devicePath(1), "/dev/from-cli");
    EXPECT_TRUE(m.parseOverride("COM4=/tmp/a=b", error));
    EXPECT_EQ(m.devicePath(3), "/tmp/a=b");
    for (const char* bad : {"COM5=/x", "COM1", "COM1=", "com1=/x", "COM12=/x", "=/x"}) {
        EXPECT_FALSE(m.parseOverride(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(TermiosPort, PseudoTerminalFallsBackToTwoStopBitsAndReadsWithoutWaiting) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    TermiosPort p;
    ASSERT_TRUE(p.open(pty.slave, {9600, Parity::Mark}));
    // The pty cannot carry a ninth bit: the port says so instead of pretending.
    EXPECT_FALSE(p.markParityHonoured());
    // Under the fallback a mode bit of 0 is a framing error; it is marked like a parity error.
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK | IGNPAR | IGNBRK | BRKINT), tcflag_t(INPCK | PARMRK));
    EXPECT_TRUE(p.deliversMarks());

    std::uint8_t buf[128];
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(p.read(buf, sizeof buf), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));

    const std::uint8_t answer[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(::write(pty.master, answer, 5), 5);
    std::size_t got = 0;
    for (int i = 0; i < 100 && got < 5; ++i) {
        got += p.read(buf + got, sizeof buf - got);
        if (got < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(buf[4], 5);

    const std::uint8_t frame[2] = {0x33, 0x33};
    EXPECT_TRUE(p.write(frame, 2));
    std::uint8_t back[2] = {};
    ASSERT_EQ(::read(pty.master, back, 2), 2);
    EXPECT_EQ(back[1], 0x33);
}

TEST(TermiosPort, WithoutParityNothingIsMarked) {
    Pty pty;
    TermiosPort p;
    ASSERT_TRUE(p.open(pty.slave, {9600, Parity::None}));
    EXPECT_FALSE(p.deliversMarks());
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), tcflag_t(0));
    const std::uint8_t ff = 0xFF;
    ASSERT_EQ(::write(pty.master, &ff, 1), 1);
    std::uint8_t buf[4] = {};
    std::size_t got = 0;
    for (int i = 0; i < 100 && got == 0; ++i) {
        got = p.read(buf, sizeof buf);
        if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(got, 1u);
}
