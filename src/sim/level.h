// SPDX-License-Identifier: MIT
// A level: the desk, its holes, blocks, gates and balls, and the live state of play.
//
// Desk coordinates: origin at the centre of the desk, x across it (`width`), y along it
// toward the player (`height`), z up from the desk's middle plane. The top surface is at
// z = depth / 2. Lengths are world units, times seconds, angles degrees.
#pragma once

#include <array>
#include <vector>

#include "types.h"

struct hole_t {
    point2D_t pos;      // centre on the desk plane
    double size = 0.0;  // diameter
};

// Where a ball stands: waiting at its start point, released and in play, or out of the level.
enum class ball_state : char { waiting = 0, in_play = 1, lost = 2 };
constexpr ball_state ball_waiting = ball_state::waiting;
constexpr ball_state ball_in_play = ball_state::in_play;
constexpr ball_state ball_lost = ball_state::lost;

using matrix4_t = std::array<double, 16>;  // column-major, as OpenGL stores it

constexpr matrix4_t identity_matrix = {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0,
                                       0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0};

struct ball_t {
    ball_state active = ball_waiting;
    point3D_t pos;      // centre; the release point until the ball is released
    double size = 0.0;  // radius
    vector3D_t v;       // velocity
    vector3D_t a;       // acceleration
    matrix4_t rotation_matrix = identity_matrix;  // rolling orientation, in the drawing frame
    vector3D_t rotation_speed;                    // x and y used
    double bounce = 0.0;                          // restitution against the desk surface
    RGB_t color;
    point3D_t old_pos;   // position at the start of this step's motion
    point3D_t safe_pos;  // per axis, the last coordinate no block had to correct
    double inhibition = 0.0;
    double last_gate_time = 0.0;  // landing-step seconds since release or the last gate score
};

constexpr bool is_waiting(const ball_t& ball) {
    return ball.active == ball_waiting;
}
constexpr bool is_in_play(const ball_t& ball) {
    return ball.active == ball_in_play;
}
constexpr bool is_lost(const ball_t& ball) {
    return ball.active == ball_lost;
}

struct block_t {
    point2D_t pos;    // centre of the footprint
    vector3D_t size;  // full extents; stands on the desk top
    double bounce = 0.0;
    RGB_t color;
};

struct gate_t {
    point2D_t pos;      // x: centre of the gate, y: its line
    double size = 0.0;  // width along x
    int score = 0;
    RGB_t color;
};

struct level_t {
    float width = 0.0f;
    float height = 0.0f;
    float depth = 0.0f;
    vector2D_t rotation;  // x: fixed slope toward +y; y: the player's tilt
    std::vector<hole_t> holes;
    std::vector<ball_t> balls;
    int active_balls_count = 0;  // balls in play, recounted each play frame
    std::vector<block_t> blocks;
    std::vector<gate_t> gates;
    double gate_alpha = 0.0;
    double gate_height = 0.0;
    double ball_activation_interval = 0.0;
    double ball_activation_timer = 0.0;
    int ball_activation_iterator = 0;  // next ball to release = balls released so far
    RGB_t desk_color;
    double total_time = 0.0;
    float depth_z = 0.0f;
    std::array<float, 3> score_rgb = {0.0f, 0.0f, 0.0f};

    int holes_count() const { return static_cast<int>(holes.size()); }
    int balls_count() const { return static_cast<int>(balls.size()); }
    int blocks_count() const { return static_cast<int>(blocks.size()); }
    int gates_count() const { return static_cast<int>(gates.size()); }
};

// Gives every ball the neutral orientation; done each time a level is set up.
void init_balls(level_t& level);
