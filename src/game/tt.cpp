// SPDX-License-Identifier: MIT
#include "tt.h"

#include <cmath>
#include <utility>

#include "font.h"
#include "random.h"

namespace {

constexpr double shiver_interval = 0.1;     // seconds between two jumps of the score
constexpr double shiver_min_frame = 0.005;  // frame time below which the jump grows no more
constexpr double shiver_scale = 350.0;
constexpr double gate_text_secs = 0.5;       // how long a gate's points float
constexpr double countdown_text_secs = 1.5;  // how long a countdown step's text floats
constexpr double sound_text_secs = 1.5;      // how long "Sound on" or "Sound off" floats
constexpr double sound_text_y = -10.0;       // below the centre, clear of the announcements

std::string score_number(unsigned long score) {
    return std::to_string(score);
}

// Centre of the score so that its right edge lies on `right_x`.
double score_centre_x(double right_x, const std::string& number) {
    return right_x - pixlen(number) * score_scale / 2.0;
}

}  // namespace

void tt_state::setScoreColor(const float* rgb) {
    score_r = rgb[0];
    score_g = rgb[1];
    score_b = rgb[2];
}

int tt_state::timedVectorTextAt1d3f(const std::string& text, double y, float r, float g, float b,
                                    double scale1, double scale2, double secs) {
    for (int i = 0; i < timed_texts_count; ++i) {
        timedText& slot = tt1[i];
        if (slot.active != 0) {
            continue;
        }
        slot.text = text.substr(0, timed_text_max_length);
        slot.y = y;
        slot.x = centred_x;
        slot.r = r;
        slot.g = g;
        slot.b = b;
        slot.secs = secs;
        slot.rt = 0.0;
        slot.scale1 = scale1;
        slot.scale2 = scale2;
        slot.active = 1;
        return i;
    }
    return -1;
}

int tt_state::announce(const std::string& text, double secs) {
    return timedVectorTextAt1d3f(text, 0.0, 0.3f, 0.6f, 0.7f, 3.0, 25.0, secs);
}

void tt_state::timedVectorTextAt2d3f(const std::string& text, double x, double y, float r, float g,
                                     float b, double scale1, double scale2, double secs) {
    const int i = timedVectorTextAt1d3f(text, y, r, g, b, scale1, scale2, secs);
    if (i >= 0) {
        tt1[i].x = x;
    }
}

void tt_state::countTimedTexts(double deltaT) {
    for (timedText& slot : tt1) {
        slot.rt += deltaT;
        if (slot.rt >= slot.secs) {
            slot.active = 0;
        }
    }
}

void tt_state::countFps(double deltaT) {
    if (index > fps_frames - 1) {
        index = 0;
    }
    tt_fps_sum -= history[index];
    history[index] = deltaT;
    index += 1;
    tt_fps_sum += deltaT;
}

double tt_state::getFps() const {
    return 12.0 / tt_fps_sum;
}

void tt_state::moveScore(double td) {
    if (stime > shiver_interval) {
        // A point uniform over the quarter disc of radius 1 in the positive quadrant.
        double dx = 0.0;
        double dy = 0.0;
        do {
            dx = next_random() / 32767.0;
            dy = next_random() / 32767.0;
        } while (dx * dx + dy * dy > 1.0);
        if (td < shiver_min_frame) {
            td = shiver_min_frame;
        }
        const std::string number = score_number(old_score);
        timedVectorTextAt2d3f(number, score_centre_x(score_x, number), score_y, score_r, score_g,
                              score_b, score_scale, 2.75, 0.25);
        // Always from the resting place, never cumulative.
        score_x = dx / shiver_scale / td + score_base_x;
        score_y = dy / shiver_scale / td + score_base_y;
        stime = 0;
    } else {
        stime += td;
    }
}

score_view tt_state::score_at(unsigned long score) const {
    score_view view{score_number(score), 0.0, score_y, score_r, score_g, score_b};
    view.x = score_centre_x(score_x, view.number);
    return view;
}

void tt_state::follow_score(unsigned long score) {
    if (score != old_score) {
        const score_view view = score_at(score);
        timedVectorTextAt2d3f(view.number, view.x, view.y, score_r, score_g, score_b, score_scale,
                              5.5, 1.0);
        old_score = score;  // also when no slot was free
    }
}

void tt_state::consume(const frame_event& event) {
    if (event.what == frame_event::kind::gate_scored) {
        announce(std::to_string(event.points), gate_text_secs);
    } else if (event.what == frame_event::kind::countdown_step) {
        announce(event.text, countdown_text_secs);
    } else if (event.what == frame_event::kind::sound_toggled) {
        timedVectorTextAt1d3f(event.success ? "Sound on" : "Sound off", sound_text_y, 1.0f, 1.0f,
                              1.0f, 2.0f, 2.5f, sound_text_secs);
    }
}

std::string intro_animation::game_name_text() {
    return {game_name.begin(), game_name.end()};
}

void intro_animation::menu_animation_step(double deltaT) {
    const int strlng = game_name_length;
    // Both tests see the phase before this step's increase; 4.0 belongs to the second half.
    if (totaltime < 4.0) {
        for (int i = 0; i < strlng; ++i) {
            game_name_letter_offset[i] += i % 2 == 0 ? deltaT * 0.5 : -deltaT * 0.5;
        }
    }
    if (totaltime >= 4.0 && totaltime < 8.0) {
        for (int i = 0; i < strlng; ++i) {
            game_name_letter_offset[i] += i % 2 == 0 ? -deltaT * 0.5 : deltaT * 0.5;
        }
    }
    if (rotation_index == -1) {
        rotation_index = next_random() % strlng;
    }
    double& rotation = game_name_letter_rotation[rotation_index];
    rotation += deltaT * 360.0 / 2.0;
    if (rotation > 360.0) {
        rotation = 0.0;
        rotation_index = -1;
    }
    latin_angle = std::sin(2 * localtime) * 10.0;
    latin_angle2 = std::sin(localtime) * 45.0;
    totaltime += deltaT;
    localtime += deltaT;
    if (totaltime > 8.0) {
        totaltime = 0.0;  // the excess is dropped
    }
}

void tt_state::restart() {
    tt_state fresh;
    fresh.history = history;
    fresh.tt_fps_sum = tt_fps_sum;
    fresh.index = index;
    *this = std::move(fresh);
}
