// SPDX-License-Identifier: GPL-3.0-or-later
#include "MachineHost.h"

#include "Pacing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace norvex::sim {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int) {
    stopSignal = 1;
}

constexpr std::int64_t HANGUP_RETRY_US = 20000; // how often a line without a listener is looked at
constexpr double CHAR_US = 11.0 * 1e6 / 9600.0;

std::string packetFlags(unsigned status) {
    static const struct {
        unsigned bit;
        const char* name;
    } NAMES[] = {{TIOCPKT_FLUSHREAD, "flushread"}, {TIOCPKT_FLUSHWRITE, "flushwrite"},
                 {TIOCPKT_STOP, "stop"},           {TIOCPKT_START, "start"},
                 {TIOCPKT_NOSTOP, "nostop"},       {TIOCPKT_DOSTOP, "dostop"},
                 {TIOCPKT_IOCTL, "ioctl"}};
    std::string s;
    for (const auto& n : NAMES) {
        if (!(status & n.bit)) continue;
        if (!s.empty()) s += ' ';
        s += n.name;
    }
    return s;
}

} // namespace

MachineHost::MachineHost(Options options)
    : options_(std::move(options)), machine_([this] {
          Machine::Config c;
          c.pollIntervalUs = static_cast<std::int64_t>(options_.pollIntervalMs * 1000.0);
          // Its controller acknowledges on the machine's own clock: MDB's 5 ms hold.
          c.validator.ackWindowUs = 5000;
          c.validator.batch = options_.batch;
          return c;
      }()) {
    taps_[0].name = "controller";
    taps_[1].name = "peripherals";
}

MachineHost::~MachineHost() {
    for (Tap& t : taps_)
        t.pty.close();
    if (log_) std::fclose(log_);
}

std::int64_t MachineHost::nowUs() const {
    return (monotonicNs() - startNs_) / 1000;
}

void MachineHost::logLine(const std::string& members) {
    if (!log_) return;
    const int n =
        std::fprintf(log_, "{\"t\":%lld,%s}\n", static_cast<long long>(nowUs() / 1000), members.c_str());
    if (n < 0 || std::fflush(log_) != 0) {
        std::fprintf(stderr, "norvex-sim: cannot write %s: %s\n", options_.logPath.c_str(),
                     std::strerror(errno));
        logFailed_ = true;
        std::fclose(log_);
        log_ = nullptr;
    }
}

void MachineHost::drainLog() {
    for (const auto& line : machine_.takeLog())
        logLine(line);
}

bool MachineHost::setUp() {
    startNs_ = monotonicNs();
    if (!options_.logPath.empty() && !(log_ = openLogFile(options_.logPath))) return false;
    if (!options_.scenarioPath.empty() && !loadScenarioFile(options_.scenarioPath, scenario_)) return false;
    for (Tap& t : taps_) {
        std::string error;
        if (!t.pty.open(error) ||
            (!options_.linkPath.empty() && !t.pty.makeLink(options_.linkPath + "-" + t.name, error))) {
            std::fprintf(stderr, "norvex-sim: %s\n", error.c_str());
            return false;
        }
        // What the listener does to its end shows as packets at the master.
        int on = 1;
        (void)::ioctl(t.pty.fd(), TIOCPKT, &on);
        t.hangupUs = -HANGUP_RETRY_US;
    }
    std::printf("%s,%s\n", taps_[0].pty.slavePath().c_str(), taps_[1].pty.slavePath().c_str());
    std::fflush(stdout);
    logLine("\"event\":\"start\",\"paths\":" +
            jsonString(taps_[0].pty.slavePath() + "," + taps_[1].pty.slavePath()) + ",\"mode\":\"machine\"");
    return true;
}

int MachineHost::run() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGTTIN, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);

    if (!setUp()) return 1;
    // Paced bytes keep their rhythm on a busy machine only at a real-time priority, where
    // permitted; the process sleeps between bytes, so it costs nothing.
    sched_param sp{};
    sp.sched_priority = 5;
    (void)::sched_setscheduler(0, SCHED_FIFO, &sp);

    while (running_) {
        runScenario();
        if (!running_) break;
        const BusWrite& w = machine_.next(nowUs());
        // Until the write is due: commands, scenario steps and the listeners.
        std::int64_t now = nowUs();
        while (running_ && now < w.atUs) {
            std::int64_t until = w.atUs;
            if (nextStep_ < scenario_.size()) until = std::min(until, scenario_[nextStep_].atMs * 1000);
            if (!watch(std::max<std::int64_t>(0, until - now))) break;
            runScenario();
            now = nowUs();
        }
        if (!running_ || stopSignal) break;
        const std::int64_t last = send(w);
        if (stopSignal) break;
        machine_.written(last);
        machine_.tick(nowUs());
        drainLog();
    }
    if (stopSignal) exitReason_ = "signal";
    drainLog();
    logLine("\"event\":\"exit\",\"reason\":\"" + exitReason_ + "\"");
    for (Tap& t : taps_)
        t.pty.close();
    return logFailed_ ? 1 : 0;
}

