#include "option_parser.h"

#include <cstdio>
#include <cstdlib>

std::string read_options(const std::vector<std::string_view>& args,
                         const std::vector<command_option>& options, const other_argument& other) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg(args[i]);
        const command_option* option = nullptr;
        for (const command_option& candidate : options) {
            if (candidate.name == arg) {
                option = &candidate;
                break;
            }
        }
        std::string problem;
        if (option == nullptr) {
            problem = other(arg);
        } else if (!option->takes_value) {
            problem = option->apply("");
        } else if (i + 1 >= args.size()) {
            problem = arg + " needs a value";
        } else {
            problem = option->apply(std::string(args[++i]));
        }
        if (!problem.empty()) {
            return problem;
        }
    }
    return "";
}

void option_parser::parse(int argc, char** argv, const std::vector<command_option>& options,
                          const other_argument& other) const {
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::string problem = read_options(args, options, other);
    if (!problem.empty()) {
        fail(problem);
    }
}

void option_parser::fail(const std::string& problem) const {
    std::fprintf(stderr, "%s: %s\n%s", program_.c_str(), problem.c_str(), usage_.c_str());
    std::exit(2);
}
