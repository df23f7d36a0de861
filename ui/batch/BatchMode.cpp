// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchMode.h"

#include "BatchOptions.h"
#include "BatchRunner.h"
#include "link/PortAssignments.h"

#include <cstring>

namespace norvex::batch {

const char* batchUsage() {
    return "Batch mode (no window): norvex --batch [options]\n"
           "  Runs the same controller as the window: START, the start-up sequence (RESET, SETUP,\n"
           "  identification, all bill types enabled), then polling.\n"
           "\n"
           "  --port COMn=PATH      let COM n (1..4) open the serial device PATH; repeatable\n"
           "  --com N               use COM N (1..4); default: the port stored in norvex.ini\n"
           "  --poll-ms MS          poll period: 20, 50, 100 (default), 150 or 200\n"
           "  --escrow return|stack what happens to a bill held in escrow (default: return)\n"
           "  --record FILE         record the bus traffic into FILE, one line per answer, in the\n"
           "                        traffic data file's format\n"
           "  --pcap FILE           write every frame, answer and ACK into FILE as they happen, a\n"
           "                        capture for Wireshark (pcap, link type 300 MDB)\n"
           "  --report FILE         after the start-up sequence fetch statistics, sensors and main\n"
           "                        optics (and the video test if asked for), write the diagnostics\n"
           "                        report to FILE and end\n"
           "  --serial SN           the unit's serial number for the report (up to 10 characters)\n"
           "  --parts LIST          report parts, comma-separated: statistics,sensors,optics,video\n"
           "                        (default: statistics,sensors,optics)\n"
           "  --seconds N           end after N seconds of polling; with --report, polling goes on\n"
           "                        after the report until N seconds have passed\n"
           "  --download IMAGE      download the firmware image IMAGE (.TVK) without prompts; the\n"
           "                        validator must already be in loader mode (DIP switches down,\n"
           "                        power restarted); runs alone\n"
           "  --listen VMC_DEVICE,PERIPHERAL_DEVICE\n"
           "                        listen to a running vending machine instead of playing its\n"
           "                        controller: two serial inputs with only RX wired, the first on\n"
           "                        the controller's transmit line, the second on the peripherals'\n"
           "                        (e.g. /dev/ttyUSB0,/dev/ttyUSB1); nothing is ever sent. Takes\n"
           "                        --seconds, --pcap and --record (every device's answers)\n"
           "  --history URL         keep the run's readings in this service history: sqlite:PATH or\n"
           "                        postgresql://USER@HOST/DB (default: the one chosen in the\n"
           "                        window, else sqlite:~/.local/share/norvex/history.sqlite)\n"
           "  --no-history          keep no readings of this run\n"
           "  Without --report, --seconds or --download the run polls (or listens) until SIGINT,\n"
           "  SIGTERM or SIGHUP. Each ends any polling run cleanly, as closing the window does: a\n"
           "  bill held in escrow is returned (or stacked, as --escrow says) and the port is\n"
           "  released.\n"
           "\n"
           "  Standard output: one line per event and command as it happens, e.g.\n"
           "    000001200 event (90h) bill escrowed : 1.00\n"
           "    000000100 command (30h) RESET validator\n"
           "  (run-clock milliseconds, code, text), and \"setup: ...\" and \"identification: ...\"\n"
           "  when those answers arrive; for --download the progress and the outcome. With\n"
           "  --listen, also one line per exchange of every other device (and per validator\n"
           "  exchange that went wrong), e.g.\n"
           "    000004210 heard (0Bh) coin changer POLL: 0B 0B -> 41 05 46 (coin of type 1 to the\n"
           "    tubes, 5 in the tube); ACK 0.412 ms after the last byte\n"
           "  Standard error: the messages the window would show, as \"caption: text\".\n"
           "\n"
           "  Exit status:\n"
           "    0   success\n"
           "    2   bad arguments\n"
           "    3   the port could not be opened (\"No Connection\"; --listen: either line)\n"
           "    4   the validator did not answer SETUP within 5 seconds of START\n"
           "    5   the report, the record or the capture file could not be written\n"
           "    6   the serial port stopped working during the run (--listen: either line)\n"
           "    7   the report was written, but a requested record did not arrive in time\n"
           "        (its part shows zeros)\n"
           "    8   a reading of the run is not kept: neither the service history nor this\n"
           "        computer could take it, or the history refused it (standard error says why)\n"
           "    129, 130, 143  SIGHUP, SIGINT or SIGTERM came before the report was written\n"
           "        (without --report a signal ends the run with 0)\n"
           "   --download:\n"
           "    0   the validator's check value matches the image's\n"
           "    10  the image cannot be read or is too short (nothing was sent)\n"
           "    11  no connection: the port did not open or the loader did not answer\n"
           "    12  the loader refused the image header\n"
           "    13  the loader refused an image record\n"
           "    14  the loader sent no check value\n"
           "    15  the loader's check value differs from the image's (\"CRC Test failure\")\n"
           "\n"
           "History export (no window, no port): norvex [--history URL] --history-csv SERIAL\n"
           "  Prints the unit's history as CSV: a header line, then one line per visit (time,\n"
           "  serial, program revision, bills accepted, acceptance rate, then the sensor and\n"
           "  optics values by name). Exit status: 0 printed, 2 unknown unit or bad arguments,\n"
           "  1 no history there or it cannot be read (nothing is created).\n"
           "\n"
           "History set-up: norvex --history URL --history-init\n"
           "  Creates or migrates the history's schema: run once by the owner of a shared\n"
           "  PostgreSQL history (technicians then need only SELECT and INSERT). Exit status: 0\n"
           "  ready, 2 bad arguments, 1 it could not be set up.\n";
}

bool batchRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "--batch") == 0) return true;
    return false;
}

int runBatch(const std::vector<std::string>& args, const BatchEnvironment& env) {
    BatchOptions options;
    std::string error;
    if (!parseBatchArguments(args, options, error)) {
        if (env.err) {
            std::fprintf(env.err, "norvex: %s\nTry 'norvex --help'.\n", error.c_str());
            std::fflush(env.err);
        }
        return batch_status::BAD_ARGUMENTS;
    }
    if (options.help) {
        if (env.out) {
            std::fputs(batchUsage(), env.out);
            std::fflush(env.out);
        }
        return batch_status::OK;
    }
    BatchRunner runner(std::move(options), env);
    return runner.run();
}

int runBatch(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);
    BatchEnvironment env;
    env.portsFile = link::PortAssignments::defaultFile();
    return runBatch(args, env);
}

} // namespace norvex::batch
