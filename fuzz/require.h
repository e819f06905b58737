// SPDX-License-Identifier: MIT
// A fuzz target's invariant: a broken one ends the run with a trap, which the fuzzer reports
// with the input that caused it (and which no build turns off, unlike assert).
#pragma once

#define REQUIRE(condition)    \
    do {                      \
        if (!(condition)) {   \
            __builtin_trap(); \
        }                     \
    } while (false)
