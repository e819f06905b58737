// The game's command line: which options were given, or what is wrong with it. Pure, so that
// it is decided before anything touches the display.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* game_usage =
    "usage: kulimbara [--debug] [--windowed] [--mute] [--replay FILE] | --help | --version";

struct game_command_line {
    enum class action { play, help, version, bad };
    action what = action::play;
    bool debug = false;       // the mouse camera
    bool windowed = false;    // a 640 x 480 window instead of the full screen
    bool mute = false;        // the sound off at the start (M turns it on)
    std::string replay_path;  // a recorded game to watch instead of playing; empty to play
    std::string problem;      // for action::bad, one line saying what is wrong
};

// The arguments after the program's name, read in order: --help or --version ends the reading
// (what follows is not looked at); anything but the six options, exact and case-sensitive,
// is a problem, as is --replay without a file name.
game_command_line parse_game_command_line(const std::vector<std::string_view>& args);

// What --help prints: the usage line, then a line for each option and for each key.
std::string game_help_text();
