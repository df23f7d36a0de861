// SPDX-License-Identifier: GPL-3.0-or-later
#include "LinkData.h"

#include <cstring>
#include <unistd.h>

namespace norvex::link {

RecordBytes LinkData::recordData(RequestKind k) const {
    std::lock_guard<std::mutex> guard(lock_);
    return req_[index(k)].data;
}

ShortAnswer LinkData::shortAnswer() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {req_[index(REQ_POLL)].data, shortAnswerLength_};
}

DiagBytes LinkData::diagData() const {
    std::lock_guard<std::mutex> guard(lock_);
    return diag_;
}

void LinkData::clearTraffic() {
    std::lock_guard<std::mutex> guard(lock_);
    traffic_.clear();
}

TrafficBuffer LinkData::trafficSnapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return traffic_;
}

void LinkData::resetReception() {
    std::lock_guard<std::mutex> guard(lock_);
    for (RequestKind k : {REQ_SETUP, REQ_POLL, REQ_CASS_INFO}) {
        RequestRecord& r = req_[index(k)];
        r.data.fill(0);
        r.count = 0;
        r.sum = 0;
    }
    req_[index(REQ_SENSORS)].count = 0;
    shortAnswerLength_ = 0;
    resetSinceFrame_ = true;
}

bool LinkData::submit(const std::uint8_t* frame, std::size_t length) {
    if (length == 0 || length > TX_SLOT_SIZE) return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (txLength.load() != 0) return false;
        std::memcpy(txBytes_.data(), frame, length);
        txLength.store(static_cast<std::uint8_t>(length));
    }
    const int fd = wakeFd.load();
    if (fd >= 0 && workerWaiting.load()) {
        const std::uint64_t one = 1;
        // A full counter only means the worker has not read earlier wake-ups yet.
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }
    return true;
}

std::size_t LinkData::take(std::array<std::uint8_t, TX_SLOT_SIZE>& out) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t n = txLength.load();
    if (n == 0) return 0;
    std::memcpy(out.data(), txBytes_.data(), n);
    return n;
}

} // namespace norvex::link
