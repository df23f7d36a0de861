// SPDX-License-Identifier: GPL-3.0-or-later
// Answers turned into the validator state, the event history and the escrow decision; bill
// list clicks, the RESET command and the drawing of both histories.

#include "ControlHarness.h"

using namespace norvex;
using namespace norvex::link;
using namespace norvex::test;

namespace {

class Interpretation : public ControlHarness {
protected:
    void SetUp() override {
        ctl.beginRunning();
        answerSetup({20, 50, 100, 0, 0, 5, 25, 0, 0, 0, 0, 0, 0, 0, 0, 10});
    }
    std::vector<int> digits() const {
        return {view.digits[0], view.digits[1], view.digits[2], view.digits[3]};
    }
    const control::HistoryList& events() { return ctl.events(); }
};

} // namespace

TEST_F(Interpretation, SetupAndIdentificationFillTheProperties) {
    EXPECT_EQ(view.fields[ids::COUNTRY_CODE], "1234");
    EXPECT_EQ(view.cells[1][0], " Type 01  050");
    EXPECT_EQ(view.cells[1][3], "000");
    EXPECT_EQ(view.cells[3][0], ""); // no credit: the row keeps its texts
    ctl.enableAllBillTypes(true);    // ... and is skipped
    EXPECT_EQ(ctl.validator().billMask, 0x80670000u);
    answer(REQ_DEVICE_ID, RESP_IDENT,
           {'V', 1, 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '1', '.', '0', 0xFF, 0});
    EXPECT_EQ(view.fields[ids::MANUFACTURER], "V?T"); // no raw bytes on the screen
    EXPECT_EQ(view.fields[ids::PROGRAM_REVISION], "1.0?");
}

TEST_F(Interpretation, StatusBytesEndAtTheChecksumAndScroll) {
    answerPoll({0x00});
    EXPECT_EQ(events().size(), 0);
    EXPECT_TRUE(view.invalidations.empty());
    answerPoll({0x06, 0x06});
    EXPECT_EQ(events().texts[0], "validator reset");
    EXPECT_TRUE(view.invalidated(areas::EVENT_HISTORY));
    for (std::uint8_t b : {0x0B, 0x0C, 0x45, 0x0D, 0x06, 0x06, 0x06, 0x06})
        answerPoll({b, b});
    EXPECT_EQ(events().texts[0], "bill rejected");
    EXPECT_EQ(events().texts[1], "possible credited bill removal");
    EXPECT_EQ(events().texts[2], "disabled bill attempts: 5");
    EXPECT_EQ(events().texts[3], "unknown status");
    EXPECT_EQ(data.state(REQ_VIDEO), RequestState::Idle); // 0B fetches the video test on its page only
    ctl.setCurrentPage(Page::VideoTest);
    answerPoll({0x0B, 0x0B});
    EXPECT_EQ(data.state(REQ_VIDEO), RequestState::Requested);
}

TEST_F(Interpretation, EveryByteBeforeTheChecksumIsAnEventWhateverTheSumsSoFar) {
    ctl.setEscrowOption(control::EscrowOption::AutoStack);
    answerPoll({0x80, 0x80, 0x00}); // two bills of type 0, though the second equals the first
    answerPoll({0x03, 0x03, 0x06});
    answerPoll({0x80, 0x00, 0x80}); // a 00 is no status and ends nothing
    ASSERT_EQ(events().size(), 5);
    EXPECT_EQ(events().codes[0], 0x80);
    EXPECT_EQ(events().codes[1], 0x80);
    EXPECT_EQ(events().codes[2], 0x03);
    EXPECT_EQ(events().codes[3], 0x03);
    EXPECT_EQ(events().codes[4], 0x80);
    EXPECT_EQ(ctl.validator().billCount[0], 3);
}

