// kulimbara-sim: plays the built-in levels headless and reports what happened.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "levels.h"
#include "option_parser.h"
#include "simulator.h"

namespace {

const option_parser parser(
    "kulimbara-sim",
    "usage: kulimbara-sim (--level N | --all) [--dt S] [--keys up|down|toggle:N] "
    "[--max-time T] [--trace FILE] [--json]\n");

struct command_line {
    std::vector<int> levels;
    sim_options options;
    std::string trace_path;
    bool json = false;
};

command_line parse(int argc, char** argv) {
    command_line cmd;
    bool level_given = false;
    bool all_given = false;
    parser.parse(argc, argv,
                 {{"--level", true,
                   [&](const std::string& text) -> std::string {
                       if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + levels_count) {
                           return "no level '" + text + "': levels are 0 to 5";
                       }
                       cmd.levels = {text[0] - '0'};
                       level_given = true;
                       return "";
                   }},
                  {"--all", false,
                   [&](const std::string&) {
                       all_given = true;
                       return "";
                   }},
                  {"--dt", true,
                   [&](const std::string& text) -> std::string {
                       const auto dt = parse_seconds(text);
                       if (!dt || *dt <= 0.0) {
                           return "--dt '" + text + "' is not a positive number of seconds";
                       }
                       cmd.options.dt = *dt;
                       return "";
                   }},
                  {"--keys", true,
                   [&](const std::string& text) -> std::string {
                       const auto keys = key_pattern::parse(text);
                       if (!keys) {
                           return "--keys '" + text + "' is not up, down or toggle:N with N >= 1";
                       }
                       cmd.options.keys = *keys;
                       return "";
                   }},
                  {"--max-time", true,
                   [&](const std::string& text) -> std::string {
                       const auto t = parse_seconds(text);
                       if (!t || *t < 0.0) {
                           return "--max-time '" + text + "' is not a number of seconds";
                       }
                       cmd.options.max_time = *t;
                       return "";
                   }},
                  {"--trace", true,
                   [&](const std::string& text) -> std::string {
                       cmd.trace_path = text;
                       return text.empty() ? "--trace needs a file name" : "";
                   }},
                  {"--json", false,
                   [&](const std::string&) {
                       cmd.json = true;
                       return "";
                   }}},
                 [](const std::string& arg) { return "unknown option '" + arg + "'"; });
    if (level_given == all_given) {
        parser.fail("give either --level N or --all");
    }
    if (all_given) {
        for (int n = 0; n < levels_count; ++n) {
            cmd.levels.push_back(n);
        }
    }
    return cmd;
}

void print_json(const std::vector<level_report>& reports, int total_score) {
    std::printf("{\"levels\":[");
    for (std::size_t l = 0; l < reports.size(); ++l) {
        const level_report& r = reports[l];
        std::printf(
            "%s{\"level\":%d,\"completed\":%s,\"frames\":%ld,\"time\":%.17g,\"score\":%d,"
            "\"balls\":[",
            l == 0 ? "" : ",", r.level, r.completed ? "true" : "false", r.frames, r.time, r.score);
        for (std::size_t b = 0; b < r.balls.size(); ++b) {
            std::printf("%s{\"index\":%d,\"fate\":\"%s\",\"gate_scores\":%d}", b == 0 ? "" : ",",
                        r.balls[b].index, r.balls[b].fate, r.balls[b].gate_scores);
        }
        std::printf("]}");
    }
    std::printf("],\"total_score\":%d}\n", total_score);
}

void print_summary(const std::vector<level_report>& reports, int total_score) {
    for (const level_report& r : reports) {
        std::printf("level %d: %s after %ld frames (%.2f s), score %d\n", r.level,
                    r.completed ? "completed" : "unfinished", r.frames, r.time, r.score);
        for (const ball_report& b : r.balls) {
            std::printf("  ball %d: %s, %d gate score%s\n", b.index, b.fate, b.gate_scores,
                        b.gate_scores == 1 ? "" : "s");
        }
    }
    std::printf("total score: %d\n", total_score);
}

}  // namespace

int main(int argc, char** argv) {
    const command_line cmd = parse(argc, argv);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace_file(nullptr, std::fclose);
    std::unique_ptr<trace_writer> trace;
    if (!cmd.trace_path.empty()) {
        trace_file.reset(std::fopen(cmd.trace_path.c_str(), "w"));
        if (!trace_file) {
            std::perror(("kulimbara-sim: cannot write trace file " + cmd.trace_path).c_str());
            return 1;
        }
        trace = std::make_unique<trace_writer>(trace_file.get());
        trace->header();
    }

    std::vector<level_report> reports;
    int score = 0;
    for (const int n : cmd.levels) {
        reports.push_back(run_level(n, score, cmd.options, trace.get()));
        score = reports.back().score;
    }

    if (trace) {
        const bool failed = trace->failed();
        if (std::fclose(trace_file.release()) != 0 || failed) {
            std::fprintf(stderr, "kulimbara-sim: error writing trace file %s\n",
                         cmd.trace_path.c_str());
            return 1;
        }
    }
    if (cmd.json) {
        print_json(reports, score);
    } else {
        print_summary(reports, score);
    }
    return 0;
}
