// SPDX-License-Identifier: GPL-3.0-or-later
#include "Options.h"

#include <cstdlib>

namespace norvex::sim {

namespace {
bool toNumber(const std::string& s, double lo, double hi, double& out) {
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}
} // namespace

bool Options::parse(const std::vector<std::string>& args, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--link") {
            if (!value(linkPath)) return false;
        } else if (a == "--scenario") {
            if (!value(scenarioPath)) return false;
        } else if (a == "--log") {
            if (!value(logPath)) return false;
        } else if (a == "--loader-dump") {
            if (!value(loaderDumpPath)) return false;
        } else if (a == "--ack-timeout-ms") {
            if (!value(v) || !toNumber(v, 0.0, 600000.0, ackTimeoutMs)) {
                error = "--ack-timeout-ms needs a number of milliseconds";
                return false;
            }
        } else if (a == "--frame-gap-ms") {
            if (!value(v) || !toNumber(v, 0.1, 600000.0, frameGapMs)) {
                error = "--frame-gap-ms needs a number of milliseconds";
                return false;
            }
        } else if (a == "--no-pacing") {
            pacing = false;
        } else if (a == "--marked") {
            marked = true;
        } else if (a == "--loader") {
            loader = true;
        } else if (a == "--machine") {
            machine = true;
        } else if (a == "--poll-interval-ms") {
            if (!value(v) || !toNumber(v, 5.0, 60000.0, pollIntervalMs)) {
                error = "--poll-interval-ms needs a number of milliseconds from 5 to 60000";
                return false;
            }
        } else if (a == "--loader-check") {
            if (!value(v)) return false;
            if (v == "crc") {
                check = Loader::CheckMode::Crc;
            } else if (v == "sum") {
                check = Loader::CheckMode::Sum;
            } else if (v == "header") {
                check = Loader::CheckMode::Header;
            } else {
                char* end = nullptr;
                const unsigned long x = std::strtoul(v.c_str(), &end, 16);
                if (v.empty() || v.size() > 4 || *end != '\0') {
                    error = "--loader-check needs crc, sum, header or four hexadecimal digits";
                    return false;
                }
                check = Loader::CheckMode::Fixed;
                fixedCheck = static_cast<std::uint16_t>(x);
            }
        } else if (a == "--poll-batch") {
            if (!value(v)) return false;
            if (v == "safe")
                batch = PollBatch::Safe;
            else if (v == "max")
                batch = PollBatch::Max;
            else if (v == "one")
                batch = PollBatch::One;
            else {
                error = "--poll-batch needs safe, max or one";
                return false;
            }
        } else {
            error = "unknown option " + a + " (see --help)";
            return false;
        }
    }
    if (machine && loader) {
        error = "--machine and --loader exclude each other";
        return false;
    }
    return true;
}

