// SPDX-License-Identifier: MIT
// The game's sounds, made from sine oscillators, filtered noise and envelopes. Everything is
// written straight into the float samples handed out, with oscillators and filters in doubles;
// nothing here keeps state between calls, and the noise comes from fixed seeds, so every run and
// every machine hears the same samples.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numbers>

namespace {

// Each sound is built in place in the vector handed out, with no scratch copy: in a fresh process
// every page first touched costs a fault, a good part of the start-up time.
using buffer = samples_t;
using gains = std::vector<double>;

constexpr double fs = sound_sample_rate;
constexpr double pi = std::numbers::pi;
// Every one-shot sound peaks 3 dB below full scale, so that a few voices mixed together clip less.
constexpr double target_peak = 0.70794578438413791;  // 10^(-3/20)

int samples_for(double seconds) {
    return static_cast<int>(std::lround(seconds * fs));
}

// The factor that makes an envelope fall by 1/e in `seconds` when applied once a sample.
double decay_factor(double seconds) {
    return std::exp(-1.0 / (seconds * fs));
}

// Xorshift32: small, fast, and the same on every platform.
class noise_source {
  public:
    explicit noise_source(std::uint32_t seed) : state_(seed) {}
    double next() {  // uniform in [-1, 1)
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_ >> 8) * (2.0 / 16777216.0) - 1.0;
    }

  private:
    std::uint32_t state_;
};

// A sine from a unit phasor turned by a fixed step every sample: four multiplies instead of a
// sin() call, which would dominate the start-up time. Rounding slowly changes the phasor's
// length, so it is pulled back to 1 every few hundred samples.
class oscillator {
  public:
    explicit oscillator(double hz, double phase = 0.0)
        : re_(std::cos(phase)), im_(std::sin(phase)) {
        set_frequency(hz);
    }
    void set_frequency(double hz) {
        const double w = 2.0 * pi * hz / fs;
        step_re_ = std::cos(w);
        step_im_ = std::sin(w);
    }
    double next() {
        const double out = im_;
        const double re = re_ * step_re_ - im_ * step_im_;
        im_ = re_ * step_im_ + im_ * step_re_;
        re_ = re;
        if (++count_ == 256) {
            count_ = 0;
            const double g = 1.0 / std::sqrt(re_ * re_ + im_ * im_);
            re_ *= g;
            im_ *= g;
        }
        return out;
    }

  private:
    double re_, im_;
    double step_re_ = 1.0, step_im_ = 0.0;
    int count_ = 0;
};

// Raised-cosine gain from 0 to 1 over `n` samples, filled by an oscillator for the same reason.
gains ramp(int n) {
    if (n <= 0) {
        return {};
    }
    gains g(n);
    oscillator cosine(fs / (2.0 * n), pi / 2.0);
    for (double& v : g) {
        v = 0.5 - 0.5 * cosine.next();
    }
    return g;
}

// Second-order filters after the audio EQ cookbook, in transposed direct form II.
struct biquad {
    enum kind { lowpass, highpass, bandpass };
    double b0, b1, b2, a1, a2;
    double z1 = 0.0, z2 = 0.0;

