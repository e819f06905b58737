#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "font.h"
#include "font_table.h"

namespace {

using table = std::vector<std::int32_t>;

table built_in() {
    return table(acme_chartable, acme_chartable + acme_chartable_size);
}

// Where each code's record (its count) starts, found by reading the table record by record.
std::vector<int> record_starts(std::span<const std::int32_t> t) {
    std::vector<int> starts(last_glyph_code + 1, -1);
    int index = 0;
    for (int code = first_glyph_code; code <= last_glyph_code; ++code) {
        starts[code] = index;
        const int polygons = t[index++];
        read_glyph_record(t, index, polygons);
    }
    return starts;
}

double shoelace(const std::vector<point>& c) {
    double sum = 0.0;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        sum += c[k].xyz[0] * c[k + 1].xyz[2] - c[k + 1].xyz[0] * c[k].xyz[2];
    }
    return sum;
}

// Even-odd test of a point of one contour against another.
bool inside(const point& p, const std::vector<point>& c) {
    bool in = false;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
        const double x0 = c[k].xyz[0], z0 = c[k].xyz[2];
        const double x1 = c[k + 1].xyz[0], z1 = c[k + 1].xyz[2];
        if ((z0 > p.xyz[2]) != (z1 > p.xyz[2]) &&
            p.xyz[0] < x0 + (p.xyz[2] - z0) * (x1 - x0) / (z1 - z0)) {
            in = !in;
        }
    }
    return in;
}

std::vector<std::int32_t> record_at(const table& t, int code) {
    const std::vector<int> starts = record_starts(t);
    const int end = code == last_glyph_code ? static_cast<int>(t.size()) : starts[code + 1];
    return {t.begin() + starts[code], t.begin() + end};
}

TEST(FontTable, EveryRecordIsWellFormedAndTheTableEndsAfterTheLast) {
    const table t = built_in();
    const std::vector<int> starts = record_starts(t);
    int index = 0;
    int records = 0;
    for (int code = first_glyph_code; code <= last_glyph_code; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        ASSERT_EQ(index, starts[code]);
        const int polygons = t[index++];
        ASSERT_GE(polygons, 1);
        // The advance box: 4, x1, 0, x2, 0, x2, h, x1, h.
        const std::int32_t* box = &t[index];
        const std::int32_t x1 = box[1], x2 = box[3], h = box[6];
        EXPECT_EQ(box[0], 4);
        EXPECT_EQ(box[2], 0);
        EXPECT_EQ(box[4], 0);
        EXPECT_EQ(box[5], x2);
        EXPECT_EQ(box[7], x1);
        EXPECT_EQ(box[8], h);
        EXPECT_EQ(h, code <= 127 ? 284 : 228);
        EXPECT_GT(x2 - x1, 0);

        const glyph_record g = read_glyph_record(t, index, polygons);
        ++records;
        EXPECT_EQ(g.contours.size(), static_cast<std::size_t>(polygons - 1));
        EXPECT_DOUBLE_EQ(g.width, (x2 - x1) * 0.01);
        EXPECT_DOUBLE_EQ(g.height, h * 0.01);
        for (std::size_t i = 0; i < g.contours.size(); ++i) {
            const std::vector<point>& c = g.contours[i];
            ASSERT_GE(c.size(), 4u);  // a triangle and the closing repeat
            EXPECT_EQ(c.front().xyz[0], c.back().xyz[0]);
            EXPECT_EQ(c.front().xyz[2], c.back().xyz[2]);
            for (const point& p : c) {
                EXPECT_TRUE(p.xyz[0] >= x1 && p.xyz[0] <= x2) << "x " << p.xyz[0];
                EXPECT_TRUE(p.xyz[2] >= 0 && p.xyz[2] <= h) << "z " << p.xyz[2];
            }
            // Outer boundaries turn one way, holes (inside an odd number of others) the other.
            int depth = 0;
            for (std::size_t j = 0; j < g.contours.size(); ++j) {
                depth += i != j && inside(c[0], g.contours[j]) ? 1 : 0;
            }
            if (depth % 2 == 0) {
                EXPECT_GT(shoelace(c), 0.0) << "outer contour " << i;
            } else {
                EXPECT_LT(shoelace(c), 0.0) << "hole " << i;
            }
        }
    }
    EXPECT_EQ(records, 106);
    EXPECT_EQ(static_cast<std::size_t>(index), t.size());
}

