#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "clock.h"
#include "random.h"

namespace {

TEST(Random, UniformFromZeroTo32767AndRepeatableBySeed) {
    seed_random(12345);
    std::vector<int> first;
    std::vector<int> buckets(8, 0);
    constexpr int draws = 32768;
    for (int i = 0; i < draws; ++i) {
        const int r = next_random();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, random_max);
        buckets[r / 4096] += 1;
        first.push_back(r);
    }
    for (const int count : buckets) {
        EXPECT_NEAR(count, draws / 8, draws / 80);
    }
    seed_random(12345);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(next_random(), first[i]);
    }
    seed_random(12346);
    EXPECT_NE(next_random(), first[0]);
}

// The game clock counts seconds. The bounds are loose: this checks the unit, not the speed.
TEST(Clock, CountsSeconds) {
    const double start = getTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double elapsed = getTime() - start;
    EXPECT_GT(elapsed, 0.015);
    EXPECT_LT(elapsed, 5.0);
}

}  // namespace
