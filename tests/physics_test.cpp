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
    level.rotation = {0.0, 0.0};
    level.ball_activation_interval = 100.0;
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
void add_ball(level_t& level, point3D_t pos, vector3D_t v = {}, double size = 0.5) {
    ball_t ball;
    ball.active = ball_in_play;
    ball.pos = pos;
    ball.v = v;
    ball.size = size;
    ball.bounce = 0.25;
    ball.old_pos = pos;
    ball.safe_pos = pos;
    level.balls.push_back(ball);
    level.ball_activation_iterator = level.balls_count();
    level.active_balls_count = level.balls_count();
}

// Rest height of a ball of radius 0.6 on the flat level's desk; radius 0.5 rests at 1.0.
constexpr double rest_large = 0.5 + 0.6;

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

int active_texts(const tt_state& texts) {
    int count = 0;
    for (const timedText& slot : texts.tt1) {
        count += slot.active != 0 ? 1 : 0;
    }
    return count;
}

TEST(PhysicsStep, TimeStepIsClampedToOneTwentiethOfASecond) {
    const struct { double deltaT, used; } cases[] = {{0.2, 0.05}, {0.05, 0.05}, {0.04, 0.04}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deltaT);
        level_t level = flat_level();
        add_ball(level, {0.0, 0.0, 5.0}, {1.0, 0.0, 0.0});
        level.balls.push_back(ball_t{});  // waiting, so the release timer runs
        level.ball_activation_iterator = 1;
        physics_cfg_t cfg = still_cfg();
        cfg.rotation_step = 15.0;
        simulation_step(c.deltaT, level, cfg, 0);
        EXPECT_DOUBLE_EQ(level.rotation.y, -15.0 * c.used);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.x, c.used);
        EXPECT_DOUBLE_EQ(level.ball_activation_timer, c.used);
    }
}

TEST(PhysicsTilt, OvershootsTheLimitByOneStepThenHolds) {
    level_t level = flat_level();
    const physics_cfg_t cfg = load_physics_cfg();
    level.rotation = {1.4, 5.0};  // exactly at the limit: not short of it, so no change
    simulation_step(0.05, level, cfg, 1);
    EXPECT_EQ(level.rotation.y, 5.0);

    level.rotation.y = 4.9;
    simulation_step(0.05, level, cfg, 1);
    EXPECT_DOUBLE_EQ(level.rotation.y, 5.65);
    const double overshoot = level.rotation.y;
    simulation_step(0.05, level, cfg, 1);
    EXPECT_EQ(level.rotation.y, overshoot);

    // Released, it falls 0.75 per step until at or below -5: 15 steps from 5.65 to -5.6.
    for (int i = 0; i < 15; ++i) {
        const double before = level.rotation.y;
        simulation_step(0.05, level, cfg, 0);
        EXPECT_NEAR(before - level.rotation.y, 0.75, 1e-12) << "step " << i;
    }
    EXPECT_NEAR(level.rotation.y, -5.6, 1e-12);
    const double settled = level.rotation.y;
    simulation_step(0.05, level, cfg, 0);
    EXPECT_EQ(level.rotation.y, settled);
    EXPECT_EQ(level.rotation.x, 1.4);
}

TEST(PhysicsStep, GravityIsProjectedOntoTheTiltedDeskAndIntegratedVelocityFirst) {
    // Key held at +5 degrees pulls toward -x, released at -5 toward +x; the fixed slope
    // pulls toward +y, more at 1.6 degrees than at 1.4.
    const struct {
        double slope, tilt;
        int key;
        double ax, ay;
    } cases[] = {{1.6, 5.0, 1, -7.87, 2.52}, {1.4, -5.0, 0, 7.87, 2.21}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tilt);
        level_t level = flat_level();
        level.rotation = {c.slope, c.tilt};
        add_ball(level, {0.0, 0.0, 5.0});
        simulation_step(0.05, level, load_physics_cfg(), c.key);
        const ball_t& ball = level.balls[0];
        EXPECT_NEAR(ball.a.x, c.ax, 0.01);
        EXPECT_NEAR(ball.a.y, c.ay, 0.01);
        EXPECT_NEAR(ball.a.z, -90.252 * std::cos(c.slope * pi / 180) * std::cos(5 * pi / 180),
                    1e-9);
        EXPECT_DOUBLE_EQ(ball.v.y, ball.a.y * 0.05);
        EXPECT_DOUBLE_EQ(ball.pos.y, ball.a.y * 0.05 * 0.05);
        EXPECT_DOUBLE_EQ(ball.pos.z, 5.0 + ball.a.z * 0.05 * 0.05);
    }
}

