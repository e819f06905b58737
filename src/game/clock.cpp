// SPDX-License-Identifier: MIT
#include "clock.h"

#include <chrono>

double getTime() {
    using clock = std::chrono::steady_clock;
    const auto ticks = clock::now().time_since_epoch().count();
    constexpr double frequency = static_cast<double>(clock::period::den) / clock::period::num;
    return static_cast<double>(ticks) / frequency;
}

std::uint32_t clock_seed() {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(getTime()));
}

std::int64_t clock_micros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
