// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstdint>

// Seconds on a monotonic high-resolution clock; the zero point is arbitrary.
double getTime();

// The clock's whole seconds as a seed: truncated toward zero, low 32 bits.
std::uint32_t clock_seed();

// The frame loop's measure of time: the seconds between two readings of the clock. The first
// reading only starts it, and gives 0.
class frame_clock {
  public:
    double next(double currentTime) {
        double deltaT = 0.0;
        if (lastTime == 0.0) {
            lastTime = currentTime;
        } else {
            deltaT = currentTime - lastTime;
            lastTime = currentTime;
        }
        return deltaT;
    }

  private:
    double lastTime = 0.0;
};

// Whole microseconds on the same clock.
std::int64_t clock_micros();

// The game's frame loop measures its frames in whole microseconds, so that a replay can hold
// exactly the seconds each frame received. The first reading only starts it and gives 0; a
// longer gap than a minute (a suspended machine) counts as a minute.
class frame_micros_clock {
  public:
    static constexpr std::int64_t max_frame_micros = 60'000'000;

    double next(std::int64_t now_micros) {
        std::int64_t micros = 0;
        if (started) {
            micros = std::clamp<std::int64_t>(now_micros - last_micros, 0, max_frame_micros);
        }
        started = true;
        last_micros = now_micros;
        return static_cast<double>(micros) / 1e6;
    }

  private:
    bool started = false;
    std::int64_t last_micros = 0;
};
