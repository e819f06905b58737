// The head-up display's logic without a window: the score's shiver and copies, the intro's
// title animation, the game's states by name and what the end-of-game screen is handed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "font.h"
#include "game.h"
#include "random.h"
#include "tt.h"

namespace {

// The quarter-disc point that the shiver draws after seed_random(seed).
void shiver_point(std::uint32_t seed, double& dx, double& dy) {
    seed_random(seed);
    do {
        dx = next_random() / 32767.0;
        dy = next_random() / 32767.0;
    } while (dx * dx + dy * dy > 1.0);
    seed_random(seed);
}

const timedText* only_active(const tt_state& tt) {
    const timedText* found = nullptr;
    for (const timedText& slot : tt.tt1) {
        if (slot.active != 0) {
            if (found != nullptr) {
                return nullptr;
            }
            found = &slot;
        }
    }
    return found;
}

TEST(ScoreShiver, JumpsOnceATenthHasPassedLeavingACopyBehind) {
    tt_state tt;
    tt.old_score = 120;
    const float colour[] = {1.0f, 0.5f, 0.0f};
    tt.setScoreColor(colour);
    for (int i = 0; i < 5; ++i) {
        tt.moveScore(0.02);  // 0.1 s, not yet past it
    }
    EXPECT_EQ(only_active(tt), nullptr);
    EXPECT_EQ(tt.score_x, score_base_x);

    tt.moveScore(0.02);  // 0.12 s: moves on the next call
    double dx = 0.0, dy = 0.0;
    shiver_point(77, dx, dy);
    tt.moveScore(0.02);
    EXPECT_EQ(tt.stime, 0.0);  // the moving call adds no time
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.02 + 30.0);
    EXPECT_EQ(tt.score_y, dy / 350.0 / 0.02 + 14.0);

    // The copy stands where the score stood, right edge on x = 30, and swells as it fades.
    const timedText* copy = only_active(tt);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text, "120");
    EXPECT_DOUBLE_EQ(copy->x + pixlen("120") * score_scale / 2, score_base_x);
    EXPECT_EQ(copy->y, score_base_y);
    EXPECT_EQ(copy->scale1, 2.2);
    EXPECT_EQ(copy->scale2, 2.75);
    EXPECT_EQ(copy->secs, 0.25);
    EXPECT_EQ(copy->r, 1.0f);
    EXPECT_EQ(copy->g, 0.5f);
}

TEST(ScoreShiver, FastFramesUseTheFloorAndJumpsNeverAddUp) {
    tt_state tt;
    tt.stime = 0.2;
    double dx = 0.0, dy = 0.0;
    shiver_point(5, dx, dy);
    tt.moveScore(0.001);
    EXPECT_EQ(tt.score_x, dx / 350.0 / 0.005 + 30.0);
    EXPECT_EQ(tt.score_y, dy / 350.0 / 0.005 + 14.0);

    // Many jumps at 60 frames a second stay inside the quarter square they are drawn from.
    tt = tt_state{};
    seed_random(9);
    for (int i = 0; i < 600; ++i) {
        tt.moveScore(1.0 / 60);
        tt.countTimedTexts(1.0 / 60);
        ASSERT_GE(tt.score_x, 30.0);
        ASSERT_LE(tt.score_x, 30.0 + 60.0 / 350.0);
        ASSERT_GE(tt.score_y, 14.0);
        ASSERT_LE(tt.score_y, 14.0 + 60.0 / 350.0);
    }
}

TEST(ScoreCopies, AChangedScoreThrowsOffOneGrowingCopy) {
    tt_state tt;
    score_view view = tt.showScore(0);  // the first score, 0, is no change
    EXPECT_EQ(only_active(tt), nullptr);
    EXPECT_EQ(view.number, "0");
    EXPECT_DOUBLE_EQ(view.x + pixlen("0") * score_scale / 2, score_base_x);  // right-aligned

    tt.showScore(120);
    tt.countTimedTexts(1.0);  // that copy has run out
    view = tt.showScore(130);
    const timedText* copy = only_active(tt);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text, "130");
    EXPECT_EQ(copy->x, view.x);
    EXPECT_EQ(copy->scale1, 2.2);
    EXPECT_EQ(copy->scale2, 5.5);
    EXPECT_EQ(copy->secs, 1.0);
    tt.showScore(130);
    EXPECT_EQ(only_active(tt), copy);  // unchanged: nothing new

    // With every slot busy the copy is dropped, but the score counts as seen.
    for (int i = 0; i < timed_texts_count; ++i) {
        tt.timedVectorTextAt1d3f("x", 0, 1, 1, 1, 1, 1, 5.0);
    }
    tt.showScore(140);
    EXPECT_EQ(tt.old_score, 140u);
}

