// SPDX-License-Identifier: MIT
#include "store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "command_line.h"
#include "game.h"
#include "playback.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A scratch folder of the test's own, removed with it.
struct scratch_folder {
    fs::path path;
    scratch_folder() {
        std::string pattern = (fs::temp_directory_path() / "kulimbara-store-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~scratch_folder() { fs::remove_all(path); }
};

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::string stamp(int i) {  // one file a minute, 2026-12-07 from 10:00
    char text[32];
    std::snprintf(text, sizeof text, "2026-12-07_%02d-%02d-00", 10 + i / 60, i % 60);
    return text;
}

// Sixty games in time order: the first 25 scored best, the rest little, but the last of all
// best of all, so that it is both among the best and the latest.
std::vector<std::string> sixty_games() {
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
        const int score = i == 59 ? 5000 : i < 25 ? 1000 - 10 * i : i;
        names.push_back(stamp(i) + "_" + std::to_string(score) + (i % 7 == 0 ? "-unfinished" : "") +
                        ".replay");
    }
    return names;
}

const std::vector<std::string> foreign_names = {"notes.txt",
                                                ".saving-Ab12Cd",
                                                "2026-12-07_10-00-00_x.replay",
                                                "2026-12-07_10-00-00_1.replay~",
                                                "2026-12-07_10-00-00_.replay",
                                                "2026-12-07 10-00-00_5.replay"};

TEST(ReplayStore, NamesByUtcStartAndScore) {
    replay r;
    r.start_utc = 1796674503;  // 2026-12-07 20:15:03 UTC
    r.total_score = 2820;
    r.finished = true;
    EXPECT_EQ(replay_file_name(r), "2026-12-07_20-15-03_2820.replay");
    r.total_score = 30;
    r.finished = false;
    EXPECT_EQ(replay_file_name(r), "2026-12-07_20-15-03_30-unfinished.replay");

    const char* home = std::getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    ::setenv("XDG_DATA_HOME", "/data", 1);
    ::setenv("HOME", "/home/ada", 1);
    EXPECT_EQ(replay_folder(), "/data/kulimbara/replays");
    ::setenv("XDG_DATA_HOME", "relative", 1);  // a relative XDG_DATA_HOME is ignored
    EXPECT_EQ(replay_folder(), "/home/ada/.local/share/kulimbara/replays");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(replay_folder(), std::nullopt);
    if (home != nullptr) {
        ::setenv("HOME", saved_home.c_str(), 1);
    }
}

// The best 25 are games 1 to 24 and the last (game 25 falls out for it), the latest 25 games
// 35 to 59: games 24 to 34 go, and no name that is not a replay of ours.
TEST(ReplayStore, RetentionKeepsTheBestAndTheLatestAndNothingForeign) {
    std::vector<std::string> names = sixty_games();
    names.insert(names.end(), foreign_names.begin(), foreign_names.end());
    std::reverse(names.begin(), names.end());  // the folder's order does not matter
    const std::vector<std::string> all = sixty_games();
    std::vector<std::string> removed = replays_to_remove(names);
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed, std::vector(all.begin() + 24, all.begin() + 35));
    EXPECT_EQ(replays_to_remove(names, 60, 0), std::vector<std::string>{});
}

TEST(ReplayStore, SavesWholeFilesAtomicallyAndThinsTheFolder) {
    scratch_folder scratch;
    const fs::path folder = scratch.path / "data" / "kulimbara" / "replays";
    fs::create_directories(folder / "a folder");
    std::set<std::string> expected{"a folder"};
    for (const std::string& name : sixty_games()) {
        std::ofstream(folder / name) << "old";
        expected.insert(name);
    }
    for (const std::string& name : foreign_names) {
        std::ofstream(folder / name) << "not ours";
        expected.insert(name);
    }
    replay r;
    r.rules = rules_hash();
    r.start_utc = 1796674503;
    r.total_score = 990;  // among the best, and the latest
    r.finished = true;
    r.player_name = "ada";
    r.frames = {{16667, 1}, {16666, 1}};
    r.keys = {{true, key_enter}};

    replay_saver saver;
    saver.start(folder.string(), r);
    const std::optional<replay_save_result> result = saver.wait(10s);
    ASSERT_TRUE(result && result->saved) << (result ? result->error : "no result in time");
    EXPECT_EQ(result->path, (folder / "2026-12-07_20-15-03_990.replay").string());
    EXPECT_FALSE(saver.under_way());
    const replay_read back = load_replay(result->path);
    ASSERT_TRUE(back.result) << back.error;
    EXPECT_EQ(encode_replay(*back.result), encode_replay(r));

    // The new file displaces the oldest of the latest (game 35); no temporary is left.
    const std::vector<std::string> all = sixty_games();
    for (std::size_t i = 23; i <= 35; ++i) {
        expected.erase(all[i]);
    }
    expected.insert(fs::path(result->path).filename().string());
    EXPECT_EQ(names_in(folder), expected);
}

