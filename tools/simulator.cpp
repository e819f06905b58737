// SPDX-License-Identifier: MIT
#include "simulator.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "frame.h"
#include "game.h"
#include "levels.h"
#include "replay.h"

int key_pattern::key_at(long frame) const {
    switch (pattern) {
        case kind::up:
            return 0;
        case kind::down:
            return 1;
        case kind::toggle:
            return static_cast<int>((frame / frames) % 2);
    }
    return 0;
}

namespace {

std::optional<double> parse_number(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<key_pattern> key_pattern::parse(const std::string& text) {
    if (text == "up") {
        return key_pattern{kind::up, 0};
    }
    if (text == "down") {
        return key_pattern{kind::down, 0};
    }
    const std::string prefix = "toggle:";
    if (text.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    const std::string count = text.substr(prefix.size());
    if (count.empty() || count.size() > 9 ||
        count.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long frames = std::stol(count);
    if (frames < 1) {
        return std::nullopt;
    }
    return key_pattern{kind::toggle, frames};
}

std::optional<double> parse_seconds(const std::string& text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return parse_number(text);
    }
    const auto numerator = parse_number(text.substr(0, slash));
    const auto denominator = parse_number(text.substr(slash + 1));
    if (!numerator || !denominator || *denominator == 0.0) {
        return std::nullopt;
    }
    const double value = *numerator / *denominator;
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

trace_writer::trace_writer(std::FILE* out) : out_(out) {}

void trace_writer::header() {
    std::fputs("frame,t,rotation_y,ball,active,x,y,z,vx,vy,vz,score\n", out_);
}

void trace_writer::rows(long frame, const level_t& level, int score) {
    for (int i = 0; i < level.balls_count(); ++i) {
        const ball_t& b = level.balls[i];
        if (!is_in_play(b)) {
            continue;
        }
        std::fprintf(out_, "%ld,%.17g,%.17g,%d,%d,%.17g,%.17g,%.17g,%.17g,%.17g,%.17g,%d\n", frame,
                     level.total_time, level.rotation.y, i, static_cast<int>(b.active), b.pos.x,
                     b.pos.y, b.pos.z, b.v.x, b.v.y, b.v.z, score);
    }
}

bool trace_writer::failed() const {
    return std::ferror(out_) != 0;
}

level_report run_level(int num, int carried_score, const sim_options& options,
                       trace_writer* trace) {
    return run_level(*load_level(num), num, carried_score, options, trace);
}

level_report run_level(level_t level, int num, int carried_score, const sim_options& options,
                       trace_writer* trace) {
    game g;
    g.Init(std::make_unique<level_t>(std::move(level)), num);
    g.session.screen = game_screen::play;
    g.session.total_score = carried_score;

    // Where each ball last lost the desk's support, and its gate scores.
    std::vector<bool> fell_into_hole(g.level->balls.size(), false);
    std::vector<int> gate_scores(g.level->balls.size(), 0);
    level_report report;
    report.level = num;
    long frame = 0;
    while (true) {
        frame_input input;
        input.deltaT = options.dt;
        const bool held = options.keys.key_at(frame) != 0;
        if (held != g.game_key) {
            input.keys.push_back({held, key_space});
        }
        for (const frame_event& event : g.tick(input)) {
            if (event.what == frame_event::kind::gate_scored) {
                gate_scores[event.ball] += 1;
            } else if (event.what == frame_event::kind::ball_fell) {
                fell_into_hole[event.ball] = event.over_hole;
            }
        }
        if (trace != nullptr) {
            trace->rows(frame, *g.level, g.session.total_score);
        }
        frame += 1;
        if (is_level_completed(g.session.screen)) {
            report.completed = true;
            break;
        }
        if (g.level->total_time > options.max_time) {
            break;
        }
    }
    const level_t& played = *g.level;
    report.frames = frame;
    report.time = played.total_time;
    report.score = g.session.total_score;
    for (int i = 0; i < played.balls_count(); ++i) {
        const ball_t& b = played.balls[i];
        ball_report ball{i, "waiting", gate_scores[i]};
        if (is_lost(b)) {
            ball.fate = fell_into_hole[i] ? "hole" : "edge";
        } else if (is_in_play(b)) {
            ball.fate = "in_play";
        }
        report.balls.push_back(ball);
    }
    return report;
}

replay play_recorded_game(const sim_options& options, const std::string& name) {
    game g;
    g.Init(0);
    replay_recorder recorder([] { return std::int64_t{1796601600}; });  // 7 Dec 2026, 00:00 UTC
    long level_frame = 0;
    int level = -1;
    for (long frame = 0; recorder.current() != replay_recorder::state::finished &&
                         recorder.current() != replay_recorder::state::unfinished;
         ++frame) {
        frame_input input;
        input.deltaT = options.dt;
        if (is_intro(g.session.screen) || is_level_completed(g.session.screen)) {
            input.keys.push_back({true, key_enter});
            input.keys.push_back({false, key_enter});
        } else {
            if (g.session.current_level != level) {
                level = g.session.current_level;
                level_frame = 0;
            }
            const bool held = options.keys.key_at(level_frame++) != 0;
            if (held != g.game_key) {
                input.keys.push_back({held, key_space});
            }
            if (g.level->total_time > options.max_time) {
                input.keys.push_back({true, key_escape});
            }
        }
        recorder.observe(input, g, g.tick(input));
        if (frame == 0 && recorder.current() == replay_recorder::state::idle) {
            break;  // a frame time that a replay cannot hold
        }
    }
    replay r = recorder.recording();
    r.player_name = name;
    return r;
}
