// SPDX-License-Identifier: MIT
#include "font.h"

#include <array>
#include <stdexcept>
#include <string>

#include "font_table.h"

namespace {

constexpr int box_integers = 9;

[[noreturn]] void malformed(int index, const std::string& what) {
    throw std::runtime_error("font table: " + what + " at integer " + std::to_string(index));
}

struct glyph_metrics {
    double width = 0.0;
    double height = 0.0;
};

// Built on first use from the built-in table; codes without a glyph stay at zero.
const std::array<glyph_metrics, 256>& metrics() {
    static const std::array<glyph_metrics, 256> table = [] {
        std::array<glyph_metrics, 256> m{};
        walk_font_table(std::span(acme_chartable, acme_chartable_size),
                        [&m](int code, int, const glyph_record& record) {
                            m[code] = {record.width, record.height};
                        });
        return m;
    }();
    return table;
}

}  // namespace

glyph_record read_glyph_record(std::span<const std::int32_t> font_table, int& index, int polygons) {
    // Sizes are compared in 64 bits so that a corrupt count cannot overflow the bound.
    const auto remaining = [&](int at) {
        return static_cast<std::int64_t>(font_table.size()) - at;
    };
    glyph_record record;
    if (polygons < 0) {
        malformed(index - 1, "negative polygon count " + std::to_string(polygons));
    }
    if (index < 0) {
        malformed(index, "negative position");
    }
    for (int k = 0; k < polygons; ++k) {
        if (k == 0) {
            if (remaining(index) < box_integers) {
                malformed(index, "advance box past the end of the table");
            }
            record.width = (font_table[index + 3] - font_table[index + 1]) * 0.01;
            record.height = (font_table[index + 6] - font_table[index + 4]) * 0.01;
            index += box_integers;
            continue;
        }
        if (remaining(index) < 1) {
            malformed(index, "contour past the end of the table");
        }
        const int n = font_table[index];
        if (n < 0 || remaining(index + 1) < 2 * static_cast<std::int64_t>(n)) {
            malformed(index,
                      "contour of " + std::to_string(n) + " points past the end of the table");
        }
        index += 1;
        std::vector<point> points;
        points.reserve(static_cast<std::size_t>(n));
        for (int p = 0; p < n; ++p) {
            points.push_back({{static_cast<double>(font_table[index]), 0.0,
                               static_cast<double>(font_table[index + 1])}});
            index += 2;
        }
        if (!points.empty()) {
            record.contours.push_back(std::move(points));
        }
    }
    return record;
}

void walk_font_table(
    std::span<const std::int32_t> font_table,
    const std::function<void(int code, int polygons, const glyph_record&)>& visit) {
    int index = 0;
    for (int code = first_glyph_code; code <= last_glyph_code; ++code) {
        try {
            if (static_cast<std::size_t>(index) >= font_table.size()) {
                malformed(index, "polygon count past the end of the table");
            }
            const int polygons = font_table[index];
            index += 1;
            if (polygons == -1) {
                visit(code, polygons, glyph_record{});
            } else {
                visit(code, polygons, read_glyph_record(font_table, index, polygons));
            }
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("glyph " + std::to_string(code) + ": " + e.what());
        }
    }
}

double f3dWidth(unsigned char ch) {
    return metrics()[ch].width;
}

double f3dHeight(unsigned char ch) {
    return metrics()[ch].height;
}

double pixlen(std::string_view text) {
    double length = 0.0;
    for (const char c : text) {
        length += f3dWidth(static_cast<unsigned char>(c));
    }
    return length;
}

double pixheight(std::string_view text) {
    double height = 0.0;
    for (const char c : text) {
        const double h = f3dHeight(static_cast<unsigned char>(c));
        if (h > height) {
            height = h;
        }
    }
    return height;
}
