// SPDX-License-Identifier: MIT
// Desk tilt, ball release, ball motion and collisions: one step per frame of play.
#pragma once

#include <vector>

#include "level.h"

struct physics_cfg_t {
    double max_rotation_angle = 5.0;     // degrees: the tilt is driven only while short of this
    double rotation_step = 15.0;         // degrees per second
    double simulation_box_size = 100.0;  // half the side of the cube outside which balls are lost
    double rotation_inhibition = 1.0;    // per second: decay of the rolling speed
    double ball_collision_inhibition = 0.5;  // unused
    double gravity = -98.1;                  // length per second squared, along z
};

physics_cfg_t load_physics_cfg();

// What a step did, in the order it happened. Physics reports through this list only.
struct physics_event {
    // The game's frame events list these in this order.
    enum class kind {
        released,       // the ball left its start point
        landed,         // the ball met the desk top from above; speed is its downward speed
        ball_contact,   // two balls touched; other is the second ball, speed their closing speed
        block_contact,  // the ball hit a block's face; other is the block, speed the normal speed
        gate_scored,    // the ball scored points at a gate, at position (its centre)
        fell,           // the ball found no support: over a hole, or past the desk's edge
        lost,           // the ball left the simulation cube and is out of the level
    };
    kind what = kind::released;
    int ball = 0;
    int other = -1;
    double speed = 0.0;
    int points = 0;
    point2D_t position;
    bool over_hole = false;
};

// The longest step the physics takes; slower frames run the game slower than real time.
constexpr double max_step_seconds = 0.05;

// One step of play. `game_key` is true while SPACE is held. What happened is appended to
// `events` when it is given. The caller keeps level.active_balls_count at 0 exactly when no
// released ball is in play.
void simulation_step(double deltaT, level_t& level, const physics_cfg_t& physics_cfg, bool game_key,
                     std::vector<physics_event>* events = nullptr);
