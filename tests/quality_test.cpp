#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "quality_cfg.h"

namespace {

std::array<int, 8> costs(const quality_cfg_t& q) {
    return {q.antialiasing,   q.shadows,        q.outlines,       q.gate_score,
            q.shadow_quality, q.ball_quality_a, q.ball_quality_b, q.hole_quality};
}

TEST(Quality, DropsOneStepAfterMoreThanOneAndAHalfSecondsOfSlowFrames) {
    // Twelve 0.125 s frames at 8 per second make 1.5 s, not more; a frame at 25 per second is
    // not slow and restarts the count.
    quality_cfg_t q = quality_cfg_init();
    for (int i = 0; i < 26; ++i) {
        automatic_quality_config(q, i == 12 ? 25.0 : 8.0, 0.125);
        ASSERT_EQ(q.current_quality_level, i < 25 ? 0 : 1) << i;
    }
    EXPECT_EQ(q.low_fps_time, 0.0);
}

TEST(Quality, EachStepSwitchesSomethingOffAndOnlyNewSegmentCountsRebuild) {
    quality_cfg_t q = quality_cfg_init();
    std::vector<int> rebuilt_at;
    const quality_rebuild_hook hook = [&](const quality_cfg_t& cfg) {
        rebuilt_at.push_back(cfg.current_quality_level);
        EXPECT_LT(cfg.hole_quality, 36);  // the new counts are in place when the hook runs
    };
    std::vector<std::array<int, 8>> steps = {costs(q)};
    for (int i = 0; i < 7 * 13; ++i) {
        automatic_quality_config(q, 8.0, 0.125, hook);
        if (i % 13 == 12) {
            steps.push_back(costs(q));
        }
    }
    EXPECT_EQ(q.current_quality_level, 7);
    // The lowest level still shows the gates' points.
    const std::vector<std::array<int, 8>> expected = {
        {1, 1, 1, 1, 24, 24, 15, 36}, {1, 1, 1, 1, 12, 12, 7, 18}, {1, 1, 1, 1, 8, 8, 5, 12},
        {0, 1, 1, 1, 8, 8, 5, 12},    {0, 0, 1, 1, 8, 8, 5, 12},   {0, 0, 0, 1, 8, 8, 5, 12},
        {0, 0, 0, 1, 8, 8, 5, 12},    {0, 0, 0, 1, 8, 8, 5, 12}};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(rebuilt_at, (std::vector<int>{1, 2}));
}

}  // namespace
