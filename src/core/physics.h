// Desk tilt, ball release, ball motion and collisions: one step per frame of play.
#pragma once

#include "level.h"

class tt_state;

struct physics_cfg_t {
    double max_rotation_angle = 5.0;     // degrees: the tilt is driven only while short of this
    double rotation_step = 15.0;         // degrees per second
    double simulation_box_size = 100.0;  // half the side of the cube outside which balls are lost
    double rotation_inhibition = 1.0;    // per second: decay of the rolling speed
    double ball_collision_inhibition = 0.5;  // unused
    double gravity = -98.1;                  // length per second squared, along z
};

physics_cfg_t load_physics_cfg();

// What a step did that a caller may want to know beyond the level record.
class step_listener {
  public:
    virtual ~step_listener() = default;
    // Ball `ball` scored `points` at a gate.
    virtual void gate_scored(int ball, int points) = 0;
    // Ball `ball` began its step at or above its rest height and found no support: it is
    // over a hole, or its centre is outside the desk rectangle.
    virtual void support_lost(int ball, bool over_hole) = 0;
};

// The longest step the physics takes; slower frames run the game slower than real time.
constexpr double max_step_seconds = 0.05;

// One step of play. `game_key` is 1 while SPACE is held. Gate scores start floating texts
// in `texts` when it is given. The caller keeps level.active_balls_count at 0 exactly when
// no released ball is in play.
void simulation_step(double deltaT, level_t& level, const physics_cfg_t& physics_cfg, int game_key,
                     tt_state* texts = nullptr, step_listener* listener = nullptr);
