// SPDX-License-Identifier: MIT
#include "option_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using request = command_reading::request;

// A program with one option that takes a value, one flag and up to one positional argument;
// what it was given is written down in order.
struct example_program {
    std::vector<std::string> seen;
    std::vector<command_option> options = {{"--size", true,
                                            [this](const std::string& value) -> std::string {
                                                seen.push_back("size=" + value);
                                                return value == "0" ? "--size must not be 0" : "";
                                            }},
                                           {"--json", false, [this](const std::string& value) {
                                                seen.push_back("json" + value);
                                                return "";
                                            }}};
    bool file_given = false;
    other_argument other = [this](const std::string& arg) -> std::string {
        if (file_given) {
            return "a second file '" + arg + "'";
        }
        file_given = true;
        seen.push_back("file=" + arg);
        return "";
    };

    command_reading read(const std::vector<std::string_view>& args) {
        return read_options(args, options, other);
    }
};

TEST(OptionParser, ReadsOptionsFlagsAndOtherArgumentsInOrder) {
    example_program program;
    const command_reading reading =
        program.read({"--json", "out", "--size", "12", "--size", "--json", "--size", "-h"});
    EXPECT_EQ(reading.what, request::run);
    EXPECT_EQ(reading.problem, "");
    // The value after an option is taken whatever it looks like, and a later one wins.
    EXPECT_EQ(program.seen,
              (std::vector<std::string>{"json", "file=out", "size=12", "size=--json", "size=-h"}));
}

TEST(OptionParser, StopsAtTheFirstProblem) {
    const std::pair<std::vector<std::string_view>, std::string> rows[] = {
        {{"--json", "--size"}, "--size needs a value"},
        {{"--size", "0", "--frobnicate"}, "--size must not be 0"},
        // Options unknown to the table are told apart from the program's other arguments.
        {{"--frobnicate", "--size"}, "unknown option '--frobnicate'"},
        {{"--Json"}, "unknown option '--Json'"},
        {{"-H"}, "unknown option '-H'"},
        {{"-"}, "unknown option '-'"},
        {{"a", "b", "--size"}, "a second file 'b'"},
        // A mistake before --help is told, not hidden by the help.
        {{"--jsn", "--help"}, "unknown option '--jsn'"},
        {{"--size", "0", "--version"}, "--size must not be 0"}};
    for (const auto& [args, problem] : rows) {
        example_program program;
        const command_reading reading = program.read(args);
        EXPECT_EQ(reading.what, request::bad) << problem;
        EXPECT_EQ(reading.problem, problem);
        EXPECT_LE(program.seen.size(), 1u) << problem;
    }
}

TEST(OptionParser, AnswersHelpAndVersionForEveryProgramAndReadsNoFurther) {
    const std::pair<std::vector<std::string_view>, request> rows[] = {
        {{"--help"}, request::help},
        {{"-h"}, request::help},
        {{"--version"}, request::version},
        {{"--json", "-h", "--frobnicate"}, request::help},
        {{"--version", "--help"}, request::version},
        {{"--help", "--version"}, request::help},
    };
    for (const auto& [args, what] : rows) {
        example_program program;
        const command_reading reading = program.read(args);
        EXPECT_EQ(reading.what, what) << args.size() << " arguments, first " << args[0];
        EXPECT_EQ(reading.problem, "");
    }
    // Without a handler for other arguments, a program takes none.
    const command_reading reading = read_options({"file"}, example_program().options);
    EXPECT_EQ(reading.what, request::bad);
    EXPECT_EQ(reading.problem, "unexpected argument 'file'");
}

TEST(OptionParserDeathTest, HelpAndVersionExitZeroAndAProblemExitsTwoWithTheUsage) {
    const option_parser parser("prog", "usage: prog [--json]\n", "Does things.\n");
    EXPECT_EXIT(parser.answer({request::help, ""}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(parser.answer({request::version, ""}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(parser.answer({request::bad, "unknown option '-x'"}), testing::ExitedWithCode(2),
                "^prog: unknown option '-x'\nusage: prog \\[--json\\]\n$");
    parser.answer({request::run, ""});  // returns
}

}  // namespace
