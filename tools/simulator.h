// SPDX-License-Identifier: MIT
// Plays levels without a window: the game's own frames from the start of play, at a fixed
// frame time, with a scripted key.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "level.h"

struct key_pattern {
    enum class kind { up, down, toggle };
    kind pattern = kind::up;
    long frames = 0;  // toggle period in frames

    // The key's state in frame `frame` (from 0): toggle:N is up for N frames, then down for N.
    int key_at(long frame) const;
    static std::optional<key_pattern> parse(const std::string& text);
};

struct sim_options {
    double dt = 1.0 / 60.0;
    key_pattern keys;
    double max_time = 600.0;
};

struct ball_report {
    int index = 0;
    const char* fate = "waiting";  // "hole", "edge", "in_play" or "waiting"
    int gate_scores = 0;
};

struct level_report {
    int level = 0;
    bool completed = false;
    long frames = 0;
    double time = 0.0;
    int score = 0;
    std::vector<ball_report> balls;
};

// Writes one CSV row per in-play ball after each frame's step.
class trace_writer {
  public:
    explicit trace_writer(std::FILE* out);
    void header();
    // The game's score so far is `score`.
    void rows(long frame, const level_t& level, int score);
    bool failed() const;

  private:
    std::FILE* out_;
};

// Plays `level` from its set-up to its end or the time limit, with `carried_score` as the
// game's score so far. The report is numbered `num`.
level_report run_level(level_t level, int num, int carried_score, const sim_options& options,
                       trace_writer* trace = nullptr);
// The same for built-in level `num`.
level_report run_level(int num, int carried_score, const sim_options& options,
                       trace_writer* trace = nullptr);

// Parses "0.25", "1e-2" or a fraction "1/60"; nullopt unless a finite number.
std::optional<double> parse_seconds(const std::string& text);

struct replay;

// A whole game from the intro, as a player would play it: ENTER on the intro and at each
// level's end, SPACE after `options.keys` from the start of each level's countdown, frames of
// `options.dt` (whole microseconds). A level still unfinished after `options.max_time` is quit
// with ESCAPE. Returns the game's replay, named `name`.
replay play_recorded_game(const sim_options& options, const std::string& name);
