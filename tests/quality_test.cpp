#include <gtest/gtest.h>

#include "quality_cfg.h"

namespace {

TEST(Quality, StartsAtFullQuality) {
    const quality_cfg_t q = quality_cfg_init();
    EXPECT_EQ(q.antialiasing, 1);
    EXPECT_EQ(q.shadows, 1);
    EXPECT_EQ(q.outlines, 1);
    EXPECT_EQ(q.gate_score, 1);
    EXPECT_EQ(q.shadow_quality, 24);
    EXPECT_EQ(q.ball_quality_a, 24);
    EXPECT_EQ(q.ball_quality_b, 15);
    EXPECT_EQ(q.hole_quality, 36);
    EXPECT_EQ(q.current_quality_level, 0);
    EXPECT_EQ(q.low_fps_time, 0.0);
}

TEST(Quality, DropsOnlyAfterMoreThanOneAndAHalfSecondsOfSlowFrames) {
    quality_cfg_t q = quality_cfg_init();
    int rebuilds = 0;
    const quality_rebuild_hook hook = [&](const quality_cfg_t&) { ++rebuilds; };
    for (int i = 0; i < 12; ++i) {
        automatic_quality_config(q, 8.0, 0.125, hook);
    }
    EXPECT_EQ(q.low_fps_time, 1.5);  // not above 1.5 yet
    EXPECT_EQ(q.current_quality_level, 0);
    automatic_quality_config(q, 8.0, 0.125, hook);
    EXPECT_EQ(q.current_quality_level, 1);
    EXPECT_EQ(q.low_fps_time, 0.0);
    EXPECT_EQ(q.hole_quality, 18);
    EXPECT_EQ(q.ball_quality_b, 7);
    EXPECT_EQ(rebuilds, 1);
}

TEST(Quality, AFastFrameRestartsTheCount) {
    quality_cfg_t q = quality_cfg_init();
    for (int i = 0; i < 10; ++i) {
        automatic_quality_config(q, 10.0, 0.125);
    }
    automatic_quality_config(q, 25.0, 0.04);  // 25 exactly is not slow
    EXPECT_EQ(q.low_fps_time, 0.0);
    for (int i = 0; i < 12; ++i) {
        automatic_quality_config(q, 10.0, 0.125);
    }
    EXPECT_EQ(q.current_quality_level, 0);
}

TEST(Quality, ASlowRunReachesTheLowestLevelThenOnlyCounts) {
    quality_cfg_t q = quality_cfg_init();
    int rebuilds = 0;
    const quality_rebuild_hook hook = [&](const quality_cfg_t& cfg) {
        ++rebuilds;
        EXPECT_LE(cfg.hole_quality, 18);  // the new counts are in place when the hook runs
    };
    for (int i = 0; i < 13 * 7; ++i) {
        automatic_quality_config(q, 8.0, 0.125, hook);
    }
    EXPECT_EQ(q.current_quality_level, 7);
    EXPECT_EQ(q.antialiasing, 0);
    EXPECT_EQ(q.shadows, 0);
    EXPECT_EQ(q.outlines, 0);
    EXPECT_EQ(q.gate_score, 1);
    EXPECT_EQ(q.shadow_quality, 8);
    EXPECT_EQ(q.ball_quality_a, 8);
    EXPECT_EQ(q.ball_quality_b, 5);
    EXPECT_EQ(q.hole_quality, 12);
    EXPECT_EQ(rebuilds, 2);
}

TEST(Quality, EachLevelChangesOnlyItsOwnFields) {
    quality_cfg_t q = quality_cfg_init();
    set_quality_decrease_level(q, 4);
    EXPECT_EQ(q.shadows, 0);
    EXPECT_EQ(q.antialiasing, 1);
    EXPECT_EQ(q.hole_quality, 36);
    set_quality_decrease_level(q, 7);
    EXPECT_EQ(q.current_quality_level, 7);
    EXPECT_EQ(q.outlines, 1);
}

}  // namespace
