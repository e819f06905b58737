// SPDX-License-Identifier: MIT
// The desk's top cut into rectangles for drawing. Swept whole around every hole, a tessellator
// leaves fans of long slivers running from the desk's corners to the holes, and a software
// renderer pays for each sliver along its whole length, in every pass. Cut first into rectangles
// that each hold at most one group of holes, the triangles stay few and short.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "level.h"

// One rectangle of the top, on the desk plane (the holes' coordinates).
struct desk_cell {
    point2D_t min;
    point2D_t max;
    std::vector<std::size_t> holes;  // indices into the level's holes whose centres lie within
    // The corners, and every other cell's corner that lies on an edge, clockwise on the plane
    // (front-facing from above) from the corner at (max.x, min.y). Drawn with all of them,
    // neighbouring cells share each edge exactly and the top has no cracks.
    std::vector<point2D_t> boundary;
};

// Cuts the top of a level's desk (width × height about its centre). The bands beside the holes
// come off first, whole, leaving half the largest radius around them; then straight cuts through
// the gaps between holes, nearest the middle first. The top is lit at its vertices, so the long
// bands along the desk's edges keep its light falling as the whole top's long triangles had it.
// Holes that no straight cut separates share a cell, and a hole that crosses the desk's edge is
// crossed by its cell's edge too (the tessellator then refuses it, as it would the whole top).
std::vector<desk_cell> desk_top_cells(const level_t& level);

using desk_triangle = std::array<point2D_t, 3>;

// Triangles that exactly cover a convex polygon, in its winding, with every vertex kept, even
// those in line with their neighbours. Each cut takes the ear whose new edge is shortest, so a
// long narrow polygon becomes a strip across its length rather than a fan of slivers.
std::vector<desk_triangle> triangulate_convex(std::vector<point2D_t> polygon);

// The corners of the cells along a straight stretch of the desk's edge from `from` to `to`,
// both included, in order: the desk's sides meet the top at these points.
std::vector<point2D_t> desk_edge_points(const std::vector<desk_cell>& cells, point2D_t from,
                                        point2D_t to);