// A level as the scene set-up leaves it: nothing released, the timer 0.1 s short.
level_t level_with_waiting_balls(int count, double interval) {
    level_t level = flat_level();
    for (int i = 0; i < count; ++i) {
        ball_t ball;
        ball.pos = {2.0 * i, 0.0, 10.0};
        ball.size = 0.5;
        ball.safe_pos = ball.pos;
        level.balls.push_back(ball);
    }
    level.ball_activation_interval = interval;
    level.ball_activation_timer = interval - 0.1;
    return level;
}

TEST(PhysicsRelease, FirstStepReleasesBallZeroEvenWithoutTime) {
    level_t level = level_with_waiting_balls(2, 20.0);
    ball_t& first = level.balls[0];
    first.v = {1.0, 2.0, 3.0};
    first.rotation_speed = {4.0, 5.0, 6.0};
    first.last_gate_time = 7.0;
    simulation_step(0.0, level, load_physics_cfg(), 0);

    EXPECT_EQ(level.ball_activation_iterator, 1);
    EXPECT_EQ(level.ball_activation_timer, 0.0);
    EXPECT_EQ(first.active, ball_in_play);
    expect_vector(first.v, 0.0, 0.0, 0.0);
    expect_vector(first.rotation_speed, 0.0, 0.0, 0.0);
    expect_vector(first.pos, 0.0, 0.0, 10.0);
    EXPECT_EQ(first.last_gate_time, 0.0);
    EXPECT_EQ(level.balls[1].active, ball_waiting);
}

TEST(PhysicsRelease, IntervalMustBeStrictlyExceeded) {
    level_t level = level_with_waiting_balls(2, 0.5);
    level.balls[0].active = ball_in_play;
    level.ball_activation_iterator = 1;
    level.active_balls_count = 1;
    level.ball_activation_timer = 0.46875;  // binary fractions keep the sums exact
    simulation_step(0.03125, level, still_cfg(), 0);
    EXPECT_EQ(level.ball_activation_timer, 0.5);
    EXPECT_EQ(level.ball_activation_iterator, 1);
    simulation_step(0.03125, level, still_cfg(), 0);
    EXPECT_EQ(level.ball_activation_timer, 0.0);
    EXPECT_EQ(level.ball_activation_iterator, 2);
    EXPECT_EQ(level.balls[1].active, ball_in_play);
}

TEST(PhysicsRelease, ZeroIntervalReleasesOneBallPerStepInOrder) {
    // The timer starts at -0.1; the first release, with no ball in play, resets it.
    level_t level = level_with_waiting_balls(4, 0.0);
    simulation_step(0.0, level, still_cfg(), 0);
    level.active_balls_count = 1;
    simulation_step(0.0, level, still_cfg(), 0);  // 0 > 0 fails: no time, no release
    EXPECT_EQ(level.ball_activation_iterator, 1);
    for (int released = 2; released <= 4; ++released) {
        simulation_step(0.01, level, still_cfg(), 0);
        EXPECT_EQ(level.ball_activation_iterator, released);
        EXPECT_EQ(level.balls[released - 1].active, ball_in_play);
    }
    simulation_step(0.01, level, still_cfg(), 0);
    EXPECT_EQ(level.ball_activation_timer, 0.0);  // stops counting once all are out
}