    biquad(kind k, double hz, double q) {
        const double w = 2.0 * pi * hz / fs;
        const double cw = std::cos(w);
        const double alpha = std::sin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        switch (k) {
            case lowpass:
                b0 = b2 = (1.0 - cw) / 2.0 / a0;
                b1 = (1.0 - cw) / a0;
                break;
            case highpass:
                b0 = b2 = (1.0 + cw) / 2.0 / a0;
                b1 = -(1.0 + cw) / a0;
                break;
            case bandpass:
                b0 = alpha / a0;
                b1 = 0.0;
                b2 = -alpha / a0;
                break;
        }
        a1 = -2.0 * cw / a0;
        a2 = (1.0 - alpha) / a0;
    }
    double process(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Adds a sine whose frequency glides exponentially from `from_hz` towards `to_hz` (the gap
// shrinking by 1/e every `glide_s`) and whose amplitude decays from `amp` with time constant
// `decay_s`. The frequency changes every 16 samples, too often to hear as steps.
void add_glide(buffer& out, double start_s, double from_hz, double to_hz, double glide_s,
               double amp, double decay_s) {
    constexpr int block = 16;
    const double glide = std::exp(-block / (glide_s * fs));
    const double decay = decay_factor(decay_s);
    oscillator osc(from_hz);
    double offset = from_hz - to_hz;
    for (int i = samples_for(start_s), k = 0; i < static_cast<int>(out.size()); ++i, ++k) {
        if (k == block) {
            k = 0;
            offset *= glide;
            osc.set_frequency(to_hz + offset);
        }
        out[i] += static_cast<float>(amp * osc.next());
        amp *= decay;
    }
}

struct partial {
    double ratio, amp, decay_s;
};

// Adds a note of decaying partials starting at `start_s`, faded in over `attack_s` so that its
// onset does not click in the middle of a sound. The partials' phasors turn side by side rather
// than one after another: each turn waits for the one before, and interleaving independent
// phasors lets the processor overlap those waits, which made the chimes several times faster.
void add_note(buffer& out, double start_s, double hz, std::initializer_list<partial> partials,
              double attack_s, double gain = 1.0) {
    constexpr int most = 8;
    constexpr double inaudible = 1e-5;
    double re[most], im[most], step_re[most], step_im[most], amp[most], decay[most];
    int count = 0;
    double longest = 0.0;  // samples until the slowest partial is inaudible
    for (const partial& p : partials) {
        if (count == most) {
            break;
        }
        const double w = 2.0 * pi * hz * p.ratio / fs;
        re[count] = 1.0;
        im[count] = 0.0;
        step_re[count] = std::cos(w);
        step_im[count] = std::sin(w);
        amp[count] = gain * p.amp;
        decay[count] = decay_factor(p.decay_s);
        longest = std::max(longest, std::log(inaudible / amp[count]) / std::log(decay[count]));
        ++count;
    }
    const int start = samples_for(start_s);
    const int end = static_cast<int>(std::min<double>(out.size(), start + longest));
    const gains attack = ramp(samples_for(attack_s));
    const int attack_n = static_cast<int>(attack.size());
    for (int i = start, turns = 0; i < end; ++i) {
        double sum = 0.0;
        for (int j = 0; j < count; ++j) {
            sum += amp[j] * im[j];
            const double r = re[j] * step_re[j] - im[j] * step_im[j];
            im[j] = re[j] * step_im[j] + im[j] * step_re[j];
            re[j] = r;
            amp[j] *= decay[j];
        }
        const int k = i - start;
        out[i] += static_cast<float>(k < attack_n ? sum * attack[k] : sum);
        if (++turns == 256) {  // rounding slowly changes the phasors' lengths
            turns = 0;
            for (int j = 0; j < count; ++j) {
                const double g = 1.0 / std::sqrt(re[j] * re[j] + im[j] * im[j]);
                re[j] *= g;
                im[j] *= g;
            }
        }
    }
}

// Adds noise through `filter` with an envelope decaying from `amp` in `decay_s`: the short
// scrape or tap at the start of a hit.
void add_noise_burst(buffer& out, std::uint32_t seed, biquad filter, double amp, double decay_s) {
    noise_source noise(seed);
    const double decay = decay_factor(decay_s);
    for (float& v : out) {
        v += static_cast<float>(amp * filter.process(noise.next()));
        amp *= decay;
    }
}

// Scales the peak to `target_peak`; a silent buffer stays silent.
samples_t normalise(buffer x) {
    float peak = 0.0f;
    for (float v : x) {
        peak = std::max(peak, std::abs(v));
    }
    const double g = peak > 0.0f ? target_peak / peak : 0.0;
    for (float& v : x) {
        v = static_cast<float>(g * v);
    }
    return x;
}

// Makes a one-shot sound ready to play: faded in and out so that its ends do not click, without
// DC (which would thump when the voice starts and stops), and normalised. The fades would bring
// back some of a DC removed before them, so the offset taken out is the one that leaves the
// faded sound's mean at zero: with gain g, sum g (x - c) = 0 gives c = sum g x / sum g.
samples_t finish(buffer x, double fade_in_s, double fade_out_s) {
    const size_t n = x.size();
    const gains in = ramp(samples_for(fade_in_s));
    const gains out = ramp(samples_for(fade_out_s));
    const auto gain = [&](size_t i) {
        return (i < in.size() ? in[i] : 1.0) * (n - 1 - i < out.size() ? out[n - 1 - i] : 1.0);
    };
    double weighted = 0.0, total = 0.0;
    for (size_t i = 0; i < n; ++i) {
        weighted += gain(i) * x[i];
        total += gain(i);
    }
    const double offset = total > 0.0 ? weighted / total : 0.0;
    for (size_t i = 0; i < n; ++i) {
        x[i] = static_cast<float>(gain(i) * (x[i] - offset));
    }
    return normalise(std::move(x));
}

buffer silence(double seconds) {
    return buffer(samples_for(seconds), 0.0f);
}

samples_t drop() {
    // A soft pop falling in pitch, with a breath of noise as the ball leaves the hand.
    buffer x = silence(0.15);
    add_glide(x, 0.0, 330.0, 150.0, 0.04, 1.0, 0.035);
    add_glide(x, 0.0, 660.0, 300.0, 0.04, 0.15, 0.02);
    add_noise_burst(x, 0x51a3u, biquad(biquad::lowpass, 1500.0, 0.7), 0.15, 0.01);
    return finish(std::move(x), 0.003, 0.02);
}

samples_t thud() {
    // The desk's low body, sagging a little in pitch, and a muffled tap of noise on top.
    buffer x = silence(0.2);
    add_glide(x, 0.0, 110.0, 68.0, 0.03, 1.0, 0.06);
    add_glide(x, 0.0, 190.0, 150.0, 0.03, 0.35, 0.03);
    add_noise_burst(x, 0x7e11u, biquad(biquad::lowpass, 900.0, 0.7), 0.8, 0.007);
    return finish(std::move(x), 0.002, 0.02);
}

samples_t roll() {
    // Noise in the wood's low band, filtered circularly: the same noise goes through the filters
    // twice and only the second pass is kept, so their state at the loop's start is their state
    // at its end and the last sample flows into the first. The slow wobble has whole cycles over
    // the loop.
    const int n = samples_for(1.0);
    biquad highpass(biquad::highpass, 80.0, 0.707);
    biquad lowpass(biquad::lowpass, 600.0, 0.707);
    biquad body(biquad::bandpass, 180.0, 1.2);  // the ball's hollow resonance against the desk
    const double tilt = 1.0 - std::exp(-2.0 * pi * 150.0 / fs);
    double tilted = 0.0;
    buffer x(n);
    for (int pass = 0; pass < 2; ++pass) {
        noise_source noise(0x2f6bu);
        for (float& v : x) {
            const double band = lowpass.process(highpass.process(noise.next()));
            tilted += tilt * (band - tilted);  // 6 dB an octave down above 150 Hz, like pink noise
            v = static_cast<float>(tilted + 0.25 * band + 0.6 * body.process(band));
        }
    }
    oscillator slow(3.0 * fs / n, 0.4), slower(5.0 * fs / n, 2.1);
    double mean = 0.0;
    for (float& v : x) {
        v = static_cast<float>(v * (1.0 + 0.3 * slow.next() + 0.15 * slower.next()));
        mean += v;
    }
    mean /= n;
    for (float& v : x) {
        v = static_cast<float>(v - mean);
    }
    return normalise(std::move(x));
}

samples_t click() {
    // Hard and bright: high, quickly dying partials, with a tick of high-passed noise.
    buffer x = silence(0.05);
    add_note(x, 0.0, 2350.0, {{1.0, 1.0, 0.009}, {1.353, 0.6, 0.006}, {1.966, 0.3, 0.004}}, 0.0);
    add_noise_burst(x, 0x3c5du, biquad(biquad::highpass, 2000.0, 0.7), 0.5, 0.0012);
    return finish(std::move(x), 0.002, 0.008);
}

samples_t knock() {
    // A wooden block: inharmonic partials in the low hundreds, the higher ones dying sooner.
    buffer x = silence(0.085);
    add_note(x, 0.0, 330.0,
             {{1.0, 1.0, 0.028}, {1.803, 0.55, 0.016}, {2.667, 0.35, 0.01}, {4.21, 0.15, 0.005}},
             0.0);
    add_noise_burst(x, 0x0b1cu, biquad(biquad::bandpass, 1200.0, 1.0), 0.6, 0.002);
    return finish(std::move(x), 0.002, 0.01);
}

samples_t chime(int variant) {
    // Steps of the major scale up from C5, one a variant, so that more points ring higher. A
    // slightly detuned second fundamental beats slowly and makes the bell shimmer.
    static constexpr int steps[chime_variants] = {0, 2, 4, 5, 7, 9, 11, 12, 14, 16};
    const double hz = 523.25 * std::exp2(steps[std::clamp(variant, 0, chime_variants - 1)] / 12.0);
    buffer x = silence(0.8);
    add_note(x, 0.0, hz,
             {{1.0, 1.0, 0.3},
              {1.0035, 0.35, 0.25},
              {2.0, 0.4, 0.16},
              {3.0, 0.18, 0.09},
              {4.16, 0.07, 0.05}},
             0.003);
    return finish(std::move(x), 0.003, 0.15);
}

samples_t plunk() {
    // A tap on the rim, a hollow bloop falling in pitch as the ball drops into the hole, and a
    // dull knock when it lands at the bottom.
    buffer x = silence(0.3);
    add_glide(x, 0.0, 900.0, 220.0, 0.035, 1.0, 0.07);
    add_glide(x, 0.0, 2700.0, 660.0, 0.035, 0.12, 0.03);
    add_glide(x, 0.07, 160.0, 110.0, 0.03, 0.5, 0.05);
    add_noise_burst(x, 0x9d2eu, biquad(biquad::bandpass, 2500.0, 1.5), 0.3, 0.0015);
    return finish(std::move(x), 0.002, 0.02);
}

samples_t whoosh() {
    // Noise through a band-pass whose centre sweeps down from 2.2 kHz to 300 Hz as the ball
    // falls away, swelling smoothly to its loudest at a third of the way. The state-variable
    // filter stays stable while its frequency changes every block.
    const int n = samples_for(0.4);
    const int peak_at = n / 3;
    buffer x(n);
    noise_source noise(0x6a09u);
    constexpr int block = 16;
    const double k = 1.0 / 1.2;  // 1/Q
    double ic1 = 0.0, ic2 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
    const gains rise = ramp(peak_at);
    const gains fall = ramp(n - peak_at);
    for (int i = 0; i < n; ++i) {
        if (i % block == 0) {
            const double centre = 2200.0 * std::pow(300.0 / 2200.0, static_cast<double>(i) / n);
            const double g = std::tan(pi * centre / fs);
            a1 = 1.0 / (1.0 + g * (g + k));
            a2 = g * a1;
            a3 = g * a2;
        }
        const double v3 = noise.next() - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        const double envelope = i < peak_at ? rise[i] : fall[n - 1 - i];
        x[i] = static_cast<float>(k * v1 * envelope);
    }
    return finish(std::move(x), 0.002, 0.01);
}

samples_t beep(double seconds, double hz, double decay_s, double fade_out_s) {
    // A clean sine with a whisper of its octave, softly started and stopped.
    buffer x = silence(seconds);
    add_note(x, 0.0, hz, {{1.0, 1.0, decay_s}, {2.0, 0.06, decay_s}}, 0.0);
    return finish(std::move(x), 0.008, fade_out_s);
}

samples_t level_done() {
    // C–E–G–C rising, marimba-like; the top note rings on.
    buffer x = silence(0.75);
    constexpr double notes[] = {523.25, 659.26, 783.99, 1046.5};
    for (int i = 0; i < 4; ++i) {
        const double ring = i == 3 ? 0.3 : 0.15;
        add_note(x, 0.11 * i, notes[i], {{1.0, 1.0, ring}, {2.0, 0.3, ring / 2}, {3.0, 0.1, 0.05}},
                 0.003);
    }
    return finish(std::move(x), 0.003, 0.12);
}

samples_t game_over() {
    // A pick-up of G–C–E–G, then a held C major chord with a soft brassy colour.
    buffer x = silence(1.3);
    constexpr double run[] = {392.0, 523.25, 659.26, 783.99};
    for (int i = 0; i < 4; ++i) {
        add_note(x, 0.12 * i, run[i], {{1.0, 1.0, 0.15}, {2.0, 0.3, 0.08}, {3.0, 0.1, 0.05}}, 0.004,
                 0.8);
    }
    for (double hz : {523.25, 659.26, 783.99, 1046.5}) {
        add_note(x, 0.5, hz,
                 {{1.0, 1.0, 0.5}, {2.0, 0.45, 0.35}, {3.0, 0.22, 0.25}, {4.0, 0.1, 0.18}}, 0.015,
                 0.4);
    }
    return finish(std::move(x), 0.004, 0.25);
}

samples_t key() {
    // A tiny tick, quieter in colour than the click of two balls.
    buffer x = silence(0.025);
    add_note(x, 0.0, 2000.0, {{1.0, 1.0, 0.0025}, {1.55, 0.4, 0.0015}}, 0.0);
    add_noise_burst(x, 0x4d1fu, biquad(biquad::lowpass, 4000.0, 0.7), 0.2, 0.001);
    return finish(std::move(x), 0.002, 0.008);
}

samples_t two_notes(double seconds, double first_hz, double second_hz, double second_at,
                    std::initializer_list<partial> first, std::initializer_list<partial> second) {
    buffer x = silence(seconds);
    add_note(x, 0.0, first_hz, first, 0.004);
    add_note(x, second_at, second_hz, second, 0.004);
    return finish(std::move(x), 0.004, 0.06);
}

}  // namespace

samples_t synthesize(sound_id id, int variant) {
    switch (id) {
        case sound_id::drop:
            return drop();
        case sound_id::thud:
            return thud();
        case sound_id::roll:
            return roll();
        case sound_id::click:
            return click();
        case sound_id::knock:
            return knock();
        case sound_id::chime:
            return chime(variant);
        case sound_id::plunk:
            return plunk();
        case sound_id::whoosh:
            return whoosh();
        case sound_id::beep:
            return beep(0.15, 880.0, 1.0, 0.035);
        case sound_id::go:
            return beep(0.32, 1760.0, 0.5, 0.08);
        case sound_id::level_done:
            return level_done();
        case sound_id::game_over:
            return game_over();
        case sound_id::key:
            return key();
        case sound_id::post_accepted:
            // G5 then C6, bright and short: yes.
            return two_notes(0.36, 783.99, 1046.5, 0.12, {{1.0, 1.0, 0.12}, {2.0, 0.25, 0.06}},
                             {{1.0, 1.0, 0.15}, {2.0, 0.25, 0.07}});
        case sound_id::post_refused:
            // G4 then E-flat4, nearly pure and so duller: no.
            return two_notes(0.42, 392.0, 311.13, 0.17, {{1.0, 1.0, 0.14}, {3.0, 0.08, 0.05}},
                             {{1.0, 1.0, 0.16}, {3.0, 0.08, 0.05}});
    }
    return {};
}

sound_bank synthesize_sounds() {
    sound_bank bank;
    for (int v = 0; v < chime_variants; ++v) {
        bank.chimes[v] = synthesize(sound_id::chime, v);
    }
    for (int i = 0; i < sound_count; ++i) {
        const auto id = static_cast<sound_id>(i);
        bank.sounds[i] = id == sound_id::chime ? bank.chimes[0] : synthesize(id);
    }
    return bank;
}

const char* sound_name(sound_id id) {
    static constexpr const char* names[sound_count] = {
        "drop",       "thud",      "roll",   "click",         "knock",
        "chime",      "plunk",     "whoosh", "beep",          "go",
        "level_done", "game_over", "key",    "post_accepted", "post_refused"};
    return names[static_cast<int>(id)];
}