// Twice the signed area of the triangle a, b, c.
long long turn(const point& a, const point& b, const point& c) {
    return static_cast<long long>((b.xyz[0] - a.xyz[0]) * (c.xyz[2] - a.xyz[2]) -
                                  (b.xyz[2] - a.xyz[2]) * (c.xyz[0] - a.xyz[0]));
}

// Crossing edges would make the odd-winding fill punch holes into the letters.
TEST(FontTable, NoTwoEdgesOfAGlyphCross) {
    walk_font_table(built_in(), [](int code, int, const glyph_record& g) {
        std::vector<std::pair<point, point>> edges;
        for (const auto& c : g.contours) {
            for (std::size_t k = 0; k + 1 < c.size(); ++k) {
                edges.emplace_back(c[k], c[k + 1]);
            }
        }
        for (std::size_t i = 0; i < edges.size(); ++i) {
            for (std::size_t j = i + 1; j < edges.size(); ++j) {
                const auto& [a, b] = edges[i];
                const auto& [c, d] = edges[j];
                const bool cross =
                    turn(a, b, c) * turn(a, b, d) < 0 && turn(c, d, a) * turn(c, d, b) < 0;
                EXPECT_FALSE(cross) << "code " << code << " edges " << i << " and " << j;
            }
        }
    });
}

TEST(FontTable, FixedGlyphsAreExact) {
    const table t = built_in();
    // clang-format off
    EXPECT_EQ(record_at(t, ' '), (table{1, 4, 0, 0, 89, 0, 89, 284, 0, 284}));
    EXPECT_EQ(record_at(t, 129), (table{2, 4, 0, 0, 166, 0, 166, 228, 0, 228,
                                        5, 152, 99, 152, 121, 12, 121, 12, 99, 152, 99}));
    // The placeholder: a hollow rectangle, outer (12, 0) to (87, 218), inner (25, 13) to
    // (74, 205), width 100; the outer contour turns positive, the inner one negative.
    const table box{3, 4, 0, 0, 100, 0, 100, 284, 0, 284,
                    5, 87, 0, 87, 218, 12, 218, 12, 0, 87, 0,
                    5, 74, 13, 25, 13, 25, 205, 74, 205, 74, 13};
    // clang-format on
    EXPECT_EQ(record_at(t, 123), box);
    EXPECT_EQ(record_at(t, 125), box);
    EXPECT_EQ(record_at(t, 127), box);
}

// The extent of a glyph's ink along z.
std::pair<double, double> z_range(char ch) {
    const table t = built_in();
    const table r = record_at(t, static_cast<unsigned char>(ch));
    int index = 1;
    double lo = 1e9, hi = -1e9;
    for (const auto& c : read_glyph_record(r, index, r[0]).contours) {
        for (const point& p : c) {
            lo = std::min(lo, p.xyz[2]);
            hi = std::max(hi, p.xyz[2]);
        }
    }
    return {lo, hi};
}

TEST(FontTable, LettersStandOnOneBaselineWithRoomForDescenders) {
    const auto [cap_top, baseline] = z_range('H');
    EXPECT_NEAR(cap_top, 40, 3);
    EXPECT_NEAR(baseline, 226, 6);
    EXPECT_EQ(z_range('x').second, baseline);
    EXPECT_GT(z_range('x').first, cap_top + 30);  // real lower case
    EXPECT_GT(z_range('g').second, baseline + 40);
    EXPECT_LE(z_range('_').second, 284);
    // The score's digits share one advance, so a changing number does not jitter.
    for (char d = '1'; d <= '9'; ++d) {
        EXPECT_EQ(f3dWidth(d), f3dWidth('0')) << d;
    }
    EXPECT_LT(f3dWidth('i'), f3dWidth('m'));
}

