// SPDX-License-Identifier: GPL-3.0-or-later
// The real termios port and link worker on a pseudo-terminal, with a test peer on the master
// side that answers as a validator would, byte by byte at the wire's pace.

#include "link/ComLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace norvex::link;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

class Window : public LinkNotifier {
public:
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> codes;
    std::vector<Bytes> setups;
    LinkData* data = nullptr;
    bool notify(std::uint8_t code) override {
        std::lock_guard<std::mutex> lk(m);
        codes.push_back(code);
        if (code == RESP_SETUP) {
            const RecordBytes r = data->recordData(REQ_SETUP);
            setups.emplace_back(r.begin(), r.begin() + 28);
        }
        cv.notify_all();
        return true;
    }
    void linkFailed(const LinkFault&) override {}
    void cancelWaits() override {}
    bool wait(std::size_t n) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, 3s, [&] { return codes.size() >= n; });
    }
};

struct Peer {
    int master = -1;
    std::string slave;
    Peer() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    ~Peer() { ::close(master); }
    Bytes read(std::size_t n, std::chrono::milliseconds timeout = 2000ms) {
        Bytes out;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n && std::chrono::steady_clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t b[64];
            const ssize_t r = ::read(master, b, std::min<std::size_t>(sizeof b, n - out.size()));
            if (r > 0) out.insert(out.end(), b, b + r);
        }
        return out;
    }
    // One byte per MDB character time (11 bits at 9600 baud).
    void paced(const Bytes& bytes) {
        for (std::uint8_t b : bytes) {
            ASSERT_EQ(::write(master, &b, 1), 1);
            std::this_thread::sleep_for(1146us);
        }
    }
};

struct Rig {
    Peer peer;
    LinkData data;
    PortMap ports;
    Window window;
    ComLink link{data, ports};
    Rig() {
        ports.set(0, peer.slave);
        window.data = &data;
        const LinkResult opened = link.open({.baud = 9600, .parity = Parity::Mark});
        EXPECT_TRUE(opened) << opened.fault().detail;
        const LinkResult started = link.startWorker(window);
        EXPECT_TRUE(started) << started.fault().detail;
    }
    ~Rig() { link.closePort(); }
};

} // namespace

TEST(LinkOverPty, PollStatusAndSetupAreAssembledAndAcknowledged) {
    Rig rig;
    const Bytes poll{0x33, 0x33};
    ASSERT_TRUE(rig.data.submit(poll.data(), poll.size()));
    EXPECT_EQ(rig.peer.read(2), poll);
    rig.peer.paced({0x06, 0x06});
    EXPECT_EQ(rig.peer.read(1), Bytes{0x00});
    ASSERT_TRUE(rig.window.wait(1));

    const Bytes setup{0x31, 0x31};
    ASSERT_TRUE(rig.data.submit(setup.data(), setup.size()));
    EXPECT_EQ(rig.peer.read(2), setup);
    Bytes answer(28);
    for (std::size_t i = 0; i + 1 < answer.size(); ++i) {
        answer[i] = static_cast<std::uint8_t>(0x80 + i);
        answer.back() = static_cast<std::uint8_t>(answer.back() + answer[i]);
    }
    rig.peer.paced(answer);
    EXPECT_EQ(rig.peer.read(1), Bytes{0x00});
    ASSERT_TRUE(rig.window.wait(2));
    EXPECT_EQ(rig.window.setups.at(0), answer);
}

TEST(LinkOverPty, ChecksumFfThatTheLineDisciplineDoublesIsTakenOnce) {
    // The port asks for parity marking, so the terminal hands every FF over as FF FF.
    Rig rig;
    const Bytes poll{0x33, 0x33};
    ASSERT_TRUE(rig.data.submit(poll.data(), poll.size()));
    EXPECT_EQ(rig.peer.read(2), poll);
    rig.peer.paced({0xF5, 0x0A, 0xFF});
    EXPECT_EQ(rig.peer.read(1), Bytes{0x00});
    ASSERT_TRUE(rig.window.wait(1));
    const ShortAnswer answer = rig.data.shortAnswer();
    EXPECT_EQ(answer.length, 3);
    EXPECT_EQ(answer.bytes[2], 0xFF);
    EXPECT_EQ(rig.link.framing(), Framing::QuietLine); // a pseudo-terminal never marks
}

TEST(LinkOverPty, AnswersInTheMarkedFormAreFramedByTheirModeBits) {
    Rig rig;
    // What a driver that flags errors per byte delivers; EXTPROC on the terminal passes it on
    // untouched (the master's settings are the slave's).
    termios t{};
    ASSERT_EQ(::tcgetattr(rig.peer.master, &t), 0);
    ASSERT_TRUE(t.c_iflag & PARMRK);
    t.c_lflag |= EXTPROC;
    ASSERT_EQ(::tcsetattr(rig.peer.master, TCSANOW, &t), 0);
    const Bytes poll{0x33, 0x33};
    for (const Bytes& marked :
         {Bytes{0xFF, 0x00, 0x06, 0x06}, Bytes{0xFF, 0x00, 0x80, 0xFF, 0x00, 0x80, 0x00},
          Bytes{0xFF, 0x00, 0xF5, 0xFF, 0x00, 0x0A, 0xFF, 0xFF}}) {
        ASSERT_TRUE(rig.data.submit(poll.data(), poll.size()));
        EXPECT_EQ(rig.peer.read(2), poll);
        ASSERT_EQ(::write(rig.peer.master, marked.data(), marked.size()),
                  static_cast<ssize_t>(marked.size()));
        EXPECT_EQ(rig.peer.read(1), Bytes{0x00});
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(rig.window.wait(3));
    EXPECT_EQ(rig.window.codes.size(), 3u);
    const ShortAnswer answer = rig.data.shortAnswer();
    EXPECT_EQ(answer.length, 3);
    EXPECT_EQ(answer.bytes[1], 0x0A);
    EXPECT_EQ(answer.bytes[2], 0xFF);
    EXPECT_EQ(rig.link.framing(), Framing::ModeBit);
}

TEST(LinkOverPty, GarbageWithNoFrameOutstandingIsIgnoredAndPollingGoesOn) {
    Rig rig;
    const Bytes junk{0x12, 0x34, 0x56};
    ASSERT_EQ(::write(rig.peer.master, junk.data(), junk.size()), 3);
    std::this_thread::sleep_for(30ms);
    const Bytes poll{0x33, 0x33};
    ASSERT_TRUE(rig.data.submit(poll.data(), poll.size()));
    EXPECT_EQ(rig.peer.read(2), poll);
    rig.peer.paced({0x00});
    ASSERT_TRUE(rig.window.wait(1));
    EXPECT_EQ(rig.window.codes[0], RESP_POLL);
    // A bare ACK gets no ACK back.
    EXPECT_TRUE(rig.peer.read(1, 50ms).empty());
}
