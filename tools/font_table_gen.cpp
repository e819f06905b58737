// SPDX-License-Identifier: MIT
// Writes the outline table of the game's vector font (src/font/font_table.cpp).
//
//   font-table-gen FONT.ttf OUTPUT.cpp      (FONT: DejaVu Sans Bold; `make font-table`)
//
// Codes 33 to 126 (but 123 and 125) are the font's glyphs, read with FreeType in font units,
// scaled to table units (0.01 model units, z pointing down) and flattened to integer points.
// Code 32 is the space, 123, 125 and 127 a placeholder box, 129 the title's bar; the other
// title glyphs (128, 130 to 137) are drawn here with a square-ended pen and traced.
// The output depends only on the font file: the same font gives the same bytes.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct vec2 {
    double x = 0.0;
    double z = 0.0;
};

vec2 operator+(vec2 a, vec2 b) {
    return {a.x + b.x, a.z + b.z};
}
vec2 operator-(vec2 a, vec2 b) {
    return {a.x - b.x, a.z - b.z};
}
vec2 operator*(double s, vec2 a) {
    return {s * a.x, s * a.z};
}
double length(vec2 a) {
    return std::hypot(a.x, a.z);
}

struct ipoint {
    std::int32_t x = 0;
    std::int32_t z = 0;
    bool operator==(const ipoint&) const = default;
};

using icontour = std::vector<ipoint>;  // closed: the last point repeats the first

struct glyph {
    std::int32_t x1 = 0;  // advance box: width = x2 - x1
    std::int32_t x2 = 0;
    std::int32_t height = 0;
    std::vector<icontour> contours;
};

constexpr std::int32_t text_height = 284;   // codes 32 to 127
constexpr std::int32_t title_height = 228;  // codes 128 to 137

// Placement of the font: the top of a capital at z = 40 and the lowest ink of codes 33 to 126
// (the underscore and the bar) on the bottom of the box.
constexpr double cap_top_z = 40.0;

// Outlines are first followed closely (curves cut to within `sampling_tolerance`), then thinned
// to chords between integer points that stay within a tolerance of the close outline: a
// quarter of a pixel on a 1920 × 1080 screen, where a model unit is 20 to 22 pixels at the
// depth the texts stand at (the title 64 units from the eye, the heads-up texts 60). A table
// unit is then at most 0.46 px at scale 2.1, the largest ordinary text, and 0.79 px at scale
// 3.6, the title. Finer would buy nothing: the points are integers, and the thinning already
// picks points that round to within the tolerance of the outline.
constexpr double sampling_tolerance = 0.02;
constexpr double text_tolerance = 0.5;
constexpr double title_tolerance = 0.3;

std::int32_t to_int(double v) {
    return static_cast<std::int32_t>(std::lround(v));
}

std::int64_t shoelace(const icontour& c) {
    std::int64_t sum = 0;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        sum += static_cast<std::int64_t>(c[k].x) * c[k + 1].z -
               static_cast<std::int64_t>(c[k + 1].x) * c[k].z;
    }
    return sum;
}

// Even-odd test of a point against a closed contour.
bool inside(ipoint p, const icontour& c) {
    bool in = false;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        const ipoint a = c[k];
        const ipoint b = c[k + 1];
        if ((a.z > p.z) != (b.z > p.z)) {
            const double x = a.x + static_cast<double>(p.z - a.z) * (b.x - a.x) / (b.z - a.z);
            if (p.x < x) {
                in = !in;
            }
        }
    }
    return in;
}

