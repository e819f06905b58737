#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
