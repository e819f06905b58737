// SPDX-License-Identifier: MIT
// The command lines of the game, its tools and the service, read one way: options from a
// table, each "--name" alone or followed by its value; --help (or -h) and --version answered
// alike by every program, with status 0; and every mistake reported alike, as the program's
// name and the problem on one line, then its usage, on standard error with exit status 2.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One option of a program's table.
struct command_option {
    std::string_view name;  // "--level"
    bool takes_value = false;
    // Takes the option's value ("" for an option without one) and returns what is wrong with
    // it, or "" to accept it.
    std::function<std::string(const std::string& value)> apply;
};

// Takes an argument that names no option and does not start with '-' (a positional one) and
// returns what is wrong with it, or "" to accept it. Without one, every such argument is a
// problem.
using other_argument = std::function<std::string(const std::string& argument)>;

// What a command line asks of its program.
struct command_reading {
    enum class request { run, help, version, bad };
    request what = request::run;
    std::string problem;  // for request::bad, one line saying what is wrong
};

// Reads the arguments (without the program's name) in order. --help, -h and --version end the
// reading (what follows is not looked at), unless a problem came first. Problems: a handler's;
// "OPTION needs a value" for an option given last without its value; "unknown option 'ARG'"
// for any other argument that starts with '-'; "unexpected argument 'ARG'" for one that does
// not, when `other` is not given. The argument after an option that takes a value is its
// value, whatever it looks like.
command_reading read_options(const std::vector<std::string_view>& args,
                             const std::vector<command_option>& options,
                             const other_argument& other = {});

// What every program prints for --version: "PROGRAM VERSION", the project's version.
std::string version_line(std::string_view program);

class option_parser {
  public:
    // `usage` is printed as it is, so it ends with a newline; --help prints it, an empty line
    // and `help`, which says what the program does and what each option means.
    option_parser(std::string program, std::string usage, std::string help)
        : program_(std::move(program)), usage_(std::move(usage)), help_(std::move(help)) {}

    // read_options over argv[1] to argv[argc - 1], then answer().
    void parse(int argc, char** argv, const std::vector<command_option>& options,
               const other_argument& other = {}) const;

    // Returns for request::run. Otherwise ends the program: the help text or the version line
    // on standard output with status 0, or a problem as fail() does.
    void answer(const command_reading& reading) const;

    // Prints "PROGRAM: PROBLEM" and the usage on standard error and exits with status 2.
    [[noreturn]] void fail(const std::string& problem) const;

    // The usage, an empty line and the help: what --help prints.
    std::string help_text() const { return usage_ + "\n" + help_; }
    const std::string& usage() const { return usage_; }

  private:
    std::string program_;
    std::string usage_;
    std::string help_;
};
