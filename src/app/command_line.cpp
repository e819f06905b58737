#include "command_line.h"

game_command_line parse_game_command_line(const std::vector<std::string_view>& args) {
    game_command_line line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            line.what = game_command_line::action::help;
            return line;
        }
        if (arg == "--version") {
            line.what = game_command_line::action::version;
            return line;
        }
        if (arg == "--debug") {
            line.debug = true;
        } else if (arg == "--windowed") {
            line.windowed = true;
        } else if (arg == "--mute") {
            line.mute = true;
        } else if (arg == "--replay" && i + 1 < args.size() && !args[i + 1].empty()) {
            line.replay_path = std::string(args[++i]);
        } else if (arg == "--replay") {
            line.what = game_command_line::action::bad;
            line.problem = "--replay needs the file of a recorded game";
            return line;
        } else {
            line.what = game_command_line::action::bad;
            line.problem = (arg.starts_with("-") ? "unknown option '" : "unexpected argument '") +
                           std::string(arg) + "'";
            return line;
        }
    }
    return line;
}

std::string game_help_text() {
    return std::string(game_usage) +
           "\n"
           "A one-key 3D arcade game: steer the rolling balls through the gates by tilting the\n"
           "desk.\n"
           "\n"
           "  --debug     drag the mouse to move the camera (left button turns, right lifts)\n"
           "  --windowed  play in a 640x480 window instead of the full screen\n"
           "  --mute      start with the sound off (M turns it on and off)\n"
           "  --replay FILE\n"
           "              watch the recorded game FILE at its own pace (P pauses, F runs it\n"
           "              four times as fast, M turns the sound off and on, ESCAPE quits)\n"
           "  --help      print this help and exit\n"
           "  --version   print the version and exit\n"
           "\n"
           "Keys: ENTER starts and continues, SPACE tilts the desk while held, P pauses,\n"
           "M turns the sound off and on, ESCAPE quits.\n"
           "KULIMBARA_HIGHSCORE_URL=http://HOST[:PORT] sets where the final score is posted.\n"
           "Every game is recorded in $XDG_DATA_HOME/kulimbara/replays\n"
           "(~/.local/share/kulimbara/replays without it).\n";
}
