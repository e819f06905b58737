#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "camera.h"
#include "game.h"

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
    bool send_score_online(const std::string& name, int score) override {
        posts.emplace_back(name, score);
        return post_result;
    }
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

TEST_F(Game, StartsInTheIntroOfLevelZeroSetUpForPlay) {
    EXPECT_EQ(g.current_level, 0);
    EXPECT_EQ(g.level->scene_step, state_intro);
    EXPECT_EQ(shell.levels_built, 1);
    EXPECT_EQ(g.level->ball_activation_timer, 20.0 - 0.1);
    EXPECT_EQ(g.tt.score_r, 1.0f);
    EXPECT_EQ(g.tt.score_b, 0.0f);
    EXPECT_EQ(g.quality_cfg.hole_quality, 36);
}

TEST_F(Game, EnterLeavesTheIntroAndRestartsTheClock) {
    g.level->total_time = 12.0;
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.level->scene_step, state_countdown);
    EXPECT_EQ(g.level->total_time, 0.0);
}

TEST_F(Game, EnterDoesNothingDuringCountdownPlayAndAfterPosting) {
    for (const int state : {0, 1, 2, 3, 4, -3}) {
        g.level->scene_step = state;
        g.onKeyboardDown(key_enter);
        EXPECT_EQ(g.level->scene_step, state);
        EXPECT_EQ(g.current_level, 0);
    }
    EXPECT_TRUE(shell.posts.empty());
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

TEST_F(Game, LevelAdvanceCarriesTheScoreAndKeepsPauseAndKey) {
    complete_level();
    g.level->total_score = 230;
    g.pause_flag = 1;
    g.game_key = 1;
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.current_level, 1);
    EXPECT_EQ(g.level->width, 32.0f);
    EXPECT_EQ(g.level->scene_step, state_countdown);
    EXPECT_EQ(g.level->total_score, 230);
    EXPECT_EQ(g.level->total_time, 0.0);
    EXPECT_EQ(g.level->ball_activation_timer, 15.0 - 0.1);
    EXPECT_EQ(g.pause_flag, 1);
    EXPECT_EQ(g.game_key, 1);
    EXPECT_EQ(shell.levels_built, 2);
}

TEST_F(Game, AfterTheLastLevelTheFinishedLevelShowsNameEntry) {
    for (int n = 0; n < 5; ++n) {
        complete_level();
        g.onKeyboardDown(key_enter);
    }
    complete_level();
    g.level->total_score = 1234;
    g.level->total_time = 40.0;
    g.level->hiscore_success = 1;
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.current_level, 6);
    EXPECT_EQ(g.level->width, 26.0f);  // still level 5
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_EQ(g.level->hiscore_success, 0);
    EXPECT_EQ(g.level->total_score, 1234);
    EXPECT_EQ(g.level->total_time, 0.0);
    // An empty name is not posted.
    g.onKeyboardDown(key_enter);
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_EQ(g.player_name, "_");
    EXPECT_EQ(g.current_level, 6);
}

TEST_F(Game, NameEntryFoldsCaseLimitsLengthAndIgnoresPunctuation) {
    reach_name_entry();
    type("Ab 9_-!.");
    EXPECT_EQ(g.player_name, "ab 9__");
    EXPECT_EQ(g.player_name_len, 5);
    type("0123456789abcdef");
    EXPECT_EQ(g.player_name_len, 16);
    EXPECT_EQ(g.player_name, "ab 9_0123456789a_");
    g.onKeyboardDown(key_backspace);
    EXPECT_EQ(g.player_name, "ab 9_0123456789_");
    for (int i = 0; i < 20; ++i) {
        g.onKeyboardDown(key_backspace);
    }
    EXPECT_EQ(g.player_name_len, 0);
    EXPECT_EQ(g.player_name, "_");
}

TEST_F(Game, ThePInANameTogglesThePause) {
    reach_name_entry();
    type("pip");
    EXPECT_EQ(g.player_name, "pip_");
    EXPECT_EQ(g.pause_flag, 0);  // toggled twice
    type("p");
    EXPECT_EQ(g.pause_flag, 1);
}