TEST(PhysicsLost, OnlyStrictlyOutsideTheBoxAndTheBallStillMoves) {
    const struct {
        point3D_t pos;
        bool lost;
    } cases[] = {
        {{100.0, 0.0, 5.0}, false},  {{100.0001, 0.0, 5.0}, true},  {{0.0, -100.0001, 5.0}, true},
        {{0.0, 0.0, -100.0}, false}, {{0.0, 0.0, -100.0001}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos.x << ", " << c.pos.y << ", " << c.pos.z);
        level_t level = flat_level();
        add_ball(level, c.pos, {1.0, 0.0, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        const ball_t& ball = level.balls[0];
        EXPECT_EQ(ball.active, c.lost ? ball_lost : ball_in_play);
        EXPECT_DOUBLE_EQ(ball.pos.x, c.pos.x + 0.05);
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(ball.pos.x, c.pos.x + (c.lost ? 0.05 : 0.1));
    }
}

TEST(PhysicsLost, BallMarkedLostStillCollidesThatStep) {
    level_t level = flat_level();
    add_ball(level, {100.0001, 0.0, 5.0}, {5.0, 0.0, 0.0}, 0.6);
    add_ball(level, {101.3001, 0.0, 5.0}, {}, 0.6);
    simulation_step(0.05, level, still_cfg(), 0);
    EXPECT_EQ(level.balls[0].active, ball_lost);
    EXPECT_EQ(level.balls[0].v.x, 0.0);
    EXPECT_EQ(level.balls[1].v.x, 5.0);
}

TEST(PhysicsDeskContact, CentreOnTheDeskEdgeGetsNoSupport) {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.rotation_step = 0.0;
    const struct {
        double x, y;
        bool supported;
    } cases[] = {{5.0, 0.0, false}, {4.99, 0.0, true}, {0.0, -10.0, false}, {0.0, -9.99, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        level_t level = flat_level();
        level.width = 10.0f;
        add_ball(level, {c.x, c.y, 1.0});  // resting: depth / 2 + radius
        simulation_step(0.05, level, cfg, 0);
        if (c.supported) {
            EXPECT_EQ(level.balls[0].pos.z, 1.0);
        } else {
            EXPECT_DOUBLE_EQ(level.balls[0].pos.z, 1.0 + one_step_fall);
        }
    }
}

TEST(PhysicsDeskContact, BallFallsOnlyWhenItsCentreIsStrictlyWithinTheHole) {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.rotation_step = 0.0;
    for (double offset : {0.5, 0.49}) {
        SCOPED_TRACE(offset);
        level_t level = flat_level();
        level.holes.push_back({{2.0, 3.0}, 1.0});
        add_ball(level, {2.0 + offset, 3.0, rest_large}, {}, 0.6);  // wider than the hole
        simulation_step(0.05, level, cfg, 0);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.z,
                         offset == 0.5 ? rest_large : rest_large + one_step_fall);
    }
}

TEST(PhysicsDeskContact, LandingIncludesBothBoundsAndSnapsToRestHeight) {
    level_t level = flat_level();
    add_ball(level, {0.0, 0.0, 1.2}, {2.0, -1.0, -4.0}, 0.6);
    level.balls[0].rotation_speed.z = 7.0;
    simulation_step(0.05, level, still_cfg(), 0);
    const ball_t& ball = level.balls[0];
    EXPECT_EQ(ball.pos.z, rest_large);
    EXPECT_EQ(ball.v.z, 1.0);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.x, 1.9);  // set from v, then one step of decay
    EXPECT_DOUBLE_EQ(ball.rotation_speed.y, -0.95);
    EXPECT_EQ(ball.rotation_speed.z, 0.0);
    EXPECT_EQ(ball.last_gate_time, 0.05);

    // Resting exactly at D with no vertical motion still counts as landing.
    level.balls[0].rotation_speed = {};
    simulation_step(0.0, level, still_cfg(), 0);
    EXPECT_EQ(level.balls[0].rotation_speed.x, 2.0);
}

TEST(PhysicsHoleWall, BallInsideTheDeskThicknessIsReflectedBackIntoTheHole) {
    physics_cfg_t cfg = load_physics_cfg();
    cfg.rotation_step = 0.0;
    level_t level = flat_level();
    level.holes.push_back({{0.0, 0.0}, 2.0});
    add_ball(level, {0.95, 0.0, 0.0}, {2.0, 1.0, 0.0});
    simulation_step(0.05, level, cfg, 0);

    const double vz = -98.1 * 0.92 * 0.05;
    const ball_t& wall = level.balls[0];
    expect_vector(wall.v, -2.0, -1.0, vz);
    EXPECT_DOUBLE_EQ(wall.pos.x, 0.85);
    EXPECT_DOUBLE_EQ(wall.pos.y, -0.05);
    EXPECT_DOUBLE_EQ(wall.pos.z, vz * 0.05);
}

struct gate_level {
    level_t level = flat_level();
    tt_state texts;
    physics_cfg_t cfg = still_cfg();

    // A ball of radius 0.5 resting on the desk at (x, y), next to a 10-point gate.
    gate_level(double x, double y, double last_gate_time) {
        level.gates.push_back({{3.0, -2.0}, 2.0, 10, {}});
        add_ball(level, {x, y, 1.0});
        level.balls[0].last_gate_time = last_gate_time;
    }
    void step() { simulation_step(0.05, level, cfg, 0, &texts); }
};

TEST(PhysicsGates, CatchZoneAndDelayIncludeTheirEdges) {
    const struct {
        double x, y, last_gate_time;
        bool scores;
    } cases[] = {
        {4.0, -2.0, 0.5, true},          {2.0, -2.0, 0.5, true},
        {3.0, -1.75, 0.5, true},         {3.0, -2.25, 0.5, true},
        {4.0, -1.75, 0.5, true},         {4.0 + 1e-9, -2.0, 0.5, false},
        {3.0, -1.75 + 1e-9, 0.5, false}, {3.0, -2.25 - 1e-9, 0.5, false},
        {3.0, -2.0, 0.4999999, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.last_gate_time);
        gate_level g(c.x, c.y, c.last_gate_time);
        g.step();
        const ball_t& ball = g.level.balls[0];
        EXPECT_EQ(g.level.total_score, c.scores ? 10 : 0);
        EXPECT_EQ(active_texts(g.texts), c.scores ? 1 : 0);
        EXPECT_DOUBLE_EQ(ball.last_gate_time, c.scores ? 0.0 : c.last_gate_time + 0.05);
    }
}

TEST(PhysicsGates, ScoreAddsPointsAndStartsItsText) {
    gate_level g(3.0, -2.0, 0.5);
    g.level.gates[0].score = 50;
    g.level.total_score = 120;
    g.step();
    EXPECT_EQ(g.level.total_score, 170);
    ASSERT_EQ(active_texts(g.texts), 1);
    const timedText& text = g.texts.tt1[0];
    EXPECT_EQ(text.text, "50");
    EXPECT_EQ(text.secs, 0.5);
}

TEST(PhysicsGates, OverlappingZonesScoreOnlyTheLowestIndexGate) {
    gate_level g(3.2, -2.1, 0.5);
    g.level.gates.push_back({{3.5, -2.0}, 4.0, 50, {}});
    g.step();
    EXPECT_EQ(g.level.total_score, 10);
    ASSERT_EQ(active_texts(g.texts), 1);
    EXPECT_EQ(g.texts.tt1[0].text, "10");
    EXPECT_EQ(g.level.balls[0].last_gate_time, 0.0);
}

TEST(PhysicsGates, FreshBallScoresOnlyAfterHalfASecondOnTheDesk) {
    level_t level = level_with_waiting_balls(1, 100.0);
    level.balls[0].pos = {0.0, 0.0, 1.0};
    level.balls[0].last_gate_time = 7.0;  // the release clears it
    level.gates.push_back({{0.0, 0.0}, 4.0, 10, {}});
    const physics_cfg_t cfg = still_cfg();
    for (int i = 0; i < 16; ++i) {
        simulation_step(0.03125, level, cfg, 0);
        level.active_balls_count = 1;
        EXPECT_EQ(level.total_score, 0) << "step " << i;
    }
    EXPECT_EQ(level.balls[0].last_gate_time, 0.5);
    simulation_step(0.03125, level, cfg, 0);
    EXPECT_EQ(level.total_score, 10);
}

TEST(PhysicsBallCollision, ContactIsInclusiveThreeDimensionalAndNeedsADirection) {
    const struct {
        point3D_t other;
        char other_active;
        bool contact;
    } cases[] = {
        {{1.2, 0.0, 5.0}, ball_in_play, true},
        {{1.2000001, 0.0, 5.0}, ball_in_play, false},
        {{0.0, 0.0, 6.0}, ball_in_play, true},
        {{1.0, 0.0, 5.0}, ball_waiting, false},
        {{1.0, 0.0, 5.0}, ball_lost, false},
        {{0.0, 0.0, 5.0}, ball_in_play, false},  // coincident: no direction, left alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.other.x << ", " << c.other.z << ", " << static_cast<int>(c.other_active));
        level_t level = flat_level();
        add_ball(level, {0.0, 0.0, 5.0}, {1.0, 2.0, 3.0}, 0.6);
        add_ball(level, c.other, {-4.0, 5.0, -6.0}, 0.6);
        level.balls[1].active = c.other_active;
        simulation_step(0.0, level, still_cfg(), 0);
        EXPECT_EQ(level.balls[0].v.x, c.contact ? -4.0 : 1.0);
        EXPECT_EQ(level.balls[0].v.z, c.contact ? -6.0 : 3.0);
        EXPECT_EQ(level.balls[1].v.y, c.contact ? 2.0 : 5.0);
        // Already exactly touching: separation leaves the centres where they are.
        EXPECT_EQ(level.balls[0].pos.x, 0.0);
        EXPECT_EQ(level.balls[1].pos.x, c.other.x);
    }
}

TEST(PhysicsBallCollision, HeadOnAndGlancingContactsExchangeVelocities) {
    const struct { double other_x, other_y; } cases[] = {{1.3, 0.0}, {1.0, 0.9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other_y);
        level_t level = flat_level();
        add_ball(level, {0.0, 0.0, 5.0}, {5.0, 0.0, 0.0}, 0.6);
        add_ball(level, {c.other_x, c.other_y, 5.0}, {}, 0.6);
        simulation_step(0.05, level, still_cfg(), 0);
        const ball_t& first = level.balls[0];
        const ball_t& second = level.balls[1];
        EXPECT_EQ(first.v.x, 0.0);
        EXPECT_EQ(second.v.x, 5.0);
        EXPECT_EQ(second.v.y, 0.0);
        // Undo the second ball's own move to see the separation: 1.2 apart about the
        // midpoint the pair had when the first ball reached it.
        const double dx = second.pos.x - 0.25 - first.pos.x;
        const double dy = second.pos.y - first.pos.y;
        EXPECT_NEAR(std::sqrt(dx * dx + dy * dy), 1.2, 1e-12);
        EXPECT_NEAR(first.pos.x + second.pos.x - 0.25, 0.25 + c.other_x, 1e-12);
        EXPECT_NEAR(first.pos.y + second.pos.y, c.other_y, 1e-12);
    }
}

TEST(PhysicsBallCollision, VerticalGuardStopsOnlyABallPushedIntoTheDesk) {
    const physics_cfg_t cfg = still_cfg();
    level_t resting = flat_level();
    add_ball(resting, {0.0, 0.0, rest_large}, {1.0, 0.0, 4.0}, 0.6);
    add_ball(resting, {1.1, 0.0, rest_large}, {}, 0.6);
    for (ball_t& ball : resting.balls) {
        ball.bounce = 0.5;
    }
    simulation_step(0.0, resting, cfg, 0);
    // Ball 0 bounced to v.z -2 and handed it to ball 1, which bounced it to 1.
    EXPECT_EQ(resting.balls[1].v.z, 1.0);
    EXPECT_EQ(resting.balls[0].pos.z, rest_large);
    EXPECT_NEAR(resting.balls[1].pos.x - resting.balls[0].pos.x, 1.2, 1e-12);

    level_t stacked = flat_level();
    add_ball(stacked, {0.0, 0.0, rest_large}, {}, 0.6);
    add_ball(stacked, {0.3, 0.0, rest_large + 1.0}, {0.0, 0.0, -3.0}, 0.6);
    simulation_step(0.0, stacked, cfg, 0);
    EXPECT_EQ(stacked.balls[0].v.z, 0.0);
    EXPECT_EQ(stacked.balls[1].v.z, 0.0);
    EXPECT_EQ(stacked.balls[0].pos.z, rest_large);
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
        add_ball(level, {c.x, c.y, 1.0}, {c.vx, c.vy, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        const ball_t& ball = level.balls[0];
        EXPECT_DOUBLE_EQ(ball.pos.x, c.end_x);
        EXPECT_DOUBLE_EQ(ball.pos.y, c.end_y);
        EXPECT_EQ(ball.v.x, c.end_vx);
        EXPECT_EQ(ball.v.y, c.end_vy);
        // Only an axis that needed no correction becomes safe.
        EXPECT_DOUBLE_EQ(ball.safe_pos.x, c.vx == c.end_vx ? c.end_x : c.x);
        EXPECT_DOUBLE_EQ(ball.safe_pos.y, c.vy == c.end_vy ? c.end_y : c.y);
    }
}

TEST(PhysicsBlocks, BallAtOrBelowTheMiddlePlanePassesUnder) {
    for (double z : {0.0, 0.01}) {
        SCOPED_TRACE(z);
        level_t level = flat_level();
        level.holes.push_back({{5.0, -3.0}, 10.0});  // keeps the desk from acting on it
        level.blocks.push_back({{5.0, -3.0}, {2.0, 2.0, 1.0}, 0.25, {}});
        add_ball(level, {3.2, -2.7, z}, {8.0, 0.0, 0.0});
        simulation_step(0.05, level, still_cfg(), 0);
        EXPECT_DOUBLE_EQ(level.balls[0].pos.x, z > 0.0 ? 3.5 : 3.6);
        EXPECT_EQ(level.balls[0].v.x, z > 0.0 ? -2.0 : 8.0);
    }
}

TEST(PhysicsBlocks, SecondBlockTakesBackPartOfTheFirstBlocksCorrection) {
    // Block 0 pushes the ball out at a corner, reflecting both components. Block 1 holds the
    // safe coordinate in its band along one axis only; along the other it restores what
    // block 0 did. The second case is the first with x and y swapped.
    const struct {
        point2D_t second_block, start;
        vector3D_t v, end_pos, end_v, end_safe;
    } cases[] = {
        {{-1.0, 2.0},
         {-1.2, 1.2},
         {4.0, 2.0, 0.0},
         {-1.2, 1.5, 1.0},
         {4.0, -0.5, 0.0},
         {-1.2, -1.6, 0.0}},
        {{2.0, -1.0},
         {1.2, -1.2},
         {2.0, 4.0, 0.0},
         {1.5, -1.2, 1.0},
         {-0.5, 4.0, 0.0},
         {-1.6, -1.2, 0.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start.x);
        level_t level = flat_level();
        level.blocks.push_back({{0.0, 0.0}, {2.0, 2.0, 1.0}, 0.25, {}});
        level.blocks.push_back({c.second_block, {2.0, 2.0, 1.0}, 0.25, {}});
        add_ball(level, {c.start.x, c.start.y, 1.0}, c.v);
        level.balls[0].safe_pos = {-1.6, -1.6, 0.0};
        simulation_step(0.0, level, still_cfg(), 0);
        const ball_t& ball = level.balls[0];
        expect_vector(ball.pos, c.end_pos.x, c.end_pos.y, c.end_pos.z);
        expect_vector(ball.v, c.end_v.x, c.end_v.y, c.end_v.z);
        expect_vector(ball.safe_pos, c.end_safe.x, c.end_safe.y, c.end_safe.z);
    }
}

TEST(PhysicsRolling, RotatesAboutTheRollingAxisAndDecays) {
    level_t level = flat_level();
    add_ball(level, {0.0, 0.0, 5.0}, {}, 0.6);
    level.balls[0].rotation_speed = {3.0, 4.0, 0.0};
    simulation_step(0.02, level, still_cfg(), 0);
    const ball_t& ball = level.balls[0];

    // Angle and axis read back from the matrix: trace = 1 + 2 cos, the antisymmetric part
    // is 2 sin × axis.
    const matrix4_t& m = ball.rotation_matrix;
    const double cosine = (at(m, 0, 0) + at(m, 1, 1) + at(m, 2, 2) - 1.0) / 2.0;
    const double ax = at(m, 2, 1) - at(m, 1, 2);
    const double ay = at(m, 0, 2) - at(m, 2, 0);
    const double az = at(m, 1, 0) - at(m, 0, 1);
    const double twice_sine = std::sqrt(ax * ax + ay * ay + az * az);
    EXPECT_NEAR(std::atan2(twice_sine / 2.0, cosine) * 180.0 / pi, 19.0986, 1e-4);
    EXPECT_NEAR(ax / twice_sine, 0.8, 1e-12);
    EXPECT_NEAR(ay / twice_sine, 0.0, 1e-12);
    EXPECT_NEAR(az / twice_sine, -0.6, 1e-12);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.x, 2.94);
    EXPECT_DOUBLE_EQ(ball.rotation_speed.y, 3.92);
}

TEST(PhysicsRolling, NewRotationIsAppliedAfterTheAccumulatedOne) {
    level_t level = flat_level();
    add_ball(level, {0.0, 0.0, 5.0}, {}, 0.6);
    const matrix4_t start = rotation_matrix_about(90.0, 1.0, 0.0, 0.0);
    level.balls[0].rotation_matrix = start;
    level.balls[0].rotation_speed = {3.0, 4.0, 0.0};
    simulation_step(0.02, level, still_cfg(), 0);
    const double angle = 0.02 * 5.0 / (0.6 * pi) * 360.0;
    const matrix4_t expected = multiply(rotation_matrix_about(angle, 0.8, 0.0, -0.6), start);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(level.balls[0].rotation_matrix[i], expected[i], 1e-12) << "element " << i;
    }
}

TEST(PhysicsRolling, NoRollingSpeedLeavesTheMatrixAlone) {
    level_t level = flat_level();
    add_ball(level, {0.0, 0.0, 5.0}, {}, 0.6);
    const matrix4_t start = rotation_matrix_about(30.0, 0.0, 1.0, 0.0);
    level.balls[0].rotation_matrix = start;
    level.balls[0].rotation_speed = {0.0, 0.0, 7.0};  // z plays no part
    simulation_step(0.02, level, still_cfg(), 0);
    EXPECT_EQ(level.balls[0].rotation_matrix, start);
    EXPECT_EQ(level.balls[0].rotation_speed.z, 7.0);
}

TEST(MatrixRotation, MatchesTheOpenGLRotationForKnownCases) {
    // 90 degrees about y takes x to -z and z to x; 120 degrees about (1, 1, 1) cycles the
    // axes x to y to z. Columns are the images of the axes.
    const double k = 1.0 / std::sqrt(3.0);
    const struct {
        double degrees, x, y, z;
        matrix4_t expected;
    } cases[] = {
        {90.0, 0.0, 1.0, 0.0, {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        {120.0, k, k, k, {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.degrees);
        const matrix4_t m = rotation_matrix_about(c.degrees, c.x, c.y, c.z);
        for (int i = 0; i < 16; ++i) {
            EXPECT_NEAR(m[i], c.expected[i], 1e-15) << "element " << i;
        }
    }
}

TEST(MatrixMultiply, LeftFactorActsLast) {
    // T translates by (1, 2, 3), S scales by (2, 3, 4): T × S scales, then translates.
    const matrix4_t T = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    const matrix4_t S = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1};
    const matrix4_t TS = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1};
    const matrix4_t ST = {2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 2, 6, 12, 1};
    EXPECT_EQ(multiply(T, S), TS);
    EXPECT_EQ(multiply(S, T), ST);
    EXPECT_EQ(multiply(identity_matrix, TS), TS);
}

}  // namespace
