// SPDX-License-Identifier: MIT
// The six built-in levels.
#pragma once

#include <memory>

#include "level.h"

constexpr int levels_count = 6;

// A new copy of built-in level `num`, or null when there is no such level (the caller takes
// null to mean that the game is over).
std::unique_ptr<level_t> load_level(int num);