// Rounds a closed polyline to integer points, drops repeated points and points in the middle
// of a straight run, and closes it by repeating the first point. Returns an empty contour when
// nothing with an area is left.
icontour to_contour(const std::vector<vec2>& loop) {
    std::vector<ipoint> pts;
    for (const vec2& p : loop) {
        const ipoint q{to_int(p.x), to_int(p.z)};
        if (pts.empty() || !(pts.back() == q)) {
            pts.push_back(q);
        }
    }
    while (pts.size() > 1 && pts.back() == pts.front()) {
        pts.pop_back();
    }
    bool changed = true;
    while (changed && pts.size() >= 3) {
        changed = false;
        for (std::size_t k = 0; k < pts.size() && pts.size() >= 3; ++k) {
            const ipoint a = pts[(k + pts.size() - 1) % pts.size()];
            const ipoint b = pts[k];
            const ipoint c = pts[(k + 1) % pts.size()];
            const std::int64_t cross = static_cast<std::int64_t>(b.x - a.x) * (c.z - b.z) -
                                       static_cast<std::int64_t>(b.z - a.z) * (c.x - b.x);
            if (cross == 0 || a == c) {
                pts.erase(pts.begin() + static_cast<std::ptrdiff_t>(k));
                changed = true;
                break;
            }
        }
    }
    if (pts.size() < 3) {
        return {};
    }
    pts.push_back(pts.front());
    return pts;
}

double segment_point_distance(vec2 p, vec2 a, vec2 b) {
    const vec2 d = b - a;
    const double len2 = d.x * d.x + d.z * d.z;
    double t = len2 > 0.0 ? ((p.x - a.x) * d.x + (p.z - a.z) * d.z) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return length(p - (a + t * d));
}

vec2 rounded(vec2 p) {
    return {static_cast<double>(to_int(p.x)), static_cast<double>(to_int(p.z))};
}

// Thins a closely followed closed outline to integer points. From each chosen point it takes
// the farthest point whose rounded position lies within the tolerance of the outline and whose
// chord passes within the tolerance of every outline point it skips; where none rounds well
// enough (near a corner), the farthest whose chord qualifies. It starts at the sharpest corner, or
// on a smooth outline at the point that rounds best.
std::vector<vec2> thin_loop(std::vector<vec2> loop, double tolerance) {
    while (loop.size() > 1 && length(loop.back() - loop.front()) < 1e-9) {
        loop.pop_back();
    }
    const std::size_t n = loop.size();
    if (n < 3) {
        return loop;
    }
    const auto at = [&](std::size_t k) { return loop[k % n]; };
    const auto turn = [&](std::size_t k) {
        const vec2 in = at(k + n) - at(k + n - 2);
        const vec2 out = at(k + 2) - at(k);
        return std::abs(std::atan2(in.x * out.z - in.z * out.x, in.x * out.x + in.z * out.z));
    };
    std::size_t start = 0;
    for (std::size_t k = 1; k < n; ++k) {
        if (turn(k) > turn(start)) {
            start = k;
        }
    }
    if (turn(start) < 0.35) {
        for (std::size_t k = 0; k < n; ++k) {
            if (length(rounded(loop[k]) - loop[k]) < length(rounded(loop[start]) - loop[start])) {
                start = k;
            }
        }
    }
    std::rotate(loop.begin(), loop.begin() + static_cast<std::ptrdiff_t>(start), loop.end());
    loop.push_back(loop.front());

    const auto near_outline = [&](std::size_t j) {
        const vec2 q = rounded(loop[j]);
        double best = length(q - loop[j]);
        for (std::size_t k = j > 4 ? j - 4 : 0; k < std::min(j + 4, n); ++k) {
            best = std::min(best, segment_point_distance(q, loop[k], loop[k + 1]));
        }
        return best <= tolerance;
    };
    std::vector<vec2> out{rounded(loop[0])};
    std::size_t cur = 0;
    while (cur < n) {
        std::size_t best = 0;
        std::size_t best_chord = cur + 1;  // ignoring where the end point rounds to
        for (std::size_t j = cur + 1; j <= n && j <= cur + 1500; ++j) {
            const vec2 b = rounded(loop[j]);
            double worst = 0.0;
            for (std::size_t k = cur + 1; k < j; ++k) {
                worst = std::max(worst, segment_point_distance(loop[k], out.back(), b));
            }
            if (worst > 4.0 * tolerance) {
                break;
            }
            if (worst <= tolerance) {
                best_chord = j;
                if (j == n || near_outline(j)) {
                    best = j;
                }
            }
        }
        if (best == 0) {
            best = best_chord;
        }
        out.push_back(rounded(loop[best]));
        cur = best;
    }
    return out;
}

