// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "clock.h"
#include "game.h"
#include "levels.h"
#include "random.h"

namespace {

using kind = frame_event::kind;

std::vector<key_event> keys_of(const std::string& typed) {
    std::vector<key_event> keys;
    for (const char c : typed) {
        keys.push_back({true, static_cast<unsigned char>(c)});
        keys.push_back({false, static_cast<unsigned char>(c)});
    }
    return keys;
}

std::vector<kind> kinds_of(const std::vector<frame_event>& events) {
    std::vector<kind> kinds;
    for (const frame_event& e : events) {
        kinds.push_back(e.what);
    }
    return kinds;
}

class Game : public ::testing::Test {
  protected:
    game g;

    void SetUp() override { g.Init(); }

    const std::vector<frame_event>& frame(double deltaT, std::vector<key_event> keys = {},
                                          std::optional<bool> post_result = std::nullopt) {
        return g.tick({deltaT, std::move(keys), post_result});
    }
    const std::vector<frame_event>& type(const std::string& typed) {
        return frame(0.0, keys_of(typed));
    }
};

TEST_F(Game, StartsInTheIntroAndOnlyThereEnterStartsTheCountdown) {
    EXPECT_EQ(kinds_of(g.events()), std::vector{kind::level_set_up});
    EXPECT_EQ(g.session.screen, game_screen::intro);
    EXPECT_EQ(g.tt.score_g, g.level->score_rgb[1]);
    for (const int state : {0, 1, 2, 3, 4, -1}) {  // -3: see the posted score's tests
        g.session.screen = static_cast<game_screen>(state);
        g.level->total_time = 0.25;
        frame(0.0, {{true, key_enter}});
        EXPECT_EQ(static_cast<int>(g.session.screen), state == -1 ? 0 : state);
        EXPECT_EQ(g.level->total_time, state == -1 ? 0.0 : 0.25);
    }
    EXPECT_EQ(g.session.current_level, 0);
}

TEST_F(Game, GlobalKeysWorkInEveryStateAndEscapeEndsTheFrames) {
    const auto& events = frame(0.0, {{true, 'P'}, {true, 0x100 + key_space}});
    EXPECT_EQ(std::tuple(g.pause_flag, g.game_key), std::tuple(true, true));
    ASSERT_EQ(kinds_of(events), std::vector{kind::pause_toggled});
    EXPECT_TRUE(events[0].paused);
    frame(0.0, {{true, 'p'}, {false, key_space}});
    EXPECT_EQ(std::tuple(g.pause_flag, g.game_key), std::tuple(false, false));
    const double before = g.level->total_time;
    frame(0.5, {{true, key_escape}});
    EXPECT_TRUE(g.quit);
    EXPECT_EQ(g.level->total_time, before);  // the frame did no work
}

TEST_F(Game, EnterAdvancesThroughTheLevelsWithTheScoreThenAsksForAName) {
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        g.session.screen = game_screen::level_completed;
        g.session.total_score = 100 * n;
        g.session.hiscore_success = true;
        g.level->total_time = 40.0;
        const auto& events = frame(0.0, {{true, key_enter}});
        EXPECT_EQ(g.session.current_level, n);
        EXPECT_EQ(g.level->width, load_level(std::min(n, 5))->width);  // the last stays
        EXPECT_EQ(g.session.screen, n < 6 ? game_screen::countdown : game_screen::name_entry);
        EXPECT_EQ(g.session.total_score, 100 * n);
        EXPECT_EQ(g.level->total_time, 0.0);
        EXPECT_EQ(g.level->ball_activation_timer, g.level->ball_activation_interval - 0.1);
        const std::vector<kind> expected = n < 6 ? std::vector{kind::level_set_up}
                                                 : std::vector{kind::game_over, kind::level_set_up};
        EXPECT_EQ(kinds_of(events), expected);
    }
    EXPECT_FALSE(g.session.hiscore_success);
    EXPECT_TRUE(frame(0.0, {{true, key_enter}}).empty());  // an empty name is not posted
    type(" _ ");
    EXPECT_EQ(kinds_of(type("\r")), std::vector<kind>{});  // nor one without a letter or digit
    EXPECT_EQ(g.session.screen, game_screen::name_entry);
}

