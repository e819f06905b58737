#include <gtest/gtest.h>

#include <cmath>

#include "math_constants.h"
#include "matrix.h"
#include "physics.h"
#include "tt.h"

namespace {

// A flat, untilted 20 × 20 desk, 1 thick, with nothing on it.
level_t flat_level() {
    level_t level;
    level.width = 20.0f;
    level.height = 20.0f;
    level.depth = 1.0f;
    level.ball_activation_interval = 100.0;
    level.balls.reserve(8);  // add_ball's references stay valid
    return level;
}

// No gravity and a tilt that stays put, so a ball moves only by its own velocity.
physics_cfg_t still_cfg() {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.gravity = 0.0;
    cfg.rotation_step = 0.0;
    return cfg;
}

// Adds a ball already in play and marks every ball as released.
ball_t& add_ball(level_t& level, point3D_t pos, vector3D_t v = {}, double size = 0.5) {
    ball_t ball;
    ball.active = ball_in_play;
    ball.pos = ball.old_pos = ball.safe_pos = pos;
    ball.v = v;
    ball.size = size;
    ball.bounce = 0.25;
    level.balls.push_back(ball);
    level.ball_activation_iterator = level.active_balls_count = level.balls_count();
    return level.balls.back();
}

constexpr double rest_large = 0.5 + 0.6;  // rest height of a ball of radius 0.6; 0.5 rests at 1
// How far an unsupported ball at rest falls in one 0.05 s step of default gravity, flat desk.
constexpr double one_step_fall = -98.1 * 0.92 * 0.05 * 0.05;

void expect_vector(const vector3D_t& v, double x, double y, double z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

double at(const matrix4_t& m, int row, int column) {
    return m[column * 4 + row];
}

TEST(PhysicsStep, TimeStepIsClampedToOneTwentiethOfASecond) {
    for (const auto& [deltaT, used] : {std::pair{0.2, 0.05}, {0.05, 0.05}, {0.04, 0.04}}) {
        SCOPED_TRACE(deltaT);
        level_t level = flat_level();
        add_ball(level, {0.0, 0.0, 5.0}, {1.0, 0.0, 0.0});
        level.balls.push_back(ball_t{});  // waiting, so the release timer runs
        physics_cfg_t cfg = still_cfg();
        cfg.rotation_step = 15.0;
        simulation_step(deltaT, level, cfg, 0);
        EXPECT_DOUBLE_EQ(level.rotation.y, -15.0 * used);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.x, used);
        EXPECT_DOUBLE_EQ(level.ball_activation_timer, used);
    }
}

TEST(PhysicsTilt, OvershootsTheLimitByOneStepThenHolds) {
    level_t level = flat_level();
    const physics_cfg_t cfg = load_physics_cfg();
    level.rotation = {1.4, 5.0};  // exactly at the limit is not short of it: no change
    simulation_step(0.05, level, cfg, 1);
    EXPECT_EQ(level.rotation.y, 5.0);
    level.rotation.y = 4.9;
    simulation_step(0.05, level, cfg, 1);
    simulation_step(0.05, level, cfg, 1);
    EXPECT_DOUBLE_EQ(level.rotation.y, 5.65);
    // Released, it falls 0.75 a step until at or below -5: 15 steps from 5.65 to -5.6.
    for (int i = 0; i < 16; ++i) {
        simulation_step(0.05, level, cfg, 0);
    }
    EXPECT_NEAR(level.rotation.y, -5.6, 1e-12);
    EXPECT_EQ(level.rotation.x, 1.4);
}

TEST(PhysicsStep, GravityIsProjectedOntoTheTiltedDeskAndIntegratedVelocityFirst) {
    // Key held at +5 degrees pulls toward -x, released at -5 toward +x; the fixed slope pulls
    // toward +y, more at 1.6 degrees than at 1.4.
    const struct {
        double slope, tilt;
        int key;
        double ax, ay, az;
    } cases[] = {{1.6, 5.0, 1, -7.86598009, 2.51998374, -89.87350990},
                 {1.4, -5.0, 0, 7.86598009, 2.20505294, -89.88172527}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tilt);
        level_t level = flat_level();
        level.rotation = {c.slope, c.tilt};
        const ball_t& ball = add_ball(level, {0.0, 0.0, 5.0}, {0.5, 0.0, 0.0});
        simulation_step(0.05, level, load_physics_cfg(), c.key);
        EXPECT_NEAR(ball.a.x, c.ax, 1e-8);
        EXPECT_NEAR(ball.a.y, c.ay, 1e-8);
        EXPECT_NEAR(ball.a.z, c.az, 1e-8);
        EXPECT_DOUBLE_EQ(ball.pos.x, (0.5 + ball.a.x * 0.05) * 0.05);
        EXPECT_DOUBLE_EQ(ball.pos.y, ball.a.y * 0.05 * 0.05);
        EXPECT_DOUBLE_EQ(ball.pos.z, 5.0 + ball.a.z * 0.05 * 0.05);
    }
}

