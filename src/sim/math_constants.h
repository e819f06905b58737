// SPDX-License-Identifier: MIT
#pragma once

// Written out rather than taken from <numbers> so that every formula visibly uses the same
// double as the rest of the game.
constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;
