#include <gtest/gtest.h>

#include "synth.h"

TEST(Synth, EverySoundHasSamples) {
    const sound_bank bank = synthesize_sounds();
    for (const samples_t& s : bank.sounds) {
        EXPECT_FALSE(s.empty());
    }
}
