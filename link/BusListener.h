// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Listening to a vending machine's bus through two receive-only lines: one on the controller's
// transmit line, one on the peripherals'. BusListener takes the bytes each line delivers with the
// time they were read, frames them and merges both lines into one timeline of exchanges: every
// command with its peripheral's answer and the controller's ACK, NAK or RET, whatever the
// address. Pure bookkeeping; the caller reads the lines and keeps the time.
//
// Framing. Where a line's marks (its bytes' mode bits, as parity marking delivers them) have
// agreed with the checksums, they frame: on the controller's line only the address byte of a
// command has a mode bit of 1, on the peripherals' line only the last byte of an answer. Without
// marks, and until they have agreed, a command ends at its known length, and one of unknown
// length on its checksum once its answer begins or the line goes quiet; a lone 00, AA or FF from
// the controller after a data answer is its ACK, RET or NAK; an answer ends when the controller
// speaks again or the peripherals' line goes quiet. Marks that keep contradicting the checksums
// (a driver that flags errors per USB packet, not per byte) are not used again. Without marks, a
// command whose checksum fails (or that is cut off) is taken apart as a peripheral's parser does
// it: its first byte is a stray byte, and framing starts again at the next one.
//
// Merge. Each byte carries its read time, the bytes of one read backdated one character each.
// Two adapters do not read at the same instant: their times may disagree by up to about 2 ms.
// Bytes are taken in the order of their times, which already puts an answer after the first byte
// of its command (a command is at least two characters long). Where a byte comes within
// ORDER_WINDOW_US of the other line's next byte (two adapters that disagree, or a loaded system
// that delivers one line's bytes late), the order of the two is the protocol's: a command that is
// not complete yet goes first, and so does an answer that is not complete yet (the other line
// spoke after it ended); an answer goes before the controller's next command when that command
// came before the answer's time was up (the controller had the answer then). A byte is taken only
// once the other line can no longer bring one within SKEW_US of it: when it has delivered a later
// one, or HOLD_US after. No peripheral answers a command before it has ended, and no controller
// acknowledges an answer before its checksum (or its mode bit) has ended it: such a byte waits
// for the other line until the quiet that ends the command or answer unfinished has passed,
// however late its line delivers.
// one, or HOLD_US after. Quiet on a line counts only where the reader looked at it: a byte read
// after the reader was held up may have come any time since it last looked.

#include "HeardExchange.h"
#include "LinkTypes.h"
#include "MarkedInput.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

namespace norvex::link {

class BusListener {
public:
    enum class Line : std::uint8_t { Controller = 0, Peripheral = 1 };

    // Bytes of the two lines this close are put in the protocol's order (two adapters disagree
    // by up to about 2 ms; a loaded system delivers one line's bytes a few ms late).
    static constexpr std::int64_t ORDER_WINDOW_US = 4000;
    // The next byte of an answer follows within a character and the 1 ms a peripheral may pause.
    static constexpr std::int64_t NEXT_BYTE_US = MDB_CHAR_US + 1100;
    // How far ahead of a byte the other line must be known before the byte is taken.
    static constexpr std::int64_t SKEW_US = ORDER_WINDOW_US + 1000;
    // How long after a read both lines are taken to have delivered everything before it.
    static constexpr std::int64_t HOLD_US = 12000;
    // Quiet on the controller's line that ends a command of unknown length (a controller sends
    // the bytes of a command at most 1 ms apart).
    static constexpr std::int64_t COMMAND_GAP_US = 5000;
    // Quiet on the peripherals' line that ends an answer while the controller says nothing.
    static constexpr std::int64_t ANSWER_GAP_US = 6000;
    // Quiet that ends a command short of its length, or an answer short of its checksum (or of
    // its mode bit): a loaded system delivers a line's bytes several ms late now and then.
    static constexpr std::int64_t UNFINISHED_GAP_US = 20000;
    // How long a command waits for an answer, and a data answer for the controller's reply,
    // before the exchange is given up (the next command ends either wait at once).
    static constexpr std::int64_t ANSWER_WAIT_US = 50000;
    static constexpr std::int64_t REPLY_WAIT_US = 200000;
    // A lone 00 from the controller followed by this much quiet on both lines: the controller held
    // its line low (a break reads as one 00): the bus reset.
    static constexpr std::int64_t RESET_QUIET_US = 100000;
    // A burst of the peripherals' bytes longer than this (noise) is cut into pieces.
    static constexpr std::size_t LONGEST_UNIT = 512;
    // POLLs of known devices on the peripherals' line before the lines are taken to be swapped,
    // unless the controller's line carried half as many.
    static constexpr int SWAPPED_AFTER = 8;
    // Marks that contradict the checksums this often are not used again.
    static constexpr int CONTRADICTIONS = 3;
    // A byte may have reached the driver this long before a read found it.
    static constexpr std::int64_t READ_LATENCY_US = 1000;

    // wallOffsetUs: wall clock minus monotonic clock, for the exchanges' wall times.
    explicit BusListener(std::int64_t wallOffsetUs = 0) : wallOffsetUs_(wallOffsetUs) {}

    // Bytes of one read of a line, in order, read at readUs (monotonic µs).
    void received(Line line, const LineByte* bytes, std::size_t n, std::int64_t readUs);
    // Both lines have been read up to nowUs: takes everything that can be taken now.
    void advance(std::int64_t nowUs);
    // Listening ends at nowUs: everything still open is finished.
    void finish(std::int64_t nowUs);
    // Appends the exchanges finished since the last call, in the order they began (each as soon
    // as no earlier one can still finish); returns how many.
    std::size_t take(std::vector<HeardExchange>& out);
    // When advance() next has something to do, if anything waits (monotonic µs).
    std::optional<std::int64_t> deadline() const;