TEST(PhysicsRelease, NextBallComesOnceTheIntervalIsPassedOrNoBallIsInPlay) {
    // Binary fractions keep the timer's sums exact.
    const struct {
        double interval, timer;
        int released, in_play;
        double deltaT;
        int released_after;
        double timer_after;
    } cases[] = {
        {20.0, 19.9, 0, 0, 0.0, 1, 0.0},        // the first step releases ball 0 at once
        {0.5, 0.46875, 1, 1, 0.03125, 1, 0.5},  // reaching the interval is not enough
        {0.5, 0.5, 1, 1, 0.03125, 2, 0.0},     {0.0, 0.0, 1, 1, 0.0, 1, 0.0},
        {0.0, 0.0, 1, 1, 0.01, 2, 0.0},        {0.5, 0.25, 3, 1, 0.125, 3, 0.25},  // all out
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << ", " << c.timer << ", " << c.released);
        level_t level = flat_level();
        for (int i = 0; i < 3; ++i) {
            ball_t& ball = add_ball(level, {2.0 * i, 0.0, 10.0}, {1.0, 2.0, 3.0});
            ball.active = i < c.released ? ball_in_play : ball_waiting;
            ball.rotation_speed = {4.0, 5.0, 6.0};
            ball.last_gate_time = 7.0;
        }
        level.ball_activation_interval = c.interval;
        level.ball_activation_iterator = c.released;
        level.active_balls_count = c.in_play;
        level.ball_activation_timer = c.timer;
        simulation_step(c.deltaT, level, still_cfg(), 0);
        EXPECT_EQ(level.ball_activation_iterator, c.released_after);
        EXPECT_EQ(level.ball_activation_timer, c.timer_after);
        if (c.released_after > c.released) {
            const ball_t& ball = level.balls[c.released];
            EXPECT_EQ(ball.active, ball_in_play);
            expect_vector(ball.v, 0.0, 0.0, 0.0);
            expect_vector(ball.rotation_speed, 0.0, 0.0, 0.0);
            expect_vector(ball.pos, 2.0 * c.released, 0.0, 10.0);
            EXPECT_EQ(ball.last_gate_time, 0.0);
        }
        if (c.released_after < 3) {
            EXPECT_EQ(level.balls[c.released_after].active, ball_waiting);
        }
    }
}

