// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "synth.h"

namespace {

constexpr double fs = sound_sample_rate;

double peak(const samples_t& s, size_t from, size_t to) {
    double p = 0.0;
    for (size_t i = from; i < to; ++i) {
        p = std::max(p, static_cast<double>(std::abs(s[i])));
    }
    return p;
}

double largest_step(const samples_t& s, size_t from, size_t to) {
    double step = 0.0;
    for (size_t i = from + 1; i < to; ++i) {
        step = std::max(step, static_cast<double>(std::abs(s[i] - s[i - 1])));
    }
    return step;
}

double mean(const samples_t& s) {
    return std::accumulate(s.begin(), s.end(), 0.0) / static_cast<double>(s.size());
}

// The strongest frequency between `lo` and `hi` Hz in the window from `from_s` lasting `len_s`:
// Goertzel filters half a percent apart over the Hann-windowed samples.
double strongest_hz(const samples_t& s, double from_s, double len_s, double lo, double hi) {
    const size_t from = static_cast<size_t>(from_s * fs);
    const size_t n = static_cast<size_t>(len_s * fs);
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] = s.at(from + i) * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n));
    }
    double best_hz = 0.0, best_power = -1.0;
    for (double hz = lo; hz < hi; hz *= 1.005) {
        const double c = 2.0 * std::cos(2.0 * std::numbers::pi * hz / fs);
        double s1 = 0.0, s2 = 0.0;
        for (double v : x) {
            const double s0 = v + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > best_power) {
            best_power = power;
            best_hz = hz;
        }
    }
    return best_hz;
}

struct one_shot {
    sound_id id;
    int variant;
    double min_s, max_s;
};

std::vector<one_shot> one_shots() {
    std::vector<one_shot> all = {
        {sound_id::drop, 0, 0.1, 0.2},          {sound_id::thud, 0, 0.15, 0.25},
        {sound_id::click, 0, 0.04, 0.06},       {sound_id::knock, 0, 0.06, 0.1},
        {sound_id::plunk, 0, 0.25, 0.35},       {sound_id::whoosh, 0, 0.3, 0.45},
        {sound_id::beep, 0, 0.12, 0.18},        {sound_id::go, 0, 0.25, 0.4},
        {sound_id::level_done, 0, 0.6, 0.8},    {sound_id::game_over, 0, 1.0, 1.4},
        {sound_id::key, 0, 0.015, 0.03},        {sound_id::post_accepted, 0, 0.3, 0.4},
        {sound_id::post_refused, 0, 0.35, 0.45}};
    for (int v = 0; v < chime_variants; ++v) {
        all.push_back({sound_id::chime, v, 0.6, 0.9});
    }
    return all;
}

TEST(Synth, EveryOneShotIsShortLoudEnoughAndStartsAndEndsWithoutAClick) {
    const double max_peak = std::pow(10.0, -1.0 / 20.0), min_peak = std::pow(10.0, -6.0 / 20.0);
    const size_t onset = static_cast<size_t>(0.00025 * fs), tail = static_cast<size_t>(0.001 * fs);
    for (const one_shot& o : one_shots()) {
        const samples_t s = synthesize(o.id, o.variant);
        SCOPED_TRACE(std::string(sound_name(o.id)) + " " + std::to_string(o.variant));
        const double seconds = static_cast<double>(s.size()) / fs;
        EXPECT_GE(seconds, o.min_s);
        EXPECT_LE(seconds, o.max_s);
        ASSERT_TRUE(std::all_of(s.begin(), s.end(), [](float v) { return std::isfinite(v); }));
        const double p = peak(s, 0, s.size());
        EXPECT_LE(p, max_peak);
        EXPECT_GE(p, min_peak);
        EXPECT_LT(std::abs(mean(s)), 1e-3);
        EXPECT_LT(std::abs(s.front()), 1e-3);
        EXPECT_LT(std::abs(s.back()), 1e-3);
        // The fades keep both ends quiet and smooth, however loud the sound is in between. A hit
        // is at full level 2 ms in, so only its first quarter millisecond is quiet.
        EXPECT_LT(peak(s, 0, onset), 0.05);
        EXPECT_LT(largest_step(s, 0, onset), 0.05);
        EXPECT_LT(peak(s, s.size() - tail, s.size()), 0.05);
        EXPECT_LT(largest_step(s, s.size() - tail, s.size()), 0.05);
    }
}

