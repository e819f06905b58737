// SPDX-License-Identifier: MIT
#include "random.h"

#include <atomic>

namespace {

// A linear congruential generator; its high bits are the output, the low bits of such a
// generator having short periods. Atomic because a server replays games on several threads
// at once: what they draw from it only moves texts, so sharing it changes no result.
std::atomic<std::uint32_t> state{1};

}  // namespace

void seed_random(std::uint32_t seed) {
    state.store(seed, std::memory_order_relaxed);
}

int next_random() {
    const std::uint32_t next = state.load(std::memory_order_relaxed) * 1103515245u + 12345u;
    state.store(next, std::memory_order_relaxed);
    return static_cast<int>((next / 65536u) % 32768u);
}
