// SPDX-License-Identifier: MIT
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

TEST(Quality, EveryStepCostsLessAndOnlyNewSegmentCountsRebuild) {
    quality_cfg_t q = quality_cfg_init();
    EXPECT_EQ(costs(q), (std::array<int, 8>{1, 1, 1, 1, 24, 24, 15, 36}));
    std::vector<int> rebuilt_at;
    const quality_rebuild_hook hook = [&](const quality_cfg_t& cfg) {
        rebuilt_at.push_back(cfg.current_quality_level);
        EXPECT_LT(cfg.hole_quality, 36);  // the new counts are in place when the hook runs
    };
    for (int level = 1; level <= 7; ++level) {
        SCOPED_TRACE(level);
        const std::array<int, 8> before = costs(q);
        for (int i = 0; i < 13; ++i) {
            automatic_quality_config(q, 8.0, 0.125, hook);
        }
        ASSERT_EQ(q.current_quality_level, level);
        const std::array<int, 8> after = costs(q);
        for (std::size_t k = 0; k < after.size(); ++k) {
            EXPECT_LE(after[k], before[k]) << "setting " << k;
        }
        EXPECT_EQ(after != before, level <= 5);
    }
    EXPECT_EQ(rebuilt_at, (std::vector<int>{1, 2}));
    // The lowest level still shows the gates' points.
    EXPECT_EQ(costs(q), (std::array<int, 8>{0, 0, 0, 1, 8, 8, 5, 12}));
}

}  // namespace