TEST_F(Game, EnterPostsTheNameWithoutCursorOnce) {
    reach_name_entry();
    g.level->total_score = 470;
    type("Ada");
    shell.post_result = false;
    g.onKeyboardDown(key_enter);
    ASSERT_EQ(shell.posts.size(), 1u);
    EXPECT_EQ(shell.posts[0].first, "ada");
    EXPECT_EQ(shell.posts[0].second, 470);
    EXPECT_EQ(g.level->scene_step, state_score_posted);
    EXPECT_EQ(g.level->hiscore_success, 0);
    g.onKeyboardDown(key_enter);
    type("x");
    EXPECT_EQ(shell.posts.size(), 1u);
    EXPECT_EQ(g.player_name, "ada");
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

TEST_F(Game, PlayFramesRunThePhysicsWithTheClampOnlyThere) {
    g.level->scene_step = state_play;
    g.timeTick(1.0);
    g.timeTick(1.3);  // a slow frame
    EXPECT_NEAR(g.level->total_time, 0.3, 1e-12);
    EXPECT_EQ(g.level->balls[0].active, ball_in_play);
    // The desk tilted for 0.05 s only.
    EXPECT_DOUBLE_EQ(g.level->rotation.y, -15.0 * 0.05);
    EXPECT_NEAR(g.tt.history[1], 0.3, 1e-12);
}

TEST_F(Game, PauseStopsOnlyThePhysics) {
    g.level->scene_step = state_play;
    g.pause_flag = 1;
    g.timeTick(1.0);
    g.timeTick(1.1);
    EXPECT_EQ(g.level->balls[0].active, ball_waiting);
    EXPECT_EQ(g.level->rotation.y, 0.0);
    EXPECT_NEAR(g.level->total_time, 0.1, 1e-12);
    EXPECT_NEAR(g.tt.stime, 0.1, 1e-12);
}

TEST_F(Game, TheFrameAfterTheLastBallIsLostCompletesTheLevel) {
    g.level->scene_step = state_play;
    g.level->ball_activation_iterator = g.level->balls_count();
    for (ball_t& b : g.level->balls) {
        b.active = ball_lost;
    }
    g.pause_flag = 1;  // completion is seen while paused too
    g.timeTick(1.0);
    EXPECT_EQ(g.level->scene_step, state_level_completed);
    EXPECT_EQ(g.level->active_balls_count, 0);
}

TEST_F(Game, BallWalkCountsInPlayBallsUpToTheFirstNotLost) {
    level_t& level = *g.level;
    level.balls[0].active = ball_lost;
    level.balls[1].active = ball_in_play;
    level.balls[2].active = ball_waiting;
    EXPECT_FALSE(update_play_state(level));
    EXPECT_EQ(level.active_balls_count, 1);
    level.balls[1].active = ball_lost;
    EXPECT_FALSE(update_play_state(level));
    EXPECT_EQ(level.active_balls_count, 0);

    level_t empty;
    empty.scene_step = state_play;
    EXPECT_TRUE(update_play_state(empty));
    EXPECT_EQ(empty.scene_step, state_level_completed);
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
    EXPECT_EQ(g.quality_cfg.hole_quality, 12);
}

TEST(Countdown, OneStepPerFrameEachWithItsText) {
    level_t level;
    tt_state texts;
    level.scene_step = state_countdown;
    level.total_time = 0.49;
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, 0);
    level.total_time = 3.6;  // past every threshold at once
    const char* expected[] = {"3", "2", "1", "PLAY!"};
    for (int step = 1; step <= 4; ++step) {
        advance_countdown(level, texts);
        EXPECT_EQ(level.scene_step, step);
        EXPECT_EQ(texts.tt1[step - 1].text, expected[step - 1]);
        EXPECT_EQ(texts.tt1[step - 1].secs, 1.5);
    }
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, state_play);
    EXPECT_EQ(texts.tt1[4].active, 0);
}

TEST(Countdown, ThresholdsAreInclusive) {
    level_t level;
    tt_state texts;
    level.scene_step = 2;
    level.total_time = 2.5;
    advance_countdown(level, texts);
    EXPECT_EQ(level.scene_step, 3);
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

namespace {

TEST(DebugCamera, DragsTurnAndLiftAndContinueFromTheLastOne) {
    debug_camera camera;
    camera.onMouseClick(mouse_left, mouse_pressed, 100, 100);
    EXPECT_TRUE(camera.onMouseMotion(130, 90));
    EXPECT_EQ(camera.xnew, 30);
    EXPECT_EQ(camera.ynew, -10);
    camera.onMouseClick(mouse_left, 1, 130, 90);
    EXPECT_FALSE(camera.onMouseMotion(500, 500));  // no button held: nothing moves

    camera.onMouseClick(mouse_left, mouse_pressed, 0, 0);
    camera.onMouseMotion(5, 5);
    EXPECT_EQ(camera.xnew, 35);  // continues from the committed 30
    EXPECT_EQ(camera.ynew, -5);

    // Releasing the left button during a right drag commits the turn and ends the drag.
    camera.onMouseClick(mouse_right, mouse_pressed, 0, 200);
    camera.onMouseMotion(0, 190);
    EXPECT_EQ(camera.znew, -10);
    camera.onMouseClick(mouse_left, 1, 0, 190);
    EXPECT_EQ(camera.stav, 0);
    EXPECT_EQ(camera.xold, 35);
    EXPECT_EQ(camera.zold, 0);
    camera.onMouseClick(1, mouse_pressed, 0, 0);  // the middle button does nothing
    EXPECT_EQ(camera.stav, 0);
}

}  // namespace