// The texts as the validator's status and routing codes are named for the operator, typed here
// from that list and not taken from the program's own table.
TEST_F(Interpretation, StatusAndRoutingTextsAreTheOnesListedForTheOperator) {
    auto lastEvent = [&] {
        const int at = events().full ? control::HistoryList::SIZE - 1 : events().position - 1;
        return std::make_pair(events().codes[static_cast<std::size_t>(at)],
                              events().texts[static_cast<std::size_t>(at)]);
    };
    const std::pair<std::uint8_t, const char*> status[] = {
        {0x01, "defective motor"}, {0x02, "sensor problem"},     {0x03, "validator busy"},
        {0x04, "checksum error"},  {0x05, "validator jammed"},   {0x06, "validator reset"},
        {0x07, "bill removed"},    {0x08, "cass. disconnected"}, {0x09, "validator disabled"},
        {0x0A, "inv. escr. req."}, {0x0B, "bill rejected"},
    };
    for (const auto& [code, text] : status) {
        answerPoll({code, code});
        EXPECT_EQ(lastEvent(), std::make_pair(code, std::string(text))) << std::hex << int(code);
        EXPECT_EQ(ctl.validator().lastCredit, 0);
    }
    // Accepted-bill bytes 1rrr tttt: the routing's text, a blank and the type's credit (type 6: 25).
    const char* const routing[] = {"bill stacked :", "bill escrowed :", "bill returned", "bill not used",
                                   "dis. bill rejected"};
    ctl.setEscrowOption(control::EscrowOption::AutoReturn);
    for (int r = 0; r < 5; ++r) {
        const auto b = static_cast<std::uint8_t>(0x80 | r << 4 | 6);
        answerPoll({b, b});
        EXPECT_EQ(lastEvent(), std::make_pair(b, std::string(routing[r]) + " 25.00")) << "routing " << r;
        EXPECT_EQ(ctl.validator().lastCredit, 25);
    }
}

TEST_F(Interpretation, EscrowedBillUnderEachOption) {
    answerPoll({0x90, 0x03, 0x93});
    ASSERT_EQ(events().size(), 2);
    EXPECT_EQ(events().texts[0], "bill escrowed : 20.00");
    EXPECT_EQ(events().texts[1], "validator busy");
    answerPoll({0x90, 0x90}); // prompt open: brought to the front only
    EXPECT_EQ(view.opened[Modeless::EscrowPrompt], 1);
    EXPECT_EQ(view.activated[Modeless::EscrowPrompt], 1);
    ctl.escrowAnswered(true);
    EXPECT_EQ(data.state(REQ_ESCROW_STACK), RequestState::Requested);
    answerPoll({0xB5, 0xB5}); // routing 3 takes the decision too
    EXPECT_EQ(events().texts[3], "bill not used 5.00");
    EXPECT_EQ(view.opened[Modeless::EscrowPrompt], 2);

    data.setState(REQ_ESCROW_STACK, RequestState::Idle);
    ctl.setEscrowOption(control::EscrowOption::AutoReturn);
    answerPoll({0x90, 0x90});
    EXPECT_EQ(data.state(REQ_ESCROW_RETURN), RequestState::Requested);
    ctl.setEscrowOption(control::EscrowOption::AutoStack);
    answerPoll({0x90, 0x90});
    EXPECT_EQ(data.state(REQ_ESCROW_STACK), RequestState::Requested);
    EXPECT_EQ(view.opened[Modeless::EscrowPrompt], 2);
}

TEST(EscrowOptions, KeepTheDialogsOrderAndAnyOtherIndexIsManual) {
    using control::EscrowOption;
    EXPECT_EQ(control::escrowOptionAt(0), EscrowOption::Manual);
    EXPECT_EQ(control::escrowOptionAt(1), EscrowOption::AutoReturn);
    EXPECT_EQ(control::escrowOptionAt(2), EscrowOption::AutoStack);
    for (int index = 0; index < control::ESCROW_OPTION_COUNT; ++index)
        EXPECT_EQ(control::escrowOptionIndex(control::escrowOptionAt(index)), index);
    for (int index : {-1, 3, 255})
        EXPECT_EQ(control::escrowOptionAt(index), EscrowOption::Manual) << index;
}