// Outer boundaries run with a positive shoelace sum, holes with a negative one: a contour
// inside an odd number of others is a hole.
void orient(std::vector<icontour>& contours) {
    for (std::size_t i = 0; i < contours.size(); ++i) {
        int depth = 0;
        for (std::size_t j = 0; j < contours.size(); ++j) {
            if (i != j && inside(contours[i][0], contours[j])) {
                ++depth;
            }
        }
        const bool hole = depth % 2 == 1;
        if ((shoelace(contours[i]) > 0) == hole) {
            std::reverse(contours[i].begin(), contours[i].end());
        }
    }
}

// The smallest and largest x of a glyph's ink.
std::pair<std::int32_t, std::int32_t> ink_extent(const glyph& g) {
    std::int32_t lo = g.contours.at(0)[0].x;
    std::int32_t hi = lo;
    for (const icontour& c : g.contours) {
        for (const ipoint& p : c) {
            lo = std::min(lo, p.x);
            hi = std::max(hi, p.x);
        }
    }
    return {lo, hi};
}

// The advance box holds the ink: at x1 = 0 where the ink fits, otherwise moved just far
// enough. Ink wider than the advance (the font's Y, by 5 units) widens the box to the ink.
void place_box(glyph& g, std::int32_t advance) {
    if (g.contours.empty()) {
        g.x1 = 0;
        g.x2 = advance;
        return;
    }
    const auto [lo, hi] = ink_extent(g);
    if (hi - lo > advance) {
        g.x1 = lo;
        g.x2 = hi;
        return;
    }
    g.x1 = std::min(0, lo);
    if (hi > g.x1 + advance) {
        g.x1 = hi - advance;
    }
    g.x2 = g.x1 + advance;
}

// ---- Glyphs of the font file ----

struct outline_walk {
    double scale = 1.0;     // table units per font unit
    double baseline = 0.0;  // z of the baseline
    std::vector<std::vector<vec2>> loops;
    vec2 pen;

    vec2 map(const FT_Vector* v) const {
        return {static_cast<double>(v->x) * scale, baseline - static_cast<double>(v->y) * scale};
    }
};

outline_walk& walk_of(void* user) {
    return *static_cast<outline_walk*>(user);
}

int move_to(const FT_Vector* to, void* user) {
    outline_walk& w = walk_of(user);
    w.pen = w.map(to);
    w.loops.push_back({w.pen});
    return 0;
}

int line_to(const FT_Vector* to, void* user) {
    outline_walk& w = walk_of(user);
    w.pen = w.map(to);
    w.loops.back().push_back(w.pen);
    return 0;
}

// Curves are cut into equal parameter steps. A chord of a curve whose second derivative is at
// most D over a step h strays at most D·h²/8 from it, which gives the number of steps.
int conic_to(const FT_Vector* control, const FT_Vector* to, void* user) {
    outline_walk& w = walk_of(user);
    const vec2 p0 = w.pen;
    const vec2 p1 = w.map(control);
    const vec2 p2 = w.map(to);
    const double bend = length(p0 - 2.0 * p1 + p2);  // D = 2·bend
    const int steps =
        std::max(1, static_cast<int>(std::ceil(std::sqrt(bend / (4.0 * sampling_tolerance)))));
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double u = 1.0 - t;
        w.loops.back().push_back(u * u * p0 + 2.0 * u * t * p1 + t * t * p2);
    }
    w.pen = p2;
    return 0;
}