    Framing framing(Line line) const { return side(line).framing; }
    std::uint64_t heard() const { return number_; }
    // The peripherals' line carries POLLs and the controller's does not: the two devices are
    // probably given the wrong way round.
    bool linesLookSwapped() const {
        const int c = side(Line::Controller).polls, p = side(Line::Peripheral).polls;
        return p >= SWAPPED_AFTER && p > 2 * c;
    }

private:
    static constexpr std::int64_t NEVER = std::numeric_limits<std::int64_t>::max() / 4;
    static constexpr std::int64_t LONG_AGO = -NEVER;

    struct Stamped {
        std::int64_t us = 0;
        // The earliest it may have arrived: the reader had last looked then (a reader held up
        // reads late, and gaps in the read times are not gaps on the line).
        std::int64_t notBeforeUs = 0;
        std::uint8_t value = 0;
        bool marked = false;
    };
    struct Side {
        std::deque<Stamped> queue;
        std::int64_t lastUs = LONG_AGO; // the newest stamp given
        bool marksSeen = false;
        int agreed = 0;
        int contradicted = 0;
        Framing framing = Framing::QuietLine;
        std::uint8_t previous = 0;
        int polls = 0; // POLLs of known devices the line carried
    };
    enum class Stage : std::uint8_t { AwaitAnswer, Answering, AwaitReply, AwaitRetransmission };

    Side& side(Line line) { return side_[static_cast<std::size_t>(line)]; }
    const Side& side(Line line) const { return side_[static_cast<std::size_t>(line)]; }
    bool peripheralFirst(const Stamped& c, const Stamped& p) const;
    // The peripherals' bytes in hand make a whole answer: a bare ACK or NAK, or a checksum.
    bool unitComplete() const;
    // How long the quiet after the command or answer in hand must last to end it.
    std::int64_t commandGap() const;
    std::int64_t unitGap() const;

    void sweep(std::int64_t horizon);
    // The earliest open wait that can run out: one whose line may have had a byte before its
    // end (a byte read after the reader was held up) waits for that byte.
    std::int64_t nextTimer() const;
    bool quietUntil(Line line, std::int64_t at) const;
    void fireTimers(std::int64_t at);
    void controllerByte(const Stamped& s);
    void peripheralByte(const Stamped& s);
    void startCommand(const Stamped& s);
    void appendCommand(const Stamped& s);
    void checkCommandEnd();
    bool commandEndsOnAnswer() const;
    // Ends the command in hand; false when it failed and was taken apart (its first byte a
    // stray byte, the rest back on the controller's line to be framed again).
    bool closeCommand();
    // The next byte on the controller's line must wait for the answer in hand to end, or one on
    // the peripherals' line for the command in hand to end: until when at the latest.
    std::int64_t controllerHeldUntil() const;
    // A byte taken too early goes back to its line, after the bytes put back before it.
    void putBack(Line line, const Stamped& s);
    std::int64_t peripheralHeldUntil() const;
    void openUnit(const Stamped& s);
    void closeUnit();
    void takeReply(const Stamped& s);
    void endZeroWatch(bool reset);
    void finalize();
    void release(HeardExchange h);
    void publish(HeardExchange& h);
    // Exchanges that began up to then can be let go: nothing that began earlier can still finish.
    std::int64_t releasedUntil() const;
    void evidence(Line line, bool agrees, bool contradicts);

    std::array<Side, 2> side_;
    std::int64_t wallOffsetUs_;
    std::int64_t sweptUs_ = LONG_AGO; // the time the sweep has reached
    std::int64_t awakeUs_ = LONG_AGO; // when the caller last said both lines were read

    // The exchange being heard.
    HeardExchange ex_;
    bool exOpen_ = false;
    Stage stage_ = Stage::AwaitAnswer;
    bool commandOpen_ = false;      // its command is still coming in
    bool commandPending_ = false;   // ... and its checksum holds at a length it may have
    bool commandMarksAgree_ = true; // ... and its marks are those of a command
    std::array<Stamped, HEARD_COMMAND_BYTES> commandBytes_{}; // ... as they came
    std::size_t putBackAt_ = 0;    // bytes of the command taken apart last put back
    std::uint8_t lastAddress_ = 0; // of the last whole command: strays follow its exchange

    // The peripherals' bytes being gathered: an answer, or bytes that answer nothing.
    bool unitOpen_ = false;
    bool unitIsAnswer_ = false;
    std::uint32_t unitCount_ = 0;
    std::array<std::uint8_t, EXCHANGE_BYTES> unitBytes_{};
    std::int64_t unitFirstUs_ = 0, unitLastUs_ = 0;
    bool unitLastMarked_ = false, unitEarlierMarked_ = true;

    // A lone 00 from the controller that answers nothing: a bus reset if both lines stay quiet.
    bool zeroWatch_ = false;
    Stamped zero_;

    // Per address (its top five bits): the last data answer not acknowledged in time.
    std::array<std::vector<std::uint8_t>, 32> unacked_;

    std::vector<HeardExchange> deferred_; // finished while an earlier exchange is still open
    std::vector<HeardExchange> ready_;    // finished; let go in the order they began
    std::uint64_t number_ = 0;
    bool finished_ = false;
};

} // namespace norvex::link