TEST_F(Interpretation, NakIsARefusedFrameNotABill) {
    answerPoll({0x81, 0x81});
    answerPoll({0xFF});
    answerPoll({0x03, 0xFF, 0x02});
    EXPECT_EQ(events().texts[1], "NAK (frame refused)");
    EXPECT_EQ(events().texts[3], "NAK (frame refused)");
    EXPECT_EQ(ctl.validator().billCount[15], 0);
    answerPoll({0x81, 0x81});
    answerPoll({0xFF});
    EXPECT_EQ(digits(), (std::vector<int>{0, 0, 5, 0}));
    EXPECT_EQ(view.opened[Modeless::EscrowPrompt], 0);
}

TEST_F(Interpretation, CreditDigitsAndCountsFollowTheEvents) {
    answerPoll({0x86, 0x86});
    EXPECT_EQ(digits(), (std::vector<int>{0, 0, 2, 5}));
    answerPoll({0x82, 0x82});
    EXPECT_EQ(digits(), (std::vector<int>{0, 1, 0, 0}));
    answerPoll({0x03, 0x03});
    EXPECT_EQ(digits(), (std::vector<int>{0, 0, 0, 0}));
    answerPoll({0x82, 0x82});
    EXPECT_EQ(view.cells[2][3], "002");
    answerSetup({20, 50, 100}); // the count restarts with the "000" shown
    answerPoll({0x82, 0x82});
    EXPECT_EQ(view.cells[2][3], "001");
}

TEST_F(Interpretation, ClicksToggleTypeAndEscrow) {
    view.selectedRow = 1;
    ctl.onBillListRightClick();
    EXPECT_EQ(view.lastMessage()->text, "Selected Bill Not Enabled");
    ctl.onBillListClick();
    ctl.onBillListRightClick();
    EXPECT_EQ(ctl.validator().billMask, 0x00020002u);
    EXPECT_EQ(data.state(REQ_TYPE_ESCR), RequestState::Requested);
    ctl.onBillListClick();
    EXPECT_FALSE(view.boxes[1]);
    EXPECT_EQ(ctl.validator().billMask, 0x00000002u);
}

TEST_F(ControlHarness, ClicksBeforeStartOnlyShowMessages) {
    view.selectedRow = 0;
    ctl.onBillListClick();
    ctl.onBillListRightClick();
    ctl.resetValidatorView();
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[0].text, "No connection");
    EXPECT_EQ(view.messages[1].text, "Selected Bill Not Enabled");
    EXPECT_EQ(data.state(REQ_RESET), RequestState::Idle);
}

TEST_F(Interpretation, ResetClearsTheViewButKeepsCountsHistoriesAndCredit) {
    ctl.enableAllBillTypes(true);
    answerPoll({0x86, 0x86});
    data.reception().record(REQ_POLL).count = 3;
    ctl.resetValidatorView();
    EXPECT_EQ(view.fields[ids::COUNTRY_CODE], "0");
    EXPECT_EQ(view.cells[6][0], " Type 06  ___");
    EXPECT_FALSE(view.boxes[6]);
    EXPECT_EQ(view.cells[6][3], "001"); // counts, credit and histories stay
    EXPECT_EQ(digits(), (std::vector<int>{0, 0, 2, 5}));
    EXPECT_EQ(events().size(), 1);
    EXPECT_EQ(data.reception().record(REQ_POLL).count, 0u);
    EXPECT_EQ(data.state(REQ_RESET), RequestState::Requested);
}

TEST_F(Interpretation, HistoriesAreDrawnInTheirFrames) {
    answerPoll({0x86, 0x03, 0x89});
    RecordingSurface s;
    ctl.drawEventHistory(s);
    EXPECT_EQ(s.fills.at(0).r, areas::EVENT_HISTORY);
    EXPECT_EQ(s.textAt(290, 228)->text, "(86h)");
    EXPECT_EQ(s.textAt(330, 243)->text, "validator busy");
    EXPECT_EQ(s.textAt(330, 243)->colour, colours::GREEN);
    EXPECT_EQ(s.texts.size(), 5u); // stops at the first empty slot
    EXPECT_TRUE(s.hasLine(276, 224, 502, 224) && s.hasLine(502, 204, 502, 356));
    ctl.drawCommandHistory(s);
    EXPECT_TRUE(s.hasText("CONTROLLER - COMMAND") && s.hasLine(48, 204, 48, 356) &&
                s.hasLine(48, 356, 266, 356));
}
