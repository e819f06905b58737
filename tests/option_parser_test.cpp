#include "option_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

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
        if (arg.starts_with("-")) {
            return "unknown option '" + arg + "'";
        }
        if (file_given) {
            return "unexpected argument '" + arg + "'";
        }
        file_given = true;
        seen.push_back("file=" + arg);
        return "";
    };

    std::string read(const std::vector<std::string_view>& args) {
        return read_options(args, options, other);
    }
};

TEST(OptionParser, ReadsOptionsFlagsAndOtherArgumentsInOrder) {
    example_program program;
    EXPECT_EQ(program.read({"--json", "out", "--size", "12", "--size", "--json"}), "");
    // The value after an option is taken whatever it looks like, and a later one wins.
    EXPECT_EQ(program.seen,
              (std::vector<std::string>{"json", "file=out", "size=12", "size=--json"}));
}

TEST(OptionParser, StopsAtTheFirstProblem) {
    const std::pair<std::vector<std::string_view>, std::string> rows[] = {
        {{"--json", "--size"}, "--size needs a value"},
        {{"--size", "0", "--frobnicate"}, "--size must not be 0"},
        {{"--frobnicate", "--size"}, "unknown option '--frobnicate'"},
        {{"--Json"}, "unknown option '--Json'"},
        {{"a", "b", "--size"}, "unexpected argument 'b'"}};
    for (const auto& [args, problem] : rows) {
        example_program program;
        EXPECT_EQ(program.read(args), problem);
        EXPECT_LE(program.seen.size(), 1u) << problem;
    }
}

}  // namespace
