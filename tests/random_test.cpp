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
    for (int i = 0; i < 32768; ++i) {
        first.push_back(next_random());
        ASSERT_TRUE(first.back() >= 0 && first.back() <= random_max) << first.back();
        buckets[first.back() / 4096] += 1;
    }
    for (const int count : buckets) {
        EXPECT_NEAR(count, 4096, 410);
    }
    seed_random(12345);
    EXPECT_EQ(next_random(), first[0]);
    EXPECT_EQ(next_random(), first[1]);
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
