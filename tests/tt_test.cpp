#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tt.h"

namespace {

TEST(FloatingTexts, PoolFillsLowestFirstAndRefusesANinth) {
    tt_state tt;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(
            tt.timedVectorTextAt1d3f(std::to_string(i), 1.0, 0.3f, 0.6f, 0.7f, 3.0, 25.0, 0.5 + i),
            i);
    }
    EXPECT_EQ(tt.timedVectorTextAt1d3f("ninth", 0.0, 1, 1, 1, 1, 1, 1), -1);
    for (const timedText& slot : tt.tt1) {
        EXPECT_NE(slot.text, "ninth");
    }
    // After 2.6 s the texts of 0.5, 1.5 and 2.5 s are free; the lowest index is taken.
    tt.countTimedTexts(2.6);
    EXPECT_EQ(tt.tt1[0].active, 0);
    EXPECT_EQ(tt.tt1[2].active, 0);
    EXPECT_EQ(tt.tt1[3].active, 1);
    EXPECT_EQ(tt.timedVectorTextAt1d3f("again", 0.0, 1, 1, 1, 1, 1, 1), 0);
    EXPECT_EQ(tt.tt1[0].rt, 0.0);
    EXPECT_EQ(tt.tt1[0].x, centred_x);
}

TEST(FloatingTexts, ATextEndsExactlyWhenItsTimeIsUp) {
    tt_state tt;
    tt.timedVectorTextAt1d3f("50", 0.0, 0.3f, 0.6f, 0.7f, 3.0, 25.0, 0.5);
    tt.countTimedTexts(0.25);
    EXPECT_EQ(tt.tt1[0].active, 1);
    tt.countTimedTexts(0.25);
    EXPECT_EQ(tt.tt1[0].active, 0);
}

TEST(FloatingTexts, ScaleAndFadeAreLinearOverTheLifetime) {
    tt_state tt;
    tt.timedVectorTextAt2d3f("130", 12.5, 14.0, 1, 1, 0, 2.2, 2.75, 0.25);
    tt.countTimedTexts(0.125);
    const timedText& slot = tt.tt1[0];
    EXPECT_EQ(slot.x, 12.5);
    EXPECT_DOUBLE_EQ(slot.scaler(), 2.475);
    EXPECT_FLOAT_EQ(slot.alpha(), 0.5f);
}

TEST(FloatingTexts, OverlongTextsAreCut) {
    tt_state tt;
    tt.timedVectorTextAt1d3f(std::string(300, 'a'), 0.0, 1, 1, 1, 1, 1, 1);
    EXPECT_EQ(tt.tt1[0].text.size(), 255u);
}

TEST(FrameRate, MeanOverTheLastTwelveFrames) {
    tt_state tt;
    EXPECT_TRUE(std::isinf(tt.getFps()));
    tt.countFps(0.1);
    EXPECT_DOUBLE_EQ(tt.getFps(), 120.0);  // missing frames count as 0 s
    for (int i = 0; i < 11; ++i) {
        tt.countFps(0.02);
    }
    for (int i = 0; i < 12; ++i) {
        tt.countFps(0.02);
    }
    EXPECT_NEAR(tt.getFps(), 50.0, 1e-9);
    tt.countFps(0.26);  // one slow frame in the ring
    EXPECT_NEAR(tt.getFps(), 12.0 / (11 * 0.02 + 0.26), 1e-9);
}

}  // namespace
