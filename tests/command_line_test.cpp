#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"

namespace {

using action = game_command_line::action;

TEST(CommandLine, ReadsTheFourOptionsExactlyAndRejectsEverythingElse) {
    struct command_line_case {
        std::vector<std::string_view> args;
        action what;
        bool debug;
        bool windowed;
        std::string problem;
    };
    const command_line_case cases[] = {
        {{}, action::play, false, false, ""},
        {{"--debug"}, action::play, true, false, ""},
        {{"--windowed"}, action::play, false, true, ""},
        {{"--windowed", "--debug"}, action::play, true, true, ""},
        {{"--mute", "--windowed"}, action::play, false, true, ""},
        {{"--debug", "--debug"}, action::play, true, false, ""},
        {{"--help"}, action::help, false, false, ""},
        {{"--version"}, action::version, false, false, ""},
        // The first of --help and --version wins; nothing after it is read.
        {{"--debug", "--version", "--help", "--bogus"}, action::version, true, false, ""},
        {{"--DEBUG"}, action::bad, false, false, "unknown option '--DEBUG'"},
        {{"--debug=1"}, action::bad, false, false, "unknown option '--debug=1'"},
        {{"-debug"}, action::bad, false, false, "unknown option '-debug'"},
        {{"--"}, action::bad, false, false, "unknown option '--'"},
        {{"--debug", "level"}, action::bad, true, false, "unexpected argument 'level'"},
        {{""}, action::bad, false, false, "unexpected argument ''"},
        // A mistake before --help is reported, not hidden by the help.
        {{"--windowd", "--help"}, action::bad, false, false, "unknown option '--windowd'"},
    };
    for (const command_line_case& c : cases) {
        std::string shown;
        for (const std::string_view arg : c.args) {
            shown += " '" + std::string(arg) + "'";
        }
        SCOPED_TRACE("arguments:" + shown);
        const game_command_line line = parse_game_command_line(c.args);
        EXPECT_EQ(line.what, c.what);
        EXPECT_EQ(line.debug, c.debug);
        EXPECT_EQ(line.windowed, c.windowed);
        EXPECT_EQ(line.mute,
                  std::ranges::find(c.args, "--mute") != c.args.end() && c.what == action::play);
        EXPECT_EQ(line.problem, c.problem);
    }
}

TEST(CommandLine, HelpStartsWithTheUsageAndNamesEveryOption) {
    const std::string help = game_help_text();
    EXPECT_EQ(help.substr(0, help.find('\n')), game_usage);
    for (const char* option : {"--debug", "--windowed", "--mute", "--help", "--version"}) {
        EXPECT_NE(std::string(game_usage).find(option), std::string::npos) << option;
        EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos) << option;
    }
    EXPECT_EQ(help.back(), '\n');
}

}  // namespace
