#include "BusCapture.h"

#include <cerrno>
#include <cstring>

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

std::string reason(const std::string& path) {
    return path + ": " + std::strerror(errno);
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

bool BusCapture::open(const std::string& path, bool handEachToSystem) {
    close();
    error_.clear();
    path_ = path;
    handEach_ = handEachToSystem;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error_ = reason(path);
        return false;
    }
    buffer_.clear();
    appendFileHeader(buffer_);
    return put(buffer_);
}

bool BusCapture::put(const std::vector<std::uint8_t>& bytes) {
    if (!file_) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
        (handEach_ && std::fflush(file_) != 0)) {
        error_ = reason(path_);
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

bool BusCapture::write(const ExchangeRecord& r) {
    if (!file_) return false;
    buffer_.clear();
    appendExchange(r, buffer_);
    return put(buffer_);
}

bool BusCapture::close() {
    if (!file_) return true;
    const bool flushed = std::fflush(file_) == 0;
    const int savedErrno = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed) {
        if (!flushed) errno = savedErrno;
        error_ = reason(path_);
        return false;
    }
    return true;
}

bool BusCapture::save(const std::string& path, const std::vector<ExchangeRecord>& records,
                      std::string& error) {
    BusCapture capture;
    bool ok = capture.open(path, false);
    for (std::size_t i = 0; ok && i < records.size(); ++i)
        ok = capture.write(records[i]);
    ok = capture.close() && ok;
    if (!ok) error = capture.error();
    return ok;
}

} // namespace norvex::link
