// SPDX-License-Identifier: MIT
// Replays: a game as the list of what its tick received, frame by frame, with the results the
// player claims for it. The physics gives the same game to the last bit wherever the tick runs,
// so playing the frames again through a fresh game proves or refutes the claim. The recorder
// writes them while the game is played; the simulator and the high-score service replay them.
// docs/replay-format.md describes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "frame.h"

class game;

constexpr std::uint16_t replay_format_version = 1;

// Raised by hand whenever a change to the game's code (not its tables) would play the same
// frames differently: old replays are then refused by their rules, never misjudged.
constexpr std::uint32_t replay_rules_revision = 1;

// Limits of a readable file: a longer frame (60 s: the game's frame clock never measures more)
// or more frames make it a bad file, whoever made it.
constexpr std::uint32_t replay_max_frame_micros = frame_micros_clock::max_frame_micros;
constexpr std::size_t replay_max_frames = 4'000'000;
constexpr std::size_t replay_max_keys_per_frame = 64;

// The identity of the rules a replay was made under: a hash of the format version, the rules'
// revision, the physics constants and every number of the six level tables.
std::uint64_t rules_hash();

// What a level's end left: the points scored in it and a digest of the game's state then
// (the desk, every ball, the level clock and the score), so that two games with the same
// score but other play tell apart.
struct level_claim {
    int score = 0;
    std::uint64_t digest = 0;
    bool operator==(const level_claim&) const = default;
};

// One frame: the seconds the tick received, as whole microseconds, and the end of its keys in
// the replay's key list (the frame's keys follow those of the frame before).
struct replay_frame {
    std::uint32_t micros = 0;
    std::uint32_t keys_end = 0;
};

struct replay {
    std::uint64_t rules = 0;
    // The game reached the end-of-game screen; false when it was quit before.
    bool finished = false;
    std::string player_name;           // empty until the player names it
    std::int64_t start_utc = 0;        // seconds since 1970-01-01 UTC of the first frame
    bool space_held_at_start = false;  // SPACE was down before the first frame
    bool paused_at_start = false;      // the game was paused before the first frame
    // Every level played, in order; for an unfinished game, the last is the level it was
    // quit in, claimed as it stood.
    std::vector<level_claim> levels;
    int total_score = 0;
    std::vector<replay_frame> frames;
    std::vector<key_event> keys;

    // What the tick received in frame `i`.
    frame_input input(std::size_t i) const;
    // The frame's seconds, as the tick received them: micros / 1e6.
    static double seconds(std::uint32_t micros);
    // The whole microseconds that `deltaT` is exactly, or nullopt (a negative, too long or
    // fractional frame time cannot be recorded).
    static std::optional<std::uint32_t> micros_of(double deltaT);
    // Seconds of play: the sum of the frame times.
    double duration() const;
};

// The file's bytes.
std::string encode_replay(const replay& r);

// A file read back, or why it cannot be: truncated, wrong magic, another version or rules, a
// frame time out of bounds, trailing bytes.
struct replay_read {
    std::optional<replay> result;
    std::string error;
};
replay_read decode_replay(std::string_view bytes);

// A hash of the frame stream alone (frame times and keys): the same play under any name.
std::uint64_t frames_hash(const replay& r);

// Writes the replay of a game as it is played. The game is watched after every tick: the
// recording starts with the frame that leaves the intro (ENTER), claims each level as it is
// completed, and ends with the frame that reaches the end-of-game screen, or with ESCAPE.
class replay_recorder {
  public:
    enum class state { idle, recording, finished, unfinished };

    // `utc_now` gives the start time; the system clock by default.
    explicit replay_recorder(std::function<std::int64_t()> utc_now = {});

    // After each tick: the input it received, the game as the tick left it and its events.
    // A new game (ENTER on the intro) starts a new recording, dropping one that is over.
    state observe(const frame_input& input, const game& after,
                  const std::vector<frame_event>& events);

    // Starts recording before a frame whatever the screen: the replayer's entry point.
    void start(bool space_held, bool paused);
    // One frame of a recording under way.
    state record(const frame_input& input, const game& after,
                 const std::vector<frame_event>& events);

    state current() const { return state_; }
    const replay& recording() const { return replay_; }
    replay& recording() { return replay_; }

  private:
    void claim_level(const game& after);

    std::function<std::int64_t()> utc_now_;
    state state_ = state::idle;
    replay replay_;
    int level_score_ = 0;
    int claimed_level_ = -1;  // the last level claimed
    bool space_held_ = false;
    bool paused_ = false;
    bool on_intro_ = true;
};

// A replay played again: what the frames give under this build's rules.
struct replay_level_result {
    int level = 0;
    level_claim claim;
    bool completed = false;
    long frames = 0;
    double seconds = 0.0;  // the level clock when it ended
};

struct replay_outcome {
    std::vector<replay_level_result> levels;
    int total_score = 0;
    bool finished = false;
    std::size_t frames_played = 0;
    std::string problem;  // the frames themselves do not make a game (empty when they do)
    // A hash of every level's claim: the same game, whatever its frames' irrelevant details.
    std::uint64_t outcome_hash() const;
};

// Plays the frames through a fresh game from the intro.
replay_outcome replay_game(const replay& r);

// The verdict on a replay's claims against its outcome.
struct replay_verdict {
    bool holds = false;
    int first_level = -1;  // the first level whose claim differs, or -1
    std::string reason;    // one line, empty when the claims hold
};
replay_verdict judge_replay(const replay& claimed, const replay_outcome& outcome);

// Plausibility, for a service that ranks replays: a finished game, at most
// replay_max_game_seconds long, whose frames are no shorter than replay_min_frame_micros but
// for one in a hundred (a frame loop's jitter). Empty when plausible, else the reason.
constexpr std::uint32_t replay_min_frame_micros = 1000;
constexpr double replay_max_game_seconds = 4 * 3600.0;
std::string implausibility(const replay& r);
