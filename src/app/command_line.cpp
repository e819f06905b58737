// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <charconv>

game_command_line parse_game_command_line(const std::vector<std::string_view>& args) {
    game_command_line line;
    auto flag = [](bool& field) {
        return [&field](const std::string&) {
            field = true;
            return std::string();
        };
    };
    const std::vector<command_option> options = {
        {"--debug", false, flag(line.debug)},
        {"--windowed", false, flag(line.windowed)},
        {"--mute", false, flag(line.mute)},
        {"--max-fps", true,
         [&](const std::string& text) -> std::string {
             int fps = -1;
             const char* end = text.data() + text.size();
             const auto [stop, error] = std::from_chars(text.data(), end, fps);
             if (text.empty() || text.size() > 4 || error != std::errc() || stop != end ||
                 fps < 0 || fps > max_fps_limit) {
                 return "--max-fps takes a whole number of frames a second from 0 to " +
                        std::to_string(max_fps_limit) + ", not '" + text + "'";
             }
             line.max_fps = fps;
             return "";
         }},
        {"--replay", true,
         [&](const std::string& text) -> std::string {
             line.replay_path = text;
             return text.empty() ? "--replay needs the file of a recorded game" : "";
         }},
    };
    line.reading = read_options(args, options);
    return line;
}

const option_parser& game_option_parser() {
    static const option_parser parser(
        "kulimbara",
        "usage: kulimbara [--debug] [--windowed] [--mute] [--max-fps N] [--replay FILE]\n"
        "       kulimbara --help | --version\n",
        "A one-key 3D arcade game: steer the rolling balls through the gates by tilting the\n"
        "desk.\n"
        "\n"
        "  --debug      drag the mouse to move the camera (left button turns, right lifts)\n"
        "  --windowed   play in a 640x480 window instead of the full screen\n"
        "  --mute       start with the sound off (M turns it on and off)\n"
        "  --max-fps N  draw at most N frames a second, 0 for no limit (without it: 60 on the\n"
        "               title, pause and end screens, and everywhere when the display cannot\n"
        "               wait for its vertical blank)\n"
        "  --replay FILE\n"
        "               watch the recorded game FILE at its own pace (P pauses, F runs it\n"
        "               four times as fast, M turns the sound off and on, ESCAPE quits)\n"
        "  -h, --help   print this help and exit\n"
        "  --version    print the version and exit\n"
        "\n"
        "Keys: ENTER starts and continues, SPACE tilts the desk while held, P pauses,\n"
        "M turns the sound off and on, ESCAPE quits. At the end ENTER posts the name, tries\n"
        "a failed post again, and after the post starts a new game (N does too).\n"
        "KULIMBARA_HIGHSCORE_URL=http://HOST[:PORT] or http://[IPv6]:PORT sets where the final\n"
        "score is posted.\n"
        "Every game is recorded in $XDG_DATA_HOME/kulimbara/replays\n"
        "(~/.local/share/kulimbara/replays without it).\n");
    return parser;
}
