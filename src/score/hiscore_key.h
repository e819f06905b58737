// SPDX-License-Identifier: MIT
// The key material of the score check. The game and the high-score service both compile this
// one table, so a post is checked with exactly the mixing it was made with; a service that
// should accept the game's posts must be built from the same table.
#pragma once

#include <array>

struct bit_pair {
    int a;
    int b;
};

// Swapped in every byte, before anything else.
constexpr std::array<bit_pair, 2> fixed_bit_pairs = {{{3, 6}, {0, 5}}};

// A row swaps its two bits when the key is divisible by its divisor.
struct mixer_row {
    signed char divisor;
    signed char a;
    signed char b;
};

constexpr std::array<mixer_row, 22> mixer = {{
    {7, 1, 4},  {3, 2, 7},  {11, 0, 6}, {5, 3, 5},  {13, 1, 2}, {2, 4, 6},  {17, 0, 3}, {9, 5, 7},
    {23, 2, 6}, {4, 1, 3},  {29, 0, 7}, {6, 4, 5},  {31, 2, 3}, {19, 1, 6}, {8, 0, 4},  {37, 3, 7},
    {15, 5, 6}, {41, 1, 7}, {12, 0, 2}, {97, 3, 4}, {25, 2, 5}, {53, 4, 7},
}};

constexpr bool key_material_is_valid() {
    for (const bit_pair& p : fixed_bit_pairs) {
        if (p.a < 0 || p.a > 7 || p.b < 0 || p.b > 7) {
            return false;
        }
    }
    for (const mixer_row& row : mixer) {
        if (row.divisor < 2 || row.divisor > 100 || row.a < 0 || row.a > 7 || row.b < 0 ||
            row.b > 7 || row.a == row.b) {
            return false;
        }
    }
    return true;
}
static_assert(key_material_is_valid(), "divisors 2 to 100, two different bit positions 0 to 7");
