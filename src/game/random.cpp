#include "random.h"

namespace {

// A linear congruential generator; its high bits are the output, the low bits of such a
// generator having short periods.
std::uint32_t state = 1;

}  // namespace

void seed_random(std::uint32_t seed) {
    state = seed;
}

int next_random() {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state / 65536u) % 32768u);
}
