#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "game.h"
#include "levels.h"

namespace {

class recording_shell : public game_shell {
  public:
    int levels_built = 0;
    int quality_rebuilds = 0;
    int redisplays = 0;
    int ends = 0;
    std::vector<std::pair<std::string, int>> posts;
    bool post_result = true;

    void build_level(level_t&, const quality_cfg_t&) override { ++levels_built; }
    void rebuild_for_quality(const quality_cfg_t&) override { ++quality_rebuilds; }
    void start_score_post(const std::string& name, int score) override {
        posts.emplace_back(name, score);
    }
    std::optional<bool> poll_score_post() override { return post_result; }
    void post_redisplay() override { ++redisplays; }
    void end_process() override { ++ends; }
};

class Game : public ::testing::Test {
  protected:
    recording_shell shell;
    game g{shell};

    void SetUp() override { g.Init(); }

    void type(const std::string& keys) {
        for (const char c : keys) {
            g.onKeyboardDown(static_cast<unsigned char>(c));
            g.onKeyboardUp(static_cast<unsigned char>(c));
        }
    }

    // Plays the current level's play state to its end by marking every ball lost.
    void complete_level() {
        g.level->scene_step = state_play;
        for (ball_t& b : g.level->balls) {
            b.active = ball_lost;
        }
        g.level->ball_activation_iterator = g.level->balls_count();
        update_play_state(*g.level);
        ASSERT_EQ(g.level->scene_step, state_level_completed);
    }

    void reach_name_entry() {
        for (int n = 0; n < 6; ++n) {
            complete_level();
            g.onKeyboardDown(key_enter);
        }
        ASSERT_EQ(g.level->scene_step, state_name_entry);
    }
};

TEST_F(Game, StartsInTheIntroAndOnlyThereEnterStartsTheCountdown) {
    EXPECT_EQ(g.current_level, 0);
    EXPECT_EQ(shell.levels_built, 1);
    EXPECT_EQ(g.level->ball_activation_timer, g.level->ball_activation_interval - 0.1);
    EXPECT_EQ(g.tt.score_g, g.level->score_rgb[1]);
    for (const int state : {0, 1, 2, 3, 4, -3}) {
        g.level->scene_step = state;
        g.onKeyboardDown(key_enter);
        EXPECT_EQ(g.level->scene_step, state);
    }
    EXPECT_TRUE(shell.posts.empty());
    g.level->scene_step = state_intro;
    g.level->total_time = 12.0;
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.level->scene_step, state_countdown);
    EXPECT_EQ(g.level->total_time, 0.0);
    EXPECT_EQ(g.current_level, 0);
}

TEST_F(Game, GlobalKeysWorkInEveryState) {
    g.onKeyboardDown('P');
    EXPECT_EQ(g.pause_flag, 1);
    g.onKeyboardDown('p');
    EXPECT_EQ(g.pause_flag, 0);
    g.onKeyboardDown(key_space);
    EXPECT_EQ(g.game_key, 1);
    g.onKeyboardUp(key_space);
    EXPECT_EQ(g.game_key, 0);
    // Only the low byte counts.
    g.onKeyboardDown(0x100 + key_space);
    EXPECT_EQ(g.game_key, 1);
    g.onKeyboardDown(key_escape);
    EXPECT_EQ(g.quit, 1);
}

TEST_F(Game, EnterAdvancesThroughTheLevelsWithTheScoreThenAsksForAName) {
    g.pause_flag = 1;
    g.game_key = 1;
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        complete_level();
        g.level->total_score = 100 * n;
        g.level->total_time = 40.0;
        g.level->hiscore_success = 1;
        g.onKeyboardDown(key_enter);
        EXPECT_EQ(g.current_level, n);
        EXPECT_EQ(g.level->width, load_level(std::min(n, 5))->width);  // the last stays
        EXPECT_EQ(g.level->scene_step, n < 6 ? state_countdown : state_name_entry);
        EXPECT_EQ(g.level->total_score, 100 * n);
        EXPECT_EQ(g.level->total_time, 0.0);
        EXPECT_EQ(g.level->ball_activation_timer, g.level->ball_activation_interval - 0.1);
        EXPECT_EQ(shell.levels_built, n + 1);
    }
    EXPECT_EQ(g.level->hiscore_success, 0);
    EXPECT_EQ(g.pause_flag, 1);
    EXPECT_EQ(g.game_key, 1);
    // An empty name is not posted.
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_TRUE(shell.posts.empty());
}

TEST_F(Game, NameEntryFoldsCaseLimitsLengthAndIgnoresPunctuation) {
    reach_name_entry();
    type("Ab 9_-!.");
    EXPECT_EQ(g.player_name, "ab 9__");
    EXPECT_EQ(g.player_name_len, 5);
    type("0123456789abcdef");
    EXPECT_EQ(g.player_name, "ab 9_0123456789a_");
    g.onKeyboardDown(key_backspace);
    EXPECT_EQ(g.player_name, "ab 9_0123456789_");
    for (int i = 0; i < 20; ++i) {
        g.onKeyboardDown(key_backspace);
    }
    EXPECT_EQ(g.player_name_len, 0);
    EXPECT_EQ(g.player_name, "_");
    // A P in the name also toggles the pause.
    type("pip");
    EXPECT_EQ(g.player_name, "pip_");
    EXPECT_EQ(g.pause_flag, 0);
    type("p");
    EXPECT_EQ(g.pause_flag, 1);
}