const char* Options::helpText() {
    return R"(Usage: norvex-sim [options]

Plays the Tavik bill validator on a pseudo-terminal. The first line on standard output is the
path of the terminal to open (for example: norvex --port COM1=<that path>). Runs until SIGTERM or
SIGINT, until an "end" command, or until a vanish failure with then=exit.

Options:
  --link PATH            also create a symbolic link PATH to the terminal (removed on exit)
  --scenario FILE        run the timed commands of FILE (see below)
  --log FILE             write one JSON object per line: frames received, answers sent,
                         acknowledge delays, failures and commands, with "t" in ms since start
  --ack-timeout-ms MS    how long a data answer waits for the controller's ACK 00 (default 5);
                         an unacknowledged POLL answer is sent again at the next POLL
  --no-pacing            send answers at once instead of one byte per character time
                         (MDB: 11 bits at 9600 baud; loader: 10 bits at 9600 or 38400 baud)
  --frame-gap-ms MS      silence that abandons a partly received frame (default 20)
  --poll-batch MODE      status bytes per POLL answer: max (default: every queued one up to
                         16, whatever their sums), safe (up to 16, split where a byte would read
                         as an early checksum, or the checksum as 00 or FF), one
  --marked               write answers as a driver that reports errors per byte delivers them
                         when the client asks for parity marking (INPCK and PARMRK): every byte
                         but the last of an answer as FF 00 x, an FF as FF FF
  --loader               play the firmware loader instead of the MDB side
  --machine              play a whole vending machine instead: a controller polling the
                         validator and a coin changer at real timing, the controller's line and
                         the peripherals' line on two pseudo-terminals (first output line:
                         CONTROLLER_PATH,PERIPHERALS_PATH, ready for norvex --batch --listen);
                         --link PATH makes PATH-controller and PATH-peripherals; with --marked
                         both lines in the marked form. Commands: also coin, vmc, unplug
  --poll-interval-ms MS  --machine: time from one command to the next (default 25)
  --loader-check VALUE   check value answered to frame 0x84: crc (default: CRC-16/CCITT-FALSE,
                         start FFFF, over the 128 data bytes of every record received, in order),
                         sum (16-bit sum of those bytes), header (header bytes 126-127) or HHHH
  --loader-dump FILE     keep what the loader received: the 128-byte header, then per record
                         3 address bytes and 128 data bytes
  --help                 this text

Commands (standard input, one per line; answered "ok" or "error: ..." on standard output):
  insert T [escrow|noescrow]  insert a bill of type T (0-15); without a word the controller's
                              escrow bit for T decides. Disabled type: C0|T; escrow: 90|T,
                              then ESCROW stacks (80|T) or returns (A0|T); else stacked (80|T)
  coupon                      a white coupon: rejected, status 0B
  status HH [HH ...]          queue raw status bytes
  fail CMD MODE [N|always] [parts=N] [gap=MS] [n=N] [at=before|after|instead] [seed=N]
                              [byte=N] [then=exit|stay]
                              the next N (default 1) answers to CMD fail as MODE
                              CMD: reset setup security poll billtype escrow stacker ident sensors
                                   optics video stats erase any; loader: hello query header
                                   record check any
                              MODE: silent, late (gap=8 before the answer), badsum (last
                                    byte +1), nak (FF; loader "#N"),
                                    split (parts=2 gap=10), garbage (n=3 at=before), slow
                                    (gap=5 between bytes), vanish (then=exit), noise (n=40
                                    random bytes at=instead of the answer or at=after it,
                                    gap=0 ms later; seed=N repeats a sequence), flip (data
                                    byte byte=N, default the middle one, hit on the line:
                                    its top bit inverted, the checksum kept), unmarked (with
                                    --marked: from byte byte=N, default 1, on the bytes come
                                    without their marks, as from a driver that stops marking)
  fail clear                  drop every failure mode
  record NAME default|clear|set OFFSET HH ...
                              NAME: setup ident sensors optics video stats; stats counters are
                              16-bit little-endian at their record offsets
  stacker [COUNT] [full|notfull]
  coin T [tubes|cashbox]      --machine: a coin of type T into the changer
  vmc MODE [N|always] [gap=MS] [n=N] [seed=N]
                              --machine: the controller's next N data answers get no ACK
                              (noack), a late one (lateack, gap=8), RET (ret) or NAK (nak);
                              busreset holds its line low; noise sends n=6 random bytes
  unplug controller|peripherals
                              --machine: that line's adapter is pulled
  end                         stop the simulator

Scenario file: lines "at MS COMMAND" (MS since start), blank lines and '#' comments, e.g.
  at 2000 insert 1 escrow
  at 3000 status 03
  at 5000 fail poll silent 3
  at 9000 end

Exit status: 0 after "end", SIGTERM or SIGINT, or a vanish with then=exit; 1 when it cannot
start (the log, the scenario, the pseudo-terminal or the --link); 2 for a bad command line.
)";
}

} // namespace norvex::sim
