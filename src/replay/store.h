// SPDX-License-Identifier: MIT
// Where the game keeps the replays of the games played on this machine: one file per game in
// $XDG_DATA_HOME/kulimbara/replays (~/.local/share/kulimbara/replays without it), named by the
// game's start (UTC) and score, written whole or not at all, and thinned to the best and the
// latest. The writing blocks on the disk, so the game does it on a worker (replay_saver).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "replay.h"

// How many replays the folder keeps: the best by score and the latest by start; a file that is
// both counts once.
constexpr std::size_t replays_kept_best = 25;
constexpr std::size_t replays_kept_latest = 25;

// The folder, from XDG_DATA_HOME (when absolute) or HOME; nullopt when neither is set.
std::optional<std::string> replay_folder();

// "2026-12-07_20-15-03_2820.replay" for a finished game started at that UTC second with that
// score; "..._30-unfinished.replay" for a game quit before its end.
std::string replay_file_name(const replay& r);

// Of the file names in a replay folder, those that retention removes: every name of ours that
// is neither among the `best` highest scores (the later start first among equal scores) nor
// among the `latest` starts. Names that are not ours are never returned.
std::vector<std::string> replays_to_remove(const std::vector<std::string>& names,
                                           std::size_t best = replays_kept_best,
                                           std::size_t latest = replays_kept_latest);

struct replay_save_result {
    bool saved = false;
    std::string path;   // the file written
    std::string error;  // one line, when not saved
};

// Writes the replay into `folder` (created as needed) under replay_file_name(): a temporary
// file in the same folder, synced, then renamed over, so that a reader sees the whole file or
// none. Then removes what retention removes; a file that cannot be removed is left.
replay_save_result save_replay(const std::string& folder, const replay& r);

// A replay file read and decoded; the error names the file.
replay_read load_replay(const std::string& path);

// One save at a time on a worker thread, polled from the game's thread. The worker owns a
// share of what it reports into, so the process may end while a save is under way.
class replay_saver {
  public:
    // Starts saving into `folder` (nullopt: no folder is known, which fails at once).
    void start(std::optional<std::string> folder, replay r);
    // The result once the save is over; once per save.
    std::optional<replay_save_result> poll();
    // Waits at most `bound` for a save under way; its result, or nullopt when none is under way
    // or it is not over in time.
    std::optional<replay_save_result> wait(std::chrono::milliseconds bound);
    bool under_way() const { return state_ != nullptr; }

  private:
    struct shared_state;
    std::shared_ptr<shared_state> state_;
};

class game;
struct frame_event;

// When a game's replay is saved: once per game, when its name is posted (the post_started
// event, the name set), or when the process quits (with the name typed so far on the end
// screen, or unfinished with no name), whichever comes first. Games that never left the intro
// are not saved.
class replay_save_trigger {
  public:
    // After each frame, the recorder having observed it: the replay to save now, if any.
    std::optional<replay> after_frame(const replay_recorder& recorder, const game& after,
                                      const std::vector<frame_event>& events);

  private:
    bool saved_ = false;
};
