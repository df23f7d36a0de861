// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/PosixByteChannel.h"
#include "support/TestPty.h"

#include <chrono>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace norvex::download;
using norvex::test::Pty;
using Clock = std::chrono::steady_clock;

namespace {

long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

TEST(PosixByteChannel, AReadWaitsNoLongerThanItsTimeout) {
    Pty pty;
    PosixByteChannel channel(pty.slave);
    ASSERT_TRUE(channel.reopen(38400));
    uint8_t got[128] = {};

    ASSERT_EQ(::write(pty.master, "#A", 2), 2);
    auto start = Clock::now();
    EXPECT_EQ(channel.read(got, 2, 1000), 2u);
    EXPECT_LT(msSince(start), 500);

    // Fewer bytes than asked for: what came, after one overall timeout.
    ASSERT_EQ(::write(pty.master, "xyz", 3), 3);
    start = Clock::now();
    EXPECT_EQ(channel.read(got, 128, 150), 3u);
    EXPECT_GE(msSince(start), 140);
    EXPECT_LT(msSince(start), 600);
    EXPECT_EQ(channel.read(got, 2, 0), 0u);
}

// (Exclusive use, settings, purge, close and hang-up: TermiosDeviceTest.cpp, for both users.)
TEST(PosixByteChannel, AFailedReopenLeavesTheLineClosedAndRefusesEverythingAtOnce) {
    Pty pty;
    PosixByteChannel channel(pty.slave);
    EXPECT_TRUE(channel.reopen(9600));
    EXPECT_FALSE(channel.reopen(12345)); // no such speed: the line ends up closed
    EXPECT_FALSE(channel.isOpen());

    PosixByteChannel absent("/dev/norvex-no-such-port");
    EXPECT_FALSE(absent.reopen(9600));
    uint8_t buf[2];
    const auto start = Clock::now();
    EXPECT_FALSE(absent.write(buf, 2));
    EXPECT_EQ(absent.read(buf, 2, 1000), 0u);
    EXPECT_LT(msSince(start), 50);
}

// The loader's "No Connection" says why, like START's: each failed open keeps its own reason, and
// an open that worked leaves none.
TEST(PosixByteChannel, AFailedOpenSaysWhy) {
    PosixByteChannel absent("/dev/norvex-no-such-port");
    EXPECT_EQ(absent.openFailureReason(), "");
    EXPECT_FALSE(absent.reopen(9600));
    EXPECT_NE(absent.openFailureReason().find("/dev/norvex-no-such-port is not there"), std::string::npos)
        << absent.openFailureReason();

    PosixByteChannel notTerminal("/dev/null");
    EXPECT_FALSE(notTerminal.reopen(9600));
    EXPECT_EQ(notTerminal.openFailureReason(), "/dev/null is not a serial port.");

    Pty pty;
    PosixByteChannel first(pty.slave), second(pty.slave);
    ASSERT_TRUE(first.reopen(9600));
    EXPECT_FALSE(second.reopen(9600));
    EXPECT_NE(second.openFailureReason().find("Another program holds " + pty.slave), std::string::npos)
        << second.openFailureReason();
    first.close();
    EXPECT_TRUE(second.reopen(9600));
    EXPECT_EQ(second.openFailureReason(), "");
}