TEST_F(Game, FirstTickStartsTheClockAndLaterTicksPassRawFrameTimes) {
    g.timeTick(100.0);
    EXPECT_EQ(g.lastTime, 100.0);
    EXPECT_EQ(g.level->total_time, 0.0);
    EXPECT_NE(g.tt.intro.rotation_index, -1);  // the title animation took its first step
    EXPECT_EQ(g.tt.intro.localtime, 0.0);
    EXPECT_EQ(g.level->gate_alpha, 0.25);

    g.onKeyboardDown(key_enter);
    g.timeTick(100.25);
    EXPECT_EQ(g.level->total_time, 0.25);
    EXPECT_EQ(g.tt.stime, 0.25);           // the score shiver's clock
    EXPECT_EQ(g.tt.intro.localtime, 0.0);  // the title stands still outside the intro
    EXPECT_EQ(g.level->gate_alpha, std::sin(0.25 * 10.0) * 0.125 + 0.25);
    EXPECT_EQ(shell.redisplays, 2);
}

TEST_F(Game, PlayFramesRunThePhysicsUnlessPausedAndPassRawFrameTimesElsewhere) {
    for (const int pause : {0, 1}) {
        SCOPED_TRACE(pause);
        g.level = load_level(0);
        g.init_scene();
        g.lastTime = 0.0;  // the next tick starts the clock again
        g.level->scene_step = state_play;
        g.pause_flag = pause;
        g.timeTick(1.0);
        g.timeTick(1.3);  // a slow frame
        EXPECT_NEAR(g.level->total_time, 0.3, 1e-12);
        EXPECT_EQ(g.level->balls[0].active, pause != 0 ? ball_waiting : ball_in_play);
        EXPECT_EQ(g.level->rotation.y, pause != 0 ? 0.0 : -15.0 * 0.05);
        EXPECT_NEAR(g.tt.history[g.tt.index - 1], 0.3, 1e-12);
        EXPECT_NEAR(g.tt.stime, 0.3, 1e-12);  // the score's shiver counts on
    }
}

TEST_F(Game, AFrameAfterTheLastBallIsLostCompletesTheLevelEvenWhenPaused) {
    level_t& level = *g.level;
    level.scene_step = state_play;
    level.balls[0].active = ball_lost;
    level.balls[1].active = ball_in_play;
    level.balls[2].active = ball_waiting;
    EXPECT_FALSE(update_play_state(level));
    EXPECT_EQ(level.active_balls_count, 1);
    level.ball_activation_iterator = level.balls_count();
    for (ball_t& b : level.balls) {
        b.active = ball_lost;
    }
    g.pause_flag = 1;
    g.timeTick(1.0);
    EXPECT_EQ(level.scene_step, state_level_completed);
    EXPECT_EQ(level.active_balls_count, 0);

    level_t empty;
    empty.scene_step = state_play;
    EXPECT_TRUE(update_play_state(empty));
}

TEST_F(Game, EscapeEndsTheProcessAtTheNextFrame) {
    g.level->scene_step = state_name_entry;
    g.onKeyboardDown(key_escape);
    EXPECT_EQ(shell.ends, 0);
    g.timeTick(5.0);
    EXPECT_EQ(shell.ends, 1);
    EXPECT_EQ(shell.redisplays, 0);
}

TEST_F(Game, SlowFramesDropTheQualityAndRebuildTheDesk) {
    double now = 1.0;
    g.timeTick(now);
    // 0.1 s frames: 10 frames per second, every frame low once the ring has filled.
    for (int i = 0; i < 40; ++i) {
        now += 0.1;
        g.timeTick(now);
    }
    EXPECT_GE(g.quality_cfg.current_quality_level, 2);
    EXPECT_EQ(shell.quality_rebuilds, 2);
}

TEST(Countdown, OneInclusiveStepPerFrameEachWithItsText) {
    level_t level;
    tt_state texts;
    level.scene_step = state_countdown;
    level.total_time = 0.49;
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, 0);
    level.total_time = 0.5;
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, 1);
    level.scene_step = 0;
    texts = tt_state{};
    level.total_time = 2.5;  // exactly the third threshold, past the first two
    const char* expected[] = {"3", "2", "1"};
    for (int step = 1; step <= 3; ++step) {
        advance_countdown(level, texts);
        EXPECT_EQ(level.scene_step, step);
        EXPECT_EQ(texts.tt1[step - 1].text, expected[step - 1]);
        EXPECT_EQ(texts.tt1[step - 1].secs, 1.5);
    }
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, 3);
    level.total_time = 3.5;
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, state_play);
    EXPECT_EQ(texts.tt1[3].text, "PLAY!");
}

TEST(Countdown, ZoomRunsFromTurnedAndShrunkToIdentity) {
    const countdown_zoom start = countdown_zoom_at(0.0);
    EXPECT_EQ(start.x_degrees, 45.0);
    EXPECT_EQ(start.y_degrees, 180.0);
    EXPECT_EQ(start.scale, 0.1);
    const countdown_zoom end = countdown_zoom_at(3.5);
    EXPECT_EQ(end.x_degrees, 0.0);
    EXPECT_EQ(end.y_degrees, 0.0);
    EXPECT_DOUBLE_EQ(end.scale, 1.0);
}

}  // namespace