TEST(PhysicsLost, OnlyStrictlyOutsideTheBoxAndTheBallStillMovesAndCollides) {
    const struct {
        point3D_t pos;
        bool lost;
    } cases[] = {{{100.0, 0.0, 5.0}, false},
                 {{100.0001, 0.0, 5.0}, true},
                 {{0.0, -100.0001, 5.0}, true},
                 {{0.0, 0.0, -100.0}, false},
                 {{0.0, 0.0, -100.0001}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos.x << ", " << c.pos.y << ", " << c.pos.z);
        level_t level = flat_level();
        add_ball(level, c.pos, {1.0, 0.0, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_EQ(level.balls[0].active, c.lost ? ball_lost : ball_in_play);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.x, c.pos.x + 0.05);
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.x, c.pos.x + (c.lost ? 0.05 : 0.1));
    }
    level_t level = flat_level();
    add_ball(level, {100.0001, 0.0, 5.0}, {5.0, 0.0, 0.0}, 0.6);
    add_ball(level, {101.3001, 0.0, 5.0}, {}, 0.6);
    simulation_step(0.05, level, still_cfg(), 0);
    EXPECT_EQ(level.balls[0].active, ball_lost);
    EXPECT_EQ(level.balls[1].v.x, 5.0);
}

TEST(PhysicsDeskContact, SupportNeedsTheCentreStrictlyOverSolidDesk) {
    // A 10 × 20 desk with a hole of diameter 1 at (2, 3), narrower than the ball.
    const struct {
        double x, y;
        bool supported;
    } cases[] = {{5.0, 0.0, false},  {4.99, 0.0, true}, {0.0, -10.0, false},
                 {0.0, -9.99, true}, {2.5, 3.0, true},  {2.49, 3.0, false}};
    physics_cfg_t cfg = load_physics_cfg();
    cfg.rotation_step = 0.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        level_t level = flat_level();
        level.width = 10.0f;
        level.holes.push_back({{2.0, 3.0}, 1.0});
        add_ball(level, {c.x, c.y, rest_large}, {}, 0.6);
        simulation_step(0.05, level, cfg, 0);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.z, rest_large + (c.supported ? 0.0 : one_step_fall));
    }
}

TEST(PhysicsDeskContact, LandingIncludesBothBoundsAndSnapsToRestHeight) {
    level_t level = flat_level();
    ball_t& ball = add_ball(level, {0.0, 0.0, 1.2}, {2.0, -1.0, -4.0}, 0.6);
    ball.rotation_speed.z = 7.0;
    simulation_step(0.05, level, still_cfg(), 0);
    EXPECT_EQ(ball.pos.z, rest_large);
    EXPECT_EQ(ball.v.z, 1.0);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.x, 1.9);  // set from v, then one step of decay
    EXPECT_DOUBLE_EQ(ball.rotation_speed.y, -0.95);
    EXPECT_EQ(ball.rotation_speed.z, 0.0);
    EXPECT_EQ(ball.last_gate_time, 0.05);
    // Resting exactly at the rest height with no vertical motion still counts as landing.
    ball.rotation_speed = {};
    simulation_step(0.0, level, still_cfg(), 0);
    EXPECT_EQ(ball.rotation_speed.x, 2.0);
}

TEST(PhysicsHoleWall, BallInsideTheDeskThicknessIsReflectedBackIntoTheHole) {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.rotation_step = 0.0;
    level_t level = flat_level();
    level.holes.push_back({{0.0, 0.0}, 2.0});
    const ball_t& ball = add_ball(level, {0.95, 0.0, 0.0}, {2.0, 1.0, 0.0});
    simulation_step(0.05, level, cfg, 0);
    const double vz = -98.1 * 0.92 * 0.05;
    expect_vector(ball.v, -2.0, -1.0, vz);
    EXPECT_DOUBLE_EQ(ball.pos.x, 0.85);
    EXPECT_DOUBLE_EQ(ball.pos.y, -0.05);
    EXPECT_DOUBLE_EQ(ball.pos.z, vz * 0.05);
}

