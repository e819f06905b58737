// The command lines of the tools and the service, read one way: options from a table, each
// "--name" alone or followed by its value, and every mistake reported alike, as the program's
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

// Takes an argument that names no option in the table (a positional one, or a mistake) and
// returns what is wrong with it, or "" to accept it.
using other_argument = std::function<std::string(const std::string& argument)>;

// Reads the arguments (without the program's name) in order, until the first problem, and
// returns it: a handler's, or "OPTION needs a value" for an option given last without its
// value; "" when every argument was accepted. The argument after an option that takes a value
// is its value, whatever it looks like.
std::string read_options(const std::vector<std::string_view>& args,
                         const std::vector<command_option>& options, const other_argument& other);

class option_parser {
  public:
    // `usage` is printed as it is, so it ends with a newline.
    option_parser(std::string program, std::string usage)
        : program_(std::move(program)), usage_(std::move(usage)) {}

    // read_options over argv[1] to argv[argc - 1]; a problem ends the program as fail() does.
    void parse(int argc, char** argv, const std::vector<command_option>& options,
               const other_argument& other) const;

    // Prints "PROGRAM: PROBLEM" and the usage on standard error and exits with status 2.
    [[noreturn]] void fail(const std::string& problem) const;

  private:
    std::string program_;
    std::string usage_;
};
