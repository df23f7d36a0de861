// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal device under both users of a serial port, on a pseudo-terminal: one suite run
// against the link's TermiosPort and the download's PosixByteChannel. What only one of them
// does (mark parity and marked input; the loader's timed reads and its "No Connection" reasons)
// is tested beside it, in PortTest.cpp and PosixByteChannelTest.cpp.

#include "link/TermiosDevice.h"
#include "download/PosixByteChannel.h"
#include "link/TermiosPort.h"
#include "support/TestPty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace norvex;
using namespace norvex::link;
using norvex::test::Pty;
using Clock = std::chrono::steady_clock;

namespace {

// The link's port: mark parity asked for, which a pseudo-terminal turns into two stop bits.
struct LinkPortUser {
    std::string path;
    TermiosPort port;

    explicit LinkPortUser(std::string p) : path(std::move(p)) {}
    LinkResult open(std::uint32_t baud) { return port.open(path, {.baud = baud, .parity = Parity::Mark}); }
    LinkResult write(const std::uint8_t* data, std::size_t n) { return port.write(data, n); }
    // Up to n bytes within timeoutMs; stops early when the port fails.
    std::size_t read(std::uint8_t* buf, std::size_t n, int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::size_t got = 0;
        while (got < n && !port.failed()) {
            got += port.read(buf + got, n - got);
            if (got == n || port.failed()) break;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{port.waitHandle(), POLLIN, 0};
            (void)::poll(&p, 1, static_cast<int>(left));
        }
        return got;
    }
    void purge() { port.purge(); }
    void close() { port.close(); }
    bool isOpen() const { return port.isOpen(); }
    // The line this user asks for, as the terminal reads it back.
    static void expectLine(const termios& t) {
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_TRUE(t.c_cflag & CSTOPB) << "the two-stop-bit fallback for mark parity";
        EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK));
    }
};

// The download's channel: the loader's 8N1.
struct LoaderChannelUser {
    download::PosixByteChannel channel;

    explicit LoaderChannelUser(std::string p) : channel(std::move(p)) {}
    LinkResult open(std::uint32_t baud) {
        if (channel.reopen(static_cast<int>(baud))) return {};
        return channel.openFault();
    }
    LinkResult write(const std::uint8_t* data, std::size_t n) {
        if (channel.write(data, n)) return {};
        return channel.writeFault();
    }
    std::size_t read(std::uint8_t* buf, std::size_t n, int timeoutMs) {
        return channel.read(buf, n, timeoutMs);
    }
    void purge() { channel.purge(); }
    void close() { channel.close(); }
    bool isOpen() const { return channel.isOpen(); }
    static void expectLine(const termios& t) {
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB), 0u);
        EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), 0u);
    }
};

template <typename User> class TermiosUsers : public ::testing::Test {
protected:
    Pty pty;
    std::unique_ptr<User> user(const std::string& path) { return std::make_unique<User>(path); }
    std::unique_ptr<User> user() { return user(pty.slave); }
    // A descriptor on the terminal opened before the user takes it: it sees the terminal's state
    // throughout.
    int openWitness() { return ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); }
};

using Users = ::testing::Types<LinkPortUser, LoaderChannelUser>;

class UserNames {
public:
    template <typename T> static std::string GetName(int) {
        return std::is_same_v<T, LinkPortUser> ? "LinkPort" : "LoaderChannel";
    }
};

TYPED_TEST_SUITE(TermiosUsers, Users, UserNames);

TYPED_TEST(TermiosUsers, WhatIsNotThereOrNoTerminalFailsWithItsKind) {
    auto absent = this->user("/dev/does-not-exist-norvex");
    const LinkResult gone = absent->open(9600);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.fault().kind, FaultKind::NotFound);
    EXPECT_EQ(gone.fault().errorNumber, ENOENT);
    EXPECT_NE(gone.fault().detail.find("/dev/does-not-exist-norvex"), std::string::npos);
    EXPECT_FALSE(absent->isOpen());

    for (const char* notTerminal : {"/dev/null", "/etc/hostname"}) {
        auto u = this->user(notTerminal);
        const LinkResult opened = u->open(9600);
        ASSERT_FALSE(opened) << notTerminal;
        EXPECT_EQ(opened.fault().kind, FaultKind::NotSerial) << notTerminal;
        EXPECT_EQ(opened.fault().errorNumber, ENOTTY) << notTerminal;
        EXPECT_FALSE(u->isOpen());
    }

    ASSERT_FALSE(this->pty.slave.empty());
    auto oddSpeed = this->user();
    const LinkResult refused = oddSpeed->open(12345);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.fault().kind, FaultKind::Settings);
    EXPECT_FALSE(oddSpeed->isOpen());
}

