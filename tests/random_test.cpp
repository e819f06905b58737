#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "random.h"

namespace {

TEST(Random, UniformIntegersFromZeroTo32767) {
    seed_random(12345);
    int lowest = random_max;
    int highest = 0;
    std::vector<int> buckets(8, 0);
    constexpr int draws = 400000;
    for (int i = 0; i < draws; ++i) {
        const int r = next_random();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, random_max);
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
        buckets[r / 4096] += 1;
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, random_max);
    for (const int count : buckets) {
        EXPECT_NEAR(count, draws / 8, draws / 80);
    }
}

TEST(Random, TheSameSeedGivesTheSameSequence) {
    seed_random(7);
    std::vector<int> first;
    for (int i = 0; i < 20; ++i) {
        first.push_back(next_random());
    }
    seed_random(7);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(next_random(), first[i]);
    }
    seed_random(8);
    EXPECT_NE(next_random(), first[0]);
}

}  // namespace
