// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "math_constants.h"
#include "matrix.h"
#include "physics.h"

namespace {

level_t flat_level() {
    level_t level;
    level.width = 20.0f;
    level.height = 20.0f;
    level.depth = 1.0f;
    level.balls.reserve(8);  // add_ball's references stay valid
    return level;
}

physics_cfg_t still_cfg(double gravity = 0.0) {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.gravity = gravity;
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

TEST(PhysicsTilt, StepsAreClampedToOneTwentiethOfASecondAndOvershootTheLimitOnce) {
    level_t level = flat_level();
    const physics_cfg_t cfg = load_physics_cfg();
    level.rotation = {1.4, 5.0};  // exactly at the limit is not short of it: no change
    simulation_step(0.05, level, cfg, 1);
    EXPECT_EQ(level.rotation.y, 5.0);
    level.rotation.y = 4.9;
    simulation_step(0.2, level, cfg, 1);  // 0.75 more, as in 0.05 s
    simulation_step(0.05, level, cfg, 1);
    EXPECT_DOUBLE_EQ(level.rotation.y, 5.65);
    // Released, it falls 0.6 in 0.04 s, then 0.75 a step until at or below -5.
    simulation_step(0.04, level, cfg, 0);
    EXPECT_DOUBLE_EQ(level.rotation.y, 5.05);
    for (int i = 0; i < 15; ++i) {
        simulation_step(0.05, level, cfg, 0);
    }
    EXPECT_NEAR(level.rotation.y, -5.45, 1e-12);
    EXPECT_EQ(level.rotation.x, 1.4);
}

TEST(PhysicsRelease, NextBallComesOnceTheIntervalIsPassedOrNoBallIsInPlay) {
    const struct {
        double interval, timer, deltaT, timer_after;
        int released, in_play, released_after;
    } cases[] = {
        {20.0, 19.9, 0.0, 0.0, 0, 0, 1},        // the first step releases ball 0 at once
        {0.5, 0.46875, 0.03125, 0.5, 1, 1, 1},  // reaching the interval is not enough
        {0.5, 0.5, 0.03125, 0.0, 1, 1, 2},     {0.0, 0.0, 0.0, 0.0, 1, 1, 1},
        {0.0, 0.0, 0.01, 0.0, 1, 1, 2},        {0.5, 0.25, 0.125, 0.25, 3, 1, 3},  // all out
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
        for (int i = c.released; i < 3; ++i) {
            const ball_t& ball = level.balls[i];
            const bool now = i < c.released_after;  // released by this step, or still waiting
            EXPECT_EQ(ball.active, now ? ball_in_play : ball_waiting) << i;
            const vector3D_t &v = ball.v, &r = ball.rotation_speed;
            EXPECT_EQ(
                (std::array{v.x, v.y, v.z, r.x, r.y, r.z, ball.last_gate_time}),
                (now ? std::array<double, 7>{} : std::array{1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0}))
                << i;
        }
    }
}

TEST(PhysicsLost, OnlyStrictlyOutsideTheBoxAndTheBallStillMovesAndCollides) {
    const struct {
        double x, y, z;
        bool lost;
    } cases[] = {
        {100.0, 0.0, 5.0, false},  {100.0001, 0.0, 5.0, true},  {0.0, -100.0001, 5.0, true},
        {0.0, 0.0, -100.0, false}, {0.0, 0.0, -100.0001, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z);
        level_t level = flat_level();
        add_ball(level, {c.x, c.y, c.z}, {5.0, 0.0, 0.0}, 0.6);
        add_ball(level, {c.x + 1.3, c.y, c.z}, {}, 0.6);  // reached after 0.25
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_EQ(level.balls[0].active, c.lost ? ball_lost : ball_in_play);
        EXPECT_EQ(level.balls[1].v.x, 5.0);
    }
}

TEST(PhysicsDeskContact, SupportNeedsTheCentreStrictlyOverSolidDesk) {
    // A 10 × 20 desk with a hole of diameter 1 at (2, 3), narrower than the ball.
    const struct {
        double x, y;
        bool supported;
    } cases[] = {{5.0, 0.0, false},  {4.99, 0.0, true}, {0.0, -10.0, false},
                 {0.0, -9.99, true}, {2.5, 3.0, true},  {2.49, 3.0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        level_t level = flat_level();
        level.width = 10.0f;
        level.holes.push_back({{2.0, 3.0}, 1.0});
        add_ball(level, {c.x, c.y, rest_large}, {}, 0.6);
        simulation_step(0.05, level, still_cfg(-98.1), 0);
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

    // A centre that ends exactly at the desk's underside is past its side: no reflection.
    level_t below = flat_level();
    const ball_t& under = add_ball(below, {0.0, 0.0, 0.0}, {1.0, 0.0, -32.0});
    simulation_step(0.03125, below, still_cfg(), 0);
    EXPECT_EQ(under.v.x, 1.0);
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
        add_ball(level, {c.x, c.y, 1.0}).last_gate_time = c.last_gate_time;
        std::vector<physics_event> events;
        simulation_step(0.05, level, still_cfg(), false, &events);
        std::erase_if(events,
                      [](const auto& e) { return e.what != physics_event::kind::gate_scored; });
        ASSERT_EQ(events.size(), c.scores ? 1u : 0u);
        if (c.scores) {
            const physics_event& e = events[0];
            EXPECT_EQ(std::tuple(e.ball, e.points, e.position.x, e.position.y),
                      std::tuple(0, 10, level.balls[0].pos.x, level.balls[0].pos.y));
        }
        EXPECT_DOUBLE_EQ(level.balls[0].last_gate_time, c.scores ? 0.0 : c.last_gate_time + 0.05);
    }
}

TEST(PhysicsBallCollision, ContactIsInclusiveThreeDimensionalAndNeedsADirection) {
    // Balls of radius 0.6 in contact swap velocities and move apart along the line of centres
    // to 1.2 about their midpoint, in x and y only.
    const struct {
        double x, y, z;
        ball_state other_active;
        bool contact;
        double end_x, end_y;  // the other ball's centre afterwards
    } cases[] = {
        {1.2, 0.0, 5.0, ball_in_play, true, 1.2, 0.0},
        {1.2000001, 0.0, 5.0, ball_in_play, false, 1.2000001, 0.0},
        {1.0, 0.0, 5.0, ball_in_play, true, 1.1, 0.0},
        {0.6, 0.8, 5.0, ball_in_play, true, 0.66, 0.88},
        {0.0, 0.0, 6.0, ball_in_play, true, 0.0, 0.0},
        {1.0, 0.0, 5.0, ball_waiting, false, 1.0, 0.0},
        {1.0, 0.0, 5.0, ball_lost, false, 1.0, 0.0},
        {0.0, 0.0, 5.0, ball_in_play, false, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z << ", "
                                        << static_cast<int>(c.other_active));
        level_t level = flat_level();
        const ball_t& ball = add_ball(level, {0.0, 0.0, 5.0}, {1.0, 2.0, 3.0}, 0.6);
        ball_t& other = add_ball(level, {c.x, c.y, c.z}, {-4.0, 5.0, -6.0}, 0.6);
        other.active = c.other_active;
        simulation_step(0.0, level, still_cfg(), 0);
        EXPECT_EQ(ball.v.x, c.contact ? -4.0 : 1.0);
        EXPECT_EQ(ball.v.z, c.contact ? -6.0 : 3.0);
        EXPECT_EQ(other.v.y, c.contact ? 2.0 : 5.0);
        EXPECT_NEAR(other.pos.x, c.end_x, 1e-12);
        EXPECT_NEAR(other.pos.y, c.end_y, 1e-12);
        EXPECT_NEAR(ball.pos.x + other.pos.x, c.x, 1e-12);
        EXPECT_NEAR(ball.pos.y + other.pos.y, c.y, 1e-12);
    }
    // Balls of radius 1 touching: each centre is exactly 1 from the midpoint.
    level_t big = flat_level();
    add_ball(big, {0.0, 0.0, 5.0}, {1.0, 0.0, 0.0}, 1.0);
    add_ball(big, {2.0, 0.0, 5.0}, {}, 1.0);
    simulation_step(0.0, big, still_cfg(), 0);
    EXPECT_EQ(big.balls[1].v.x, 1.0);
}

TEST(PhysicsBallCollision, VerticalGuardStopsOnlyABallPushedIntoTheDesk) {
    level_t resting = flat_level();
    add_ball(resting, {0.0, 0.0, rest_large}, {1.0, 0.0, 4.0}, 0.6).bounce = 0.5;
    add_ball(resting, {1.1, 0.0, rest_large}, {}, 0.6).bounce = 0.5;
    simulation_step(0.0, resting, still_cfg(), 0);
    // Ball 0 bounced to v.z -2 and handed it to ball 1, which bounced it to 1.
    EXPECT_EQ(resting.balls[1].v.z, 1.0);

    level_t stacked = flat_level();
    add_ball(stacked, {0.0, 0.0, rest_large}, {}, 0.6);
    add_ball(stacked, {0.3, 0.0, rest_large + 1.0}, {0.0, 0.0, -3.0}, 0.6);
    simulation_step(0.0, stacked, still_cfg(), 0);
    EXPECT_EQ(stacked.balls[0].v.z, 0.0);
    EXPECT_EQ(stacked.balls[1].v.z, 0.0);
    EXPECT_EQ(stacked.balls[1].pos.z, rest_large + 1.0);
}

TEST(PhysicsBlocks, FaceHitReflectsTheClearAxisAndPutsTheBallOutside) {
    // Block 2 × 2 at (5, -3); ball radius 0.5, so the grown half-extents are 1.5. A hole under
    // it keeps the desk from acting on the ball. Binary fractions keep the sums exact.
    const struct {
        double x, y, z, vx, vy, deltaT, end_x, end_y, end_vx, end_vy, safe_x, safe_y;
    } cases[] = {
        {3.2, -2.7, 0.01, 8.0, 0.5, 0.05, 3.5, -2.675, -2.0, 0.5, 3.2, -2.675},  // from -x
        {6.8, -2.7, 1.0, -8.0, 0.5, 0.05, 6.5, -2.675, 2.0, 0.5, 6.8, -2.675},   // from +x
        {5.3, -1.2, 1.0, 0.5, -8.0, 0.05, 5.325, -1.5, 0.5, 2.0, 5.325, -1.2},   // from +y
        {3.2, -4.8, 1.0, 8.0, 8.0, 0.05, 3.5, -4.5, -2.0, -2.0, 3.2, -4.8},      // corner
        {3.25, -2.5, 1.0, 8.0, 0.0, 0.03125, 3.5, -2.5, 8.0, 0.0, 3.5, -2.5},    // touching
        {3.2, -2.7, 0.0, 8.0, 0.0, 0.05, 3.6, -2.7, 8.0, 0.0, 3.2, -2.7},        // under the block
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z);
        level_t level = flat_level();
        level.holes.push_back({{5.0, -3.0}, 10.0});
        level.blocks.push_back({{5.0, -3.0}, {2.0, 2.0, 1.0}, 0.25, {}});
        const ball_t& ball = add_ball(level, {c.x, c.y, c.z}, {c.vx, c.vy, 0.0});
        simulation_step(c.deltaT, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(ball.pos.x, c.end_x);
        EXPECT_DOUBLE_EQ(ball.pos.y, c.end_y);
        EXPECT_EQ(ball.v.x, c.end_vx);
        EXPECT_EQ(ball.v.y, c.end_vy);
        EXPECT_DOUBLE_EQ(ball.safe_pos.x, c.safe_x);  // only an uncorrected axis becomes safe
        EXPECT_DOUBLE_EQ(ball.safe_pos.y, c.safe_y);
    }
}

TEST(PhysicsRolling, TheNewRotationAboutTheRollingAxisActsAfterTheAccumulatedOne) {
    // A ball turned 90 degrees about y rolls a quarter turn in 0.02 s; rolling with (vx, vy)
    // turns it about (vy, 0, -vx) in the drawing frame.
    const matrix4_t start = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    const double quarter = 0.25 * 0.6 * pi / 0.02;
    const struct {
        vector3D_t rotation_speed;
        matrix4_t end;
    } cases[] = {
        {{0.0, quarter, 0.0}, {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},    // about +x
        {{quarter, 0.0, 0.0}, {0, 0, -1, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 1}},  // about -z
        {{0.0, 0.0, 7.0}, start},                                                   // z: none
    };
    for (const auto& c : cases) {
        level_t level = flat_level();
        ball_t& ball = add_ball(level, {0.0, 0.0, 5.0}, {}, 0.6);
        ball.rotation_matrix = start;
        ball.rotation_speed = c.rotation_speed;
        simulation_step(0.02, level, still_cfg(), 0);
        for (int i = 0; i < 16; ++i) {
            EXPECT_NEAR(ball.rotation_matrix[i], c.end[i], 1e-12) << c.rotation_speed.x << " " << i;
        }
    }
}

TEST(Matrix, TheLeftFactorActsLast) {
    // T translates by (1, 2, 3), S scales by (2, 3, 4): T × S scales, then translates.
    const matrix4_t T = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    const matrix4_t S = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1};
    EXPECT_EQ(multiply(T, S), (matrix4_t{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1}));
    EXPECT_EQ(multiply(S, T), (matrix4_t{2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 2, 6, 12, 1}));
}

// The events of one 0.05 s step, one "kind ball other speed [hole]" a line (-0 shown as 0).
std::string step_events(level_t level, double gravity) {
    static const char* const kinds[] = {"released",    "landed", "ball_contact", "block_contact",
                                        "gate_scored", "fell",   "lost"};
    std::vector<physics_event> events;
    simulation_step(0.05, level, still_cfg(gravity), false, &events);
    std::string text;
    for (const physics_event& e : events) {
        char line[80];
        std::snprintf(line, sizeof line, "%s %d %d %.17g%s\n", kinds[static_cast<int>(e.what)],
                      e.ball, e.other, e.speed + 0.0, e.over_hole ? " hole" : "");
        text += line;
    }
    return text;
}

TEST(PhysicsEvents, EachStepReportsWhatHappenedInOrderWithItsMeasure) {
    level_t landing = flat_level();
    add_ball(landing, {0.0, 0.0, 1.2}, {0.0, 0.0, -4.0}, 0.6);
    EXPECT_EQ(step_events(landing, 0.0), "landed 0 -1 4\n");

    // Head on in the air: they close at 4 along the line of their centres, and touch once.
    level_t pair = flat_level();
    add_ball(pair, {0.0, 0.0, 5.0}, {2.0, 0.0, 0.0}, 0.6);
    add_ball(pair, {1.3, 0.0, 5.0}, {-2.0, 0.0, 0.0}, 0.6);
    EXPECT_EQ(step_events(pair, 0.0), "ball_contact 0 1 4\n");

    level_t hole = flat_level();
    hole.holes.push_back({{0.0, 0.0}, 2.0});
    add_ball(hole, {0.0, 0.0, rest_large}, {}, 0.6);
    EXPECT_EQ(step_events(hole, -98.1), "fell 0 -1 0 hole\n");
    hole.holes.clear();
    hole.balls[0].pos.x = 12.0;
    EXPECT_EQ(step_events(hole, -98.1), "fell 0 -1 0\n");

    // Found outside the box, the ball still finishes its step: off the desk, unsupported.
    hole.balls[0].pos.x = 100.0001;
    EXPECT_EQ(step_events(hole, 0.0), "lost 0 -1 0\nfell 0 -1 0\n");

    // Rolling on the desk it lands on every step, then meets the block's face at 2.
    level_t block = flat_level();
    block.blocks.push_back({{1.5, 0.0}, {1.0, 4.0, 1.0}, 0.25, {}});
    add_ball(block, {0.35, 0.0, rest_large}, {2.0, 0.0, 0.0}, 0.6);
    EXPECT_EQ(step_events(block, 0.0), "landed 0 -1 0\nblock_contact 0 0 2\n");

    level_t waiting = flat_level();
    add_ball(waiting, {0.0, 0.0, 10.0}, {}, 0.6).active = ball_waiting;
    waiting.ball_activation_iterator = waiting.active_balls_count = 0;
    EXPECT_EQ(step_events(waiting, 0.0), "released 0 -1 0\n");
}

}  // namespace
