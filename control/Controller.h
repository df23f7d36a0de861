// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller's logic: request senders and the command history, the poll scheduler and the
// interpretation of the standard answers into the validator state. Toolkit-free; it reaches
// the screen only through View and PaintSurface.

#include "EscrowOption.h"
#include "HistoryList.h"
#include "PaintSurface.h"
#include "View.h"
#include "link/ComLink.h"
#include "link/LinkData.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace norvex::control {

struct ValidatorState {
    std::uint8_t featureLevel = 0;
    std::uint16_t countryCode = 0;
    std::uint16_t scalingFactor = 0;
    std::uint8_t decimalPlaces = 0;
    std::uint16_t stackerCapacity = 0;
    std::array<std::uint16_t, 16> billCredit{};
    std::array<std::uint8_t, 16> billEnabled{};
    std::array<std::uint8_t, 16> escrowEnabled{};
    std::uint32_t billMask = 0;
    std::array<std::int32_t, 16> billCount{};
    std::uint16_t stackerStatus = 0;
    std::uint16_t lastCredit = 0;
    std::array<char, 8> programRevision{}; // all zero until the first identification answer
    std::array<char, 3> manufacturer{};
};

// Optional listener for what happens, used by the headless batch mode.
class ControllerObserver {
public:
    virtual ~ControllerObserver() = default;
    virtual void eventAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) = 0;
    virtual void commandAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) = 0;
    virtual void setupReceived() = 0;
    virtual void identificationReceived() = 0;
};

class Controller {
public:
    Controller(link::LinkData& data, View& view);

    // --- state -----------------------------------------------------------------------------
    ValidatorState& validator() { return v_; }
    const ValidatorState& validator() const { return v_; }
    HistoryList& events() { return events_; }
    HistoryList& commands() { return commands_; }
    link::LinkData& link() { return data_; }

    Page currentPage() const { return currentPage_; }
    void setCurrentPage(Page page) { currentPage_ = page; }
    EscrowOption escrowOption() const { return escrowOption_; }
    void setEscrowOption(EscrowOption option) { escrowOption_ = option; }
    bool escrowPromptOpen() const { return escrowPromptOpen_; }

    bool started() const { return started_; }
    bool portOpen() const { return portOpen_; }
    unsigned pollPeriodMs() const { return pollPeriodMs_; }
    std::uint32_t runClockMs() const { return runClockMs_; }
    void setRunClockMs(std::uint32_t ms) { runClockMs_ = ms; }
    std::uint32_t startupCountdown() const { return startupCountdown_; }
    std::uint32_t logCountdown() const { return logCountdown_; }
    bool reconnectAllowed() const { return reconnectAllowed_; }
    void setObserver(ControllerObserver* o) { observer_ = o; }

    // --- start-up (called once by the main window's initialisation) ---------------------------
    void initBillList();   // start texts, empty boxes
    void initHistories();  // both histories empty
    void showLastCredit(); // credit digits from lastCredit

    // --- START, the tick, the poll period, RE-CONNECT, shut-down -----------------------------
    // Opens the port (mark parity, 9600), starts the worker once, raises RESET, sets the page
    // frame caption, starts the timer, disables START and the port selector. "No Connection"
    // when the port does not open; when the worker cannot start, its reason under "COM Error!"
    // and the port is closed again. Returns true when started.
    bool start(link::ComLink& comLink, link::LinkNotifier& owner);
    // The part of START after the port is open and the worker runs: RESET requested, caption,
    // timer, START and the port selector disabled, RE-CONNECT enabled, started.
    void beginRunning();
    void tick();
    void setPollPeriod(unsigned ms); // 0 is ignored
    void reconnect();                // startupCountdown = 25
    void startLogSequence();         // logCountdown = 25, while started
    // The main window is going away (EXIT, the close box, a signal): stop the timer, settle the
    // escrow (a bill held with the prompt open is returned, as the prompt's close box does; an
    // ESCROW frame already asked for goes out), wait briefly for the validator's acknowledge,
    // close the port. `handlePending` hands over a completion the worker is waiting to deliver
    // (an escrowed bill may be in it); without it the worker's waits are cancelled instead.
    void shutdown(link::ComLink& comLink, const std::function<void()>& handlePending = {});
    // The firmware download takes the port: stop the timer, settle the escrow as shutdown does
    // (the loader will not), started = 0, close the port.
    void stopForDownload(link::ComLink& comLink, const std::function<void()>& handlePending = {});
    // The link worker stopped on a fault (an adapter pulled): the timer stops, the escrow prompt
    // closes (nothing can reach the validator now), the port is closed, every request is
    // dropped, and START and the port selector are usable again; the next START runs the
    // start-up sequence afresh.
    void linkLost(link::ComLink& comLink);

