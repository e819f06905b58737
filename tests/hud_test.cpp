// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <tuple>

#include "font.h"
#include "tt.h"

namespace {

int active_texts(const tt_state& tt) {
    int n = 0;
    for (const timedText& slot : tt.tt1) {
        n += slot.active;
    }
    return n;
}

TEST(FloatingTexts, PoolFillsLowestFirstRefusesANinthAndAgesLinearly) {
    tt_state tt;
    tt.timedVectorTextAt2d3f("0", 12.5, 14.0, 1, 1, 0, 2.2, 2.75, 0.5);
    for (int i = 1; i < 8; ++i) {
        EXPECT_EQ(tt.announce(std::to_string(i), 0.5 + i), i);
    }
    EXPECT_EQ(tt.timedVectorTextAt1d3f("ninth", 0.0, 1, 1, 1, 1, 1, 1), -1);
    EXPECT_TRUE(std::ranges::none_of(tt.tt1, [](const timedText& t) { return t.text == "ninth"; }));
    // Half-way through its life: half-way between its scales, half transparent.
    tt.countTimedTexts(0.25);
    EXPECT_DOUBLE_EQ(tt.tt1[0].scaler(), 2.475);
    EXPECT_FLOAT_EQ(tt.tt1[0].alpha(), 0.5f);
    EXPECT_EQ(active_texts(tt), 8);
    tt.countTimedTexts(0.25);
    EXPECT_EQ(active_texts(tt), 7);
    // At 2.6 s the texts of 0.5, 1.5 and 2.5 s are free; the lowest slot is taken, centred
    // again, and an overlong text is cut.
    tt.countTimedTexts(2.1);
    EXPECT_EQ(active_texts(tt), 5);
    EXPECT_EQ(tt.timedVectorTextAt1d3f(std::string(300, 'a'), 0.0, 1, 1, 1, 1, 1, 1), 0);
    EXPECT_EQ(tt.tt1[0].text.size(), 255u);
    EXPECT_EQ(tt.tt1[0].rt, 0.0);
    EXPECT_EQ(tt.tt1[0].x, centred_x);
}

// The score rests with its right edge on x = 30 and every tenth of a second leaves a copy there
// that swells as it fades; a changed score starts a larger copy. Where the score shivers to is
// pinned by the recorded frames.
TEST(Score, LeavesCopiesAtItsRestingPlace) {
    tt_state tt;
    const double resting_x = tt.score_at(120).x;
    tt.follow_score(120);
    for (int i = 0; i < 7; ++i) {
        tt.moveScore(0.02);  // the seventh passes 0.1 s, added up before the test
    }
    ASSERT_EQ(active_texts(tt), 2);
    EXPECT_EQ(std::tuple(tt.tt1[0].text, tt.tt1[0].scale2, tt.tt1[0].secs),
              std::tuple("120", 5.5, 1.0));
    const timedText& copy = tt.tt1[1];
    EXPECT_EQ(std::tuple(copy.text, copy.scale2, copy.secs), std::tuple("120", 2.75, 0.25));
    EXPECT_EQ(copy.x, resting_x);
    EXPECT_DOUBLE_EQ(copy.x + pixlen("120") * score_scale / 2, 30.0);

    // The same score starts nothing; with every slot busy a new score's copy is dropped.
    tt.follow_score(120);
    EXPECT_EQ(active_texts(tt), 2);
    while (tt.announce("x", 5.0) >= 0) {
    }
    tt.follow_score(140);
    EXPECT_EQ(tt.old_score, 140u);
}

TEST(IntroAnimation, BobsTumblesSwaysAndWrapsItsPhase) {
    intro_animation intro;
    intro.localtime = std::numbers::pi / 4;
    intro.menu_animation_step(0.0);  // a letter picked for the tumble
    ASSERT_TRUE(intro.rotation_index >= 0 && intro.rotation_index < game_name_length);
    EXPECT_DOUBLE_EQ(intro.latin_angle, 10.0);
    EXPECT_DOUBLE_EQ(intro.latin_angle2, 45.0 * std::sqrt(0.5));

    // A step across 4.0 still moves the even letters up by the whole step; the next one down.
    intro.totaltime = 3.99;
    intro.menu_animation_step(0.02);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[0], 0.01);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[1], -0.01);
    intro.menu_animation_step(0.02);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[0], 0.0);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[1], 0.0);

    // 7.99 + 0.02 passes 8 and starts the phase again from 0, the excess dropped.
    intro.totaltime = 7.99;
    intro.menu_animation_step(0.02);
    EXPECT_EQ(intro.totaltime, 0.0);

    // The tumbling letter rests on 360 and only past it wraps to 0 and frees its turn.
    const int letter = intro.rotation_index;
    intro.game_name_letter_rotation[letter] = 270.0;
    intro.menu_animation_step(0.5);
    EXPECT_EQ(intro.game_name_letter_rotation[letter], 360.0);
    intro.menu_animation_step(0.01);
    EXPECT_EQ(intro.game_name_letter_rotation[letter], 0.0);
    EXPECT_EQ(intro.rotation_index, -1);
}

}  // namespace