void MachineHost::runScenario() {
    const std::int64_t now = nowUs();
    while (running_ && nextStep_ < scenario_.size() && scenario_[nextStep_].atMs * 1000 <= now)
        execute(scenario_[nextStep_++].command, "scenario");
}

bool MachineHost::watch(std::int64_t waitUs) {
    pollfd fds[3];
    Tap* watched[3] = {nullptr, nullptr, nullptr};
    nfds_t count = 0;
    const std::int64_t now = nowUs();
    for (Tap& t : taps_) {
        if (!t.pty.isOpen()) continue;
        // A line without a listener shows a hang-up at once: looked at again now and then.
        if (!t.client && now - t.hangupUs < HANGUP_RETRY_US) {
            waitUs = std::min(waitUs, t.hangupUs + HANGUP_RETRY_US - now);
            continue;
        }
        watched[count] = &t;
        fds[count++] = {t.pty.fd(), POLLIN | POLLPRI, 0};
    }
    int stdinIndex = -1;
    if (control_.open()) {
        stdinIndex = static_cast<int>(count);
        fds[count++] = {STDIN_FILENO, POLLIN, 0};
    }
    sigset_t waitMask;
    ::sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    waitUs = std::max<std::int64_t>(0, waitUs);
    timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
    const int ready = ::ppoll(fds, count, &timeout, &waitMask);
    if (stopSignal) {
        running_ = false;
        exitReason_ = "signal";
        return false;
    }
    if (ready <= 0) return true;
    for (nfds_t i = 0; i < count; ++i) {
        if (static_cast<int>(i) == stdinIndex) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readControl();
            continue;
        }
        Tap& t = *watched[i];
        if (fds[i].revents & (POLLIN | POLLPRI)) readTap(t);
        if ((fds[i].revents & POLLHUP) && !(fds[i].revents & POLLIN)) {
            if (t.client) logLine(std::string("\"event\":\"client_closed\",\"line\":\"") + t.name + "\"");
            t.client = false;
            t.full = false;
            t.hangupUs = nowUs();
        } else if (!t.client && t.pty.isOpen()) {
            t.client = true;
            logLine(std::string("\"event\":\"client_open\",\"line\":\"") + t.name + "\"");
        }
    }
    return true;
}

void MachineHost::readTap(Tap& t) {
    // Packet mode: a status byte, then what the listener wrote (a listener writes nothing).
    std::uint8_t buf[512];
    const ssize_t n = ::read(t.pty.fd(), buf, sizeof buf);
    if (n <= 0) return;
    if (buf[0] == TIOCPKT_DATA) {
        if (n > 1)
            logLine(std::string("\"event\":\"tap_written\",\"line\":\"") + t.name + "\",\"bytes\":\"" +
                    toHex(std::span<const std::uint8_t>(buf + 1, static_cast<std::size_t>(n - 1))) + "\"");
        return;
    }
    logLine(std::string("\"event\":\"tap_control\",\"line\":\"") + t.name + "\",\"flags\":\"" +
            packetFlags(buf[0]) + "\"");
}

void MachineHost::checkClient(Tap& t) {
    if (!t.pty.isOpen()) return;
    pollfd p{t.pty.fd(), POLLIN | POLLPRI, 0};
    if (::poll(&p, 1, 0) < 0) return;
    if (p.revents & (POLLIN | POLLPRI)) readTap(t);
    const bool hungUp = (p.revents & POLLHUP) && !(p.revents & POLLIN);
    if (hungUp && t.client) {
        logLine(std::string("\"event\":\"client_closed\",\"line\":\"") + t.name + "\"");
        t.full = false;
    }
    if (!hungUp && !t.client) logLine(std::string("\"event\":\"client_open\",\"line\":\"") + t.name + "\"");
    t.client = !hungUp;
    if (hungUp) t.hangupUs = nowUs();
}

Bytes MachineHost::delivered(Tap& t, const BusWrite& w) {
    // With --marked, what a driver that reports errors per byte delivers under the listener's
    // settings; EXTPROC keeps the line discipline from doubling FF on its way.
    if (!options_.marked) return w.bytes;
    termios tio{};
    if (::tcgetattr(t.pty.fd(), &tio) != 0) return w.bytes;
    InputFlags input;
    input.check = (tio.c_iflag & INPCK) != 0;
    input.ignore = (tio.c_iflag & IGNPAR) != 0;
    input.mark = (tio.c_iflag & PARMRK) != 0;
    if (!(tio.c_lflag & EXTPROC)) {
        tio.c_lflag |= EXTPROC;
        (void)::tcsetattr(t.pty.fd(), TCSANOW, &tio);
    }
    Bytes out;
    for (std::size_t i = 0; i < w.bytes.size(); ++i) {
        const Bytes form = deliveredForm(w.bytes[i], i < w.modeBits.size() && w.modeBits[i] != 0, input);
        out.insert(out.end(), form.begin(), form.end());
    }
    return out;
}