TYPED_TEST(TermiosUsers, ASecondOpenIsRefusedAsBusyUntilTheFirstCloses) {
    ASSERT_FALSE(this->pty.slave.empty());
    auto first = this->user();
    auto second = this->user();
    ASSERT_TRUE(first->open(9600));
    const LinkResult held = second->open(9600);
    ASSERT_FALSE(held);
    EXPECT_EQ(held.fault().kind, FaultKind::Busy);
    EXPECT_NE(held.fault().errorNumber, 0);
    EXPECT_FALSE(second->isOpen());
    first->close();
    EXPECT_TRUE(second->open(9600));
    // Opening again while open gives the terminal back first: no lock on itself.
    EXPECT_TRUE(second->open(9600));
}

TYPED_TEST(TermiosUsers, TheSettingsAskedForAreOnTheTerminal) {
    ASSERT_FALSE(this->pty.slave.empty());
    auto u = this->user();
    for (std::uint32_t baud : {9600u, 38400u}) {
        ASSERT_TRUE(u->open(baud)) << baud;
        termios t{};
        ASSERT_EQ(::tcgetattr(this->pty.master, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), TermiosDevice::speedCode(baud)) << baud;
        EXPECT_EQ(::cfgetispeed(&t), TermiosDevice::speedCode(baud)) << baud;
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
        EXPECT_EQ(t.c_oflag & OPOST, 0u) << "raw";
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u) << "no flow control, no mapping";
        TypeParam::expectLine(t);
    }
}

