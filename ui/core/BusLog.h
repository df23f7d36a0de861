// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exchanges the link recorded, taken from its ring at the window's pace, decoded once and
// kept (a bounded number, the newest), and written to a capture file as they come when one is
// open (the batch mode's --pcap).

#include "control/BusDecoder.h"
#include "link/BusCapture.h"
#include "link/ExchangeRecorder.h"
#include "link/HeardExchange.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace norvex::ui {

struct KeptExchange {
    link::ExchangeRecord record;
    std::string command;       // the frame's command ("" for stray bytes)
    std::string frameMeaning;  // what the frame asks for beyond its command
    std::string answerMeaning; // what the answer says
    control::ChecksumState frameChecksum = control::ChecksumState::None;
    control::ChecksumState answerChecksum = control::ChecksumState::None;
    // Heard on a machine's bus while listening (`record` unused then); empty for the link's own.
    std::shared_ptr<const link::HeardExchange> heard;
};

class BusLog {
public:
    // Exchanges kept: about two monitor rows each.
    static constexpr std::size_t DEFAULT_KEEP = 50000;
    static constexpr std::size_t MIN_KEEP = 100;
    static constexpr std::size_t MAX_KEEP = 1000000;

    BusLog() = default;
    BusLog(const BusLog&) = delete;
    BusLog& operator=(const BusLog&) = delete;

    link::ExchangeRecorder& recorder() { return recorder_; }

    // Takes the exchanges the link finished since the last call (window thread only): decoded,
    // kept, and written to the open capture. Returns how many came.
    std::size_t takeNew();
    // Takes records from elsewhere (tests, benchmarks) as if the link had finished them.
    void add(const link::ExchangeRecord& record);
    // Takes an exchange heard on a machine's bus: decoded, kept and written to the open capture
    // as the link's own are.
    const KeptExchange& addHeard(const link::HeardExchange& heard);

    const std::deque<KeptExchange>& kept() const { return kept_; }
    // Exchanges taken so far, and those forgotten again to keep the number bounded.
    std::uint64_t taken() const { return taken_; }
    std::uint64_t forgotten() const { return taken_ - kept_.size(); }
    // Records the link overwrote before they were taken.
    std::uint64_t lost() const { return recorder_.lost(); }

    std::size_t keep() const { return keep_; }
    void setKeep(std::size_t exchanges); // clamped to MIN_KEEP..MAX_KEEP; the oldest go first

    // --- capture files --------------------------------------------------------------------------
    // Every exchange taken from now on is written to `path` at once. False with the reason.
    [[nodiscard]] bool startCapture(const std::string& path, std::string& error);
    void stopCapture();
    // The capture file failed since it was started (it is closed then); the reason.
    bool captureFailed() const { return captureFailed_; }
    const std::string& captureError() const { return capture_.error(); }
    // The kept exchanges as one capture file, replacing the file of that name only once the
    // whole capture is written.
    [[nodiscard]] bool saveCapture(const std::string& path, std::string& error) const;

private:
    link::ExchangeRecorder recorder_;
    std::vector<link::ExchangeRecord> fresh_;
    std::deque<KeptExchange> kept_;
    std::size_t keep_ = DEFAULT_KEEP;
    std::uint64_t taken_ = 0;
    control::BusSetup setup_;
    link::BusCapture capture_;
    bool captureFailed_ = false;
    std::int64_t heardCaptureUs_ = 0; // the newest heard packet's time in the open capture
};

} // namespace norvex::ui
