// SPDX-License-Identifier: MIT
// The desk's top cut for drawing: cells that tile the top without cracks, and triangles that
// cover each cell exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "desk_top.h"
#include "levels.h"

namespace {

double area(const std::vector<point2D_t>& polygon) {  // positive when clockwise on the plane
    double twice = 0.0;
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const point2D_t& a = polygon[i];
        const point2D_t& b = polygon[(i + 1) % polygon.size()];
        twice += b.x * a.y - a.x * b.y;
    }
    return twice / 2;
}

bool contains(const std::vector<point2D_t>& points, const point2D_t& p) {
    return std::any_of(points.begin(), points.end(),
                       [&](const point2D_t& q) { return q.x == p.x && q.y == p.y; });
}

// Cells that tile the top, holes each wholly inside the one cell that lists it, and every corner
// that touches a cell's edge among that cell's boundary points.
void expect_sound_cells(const level_t& level) {
    const std::vector<desk_cell> cells = desk_top_cells(level);
    double covered = 0.0;
    std::vector<int> listed(level.holes.size(), 0);
    for (const desk_cell& cell : cells) {
        EXPECT_LT(cell.min.x, cell.max.x);
        EXPECT_LT(cell.min.y, cell.max.y);
        EXPECT_NEAR(area(cell.boundary), (cell.max.x - cell.min.x) * (cell.max.y - cell.min.y),
                    1e-9);
        covered += area(cell.boundary);
        for (const std::size_t i : cell.holes) {
            const hole_t& hole = level.holes[i];
            ++listed[i];
            EXPECT_TRUE(hole.pos.x - hole.size / 2 > cell.min.x &&
                        hole.pos.x + hole.size / 2 < cell.max.x &&
                        hole.pos.y - hole.size / 2 > cell.min.y &&
                        hole.pos.y + hole.size / 2 < cell.max.y)
                << "hole " << i;
        }
        for (const desk_cell& other : cells) {
            const bool overlap =
                std::min(cell.max.x, other.max.x) > std::max(cell.min.x, other.min.x) &&
                std::min(cell.max.y, other.max.y) > std::max(cell.min.y, other.min.y);
            EXPECT_TRUE(&cell == &other || !overlap);
            for (const point2D_t& p : {other.min, other.max, point2D_t{other.min.x, other.max.y},
                                       point2D_t{other.max.x, other.min.y}}) {
                const bool on_edge = ((p.x == cell.min.x || p.x == cell.max.x) &&
                                      p.y >= cell.min.y && p.y <= cell.max.y) ||
                                     ((p.y == cell.min.y || p.y == cell.max.y) &&
                                      p.x >= cell.min.x && p.x <= cell.max.x);
                EXPECT_TRUE(!on_edge || contains(cell.boundary, p)) << p.x << ", " << p.y;
            }
        }
    }
    EXPECT_NEAR(covered, static_cast<double>(level.width) * level.height, 1e-6);
    EXPECT_EQ(listed, std::vector<int>(level.holes.size(), 1));
}

TEST(DeskTop, EveryLevelsTopIsTiledWithoutCracksAndItsHolesKeptApart) {
    for (int num = 0; num < levels_count; ++num) {
        SCOPED_TRACE(num);
        const auto level = load_level(num);
        expect_sound_cells(*level);
        // A cell with holes fits them closely: half the largest radius around them, and less
        // than as much again, or the band would have come off.
        const std::vector<desk_cell> cells = desk_top_cells(*level);
        for (const desk_cell& cell : cells) {
            if (cell.holes.empty()) {
                continue;
            }
            double margin = 0.0;
            point2D_t low{1e9, 1e9};
            point2D_t high{-1e9, -1e9};
            for (const std::size_t i : cell.holes) {
                const hole_t& hole = level->holes[i];
                margin = std::max(margin, hole.size / 4);
                low = {std::min(low.x, hole.pos.x - hole.size / 2),
                       std::min(low.y, hole.pos.y - hole.size / 2)};
                high = {std::max(high.x, hole.pos.x + hole.size / 2),
                        std::max(high.y, hole.pos.y + hole.size / 2)};
            }
            EXPECT_TRUE(cell.min.x > low.x - 2 * margin && cell.min.y > low.y - 2 * margin &&
                        cell.max.x < high.x + 2 * margin && cell.max.y < high.y + 2 * margin);
        }
        // The sides meet the top at the cells' corners, from one end to the other.
        const double w = level->width / 2.0;
        const double h = level->height / 2.0;
        const std::vector<point2D_t> rim = desk_edge_points(cells, {w, h}, {-w, h});
        EXPECT_EQ(rim.front().x, w);
        EXPECT_EQ(rim.back().x, -w);
        EXPECT_TRUE(
            std::is_sorted(rim.begin(), rim.end(),
                           [](const point2D_t& a, const point2D_t& b) { return a.x > b.x; }));
        for (const desk_cell& cell : cells) {
            EXPECT_TRUE(cell.max.y != h ||
                        (contains(rim, cell.max) && contains(rim, {cell.min.x, cell.max.y})));
        }
    }
}

