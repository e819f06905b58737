// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "font.h"
#include "font_table.h"
#include "tt.h"

namespace {

using table = std::vector<std::int32_t>;

const table built_in(acme_chartable, acme_chartable + acme_chartable_size);

// Where each code's record (its count) starts; at last_glyph_code + 1, where the table ends.
const std::vector<int>& starts() {
    static const std::vector<int> at = [] {
        std::vector<int> found(last_glyph_code + 2, -1);
        int index = 0;
        for (int code = first_glyph_code; code <= last_glyph_code; ++code) {
            found[code] = index;
            const int polygons = built_in[index++];
            read_glyph_record(built_in, index, polygons);
        }
        found[last_glyph_code + 1] = index;
        return found;
    }();
    return at;
}

// Twice the signed area of the triangle a, b, c.
double turn(const double* a, const double* b, const double* c) {
    return (b[0] - a[0]) * (c[2] - a[2]) - (b[2] - a[2]) * (c[0] - a[0]);
}

// Even-odd test of a point of one contour against another.
bool inside(const point& p, const std::vector<point>& c) {
    bool in = false;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        const double *a = c[k].xyz, *b = c[k + 1].xyz;
        if ((a[2] > p.xyz[2]) != (b[2] > p.xyz[2]) &&
            p.xyz[0] < a[0] + (p.xyz[2] - a[2]) * (b[0] - a[0]) / (b[2] - a[2])) {
            in = !in;
        }
    }
    return in;
}

// Every record, read independently of the walk: the advance box, closed contours inside it,
// outlines and holes turning opposite ways, no crossing edges (the fill would punch holes).
TEST(FontTable, EveryRecordIsWellFormed) {
    EXPECT_EQ(starts()[last_glyph_code + 1], static_cast<int>(built_in.size()));
    walk_font_table(built_in, [&](int code, int polygons, const glyph_record& g) {
        SCOPED_TRACE("code " + std::to_string(code));
        const auto box = built_in.begin() + starts()[code] + 1;
        const std::int32_t x1 = box[1], x2 = box[3], h = box[6];
        EXPECT_EQ(table(box, box + 9), (table{4, x1, 0, x2, 0, x2, h, x1, h}));
        EXPECT_EQ(h, code <= 127 ? 284 : 228);
        ASSERT_EQ(g.contours.size(), static_cast<std::size_t>(polygons - 1));
        std::vector<const double*> edges;  // start and end of each edge
        for (std::size_t i = 0; i < g.contours.size(); ++i) {
            const std::vector<point>& c = g.contours[i];
            ASSERT_GE(c.size(), 4u);  // a triangle and the closing repeat
            EXPECT_TRUE(c.front().xyz[0] == c.back().xyz[0] && c.front().xyz[2] == c.back().xyz[2]);
            double area = 0.0;
            for (std::size_t k = 0; k + 1 < c.size(); ++k) {
                area += c[k].xyz[0] * c[k + 1].xyz[2] - c[k + 1].xyz[0] * c[k].xyz[2];
                edges.insert(edges.end(), {c[k].xyz, c[k + 1].xyz});
            }
            for (const point& p : c) {
                EXPECT_TRUE(p.xyz[0] >= x1 && p.xyz[0] <= x2 && p.xyz[2] >= 0 && p.xyz[2] <= h);
            }
            int depth = 0;
            for (std::size_t j = 0; j < g.contours.size(); ++j) {
                depth += i != j && inside(c[0], g.contours[j]) ? 1 : 0;
            }
            EXPECT_GT(depth % 2 == 0 ? area : -area, 0.0) << "contour " << i;
        }
        for (std::size_t i = 0; i < edges.size(); i += 2) {
            for (std::size_t j = i + 2; j < edges.size(); j += 2) {
                const double *a = edges[i], *b = edges[i + 1], *c = edges[j], *d = edges[j + 1];
                EXPECT_FALSE(turn(a, b, c) * turn(a, b, d) < 0 &&
                             turn(c, d, a) * turn(c, d, b) < 0);
            }
        }
    });
}

// What a walk of the table reports; empty when it reads every record.
std::string walk_error(const table& t) {
    try {
        walk_font_table(t, [](int, int, const glyph_record&) {});
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(FontTable, ADamagedTableIsReportedNotOverread) {
    // Cuts through the first and last records; reading past a cut is a heap overflow.
    for (std::size_t cut = 0; cut < built_in.size();
         cut = cut == 12 ? built_in.size() - 80 : cut + 1) {
        const table damaged(built_in.begin(), built_in.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_NE(walk_error(damaged), "") << "cut at " << cut;
    }
    EXPECT_NE(walk_error(table(built_in.begin(), built_in.end() - 1)).find("glyph 137"),
              std::string::npos);
    // Impossible counts (INT_MAX or -3 points, -2 polygons) are reported where they stand.
    const int first_contour = starts()['!'] + 10;
    for (const auto& [at, bad] :
         {std::pair{first_contour, INT_MAX}, {first_contour, -3}, {starts()['!'], -2}}) {
        table damaged = built_in;
        damaged[at] = bad;
        EXPECT_TRUE(walk_error(damaged).ends_with(" at integer " + std::to_string(at))) << bad;
    }
}

TEST(FontTable, ARecordMayStartAtTheTableAndEndWithIt) {
    int index = 0;
    const glyph_record box = read_glyph_record(table{4, 0, 0, 100, 0, 100, 284, 0, 284}, index, 1);
    EXPECT_EQ(std::tuple(box.width, box.height, box.contours.size(), index),
              std::tuple(1.0, 2.84, 0u, 9));
}

// The record of '!' replaced by -1: no glyph, and the next integer is the count of '"'.
TEST(FontTable, ACodeWithoutAGlyphEndsItsRecordAtTheCount) {
    table patched(built_in.begin(), built_in.begin() + starts()['!']);
    patched.push_back(-1);
    patched.insert(patched.end(), built_in.begin() + starts()['"'], built_in.end());
    int visits = 0;
    walk_font_table(patched, [&](int code, int polygons, const glyph_record& g) {
        visits += 1;
        EXPECT_EQ(polygons == -1, code == '!');
        EXPECT_EQ(g.width, code == '!' ? 0.0 : f3dWidth(code)) << code;
    });
    EXPECT_EQ(visits, 106);
}

TEST(FontMetrics, WidthsAndHeightsOfTexts) {
    // The score's digits share one advance, so a changing number does not jitter.
    for (char d = '1'; d <= '9'; ++d) {
        EXPECT_EQ(f3dWidth(d), f3dWidth('0')) << d;
    }
    // Codes without a glyph, on both sides of the table's range, measure nothing.
    const std::string no_glyphs{'\x01', '\t', '\x1f', '\x8a', '\xc3', '\xff'};
    EXPECT_EQ(pixlen("") + pixheight("") + pixlen(no_glyphs) + pixheight(no_glyphs), 0.0);
    const std::string title = intro_animation::game_name_text();  // codes 128 to 137
    EXPECT_DOUBLE_EQ(pixheight(title), 2.28);
    EXPECT_DOUBLE_EQ(pixheight(title + "K"), 2.84);
    EXPECT_DOUBLE_EQ(pixheight("K" + title), 2.84);
    EXPECT_DOUBLE_EQ(pixlen(" \x81 "), 0.89 + 1.66 + 0.89);
}

}  // namespace