int cubic_to(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to,
             void* user) {
    outline_walk& w = walk_of(user);
    const vec2 p0 = w.pen;
    const vec2 p1 = w.map(control1);
    const vec2 p2 = w.map(control2);
    const vec2 p3 = w.map(to);
    const double bend =
        std::max(length(p0 - 2.0 * p1 + p2), length(p1 - 2.0 * p2 + p3));  // D = 6·bend
    const int steps = std::max(
        1, static_cast<int>(std::ceil(std::sqrt(3.0 * bend / (4.0 * sampling_tolerance)))));
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double u = 1.0 - t;
        w.loops.back().push_back(u * u * u * p0 + 3.0 * u * u * t * p1 + 3.0 * u * t * t * p2 +
                                 t * t * t * p3);
    }
    w.pen = p3;
    return 0;
}

class font_file {
  public:
    explicit font_file(const char* path) {
        if (FT_Init_FreeType(&library_) != 0) {
            throw std::runtime_error("cannot start FreeType");
        }
        if (FT_New_Face(library_, path, 0, &face_) != 0) {
            FT_Done_FreeType(library_);
            throw std::runtime_error(std::string("cannot read the font ") + path);
        }
        const FT_Pos cap = bounds('H').yMax;
        FT_Pos lowest = 0;
        for (int code = 33; code <= 126; ++code) {
            lowest = std::min(lowest, bounds(code).yMin);
        }
        scale_ = (text_height - cap_top_z) / static_cast<double>(cap - lowest);
        baseline_ = cap_top_z + cap * scale_;
    }
    font_file(const font_file&) = delete;
    font_file& operator=(const font_file&) = delete;
    ~font_file() {
        FT_Done_Face(face_);
        FT_Done_FreeType(library_);
    }

    glyph make(int code) {
        load(code);
        outline_walk w;
        w.scale = scale_;
        w.baseline = baseline_;
        FT_Outline_Funcs funcs{};
        funcs.move_to = move_to;
        funcs.line_to = line_to;
        funcs.conic_to = conic_to;
        funcs.cubic_to = cubic_to;
        if (FT_Outline_Decompose(&face_->glyph->outline, &funcs, &w) != 0) {
            throw std::runtime_error("cannot read the outline of glyph " + std::to_string(code));
        }
        glyph g;
        g.height = text_height;
        for (const std::vector<vec2>& loop : w.loops) {
            icontour c = to_contour(thin_loop(loop, text_tolerance));
            if (!c.empty()) {
                g.contours.push_back(std::move(c));
            }
        }
        orient(g.contours);
        place_box(g, to_int(static_cast<double>(face_->glyph->metrics.horiAdvance) * scale_));
        return g;
    }

