// SPDX-License-Identifier: MIT
// The game's command line: which options were given, or what is wrong with it. Pure, so that
// it is decided before anything touches the display.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "option_parser.h"

struct game_command_line {
    command_reading reading;  // to play, or --help, --version or a problem
    bool debug = false;       // the mouse camera
    bool windowed = false;    // a 640 x 480 window instead of the full screen
    bool mute = false;        // the sound off at the start (M turns it on)
    // --max-fps N: frames a second at most on every screen, 0 for no limit; without it, the
    // frame loop's own limit (frame_pace.h).
    std::optional<int> max_fps;
    std::string replay_path;  // a recorded game to watch instead of playing; empty to play
};

// The most --max-fps takes.
inline constexpr int max_fps_limit = 1000;

// The arguments after the program's name, read in order by the shared parser: anything but
// the game's options, exact and case-sensitive, is a problem, as is --replay without a file
// name or --max-fps without a whole number from 0 to max_fps_limit.
game_command_line parse_game_command_line(const std::vector<std::string_view>& args);

// The game's usage and help, and what it does with --help, --version and a problem.
const option_parser& game_option_parser();
