// SPDX-License-Identifier: MIT
#include "replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

#include "game.h"
#include "levels.h"
#include "simulator.h"

namespace {

// Level 0 played to its end as a player would, then level 1 quit with ESCAPE.
const replay& short_game() {
    static const replay r = [] {
        sim_options options;
        options.dt = replay::seconds(16667);
        options.keys = *key_pattern::parse("toggle:90");
        options.max_time = 50.0;
        return play_recorded_game(options, "ada");
    }();
    return r;
}

replay round_trip(const replay& r) {
    const replay_read read = decode_replay(encode_replay(r));
    EXPECT_EQ(read.error, "");
    return read.result.value_or(replay{});
}

replay_verdict verify(const replay& r) {
    return judge_replay(r, replay_game(r));
}

TEST(Replay, AGameSavedAndReadBackPlaysToItsClaims) {
    const replay& r = short_game();
    ASSERT_FALSE(r.finished);
    ASSERT_EQ(r.levels.size(), 2u);  // one completed, the second quit
    EXPECT_GT(r.total_score, 0);
    EXPECT_EQ(r.player_name, "ada");
    const replay back = round_trip(r);
    EXPECT_EQ(encode_replay(back), encode_replay(r));
    const replay_outcome outcome = replay_game(back);
    EXPECT_EQ(outcome.problem, "");
    EXPECT_EQ(outcome.frames_played, r.frames.size());
    ASSERT_EQ(outcome.levels.size(), 2u);
    EXPECT_TRUE(outcome.levels[0].completed);
    EXPECT_FALSE(outcome.levels[1].completed);
    const replay_verdict verdict = judge_replay(back, outcome);
    EXPECT_TRUE(verdict.holds) << verdict.reason;
}

TEST(Replay, TamperedPlayOrClaimsAreRefusedNamingTheLevel) {
    const replay& r = short_game();
    const auto has_space = [&](std::size_t i) {
        return std::ranges::any_of(r.input(i).keys, [](key_event k) { return k.key == key_space; });
    };
    std::size_t space = 300;  // the first frame of play with a SPACE event
    while (space < r.frames.size() && !has_space(space)) {
        ++space;
    }
    ASSERT_LT(space, r.frames.size());

    replay moved = r;  // the first SPACE a frame later: its keys join the next frame's
    moved.frames[space].keys_end = moved.frames[space - 1].keys_end;
    EXPECT_FALSE(verify(round_trip(moved)).holds);

    replay slower = r;
    slower.frames[space + 30].micros += 1;
    const replay_verdict slow = verify(round_trip(slower));
    EXPECT_FALSE(slow.holds);
    EXPECT_EQ(slow.first_level, 0) << slow.reason;

    replay raised = r;
    raised.levels[1].score += 10;
    raised.total_score += 10;
    const replay_verdict more = verify(round_trip(raised));
    EXPECT_EQ(more.first_level, 1);
    EXPECT_NE(more.reason.find("claimed score"), std::string::npos) << more.reason;

    replay total = r;
    total.total_score += 1;
    EXPECT_FALSE(verify(total).holds);

    replay finished = r;
    finished.finished = true;
    EXPECT_FALSE(verify(finished).holds);

    replay late = r;  // a quiet frame on the intro before ENTER
    late.frames.insert(late.frames.begin(), replay_frame{16667, 0});
    EXPECT_NE(verify(late).reason.find("the first frame does not start the game"),
              std::string::npos);

    replay cut = r;  // the frames stop before ESCAPE
    cut.frames.pop_back();
    cut.keys.resize(cut.frames.back().keys_end);
    EXPECT_FALSE(verify(cut).holds);
}

TEST(Replay, BadFilesAreRefusedWithTheirReason) {
    const std::string good = encode_replay(short_game());
    auto error_of = [](const std::string& bytes) { return decode_replay(bytes).error; };

    // Every cut of the header and the first frames, and of the last, is refused, never misread.
    for (std::size_t n = 0; n < 200; ++n) {
        EXPECT_EQ(error_of(good.substr(0, n)), "truncated") << n;
    }
    EXPECT_EQ(error_of(good.substr(0, good.size() - 1)), "truncated");
    EXPECT_EQ(error_of(good + '\0'), "1 bytes after the last frame");
    EXPECT_EQ(error_of("XBREPLAY" + good.substr(8)), "not a replay: wrong magic");

    std::string version = good, rules = good;
    version[8] = 2;
    rules[12] ^= 1;
    EXPECT_TRUE(error_of(version).starts_with("format version 2 is not known"));
    EXPECT_TRUE(error_of(rules).starts_with("made under other rules"));

    replay r = short_game();
    r.frames[5].micros = replay_max_frame_micros + 1;
    EXPECT_NE(error_of(encode_replay(r)).find("frame 5 lasts 60000001"), std::string::npos);
    r = short_game();
    r.player_name = "Ada";
    EXPECT_EQ(error_of(encode_replay(r)), "the name holds a character no player can type");
    r.player_name = std::string(17, 'a');
    EXPECT_NE(error_of(encode_replay(r)).find("the name's length 17"), std::string::npos);
}

TEST(Replay, OnlyExactFrameTimesWithinTheBoundCanBeRecorded) {
    EXPECT_EQ(replay::micros_of(0.016667), 16667u);
    EXPECT_EQ(replay::micros_of(0.0), 0u);
    EXPECT_EQ(replay::micros_of(60.0), replay_max_frame_micros);
    EXPECT_FALSE(replay::micros_of(1.0 / 60));
    EXPECT_FALSE(replay::micros_of(-0.001));
    EXPECT_FALSE(replay::micros_of(60.000001));
    EXPECT_FALSE(replay::micros_of(std::numeric_limits<double>::quiet_NaN()));

    // The game's own frame clock gives only such times, clamped at the bound.
    frame_micros_clock clock;
    EXPECT_EQ(clock.next(5'000'000), 0.0);
    EXPECT_EQ(clock.next(5'016'667), 0.016667);
    EXPECT_EQ(clock.next(4'000'000), 0.0);
    EXPECT_EQ(clock.next(200'000'000), 60.0);
}

TEST(Replay, TheRecorderStartsOnEnterKeepsTheStateBeforeAndDropsInexactFrames) {
    game g;
    g.Init(0);
    replay_recorder recorder([] { return std::int64_t{42}; });
    auto frame = [&](std::vector<key_event> keys, double deltaT = 0.01) {
        frame_input input;
        input.deltaT = deltaT;
        input.keys = std::move(keys);
        return recorder.observe(input, g, g.tick(input));
    };
    using state = replay_recorder::state;
    EXPECT_EQ(frame({{true, key_space}, {true, 'p'}}), state::idle);
    EXPECT_EQ(frame({{false, 'p'}, {true, key_enter}}), state::recording);
    const replay& r = recorder.recording();
    EXPECT_EQ(r.start_utc, 42);
    EXPECT_TRUE(r.space_held_at_start);
    EXPECT_TRUE(r.paused_at_start);
    EXPECT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.keys.size(), 2u);
    EXPECT_EQ(frame({{true, key_escape}}), state::unfinished);
    EXPECT_EQ(r.levels.size(), 1u);

