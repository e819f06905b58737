// The head-up display's logic without a window: the score's shiver and copies, the intro's
// title animation.
#include <gtest/gtest.h>

#include <string>

#include "font.h"
#include "random.h"
#include "tt.h"

namespace {

// The quarter-disc point that the shiver will draw next from seed_random(seed).
void next_shiver_point(std::uint32_t seed, double& dx, double& dy) {
    seed_random(seed);
    do {
        dx = next_random() / 32767.0;
        dy = next_random() / 32767.0;
    } while (dx * dx + dy * dy > 1.0);
    seed_random(seed);
}

int active_texts(const tt_state& tt) {
    int n = 0;
    for (const timedText& slot : tt.tt1) {
        n += slot.active;
    }
    return n;
}

TEST(Score, ShiversOnceATenthHasPassedFromItsRestingPlaceLeavingACopy) {
    tt_state tt;
    tt.old_score = 120;
    for (int i = 0; i < 6; ++i) {
        tt.moveScore(0.02);  // 0.12 s, added up before the test
    }
    EXPECT_EQ(active_texts(tt), 0);
    double dx = 0.0, dy = 0.0;
    next_shiver_point(77, dx, dy);
    tt.moveScore(0.02);
    EXPECT_EQ(tt.stime, 0.0);
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.02 + 30.0);
    EXPECT_EQ(tt.score_y, dy / 350.0 / 0.02 + 14.0);
    // The copy stands where the score stood, right edge on x = 30, and swells as it fades.
    const timedText& copy = tt.tt1[0];
    EXPECT_EQ(copy.text, "120");
    EXPECT_DOUBLE_EQ(copy.x + pixlen("120") * score_scale / 2, 30.0);
    EXPECT_EQ(copy.scale2, 2.75);
    EXPECT_EQ(copy.secs, 0.25);

    // Frames faster than 0.005 s jump no further; jumps never add up.
    tt.stime = 0.2;
    next_shiver_point(5, dx, dy);
    tt.moveScore(0.001);
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.005 + 30.0);
    EXPECT_EQ(tt.score_y, dy / 350.0 / 0.005 + 14.0);
}

TEST(Score, ACopyGrowsFromEachChangedScore) {
    tt_state tt;
    score_view view = tt.showScore(0);  // the first 0 is no change
    EXPECT_EQ(active_texts(tt), 0);
    EXPECT_EQ(view.number, "0");
    EXPECT_DOUBLE_EQ(view.x + pixlen("0") * score_scale / 2, 30.0);  // right-aligned

    view = tt.showScore(130);
    tt.showScore(130);
    ASSERT_EQ(active_texts(tt), 1);
    EXPECT_EQ(tt.tt1[0].text, "130");
    EXPECT_EQ(tt.tt1[0].x, view.x);
    EXPECT_EQ(tt.tt1[0].scale2, 5.5);
    EXPECT_EQ(tt.tt1[0].secs, 1.0);

    // With every slot busy the copy is dropped, but the score counts as seen.
    for (int i = 1; i < timed_texts_count; ++i) {
        tt.timedVectorTextAt1d3f("x", 0, 1, 1, 1, 1, 1, 5.0);
    }
    tt.showScore(140);
    EXPECT_EQ(tt.old_score, 140u);
}

TEST(IntroAnimation, BobsTumblesAndWrapsItsPhase) {
    intro_animation intro;
    intro.menu_animation_step(0.0);  // from the start: still, a letter picked, no sway
    ASSERT_GE(intro.rotation_index, 0);
    ASSERT_LT(intro.rotation_index, game_name_length);
    EXPECT_EQ(intro.game_name_letter_offset[0], 0.0);
    EXPECT_EQ(intro.latin_angle2, 0.0);

    // A step across 4.0 still moves the even letters up by the whole step; the next one down.
    intro.totaltime = 3.99;
    intro.menu_animation_step(0.02);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[0], 0.01);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[1], -0.01);
    intro.menu_animation_step(0.02);
    EXPECT_DOUBLE_EQ(intro.game_name_letter_offset[0], 0.0);

    // 7.99 + 0.02 passes 8 and starts the phase again from 0, the excess dropped.
    intro.totaltime = 7.99;
    intro.menu_animation_step(0.02);
    EXPECT_EQ(intro.totaltime, 0.0);

    // The tumbling letter wraps from 359 past 360 to 0 and frees its turn.
    const int letter = intro.rotation_index;
    intro.game_name_letter_rotation[letter] = 359.0;
    intro.menu_animation_step(2.0 / 180.0);
    EXPECT_EQ(intro.game_name_letter_rotation[letter], 0.0);
    EXPECT_EQ(intro.rotation_index, -1);
}

}  // namespace