  private:
    void load(int code) {
        if (FT_Load_Char(face_, static_cast<FT_ULong>(code),
                         FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) {
            throw std::runtime_error("the font has no glyph " + std::to_string(code));
        }
    }
    FT_BBox bounds(int code) {
        load(code);
        FT_BBox box;
        FT_Outline_Get_CBox(&face_->glyph->outline, &box);
        return box;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    double scale_ = 1.0;
    double baseline_ = 0.0;
};

// ---- Fixed glyphs ----

glyph space() {
    return {0, 89, text_height, {}};
}

// A hollow rectangle for the codes the game never writes.
glyph placeholder() {
    return {0,
            100,
            text_height,
            {{{87, 0}, {87, 218}, {12, 218}, {12, 0}, {87, 0}},
             {{74, 13}, {25, 13}, {25, 205}, {74, 205}, {74, 13}}}};
}

// The title's bar, whose stroke (22 units) sets the weight of the other title glyphs.
glyph title_bar() {
    return {0, 166, title_height, {{{152, 99}, {152, 121}, {12, 121}, {12, 99}, {152, 99}}}};
}

// ---- Title glyphs ----
//
// Each title glyph is a set of pen paths (centre lines in table units). The pen is 22 units
// wide with square ends and round joins. The glyph's ink is traced from a sampled distance
// field by marching squares, then thinned like the font's outlines.

constexpr double pen_half_width = 11.0;
constexpr double grid_step = 0.5;
constexpr std::int32_t side_bearing = 12;  // as the bar's

struct pen_path {
    std::vector<vec2> points;
    bool closed = false;
};

// Arc points from angle a0 to a1 in degrees (0 along +x, 90 along +z, that is downward),
// every 3 degrees or less.
std::vector<vec2> arc(vec2 centre, double radius, double a0, double a1) {
    const int steps = std::max(1, static_cast<int>(std::ceil(std::abs(a1 - a0) / 3.0)));
    std::vector<vec2> pts;
    for (int i = 0; i <= steps; ++i) {
        const double a = (a0 + (a1 - a0) * i / steps) * std::numbers::pi / 180.0;
        pts.push_back({centre.x + radius * std::cos(a), centre.z + radius * std::sin(a)});
    }
    return pts;
}

pen_path open_path(std::initializer_list<std::vector<vec2>> pieces) {
    pen_path p;
    for (const std::vector<vec2>& piece : pieces) {
        for (const vec2& v : piece) {
            if (p.points.empty() || length(p.points.back() - v) > 1e-9) {
                p.points.push_back(v);
            }
        }
    }
    return p;
}

pen_path ring(vec2 centre, double radius) {
    pen_path p = open_path({arc(centre, radius, 0.0, 360.0)});
    p.points.pop_back();
    p.closed = true;
    return p;
}

class distance_grid {
  public:
    distance_grid(double x0, double z0, int nx, int nz)
        : x0_(x0), z0_(z0), nx_(nx), nz_(nz), values_(static_cast<std::size_t>(nx) * nz, far) {}

    // Lowers the field to the distance of one primitive near it. Farther than `far` the field
    // only has to have the right sign, which the initial value gives.
    template <class Distance>
    void add(double xmin, double zmin, double xmax, double zmax, Distance distance) {
        const auto [i0, i1, j0, j1] = nodes_within(xmin - far, zmin - far, xmax + far, zmax + far);
        for (int j = j0; j <= j1; ++j) {
            for (int i = i0; i <= i1; ++i) {
                double& v = at(i, j);
                v = std::min(v, distance(node(i, j)));
            }
        }
    }

    // Cuts away what lies beyond the line through `end` across `outward`, within `radius` of
    // `end`: the square end of a stroke.
    void cut(vec2 end, vec2 outward, double radius) {
        const vec2 u = (1.0 / length(outward)) * outward;
        const auto [i0, i1, j0, j1] =
            nodes_within(end.x - radius, end.z - radius, end.x + radius, end.z + radius);
        for (int j = j0; j <= j1; ++j) {
            for (int i = i0; i <= i1; ++i) {
                const vec2 q = node(i, j) - end;
                const double beyond = q.x * u.x + q.z * u.z;
                if (beyond > 0.0 && length(q) < radius) {
                    at(i, j) = std::max(at(i, j), beyond);
                }
            }
        }
    }

    void merge(const distance_grid& other) {
        for (std::size_t k = 0; k < values_.size(); ++k) {
            values_[k] = std::min(values_[k], other.values_[k]);
        }
    }

    // Marching squares: the loops where the field crosses zero, oriented consistently.
    std::vector<std::vector<vec2>> trace() const {
        // Crossings are keyed by the grid edge they lie on; each cell links an entry to an exit.
        std::map<long, std::pair<long, vec2>> next;
        const auto edge_point = [&](int i, int j, int di, int dj) {
            const double a = at(i, j);
            const double b = at(i + di, j + dj);
            const double t = a / (a - b);
            return vec2{x0_ + (i + di * t) * grid_step, z0_ + (j + dj * t) * grid_step};
        };
        for (int j = 0; j + 1 < nz_; ++j) {
            for (int i = 0; i + 1 < nx_; ++i) {
                // Corners in order around the cell, and the edges that join them.
                const std::array<std::pair<int, int>, 4> corner{
                    {{i, j}, {i + 1, j}, {i + 1, j + 1}, {i, j + 1}}};
                std::array<bool, 4> in{};
                for (int k = 0; k < 4; ++k) {
                    in[k] = at(corner[k].first, corner[k].second) < 0.0;
                }
                std::vector<int> leaving;   // edges where the walk goes from ink to paper
                std::vector<int> entering;  // and back
                for (int k = 0; k < 4; ++k) {
                    if (in[k] && !in[(k + 1) % 4]) {
                        leaving.push_back(k);
                    } else if (!in[k] && in[(k + 1) % 4]) {
                        entering.push_back(k);
                    }
                }
                if (leaving.empty()) {
                    continue;
                }
                const double centre =
                    0.25 * (at(i, j) + at(i + 1, j) + at(i + 1, j + 1) + at(i, j + 1));
                for (const int k : leaving) {
                    // One crossing pair joins the leaving edge to the entering edge before it;
                    // at a saddle whose centre is ink, to the one after it.
                    int pair = -1;
                    const bool join_ink = leaving.size() == 2 && centre < 0.0;
                    for (int s = 1; s < 4; ++s) {
                        const int e = join_ink ? (k + s) % 4 : (k + 4 - s) % 4;
                        if (std::find(entering.begin(), entering.end(), e) != entering.end()) {
                            pair = e;
                            break;
                        }
                    }
                    const auto key = [&](int e) {
                        const auto [ci, cj] = corner[e];
                        const auto [ni, nj] = corner[(e + 1) % 4];
                        const int mi = std::min(ci, ni);
                        const int mj = std::min(cj, nj);
                        return (static_cast<long>(mj) * nx_ + mi) * 2 + (ci == ni ? 1 : 0);
                    };
                    const auto point_on = [&](int e) {
                        const auto [ci, cj] = corner[e];
                        const auto [ni, nj] = corner[(e + 1) % 4];
                        return edge_point(std::min(ci, ni), std::min(cj, nj), ci == ni ? 0 : 1,
                                          ci == ni ? 1 : 0);
                    };
                    next[key(k)] = {key(pair), point_on(pair)};
                }
            }
        }
        std::vector<std::vector<vec2>> loops;
        while (!next.empty()) {
            const long start = next.begin()->first;
            std::vector<vec2> loop;
            long at_edge = start;
            while (true) {
                const auto it = next.find(at_edge);
                if (it == next.end()) {
                    throw std::runtime_error("an open outline while tracing a title glyph");
                }
                loop.push_back(it->second.second);
                at_edge = it->second.first;
                next.erase(it);
                if (at_edge == start) {
                    break;
                }
            }
            loops.push_back(std::move(loop));
        }
        return loops;
    }

    vec2 node(int i, int j) const { return {x0_ + i * grid_step, z0_ + j * grid_step}; }

  private:
    static constexpr double far = 3.0;

    // The first and last columns and rows of the nodes inside a rectangle.
    std::array<int, 4> nodes_within(double xmin, double zmin, double xmax, double zmax) const {
        return {std::max(0, static_cast<int>(std::floor((xmin - x0_) / grid_step))),
                std::min(nx_ - 1, static_cast<int>(std::ceil((xmax - x0_) / grid_step))),
                std::max(0, static_cast<int>(std::floor((zmin - z0_) / grid_step))),
                std::min(nz_ - 1, static_cast<int>(std::ceil((zmax - z0_) / grid_step)))};
    }
    double at(int i, int j) const { return values_[static_cast<std::size_t>(j) * nx_ + i]; }
    double& at(int i, int j) { return values_[static_cast<std::size_t>(j) * nx_ + i]; }

    double x0_;
    double z0_;
    int nx_;
    int nz_;
    std::vector<double> values_;
};

// The ink of a set of pen paths, moved to stand `side_bearing` units from either edge of its
// advance box.
glyph pen_glyph(const std::vector<pen_path>& paths) {
    double xmin = 1e9, zmin = 1e9, xmax = -1e9, zmax = -1e9;
    for (const pen_path& p : paths) {
        for (const vec2& v : p.points) {
            xmin = std::min(xmin, v.x);
            xmax = std::max(xmax, v.x);
            zmin = std::min(zmin, v.z);
            zmax = std::max(zmax, v.z);
        }
    }
    const double h = pen_half_width;
    const double margin = h + 4.0;
    const double x0 = std::floor(xmin - margin);
    const double z0 = std::floor(zmin - margin);
    const int nx = static_cast<int>(std::ceil((xmax + margin - x0) / grid_step)) + 1;
    const int nz = static_cast<int>(std::ceil((zmax + margin - z0) / grid_step)) + 1;
    distance_grid ink(x0, z0, nx, nz);
    for (const pen_path& p : paths) {
        // A path is the union of round-ended strokes along its segments, its two ends then cut
        // square across the end segments.
        distance_grid stroke(x0, z0, nx, nz);
        const std::size_t n = p.points.size();
        for (std::size_t k = 0; k < (p.closed ? n : n - 1); ++k) {
            const vec2 a = p.points[k];
            const vec2 b = p.points[(k + 1) % n];
            stroke.add(std::min(a.x, b.x) - h, std::min(a.z, b.z) - h, std::max(a.x, b.x) + h,
                       std::max(a.z, b.z) + h,
                       [a, b, h](vec2 q) { return segment_point_distance(q, a, b) - h; });
        }
        if (!p.closed) {
            stroke.cut(p.points[0], p.points[0] - p.points[1], h + 3.0);
            stroke.cut(p.points[n - 1], p.points[n - 1] - p.points[n - 2], h + 3.0);
        }
        ink.merge(stroke);
    }
    glyph g;
    g.height = title_height;
    for (const std::vector<vec2>& loop : ink.trace()) {
        icontour c = to_contour(thin_loop(loop, title_tolerance));
        if (!c.empty()) {
            g.contours.push_back(std::move(c));
        }
    }
    orient(g.contours);
    const auto [lo, hi] = ink_extent(g);
    for (icontour& c : g.contours) {
        for (ipoint& q : c) {
            q.x += side_bearing - lo;
        }
    }
    g.x1 = 0;
    g.x2 = hi - lo + 2 * side_bearing;
    return g;
}

// The script: strokes 22 units wide between the top line z = 12 and the foot line z = 208,
// built on the bar's line z = 110. Bowls are rings of centre-line radius 55 about the bar's
// line (ink from z = 44 to 176); stems reach the top or foot line.
constexpr double top = 12.0;
constexpr double foot = 208.0;
constexpr double mid = 110.0;
constexpr double bowl = 55.0;

std::vector<vec2> line(vec2 a, vec2 b) {
    return {a, b};
}

glyph title_glyph(int code) {
    switch (code) {
        case 128:  // a stem with two arms swept out of its middle
            return pen_glyph({open_path({line({23, top}, {23, foot})}),
                              open_path({arc({126, mid}, 87, 180, 270)}),
                              open_path({arc({126, mid}, 87, 180, 90)})});
        case 130:  // a ring hanging from a stem
            return pen_glyph({ring({78, mid}, bowl), open_path({line({78, top}, {78, 55})})});
        case 131:  // a dome on the bar, on a post
            return pen_glyph({open_path({arc({83, mid}, bowl, 180, 360)}),
                              open_path({line({12, mid}, {154, mid})}),
                              open_path({line({83, mid}, {83, foot})})});
        case 132:  // a crescent holding a dot
            return pen_glyph({open_path({arc({78, mid}, bowl, 300, 60)}),
                              open_path({line({67, mid}, {89, mid})})});
        case 133:  // a wave along the bar's line
            return pen_glyph(
                {open_path({arc({62, mid}, 50, 180, 360), arc({162, mid}, 50, 180, 0)})});
        case 134:  // a ring crossed by the bar
            return pen_glyph({ring({74, mid}, bowl), open_path({line({19, mid}, {154, mid})})});
        case 135:  // a cup with one tall arm and a dot over the other
            return pen_glyph({open_path({line({23, top}, {23, mid}), arc({78, mid}, bowl, 180, 0),
                                         line({133, mid}, {133, 66})}),
                              open_path({line({133, 12}, {133, 34})})});
        case 136:  // a ring with a stem falling from its side and curling under (137 turned over)
            return pen_glyph({ring({88, 85}, bowl),
                              open_path({line({33, 85}, {33, 168}), arc({63, 168}, 30, 180, 0)})});
        case 137:  // a ring with a stem rising from its side and curling over
            return pen_glyph({ring({72, 143}, bowl), open_path({line({127, 143}, {127, 60}),
                                                                arc({97, 60}, 30, 0, -180)})});
        default:
            throw std::runtime_error("no title glyph " + std::to_string(code));
    }
}

// ---- Output ----

void write_integers(std::ostringstream& out, const std::vector<std::int32_t>& values) {
    std::string line;
    for (const std::int32_t v : values) {
        const std::string item = std::to_string(v) + ",";
        if (!line.empty() && line.size() + 1 + item.size() > 96) {
            out << "    " << line << "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + item;
    }
    if (!line.empty()) {
        out << "    " << line << "\n";
    }
}

std::string describe(int code) {
    if (code == 32) {
        return "space";
    }
    if (code == 92) {
        return "backslash";
    }
    if (code < 127) {
        return std::string("'") + static_cast<char>(code) + "'";
    }
    return code == 127 ? "unused" : "title";
}

std::string table_source(const std::vector<glyph>& glyphs) {
    std::ostringstream out;
    std::size_t integers = 0;
    std::size_t contours = 0;
    std::size_t points = 0;
    std::ostringstream body;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const glyph& g = glyphs[i];
        const int code = 32 + static_cast<int>(i);
        body << "    // " << code << " " << describe(code) << "\n";
        std::vector<std::int32_t> head{static_cast<std::int32_t>(g.contours.size() + 1),
                                       4,
                                       g.x1,
                                       0,
                                       g.x2,
                                       0,
                                       g.x2,
                                       g.height,
                                       g.x1,
                                       g.height};
        write_integers(body, head);
        integers += head.size();
        for (const icontour& c : g.contours) {
            std::vector<std::int32_t> values{static_cast<std::int32_t>(c.size())};
            for (const ipoint& p : c) {
                values.push_back(p.x);
                values.push_back(p.z);
            }
            write_integers(body, values);
            integers += values.size();
            ++contours;
            points += c.size();
        }
    }
    out << "// generated by tools/font_table_gen.cpp — do not edit; `make font-table` remakes it.\n"
        << "// Codes 33 to 126 but 123 and 125 are outlines of DejaVu Sans Bold (licence:\n"
        << "// LICENSES/DejaVu-fonts.txt); codes 128 to 137 are the title's own script.\n"
        << "// " << glyphs.size() << " records, " << contours << " contours, " << points
        << " points, " << integers << " integers.\n"
        << "// clang-format off\n"
        << "#include \"font_table.h\"\n\n"
        << "#include <iterator>\n\n"
        << "const std::int32_t acme_chartable[] = {\n"
        << body.str() << "};\n\n"
        << "const std::size_t acme_chartable_size = std::size(acme_chartable);\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: font-table-gen FONT.ttf OUTPUT.cpp\n";
        return 2;
    }
    try {
        font_file font(argv[1]);
        std::vector<glyph> glyphs;
        for (int code = 32; code <= 137; ++code) {
            if (code == 32) {
                glyphs.push_back(space());
            } else if (code == 123 || code == 125 || code == 127) {
                glyphs.push_back(placeholder());
            } else if (code < 127) {
                glyphs.push_back(font.make(code));
            } else if (code == 129) {
                glyphs.push_back(title_bar());
            } else {
                glyphs.push_back(title_glyph(code));
            }
        }
        const std::string source = table_source(glyphs);
        // An unchanged table is left alone, so that nothing that includes it is rebuilt.
        std::ifstream old(argv[2], std::ios::binary);
        if (old && std::string(std::istreambuf_iterator<char>(old), {}) == source) {
            return 0;
        }
        old.close();
        std::ofstream file(argv[2], std::ios::binary);
        file << source;
        file.close();
        if (!file) {
            std::cerr << "font-table-gen: cannot write " << argv[2] << "\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "font-table-gen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
