// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusCapture.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace norvex::link {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string reason(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

} // namespace

BusCapture::~BusCapture() {
    close();
}

void BusCapture::appendFileHeader(std::vector<std::uint8_t>& out) {
    put32(out, 0xA1B2C3D4u); // microsecond timestamps
    put16(out, 2);
    put16(out, 4);
    put32(out, 0); // the times are UTC
    put32(out, 0); // accuracy of the times: not stated
    put32(out, CAPTURE_SNAPLEN);
    put32(out, LINKTYPE_MDB);
}

void BusCapture::appendPacket(std::int64_t wallUs, std::uint8_t event, const std::uint8_t* bytes,
                              std::size_t n, std::vector<std::uint8_t>& out, std::uint8_t address) {
    if (wallUs < 0) wallUs = 0;
    const std::size_t header = event == MDB_EVENT_FROM_PERIPHERAL ? 3 : 2;
    if (n > CAPTURE_SNAPLEN - header) n = CAPTURE_SNAPLEN - header;
    const auto length = static_cast<std::uint32_t>(header + n);
    put32(out, static_cast<std::uint32_t>(wallUs / 1000000));
    put32(out, static_cast<std::uint32_t>(wallUs % 1000000));
    put32(out, length);
    put32(out, length);
    out.push_back(0); // pseudo-header version
    out.push_back(event);
    if (event == MDB_EVENT_FROM_PERIPHERAL) out.push_back(address);
    out.insert(out.end(), bytes, bytes + n);
}

void BusCapture::appendExchange(const ExchangeRecord& r, std::vector<std::uint8_t>& out) {
    if (r.frameLength > 0)
        appendPacket(r.wallUs, MDB_EVENT_TO_PERIPHERAL, r.frame.data(), r.frameLength, out);
    if (r.answerLength() > 0)
        appendPacket(r.wallAt(r.firstUs), MDB_EVENT_FROM_PERIPHERAL, r.answer.data(), r.answerLength(), out);
    if (r.ackUs >= 0) {
        const std::uint8_t ack = 0x00;
        appendPacket(r.wallAt(r.ackUs), MDB_EVENT_TO_PERIPHERAL, &ack, 1, out);
    }
}

std::vector<std::uint8_t> BusCapture::fileBytes(const std::vector<ExchangeRecord>& records) {
    std::vector<std::uint8_t> out;
    appendFileHeader(out);
    for (const ExchangeRecord& r : records)
        appendExchange(r, out);
    return out;
}

bool BusCapture::open(const std::string& path) {
    close();
    error_.clear();
    path_ = path;
    whole_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error_ = reason(path, errno);
        return false;
    }
    buffer_.clear();
    heldAckUs_ = -1;
    appendFileHeader(buffer_);
    return put(buffer_);
}

void BusCapture::fail(int error) {
    error_ = reason(path_, error);
    // Whatever part of a packet reached the file goes again: a reader must find whole packets
    // up to the end. (A device such as /dev/full cannot be cut; that fails harmlessly.)
    // Should the cut fail too, the reason kept is still the write's.
    [[maybe_unused]] const int cut = ::ftruncate(fd_, static_cast<off_t>(whole_));
    ::close(fd_);
    fd_ = -1;
}

bool BusCapture::put(const std::vector<std::uint8_t>& bytes) {
    if (fd_ < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    whole_ += static_cast<std::int64_t>(bytes.size());
    return true;
}

void BusCapture::appendInTimeOrder(const ExchangeRecord& r, std::int64_t& heldAckUs,
                                   std::vector<std::uint8_t>& out) {
    if (heldAckUs >= 0 && r.frameLength > 0) appendHeldAck(heldAckUs, out);
    if (r.strayBeforeAck) {
        // Bytes that came with the answer's last byte left the validator before the acknowledge
        // did: the acknowledge follows the stray packet that comes next.
        ExchangeRecord withoutAck = r;
        withoutAck.ackUs = -1;
        appendExchange(withoutAck, out);
        heldAckUs = r.wallAt(r.ackUs);
    } else {
        appendExchange(r, out);
        appendHeldAck(heldAckUs, out);
    }
}

void BusCapture::appendHeldAck(std::int64_t& heldAckUs, std::vector<std::uint8_t>& out) {
    if (heldAckUs < 0) return;
    const std::uint8_t ack = 0x00;
    appendPacket(heldAckUs, MDB_EVENT_TO_PERIPHERAL, &ack, 1, out);
    heldAckUs = -1;
}

bool BusCapture::write(const ExchangeRecord& r) {
    if (fd_ < 0) return false;
    buffer_.clear();
    appendInTimeOrder(r, heldAckUs_, buffer_);
    return put(buffer_);
}

bool BusCapture::close() {
    if (fd_ < 0) return true;
    if (heldAckUs_ >= 0) {
        buffer_.clear();
        appendHeldAck(heldAckUs_, buffer_);
        if (!put(buffer_)) return false;
    }
    // Some file systems report a lack of space only when the data is committed.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        fail(errno);
        return false;
    }
    const int closed = ::close(fd_);
    const int error = errno;
    fd_ = -1;
    if (closed != 0 && error != EINTR) {
        error_ = reason(path_, error);
        return false;
    }
    return true;
}

} // namespace norvex::link