    // --- request raising ----------------------------------------------------------------------
    // Sets the kind to requested while started; does nothing otherwise.
    void request(link::RequestKind kind);
    // Sets the kind to requested whatever `started` says (the escrow prompt's answers).
    void forceRequest(link::RequestKind kind);
    void statusRequest(); // "STATUS request": REQ_POLL state 1 while started
    void enableAllBillTypes(bool on);
    void enableAllBillsEscrow(bool on);
    void setBillEnabled(int type, bool on);
    void setEscrowEnabled(int type, bool on);
    void escrowAnswered(bool accept); // ACCEPT / REJECT (also Escape and close box)

    // --- interpretation -----------------------------------------------------------------------
    // Handles the four standard completion codes (POLL, SETUP, IDENT, STACKER): decodes and sets
    // the kind's request back to idle. Returns false for any other code.
    bool interpretStandard(std::uint8_t code);
    void interpretSetup();
    void interpretIdentification();
    void interpretPoll();
    void interpretStacker();
    // One status byte into the event history, with its bill count, last credit and escrow
    // decision; FF (the validator's NAK) is shown as such and counts no bill.
    void appendEvent(std::uint8_t b);

    // --- operator actions on the bill list and the RESET command -----------------------------
    void onBillListClick();
    void onBillListRightClick();
    // RESET command (while started): start texts, mask and properties cleared, every request
    // left over (the awaited ones included) given up, then RESET requested.
    void resetValidatorView();

    // --- listening to a machine's bus (another controller drives it) -------------------------
    // While listening, a bill in escrow is the machine controller's to decide: no prompt, no
    // escrow request.
    void setListening(bool listening) {
        listening_ = listening;
        setupHeard_ = false;
    }
    bool listening() const { return listening_; }
    // A command the machine's controller sent to the validator, into the command history
    // (history code 0x30..0x38).
    void commandHeard(std::uint8_t historyCode) { addCommand(historyCode); }

    // --- drawing of the "Command - Status" page -----------------------------------------------
    void drawEventHistory(PaintSurface& surface) const;
    void drawCommandHistory(PaintSurface& surface) const;

    // Texts (exposed for tests and the batch mode).
    static std::string eventText(std::uint8_t b, std::uint16_t credit);
    // What an accepted-bill byte (1rrr tttt) says about the bill's way, without its amount.
    static std::string routingText(std::uint8_t b);
    // A bill event before any SETUP said what the bill types are worth.
    static std::string eventTextValueUnknown(std::uint8_t b);
    static std::string commandText(std::uint8_t code);
    static std::string billTypeCell(int type, unsigned credit); // " Type 05  020"
    static std::string pollCaption(unsigned periodMs);          // "activity monitor - poll timer 100 ms"

private:
    void send(link::RequestKind kind);
    void closeLink(link::ComLink& comLink);
    // Sends the ESCROW frame the held bill needs and waits (briefly) for its acknowledge.
    void settleEscrow(link::ComLink& comLink, const std::function<void()>& handlePending);
    // The ESCROW frame a held bill needs now (REQ_COUNT: none); a prompt still open is answered
    // REJECT and closed.
    link::RequestKind escrowFrameDue();
    void pollStep();
    void addCommand(std::uint8_t code);
    void escrowDecision();
    void showBillRow(int type);

    link::LinkData& data_;
    View& view_;
    ControllerObserver* observer_ = nullptr;
    ValidatorState v_;
    HistoryList events_;
    HistoryList commands_;
    Page currentPage_ = Page::CommandStatus;
    EscrowOption escrowOption_ = EscrowOption::Manual;
    bool escrowPromptOpen_ = false;
    bool started_ = false;
    bool portOpen_ = false;
    bool setupSeen_ = false;
    unsigned pollPeriodMs_ = 100;
    std::uint32_t runClockMs_ = 0;
    std::uint32_t startupCountdown_ = 25;
    std::uint32_t logCountdown_ = 0;
    bool reconnectAllowed_ = false;
    bool listening_ = false;
    bool setupHeard_ = false;                      // the machine's controller read the SETUP while listening
    link::RequestKind lastSent_ = link::REQ_COUNT; // the kind whose frame was placed in the slot last
    link::LinkNotifier* owner_ = nullptr;          // receives the worker's notifications
};

} // namespace norvex::control
