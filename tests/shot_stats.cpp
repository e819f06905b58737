// Colour statistics of a screenshot for the end-to-end test.
//
//   shot-stats SHOT.ppm          one "class fraction" line per colour class
//   shot-stats --diff A.ppm B.ppm  "differ fraction": pixels that changed between two shots
//
// Reads binary PPM (P6) with 8- or 16-bit samples. The classes follow the game's palette: a
// blue desk on a black background, yellow blocks, red balls; and for texts that nothing else
// of the scene shows, white (the ball counter, the prompts, the pause banner) and blue-green
// (the countdown). The desk is lit by a bright light and a dim one; where a block or ball
// hides the bright light only the dim one remains, so a shadow is desk blue at about half the
// brightness of the lit desk beside it. The lit desk also darkens with distance, so a shadow
// is desk blue below 70% of the brightest desk blue of its own pixel row rather than below
// one fixed level.
#include <algorithm>
#include <cstddef>
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
    int width = 0;
    int height = 0;
    std::vector<rgb> pixels;  // row by row, samples scaled to 0..255
};

[[noreturn]] void fail(const std::string& path, const char* why) {
    std::fprintf(stderr, "shot-stats: %s: %s\n", path.c_str(), why);
    std::exit(EXIT_FAILURE);
}

image read_ppm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int max_value = 0;
    image shot;
    if (!(in >> magic >> shot.width >> shot.height >> max_value) || magic != "P6") {
        fail(path, "not a binary PPM (P6) file");
    }
    if (shot.width <= 0 || shot.height <= 0 || max_value <= 0 || max_value > 65535) {
        fail(path, "bad PPM header");
    }
    in.get();  // the single white-space character that ends the header
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const std::size_t sample_bytes = max_value > 255 ? 2 : 1;
    const std::size_t count = static_cast<std::size_t>(shot.width) * shot.height;
    if (bytes.size() < count * 3 * sample_bytes) {
        fail(path, "pixel data is shorter than the header says");
    }
    auto sample = [&](std::size_t i) {
        const int raw = sample_bytes == 2 ? bytes[2 * i] * 256 + bytes[2 * i + 1] : bytes[i];
        return raw * 255 / max_value;
    };
    shot.pixels.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        shot.pixels.push_back({sample(3 * i), sample(3 * i + 1), sample(3 * i + 2)});
    }
    return shot;
}

// Green at least red keeps out the purple of the translucent red gates over the desk.
bool is_desk_blue(rgb p) {
    return p.b >= 24 && p.b > p.g + 12 && p.g >= p.r;
}
bool is_yellow(rgb p) {
    return p.r >= 40 && p.g >= 40 && std::abs(p.r - p.g) < p.r / 4 && p.b < p.r / 3;
}
bool is_red(rgb p) {
    return p.r >= 40 && p.g < p.r / 4 && p.b < p.r / 4;
}
// The blue-green of the countdown numbers and gate points, bluer than green but far less so
// than the desk.
bool is_cyan(rgb p) {
    return p.g >= 40 && p.g * 10 >= p.r * 16 && p.b > p.g && p.b * 10 < p.g * 14;
}
// Grey as well: the pause banner is drawn fogged.
bool is_white(rgb p) {
    const int low = std::min({p.r, p.g, p.b});
    return low >= 70 && std::max({p.r, p.g, p.b}) - low < 40;
}
bool is_black(rgb p) {
    return p.r < 16 && p.g < 16 && p.b < 16;
}

void print_classes(const image& shot) {
    long blue = 0, shadow = 0, yellow = 0, red = 0, white = 0, cyan = 0, black = 0;
    for (int y = 0; y < shot.height; ++y) {
        const rgb* row = &shot.pixels[static_cast<std::size_t>(y) * shot.width];
        int lit_blue = 0;
        for (int x = 0; x < shot.width; ++x) {
            if (is_desk_blue(row[x]) && row[x].b > lit_blue) {
                lit_blue = row[x].b;
            }
        }
        for (int x = 0; x < shot.width; ++x) {
            const rgb p = row[x];
            if (is_desk_blue(p)) {
                ++blue;
                shadow += p.b * 10 < lit_blue * 7 ? 1 : 0;
            }
            yellow += is_yellow(p) ? 1 : 0;
            red += is_red(p) ? 1 : 0;
            white += is_white(p) ? 1 : 0;
            cyan += is_cyan(p) ? 1 : 0;
            black += is_black(p) ? 1 : 0;
        }
    }
    const double total = static_cast<double>(shot.pixels.size());
    std::printf(
        "blue %.6f\nshadow %.6f\nyellow %.6f\nred %.6f\nwhite %.6f\ncyan %.6f\nblack %.6f\n",
        blue / total, shadow / total, yellow / total, red / total, white / total, cyan / total,
        black / total);
}

void print_difference(const std::string& path_a, const std::string& path_b) {
    const image a = read_ppm(path_a);
    const image b = read_ppm(path_b);
    if (a.width != b.width || a.height != b.height) {
        fail(path_b, "size differs from the first image");
    }
    long changed = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const rgb p = a.pixels[i], q = b.pixels[i];
        changed += std::abs(p.r - q.r) > 16 || std::abs(p.g - q.g) > 16 || std::abs(p.b - q.b) > 16;
    }
    std::printf("differ %.6f\n", changed / static_cast<double>(a.pixels.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) {
        print_classes(read_ppm(argv[1]));
    } else if (argc == 4 && std::string(argv[1]) == "--diff") {
        print_difference(argv[2], argv[3]);
    } else {
        std::fprintf(stderr, "usage: shot-stats SHOT.ppm | shot-stats --diff A.ppm B.ppm\n");
        return 2;
    }
    return 0;
}
