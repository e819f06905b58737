// SPDX-License-Identifier: MIT
#include "desk_top.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

namespace {

struct rect {
    point2D_t min;
    point2D_t max;
};

double& coord(point2D_t& p, int axis) {
    return axis == 0 ? p.x : p.y;
}
double coord(const point2D_t& p, int axis) {
    return axis == 0 ? p.x : p.y;
}

struct span {
    double lo = 0.0;
    double hi = 0.0;
};

span extent(const hole_t& hole, int axis) {
    const double centre = coord(hole.pos, axis);
    return {centre - hole.size / 2, centre + hole.size / 2};
}

struct cut {
    int axis = 0;
    double at = 0.0;
};

// The straight cut through a gap between the holes that lies nearest the middle of the cell,
// halfway across the gap.
std::optional<cut> separating_cut(const rect& r, const std::vector<std::size_t>& holes,
                                  const level_t& level) {
    std::optional<cut> best;
    double best_offset = 0.0;
    for (int axis = 0; axis < 2; ++axis) {
        std::vector<span> spans;
        for (const std::size_t i : holes) {
            spans.push_back(extent(level.holes[i], axis));
        }
        std::sort(spans.begin(), spans.end(),
                  [](const span& a, const span& b) { return a.lo < b.lo; });
        const double low = coord(r.min, axis);
        const double high = coord(r.max, axis);
        double reach = spans.front().hi;
        for (std::size_t k = 1; k < spans.size(); ++k) {
            if (spans[k].lo > reach) {
                const double at = (reach + spans[k].lo) / 2;
                const double offset = std::abs(at - (low + high) / 2) / (high - low);
                if (at > low && at < high && (!best || offset < best_offset)) {
                    best = cut{axis, at};
                    best_offset = offset;
                }
            }
            reach = std::max(reach, spans[k].hi);
        }
    }
    return best;
}

// A band along one edge of the cell that holds no hole: it keeps half the largest radius clear
// around the holes and is at least that wide itself.
std::optional<cut> trimming_cut(const rect& r, const std::vector<std::size_t>& holes,
                                const level_t& level) {
    double margin = 0.0;
    for (const std::size_t i : holes) {
        margin = std::max(margin, level.holes[i].size / 4);
    }
    for (int axis = 0; axis < 2; ++axis) {
        span all = extent(level.holes[holes.front()], axis);
        for (const std::size_t i : holes) {
            all.lo = std::min(all.lo, extent(level.holes[i], axis).lo);
            all.hi = std::max(all.hi, extent(level.holes[i], axis).hi);
        }
        const double below = all.lo - margin - coord(r.min, axis);
        if (below >= margin && below > 0) {
            return cut{axis, all.lo - margin};
        }
        const double above = coord(r.max, axis) - (all.hi + margin);
        if (above >= margin && above > 0) {
            return cut{axis, all.hi + margin};
        }
    }
    return std::nullopt;
}

void cut_cells(const rect& r, std::vector<std::size_t> holes, const level_t& level,
               std::vector<desk_cell>& cells) {
    if (!holes.empty()) {
        std::optional<cut> c = trimming_cut(r, holes, level);
        if (!c) {
            c = separating_cut(r, holes, level);
        }
        if (c) {
            rect low = r;
            rect high = r;
            coord(low.max, c->axis) = c->at;
            coord(high.min, c->axis) = c->at;
            std::vector<std::size_t> below;
            std::vector<std::size_t> above;
            for (const std::size_t i : holes) {
                (coord(level.holes[i].pos, c->axis) < c->at ? below : above).push_back(i);
            }
            cut_cells(low, std::move(below), level, cells);
            cut_cells(high, std::move(above), level, cells);
            return;
        }
    }
    cells.push_back({r.min, r.max, std::move(holes), {}});
}

// The points strictly between a and b on the straight, axis-aligned segment from a to b, in
// order from a, each once.
std::vector<point2D_t> points_between(const std::vector<point2D_t>& points, const point2D_t& a,
                                      const point2D_t& b) {
    const int along = a.y == b.y ? 0 : 1;  // the axis the segment runs along
    const double lo = std::min(coord(a, along), coord(b, along));
    const double hi = std::max(coord(a, along), coord(b, along));
    std::vector<point2D_t> between;
    for (const point2D_t& p : points) {
        if (coord(p, 1 - along) == coord(a, 1 - along) && coord(p, along) > lo &&
            coord(p, along) < hi) {
            between.push_back(p);
        }
    }
    const bool rising = coord(b, along) > coord(a, along);
    std::sort(between.begin(), between.end(), [&](const point2D_t& p, const point2D_t& q) {
        return rising ? coord(p, along) < coord(q, along) : coord(p, along) > coord(q, along);
    });
    between.erase(std::unique(between.begin(), between.end(),
                              [](const point2D_t& p, const point2D_t& q) {
                                  return p.x == q.x && p.y == q.y;
                              }),
                  between.end());
    return between;
}

std::vector<point2D_t> corners_of(const std::vector<desk_cell>& cells) {
    std::vector<point2D_t> corners;
    for (const desk_cell& cell : cells) {
        corners.insert(corners.end(),
                       {cell.min, {cell.min.x, cell.max.y}, cell.max, {cell.max.x, cell.min.y}});
    }
    return corners;
}

// Walks each cell's edges clockwise, picking up the corners of the cells beside it.
void add_boundaries(std::vector<desk_cell>& cells) {
    const std::vector<point2D_t> corners = corners_of(cells);
    for (desk_cell& cell : cells) {
        const std::array<point2D_t, 4> corner = {point2D_t{cell.max.x, cell.min.y}, cell.min,
                                                 point2D_t{cell.min.x, cell.max.y}, cell.max};
        for (std::size_t e = 0; e < corner.size(); ++e) {
            const std::vector<point2D_t> on_edge =
                points_between(corners, corner[e], corner[(e + 1) % corner.size()]);
            cell.boundary.push_back(corner[e]);
            cell.boundary.insert(cell.boundary.end(), on_edge.begin(), on_edge.end());
        }
    }
}

}  // namespace

