// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/TrafficView.h"

#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

using norvex::Rect;
using norvex::link::TrafficBuffer;
using norvex::ui::TrafficView;
namespace colours = norvex::colours;

static TrafficBuffer sentOnly(int cells) {
    TrafficBuffer t;
    for (int i = 0; i < cells; ++i)
        t.sent[i] = static_cast<std::uint16_t>(0xA0 + i);
    return t;
}

TEST(TrafficView, PollShowsAnswerOneColumnAfterRequestAndAckAfterAnswer) {
    TrafficBuffer t; // POLL answered 03 03 and acknowledged
    t.sent[0] = t.sent[1] = 0x33;
    t.received[2] = t.received[3] = 0x03;
    t.sent[3] = 0x0000;
    TrafficView view;
    norvex::test::RecordingSurface s;
    view.drawTraffic(s, t);
    ASSERT_EQ(s.fills.size(), 2u);
    EXPECT_EQ(s.fills[1].r, (Rect{30, 214, 530, 230}));
    ASSERT_EQ(s.texts.size(), 5u); // columns 33/-, 33/03, -/03, 00/-
    for (auto [x, y, text] :
         {std::tuple{30, 198, "33"}, {50, 198, "33"}, {50, 214, "03"}, {70, 214, "03"}, {90, 198, "00"}}) {
        const auto* c = s.textAt(x, y);
        ASSERT_NE(c, nullptr) << x << "," << y;
        EXPECT_EQ(c->text, text);
        EXPECT_EQ(c->colour, y == 198 ? colours::GREEN : colours::BLACK);
        EXPECT_EQ(c->background, y == 198 ? colours::BLACK : colours::STRIPE_GREEN);
    }

    view.setTrafficStopped(true); // frozen: nothing drawn, the cursor stays
    view.appendExchange(s, t);
    view.paintTrafficPage(s, t);
    EXPECT_EQ(s.texts.size(), 5u);
    EXPECT_EQ(view.cursorX(), 110);
}

TEST(TrafficView, LinesBreakAfterTwentyFiveCellsAndTheRingWrapsAfterFive) {
    TrafficView view;
    norvex::test::RecordingSurface s;
    view.drawTraffic(s, sentOnly(26));
    EXPECT_EQ(s.textAt(30, 230)->text, "b9"); // the 26th cell, lower-case
    ASSERT_EQ(s.fills.size(), 4u);
    EXPECT_EQ(s.fills[2].r, (Rect{30, 230, 530, 246}));
    view.drawTraffic(s, sentOnly(99)); // continues at the cursor: 125 cells
    s.clear();
    view.drawTraffic(s, sentOnly(1)); // first line again, stripes repainted
    ASSERT_EQ(s.fills.size(), 2u);
    EXPECT_EQ(s.fills[0].r, (Rect{30, 198, 530, 214}));
    EXPECT_NE(s.textAt(30, 198), nullptr);

    TrafficBuffer full;
    full.sent.fill(0x11);
    full.received.fill(0x22);
    s.clear();
    view.drawTraffic(s, full);
    EXPECT_EQ(s.texts.size(), 2u * 511);
}
