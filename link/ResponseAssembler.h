// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the link worker turns the bytes on the line into responses: which kind of answer a frame
// asks for, where its bytes go, and when it is complete. Pure bookkeeping on LinkData; each step
// takes LinkData's lock itself (through a LinkData::Reception), so the caller holds none. The
// caller does the port I/O and keeps the time.
//
// Records of a fixed length end on their last byte and are taken only when their checksum fits.
// Short answers (to RESET, SECURITY, POLL, BILL TYPE, ESCROW, feature enable and erase) end on
// their checksum. A byte that
// equals the running sum may still be a status byte, so it ends the answer only when nothing
// follows it: a byte after it makes it a status byte at once, and the line staying quiet (the
// caller's quiet window, then lineQuiet()) confirms it as the checksum. Where the port shows mode
// bits and they have agreed with the checksums, an unmarked byte that matches ends the answer as
// soon as the bytes in hand are used up (endOfRead()). Nothing completes past the 17th byte (16
// status bytes and their checksum).

#include "LinkData.h"
#include "MarkedInput.h"

#include <cstddef>
#include <cstdint>

namespace norvex::link {

struct Completion {
    bool complete = false;
    bool ack = false;      // the controller must acknowledge with 00
    std::uint8_t code = 0; // RESP_*
    // A fixed-length record arrived whole but its checksum does not fit: not complete, not
    // acknowledged, and the request stays awaited.
    bool checksumFault = false;
    // A short answer ended on a byte that matched the sum, by the quiet line or by the mode bit:
    // if bytes still come before the next frame, that byte was a status byte and the answer goes
    // on (resumeEndedAnswer).
    bool resumable = false;
    bool byMark = false; // ... and it was the mode bit alone that ended it
};

class ResponseAssembler {
public:
    explicit ResponseAssembler(LinkData& data) : d_(data) {}

    // A frame is about to be transmitted: for frames longer than one byte the traffic buffer
    // restarts and the frame's bytes are recorded; the response kind is selected from the frame
    // and its receive state reset. The one-byte ACK changes nothing.
    void frameSent(const std::uint8_t* frame, std::size_t length);

    // One received byte, with its mark where the port delivers marks (`marked`: its mode bit was
    // 0): recorded in the traffic buffer and fed to the current response kind.
    Completion feed(std::uint8_t byte, bool marked = false);

    // Every byte of one read has been fed: an unmarked checksum on a port whose marks are
    // trusted ends its answer now.
    Completion endOfRead();

    // The worker's receive step for one read: feeds `bytes` until one completes an answer, and
    // ends the read (endOfRead) when none did, all under one taking of the lock. `used` is set
    // to the number of bytes fed; those after a completing byte are not.
    Completion feedRead(const LineByte* bytes, std::size_t n, std::size_t& used);
    // The last byte fed equals the running sum of a short answer and may be its checksum: the
    // answer ends with it if the line stays quiet (lineQuiet), and goes on if another byte comes.
    bool awaitingQuiet() const { return pending_; }
    // No byte followed the awaited one within the quiet window.
    Completion lineQuiet();
    // Bytes came after a short answer that ended on its checksum, and no frame since: the answer
    // had not ended (the validator was held up inside it longer than the quiet window, or the
    // driver stopped marking inside it, after which the marks frame nothing more). It is taken up
    // again where it was ended. False when there is nothing to take up (a frame went out, RESET
    // in the menu, or the answer did not end on a checksum).
    bool resumeEndedAnswer();
    // The answer taken up again did not end as a longer one (its checksum never fitted, or more
    // than an answer came): the bytes after its first ending were strays, and the answer stands
    // as it ended there, acknowledged. Puts that answer back for the window.
    void abandonResumedAnswer();

    // How short answers are framed on this port so far (see Framing).
    Framing framing() const { return framing_; }

    // Static description of the kinds (lengths include the checksum byte).
    static std::size_t fixedLength(ResponseMode mode);
    static std::uint8_t completionCode(ResponseMode mode);
    static RequestKind recordKind(ResponseMode mode); // REQ_COUNT for the diagnostic buffer kinds
    static ResponseMode modeForFrame(const std::uint8_t* frame, std::size_t length, bool& changes);
    // The last of `length` bytes is the low byte of the sum of the others.
    static bool checksumFits(const std::uint8_t* bytes, std::size_t length);

private:
    using Reception = LinkData::Reception;
    // The steps above with the lock held.
    void frameSent(Reception& rx, const std::uint8_t* frame, std::size_t length);
    Completion feed(Reception& rx, std::uint8_t byte, bool marked);
    Completion endOfRead(Reception& rx);
    Completion lineQuiet(Reception& rx);
    Completion completeWithAck(Reception& rx, std::uint8_t code);
    Completion completeOnChecksum(Reception& rx);
    // RESET in the menu cleared the record of the answer under way: the rest of it is dropped.
    void abandonIfReset(Reception& rx);
    Completion completeRecord(Reception& rx, const std::uint8_t* bytes, std::size_t length,
                              ResponseMode mode);
    Completion completeShort(Reception& rx, bool ack, std::uint8_t length);
    Completion feedShort(Reception& rx, std::uint8_t byte, bool marked);
    // The record still holds the answer the pending byte ends.
    bool pendingIntact(Reception& rx) const;
    std::uint8_t pendingLength(Reception& rx) const;
    // What the marks say about the port: a byte arrived within an answer (before it is used) and
    // the answer ended on the last byte fed.
    void markEvidence(bool marked);
    void answerEnded();
    void contradicted();

    LinkData& d_;

    // The answer being assembled.
    bool pending_ = false;       // the last byte matched the running sum; not yet added to it
    bool pendingLast_ = false;   // ... and it was the 17th byte: nothing may follow it
    bool pendingByMark_ = false; // ... and it is unmarked on a port whose marks are trusted
    std::uint8_t pendingByte_ = 0;
    bool overrun_ = false; // a short answer went past its 17th byte: it never completes
    std::size_t answerBytes_ = 0;
    bool lastMarked_ = false;
    bool earlierMarked_ = true;    // every byte of the answer before the last one was marked
    bool endedByMark_ = false;     // the last answer ended on its mode bit; nothing may follow it
    bool endedOnChecksum_ = false; // the last answer ended on a byte that matched the sum
    std::uint32_t endLength_ = 0;
    std::uint16_t endTrafficPos_ = 0;

    // The port, for as long as this assembler serves it.
    bool marksSeen_ = false;
    Framing framing_ = Framing::QuietLine;
};

} // namespace norvex::link