    game h;
    h.Init(0);
    replay_recorder dropped;
    frame_input input;
    input.deltaT = 1.0 / 60;
    input.keys = {{true, key_enter}};
    EXPECT_EQ(dropped.observe(input, h, h.tick(input)), state::idle);
}

TEST(Replay, ANewGameAfterThePostIsANewRecording) {
    game g;
    g.Init(0);
    std::int64_t utc = 1;
    replay_recorder recorder([&] { return utc; });
    using state = replay_recorder::state;
    auto frame = [&](std::vector<key_event> keys, std::optional<post_outcome> result = {}) {
        frame_input input;
        input.deltaT = 0.01;
        input.keys = std::move(keys);
        input.post_result = std::move(result);
        return recorder.observe(input, g, g.tick(input));
    };
    EXPECT_EQ(frame({{true, key_enter}}), state::recording);
    // The last level done: the game is over and its recording with it.
    g.session.current_level = levels_count - 1;
    g.session.screen = game_screen::level_completed;
    EXPECT_EQ(frame({{true, key_enter}}), state::finished);
    frame({{true, 'a'}, {true, key_enter}});
    frame({}, post_outcome(true, 1));
    const std::size_t frames_of_first = recorder.recording().frames.size();
    EXPECT_EQ(frame({{true, key_enter}}), state::finished);  // back on the intro
    EXPECT_EQ(recorder.recording().frames.size(), frames_of_first);

    utc = 2;
    EXPECT_EQ(frame({{true, key_enter}}), state::recording);
    const replay& r = recorder.recording();
    EXPECT_EQ(std::tuple(r.start_utc, r.frames.size(), r.levels.size(), r.finished, r.total_score),
              std::tuple(std::int64_t{2}, std::size_t{1}, std::size_t{0}, false, 0));
}

TEST(Replay, PlausibilityWantsAFinishedGameOfHumanFrames) {
    replay r;
    r.frames.assign(1000, {16667, 0});
    EXPECT_EQ(implausibility(r), "the game was not finished");
    r.finished = true;
    EXPECT_EQ(implausibility(r), "");
    for (int i = 1; i <= 10; ++i) {
        r.frames[i].micros = 500;
    }
    EXPECT_EQ(implausibility(r), "");  // one in a hundred: the frame loop's jitter
    r.frames[11].micros = 500;
    EXPECT_EQ(implausibility(r), "11 of 1000 frames are shorter than 1 ms");
    r.frames.assign(300, {replay_max_frame_micros, 0});
    EXPECT_EQ(implausibility(r), "the game lasts longer than 4 hours");
}

// tests/golden/game.replay holds a whole game; every build must prove it. `make golden`
// records it anew after an intended change to the rules (KULIMBARA_RECORD_GOLDEN=1), which
// must come with a new replay_rules_revision.
TEST(Replay, TheRecordedWholeGameStillVerifies) {
    const std::string path = KULIMBARA_SOURCE_DIR "/tests/golden/game.replay";
    if (std::getenv("KULIMBARA_RECORD_GOLDEN") != nullptr) {
        sim_options options;
        options.dt = replay::seconds(16667);
        options.keys = *key_pattern::parse("toggle:45");
        std::ofstream(path, std::ios::binary)
            << encode_replay(play_recorded_game(options, "golden"));
        GTEST_SKIP() << "recorded " << path;
    }
    std::stringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    const replay_read read = decode_replay(bytes.str());
    ASSERT_TRUE(read.result) << read.error << " (run 'make golden' after a change of rules)";
    EXPECT_TRUE(read.result->finished);
    EXPECT_EQ(read.result->levels.size(), 6u);
    const replay_verdict verdict = verify(*read.result);
    EXPECT_TRUE(verdict.holds) << verdict.reason;
}

}  // namespace