TEST(IntroAnimation, StartsStillAndPicksALetter) {
    tt_state tt;
    intro_animation& intro = tt.intro;
    intro.menu_animation_step(0.0);
    EXPECT_GE(intro.rotation_index, 0);
    EXPECT_LT(intro.rotation_index, game_name_length);
    for (int i = 0; i < game_name_length; ++i) {
        EXPECT_EQ(intro.game_name_letter_offset[i], 0.0);
        EXPECT_EQ(intro.game_name_letter_rotation[i], 0.0);
    }
    EXPECT_EQ(intro.latin_angle, 0.0);
    EXPECT_EQ(intro.latin_angle2, 0.0);
    EXPECT_EQ(intro_animation::game_name_text().size(), 11u);
    EXPECT_DOUBLE_EQ(pixheight(intro_animation::game_name_text()), 2.28);
}

TEST(IntroAnimation, BobbingTumblingAndThePhaseWrap) {
    intro_animation intro;
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

    // The tumbling letter wraps at 360 and frees its turn for the next step.
    const int letter = intro.rotation_index;
    intro.game_name_letter_rotation[letter] = 359.0;
    intro.menu_animation_step(2.0 / 180.0);
    EXPECT_EQ(intro.game_name_letter_rotation[letter], 0.0);
    EXPECT_EQ(intro.rotation_index, -1);
    intro.menu_animation_step(0.0);
    EXPECT_NE(intro.rotation_index, -1);

    // Over half a minute the letters bob between -1 and +1, mirrored in pairs; the step that
    // crosses a turn of the wave counts whole, so each period may drift by up to a step.
    intro = intro_animation{};
    double highest = 0.0;
    for (int frame = 0; frame < 60 * 30; ++frame) {
        intro.menu_animation_step(1.0 / 60);
        highest = std::max(highest, intro.game_name_letter_offset[0]);
        ASSERT_NEAR(intro.game_name_letter_offset[0], -intro.game_name_letter_offset[1], 1e-9);
        ASSERT_LE(std::abs(intro.game_name_letter_offset[0]), 1.05);
    }
    EXPECT_NEAR(highest, 1.0, 0.05);
    EXPECT_NEAR(intro.localtime, 30.0, 1e-9);
}

TEST(GameStates, NamedByWhatTheyShow) {
    struct row {
        int step;
        bool end_screen, intro, countdown, play, completed, desk;
    };
    const row rows[] = {{state_score_posted, true, false, false, false, false, false},
                        {state_name_entry, true, false, false, false, false, false},
                        {state_intro, false, true, false, false, false, false},
                        {0, false, false, true, false, false, true},
                        {3, false, false, true, false, false, true},
                        {state_play, false, false, false, true, false, true},
                        {state_level_completed, false, false, false, false, true, true}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.step);
        EXPECT_EQ(is_end_screen(r.step), r.end_screen);
        EXPECT_EQ(is_intro(r.step), r.intro);
        EXPECT_EQ(is_countdown(r.step), r.countdown);
        EXPECT_EQ(is_play(r.step), r.play);
        EXPECT_EQ(is_level_completed(r.step), r.completed);
        EXPECT_EQ(shows_desk(r.step), r.desk);
    }
}

class quiet_shell : public game_shell {
  public:
    void build_level(level_t&, const quality_cfg_t&) override {}
    void rebuild_for_quality(const quality_cfg_t&) override {}
    bool send_score_online(const std::string&, int) override { return true; }
    void post_redisplay() override {}
    void end_process() override {}
};

TEST(FinalScreen, CarriesTheNameWithItsCursorThenThePostResult) {
    quiet_shell shell;
    game g{shell};
    g.Init();
    g.level->scene_step = state_name_entry;
    g.level->total_score = 470;
    g.level->total_time = 2.5;
    final_screen_t screen = g.final_screen();
    EXPECT_TRUE(screen.highscore);
    EXPECT_EQ(screen.player_name, "_");  // the cursor alone
    EXPECT_EQ(screen.score, 470);
    EXPECT_EQ(screen.total_time, 2.5);

    for (const char c : std::string("Ada")) {
        g.onKeyboardDown(c);
    }
    EXPECT_EQ(g.final_screen().player_name, "ada_");
    g.onKeyboardDown(key_enter);
    screen = g.final_screen();
    EXPECT_FALSE(screen.highscore);
    EXPECT_TRUE(screen.highscore_success);
    EXPECT_EQ(screen.player_name, "ada");
}

}  // namespace
