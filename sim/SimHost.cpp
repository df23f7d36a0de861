// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimHost.h"

#include "Pacing.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace norvex::sim {

volatile std::sig_atomic_t SimHost::stopSignal = 0;

namespace {

constexpr std::int64_t HANGUP_RETRY_US = 20000; // how often a closed slave side is looked at again
constexpr std::int64_t IDLE_WAKE_US = 1000000;

void onStopSignal(int) {
    SimHost::stopSignal = 1;
}

// A validator sends the bytes of an answer back to back. Paced in software they keep that rhythm
// on a busy machine only at a real-time priority, which is asked for where it is permitted; the
// process sleeps between bytes and in ppoll(), so the priority costs nothing while idle.
void raisePriority() {
    sched_param sp{};
    sp.sched_priority = 5;
    if (::sched_setscheduler(0, SCHED_FIFO, &sp) == 0) return;
    // An ordinary user whose system grants real-time up to a hard limit (limits.conf "rtprio").
    rlimit rt{};
    if (::getrlimit(RLIMIT_RTPRIO, &rt) != 0 || rt.rlim_max == 0) return;
    rt.rlim_cur = rt.rlim_max;
    (void)::setrlimit(RLIMIT_RTPRIO, &rt);
    sp.sched_priority = static_cast<int>(std::min<rlim_t>(rt.rlim_max, 5));
    (void)::sched_setscheduler(0, SCHED_FIFO, &sp);
}

} // namespace

SimHost::SimHost(Options options)
    : options_(std::move(options)), parser_(static_cast<std::int64_t>(options_.frameGapMs * 1000.0)) {
    Validator::Config vc;
    vc.ackWindowUs = static_cast<std::int64_t>(options_.ackTimeoutMs * 1000.0);
    vc.batch = options_.batch;
    validator_ = std::make_unique<Validator>(vc);
    Loader::Config lc;
    lc.check = options_.check;
    lc.fixedCheck = options_.fixedCheck;
    loader_ = std::make_unique<Loader>(lc);
}

SimHost::~SimHost() {
    pty_.close();
    if (log_) std::fclose(log_);
}

std::int64_t SimHost::nowUs() const {
    return (monotonicNs() - startNs_) / 1000;
}

void SimHost::logLine(const std::string& members) {
    if (!log_) return;
    const int n =
        std::fprintf(log_, "{\"t\":%lld,%s}\n", static_cast<long long>(nowUs() / 1000), members.c_str());
    if (n < 0 || std::fflush(log_) != 0) {
        // A full disk or a file-size limit: the log ends here, said once; the validator goes on.
        writeFailed(options_.logPath, errno);
        std::fclose(log_);
        log_ = nullptr;
    }
}

void SimHost::writeFailed(const std::string& path, int error) {
    std::fprintf(stderr, "norvex-sim: cannot write %s: %s\n", path.c_str(), std::strerror(error));
    fileFailed_ = true;
}

void SimHost::drainCoreLog() {
    for (const auto& line : validator_->takeLog())
        logLine(line);
    for (const auto& line : loader_->takeLog())
        logLine(line);
}

double SimHost::charTimeUs() const {
    // MDB characters: start, 8 data bits, mode bit, stop. Loader characters: no mode bit.
    if (options_.loader) return 10.0 * 1e6 / loader_->baud();
    return 11.0 * 1e6 / 9600.0;
}

bool SimHost::setUp() {
    startNs_ = monotonicNs();
    if (!options_.logPath.empty() && !(log_ = openLogFile(options_.logPath))) return false;
    if (!options_.scenarioPath.empty() && !loadScenarioFile(options_.scenarioPath, scenario_)) return false;
    std::string error;
    if (!pty_.open(error) || (!options_.linkPath.empty() && !pty_.makeLink(options_.linkPath, error))) {
        std::fprintf(stderr, "norvex-sim: %s\n", error.c_str());
        return false;
    }
    if (!options_.loaderDumpPath.empty()) {
        if (std::FILE* f = std::fopen(options_.loaderDumpPath.c_str(), "wb")) std::fclose(f);
    }
    std::printf("%s\n", pty_.slavePath().c_str());
    std::fflush(stdout);
    logLine("\"event\":\"start\",\"path\":" + jsonString(pty_.slavePath()) + ",\"mode\":\"" +
            (options_.loader ? "loader" : "mdb") + "\"");
    return true;
}

