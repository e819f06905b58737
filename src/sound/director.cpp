// SPDX-License-Identifier: MIT
#include "director.h"

#include <algorithm>
#include <cmath>

#include "matrix.h"

namespace {

// How far the desk's depth is squeezed toward the listener: at the camera's 70 units the desk
// would span some 35 degrees; at a quarter of that, a ball at the desk's side sounds from the side.
constexpr double depth_squeeze = 0.25;

// The gains of the voices that do not follow a speed.
constexpr float drop_gain = 0.5f;
constexpr float chime_gain = 0.8f;
constexpr float fall_gain = 0.8f;
constexpr float beep_gain = 0.6f;
constexpr float fanfare_gain = 0.8f;
constexpr float key_gain = 0.4f;
constexpr float post_gain = 0.7f;

// A ball counts as on the desk while it met the desk top this recently: one resting or rolling
// meets it on every step, one in the air does not.
constexpr double on_desk_seconds = 0.1;

// An impact's gain: the square root of its share of the full speed, so that a light bounce
// stays audible over the balls rolling rather than falling away with its speed.
float gain_of(double speed, double quiet_speed, double full_speed) {
    if (!(speed >= quiet_speed)) {
        return 0.0f;
    }
    return static_cast<float>(std::sqrt(std::min(speed / full_speed, 1.0)));
}

constexpr frame_event::kind contact_kinds[] = {frame_event::kind::ball_contact,
                                               frame_event::kind::block_contact};

bool is_contact(const frame_event& event) {
    return std::ranges::find(contact_kinds, event.what) != std::end(contact_kinds);
}

float contact_gain(const frame_event& event) {
    return event.what == frame_event::kind::ball_contact
               ? gain_of(event.speed, sound_director::ball_contact_quiet_speed,
                         sound_director::ball_contact_full_speed)
               : gain_of(event.speed, sound_director::block_contact_quiet_speed,
                         sound_director::block_contact_full_speed);
}

}  // namespace

voice_position desk_to_listener(const level_t& level, const point3D_t& desk_point) {
    // The scene draws the desk with y up and the desk's y toward the viewer, under the desk's
    // slope and tilt, under the camera's 40 degrees and its place 70 units away.
    matrix4_t m = multiply(rotation_matrix_about(40.0, 1, 0, 0),
                           rotation_matrix_about(level.rotation.x, 1, 0, 0));
    m = multiply(m, rotation_matrix_about(level.rotation.y, 0, 0, 1));
    const double p[3] = {desk_point.x, desk_point.z, desk_point.y};
    double eye[3];
    for (int row = 0; row < 3; ++row) {
        eye[row] = m[0 * 4 + row] * p[0] + m[1 * 4 + row] * p[1] + m[2 * 4 + row] * p[2];
    }
    return {static_cast<float>(eye[0]), static_cast<float>(eye[1] + 10.0),
            static_cast<float>((eye[2] - 70.0) * depth_squeeze)};
}

void sound_director::after_frame(const game& g, const std::vector<frame_event>& events,
                                 bool sound_on) {
    if (muted_ != !sound_on) {
        muted_ = !sound_on;
        sink_.set_muted(muted_);
    }
    if (paused_ != g.pause_flag) {
        paused_ = g.pause_flag;
        sink_.pause_play(paused_);
    }
    // A new level, or a director that starts in the middle of one, begins with no ball heard.
    const bool set_up = std::ranges::any_of(events, [](const frame_event& event) {
        return event.what == frame_event::kind::level_set_up;
    });
    if (set_up || rolling_.size() != g.level->balls.size()) {
        stop_rolling();
        rolling_.assign(g.level->balls.size(), false);
        last_contact_time_.assign(g.level->balls.size(), -contact_rest_seconds);
        last_landed_time_.assign(g.level->balls.size(), -on_desk_seconds);
    }
    if (!muted_) {
        for (const frame_event& event : events) {
            start(g, event);
        }
        contacts(g, events);
    }
    rolling(g, events);
}

