// SPDX-License-Identifier: MIT
// One game from the intro to the posted score: the screen it is on, the score of all its
// levels so far, the level it is at, and the name typed at the end.
#pragma once

#include <string>

#include "protocol.h"

// The game's screens. The countdown's four steps follow each other in value, as do the
// countdown, play and the completed level.
enum class game_screen : int {
    score_posted = -3,  // the end-of-game screen once the post's result is known
    name_entry = -2,    // the end-of-game screen while the name is typed
    intro = -1,
    countdown = 0,  // the desk zooms in, no number shown yet
    countdown_3 = 1,
    countdown_2 = 2,
    countdown_1 = 3,
    play = 4,
    level_completed = 5,
};

// The screens by what they show; the one place that knows how the values are ordered.
constexpr bool is_end_screen(game_screen screen) {
    return screen == game_screen::score_posted || screen == game_screen::name_entry;
}
constexpr bool is_intro(game_screen screen) {
    return screen == game_screen::intro;
}
constexpr bool is_countdown(game_screen screen) {
    return screen >= game_screen::countdown && screen < game_screen::play;
}
constexpr bool is_play(game_screen screen) {
    return screen == game_screen::play;
}
constexpr bool is_level_completed(game_screen screen) {
    return screen == game_screen::level_completed;
}
// Countdown, play and level completed: the desk, the head-up display and the floating texts.
constexpr bool shows_desk(game_screen screen) {
    return screen >= game_screen::countdown;
}
constexpr bool is_valid_screen(game_screen screen) {
    return screen >= game_screen::score_posted && screen <= game_screen::level_completed;
}

// The screen a level opens on: the first level waits behind the intro, the others start their
// countdown at once.
constexpr game_screen opening_screen(int level_number) {
    return level_number == 0 ? game_screen::intro : game_screen::countdown;
}

struct game_session {
    int current_level = 0;  // 0 to 5; 6 once the last level is finished
    int total_score = 0;    // the gate points of every level so far
    game_screen screen = game_screen::intro;
    bool hiscore_success = false;    // the post's result, shown once the screen is score_posted
    int hiscore_rank = 0;            // the board's rank for the posted game, 0 when none was given
    std::string hiscore_reason;      // a failed post in a few words
    std::string board_address;       // where the last post went; empty when no board is set up
    bool hiscore_retryable = false;  // a failed post that ENTER tries again
    bool no_board = false;           // the post found no board set up
    // The name being typed; while typing it ends with the cursor '_'.
    std::string player_name = "_";
    int player_name_len = 0;
    // From ENTER on a name (or on a failed post's result, trying again) until the post's
    // result is known; the name is fixed meanwhile.
    bool score_post_under_way = false;
};
