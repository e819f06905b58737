// SPDX-License-Identifier: MIT
// The vector font without OpenGL: reading the outline table and the glyphs' metrics. The
// renderer builds its display lists from the same walk of the table.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

constexpr int first_glyph_code = 32;
constexpr int last_glyph_code = 137;

// A table point (x, z) becomes (x, 0, z), in table units.
struct point {
    double xyz[3];
};

// One record of the table, read.
struct glyph_record {
    double width = 0.0;  // model units (box × 0.01)
    double height = 0.0;
    std::vector<std::vector<point>> contours;  // each closed by its repeated first point
};

// Reads one record body (the box and the contours) of `polygons` polygons starting at `index`
// and moves `index` past it. Never reads past the end of the table: a malformed table throws
// std::runtime_error.
glyph_record read_glyph_record(std::span<const std::int32_t> font_table, int& index, int polygons);

// Walks the table as the font builder does: calls visit(code, polygons, record) for the codes
// 32 to 137 in order (polygons == -1: no record, and the record passed is empty). A malformed
// table throws std::runtime_error naming the code.
void walk_font_table(std::span<const std::int32_t> font_table,
                     const std::function<void(int code, int polygons, const glyph_record&)>& visit);

// Metrics of the built-in table in model units; 0.0 for codes outside 32 to 137.
double f3dWidth(unsigned char ch);
double f3dHeight(unsigned char ch);

// The sum of the widths of a text's bytes, and the largest of their heights (0.0 when empty).
double pixlen(std::string_view text);
double pixheight(std::string_view text);
