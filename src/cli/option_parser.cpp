// SPDX-License-Identifier: MIT
#include "option_parser.h"

#include <cstdio>
#include <cstdlib>

command_reading read_options(const std::vector<std::string_view>& args,
                             const std::vector<command_option>& options,
                             const other_argument& other) {
    using request = command_reading::request;
    auto bad = [](std::string problem) {
        return command_reading{request::bad, std::move(problem)};
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg(args[i]);
        if (arg == "--help" || arg == "-h") {
            return {request::help, ""};
        }
        if (arg == "--version") {
            return {request::version, ""};
        }
        const command_option* option = nullptr;
        for (const command_option& candidate : options) {
            if (candidate.name == arg) {
                option = &candidate;
                break;
            }
        }
        std::string problem;
        if (option == nullptr && arg.starts_with("-")) {
            problem = "unknown option '" + arg + "'";
        } else if (option == nullptr) {
            problem = other ? other(arg) : "unexpected argument '" + arg + "'";
        } else if (!option->takes_value) {
            problem = option->apply("");
        } else if (i + 1 >= args.size()) {
            problem = arg + " needs a value";
        } else {
            problem = option->apply(std::string(args[++i]));
        }
        if (!problem.empty()) {
            return bad(std::move(problem));
        }
    }
    return {};
}

std::string version_line(std::string_view program) {
    return std::string(program) + " " + KULIMBARA_VERSION;
}

void option_parser::parse(int argc, char** argv, const std::vector<command_option>& options,
                          const other_argument& other) const {
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    answer(read_options(args, options, other));
}

void option_parser::answer(const command_reading& reading) const {
    switch (reading.what) {
        case command_reading::request::run:
            return;
        case command_reading::request::help:
            std::fputs(help_text().c_str(), stdout);
            break;
        case command_reading::request::version:
            std::printf("%s\n", version_line(program_).c_str());
            break;
        case command_reading::request::bad:
            fail(reading.problem);
    }
    std::exit(std::fflush(stdout) == 0 ? EXIT_SUCCESS : EXIT_FAILURE);
}

void option_parser::fail(const std::string& problem) const {
    std::fprintf(stderr, "%s: %s\n%s", program_.c_str(), problem.c_str(), usage_.c_str());
    std::exit(2);
}