TEST(DeskTop, AnEmptyDeskIsOneCellAndHolesAtOddPlacesStillTile) {
    level_t level;
    level.width = 20.0f;
    level.height = 30.0f;
    EXPECT_EQ(desk_top_cells(level).size(), 1u);
    expect_sound_cells(level);
    // A hole at a corner, a hole too close to the edge to trim, and two that overlap in both
    // directions without touching (no straight cut separates them).
    level.holes = {{{-8.0, -13.0}, 2.0}, {{9.6, 0.0}, 0.6}, {{3.0, 10.0}, 2.0}, {{4.5, 11.5}, 2.0}};
    expect_sound_cells(level);
    // Holes that a straight cut can part get a cell each.
    level.holes = {{{-5.0, 4.0}, 2.0}, {{5.0, -4.0}, 2.0}, {{5.0, 8.0}, 2.0}};
    const std::vector<desk_cell> parted = desk_top_cells(level);
    EXPECT_EQ(std::count_if(parted.begin(), parted.end(),
                            [](const desk_cell& c) { return c.holes.size() == 1; }),
              3);
    // A hole over the edge stays in a cell whose edge crosses it, for the tessellator to refuse.
    level.holes = {{{9.0, 0.0}, 4.0}};
    const std::vector<desk_cell> cells = desk_top_cells(level);
    const auto cell = std::find_if(cells.begin(), cells.end(),
                                   [](const desk_cell& c) { return !c.holes.empty(); });
    ASSERT_NE(cell, cells.end());
    EXPECT_LT(cell->max.x, 11.0);
}

TEST(DeskTop, AConvexPolygonIsCoveredByStripsKeepingEveryVertex) {
    // A long band with points along both long sides, clockwise from (20, 0).
    std::vector<point2D_t> band = {{20, 0}};
    for (double x = 19; x > 0; x -= 1) {
        band.push_back({x, 0});
    }
    band.push_back({0, 0});
    band.push_back({0, 1});
    for (double x = 1.5; x < 20; x += 2) {
        band.push_back({x, 1});
    }
    band.push_back({20, 1});
    const std::vector<desk_triangle> triangles = triangulate_convex(band);
    EXPECT_EQ(triangles.size(), band.size() - 2);
    double covered = 0.0;
    std::vector<point2D_t> used;
    for (const desk_triangle& t : triangles) {
        const double a = area({t[0], t[1], t[2]});
        EXPECT_GT(a, 0.0);  // the band's winding, and none degenerate
        covered += a;
        for (const point2D_t& p : t) {
            used.push_back(p);
            for (const point2D_t& q : t) {
                EXPECT_LE(std::hypot(p.x - q.x, p.y - q.y), 2.5);  // no slivers along the band
            }
        }
    }
    EXPECT_DOUBLE_EQ(covered, 20.0);
    for (const point2D_t& p : band) {
        EXPECT_TRUE(contains(used, p)) << p.x << ", " << p.y;
    }
    EXPECT_TRUE(triangulate_convex({{0, 0}, {1, 0}, {2, 0}}).empty());
}

}  // namespace