int SimHost::run() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    // Started in the background of an interactive shell, a read of the terminal fails with EIO
    // instead of stopping the process; the control channel then closes.
    ::signal(SIGTTIN, SIG_IGN);
    // The stop signals are only let through while waiting in ppoll(), so none is lost in between.
    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    if (!setUp()) return 1;
    raisePriority();

    std::uint8_t buffer[4096];
    while (running_) {
        std::int64_t now = nowUs();
        while (running_ && nextStep_ < scenario_.size() && scenario_[nextStep_].atMs * 1000 <= now)
            execute(scenario_[nextStep_++].command, "scenario");
        if (!running_) break;

        std::int64_t wake = now + IDLE_WAKE_US;
        auto consider = [&](std::optional<std::int64_t> t) {
            if (t && *t < wake) wake = *t;
        };
        if (nextStep_ < scenario_.size()) consider(scenario_[nextStep_].atMs * 1000);
        consider(parser_.deadline());
        consider(validator_->deadline());
        consider(loader_->deadline());
        const bool watchMaster = pty_.isOpen() && (!clientGone_ || now - hangupSinceUs_ >= HANGUP_RETRY_US);
        if (pty_.isOpen() && clientGone_ && !watchMaster) consider(hangupSinceUs_ + HANGUP_RETRY_US);

        pollfd fds[2];
        nfds_t count = 0;
        int masterIndex = -1, stdinIndex = -1;
        if (watchMaster) {
            masterIndex = static_cast<int>(count);
            fds[count++] = {pty_.fd(), POLLIN, 0};
        }
        if (control_.open()) {
            stdinIndex = static_cast<int>(count);
            fds[count++] = {STDIN_FILENO, POLLIN, 0};
        }
        const std::int64_t waitUs = std::max<std::int64_t>(0, wake - now);
        timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        const int ready = ::ppoll(fds, count, &timeout, &waitMask);
        if (stopSignal) {
            exitReason_ = "signal";
            break;
        }
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "norvex-sim: poll: %s\n", std::strerror(errno));
            exitReason_ = "error";
            break;
        }
        now = nowUs();

        if (masterIndex >= 0 && ready > 0) {
            const short ev = fds[masterIndex].revents;
            bool hungUp = (ev & POLLHUP) && !(ev & POLLIN);
            if (ev & POLLIN) {
                const ssize_t n = ::read(pty_.fd(), buffer, sizeof buffer);
                if (n > 0) {
                    if (clientGone_ || !hadClient_) logLine("\"event\":\"client_open\"");
                    clientGone_ = false;
                    hadClient_ = true;
                    handleInput(buffer, static_cast<std::size_t>(n));
                } else if (n < 0 && errno == EIO) {
                    hungUp = true;
                }
            } else if (!hungUp && clientGone_) {
                clientGone_ = false;
                hadClient_ = true;
                logLine("\"event\":\"client_open\"");
            }
            if (hungUp) {
                if (!clientGone_) {
                    if (hadClient_) logLine("\"event\":\"client_closed\"");
                    pty_.discardUnread();
                    parser_.clear();
                }
                clientGone_ = true;
                hangupSinceUs_ = nowUs();
            }
        }
        if (stdinIndex >= 0 && ready > 0 && (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR)))
            readControl();

        now = nowUs();
        for (const auto& item : parser_.expire(now))
            validator_->onItem(item, now);
        validator_->tick(now);
        loader_->tick(now);
        drainCoreLog();
    }
    logLine("\"event\":\"exit\",\"reason\":\"" + exitReason_ + "\"");
    writeDump();
    pty_.close();
    return exitReason_ == "error" || fileFailed_ ? 1 : 0;
}

void SimHost::handleInput(const std::uint8_t* data, std::size_t n) {
    const std::int64_t now = nowUs();
    if (options_.loader) {
        auto answers = loader_->onBytes(std::span<const std::uint8_t>(data, n), now);
        drainCoreLog();
        for (const auto& tx : answers) {
            send(tx);
            if (!pty_.isOpen()) break;
        }
        writeDump();
        return;
    }
    for (const auto& item : parser_.feed(std::span<const std::uint8_t>(data, n), now)) {
        auto tx = validator_->onItem(item, now);
        drainCoreLog();
        if (!tx) continue;
        send(*tx);
        validator_->onSent(nowUs());
        if (!pty_.isOpen()) break;
    }
}

