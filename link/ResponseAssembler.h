#pragma once
// How the link worker turns the bytes on the line into responses: which kind of answer a frame
// asks for, where its bytes go, and when it is complete. Pure bookkeeping on LinkData; the
// caller holds LinkData::lock and does the port I/O.

#include "LinkData.h"

#include <cstddef>
#include <cstdint>

namespace norvex::link {

struct Completion {
    bool complete = false;
    bool ack = false;        // the controller must acknowledge with 00
    std::uint8_t code = 0;   // RESP_*
};

class ResponseAssembler {
public:
    explicit ResponseAssembler(LinkData& data) : d_(data) {}

    // A frame is about to be transmitted: for frames longer than one byte the traffic buffer
    // restarts and the frame's bytes are recorded; the response kind is selected from the frame
    // and its receive state reset. The one-byte ACK changes nothing.
    void frameSent(const std::uint8_t* frame, std::size_t length);

    // One received byte: recorded in the traffic buffer and fed to the current response kind.
    Completion feed(std::uint8_t byte);

    // Static description of the kinds (lengths include the checksum byte).
    static std::size_t fixedLength(ResponseMode mode);
    static std::uint8_t completionCode(ResponseMode mode);
    static RequestKind recordKind(ResponseMode mode); // REQ_COUNT for the diagnostic buffer kinds
    static ResponseMode modeForFrame(const std::uint8_t* frame, std::size_t length, bool& changes);

private:
    Completion completeWithAck(std::uint8_t code);
    Completion feedShort(std::uint8_t byte);

    LinkData& d_;
};

} // namespace norvex::link
