// SPDX-License-Identifier: MIT
// What one frame of the game receives, and what it reports. A frame's input is everything
// from outside that the game reads: the same inputs give the same game, wherever it runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "physics.h"
#include "types.h"

// Keys as the window system delivers them; only the low byte counts.
constexpr int key_backspace = 8;
constexpr int key_enter = 13;
constexpr int key_escape = 27;
constexpr int key_space = 32;

struct key_event {
    bool down = true;  // pressed; false when released
    int key = 0;
};

// The score post's result: whether the service accepted it, and the rank the board gave the
// game (0 when it gave none); for a failure, why in a few words, and whether trying again can
// help (not without a board). A bare bool is a result without a rank or words.
struct post_outcome {
    bool success = false;
    int rank = 0;
    std::string reason;     // a failure in a few words: "could not connect"
    std::string board;      // the board's address, empty when there was none
    bool retryable = true;  // a failure that ENTER may try again
    bool no_board = false;  // no board is set up: nothing failed, there was nowhere to post

    post_outcome() = default;
    post_outcome(bool accepted, int board_rank = 0)  // NOLINT(google-explicit-constructor)
        : success(accepted), rank(board_rank) {}
};

struct frame_input {
    double deltaT = 0.0;  // seconds since the previous frame, as the clock measured them
    // The keys pressed and released since the previous frame, in the order they came.
    std::vector<key_event> keys;
    // The score post's result, once the attempt under way is over.
    std::optional<post_outcome> post_result;
};

// What happened in a frame, in the order it happened. The ball events come from the physics.
struct frame_event {
    enum class kind {
        ball_released,
        ball_landed,      // speed: downward speed as it met the desk top
        ball_contact,     // other: the second ball; speed: their closing speed
        block_contact,    // other: the block; speed: the speed into its face
        gate_scored,      // points, and where the ball scored them
        ball_fell,        // lost the desk's support, over_hole or past the edge
        ball_lost,        // left the simulation cube: out of the level
        countdown_step,   // text: "3", "2", "1" or "PLAY!"
        level_completed,  // level: the level number
        game_over,        // the last level is done: the name entry begins
        name_edited,      // text: the name as typed, without the cursor
        post_started,     // text: the name; score: the score posted
        post_finished,    // success: whether the score was accepted; points: its rank or 0
        pause_toggled,    // paused: the pause as it now stands
        sound_toggled,    // success: whether sound is now on
        level_set_up,     // a level became current: its geometry is to be built for drawing
        quality_changed,  // the quality settings dropped: segment counts may have changed
    };
    kind what = kind::ball_released;
    int ball = -1;
    int other = -1;
    double speed = 0.0;
    int points = 0;
    point2D_t position;
    bool over_hole = false;
    int level = 0;
    int score = 0;
    bool success = false;
    bool paused = false;
    std::string text;

    // The frame event for what the physics reported.
    static frame_event from(const physics_event& event);
};
