// SPDX-License-Identifier: MIT
// The desk: a slab with circular holes cut through it, its tessellated top, and its outline.
#pragma once

#include <optional>
#include <string>

#include "level.h"

// Draws every hole circle as a polygon of a fixed number of segments, walking the circle by
// one rotation computed once.
class hole_drawer {
  public:
    hole_drawer() = default;
    explicit hole_drawer(int segments);

    int segments() const { return segments_; }

    // One step of the circle walk: rotates (x, y) by 2π / segments about the origin.
    void step(double& x, double& y) const {
        const double nx = x * cosa_ - y * sina_;
        const double ny = x * sina_ + y * cosa_;
        x = nx;
        y = ny;
    }

    // Emits the desk into the display list being compiled: countours 0 gives the filled desk
    // (hole walls, slab sides, the top with its holes), 1 the outline variant (sides, the top
    // rectangle, one polygon per hole rim). When GLU cannot cut the top (holes that cross each
    // other or the desk's edge), returns why; the list then lacks the top around them.
    std::optional<std::string> prepare_level(const level_t& level, int countours) const;

  private:
    int segments_ = 0;
    double sina_ = 0.0;
    double cosa_ = 0.0;
};
