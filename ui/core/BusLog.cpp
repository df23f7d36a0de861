#include "BusLog.h"

#include "diagnostics/ReportFile.h"

#include <algorithm>

namespace norvex::ui {

std::size_t BusLog::takeNew() {
    fresh_.clear();
    const std::size_t n = recorder_.drain(fresh_);
    for (const link::ExchangeRecord& r : fresh_)
        add(r);
    return n;
}

void BusLog::add(const link::ExchangeRecord& r) {
    KeptExchange k;
    k.record = r;
    const std::uint8_t* frame = r.frame.data();
    const std::size_t answer = r.answerLength();
    if (r.frameLength > 0) {
        k.command = control::commandLabel(frame, r.frameLength);
        k.frameMeaning = control::frameMeaning(frame, r.frameLength);
        k.frameChecksum = control::checksumState(frame, r.frameLength);
    }
    if (r.end == link::ExchangeEnd::Stray) {
        k.answerMeaning = "belongs to no exchange";
    } else if (answer > 0) {
        k.answerMeaning = control::answerMeaning(frame, r.frameLength, r.answer.data(), answer, setup_);
        k.answerChecksum = control::checksumState(r.answer.data(), answer);
    }
    kept_.push_back(std::move(k));
    ++taken_;
    while (kept_.size() > keep_)
        kept_.pop_front();
    if (capture_.isOpen() && !capture_.write(r)) captureFailed_ = true;
}

void BusLog::setKeep(std::size_t exchanges) {
    keep_ = std::clamp(exchanges, MIN_KEEP, MAX_KEEP);
    while (kept_.size() > keep_)
        kept_.pop_front();
}

bool BusLog::startCapture(const std::string& path, std::string& error) {
    captureFailed_ = false;
    if (!capture_.open(path)) {
        error = capture_.error();
        return false;
    }
    return true;
}

void BusLog::stopCapture() {
    if (capture_.isOpen() && !capture_.close()) captureFailed_ = true;
}

bool BusLog::saveCapture(const std::string& path, std::string& error) const {
    std::vector<std::uint8_t> bytes;
    link::BusCapture::appendFileHeader(bytes);
    std::int64_t heldAck = -1;
    for (const KeptExchange& k : kept_)
        link::BusCapture::appendInTimeOrder(k.record, heldAck, bytes);
    link::BusCapture::appendHeldAck(heldAck, bytes);
    // Written as a report is: into a temporary file that takes the name only once it is whole,
    // so that a full disk leaves an earlier capture of that name as it was.
    return diagnostics::writeReportFile(path, std::string(bytes.begin(), bytes.end()), error);
}

} // namespace norvex::ui
