#pragma once

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