TEST(PhysicsGates, CatchZoneAndDelayIncludeTheirEdgesAndTheLowestGateScores) {
    // A ball of radius 0.5 resting beside a 10-point gate 2 wide at (3, -2); `second` adds an
    // overlapping 50-point gate.
    const struct {
        double x, y, last_gate_time;
        bool second, scores;
    } cases[] = {
        {4.0, -2.0, 0.5, false, true},          {2.0, -2.0, 0.5, false, true},
        {3.0, -1.75, 0.5, false, true},         {3.0, -2.25, 0.5, false, true},
        {4.0, -1.75, 0.5, false, true},         {4.0 + 1e-9, -2.0, 0.5, false, false},
        {3.0, -1.75 + 1e-9, 0.5, false, false}, {3.0, -2.25 - 1e-9, 0.5, false, false},
        {3.0, -2.0, 0.4999999, false, false},   {3.2, -2.1, 0.5, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.last_gate_time);
        level_t level = flat_level();
        level.gates.push_back({{3.0, -2.0}, 2.0, 10, {}});
        if (c.second) {
            level.gates.push_back({{3.5, -2.0}, 4.0, 50, {}});
        }
        level.total_score = 120;
        add_ball(level, {c.x, c.y, 1.0}).last_gate_time = c.last_gate_time;
        tt_state texts;
        simulation_step(0.05, level, still_cfg(), 0, &texts);
        EXPECT_EQ(level.total_score, c.scores ? 130 : 120);
        EXPECT_EQ(texts.tt1[0].active, c.scores ? 1 : 0);
        EXPECT_EQ(texts.tt1[1].active, 0);
        if (c.scores) {
            EXPECT_EQ(texts.tt1[0].text, "10");
            EXPECT_EQ(texts.tt1[0].secs, 0.5);
        }
        EXPECT_DOUBLE_EQ(level.balls[0].last_gate_time, c.scores ? 0.0 : c.last_gate_time + 0.05);
    }
}

TEST(PhysicsGates, FreshBallScoresOnlyAfterHalfASecondOnTheDesk) {
    level_t level = flat_level();
    ball_t& ball = add_ball(level, {0.0, 0.0, 1.0});
    ball.active = ball_waiting;
    ball.last_gate_time = 7.0;  // the release clears it
    level.ball_activation_iterator = level.active_balls_count = 0;
    level.gates.push_back({{0.0, 0.0}, 4.0, 10, {}});
    for (int i = 0; i < 16; ++i) {
        simulation_step(0.03125, level, still_cfg(), 0);
        EXPECT_EQ(level.total_score, 0) << "step " << i;
    }
    EXPECT_EQ(ball.last_gate_time, 0.5);
    simulation_step(0.03125, level, still_cfg(), 0);
    EXPECT_EQ(level.total_score, 10);
}

TEST(PhysicsBallCollision, ContactIsInclusiveThreeDimensionalAndNeedsADirection) {
    const struct {
        point3D_t other;
        char other_active;
        bool contact;
    } cases[] = {
        {{1.2, 0.0, 5.0}, ball_in_play, true}, {{1.2000001, 0.0, 5.0}, ball_in_play, false},
        {{0.0, 0.0, 6.0}, ball_in_play, true}, {{1.0, 0.0, 5.0}, ball_waiting, false},
        {{1.0, 0.0, 5.0}, ball_lost, false},   {{0.0, 0.0, 5.0}, ball_in_play, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.other.x << ", " << c.other.z << ", " << static_cast<int>(c.other_active));
        level_t level = flat_level();
        add_ball(level, {0.0, 0.0, 5.0}, {1.0, 2.0, 3.0}, 0.6);
        add_ball(level, c.other, {-4.0, 5.0, -6.0}, 0.6).active = c.other_active;
        simulation_step(0.0, level, still_cfg(), 0);
        EXPECT_EQ(level.balls[0].v.x, c.contact ? -4.0 : 1.0);
        EXPECT_EQ(level.balls[0].v.z, c.contact ? -6.0 : 3.0);
        EXPECT_EQ(level.balls[1].v.y, c.contact ? 2.0 : 5.0);
        // Already exactly touching: separation leaves the centres where they are.
        EXPECT_EQ(level.balls[0].pos.x, 0.0);
        EXPECT_EQ(level.balls[1].pos.x, c.other.x);
    }
}