TEST_F(Game, NameEntryFoldsCaseLimitsLengthAndIgnoresPunctuation) {
    g.session.screen = game_screen::name_entry;
    const auto& events = type("AZ 9_-!.");
    EXPECT_EQ(g.session.player_name, "az 9__");
    EXPECT_EQ(g.session.player_name_len, 5);
    ASSERT_EQ(events.size(), 5u);  // a name_edited for each character that counted
    EXPECT_EQ(events.back().text, "az 9_");
    type("0123456789abcdef");
    EXPECT_EQ(g.session.player_name, "az 9_0123456789a_");
    type("\b");
    EXPECT_EQ(g.session.player_name, "az 9_0123456789_");
    type(std::string(20, '\b'));
    EXPECT_EQ(g.session.player_name_len, 0);
    EXPECT_EQ(g.session.player_name, "_");
    EXPECT_EQ(kinds_of(type("pi")),  // a P in the name also toggles the pause
              (std::vector{kind::pause_toggled, kind::name_edited, kind::name_edited}));
    EXPECT_EQ(g.session.player_name, "pi_");
    EXPECT_TRUE(g.pause_flag);
}

TEST_F(Game, AFrameAfterTheLastBallIsLostCompletesTheLevelEvenWhenPaused) {
    level_t& level = *g.level;
    g.session.screen = game_screen::play;
    level.balls[0].active = ball_lost;
    level.balls[1].active = ball_in_play;
    level.balls[2].active = ball_waiting;
    EXPECT_FALSE(all_balls_lost(level));
    EXPECT_EQ(level.active_balls_count, 1);
    std::ranges::for_each(level.balls, [](ball_t& b) { b.active = ball_lost; });
    const auto& events = frame(0.0, {{true, 'p'}});
    ASSERT_EQ(kinds_of(events), (std::vector{kind::pause_toggled, kind::level_completed}));
    EXPECT_EQ(events[1].level, 0);
    EXPECT_EQ(g.session.screen, game_screen::level_completed);
    EXPECT_EQ(level.active_balls_count, 0);

    level_t empty;
    EXPECT_TRUE(all_balls_lost(empty));
}

TEST_F(Game, AGateScoresIntoTheSessionAndFloatsItsPointsInTheSameFrame) {
    g.session.screen = game_screen::play;
    g.session.total_score = 470;
    level_t& level = *g.level;
    const gate_t& gate = level.gates[0];
    ball_t& ball = level.balls[0];
    ball.active = ball_in_play;
    ball.pos = {gate.pos.x, gate.pos.y, level.depth / 2 + ball.size};
    ball.last_gate_time = 1.0;
    level.ball_activation_iterator = level.balls_count();  // no more releases
    const auto& events = frame(0.02);
    const auto scored = std::ranges::find(events, kind::gate_scored, &frame_event::what);
    ASSERT_NE(scored, events.end());
    EXPECT_EQ(std::tuple(scored->ball, scored->points, scored->position.x),
              std::tuple(0, gate.score, ball.pos.x));
    EXPECT_EQ(scored[-1].what, kind::ball_landed);  // the landing step scores
    EXPECT_EQ(g.session.total_score, 470 + gate.score);
    // The points float from this frame on, and the score's growing copy starts after them.
    EXPECT_EQ(g.tt.tt1[0].text, std::to_string(gate.score));
    EXPECT_EQ(g.tt.tt1[0].rt, 0.02);
    EXPECT_EQ(g.tt.tt1[1].text, std::to_string(470 + gate.score));
    EXPECT_EQ(g.tt.tt1[1].rt, 0.0);
}

TEST_F(Game, SlowFramesDropTheQualityAndAskForTheDeskAgain) {
    // 0.1 s frames: 10 frames per second, every frame low once the ring has filled.
    int changes = 0;
    for (int i = 0; i <= 40; ++i) {
        const auto kinds = kinds_of(frame(0.1));
        changes += static_cast<int>(std::count(kinds.begin(), kinds.end(), kind::quality_changed));
    }
    EXPECT_GE(g.quality_cfg.current_quality_level, 2);
    EXPECT_EQ(changes, 2);
}