// Even root cannot make a folder under a file: one line of error, nothing written.
TEST(ReplayStore, AnUnwritableFolderIsOneLineOfError) {
    scratch_folder scratch;
    std::ofstream(scratch.path / "file") << "x";
    replay r;
    r.rules = rules_hash();
    const replay_save_result result = save_replay((scratch.path / "file" / "replays").string(), r);
    EXPECT_FALSE(result.saved);
    EXPECT_NE(result.error.find((scratch.path / "file").string()), std::string::npos);
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
    EXPECT_EQ(names_in(scratch.path), std::set<std::string>{"file"});

    replay_saver saver;
    saver.start(std::nullopt, r);  // no folder known: failed at once, not on a thread
    const std::optional<replay_save_result> unknown = saver.poll();
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->error.find("HOME"), std::string::npos);

    std::ofstream(scratch.path / "cut.replay") << encode_replay(r).substr(0, 12);
    EXPECT_EQ(load_replay((scratch.path / "cut.replay").string()).error,
              (scratch.path / "cut.replay").string() + ": truncated");
}

// The recorder reaching its end is not yet a save: the name posted, or the quit, is.
TEST(ReplayStore, SavesOnceAtThePostOrAtTheQuitWithTheNameTyped) {
    game g;
    g.Init(0);
    frame_event over, posted;
    over.what = frame_event::kind::game_over;
    posted.what = frame_event::kind::post_started;
    posted.text = "ada";
    replay_recorder recorder;
    replay_save_trigger trigger;
    const auto play = [&](const std::vector<frame_event>& events) {
        recorder = replay_recorder();
        trigger = replay_save_trigger();
        recorder.start(false, false);
        recorder.record({0.016667, {}, std::nullopt}, g, events);
    };
    g.quit = true;
    EXPECT_FALSE(trigger.after_frame(recorder, g, {}));  // never left the intro
    g.quit = false;
    play({over});
    EXPECT_FALSE(trigger.after_frame(recorder, g, {over}));
    std::optional<replay> saved = trigger.after_frame(recorder, g, {posted});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->player_name, "ada");
    EXPECT_TRUE(saved->finished);
    g.quit = true;
    EXPECT_FALSE(trigger.after_frame(recorder, g, {}));

    play({over});  // quit in the name entry: the name as typed, without its cursor
    g.session.player_name = "ad_";
    g.session.player_name_len = 2;
    saved = trigger.after_frame(recorder, g, {});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->player_name, "ad");
    play({});  // quit during play
    saved = trigger.after_frame(recorder, g, {});
    ASSERT_TRUE(saved);
    EXPECT_FALSE(saved->finished);
    EXPECT_EQ(saved->player_name, "");
}

// Frames of 10, 20, 0 and 30 ms end at 10, 30, 30 and 60 ms of the replay's clock.
TEST(ReplayPacing, FramesAreDueByTheReplaysClockAtOneOrFourTimesAndNotWhilePaused) {
    replay r;
    r.frames = {{10000, 0}, {20000, 0}, {0, 0}, {30000, 0}};
    replay_pacer pacer(r);
    const std::int64_t t0 = 5'000'000'000;
    EXPECT_EQ(pacer.due(t0), 0u);
    EXPECT_EQ(pacer.due(t0 + 9999), 0u);
    EXPECT_EQ(pacer.due(t0 + 10000), 1u);
    EXPECT_EQ(pacer.due(t0 + 29999), 1u);
    EXPECT_EQ(pacer.due(t0 + 30000), 3u);  // the empty frame is due with the one before
    pacer.set_paused(t0 + 35000, true);
    EXPECT_EQ(pacer.due(t0 + 900000), 3u);
    pacer.set_paused(t0 + 1000000, false);  // 35 ms of the replay so far
    pacer.set_fast(t0 + 1000000, true);
    EXPECT_EQ(pacer.due(t0 + 1006249), 3u);  // 59.996 ms
    EXPECT_EQ(pacer.due(t0 + 1006250), 4u);  // 25 ms more at four times: 60 ms
    EXPECT_EQ(pacer.due(t0), 4u);            // a clock that goes back stops nothing
    EXPECT_EQ(pacer.frame_count(), 4u);
}

TEST(ReplayCommandLine, ReplayTakesAFile) {
    const game_command_line line = parse_game_command_line({"--replay", "a.replay", "--windowed"});
    EXPECT_EQ(line.reading.what, command_reading::request::run);
    EXPECT_EQ(line.replay_path, "a.replay");
    EXPECT_TRUE(line.windowed);
    for (const std::vector<std::string_view>& args :
         {std::vector<std::string_view>{"--replay"}, {"--replay", ""}}) {
        EXPECT_EQ(parse_game_command_line(args).reading.what, command_reading::request::bad);
    }
}

}  // namespace