void SimHost::send(const Transmission& tx) {
    if (tx.failure.mode == FailMode::Vanish) {
        vanish(tx.failure.vanishExit);
        return;
    }
    if (tx.bytes.empty() || !pty_.isOpen()) return;
    const std::size_t n = tx.bytes.size();
    // What the client's driver hands over for each byte on the wire: the byte itself, or with
    // --marked the form a driver that reports errors per byte gives under the client's settings.
    std::vector<Bytes> delivered(n);
    const bool marked = options_.marked && !tx.modeBits.empty() && prepareMarkedOutput();
    for (std::size_t i = 0; i < n; ++i) {
        delivered[i] =
            marked ? deliveredForm(tx.bytes[i], tx.modeBits[i] != 0, clientInput_) : Bytes{tx.bytes[i]};
    }
    const double charUs = options_.pacing ? charTimeUs() : 0.0;
    // Bytes of one part may leave in one write; parts are separate writes with a gap between.
    std::vector<std::size_t> part(n, 0);
    std::vector<std::int64_t> offsetNs(n, 0);
    const std::size_t parts = static_cast<std::size_t>(std::max(1, tx.failure.parts));
    const std::size_t partSize = (n + parts - 1) / parts;
    // A late answer begins its gap after the frame.
    double extraUs = tx.failure.mode == FailMode::Late ? tx.failure.gapMs * 1000.0 : 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (tx.failure.mode == FailMode::Slow)
            part[i] = i;
        else if (tx.failure.mode == FailMode::Split)
            part[i] = i / partSize;
        else if (tx.gapBefore > 0 && i >= tx.gapBefore)
            part[i] = 1;
        if (i > 0 && part[i] != part[i - 1]) extraUs += tx.failure.gapMs * 1000.0;
        offsetNs[i] = static_cast<std::int64_t>((static_cast<double>(i) * charUs + extraUs) * 1000.0);
    }
    logLine("\"dir\":\"tx\",\"bytes\":\"" + toHex(tx.bytes) + "\",\"kind\":\"" + tx.kind + "\"");

    const std::int64_t startNs = monotonicNs();
    std::size_t i = 0;
    Bytes chunk;
    while (i < n) {
        if (!sleepUntilNs(startNs + offsetNs[i])) {
            logLine("\"event\":\"send_aborted\",\"unsent\":" + std::to_string(n - i));
            return;
        }
        const std::int64_t nowNs = monotonicNs();
        std::size_t j = i + 1;
        while (j < n && part[j] == part[i] && startNs + offsetNs[j] <= nowNs)
            ++j;
        chunk.clear();
        for (std::size_t k = i; k < j; ++k)
            chunk.insert(chunk.end(), delivered[k].begin(), delivered[k].end());
        std::size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t w = ::write(pty_.fd(), chunk.data() + done, chunk.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
            } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{pty_.fd(), POLLOUT, 0};
                if (::poll(&p, 1, 200) <= 0) {
                    logLine("\"event\":\"write_stalled\",\"unsent\":" + std::to_string(n - i));
                    return;
                }
            } else {
                logLine("\"event\":\"write_error\",\"error\":" + jsonString(std::strerror(errno)));
                return;
            }
        }
        i = j;
    }
}

bool SimHost::prepareMarkedOutput() {
    // The master's terminal settings are the slave's: the client's input flags decide what its
    // driver would deliver, and EXTPROC makes the line discipline pass the bytes written here on
    // as they are (it would double every FF under parity marking). Every other flag stays as the
    // client set it.
    termios t{};
    if (::tcgetattr(pty_.fd(), &t) != 0) return false;
    clientInput_.check = (t.c_iflag & INPCK) != 0;
    clientInput_.ignore = (t.c_iflag & IGNPAR) != 0;
    clientInput_.mark = (t.c_iflag & PARMRK) != 0;
    if (!(t.c_lflag & EXTPROC)) {
        t.c_lflag |= EXTPROC;
        if (::tcsetattr(pty_.fd(), TCSANOW, &t) != 0) return false;
    }
    return true;
}

void SimHost::vanish(bool thenExit) {
    logLine(std::string("\"event\":\"vanish\",\"then\":\"") + (thenExit ? "exit" : "stay") + "\"");
    pty_.close();
    if (thenExit) {
        running_ = false;
        exitReason_ = "vanished";
    }
}

void SimHost::execute(const Command& command, const char* source) {
    std::string result;
    if (command.type == Command::Type::End) {
        running_ = false;
        result = "ok";
    } else {
        result = options_.loader ? loader_->apply(command) : validator_->apply(command);
    }
    logLine(std::string("\"event\":\"command\",\"source\":\"") + source +
            "\",\"text\":" + jsonString(command.text) + ",\"result\":" + jsonString(result));
    drainCoreLog();
    if (std::strcmp(source, "stdin") == 0) reply(result == "ok" ? "ok" : "error: " + result);
}

void SimHost::readControl() {
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

void SimHost::reply(const std::string& text) {
    replyLine(text);
}

void SimHost::writeDump() {
    if (options_.loaderDumpPath.empty() || !options_.loader) return;
    const bool rewrite = loader_->headersAccepted() != dumpedHeaders_;
    const auto& records = loader_->records();
    if (!rewrite && records.size() == dumpedRecords_) return;
    if (dumpFailed_) return;
    std::FILE* f = std::fopen(options_.loaderDumpPath.c_str(), rewrite ? "wb" : "ab");
    if (!f) {
        logLine("\"event\":\"dump_error\",\"error\":" + jsonString(std::strerror(errno)));
        return;
    }
    std::size_t from = dumpedRecords_;
    bool written = true;
    if (rewrite) {
        const Bytes& h = loader_->header();
        written = std::fwrite(h.data(), 1, h.size(), f) == h.size();
        from = 0;
    }
    for (std::size_t i = from; i < records.size() && written; ++i) {
        written = std::fwrite(records[i].address.data(), 1, 3, f) == 3 &&
                  std::fwrite(records[i].data.data(), 1, records[i].data.size(), f) == records[i].data.size();
    }
    int error = written ? 0 : errno;
    if (std::fclose(f) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        // What the loader received can no longer be kept whole: said once, not tried again.
        dumpFailed_ = true;
        writeFailed(options_.loaderDumpPath, error);
        return;
    }
    dumpedHeaders_ = loader_->headersAccepted();
    dumpedRecords_ = records.size();
}

} // namespace norvex::sim
