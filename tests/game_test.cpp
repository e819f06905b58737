#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <tuple>
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
    std::optional<bool> post_result;  // the stand-in post's answer, given by hand

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
};

TEST_F(Game, StartsInTheIntroAndOnlyThereEnterStartsTheCountdown) {
    EXPECT_EQ(shell.levels_built, 1);
    EXPECT_EQ(g.tt.score_g, g.level->score_rgb[1]);
    for (const int state : {0, 1, 2, 3, 4, -3, -1}) {
        g.level->scene_step = state;
        g.level->total_time = 12.0;
        g.onKeyboardDown(key_enter);
        EXPECT_EQ(g.level->scene_step, state == -1 ? state_countdown : state);
        EXPECT_EQ(g.level->total_time, state == -1 ? 0.0 : 12.0);
    }
    EXPECT_EQ(g.current_level, 0);
}

TEST_F(Game, GlobalKeysWorkInEveryState) {
    g.onKeyboardDown('P');
    g.onKeyboardDown(0x100 + key_space);  // only the low byte counts
    EXPECT_EQ(std::tuple(g.pause_flag, g.game_key), std::tuple(1, 1));
    g.onKeyboardDown('p');
    g.onKeyboardUp(key_space);
    EXPECT_EQ(std::tuple(g.pause_flag, g.game_key), std::tuple(0, 0));
    g.onKeyboardDown(key_escape);
    EXPECT_EQ(g.quit, 1);
}

TEST_F(Game, EnterAdvancesThroughTheLevelsWithTheScoreThenAsksForAName) {
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        g.level->scene_step = state_level_completed;
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
    g.onKeyboardDown(key_enter);  // an empty name is not posted
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_TRUE(shell.posts.empty());
}

TEST_F(Game, NameEntryFoldsCaseLimitsLengthAndIgnoresPunctuation) {
    g.level->scene_step = state_name_entry;
    type("Ab 9_-!.");
    EXPECT_EQ(g.player_name, "ab 9__");
    EXPECT_EQ(g.player_name_len, 5);
    type("0123456789abcdef");
    EXPECT_EQ(g.player_name, "ab 9_0123456789a_");
    g.onKeyboardDown(key_backspace);
    EXPECT_EQ(g.player_name, "ab 9_0123456789_");
    type(std::string(20, static_cast<char>(key_backspace)));
    EXPECT_EQ(g.player_name_len, 0);
    EXPECT_EQ(g.player_name, "_");
    type("pi");  // a P in the name also toggles the pause
    EXPECT_EQ(g.player_name, "pi_");
    EXPECT_EQ(g.pause_flag, 1);
}

TEST_F(Game, TicksPassRawFrameTimesAndPlayFramesRunThePhysicsUnlessPaused) {
    g.timeTick(100.0);  // the first tick only starts the clock
    EXPECT_EQ(g.level->total_time, 0.0);
    EXPECT_NE(g.tt.intro.rotation_index, -1);  // the title animation took its first step
    EXPECT_EQ(g.level->gate_alpha, 0.25);
    g.onKeyboardDown(key_enter);
    g.timeTick(100.25);
    EXPECT_EQ(g.level->total_time, 0.25);
    EXPECT_EQ(g.tt.stime, 0.25);           // the score shiver's clock
    EXPECT_EQ(g.tt.intro.localtime, 0.0);  // the title stands still outside the intro
    EXPECT_EQ(g.level->gate_alpha, std::sin(0.25 * 10.0) * 0.125 + 0.25);

    g.level->scene_step = state_play;
    g.pause_flag = 1;
    g.timeTick(100.5);
    EXPECT_EQ(g.level->balls[0].active, ball_waiting);
    EXPECT_EQ(g.level->rotation.y, 0.0);
    g.pause_flag = 0;
    g.timeTick(100.8);  // a slow frame: the physics takes at most 0.05 s
    EXPECT_EQ(g.level->balls[0].active, ball_in_play);
    EXPECT_EQ(g.level->rotation.y, -15.0 * 0.05);
    EXPECT_NEAR(g.level->total_time, 0.8, 1e-12);
    EXPECT_NEAR(g.tt.history[g.tt.index - 1], 0.3, 1e-12);
    EXPECT_NEAR(g.tt.stime, 0.3, 1e-12);  // it jumped in the frame before
    EXPECT_EQ(shell.redisplays, 4);
}