TYPED_TEST(TermiosUsers, BytesTravelBothWaysUnchanged) {
    ASSERT_FALSE(this->pty.slave.empty());
    auto u = this->user();
    ASSERT_TRUE(u->open(9600));
    // No CR/LF mapping, no XON/XOFF; FF goes out as itself.
    const std::uint8_t frame[] = {'#', 'C', 0x0A, 0x0D, 0x00, 0x11, 0x13, 0xFF};
    ASSERT_TRUE(u->write(frame, sizeof frame));
    std::uint8_t got[16] = {};
    std::size_t n = 0;
    for (int i = 0; i < 100 && n < sizeof frame; ++i) {
        pollfd p{this->pty.master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t r = ::read(this->pty.master, got + n, sizeof got - n);
        if (r > 0) n += static_cast<std::size_t>(r);
    }
    ASSERT_EQ(n, sizeof frame);
    EXPECT_EQ(0, std::memcmp(got, frame, sizeof frame));

    const std::uint8_t answer[] = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x42};
    ASSERT_EQ(::write(this->pty.master, answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
    std::uint8_t back[16] = {};
    ASSERT_EQ(u->read(back, sizeof answer, 2000), sizeof answer);
    EXPECT_EQ(0, std::memcmp(back, answer, sizeof answer));
}

TYPED_TEST(TermiosUsers, PurgeDiscardsWhatArrivedUnread) {
    ASSERT_FALSE(this->pty.slave.empty());
    const int witness = this->openWitness();
    ASSERT_GE(witness, 0);
    auto u = this->user();
    ASSERT_TRUE(u->open(9600));
    ASSERT_EQ(::write(this->pty.master, "stale", 5), 5);
    int queued = 0;
    for (int i = 0; i < 200 && queued < 5; ++i) {
        ASSERT_EQ(::ioctl(witness, FIONREAD, &queued), 0);
        if (queued < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(queued, 5);
    u->purge();
    ASSERT_EQ(::ioctl(witness, FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 0);
    std::uint8_t buf[8];
    EXPECT_EQ(u->read(buf, sizeof buf, 50), 0u);
    // What comes after the purge arrives.
    ASSERT_EQ(::write(this->pty.master, "new", 3), 3);
    EXPECT_EQ(u->read(buf, 3, 2000), 3u);
    EXPECT_EQ(0, std::memcmp(buf, "new", 3));
    ::close(witness);
}

// On a pseudo-terminal the exclusive-use flag outlives the descriptor: left set, it keeps an
// ordinary user (root is exempt) from opening the port again.
TYPED_TEST(TermiosUsers, ClosingGivesTheTerminalBackAsItWasFoundAndItOpensAgain) {
    ASSERT_FALSE(this->pty.slave.empty());
    const int witness = this->openWitness();
    ASSERT_GE(witness, 0);
    termios found{};
    ASSERT_EQ(::tcgetattr(witness, &found), 0);
    found.c_lflag |= ECHO | ICANON;
    ASSERT_EQ(::cfsetospeed(&found, B19200), 0);
    ASSERT_EQ(::tcsetattr(witness, TCSANOW, &found), 0);
    ASSERT_EQ(::tcgetattr(witness, &found), 0);

    for (int round = 0; round < 2; ++round) {
        auto u = this->user();
        ASSERT_TRUE(u->open(round == 0 ? 9600 : 38400)) << "round " << round;
        int exclusive = 0;
        ASSERT_EQ(::ioctl(witness, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        termios during{};
        ASSERT_EQ(::tcgetattr(witness, &during), 0);
        EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0u) << "raw while open";

        u->close();
        EXPECT_FALSE(u->isOpen());
        u->close(); // harmless
        ASSERT_EQ(::ioctl(witness, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "round " << round;
        termios after{};
        ASSERT_EQ(::tcgetattr(witness, &after), 0);
        EXPECT_EQ(after.c_lflag, found.c_lflag);
        EXPECT_EQ(after.c_iflag, found.c_iflag);
        EXPECT_EQ(after.c_oflag, found.c_oflag);
        EXPECT_EQ(after.c_cflag, found.c_cflag);
        EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&found));
    }
    ::close(witness);
}

TYPED_TEST(TermiosUsers, AVanishedPeerIsAFailureNotAHang) {
    auto pty = std::make_unique<Pty>();
    ASSERT_FALSE(pty->slave.empty());
    auto u = this->user(pty->slave);
    ASSERT_TRUE(u->open(9600));
    pty.reset(); // the adapter is pulled
    std::uint8_t buf[8];
    const auto start = Clock::now();
    EXPECT_EQ(u->read(buf, sizeof buf, 2000), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000)) << "the hang-up ends the wait";
    const std::uint8_t b = 0;
    const LinkResult written = u->write(&b, 1);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.fault().kind, FaultKind::Vanished);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    u->close();
    EXPECT_FALSE(u->isOpen());
}

} // namespace

// The device itself: ownership moves with the descriptor, and only the owner gives it back.
TEST(TermiosDevice, MovingHandsOverTheTerminalAndTheSettingsToRestore) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    const int witness = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(witness, 0);
    termios found{};
    ASSERT_EQ(::tcgetattr(witness, &found), 0);

    TermiosDevice first;
    ASSERT_TRUE(first.open(pty.slave));
    termios raw{};
    ASSERT_TRUE(first.settings(raw));
    ::cfmakeraw(&raw);
    termios kept{};
    ASSERT_TRUE(first.apply(raw, kept));
    EXPECT_EQ(kept.c_lflag & ICANON, 0u);

    TermiosDevice second(std::move(first));
    EXPECT_FALSE(first.isOpen()); // NOLINT(bugprone-use-after-move): moved-from is closed
    first.close();                // gives nothing back: it holds nothing
    int exclusive = 0;
    ASSERT_EQ(::ioctl(witness, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ASSERT_TRUE(second.isOpen());

    TermiosDevice third;
    third = std::move(second);
    third.close();
    ASSERT_EQ(::ioctl(witness, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    termios after{};
    ASSERT_EQ(::tcgetattr(witness, &after), 0);
    EXPECT_EQ(after.c_lflag, found.c_lflag);
    ::close(witness);
}

// What a pseudo-terminal cannot show (it reads back 8 data bits and no parity whatever is asked):
// each user's line made from settings as unlike it as a terminal can hold, and read back as
// itself.
TEST(TermiosDevice, LineSettingsBecomeRawTermiosAndReadBackAsThemselves) {
    using link::LineSettings;
    using link::Parity;
    const LineSettings lines[] = {
        download::PosixByteChannel::loaderLine(38400),
        {.baud = 9600, .parity = Parity::Mark, .markErrors = true},
        {.baud = 9600, .parity = Parity::None, .twoStopBits = true, .markErrors = true},
        {.baud = 115200, .parity = Parity::Even},
        {.baud = 1200, .parity = Parity::Space, .askForOneByte = true},
    };
    for (const LineSettings& line : lines) {
        termios tio{};
        tio.c_cflag = CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        tio.c_iflag = IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | PARMRK;
        tio.c_lflag = ICANON | ECHO | ISIG;
        tio.c_oflag = OPOST | ONLCR;
        tio.c_cc[VMIN] = 5;
        ASSERT_TRUE(TermiosDevice::makeTermios(line, tio));
        EXPECT_EQ(TermiosDevice::lineOf(tio), line) << line.baud;
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ISTRIP | ICRNL), 0u);
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, line.markErrors);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_oflag & OPOST, 0u);
        EXPECT_EQ(::cfgetispeed(&tio), ::cfgetospeed(&tio));
    }
    termios tio{};
    EXPECT_FALSE(TermiosDevice::makeTermios({.baud = 31250}, tio));
}