TEST_F(Game, TheCountdownStepsOncePerFrameAfterTheFramesWork) {
    const char* texts_by_step[] = {"3", "2", "1", "PLAY!"};
    const struct {
        int step;
        double total_time;
        bool advances;
    } cases[] = {{0, 0.49, false}, {0, 0.5, true}, {0, 2.5, true},  {1, 1.5, true},  {2, 2.5, true},
                 {3, 3.49, false}, {3, 3.5, true}, {4, 9.0, false}, {-1, 9.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.step << ", " << c.total_time);
        g.tt = tt_state{};
        g.session.screen = static_cast<game_screen>(c.step);
        g.level->total_time = c.total_time - 0.25;
        const auto events = frame(0.25);
        EXPECT_EQ(static_cast<int>(g.session.screen), c.step + (c.advances ? 1 : 0));
        const auto step = std::ranges::find(events, kind::countdown_step, &frame_event::what);
        ASSERT_EQ(step != events.end(), c.advances);
        if (c.advances) {
            EXPECT_EQ(step->text, texts_by_step[c.step]);
            EXPECT_EQ(g.tt.tt1[0].text, texts_by_step[c.step]);
            EXPECT_EQ(std::pair(g.tt.tt1[0].secs, g.tt.tt1[0].rt), std::pair(1.5, 0.0));
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

TEST_F(Game, EnterStartsOnePostAndTheNameWaitsForItsResult) {
    g.session.screen = game_screen::name_entry;
    g.session.total_score = 470;
    frame(0.02, {}, false);  // a result with no post under way is ignored
    const auto started = type("Ada b\r");
    ASSERT_EQ(started.back().what, kind::post_started);
    EXPECT_EQ(std::tuple(started.back().text, started.back().score), std::tuple("ada b", 470));

    // Under way: ENTER and the name keys do nothing, P still pauses.
    EXPECT_EQ(kinds_of(type("xyp\r\b")), std::vector{kind::pause_toggled});
    EXPECT_EQ(g.session.player_name, "ada b");
    EXPECT_EQ(g.session.screen, game_screen::name_entry);

    const auto& finished = frame(0.02, {}, true);
    ASSERT_EQ(kinds_of(finished), std::vector{kind::post_finished});
    EXPECT_TRUE(finished[0].success);
    EXPECT_EQ(g.session.screen, game_screen::score_posted);
    EXPECT_TRUE(g.session.hiscore_success && !g.session.score_post_under_way);
    // The result stands: no second post, whatever the next frames bring.
    EXPECT_TRUE(frame(0.02, {}, false).empty());
    EXPECT_TRUE(g.session.hiscore_success);
}

// A frame with the post's result as the shell hands it over.
post_outcome failure(std::string reason, bool retryable = true, bool no_board = false) {
    post_outcome outcome(false);
    outcome.reason = std::move(reason);
    outcome.board = no_board ? "" : "http://[::1]:8080";
    outcome.retryable = retryable;
    outcome.no_board = no_board;
    return outcome;
}

TEST_F(Game, EnterTriesAFailedPostAgainOneAtATime) {
    g.session.screen = game_screen::name_entry;
    g.session.total_score = 470;
    type("ada\r");
    const auto& failed = g.tick({0.02, {}, failure("could not connect")});
    ASSERT_EQ(kinds_of(failed), std::vector{kind::post_finished});
    final_screen_t screen = g.final_screen();
    EXPECT_EQ(std::tuple(screen.highscore_success, screen.post_words, screen.board_address,
                         screen.retryable, screen.post_under_way),
              std::tuple(false, "could not connect", "http://[::1]:8080", true, false));

    // ENTER posts the same name and score again; more ENTERs wait for its result.
    const auto again = frame(0.02, {{true, key_enter}, {false, key_enter}, {true, key_enter}});
    ASSERT_EQ(kinds_of(again), std::vector{kind::post_started});
    EXPECT_EQ(std::tuple(again[0].text, again[0].score), std::tuple("ada", 470));
    EXPECT_TRUE(g.final_screen().post_under_way);
    EXPECT_EQ(g.session.screen, game_screen::score_posted);
    EXPECT_TRUE(frame(0.02, {{true, key_enter}, {true, 'n'}}).empty());

    post_outcome accepted(true, 3);
    accepted.board = "http://scores.example.org";
    const auto& posted = g.tick({0.02, {}, accepted});
    ASSERT_EQ(kinds_of(posted), std::vector{kind::post_finished});
    screen = g.final_screen();
    EXPECT_EQ(std::tuple(screen.highscore_success, screen.rank, screen.post_words,
                         screen.board_address, screen.post_under_way),
              std::tuple(true, 3, "", "http://scores.example.org", false));
}

TEST_F(Game, AfterTheResultEnterOrNStartsANewGameFromTheIntro) {
    struct row {
        const char* what;
        post_outcome result;
        int key;
    };
    const row rows[] = {
        {"accepted, ENTER", post_outcome(true, 2), key_enter},
        {"no board, ENTER", failure("No high-score board is set up", false, true), key_enter},
        {"bad address, ENTER", failure("bad KULIMBARA_HIGHSCORE_URL", false), key_enter},
        {"failed, N", failure("no answer in 5 s"), 'N'},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        g.Init(5);
        g.session.screen = game_screen::name_entry;
        g.session.total_score = 1230;
        g.pause_flag = true;
        g.tt.announce("100", 1.0);
        type("ada\r");
        g.tick({0.02, {}, r.result});
        EXPECT_EQ(g.final_screen().no_board, r.result.no_board);

        const auto& events = frame(0.02, {{true, r.key}});
        EXPECT_EQ(kinds_of(events), std::vector{kind::level_set_up});
        EXPECT_EQ(g.session.screen, game_screen::intro);
        EXPECT_EQ(std::tuple(g.session.current_level, g.session.total_score, g.session.player_name,
                             g.session.player_name_len, g.session.hiscore_success,
                             g.session.board_address, g.session.score_post_under_way),
                  std::tuple(0, 0, "_", 0, false, "", false));
        EXPECT_EQ(g.level->total_time, 0.02);  // restarted, then the frame's time
        EXPECT_EQ(g.level->balls.size(), load_level(0)->balls.size());
        EXPECT_TRUE(std::none_of(g.tt.tt1.begin(), g.tt.tt1.end(),
                                 [](const timedText& t) { return t.active != 0; }));
        EXPECT_EQ(g.tt.old_score, 0u);
        EXPECT_TRUE(g.pause_flag);  // the player's own, as across levels
        // And the game goes on as from the start.
        frame(0.02, {{true, 'p'}, {true, key_enter}});
        EXPECT_EQ(g.session.screen, game_screen::countdown);
    }
}

TEST_F(Game, EscapeStillQuitsOnTheResultAndWhileTryingAgain) {
    for (const bool under_way : {false, true}) {
        g = game{};
        g.Init(5);
        g.session.screen = game_screen::name_entry;
        type("ada\r");
        g.tick({0.02, {}, failure("could not connect")});
        if (under_way) {
            frame(0.02, {{true, key_enter}});
        }
        EXPECT_EQ(g.session.score_post_under_way, under_way);
        frame(0.02, {{true, key_escape}});
        EXPECT_TRUE(g.quit);
    }
}

// The game clock counts seconds. The bounds are loose: this checks the unit, not the speed.
TEST(Clock, CountsSeconds) {
    const double start = getTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double elapsed = getTime() - start;
    EXPECT_GT(elapsed, 0.015);
    EXPECT_LT(elapsed, 5.0);
}

// A scripted game of irregular frames, keys, a pause, a quality drop and a post, played frame
// by frame: the screens, scores, texts started and a digest of the whole state after every
// frame, as recorded from the game before its frame work moved into one tick.
std::string scripted_game() {
    std::string out;
    auto print = [&](const char* format, auto... args) {
        char line[256];
        std::snprintf(line, sizeof line, format, args...);
        out += line;
    };
    game g;
    g.Init();
    seed_random(7);
    const double cycle[] = {1.0 / 60, 1.0 / 30, 0.004, 0.07, 1.0 / 144};
    frame_clock clock;
    double t = 1.0;
    int last_step = 99, last_score = -1, last_q = -1;
    bool last_pause = false;
    std::array<timedText, timed_texts_count> last_texts{};
    unsigned long long hash = 1469598103934665603ull;
    auto mix = [&](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) {
            hash ^= b[i];
            hash *= 1099511628211ull;
        }
    };
    long completed_at = -1, name_at = -1;
    int typed = 0;
    const std::string name = "Ada p_9";
    std::optional<bool> answer;
    for (long frame = 0; frame < 60000; ++frame) {
        const int step = static_cast<int>(g.session.screen);
        frame_input input;
        auto press = [&](int key) { input.keys.push_back({true, key}); };
        if (frame == 30) {
            press(key_enter);
        }
        if (step >= 0 && step <= 4) {
            const long period = g.session.current_level == 3 ? 45 : 40;
            const bool held = (frame / period) % 2 == 1;
            if (held != g.game_key) {
                input.keys.push_back({held, key_space});
            }
        }
        if (g.session.current_level == 1 && step == 4 && frame % 500 == 0) {
            press('P');
        }
        if (g.session.current_level == 1 && g.pause_flag && frame % 500 == 50) {
            press('p');
        }
        if (step == 5) {
            completed_at = completed_at < 0 ? frame : completed_at;
            if (frame - completed_at == 20) {
                press(key_enter);
                completed_at = -1;
            }
        }
        if (step == -2) {
            name_at = name_at < 0 ? frame : name_at;
            if (typed < static_cast<int>(name.size()) && frame - name_at == 10 + 3 * typed) {
                press(name[typed]);
                input.keys.push_back({false, name[typed]});
                typed++;
            }
            if (frame - name_at == 60) {
                press(key_enter);
            }
            if (frame - name_at == 70) {
                answer = true;
            }
        }
        if (step == -3 && frame - name_at == 90) {
            press(key_escape);
        }
        double seconds = cycle[frame % 5];
        if (g.session.current_level == 0 && step == 4 && frame >= 400 && frame < 500) {
            seconds = 0.07;
        }
        input.deltaT = clock.next(t += seconds);
        input.post_result = answer;
        for (const frame_event& e : g.tick(input)) {
            if (e.what == kind::post_started) {
                print("post %s %d\n", e.text.c_str(), e.score);
            }
        }
        if (g.quit) {
            print("end\nF %ld quit hash %016llx\n", frame, hash);
            break;
        }
        const level_t& L = *g.level;
        const int screen = static_cast<int>(g.session.screen);
        const int quality = g.quality_cfg.current_quality_level;
        mix(&screen, sizeof screen);
        mix(&L.total_time, 8);
        mix(&g.session.total_score, 4);
        mix(&g.tt.old_score, sizeof g.tt.old_score);
        mix(&g.tt.score_x, 8);
        mix(&g.tt.score_y, 8);
        mix(&L.rotation.y, 8);
        mix(&quality, 4);
        for (const ball_t& b : L.balls) {
            mix(&b.pos, sizeof b.pos);
            mix(&b.active, 1);
        }
        for (const timedText& s : g.tt.tt1) {
            mix(&s.rt, 8);
            mix(&s.active, 4);
            mix(s.text.data(), s.text.size());
        }
        mix(&g.tt.intro.latin_angle, 8);
        mix(&g.tt.intro.rotation_index, 4);
        if (screen != last_step || g.session.total_score != last_score || quality != last_q ||
            g.pause_flag != last_pause) {
            print("F %ld level %d step %d t %.17g score %d quality %d pause %d hash %016llx\n",
                  frame, g.session.current_level, screen, L.total_time, g.session.total_score,
                  quality, g.pause_flag ? 1 : 0, hash);
            last_step = screen;
            last_score = g.session.total_score;
            last_q = quality;
            last_pause = g.pause_flag;
        }
        for (int i = 0; i < timed_texts_count; ++i) {
            const timedText& s = g.tt.tt1[i];
            const bool shiver_copy = s.scale2 == 2.75;
            if (s.active != 0 && !shiver_copy &&
                (last_texts[i].active == 0 || s.rt < last_texts[i].rt)) {
                print("F %ld text %d '%s' rt %.17g x %.17g y %.17g\n", frame, i, s.text.c_str(),
                      s.rt, s.x, s.y);
            }
        }
        last_texts = g.tt.tt1;
    }
    print("name '%s' hash %016llx\n", g.session.player_name.c_str(), hash);
    return out;
}

TEST(Frames, AScriptedGameRunsFrameForFrameAsRecorded) {
    std::ifstream file(KULIMBARA_SOURCE_DIR "/tests/golden/frames.txt");
    ASSERT_TRUE(file);
    std::stringstream recorded;
    recorded << file.rdbuf();
    const std::string played = scripted_game();
    // Line by line, so that a failure names the first frame that differs.
    std::istringstream a(recorded.str()), b(played);
    std::string want, got;
    for (int line = 1; std::getline(a, want); ++line) {
        ASSERT_TRUE(std::getline(b, got)) << "the game ended early, before line " << line;
        ASSERT_EQ(got, want) << "line " << line;
    }
    EXPECT_FALSE(std::getline(b, got)) << "the game went on: " << got;
}

}  // namespace