TEST_F(Game, AFrameAfterTheLastBallIsLostCompletesTheLevelEvenWhenPaused) {
    level_t& level = *g.level;
    level.scene_step = state_play;
    level.balls[0].active = ball_lost;
    level.balls[1].active = ball_in_play;
    level.balls[2].active = ball_waiting;
    EXPECT_FALSE(update_play_state(level));
    EXPECT_EQ(level.active_balls_count, 1);
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

TEST_F(Game, SlowFramesDropTheQualityAndRebuildTheDesk) {
    // 0.1 s frames: 10 frames per second, every frame low once the ring has filled.
    for (int i = 0; i <= 40; ++i) {
        g.timeTick(1.0 + 0.1 * i);
    }
    EXPECT_GE(g.quality_cfg.current_quality_level, 2);
    EXPECT_EQ(shell.quality_rebuilds, 2);
}

class ScorePost : public Game {
  protected:
    double clock = 100.0;

    void SetUp() override {
        g.Init();
        g.level->scene_step = state_name_entry;
        g.level->total_score = 470;
    }
    void tick() { g.timeTick(clock += 0.02); }
};

TEST_F(ScorePost, EnterStartsOnePostAndTheNameWaitsForItsResult) {
    type("Ada b\r");
    EXPECT_EQ(shell.posts, (std::vector<std::pair<std::string, int>>{{"ada b", 470}}));

    // Under way: ENTER and the name keys do nothing, P still pauses.
    type("xyp\r");
    EXPECT_EQ(g.pause_flag, 1);
    g.onKeyboardDown(key_backspace);
    tick();
    EXPECT_EQ(shell.posts.size(), 1u);
    EXPECT_EQ(g.player_name, "ada b");
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_EQ(shell.redisplays, 1);

    shell.post_result = true;
    tick();
    EXPECT_EQ(g.level->scene_step, state_score_posted);
    EXPECT_EQ(g.level->hiscore_success, 1);
    EXPECT_FALSE(g.score_post_under_way);
    g.onKeyboardDown(key_enter);
    tick();
    EXPECT_EQ(shell.posts.size(), 1u);
}

TEST_F(ScorePost, EscapeDuringAPostEndsTheGameAtTheNextFrame) {
    type("ada\r");
    g.onKeyboardDown(key_escape);
    tick();
    EXPECT_EQ(shell.ends, 1);
}

TEST(Countdown, OneInclusiveStepPerFrameEachWithItsText) {
    const char* texts_by_step[] = {"3", "2", "1", "PLAY!"};
    const struct {
        int step;
        double total_time;
        bool advances;
    } cases[] = {{0, 0.49, false}, {0, 0.5, true}, {0, 2.5, true},  {1, 1.5, true},  {2, 2.5, true},
                 {3, 3.49, false}, {3, 3.5, true}, {4, 9.0, false}, {-1, 9.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.step << ", " << c.total_time);
        level_t level;
        tt_state texts;
        level.scene_step = c.step;
        level.total_time = c.total_time;
        advance_countdown(level, texts);
        EXPECT_EQ(level.scene_step, c.step + (c.advances ? 1 : 0));
        EXPECT_EQ(texts.tt1[0].active, c.advances ? 1 : 0);
        if (c.advances) {
            EXPECT_EQ(texts.tt1[0].text, texts_by_step[c.step]);
            EXPECT_EQ(texts.tt1[0].secs, 1.5);
        }
    }
}

TEST(Countdown, ZoomRunsFromTurnedAndShrunkToIdentity) {
    const countdown_zoom start = countdown_zoom_at(0.0), end = countdown_zoom_at(3.5);
    EXPECT_EQ(
        std::tuple(start.x_degrees, start.y_degrees, start.scale, end.x_degrees, end.y_degrees),
        std::tuple(45.0, 180.0, 0.1, 0.0, 0.0));
    EXPECT_DOUBLE_EQ(end.scale, 1.0);
}

}  // namespace