TEST(PhysicsBallCollision, OverlappingBallsSeparateAboutTheirMidpointAndExchangeVelocities) {
    for (const auto& [other_x, other_y] : {std::pair{1.3, 0.0}, {1.0, 0.9}}) {
        SCOPED_TRACE(other_y);
        level_t level = flat_level();
        const ball_t& first = add_ball(level, {0.0, 0.0, 5.0}, {5.0, 0.0, 0.0}, 0.6);
        const ball_t& second = add_ball(level, {other_x, other_y, 5.0}, {}, 0.6);
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_EQ(first.v.x, 0.0);
        EXPECT_EQ(second.v.x, 5.0);
        EXPECT_EQ(second.v.y, 0.0);
        // Undo the second ball's own move to see the separation: 1.2 apart about the
        // midpoint the pair had when the first ball reached it.
        const double dx = second.pos.x - 0.25 - first.pos.x;
        EXPECT_NEAR(std::hypot(dx, second.pos.y - first.pos.y), 1.2, 1e-12);
        EXPECT_NEAR(first.pos.x + second.pos.x - 0.25, 0.25 + other_x, 1e-12);
        EXPECT_NEAR(first.pos.y + second.pos.y, other_y, 1e-12);
    }
}

TEST(PhysicsBallCollision, VerticalGuardStopsOnlyABallPushedIntoTheDesk) {
    level_t resting = flat_level();
    add_ball(resting, {0.0, 0.0, rest_large}, {1.0, 0.0, 4.0}, 0.6).bounce = 0.5;
    add_ball(resting, {1.1, 0.0, rest_large}, {}, 0.6).bounce = 0.5;
    simulation_step(0.0, resting, still_cfg(), 0);
    // Ball 0 bounced to v.z -2 and handed it to ball 1, which bounced it to 1.
    EXPECT_EQ(resting.balls[1].v.z, 1.0);
    EXPECT_NEAR(resting.balls[1].pos.x - resting.balls[0].pos.x, 1.2, 1e-12);

    level_t stacked = flat_level();
    add_ball(stacked, {0.0, 0.0, rest_large}, {}, 0.6);
    add_ball(stacked, {0.3, 0.0, rest_large + 1.0}, {0.0, 0.0, -3.0}, 0.6);
    simulation_step(0.0, stacked, still_cfg(), 0);
    EXPECT_EQ(stacked.balls[0].v.z, 0.0);
    EXPECT_EQ(stacked.balls[1].v.z, 0.0);
    EXPECT_EQ(stacked.balls[1].pos.z, rest_large + 1.0);
}

