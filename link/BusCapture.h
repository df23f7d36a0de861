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
    // The packets of one exchange, in the order they were on the wire.
    static void appendExchange(const ExchangeRecord& r, std::vector<std::uint8_t>& out);

    // --- the file ---------------------------------------------------------------------------------
    // Creates the file anew and writes the file header. False with the reason in error().
    // handEachToSystem: every exchange goes to the system as soon as it is written, so that a
    // crash of the program loses at most the exchange in progress (a live capture); otherwise
    // the bytes are buffered until close() (a capture saved at once).
    [[nodiscard]] bool open(const std::string& path, bool handEachToSystem = true);
    // Writes the exchange's packets. False with the reason in error(); the file is closed then.
    [[nodiscard]] bool write(const ExchangeRecord& r);
    // Writes packets made with appendPacket (those of a heard exchange). The same on failure.
    [[nodiscard]] bool writePackets(const std::vector<std::uint8_t>& packets) { return put(packets); }
    // Closes the file; false when the last bytes could not be written.
    bool close();
    bool isOpen() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // Writes a whole capture of the given exchanges at once (the window's "Save Bus Capture").
    [[nodiscard]] static bool save(const std::string& path, const std::vector<ExchangeRecord>& records,
                                   std::string& error);

private:
    bool put(const std::vector<std::uint8_t>& bytes);

    std::FILE* file_ = nullptr;
    bool handEach_ = true;
    std::string path_;
    std::string error_;
    std::vector<std::uint8_t> buffer_;
};

} // namespace norvex::link