TEST(Synth, RollLoopsWithoutAStepAtTheSeamAndRumblesLow) {
    const samples_t s = synthesize(sound_id::roll);
    ASSERT_GE(s.size(), static_cast<size_t>(0.5 * fs));
    EXPECT_LE(s.size(), static_cast<size_t>(1.5 * fs));
    EXPECT_LE(peak(s, 0, s.size()), std::pow(10.0, -1.0 / 20.0));
    EXPECT_GE(peak(s, 0, s.size()), std::pow(10.0, -6.0 / 20.0));
    EXPECT_LT(std::abs(mean(s)), 1e-3);

    std::vector<float> steps;
    size_t crossings = 0;
    for (size_t i = 1; i < s.size(); ++i) {
        steps.push_back(std::abs(s[i] - s[i - 1]));
        crossings += (s[i] < 0) != (s[i - 1] < 0);
    }
    std::sort(steps.begin(), steps.end());
    const float p99 = steps[steps.size() * 99 / 100];
    EXPECT_LE(std::abs(s.front() - s.back()), p99);
    // Two zero crossings a cycle: the rumble's typical frequency is in the wood's low band.
    const double typical_hz = crossings / 2.0 / (static_cast<double>(s.size()) / fs);
    EXPECT_GT(typical_hz, 80.0);
    EXPECT_LT(typical_hz, 600.0);
}

TEST(Synth, PitchesMoveTheWayTheyShould) {
    double last_hz = 0.0;
    for (int v = 0; v < chime_variants; ++v) {
        const double hz = strongest_hz(synthesize(sound_id::chime, v), 0.01, 0.09, 300.0, 3000.0);
        EXPECT_GT(hz, last_hz * 1.04) << "variant " << v;  // at least a semitone higher
        last_hz = hz;
    }
    const double beep = strongest_hz(synthesize(sound_id::beep), 0.01, 0.12, 100.0, 4000.0);
    EXPECT_NEAR(beep, 880.0, 880.0 * 0.02);
    EXPECT_GT(strongest_hz(synthesize(sound_id::go), 0.01, 0.2, 100.0, 4000.0), beep * 1.5);

    struct glide {
        sound_id id;
        double late_s, len_s;  // the early window starts at 0
        bool rises;
    };
    for (const glide& g :
         {glide{sound_id::drop, 0.08, 0.04, false}, glide{sound_id::plunk, 0.15, 0.04, false},
          glide{sound_id::level_done, 0.34, 0.1, true},
          glide{sound_id::post_accepted, 0.13, 0.1, true},
          glide{sound_id::post_refused, 0.18, 0.15, false}}) {
        const samples_t s = synthesize(g.id);
        const double early = strongest_hz(s, 0.0, g.len_s, 60.0, 4000.0);
        const double late = strongest_hz(s, g.late_s, g.len_s, 60.0, 4000.0);
        EXPECT_GT(g.rises ? late / early : early / late, 1.05)
            << sound_name(g.id) << " " << early << " Hz, then " << late << " Hz";
    }
}

// Each impact sits in its own register, so that a thud, a knock and a click are told apart.
TEST(Synth, ImpactsSoundInTheirRegisters) {
    struct reg {
        sound_id id;
        double lo_hz, hi_hz;
    };
    for (const reg& r :
         {reg{sound_id::thud, 60.0, 200.0}, reg{sound_id::knock, 250.0, 900.0},
          reg{sound_id::click, 1500.0, 4000.0}, reg{sound_id::key, 1000.0, 4000.0}}) {
        const samples_t s = synthesize(r.id);
        const double hz = strongest_hz(s, 0.002, 0.02, 30.0, 10000.0);
        EXPECT_GE(hz, r.lo_hz) << sound_name(r.id);
        EXPECT_LE(hz, r.hi_hz) << sound_name(r.id);
    }
}

TEST(Synth, TheBankHoldsTheSameSoundsEveryTimeUnderDistinctNames) {
    const sound_bank bank = synthesize_sounds();
    std::set<std::string> names;
    for (int i = 0; i < sound_count; ++i) {
        const auto id = static_cast<sound_id>(i);
        EXPECT_EQ(bank.sounds[i], synthesize(id)) << sound_name(id);
        names.insert(sound_name(id));
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(sound_count));
    for (int v = 0; v < chime_variants; ++v) {
        EXPECT_EQ(bank.get(sound_id::chime, v), synthesize(sound_id::chime, v));
    }
    EXPECT_EQ(bank.sounds[static_cast<int>(sound_id::chime)], bank.chimes[0]);

    // Gates score tens; other points take the nearest chime, and any points take one.
    for (const auto& [points, variant] :
         {std::pair{10, 0}, {14, 0}, {15, 1}, {50, 4}, {100, 9}, {0, 0}, {-30, 0}, {250, 9}}) {
        EXPECT_EQ(chime_variant(points), variant) << points;
    }
}

}  // namespace
