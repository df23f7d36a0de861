// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusLog.h"

#include "control/HeardDecoder.h"
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

const KeptExchange& BusLog::addHeard(const link::HeardExchange& h) {
    using link::HeardKind;
    KeptExchange k;
    k.heard = std::make_shared<const link::HeardExchange>(h);
    const std::uint8_t* command = h.command.data();
    const std::size_t answer = h.answerLength();
    switch (h.kind) {
    case HeardKind::BusReset:
        k.command = "bus reset";
        break;
    case HeardKind::ControllerStray:
        k.command = "stray byte on the controller's line";
        break;
    case HeardKind::PeripheralStray:
        k.command = "stray bytes on the peripherals' line";
        k.answerMeaning = "belongs to no exchange";
        break;
    case HeardKind::Exchange:
    case HeardKind::Retransmission:
        k.command =
            control::deviceName(h.address) + " " + control::heardCommandLabel(command, h.commandLength);
        k.frameMeaning = control::heardCommandMeaning(command, h.commandLength);
        k.frameChecksum = control::checksumState(command, h.commandLength);
        if (answer > 0) {
            k.answerMeaning =
                control::heardAnswerMeaning(command, h.commandLength, h.answer.data(), answer, setup_);
            k.answerChecksum = control::checksumState(h.answer.data(), answer);
        }
        break;
    }
    kept_.push_back(std::move(k));
    ++taken_;
    while (kept_.size() > keep_)
        kept_.pop_front();
    if (capture_.isOpen()) {
        std::vector<std::uint8_t> packets;
        link::appendHeardPackets(h, heardCaptureUs_, packets);
        if (!capture_.writePackets(packets)) captureFailed_ = true;
    }
    return kept_.back();
}

void BusLog::setKeep(std::size_t exchanges) {
    keep_ = std::clamp(exchanges, MIN_KEEP, MAX_KEEP);
    while (kept_.size() > keep_)
        kept_.pop_front();
}

bool BusLog::startCapture(const std::string& path, std::string& error) {
    captureFailed_ = false;
    heardCaptureUs_ = 0;
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
    std::int64_t heardUs = 0;
    for (const KeptExchange& k : kept_) {
        if (k.heard) {
            link::BusCapture::appendHeldAck(heldAck, bytes);
            link::appendHeardPackets(*k.heard, heardUs, bytes);
        } else {
            link::BusCapture::appendInTimeOrder(k.record, heldAck, bytes);
        }
    }
    link::BusCapture::appendHeldAck(heldAck, bytes);
    // Written as a report is: into a temporary file that takes the name only once it is whole,
    // so that a full disk leaves an earlier capture of that name as it was.
    return diagnostics::writeReportFile(path, std::string(bytes.begin(), bytes.end()), error);
}

} // namespace norvex::ui
