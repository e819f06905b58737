// SPDX-License-Identifier: MIT
#include "physics.h"

#include <cmath>

#include "math_constants.h"
#include "matrix.h"

physics_cfg_t load_physics_cfg() {
    return physics_cfg_t{};
}

namespace {

constexpr double acceleration_factor = 0.92;
constexpr double gate_half_thickness = 0.25;
constexpr double gate_score_delay = 0.5;  // landing-step seconds between two scores of a ball

physics_event event_of(physics_event::kind what, int ball, int other = -1) {
    physics_event event;
    event.what = what;
    event.ball = ball;
    event.other = other;
    return event;
}

struct step_context {
    double deltaT;
    level_t& level;
    const physics_cfg_t& cfg;
    std::vector<physics_event>* events;

    void report(const physics_event& event) const {
        if (events != nullptr) {
            events->push_back(event);
        }
    }
};

void tilt_desk(double deltaT, level_t& level, const physics_cfg_t& cfg, bool game_key) {
    // Tested before the change and not clamped: the tilt may pass the limit by one step.
    if (game_key) {
        if (cfg.max_rotation_angle > level.rotation.y) {
            level.rotation.y += cfg.rotation_step * deltaT;
        }
    } else {
        if (level.rotation.y > -cfg.max_rotation_angle) {
            level.rotation.y -= cfg.rotation_step * deltaT;
        }
    }
}

void release_ball(const step_context& ctx) {
    const double deltaT = ctx.deltaT;
    level_t& level = ctx.level;
    const physics_cfg_t& cfg = ctx.cfg;
    if (level.ball_activation_iterator >= level.balls_count()) {
        return;
    }
    level.ball_activation_timer += deltaT;
    if (level.ball_activation_timer > level.ball_activation_interval ||
        level.active_balls_count == 0) {
        level.ball_activation_timer = 0;
        ball_t& ball = level.balls[level.ball_activation_iterator];
        ball.active = ball_in_play;
        ball.v = {0.0, 0.0, 0.0};
        ball.a = {0.0, 0.0, cfg.gravity};
        ball.last_gate_time = 0;
        ball.rotation_speed = {0.0, 0.0, 0.0};
        ctx.report(event_of(physics_event::kind::released, level.ball_activation_iterator));
        level.ball_activation_iterator += 1;
    }
}

bool outside_box(const point3D_t& pos, double box) {
    return pos.x < -box || pos.x > box || pos.y < -box || pos.y > box || pos.z < -box ||
           pos.z > box;
}

double rest_height(const level_t& level, const ball_t& ball) {
    return level.depth * 0.5 + ball.size;
}

void check_gates(step_context& ctx, int index) {
    ball_t& ball = ctx.level.balls[index];
    bool gate_hit = false;
    for (const gate_t& gate : ctx.level.gates) {
        if (ball.last_gate_time >= gate_score_delay && ball.pos.x >= gate.pos.x - gate.size / 2 &&
            ball.pos.x <= gate.pos.x + gate.size / 2 &&
            ball.pos.y >= gate.pos.y - gate_half_thickness &&
            ball.pos.y <= gate.pos.y + gate_half_thickness) {
            physics_event scored = event_of(physics_event::kind::gate_scored, index);
            scored.points = gate.score;
            scored.position = {ball.pos.x, ball.pos.y};
            ctx.report(scored);
            ball.last_gate_time = 0;
            gate_hit = true;
        }
    }
    if (!gate_hit) {
        ball.last_gate_time += ctx.deltaT;
    }
}

// Support by the desk surface: landing, gates, and the side walls of holes.
void desk_contact(step_context& ctx, int index) {
    const level_t& level = ctx.level;
    ball_t& ball = ctx.level.balls[index];
    const double D = rest_height(level, ball);

    const bool inside_desk = 2 * ball.pos.x > -level.width && 2 * ball.pos.x < level.width &&
                             2 * ball.pos.y > -level.height && 2 * ball.pos.y < level.height;
    if (!inside_desk) {
        if (ball.old_pos.z >= D) {
            ctx.report(event_of(physics_event::kind::fell, index));
        }
        return;
    }

    // Only the centre counts: a ball wider than a hole still drops into it.
    bool out_hole = true;
    for (const hole_t& hole : level.holes) {
        const double dx = ball.pos.x - hole.pos.x;
        const double dy = ball.pos.y - hole.pos.y;
        if (hole.size * hole.size > 4 * (dx * dx + dy * dy)) {
            out_hole = false;
        }
    }
    if (!out_hole) {
        if (ball.old_pos.z >= D) {
            physics_event fell = event_of(physics_event::kind::fell, index);
            fell.over_hole = true;
            ctx.report(fell);
        }
        return;
    }

    if (ball.pos.z <= D && ball.old_pos.z >= D) {
        physics_event landed = event_of(physics_event::kind::landed, index);
        landed.speed = -ball.v.z;
        ctx.report(landed);
        ball.pos.z = D;
        ball.v.z = -ball.bounce * ball.v.z;
        ball.rotation_speed = {ball.v.x, ball.v.y, 0};
        check_gates(ctx, index);
    }

    // A centre within the desk's thickness over solid desk has run into the side of a hole
    // (or, falling past the edge, into the desk's side): step back and reflect.
    if (ball.old_pos.z < D && ball.pos.z > -D) {
        ball.pos = ball.old_pos;
        ball.v.x = -ball.v.x;
        ball.v.y = -ball.v.y;
        ball.pos.x = ball.pos.x + ball.v.x * ctx.deltaT;
        ball.pos.y = ball.pos.y + ball.v.y * ctx.deltaT;
        ball.pos.z = ball.pos.z + ball.v.z * ctx.deltaT;
    }
}

double length(const vector3D_t& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// Equal masses, full exchange of velocities: the pair is separated along the line of centres
// to exactly the sum of the radii about their unchanged midpoint.
void collide_balls(step_context& ctx, int index) {
    level_t& level = ctx.level;
    ball_t& ball = level.balls[index];
    for (int j = index + 1; j < level.balls_count(); ++j) {
        ball_t& ball2 = level.balls[j];
        if (!is_in_play(ball2)) {
            continue;
        }
        const double dx = ball.pos.x - ball2.pos.x;
        const double dy = ball.pos.y - ball2.pos.y;
        const double dz = ball.pos.z - ball2.pos.z;
        const double reach = ball.size + ball2.size;
        if (!(reach * reach >= dx * dx + dy * dy + dz * dz)) {
            continue;
        }
        const point3D_t center_pos = {ball.pos.x + ball2.pos.x, ball.pos.y + ball2.pos.y,
                                      ball.pos.z + ball2.pos.z};
        const point3D_t M = {center_pos.x * 0.5, center_pos.y * 0.5, center_pos.z * 0.5};
        point3D_t ball_pos = {ball.pos.x - M.x, ball.pos.y - M.y, ball.pos.z - M.z};
        point3D_t ball2_pos = {ball2.pos.x - M.x, ball2.pos.y - M.y, ball2.pos.z - M.z};
        const double distance = length(ball_pos);
        const double distance2 = length(ball2_pos);
        // Coinciding centres give no direction to separate along: leave the pair alone.
        if (distance == 0.0 || distance2 == 0.0) {
            continue;
        }
        if (ctx.events != nullptr) {
            // How fast the centres close along the line between them.
            const double closing =
                ((ball2.v.x - ball.v.x) * ball_pos.x + (ball2.v.y - ball.v.y) * ball_pos.y +
                 (ball2.v.z - ball.v.z) * ball_pos.z) /
                distance;
            physics_event contact = event_of(physics_event::kind::ball_contact, index, j);
            contact.speed = closing;
            ctx.report(contact);
        }
        const double f = ball.size / distance;
        ball_pos = {ball_pos.x * f + M.x, ball_pos.y * f + M.y, ball_pos.z * f + M.z};
        const double f2 = ball2.size / distance2;
        ball2_pos = {ball2_pos.x * f2 + M.x, ball2_pos.y * f2 + M.y, ball2_pos.z * f2 + M.z};

        const double D = rest_height(level, ball);
        if (ball.pos.z >= D && ball_pos.z < D) {
            ball.v.z = 0;
            ball2.v.z = 0;
        }
        const double D2 = rest_height(level, ball2);
        if (ball2.pos.z >= D2 && ball2_pos.z < D2) {
            ball.v.z = 0;
            ball2.v.z = 0;
        }
        ball.pos.x = ball_pos.x;
        ball.pos.y = ball_pos.y;
        ball2.pos.x = ball2_pos.x;
        ball2.pos.y = ball2_pos.y;
        const vector3D_t tmp_v = ball.v;
        ball.v = ball2.v;
        ball2.v = tmp_v;
    }
}

// Blocks are rectangles grown by the ball's radius, with square corners. The face hit is the
// one along whose axis the ball was still clear of the block at its last safe position.
void collide_blocks(step_context& ctx, int index) {
    ball_t& ball = ctx.level.balls[index];
    if (!(ball.pos.z > 0)) {
        return;  // fallen into a hole or past the edge: passes under blocks
    }
    ball.old_pos = ball.pos;
    for (int b = 0; b < ctx.level.blocks_count(); ++b) {
        const block_t& block = ctx.level.blocks[b];
        const double hx = block.size.x * 0.5 + ball.size;
        const double hy = block.size.y * 0.5 + ball.size;
        if (!(std::fabs(ball.old_pos.x - block.pos.x) < hx &&
              std::fabs(ball.old_pos.y - block.pos.y) < hy)) {
            continue;
        }
        const bool x1 = ball.pos.x != ball.old_pos.x;
        const bool y1 = ball.pos.y != ball.old_pos.y;
        const bool x2 = std::fabs(ball.safe_pos.x - block.pos.x) > hx;
        const bool y2 = std::fabs(ball.safe_pos.y - block.pos.y) > hy;
        if (ctx.events != nullptr) {
            // The speed into the face hit: across x when the ball was clear along x, else y.
            physics_event contact = event_of(physics_event::kind::block_contact, index, b);
            contact.speed = std::fabs(x2 ? ball.v.x : ball.v.y);
            ctx.report(contact);
        }
        if (!x1 && x2 && !(y1 && y2)) {
            ball.v.x = -block.bounce * ball.v.x;
            ball.pos.x = ball.old_pos.x - block.pos.x > 0 ? block.pos.x + hx : block.pos.x - hx;
        }
        if (!y1 && y2 && !(x1 && x2)) {
            ball.v.y = -block.bounce * ball.v.y;
            ball.pos.y = ball.old_pos.y - block.pos.y > 0 ? block.pos.y + hy : block.pos.y - hy;
        }
        if (x1 && y1 && !x2 && y2) {
            ball.v.x = ball.v.x / (-block.bounce);
            ball.pos.x = ball.old_pos.x;
        }
        if (x1 && y1 && x2 && !y2) {
            ball.v.y = ball.v.y / (-block.bounce);
            ball.pos.y = ball.old_pos.y;
        }
    }
    if (ball.pos.x == ball.old_pos.x) {
        ball.safe_pos.x = ball.pos.x;
    }
    if (ball.pos.y == ball.old_pos.y) {
        ball.safe_pos.y = ball.pos.y;
    }
}

// The rolling orientation is kept in the drawing frame, where desk (x, y, z) is (x, z, y):
// a ball moving with (vx, vy) over the surface rolls about (vy, 0, -vx).
void roll(double deltaT, ball_t& ball) {
    const double rotation_magnitude = std::sqrt(ball.rotation_speed.x * ball.rotation_speed.x +
                                                ball.rotation_speed.y * ball.rotation_speed.y);
    const double perimeter = ball.size * pi;
    if (rotation_magnitude > 0) {
        const double angle = deltaT * rotation_magnitude / perimeter * 360;
        const matrix4_t R = rotation_matrix_about(angle, ball.rotation_speed.y / rotation_magnitude,
                                                  0, -ball.rotation_speed.x / rotation_magnitude);
        ball.rotation_matrix = multiply(R, ball.rotation_matrix);
    }
}

void move_ball(step_context& ctx, int index, double sin_x, double sin_y, double cos_x,
               double cos_y) {
    const double deltaT = ctx.deltaT;
    const physics_cfg_t& cfg = ctx.cfg;
    ball_t& ball = ctx.level.balls[index];

    // A ball found outside the box still finishes this step.
    if (outside_box(ball.pos, cfg.simulation_box_size)) {
        ball.active = ball_lost;
        ctx.report(event_of(physics_event::kind::lost, index));
    }
    ball.old_pos = ball.pos;

    ball.a.x = cfg.gravity * sin_y * acceleration_factor;
    ball.a.y = -cfg.gravity * sin_x * acceleration_factor;
    ball.a.z = cfg.gravity * cos_x * cos_y * acceleration_factor;

    ball.v.x = ball.v.x + ball.a.x * deltaT;
    ball.v.y = ball.v.y + ball.a.y * deltaT;
    ball.v.z = ball.v.z + ball.a.z * deltaT;

    ball.pos.x = ball.pos.x + ball.v.x * deltaT;
    ball.pos.y = ball.pos.y + ball.v.y * deltaT;
    ball.pos.z = ball.pos.z + ball.v.z * deltaT;

    desk_contact(ctx, index);
    collide_balls(ctx, index);
    collide_blocks(ctx, index);
    roll(deltaT, ball);

    ball.rotation_speed.x = ball.rotation_speed.x * (1 - cfg.rotation_inhibition * deltaT);
    ball.rotation_speed.y = ball.rotation_speed.y * (1 - cfg.rotation_inhibition * deltaT);
}

}  // namespace

void simulation_step(double deltaT, level_t& level, const physics_cfg_t& physics_cfg, bool game_key,
                     std::vector<physics_event>* events) {
    if (deltaT > max_step_seconds) {
        deltaT = max_step_seconds;
    }
    tilt_desk(deltaT, level, physics_cfg, game_key);
    step_context ctx{deltaT, level, physics_cfg, events};
    release_ball(ctx);

    const double sin_x = std::sin(level.rotation.x * pi / 180);
    const double sin_y = std::sin(level.rotation.y * pi / 180);
    const double cos_x = std::cos(level.rotation.x * pi / 180);
    const double cos_y = std::cos(level.rotation.y * pi / 180);

    for (int i = 0; i < level.balls_count(); ++i) {
        if (is_in_play(level.balls[i])) {
            move_ball(ctx, i, sin_x, sin_y, cos_x, cos_y);
        }
    }
}
