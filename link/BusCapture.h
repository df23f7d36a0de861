// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus as a capture file that Wireshark's MDB dissector reads: classic pcap, link type 300
// (LINKTYPE_MDB), microsecond timestamps. Every packet starts with a pseudo-header: version 0,
// then the event, 0xFF for data from the controller to the peripheral, 0xFE for data from the
// peripheral to the controller followed by the peripheral's address (0x30, the bill validator),
// 0xFD for a bus reset; then the bytes as they were on the wire. One exchange gives the frame,
// the answer (a bare ACK or NAK is an answer of one byte) and the controller's ACK, each its own
// packet. The numbers in the file are little-endian.

#include "ExchangeRecorder.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace norvex::link {

inline constexpr std::uint32_t LINKTYPE_MDB = 300;
inline constexpr std::uint8_t MDB_EVENT_TO_PERIPHERAL = 0xFF;
inline constexpr std::uint8_t MDB_EVENT_FROM_PERIPHERAL = 0xFE;
inline constexpr std::uint8_t MDB_EVENT_BUS_RESET = 0xFD;
inline constexpr std::uint8_t BILL_VALIDATOR_ADDRESS = 0x30;
// Longest packet: pseudo-header and the longest answer kept.
inline constexpr std::uint32_t CAPTURE_SNAPLEN = 3 + EXCHANGE_BYTES;

class BusCapture {
public:
    BusCapture() = default;
    ~BusCapture();
    BusCapture(const BusCapture&) = delete;
    BusCapture& operator=(const BusCapture&) = delete;

    // --- the bytes, without I/O -----------------------------------------------------------------
    static void appendFileHeader(std::vector<std::uint8_t>& out);
    // One packet; `event` FF or FD takes no address, FE is followed by the peripheral's address
    // (the validator's unless another is given).
    static void appendPacket(std::int64_t wallUs, std::uint8_t event, const std::uint8_t* bytes,
                             std::size_t n, std::vector<std::uint8_t>& out,
                             std::uint8_t address = BILL_VALIDATOR_ADDRESS);
    // The packets of one exchange in time order with those before it: an acknowledge that left
    // after stray bytes read with the answer's last byte goes after their packet. `heldAckUs`
    // carries it from one call to the next (start with -1); appendHeldAck writes one still held.
    static void appendInTimeOrder(const ExchangeRecord& r, std::int64_t& heldAckUs,
                                  std::vector<std::uint8_t>& out);
    static void appendHeldAck(std::int64_t& heldAckUs, std::vector<std::uint8_t>& out);
    // The packets of one exchange, in the order they were on the wire.
    static void appendExchange(const ExchangeRecord& r, std::vector<std::uint8_t>& out);

    // A whole capture of the given exchanges as the bytes of the file (the window's "Save Bus
    // Capture" writes them the way a report is written: all or nothing).
    static std::vector<std::uint8_t> fileBytes(const std::vector<ExchangeRecord>& records);

    // --- the live file ----------------------------------------------------------------------------
    // Creates the file anew and writes the file header. Every exchange then goes to the system
    // as soon as it is written, so that a crash of the program loses at most the exchange in
    // progress. False with the reason in error().
    [[nodiscard]] bool open(const std::string& path);
    // Writes the exchange's packets. False with the reason in error(): the file is then cut back
    // to its last whole packet (a full disk or a file-size limit may have taken part of this
    // one) and closed.
    [[nodiscard]] bool write(const ExchangeRecord& r);
    // Writes packets made with appendPacket (those of a heard exchange). The same on failure.
    [[nodiscard]] bool writePackets(const std::vector<std::uint8_t>& packets) { return put(packets); }
    // Closes the file; false when it could not be committed.
    bool close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    bool put(const std::vector<std::uint8_t>& bytes);
    void fail(int error);

    int fd_ = -1;
    std::int64_t whole_ = 0; // bytes of whole packets (and the header) in the file
    std::string path_;
    std::string error_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t heldAckUs_ = -1; // an acknowledge waiting for the stray bytes that preceded it
};

} // namespace norvex::link
