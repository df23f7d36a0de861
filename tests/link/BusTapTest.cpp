// SPDX-License-Identifier: GPL-3.0-or-later
// The tap on a machine's bus, on two pseudo-terminals whose masters play the machine: the lines
// are read and never written or disturbed, the exchanges come out paired, and a line that goes
// away stops the tap with its name.

#include "link/BusTap.h"
#include "link/TapLine.h"
#include "support/TestPty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace norvex::link;
using norvex::test::Pty;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

// What the listener did to its end, as the master sees it in packet mode: bytes it wrote, and
// flushes or flow control of its output.
struct Watched {
    Bytes written;
    std::uint8_t outputFlags = 0;
};

void packetMode(const Pty& pty) {
    int on = 1;
    ASSERT_EQ(::ioctl(pty.master, TIOCPKT, &on), 0);
}

Watched watch(const Pty& pty) {
    Watched w;
    std::uint8_t buf[256];
    for (;;) {
        pollfd p{pty.master, POLLIN | POLLPRI, 0};
        if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLIN | POLLPRI))) break;
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        if (n <= 0) break;
        if (buf[0] == TIOCPKT_DATA)
            w.written.insert(w.written.end(), buf + 1, buf + n);
        else
            w.outputFlags |= buf[0] & (TIOCPKT_FLUSHWRITE | TIOCPKT_STOP | TIOCPKT_START);
    }
    return w;
}

void put(const Pty& pty, const Bytes& bytes) {
    // Paced as on the bus: one byte per character.
    for (std::uint8_t b : bytes) {
        ASSERT_EQ(::write(pty.master, &b, 1), 1);
        std::this_thread::sleep_for(1146us);
    }
}

} // namespace

TEST(TapLine, ReadsWithoutWritingOrDisturbingTheLineAndHoldsItAlone) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    packetMode(pty);
    // Someone's settings on the terminal, to be given back.
    termios found{};
    ASSERT_EQ(::tcgetattr(pty.master, &found), 0);
    found.c_lflag |= ECHO | ICANON;
    found.c_cflag |= HUPCL;
    ASSERT_EQ(::tcsetattr(pty.master, TCSANOW, &found), 0);
    TapLine line;
    const LinkResult opened = line.open(pty.slave);
    ASSERT_TRUE(opened) << opened.fault().detail;
    EXPECT_TRUE(line.deliversMarks());

    // Bytes arrive; FF comes doubled under parity marking and is read back as one.
    const Bytes bus{0x33, 0x33, 0xFF, 0x00, 0x0A};
    ASSERT_EQ(::write(pty.master, bus.data(), bus.size()), static_cast<ssize_t>(bus.size()));
    Bytes got;
    LineByte in[16];
    for (int i = 0; i < 200 && got.size() < bus.size(); ++i) {
        const std::size_t n = line.read(in, 16);
        for (std::size_t k = 0; k < n; ++k)
            got.push_back(in[k].value);
        if (n == 0) std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(got, bus);

    // A second listener, or the link, finds it taken.
    TapLine other;
    EXPECT_EQ(other.open(pty.slave).fault().kind, FaultKind::Busy);
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u) << "a close with hang-up would drop DTR and RTS";
    EXPECT_EQ(t.c_lflag & ECHO, 0u) << "an echo would write every byte back";
    EXPECT_EQ(t.c_iflag & IXOFF, 0u) << "XOFF is a byte sent";
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "flow control moves RTS";
    line.close();

    // Nothing written, no output flushed or stopped; the close gave the settings back but for
    // the hang-up, and the line opens again.
    const Watched w = watch(pty);
    EXPECT_TRUE(w.written.empty());
    EXPECT_EQ(w.outputFlags, 0);
    ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
    EXPECT_TRUE(other.open(pty.slave));

    other.close();

    // The device under it refuses any write.
    TermiosDevice device;
    ASSERT_TRUE(device.openReceiveOnly(pty.slave));
    const std::uint8_t b = 0x00;
    EXPECT_FALSE(device.write(&b, 1, 100ms));
    EXPECT_FALSE(device.vanished());
    device.close();
    EXPECT_TRUE(watch(pty).written.empty());
}

TEST(BusTap, HearsBothLinesAsExchangesAndStopsWhenALineGoes) {
    Pty controller, peripherals;
    ASSERT_FALSE(controller.slave.empty());
    packetMode(controller);
    packetMode(peripherals);
    BusTap tap;
    BusTap::Line failedLine = BusTap::Line::Controller;
    EXPECT_FALSE(tap.open(controller.slave, controller.slave, &failedLine));
    EXPECT_EQ(failedLine, BusTap::Line::Peripheral);
    const LinkResult opened = tap.open(controller.slave, peripherals.slave);
    ASSERT_TRUE(opened) << opened.fault().detail;
    EXPECT_TRUE(tap.listening());

    // A POLL answered with a bill and acknowledged; a coin changer's POLL answered with ACK.
    put(controller, {0x33, 0x33});
    std::this_thread::sleep_for(500us);
    put(peripherals, {0x80, 0x80});
    std::this_thread::sleep_for(300us);
    put(controller, {0x00});
    std::this_thread::sleep_for(20ms);
    put(controller, {0x0B, 0x0B});
    std::this_thread::sleep_for(500us);
    put(peripherals, {0x00});
    std::this_thread::sleep_for(20ms);

    std::vector<HeardExchange> heard;
    for (int i = 0; i < 200 && heard.size() < 2; ++i) {
        tap.drain(heard);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].address, 0x30);
    EXPECT_EQ(heard[0].answerReceived, 2u);
    EXPECT_EQ(heard[0].reply, 0x00);
    EXPECT_GE(heard[0].replyUs, 0);
    EXPECT_EQ(heard[1].address, 0x08);
    EXPECT_EQ(heard[1].answerReceived, 1u);

    // The peripherals' adapter pulled: the tap stops and says which line.
    ::close(peripherals.master);
    peripherals.master = -1;
    for (int i = 0; i < 200 && tap.listening(); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(tap.listening());
    EXPECT_TRUE(tap.failed());
    EXPECT_EQ(tap.fault().kind, FaultKind::Vanished);
    EXPECT_EQ(tap.fault().device, peripherals.slave);
    tap.close();
    const Watched w = watch(controller);
    EXPECT_TRUE(w.written.empty());
    EXPECT_EQ(w.outputFlags, 0);
}
