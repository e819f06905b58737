// SPDX-License-Identifier: MIT
// Colour statistics of 8-bit binary PPM screenshots for the end-to-end test:
//   shot-stats SHOT.ppm            one "class fraction" line per colour class of the game's
//                                  palette, and white and blue-green for its texts
//   shot-stats --diff A.ppm B.ppm [LEVEL]  "differ fraction": pixels that changed between two
//                                  shots by more than LEVEL of 255 (16 when not given) in a channel
//   shot-stats --ink SHOT.ppm      "ink LEFT RIGHT WIDTH": the first and last columns that hold
//                                  anything brighter than the black background
// A shadow hides the bright one of the desk's two lights, halving its blue; as the lit desk
// darkens with distance, shadow is desk blue below 70% of the brightest of its pixel row.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct rgb {
    int r, g, b;
};

struct image {
    int width = 0, height = 0;
    std::vector<rgb> pixels;  // row by row
};

image read_ppm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int max_value = 0;
    image shot;
    in >> magic >> shot.width >> shot.height >> max_value;
    in.get();  // the single white-space character that ends the header
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (!in || magic != "P6" || max_value != 255 || shot.width <= 0 || shot.height <= 0 ||
        bytes.size() < 3ul * shot.width * shot.height) {
        std::fprintf(stderr, "shot-stats: %s: not a whole 8-bit binary PPM (P6)\n", path.c_str());
        std::exit(EXIT_FAILURE);
    }
    for (std::size_t i = 0; i < 3ul * shot.width * shot.height; i += 3) {
        shot.pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    }
    return shot;
}

// Green at least red keeps out the purple of the translucent red gates over the desk.
bool is_desk_blue(rgb p) {
    return p.b >= 24 && p.b > p.g + 12 && p.g >= p.r;
}

constexpr const char* class_names[] = {"blue", "shadow", "yellow", "red", "white", "cyan", "black"};
enum { blue, shadow, yellow, red, white, cyan, black, no_class };

int colour_class(rgb p) {  // the other classes, which do not overlap
    const int low = std::min({p.r, p.g, p.b}), high = std::max({p.r, p.g, p.b});
    if (p.r >= 40 && p.g >= 40 && std::abs(p.r - p.g) < p.r / 4 && p.b < p.r / 3) {
        return yellow;
    }
    if (p.r >= 40 && p.g < p.r / 4 && p.b < p.r / 4) {
        return red;
    }
    if (low >= 70 && high - low < 40) {
        return white;  // grey as well: the pause banner is drawn fogged
    }
    // The countdown numbers and gate points, bluer than green but far less so than the desk.
    if (p.g >= 40 && p.g * 10 >= p.r * 16 && p.b > p.g && p.b * 10 < p.g * 14) {
        return cyan;
    }
    return high < 16 ? black : no_class;
}

void print_classes(const image& shot) {
    long counts[no_class + 1] = {};
    for (auto row = shot.pixels.begin(); row != shot.pixels.end(); row += shot.width) {
        int lit_blue = 0;
        for (auto p = row; p != row + shot.width; ++p) {
            lit_blue = is_desk_blue(*p) ? std::max(lit_blue, p->b) : lit_blue;
        }
        for (auto p = row; p != row + shot.width; ++p) {
            counts[blue] += is_desk_blue(*p);
            counts[shadow] += is_desk_blue(*p) && p->b * 10 < lit_blue * 7;
            ++counts[colour_class(*p)];
        }
    }
    for (int c = blue; c < no_class; ++c) {
        std::printf("%s %.6f\n", class_names[c],
                    counts[c] / static_cast<double>(shot.pixels.size()));
    }
}

void print_difference(const image& a, const image& b, int level) {
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "shot-stats: the two shots differ in size\n");
        std::exit(EXIT_FAILURE);
    }
    long changed = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const rgb p = a.pixels[i], q = b.pixels[i];
        changed += std::abs(p.r - q.r) > level || std::abs(p.g - q.g) > level ||
                   std::abs(p.b - q.b) > level;
    }
    std::printf("differ %.6f\n", changed / static_cast<double>(a.pixels.size()));
}

void print_ink(const image& shot) {
    int left = shot.width;
    int right = -1;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const rgb p = shot.pixels[static_cast<std::size_t>(y) * shot.width + x];
            if (std::max({p.r, p.g, p.b}) > 24) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    std::printf("ink %d %d %d\n", left, right, shot.width);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) {
        print_classes(read_ppm(argv[1]));
    } else if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--diff") {
        print_difference(read_ppm(argv[2]), read_ppm(argv[3]), argc == 5 ? std::atoi(argv[4]) : 16);
    } else if (argc == 3 && std::string(argv[1]) == "--ink") {
        print_ink(read_ppm(argv[2]));
    } else {
        std::fprintf(stderr,
                     "usage: shot-stats SHOT.ppm | shot-stats --diff A.ppm B.ppm [LEVEL] | "
                     "shot-stats --ink SHOT.ppm\n");
        return 2;
    }
    return 0;
}
