#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include "font.h"
#include "random.h"
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

TEST(FrameRate, MeanOverTheLastTwelveFrames) {
    tt_state tt;
    tt.countFps(0.1);
    EXPECT_DOUBLE_EQ(tt.getFps(), 120.0);  // missing frames count as 0 s
    for (int i = 0; i < 23; ++i) {
        tt.countFps(0.02);  // the 0.1 s frame leaves the ring after twelve
    }
    EXPECT_NEAR(tt.getFps(), 50.0, 1e-9);
    tt.countFps(0.26);
    EXPECT_NEAR(tt.getFps(), 12.0 / (11 * 0.02 + 0.26), 1e-9);
}

// The quarter-disc point that the shiver will draw next from seed_random(seed).
void next_shiver_point(std::uint32_t seed, double& dx, double& dy) {
    seed_random(seed);
    do {
        dx = next_random() / 32767.0;
        dy = next_random() / 32767.0;
    } while (dx * dx + dy * dy > 1.0);
    seed_random(seed);
}

// Every tenth of a second the score jumps from its resting place (right edge on x = 30) and
// leaves a copy that swells as it fades; a changed score starts a larger copy.
TEST(Score, ShiversFromItsRestingPlaceAndLeavesCopies) {
    tt_state tt;
    const score_view view = tt.score_at(120);
    tt.follow_score(120);
    for (int i = 0; i < 6; ++i) {
        tt.moveScore(0.02);  // 0.12 s, added up before the test
    }
    ASSERT_EQ(active_texts(tt), 1);
    EXPECT_EQ(tt.tt1[0].text, "120");
    EXPECT_EQ(std::pair(tt.tt1[0].scale2, tt.tt1[0].secs), std::pair(5.5, 1.0));
    double dx = 0.0, dy = 0.0;
    next_shiver_point(77, dx, dy);
    tt.moveScore(0.02);
    EXPECT_EQ(tt.stime, 0.0);
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.02 + 30.0);
    EXPECT_EQ(tt.score_y, dy / 350.0 / 0.02 + 14.0);
    const timedText& copy = tt.tt1[1];
    EXPECT_EQ(copy.text, "120");
    EXPECT_EQ(copy.x, view.x);
    EXPECT_DOUBLE_EQ(copy.x + pixlen("120") * score_scale / 2, 30.0);
    EXPECT_EQ(std::pair(copy.scale2, copy.secs), std::pair(2.75, 0.25));

    // Frames faster than 0.005 s jump no further; jumps never add up.
    tt.stime = 0.2;
    next_shiver_point(5, dx, dy);
    tt.moveScore(0.001);
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.005 + 30.0);

    // The same score starts nothing; with every slot busy a new score's copy is dropped.
    tt.follow_score(120);
    EXPECT_EQ(active_texts(tt), 3);
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
