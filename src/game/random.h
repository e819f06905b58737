// SPDX-License-Identifier: MIT
// The game's one pseudo-random generator: uniform integers from 0 to 32767.
#pragma once

#include <cstdint>

constexpr int random_max = 32767;

// Seeded once at start-up; the same seed gives the same sequence.
void seed_random(std::uint32_t seed);
int next_random();
