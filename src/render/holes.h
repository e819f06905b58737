// The desk: a slab with circular holes cut through it, its tessellated top, and its outline.
#pragma once

#include "level.h"

// Sets the number of segments of every hole circle that follows.
void init_hole_drawer(int quality);
int hole_drawer_quality();

// Emits the desk into the display list being compiled: countours 0 gives the filled desk
// (hole walls, slab sides, the top with its holes), 1 the outline variant (sides, the top
// rectangle, one polygon per hole rim).
void prepare_level(const level_t& level, int countours);
