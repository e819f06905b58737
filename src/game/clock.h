#pragma once

#include <cstdint>

// Seconds on a monotonic high-resolution clock; the zero point is arbitrary.
double getTime();

// The clock's whole seconds as a seed: truncated toward zero, low 32 bits.
std::uint32_t clock_seed();