std::int64_t MachineHost::send(const BusWrite& w) {
    Tap& t = taps_[w.line == BusLine::Controller ? 0 : 1];
    if (w.failure.mode == FailMode::Vanish) {
        unplug(t);
        return nowUs();
    }
    const std::size_t n = w.bytes.size();
    logLine(std::string("\"line\":\"") + t.name + "\",\"bytes\":\"" + toHex(w.bytes) + "\",\"kind\":\"" +
            w.kind + "\",\"device\":\"" + w.device + "\"");
    // Each byte is in the listener's hands one character after it began; parts and slow bytes
    // have their gaps.
    std::vector<std::int64_t> dueUs(n);
    double extraUs = 0;
    const std::size_t parts = static_cast<std::size_t>(std::max(1, w.failure.parts));
    const std::size_t partSize = (n + parts - 1) / parts;
    std::vector<std::size_t> part(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (w.failure.mode == FailMode::Slow)
            part[i] = i;
        else if (w.failure.mode == FailMode::Split)
            part[i] = i / partSize;
        else if (w.gapBefore > 0 && i >= w.gapBefore)
            part[i] = 1;
        if (i > 0 && part[i] != part[i - 1]) extraUs += w.failure.gapMs * 1000.0;
        dueUs[i] = w.atUs + static_cast<std::int64_t>(static_cast<double>(i + 1) * CHAR_US + extraUs);
    }
    checkClient(t);
    const bool write = t.pty.isOpen() && t.client;
    for (std::size_t i = 0; i < n;) {
        if (!sleepUntilNs(startNs_ + dueUs[i] * 1000)) return nowUs();
        const std::int64_t now = nowUs();
        std::size_t j = i + 1;
        while (j < n && part[j] == part[i] && dueUs[j] <= now)
            ++j;
        if (write && !t.full) {
            BusWrite piece = w;
            piece.bytes.assign(w.bytes.begin() + static_cast<std::ptrdiff_t>(i),
                               w.bytes.begin() + static_cast<std::ptrdiff_t>(j));
            piece.modeBits.assign(
                w.modeBits.begin() + static_cast<std::ptrdiff_t>(std::min(i, w.modeBits.size())),
                w.modeBits.begin() + static_cast<std::ptrdiff_t>(std::min(j, w.modeBits.size())));
            const Bytes out = delivered(t, piece);
            const ssize_t written = ::write(t.pty.fd(), out.data(), out.size());
            if (written != static_cast<ssize_t>(out.size()) && !(written < 0 && errno == EIO)) {
                // The listener does not read: the bus goes on without it.
                t.full = true;
                logLine(std::string("\"event\":\"line_full\",\"line\":\"") + t.name + "\"");
            }
        }
        i = j;
    }
    return n == 0 ? nowUs() : dueUs[n - 1];
}

void MachineHost::unplug(Tap& t) {
    logLine(std::string("\"event\":\"unplug\",\"line\":\"") + t.name + "\"");
    t.pty.close();
    t.client = false;
}

void MachineHost::execute(const Command& command, const char* source) {
    std::string result = "ok";
    if (command.type == Command::Type::End) {
        running_ = false;
    } else if (command.type == Command::Type::Unplug) {
        Tap& t = taps_[command.line == "controller" ? 0 : 1];
        if (t.pty.isOpen())
            unplug(t);
        else
            result = "that line is unplugged already";
    } else {
        result = machine_.apply(command);
    }
    logLine(std::string("\"event\":\"command\",\"source\":\"") + source +
            "\",\"text\":" + jsonString(command.text) + ",\"result\":" + jsonString(result));
    drainLog();
    if (std::strcmp(source, "stdin") == 0) reply(result == "ok" ? "ok" : "error: " + result);
}

void MachineHost::readControl() {
    control_.read(
        [this](const Command& command) {
            execute(command, "stdin");
            return running_;
        },
        [this](const std::string& line, const std::string& error) {
            logLine("\"event\":\"command\",\"source\":\"stdin\",\"text\":" + jsonString(line) +
                    ",\"result\":" + jsonString(error));
            reply("error: " + error);
        });
}

void MachineHost::reply(const std::string& text) {
    replyLine(text);
}

} // namespace norvex::sim