std::vector<desk_cell> desk_top_cells(const level_t& level) {
    const double w = static_cast<double>(level.width) / 2;
    const double h = static_cast<double>(level.height) / 2;
    std::vector<std::size_t> holes(level.holes.size());
    for (std::size_t i = 0; i < holes.size(); ++i) {
        holes[i] = i;
    }
    std::vector<desk_cell> cells;
    cut_cells({{-w, -h}, {w, h}}, std::move(holes), level, cells);
    add_boundaries(cells);
    return cells;
}

std::vector<point2D_t> desk_edge_points(const std::vector<desk_cell>& cells, point2D_t from,
                                        point2D_t to) {
    std::vector<point2D_t> points = points_between(corners_of(cells), from, to);
    points.insert(points.begin(), from);
    points.push_back(to);
    return points;
}

std::vector<desk_triangle> triangulate_convex(std::vector<point2D_t> polygon) {
    const auto turn = [](const point2D_t& a, const point2D_t& b, const point2D_t& c) {
        return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    };
    const auto squared_distance = [](const point2D_t& a, const point2D_t& b) {
        return (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
    };
    std::vector<desk_triangle> triangles;
    while (polygon.size() >= 3) {
        const std::size_t n = polygon.size();
        std::optional<std::size_t> ear;
        double shortest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const point2D_t& prev = polygon[(i + n - 1) % n];
            const point2D_t& next = polygon[(i + 1) % n];
            // A vertex in line with its neighbours is no ear: cut off, it would leave a
            // neighbouring cell's corner in the middle of an edge.
            if (turn(prev, polygon[i], next) == 0) {
                continue;
            }
            const double d = squared_distance(prev, next);
            if (!ear || d < shortest) {
                ear = i;
                shortest = d;
            }
        }
        if (!ear) {
            break;  // what is left is a line and covers nothing
        }
        const std::size_t i = *ear;
        triangles.push_back({polygon[(i + n - 1) % n], polygon[i], polygon[(i + 1) % n]});
        polygon.erase(polygon.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return triangles;
}
