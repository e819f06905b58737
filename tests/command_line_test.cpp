// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "frame_pace.h"

namespace {

using request = command_reading::request;

TEST(CommandLine, ReadsTheGameOptionsExactlyAndRejectsEverythingElse) {
    struct command_line_case {
        std::vector<std::string_view> args;
        request what;
        bool debug;
        bool windowed;
        std::string problem;
    };
    const command_line_case cases[] = {
        {{}, request::run, false, false, ""},
        {{"--debug"}, request::run, true, false, ""},
        {{"--windowed"}, request::run, false, true, ""},
        {{"--windowed", "--debug"}, request::run, true, true, ""},
        {{"--mute", "--windowed"}, request::run, false, true, ""},
        {{"--debug", "--debug"}, request::run, true, false, ""},
        {{"--help"}, request::help, false, false, ""},
        {{"-h"}, request::help, false, false, ""},
        {{"--version"}, request::version, false, false, ""},
        // The first of --help and --version wins; nothing after it is read.
        {{"--debug", "--version", "--help", "--bogus"}, request::version, true, false, ""},
        {{"--DEBUG"}, request::bad, false, false, "unknown option '--DEBUG'"},
        {{"--debug=1"}, request::bad, false, false, "unknown option '--debug=1'"},
        {{"-debug"}, request::bad, false, false, "unknown option '-debug'"},
        {{"--"}, request::bad, false, false, "unknown option '--'"},
        {{"--debug", "level"}, request::bad, true, false, "unexpected argument 'level'"},
        {{""}, request::bad, false, false, "unexpected argument ''"},
        {{"--replay"}, request::bad, false, false, "--replay needs a value"},
        {{"--replay", ""},
         request::bad,
         false,
         false,
         "--replay needs the file of a recorded game"},
        // A mistake before --help is reported, not hidden by the help.
        {{"--windowd", "--help"}, request::bad, false, false, "unknown option '--windowd'"},
    };
    for (const command_line_case& c : cases) {
        std::string shown;
        for (const std::string_view arg : c.args) {
            shown += " '" + std::string(arg) + "'";
        }
        SCOPED_TRACE("arguments:" + shown);
        const game_command_line line = parse_game_command_line(c.args);
        EXPECT_EQ(line.reading.what, c.what);
        EXPECT_EQ(line.debug, c.debug);
        EXPECT_EQ(line.windowed, c.windowed);
        EXPECT_EQ(line.mute,
                  std::ranges::find(c.args, "--mute") != c.args.end() && c.what == request::run);
        EXPECT_EQ(line.reading.problem, c.problem);
        EXPECT_EQ(line.max_fps, std::nullopt);
    }
}

TEST(CommandLine, MaxFpsTakesAWholeNumberFromZeroToTheLimit) {
    const std::pair<std::string_view, std::optional<int>> rows[] = {{"0", 0},
                                                                    {"60", 60},
                                                                    {"1000", 1000},
                                                                    {"007", 7},
                                                                    {"1001", std::nullopt},
                                                                    {"-1", std::nullopt},
                                                                    {"+5", std::nullopt},
                                                                    {"6e1", std::nullopt},
                                                                    {" 60", std::nullopt},
                                                                    {"", std::nullopt},
                                                                    {"99999999999", std::nullopt}};
    for (const auto& [text, fps] : rows) {
        const game_command_line line = parse_game_command_line({"--max-fps", text, "--mute"});
        EXPECT_EQ(line.max_fps, fps) << "'" << text << "'";
        if (fps) {
            EXPECT_EQ(line.reading.what, request::run) << text;
            EXPECT_TRUE(line.mute);
        } else {
            EXPECT_EQ(line.reading.problem,
                      "--max-fps takes a whole number of frames a second from 0 to 1000, not '" +
                          std::string(text) + "'");
        }
    }
}

TEST(CommandLine, HelpStartsWithTheUsageAndNamesEveryOption) {
    const std::string help = game_option_parser().help_text();
    const std::string& usage = game_option_parser().usage();
    EXPECT_EQ(help.substr(0, usage.size()), usage);
    for (const char* option :
         {"--debug", "--windowed", "--mute", "--max-fps", "--replay", "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
        const bool listed = help.find(std::string("\n  ") + option) != std::string::npos ||
                            help.find(std::string("\n  -h, ") + option) != std::string::npos;
        EXPECT_TRUE(listed) << option;
    }
    EXPECT_NE(help.find("\n  -h, --help "), std::string::npos);
    EXPECT_EQ(help.back(), '\n');
}

TEST(FramePace, CapsAtRestAndWithoutVsyncUnlessTheCommandLineSaysOtherwise) {
    // max_fps, vsync, at rest: the cap
    EXPECT_EQ(frame_cap(std::nullopt, true, false), 0);
    EXPECT_EQ(frame_cap(std::nullopt, true, true), 60);
    EXPECT_EQ(frame_cap(std::nullopt, false, false), 60);
    EXPECT_EQ(frame_cap(std::nullopt, false, true), 60);
    EXPECT_EQ(frame_cap(0, false, true), 0);
    EXPECT_EQ(frame_cap(30, true, false), 30);
    EXPECT_EQ(frame_cap(144, false, true), 144);
}

TEST(FramePace, SpacesFrameStartsAndLetsALateFrameStartAtOnce) {
    using namespace std::chrono_literals;
    const frame_pacer::clock::time_point t0{1s};
    frame_pacer pacer;
    EXPECT_EQ(pacer.start_at(t0, 50), t0);  // the first frame waits for nothing
    EXPECT_EQ(pacer.start_at(t0 + 5ms, 50), t0 + 20ms);
    // The spacing counts from when the frame was to start, not from when it asked.
    EXPECT_EQ(pacer.start_at(t0 + 21ms, 50), t0 + 40ms);
    // A late frame starts at once, and the next is spaced from it: no burst to catch up.
    EXPECT_EQ(pacer.start_at(t0 + 100ms, 50), t0 + 100ms);
    EXPECT_EQ(pacer.start_at(t0 + 101ms, 50), t0 + 120ms);
    // No cap: no wait, however close the frames.
    EXPECT_EQ(pacer.start_at(t0 + 121ms, 0), t0 + 121ms);
    EXPECT_EQ(pacer.start_at(t0 + 122ms, 0), t0 + 122ms);
}

}  // namespace
