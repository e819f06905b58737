// SPDX-License-Identifier: MIT
// kulimbara-sim: plays the built-in levels headless and reports what happened.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "levels.h"
#include "option_parser.h"
#include "protocol.h"
#include "replay.h"
#include "simulator.h"
#include "store.h"

namespace {

const option_parser parser(
    "kulimbara-sim",
    "usage: kulimbara-sim (--level N | --all) [--dt S] [--keys up|down|toggle:N] "
    "[--max-time T] [--trace FILE] [--json]\n"
    "       kulimbara-sim --record FILE [--name NAME] [--dt S] [--keys ...] [--max-time T]\n"
    "       kulimbara-sim --replay FILE [--json]\n"
    "       kulimbara-sim --help | --version\n",
    "Plays the built-in levels headless through the game's own tick and reports what happened,\n"
    "records a whole game as a replay, or verifies a replay by playing it again.\n"
    "\n"
    "  --level N      play level N (0 to 5) alone\n"
    "  --all          play the six levels in order, the score carried over\n"
    "  --dt S         every frame lasts S seconds (a number or a fraction such as 1/60);\n"
    "                 default 1/60, and whole microseconds with --record\n"
    "  --keys up|down|toggle:N\n"
    "                 SPACE never held (the default), always held, or pressed and released\n"
    "                 every N frames\n"
    "  --max-time T   give each level at most T seconds of play (default 600)\n"
    "  --trace FILE   write every ball of every frame to FILE as CSV\n"
    "  --json         report as JSON\n"
    "  --record FILE  play a whole game from the title and save its replay in FILE\n"
    "  --name NAME    the player's name in the recorded replay (default sim)\n"
    "  --replay FILE  play the replay FILE again: status 0 when its claims hold, 1 when a\n"
    "                 level differs, 2 for a file that is no replay\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n");

struct command_line {
    std::vector<int> levels;
    sim_options options;
    std::string trace_path;
    std::string record_path;  // a whole game played from the intro, saved as a replay
    std::string replay_path;  // a replay to verify
    std::string name = "sim";
    bool json = false;
};

command_line parse(int argc, char** argv) {
    command_line cmd;
    bool level_given = false;
    bool all_given = false;
    bool dt_given = false;
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
                       dt_given = true;
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
                  {"--record", true,
                   [&](const std::string& text) -> std::string {
                       cmd.record_path = text;
                       return text.empty() ? "--record needs a file name" : "";
                   }},
                  {"--replay", true,
                   [&](const std::string& text) -> std::string {
                       cmd.replay_path = text;
                       return text.empty() ? "--replay needs a file name" : "";
                   }},
                  {"--name", true,
                   [&](const std::string& text) -> std::string {
                       cmd.name = text;
                       return is_postable_name(text) ? ""
                                                     : "--name '" + text + "' is no player's name";
                   }},
                  {"--json", false, [&](const std::string&) {
                       cmd.json = true;
                       return "";
                   }}});
    const int modes = (level_given ? 1 : 0) + (all_given ? 1 : 0) +
                      (cmd.record_path.empty() ? 0 : 1) + (cmd.replay_path.empty() ? 0 : 1);
    if (modes != 1) {
        parser.fail("give one of --level N, --all, --record FILE or --replay FILE");
    }
    if (!cmd.record_path.empty() && !dt_given) {
        cmd.options.dt = replay::seconds(16667);  // 60 frames a second, to the microsecond
    } else if (!cmd.record_path.empty() && !replay::micros_of(cmd.options.dt)) {
        parser.fail("--dt must be whole microseconds to be recorded");
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

// Plays a whole game from the intro and writes its replay.
int record_game(const command_line& cmd) {
    const replay r = play_recorded_game(cmd.options, cmd.name);
    const std::string bytes = encode_replay(r);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(cmd.record_path.c_str(), "wb"),
                                                         std::fclose);
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fclose(file.release()) != 0) {
        std::fprintf(stderr, "kulimbara-sim: cannot write %s\n", cmd.record_path.c_str());
        return 1;
    }
    std::printf("%s game of %zu frames, score %d: %zu bytes in %s\n",
                r.finished ? "a finished" : "an unfinished", r.frames.size(), r.total_score,
                bytes.size(), cmd.record_path.c_str());
    return 0;
}

// Reads a replay, plays it again and compares: 0 when every claim holds, 1 when one differs,
// 2 when the file is no replay of this game.
int verify_replay(const command_line& cmd) {
    const replay_read read = load_replay(cmd.replay_path);
    if (!read.result) {
        std::fprintf(stderr, "kulimbara-sim: %s\n", read.error.c_str());
        return 2;
    }
    const replay& claimed = *read.result;
    const replay_outcome outcome = replay_game(claimed);
    const replay_verdict verdict = judge_replay(claimed, outcome);
    auto claimed_score = [&](std::size_t i) {
        return i < claimed.levels.size() ? claimed.levels[i].score : -1;
    };
    if (cmd.json) {
        std::printf("{\"name\":\"%s\",\"levels\":[", claimed.player_name.c_str());
        for (std::size_t i = 0; i < outcome.levels.size(); ++i) {
            const replay_level_result& l = outcome.levels[i];
            std::printf(
                "%s{\"level\":%d,\"completed\":%s,\"frames\":%ld,\"time\":%.17g,"
                "\"score\":%d,\"claimed\":%d}",
                i == 0 ? "" : ",", l.level, l.completed ? "true" : "false", l.frames, l.seconds,
                l.claim.score, claimed_score(i));
        }
        std::printf(
            "],\"finished\":%s,\"total_score\":%d,\"claimed_total\":%d,"
            "\"verified\":%s,\"first_level_differing\":%d}\n",
            outcome.finished ? "true" : "false", outcome.total_score, claimed.total_score,
            verdict.holds ? "true" : "false", verdict.first_level);
    } else {
        for (std::size_t i = 0; i < outcome.levels.size(); ++i) {
            const replay_level_result& l = outcome.levels[i];
            std::printf("level %d: %s after %ld frames (%.2f s), score %d, claimed %d\n", l.level,
                        l.completed ? "completed" : "unfinished", l.frames, l.seconds,
                        l.claim.score, claimed_score(i));
        }
        std::printf("total score: %d, claimed %d, %s game by '%s'\n", outcome.total_score,
                    claimed.total_score, outcome.finished ? "a finished" : "an unfinished",
                    claimed.player_name.c_str());
    }
    if (!verdict.holds) {
        std::fprintf(stderr, "kulimbara-sim: %s: the replay differs: %s\n", cmd.replay_path.c_str(),
                     verdict.reason.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const command_line cmd = parse(argc, argv);
    if (!cmd.record_path.empty()) {
        return record_game(cmd);
    }
    if (!cmd.replay_path.empty()) {
        return verify_replay(cmd);
    }

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
