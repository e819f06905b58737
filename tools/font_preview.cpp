// SPDX-License-Identifier: MIT
// Draws the built-in font as an ImageMagick vector picture, for judging the outlines by eye:
//
//   font-preview OUTPUT.mvg [PIXELS_PER_TABLE_UNIT]     (default 1.0)
//   convert mvg:OUTPUT.mvg OUTPUT.png
//
// Rows: the intro title, every ordinary glyph, and sample lines, each on a tinted band as
// high as its glyphs' box. Faces are filled with the even-odd rule, as the tessellator fills
// them.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "font.h"
#include "font_table.h"

namespace {

std::vector<glyph_record> read_all() {
    std::vector<glyph_record> glyphs(last_glyph_code + 1);
    walk_font_table(
        std::span(acme_chartable, acme_chartable_size),
        [&glyphs](int code, int, const glyph_record& record) { glyphs[code] = record; });
    return glyphs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: font-preview OUTPUT.mvg [PIXELS_PER_TABLE_UNIT]\n";
        return 2;
    }
    const double px = argc == 3 ? std::atof(argv[2]) : 1.0;
    if (!(px > 0.0)) {
        std::cerr << "font-preview: the scale must be a positive number\n";
        return 2;
    }
    const std::vector<glyph_record> glyphs = read_all();

    std::string title = "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x86";
    std::vector<std::string> rows{title};
    std::string ascii;
    for (int code = 33; code <= 127; ++code) {
        ascii += static_cast<char>(code);
        if (ascii.size() == 32) {
            rows.push_back(ascii);
            ascii.clear();
        }
    }
    rows.push_back(ascii);
    rows.push_back("Kulimbara: Press ENTER to start!");
    rows.push_back("Your goal is to balance the desk by");
    rows.push_back("Balls left: 3   Score: 1290   jqpgy");

    double width = 0.0;
    for (const std::string& row : rows) {
        width = std::max(width, pixlen(row) * 100.0);
    }
    const double margin = 30.0;
    double height = margin;
    for (const std::string& row : rows) {
        height += pixheight(row) * 100.0 + margin;
    }

    std::ofstream mvg(argv[1]);
    mvg << "viewbox 0 0 " << (width + 2 * margin) * px << ' ' << height * px << "\n"
        << "fill white rectangle 0,0 " << (width + 2 * margin) * px << ',' << height * px
        << "\nfill-rule evenodd\nscale " << px << ',' << px << "\n";
    double top = margin;
    for (const std::string& row : rows) {
        double pen = margin;
        const double row_height = pixheight(row) * 100.0;
        mvg << "fill '#e4e8ff' rectangle " << margin << ',' << top << ' '
            << margin + pixlen(row) * 100.0 << ',' << top + row_height << "\nfill black\n";
        for (const char c : row) {
            const auto code = static_cast<unsigned char>(c);
            if (code < first_glyph_code || code > last_glyph_code) {
                continue;
            }
            const glyph_record& g = glyphs[code];
            if (!g.contours.empty()) {
                mvg << "path '";
                for (const std::vector<point>& contour : g.contours) {
                    for (std::size_t k = 0; k < contour.size(); ++k) {
                        mvg << (k == 0 ? 'M' : 'L') << pen + contour[k].xyz[0] << ','
                            << top + contour[k].xyz[2] << ' ';
                    }
                    mvg << "Z ";
                }
                mvg << "'\n";
            }
            pen += g.width * 100.0;
        }
        top += row_height + margin;
    }
    if (!mvg) {
        std::cerr << "font-preview: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