TEST(FontTable, ADamagedTableIsReportedNotOverread) {
    const table t = built_in();
    const std::vector<int> starts = record_starts(t);
    const auto walk = [](const table& damaged) {
        walk_font_table(damaged, [](int, int, const glyph_record&) {});
    };
    // Each copy is exactly as long as the cut, so reading past it is a heap overflow.
    std::vector<std::size_t> cuts{0, 1, 9, 10, 11, t.size() / 2};
    for (std::size_t cut = t.size() - 80; cut < t.size(); ++cut) {
        cuts.push_back(cut);
    }
    for (const std::size_t cut : cuts) {
        const table damaged(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(walk(damaged), std::runtime_error) << "cut at " << cut;
    }
    try {
        walk(table(t.begin(), t.end() - 1));
        ADD_FAILURE() << "a table one integer short was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("glyph 137"), std::string::npos) << e.what();
    }
    // Counts that cannot be: a contour of INT_MAX points, a negative point or polygon count.
    const int first_contour = starts['!'] + 10;
    for (const std::int32_t bad : {INT_MAX, -3}) {
        table damaged = t;
        damaged[first_contour] = bad;
        EXPECT_THROW(walk(damaged), std::runtime_error) << bad;
    }
    table damaged = t;
    damaged[starts['!']] = -2;
    EXPECT_THROW(walk(damaged), std::runtime_error);
}

TEST(FontTable, ACodeWithoutAGlyphEndsItsRecordAtTheCount) {
    const table t = built_in();
    const std::vector<int> starts = record_starts(t);
    // The record of '!' replaced by -1: the next integer is the count of '"'.
    table patched(t.begin(), t.begin() + starts['!']);
    patched.push_back(-1);
    patched.insert(patched.end(), t.begin() + starts['"'], t.end());
    std::vector<int> counts;
    std::vector<double> widths;
    walk_font_table(patched, [&](int code, int polygons, const glyph_record& g) {
        counts.push_back(polygons);
        widths.push_back(g.width);
        EXPECT_EQ(code, first_glyph_code + static_cast<int>(counts.size()) - 1);
    });
    ASSERT_EQ(counts.size(), 106u);
    EXPECT_EQ(counts[1], -1);
    EXPECT_EQ(widths[1], 0.0);
    EXPECT_DOUBLE_EQ(widths[2], f3dWidth('"'));
    EXPECT_DOUBLE_EQ(widths[105], f3dWidth(137));
}

TEST(FontMetrics, WidthsAndHeightsOfTexts) {
    EXPECT_DOUBLE_EQ(f3dWidth(' '), 0.89);
    EXPECT_DOUBLE_EQ(f3dHeight(' '), 2.84);
    EXPECT_DOUBLE_EQ(f3dWidth(129), 1.66);
    EXPECT_DOUBLE_EQ(f3dHeight(129), 2.28);
    for (int ch = 0; ch < 256; ++ch) {
        if (ch < first_glyph_code || ch > last_glyph_code) {
            EXPECT_EQ(f3dWidth(static_cast<unsigned char>(ch)), 0.0) << ch;
            EXPECT_EQ(f3dHeight(static_cast<unsigned char>(ch)), 0.0) << ch;
        }
    }
    EXPECT_EQ(pixlen(""), 0.0);
    EXPECT_EQ(pixheight(""), 0.0);
    const std::string no_glyphs{'\x01', '\t', '\x1f', '\x8a', '\xc3', '\xff'};
    EXPECT_EQ(pixlen(no_glyphs), 0.0);
    EXPECT_EQ(pixheight(no_glyphs), 0.0);
    const std::string title{'\x80', '\x81', '\x82', '\x83', '\x84', '\x85',
                            '\x86', '\x87', '\x88', '\x89', '\x86'};
    EXPECT_DOUBLE_EQ(pixheight(title), 2.28);
    EXPECT_DOUBLE_EQ(pixheight(title + "K"), 2.84);
    EXPECT_DOUBLE_EQ(pixheight("K" + title), 2.84);
    EXPECT_DOUBLE_EQ(pixlen(" \x81 "), 0.89 + 1.66 + 0.89);
}

}  // namespace
