// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "levels.h"
#include "simulator.h"

namespace {

TEST(SimulatorOptions, KeyPatternsAndSecondsParseOnlyWhatTheyShould) {
    const auto toggle = key_pattern::parse("toggle:3");
    ASSERT_TRUE(toggle);
    for (int frame = 0; frame < 8; ++frame) {
        EXPECT_EQ(toggle->key_at(frame), frame / 3 % 2) << frame;
    }
    for (const char* bad : {"", "Up", "toggle", "toggle:", "toggle:0", "toggle:-2", "toggle:1.5",
                            "toggle: 3", "toggle:9999999999"}) {
        EXPECT_FALSE(key_pattern::parse(bad)) << bad;
    }
    EXPECT_EQ(*parse_seconds("1/60"), 1.0 / 60.0);
    EXPECT_EQ(*parse_seconds("0.02"), 0.02);
    EXPECT_EQ(*parse_seconds("1e-3"), 0.001);
    for (const char* bad : {"", "x", "1/0", "1/", "/2", "0.1s", " 1", "nan", "inf", "1e999"}) {
        EXPECT_FALSE(parse_seconds(bad)) << bad;
    }
}

TEST(SimulatorFates, HoleEdgeScoresAndUnfinishedLevels) {
    // A bare desk with one ball dropped over its middle.
    level_t level;
    level.width = 20.0f;
    level.height = 10.0f;
    level.depth = 0.6f;
    level.rotation = {1.4, 0.0};
    ball_t ball;
    ball.pos = ball.safe_pos = {0.0, 0.0, 10.0};
    ball.size = 0.6;
    ball.bounce = 0.25;
    level.balls.push_back(ball);
    sim_options options;
    options.max_time = 60.0;

    // With the key up the desk tilts toward +x: the ball rolls off that side, through a gate
    // on the way. The score carries on from 40.
    level_t open = level;
    open.gates.push_back({{6.0, 2.0}, 8.0, 30, {}});
    const level_report off_edge = run_level(open, 7, 40, options);
    EXPECT_STREQ(off_edge.balls[0].fate, "edge");
    EXPECT_EQ(off_edge.balls[0].gate_scores, 1);
    EXPECT_EQ(off_edge.score, 70);
    level.holes.push_back({{0.0, 0.0}, 3.0});
    EXPECT_STREQ(run_level(level, 7, 40, options).balls[0].fate, "hole");

    options.max_time = 0.99;
    const level_report r = run_level(1, 0, options);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.frames, 60);  // stops on the first frame past the limit
    EXPECT_STREQ(r.balls[0].fate, "in_play");
    EXPECT_STREQ(r.balls[4].fate, "waiting");
}

}  // namespace
