// The score post in the game's flow: ENTER on a name starts one post, the game keeps running
// while it is under way, and its result moves the game to the posted screen.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "game.h"
#include "hiscore.h"
#include "loopback_server.h"

namespace {

using namespace std::chrono_literals;

// A shell whose score post is either a stand-in the test answers by hand, or the real worker.
class posting_shell : public game_shell {
  public:
    std::vector<std::pair<std::string, int>> posts;
    std::optional<bool> stand_in_result;  // what a poll answers while no worker is used
    std::optional<highscore_endpoint> real_endpoint;
    score_post_worker worker{300ms};
    int redisplays = 0;
    int ends = 0;

    void build_level(level_t&, const quality_cfg_t&) override {}
    void rebuild_for_quality(const quality_cfg_t&) override {}
    void start_score_post(const std::string& name, int score) override {
        posts.emplace_back(name, score);
        if (real_endpoint) {
            worker.start(name, score, *real_endpoint);
        }
    }
    std::optional<bool> poll_score_post() override {
        if (real_endpoint) {
            const std::optional<post_result> result = worker.poll();
            return result ? std::optional<bool>(result->success) : std::nullopt;
        }
        return stand_in_result;
    }
    void post_redisplay() override { ++redisplays; }
    void end_process() override { ++ends; }
    void menu_animation_step(double) {}
    void moveScore(double) {}
};

class ScorePost : public ::testing::Test {
  protected:
    posting_shell shell;
    game g{shell};
    double clock = 100.0;

    void SetUp() override {
        g.Init();
        for (int n = 0; n < 6; ++n) {
            g.level->scene_step = state_play;
            for (ball_t& b : g.level->balls) {
                b.active = ball_lost;
            }
            g.level->ball_activation_iterator = g.level->balls_count();
            update_play_state(*g.level);
            g.onKeyboardDown(key_enter);
        }
        ASSERT_EQ(g.level->scene_step, state_name_entry);
        g.level->total_score = 470;
    }

    void type(const std::string& keys) {
        for (const char c : keys) {
            g.onKeyboardDown(static_cast<unsigned char>(c));
            g.onKeyboardUp(static_cast<unsigned char>(c));
        }
    }
    void tick() {
        clock += 0.02;
        g.timeTick(clock);
    }
};

TEST_F(ScorePost, EnterStartsOnePostAndTheNameWaitsForItsResult) {
    type("Ada b");
    g.onKeyboardDown(key_enter);
    ASSERT_EQ(shell.posts.size(), 1u);
    EXPECT_EQ(shell.posts[0].first, "ada b");
    EXPECT_EQ(shell.posts[0].second, 470);
    EXPECT_EQ(g.player_name, "ada b");

    // Under way: frames go on, the state stays, and ENTER and the name keys do nothing; P
    // still pauses.
    for (int frame = 0; frame < 5; ++frame) {
        tick();
    }
    type("xyp");
    EXPECT_EQ(g.pause_flag, 1);
    g.onKeyboardDown(key_backspace);
    g.onKeyboardDown(key_enter);
    tick();
    EXPECT_EQ(shell.posts.size(), 1u);
    EXPECT_EQ(g.player_name, "ada b");
    EXPECT_EQ(g.level->scene_step, state_name_entry);
    EXPECT_EQ(shell.redisplays, 6);

    shell.stand_in_result = true;
    tick();
    EXPECT_EQ(g.level->scene_step, state_score_posted);
    EXPECT_EQ(g.level->hiscore_success, 1);
    EXPECT_EQ(g.level->total_score, 470);
    g.onKeyboardDown(key_enter);
    tick();
    EXPECT_EQ(shell.posts.size(), 1u);
}

TEST_F(ScorePost, EscapeDuringAPostEndsTheGameAtTheNextFrame) {
    type("bob");
    g.onKeyboardDown(key_enter);
    g.onKeyboardDown(key_escape);
    tick();
    EXPECT_EQ(shell.ends, 1);
}

// The real worker against a service that accepts the connection and never answers: the game
// keeps drawing frames until the bound ends the post as failed.
TEST_F(ScorePost, ASilentServiceFailsThePostWhileTheGameKeepsDrawing) {
    loopback_server silent(std::nullopt);
    shell.real_endpoint = highscore_endpoint{"127.0.0.1", silent.port()};
    type("ada");
    g.onKeyboardDown(key_enter);
    for (int frame = 0; frame < 300 && g.level->scene_step == state_name_entry; ++frame) {
        tick();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(g.level->scene_step, state_score_posted);
    EXPECT_EQ(g.level->hiscore_success, 0);
    EXPECT_GT(shell.redisplays, 1);
}

}  // namespace