TEST(PhysicsBlocks, FaceHitReflectsTheClearAxisAndPutsTheBallOutside) {
    // Block 2 × 2 at (5, -3); ball radius 0.5, so the grown half-extents are 1.5.
    const struct {
        double x, y, vx, vy, end_x, end_y, end_vx, end_vy;
    } cases[] = {
        {3.2, -2.7, 8.0, 0.5, 3.5, -2.675, -2.0, 0.5},  // from -x
        {6.8, -2.7, -8.0, 0.5, 6.5, -2.675, 2.0, 0.5},  // from +x
        {5.3, -1.2, 0.5, -8.0, 5.325, -1.5, 0.5, 2.0},  // from +y
        {3.2, -4.8, 8.0, 8.0, 3.5, -4.5, -2.0, -2.0},   // corner: both faces
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        level_t level = flat_level();
        level.blocks.push_back({{5.0, -3.0}, {2.0, 2.0, 1.0}, 0.25, {}});
        const ball_t& ball = add_ball(level, {c.x, c.y, 1.0}, {c.vx, c.vy, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(ball.pos.x, c.end_x);
        EXPECT_DOUBLE_EQ(ball.pos.y, c.end_y);
        EXPECT_EQ(ball.v.x, c.end_vx);
        EXPECT_EQ(ball.v.y, c.end_vy);
        // Only an axis that needed no correction becomes safe.
        EXPECT_DOUBLE_EQ(ball.safe_pos.x, c.vx == c.end_vx ? c.end_x : c.x);
        EXPECT_DOUBLE_EQ(ball.safe_pos.y, c.vy == c.end_vy ? c.end_y : c.y);
    }
    // Touching the grown block is no contact yet (binary fractions keep the sums exact).
    level_t touching = flat_level();
    touching.blocks.push_back({{5.0, -3.0}, {2.0, 2.0, 1.0}, 0.25, {}});
    const ball_t& toucher = add_ball(touching, {3.25, -2.5, 1.0}, {8.0, 0.0, 0.0});
    simulation_step(0.03125, touching, still_cfg(), 0);
    EXPECT_EQ(toucher.pos.x, 3.5);
    EXPECT_EQ(toucher.v.x, 8.0);
    // At or below the desk's middle plane a ball passes under the block.
    for (const double z : {0.0, 0.01}) {
        level_t level = flat_level();
        level.holes.push_back({{5.0, -3.0}, 10.0});  // keeps the desk from acting on it
        level.blocks.push_back({{5.0, -3.0}, {2.0, 2.0, 1.0}, 0.25, {}});
        const ball_t& ball = add_ball(level, {3.2, -2.7, z}, {8.0, 0.0, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(ball.pos.x, z > 0.0 ? 3.5 : 3.6);
        EXPECT_EQ(ball.v.x, z > 0.0 ? -2.0 : 8.0);
    }
}

TEST(PhysicsRolling, TheNewRotationAboutTheRollingAxisActsAfterTheAccumulatedOne) {
    level_t level = flat_level();
    const matrix4_t start = rotation_matrix_about(90.0, 1.0, 0.0, 0.0);
    ball_t& ball = add_ball(level, {0.0, 0.0, 5.0}, {}, 0.6);
    ball.rotation_matrix = start;
    ball.rotation_speed = {3.0, 4.0, 0.0};
    ball_t& spinning = add_ball(level, {5.0, 0.0, 5.0}, {}, 0.6);  // z plays no part
    spinning.rotation_matrix = start;
    spinning.rotation_speed = {0.0, 0.0, 7.0};
    simulation_step(0.02, level, still_cfg(), 0);
    EXPECT_EQ(spinning.rotation_matrix, start);

    // This step's rotation is the result times the inverse (transpose) of the start. Its
    // angle and axis: trace = 1 + 2 cos, the antisymmetric part is 2 sin × axis.
    matrix4_t start_inverse{};
    for (int i = 0; i < 16; ++i) {
        start_inverse[i] = at(start, i / 4, i % 4);
    }
    const matrix4_t m = multiply(ball.rotation_matrix, start_inverse);
    const double cosine = (at(m, 0, 0) + at(m, 1, 1) + at(m, 2, 2) - 1.0) / 2.0;
    const double ax = at(m, 2, 1) - at(m, 1, 2);
    const double ay = at(m, 0, 2) - at(m, 2, 0);
    const double az = at(m, 1, 0) - at(m, 0, 1);
    const double twice_sine = std::sqrt(ax * ax + ay * ay + az * az);
    // 0.02 s at speed 5 over a perimeter of 0.6 π, about (vy, 0, -vx) in the drawing frame.
    EXPECT_NEAR(std::atan2(twice_sine / 2.0, cosine) * 180.0 / pi, 19.0986, 1e-4);
    EXPECT_NEAR(ax / twice_sine, 0.8, 1e-12);
    EXPECT_NEAR(ay / twice_sine, 0.0, 1e-12);
    EXPECT_NEAR(az / twice_sine, -0.6, 1e-12);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.x, 2.94);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.y, 3.92);
}

TEST(Matrix, TheLeftFactorActsLast) {
    // T translates by (1, 2, 3), S scales by (2, 3, 4): T × S scales, then translates.
    const matrix4_t T = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    const matrix4_t S = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1};
    EXPECT_EQ(multiply(T, S), (matrix4_t{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1}));
    EXPECT_EQ(multiply(S, T), (matrix4_t{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 2, 6, 12, 1}));
}

}  // namespace