void sound_director::start(const game& g, const frame_event& event) {
    const level_t& level = *g.level;
    auto at_ball = [&] { return desk_to_listener(level, level.balls.at(event.ball).pos); };
    switch (event.what) {
        case frame_event::kind::ball_released:
            sink_.play(sound_id::drop, 0, drop_gain, at_ball());
            break;
        case frame_event::kind::ball_landed:
            if (const float gain = gain_of(event.speed, landing_quiet_speed, landing_full_speed);
                gain > 0.0f) {
                sink_.play(sound_id::thud, 0, gain, at_ball());
            }
            break;
        case frame_event::kind::gate_scored: {
            const point3D_t at{event.position.x, event.position.y, level.depth / 2.0};
            sink_.play(sound_id::chime, chime_variant(event.points), chime_gain,
                       desk_to_listener(level, at));
            break;
        }
        case frame_event::kind::ball_fell:
            sink_.play(event.over_hole ? sound_id::plunk : sound_id::whoosh, 0, fall_gain,
                       at_ball());
            break;
        case frame_event::kind::countdown_step:
            sink_.play(event.text == "PLAY!" ? sound_id::go : sound_id::beep, 0, beep_gain,
                       std::nullopt);
            break;
        case frame_event::kind::level_completed:
            sink_.play(sound_id::level_done, 0, fanfare_gain, std::nullopt);
            break;
        case frame_event::kind::game_over:
            sink_.play(sound_id::game_over, 0, fanfare_gain, std::nullopt);
            break;
        case frame_event::kind::name_edited:
            sink_.play(sound_id::key, 0, key_gain, std::nullopt);
            break;
        case frame_event::kind::post_finished:
            sink_.play(event.success ? sound_id::post_accepted : sound_id::post_refused, 0,
                       post_gain, std::nullopt);
            break;
        default:
            break;
    }
}

void sound_director::contacts(const game& g, const std::vector<frame_event>& events) {
    const level_t& level = *g.level;
    struct knock {
        const frame_event* event;
        float gain;
    };
    std::vector<knock> heard;
    for (const frame_event& event : events) {
        if (!is_contact(event)) {
            continue;
        }
        const float gain = contact_gain(event);
        const auto ball = static_cast<std::size_t>(event.ball);
        if (gain > 0.0f && ball < last_contact_time_.size() &&
            level.total_time - last_contact_time_[ball] >= contact_rest_seconds) {
            heard.push_back({&event, gain});
        }
    }
    std::ranges::stable_sort(heard, std::ranges::greater{}, &knock::gain);
    int started = 0;
    for (const knock& k : heard) {
        const auto ball = static_cast<std::size_t>(k.event->ball);
        if (started == contact_voices_per_frame ||
            level.total_time - last_contact_time_[ball] < contact_rest_seconds) {
            continue;  // a ball knocks once in a frame
        }
        last_contact_time_[ball] = level.total_time;
        const sound_id id =
            k.event->what == frame_event::kind::ball_contact ? sound_id::click : sound_id::knock;
        sink_.play(id, 0, k.gain, desk_to_listener(level, level.balls[ball].pos));
        ++started;
    }
}

void sound_director::rolling(const game& g, const std::vector<frame_event>& events) {
    const level_t& level = *g.level;
    for (const frame_event& event : events) {
        const auto ball = static_cast<std::size_t>(event.ball);
        if (ball >= rolling_.size()) {
            continue;
        }
        if (event.what == frame_event::kind::ball_landed) {
            last_landed_time_[ball] = level.total_time;
            rolling_[ball] = true;
        } else if ((event.what == frame_event::kind::ball_fell ||
                    event.what == frame_event::kind::ball_lost) &&
                   rolling_[ball]) {
            rolling_[ball] = false;
            sink_.stop_roll(event.ball);
        }
    }
    if (paused_) {
        return;  // the voices hold as they are
    }
    for (std::size_t ball = 0; ball < rolling_.size(); ++ball) {
        if (!rolling_[ball]) {
            continue;
        }
        const ball_t& b = level.balls[ball];
        const bool on_desk = level.total_time - last_landed_time_[ball] < on_desk_seconds;
        const double speed = std::hypot(b.v.x, b.v.y);
        const double share = std::min(speed / rolling_full_speed, 1.0);
        const float gain = on_desk ? static_cast<float>(share) : 0.0f;
        sink_.roll(static_cast<int>(ball), gain, static_cast<float>(0.8 + 0.6 * share),
                   desk_to_listener(level, b.pos));
    }
}

void sound_director::stop_rolling() {
    for (std::size_t ball = 0; ball < rolling_.size(); ++ball) {
        if (rolling_[ball]) {
            rolling_[ball] = false;
            sink_.stop_roll(static_cast<int>(ball));
        }
    }
}

int sound_director::rolling_voices() const {
    return static_cast<int>(std::ranges::count(rolling_, true));
}
