#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "levels.h"

namespace {

struct expected_level {
    float width, height;
    double rotation_x, interval;
    int scene_step, holes, balls, blocks, gates, gate_points;
};

constexpr expected_level catalogue[] = {
    {44.0f, 72.0f, 1.6, 20.0, -1, 14, 3, 81, 3, 90},
    {32.0f, 68.0f, 1.4, 15.0, 0, 17, 5, 25, 16, 230},
    {41.0f, 72.0f, 1.4, 10.0, 0, 13, 5, 80, 9, 250},
    {36.0f, 72.0f, 1.4, 0.0, 0, 7, 8, 99, 12, 230},
    {28.0f, 72.0f, 1.4, 15.0, 0, 13, 10, 34, 12, 390},
    {26.0f, 72.0f, 1.4, 18.0, 0, 6, 10, 39, 9, 320},
};

TEST(Levels, CatalogueHeadersCountsAndGatePoints) {
    for (int n = 0; n < levels_count; ++n) {
        SCOPED_TRACE(n);
        const auto level = load_level(n);
        ASSERT_TRUE(level);
        const expected_level& e = catalogue[n];
        EXPECT_EQ(level->width, e.width);
        EXPECT_EQ(level->height, e.height);
        EXPECT_EQ(level->depth, 0.6f);
        EXPECT_EQ(level->rotation.x, e.rotation_x);
        EXPECT_EQ(level->rotation.y, 0.0);
        EXPECT_EQ(level->ball_activation_interval, e.interval);
        EXPECT_EQ(level->scene_step, e.scene_step);
        EXPECT_EQ(level->holes_count(), e.holes);
        EXPECT_EQ(level->balls_count(), e.balls);
        EXPECT_EQ(level->blocks_count(), e.blocks);
        EXPECT_EQ(level->gates_count(), e.gates);
        const int points = std::accumulate(level->gates.begin(), level->gates.end(), 0,
                                           [](int sum, const gate_t& g) { return sum + g.score; });
        EXPECT_EQ(points, e.gate_points);
        EXPECT_EQ(level->total_score, 0);
        EXPECT_EQ(level->total_time, 0.0);
        EXPECT_EQ(level->ball_activation_iterator, 0);
    }
}

TEST(Levels, ElementsRespectTheDesignBounds) {
    for (int n = 0; n < levels_count; ++n) {
        SCOPED_TRACE(n);
        const auto level = load_level(n);
        for (const ball_t& b : level->balls) {
            EXPECT_EQ(b.active, ball_waiting);
            EXPECT_EQ(b.pos.z, 10.0);
            EXPECT_EQ(b.size, 0.6);
            EXPECT_EQ(b.bounce, 0.25);
            EXPECT_LT(b.pos.y, 0.0);  // dropped at the far end
            // The block stage needs a defined safe position from the start.
            EXPECT_EQ(b.safe_pos.x, b.pos.x);
            EXPECT_EQ(b.safe_pos.y, b.pos.y);
        }
        for (const hole_t& h : level->holes) {
            EXPECT_GE(h.size, 1.0);
            EXPECT_LE(h.size, 7.0);
        }
        for (const gate_t& g : level->gates) {
            EXPECT_GE(g.size, 3.0);
            EXPECT_LE(g.size, 13.0);
            EXPECT_TRUE(g.score == 10 || g.score == 20 || g.score == 30 || g.score == 40 ||
                        g.score == 50 || g.score == 100);
        }
        for (const block_t& b : level->blocks) {
            EXPECT_EQ(b.size.z, 1.2);
            EXPECT_LE(std::abs(b.pos.x) + b.size.x / 2, level->width / 2 + 1e-9);
            EXPECT_LE(std::abs(b.pos.y) + b.size.y / 2, level->height / 2 + 1e-9);
        }
    }
}

TEST(Levels, BallOrderOfLevelsThreeAndFive) {
    const auto three = load_level(3);
    const double three_x[] = {-2.5, -6.5, -10.5, -14.5, 2.5, 6.5, 10.5, 14.5};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(three->balls[i].pos.x, three_x[i]);
        EXPECT_EQ(three->balls[i].pos.y, -34.0);
    }
    const auto five = load_level(5);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(five->balls[i].pos.x, i % 2 == 0 ? -9.5 : 9.5);
        EXPECT_EQ(five->balls[i].pos.y, -21.5);
    }
}

TEST(Levels, NumbersOutsideTheCatalogueGiveNothing) {
    EXPECT_FALSE(load_level(6));
    EXPECT_FALSE(load_level(-1));
    EXPECT_FALSE(load_level(1 << 30));
}

}  // namespace
