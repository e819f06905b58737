// Text drawn in a real OpenGL context (run under a virtual display) and read back: the font's
// shapes against FreeType's own rasterisation of the source font, centring, the solid glyphs'
// depth, and the screens that are mostly text.
//
// With KULIMBARA_KEEP_SHOTS set, the screens' pictures stay in the test's scratch folder,
// whose path the test prints.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "font.h"
#include "font_table.h"
#include "gl.h"
#include "glyphs.h"
#include "levels.h"
#include "quality_cfg.h"
#include "scene.h"
#include "text.h"

namespace {

constexpr int window_w = 1024;
constexpr int window_h = 576;
constexpr const char* source_font = KULIMBARA_FONT;  // the font the outline table comes from

std::string scratch;  // the test's own folder, made at start

struct image {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;  // bottom row first, as GL reads
    const unsigned char* at(int x, int y) const { return &rgb[(std::size_t(y) * w + x) * 3]; }
};

image read_back() {
    image shot{window_w, window_h,
               std::vector<unsigned char>(std::size_t(window_w) * window_h * 3)};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, window_w, window_h, GL_RGB, GL_UNSIGNED_BYTE, shot.rgb.data());
    return shot;
}

void save(const image& shot, const std::string& name) {
    const std::string path = scratch + "/" + name + ".ppm";
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << path;
    std::fprintf(out, "P6\n%d %d\n255\n", shot.w, shot.h);
    for (int y = shot.h - 1; y >= 0; --y) {
        std::fwrite(shot.at(0, y), 3, shot.w, out);
    }
    std::fclose(out);
}

// Pixel-exact frame: one unit a pixel, origin at the bottom left, unlit, unfogged.
void pixel_frame() {
    glViewport(0, 0, window_w, window_h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, window_w, 0, window_h, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void restore_state() {
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// Lit pixels of a read-back picture (any channel above half).
std::vector<bool> ink(const image& shot) {
    std::vector<bool> lit(std::size_t(shot.w) * shot.h);
    for (int y = 0; y < shot.h; ++y) {
        for (int x = 0; x < shot.w; ++x) {
            const unsigned char* p = shot.at(x, y);
            lit[std::size_t(y) * shot.w + x] = std::max({p[0], p[1], p[2]}) > 127;
        }
    }
    return lit;
}

struct box {
    int left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;
    long count = 0;
};

box ink_box(const std::vector<bool>& lit, int w) {
    box b;
    for (std::size_t i = 0; i < lit.size(); ++i) {
        if (lit[i]) {
            const int x = int(i % w), y = int(i / w);
            b.left = std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.bottom = std::min(b.bottom, y);
            b.top = std::max(b.top, y);
            ++b.count;
        }
    }
    return b;
}

// The extreme x and z of a glyph's points in the built-in table, table units.
struct glyph_extent {
    double min_x = 1e9, max_x = -1e9, min_z = 1e9, max_z = -1e9;
};

glyph_extent table_extent(unsigned char code) {
    glyph_extent e;
    walk_font_table({acme_chartable, acme_chartable_size},
                    [&](int c, int, const glyph_record& record) {
                        if (c != code) {
                            return;
                        }
                        for (const auto& contour : record.contours) {
                            for (const point& p : contour) {
                                e.min_x = std::min(e.min_x, p.xyz[0]);
                                e.max_x = std::max(e.max_x, p.xyz[0]);
                                e.min_z = std::min(e.min_z, p.xyz[2]);
                                e.max_z = std::max(e.max_z, p.xyz[2]);
                            }
                        }
                    });
    return e;
}

class Text : public ::testing::Test {
  protected:
    void TearDown() override {
        restore_state();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
};

// FreeType's picture of `word` in the source font, laid out as our text call lays it out:
// `scale` pixels to a model unit, the box's top edge at `top`, the pen starting at `left`.
// The font's size follows from the table's advances; its baseline from the foot of the 'H'.
std::vector<bool> freetype_word(const std::string& word, double left, double top, double scale) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    EXPECT_EQ(FT_Init_FreeType(&library), 0);
    EXPECT_EQ(FT_New_Face(library, source_font, 0, &face), 0) << source_font;
    std::vector<bool> lit(std::size_t(window_w) * window_h);
    if (face == nullptr) {
        FT_Done_FreeType(library);
        return lit;
    }
    double font_units = 0.0;
    for (const char c : word) {
        FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_NO_SCALE);
        font_units += static_cast<double>(face->glyph->advance.x);
    }
    const double table_units_per_font_unit = pixlen(word) * 100.0 / font_units;
    const double pixels_per_font_unit = table_units_per_font_unit * scale / 100.0;
    FT_Set_Char_Size(face, 0, std::lround(face->units_per_EM * pixels_per_font_unit * 64), 72, 72);
    const double baseline = top - table_extent('H').max_z * scale / 100.0;

    std::vector<unsigned char> coverage(lit.size());
    double pen = left;
    for (const char c : word) {
        FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_RENDER | FT_LOAD_NO_HINTING);
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bitmap = g->bitmap;
        const int x0 = static_cast<int>(std::lround(pen)) + g->bitmap_left;
        const int y0 = static_cast<int>(std::lround(baseline)) + g->bitmap_top;  // top row
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int x = x0 + int(col), y = y0 - 1 - int(row);
                if (x >= 0 && x < window_w && y >= 0 && y < window_h) {
                    unsigned char& cov = coverage[std::size_t(y) * window_w + x];
                    cov = std::max(cov, bitmap.buffer[row * bitmap.pitch + col]);
                }
            }
        }
        pen += static_cast<double>(g->linearHoriAdvance) / 65536.0;
    }
    for (std::size_t i = 0; i < lit.size(); ++i) {
        lit[i] = coverage[i] > 127;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return lit;
}

TEST_F(Text, AFlatWordCoversWhatFreeTypeDrawsOfTheSourceFont) {
    const struct {
        const char* word;
        double scale;
    } cases[] = {{"Kulimbara", 60.0}, {"Balls left: 80", 40.0}, {"Q&A @ gate 90%", 36.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        pixel_frame();  // culling stays on: a face wound the wrong way would vanish
        const double cx = window_w / 2.0, cy = window_h / 2.0;
        vectorText2DAt2d4f(c.word, cx, cy, c.scale, 1, 1, 1, 1, 90.0f);
        const std::vector<bool> ours = ink(read_back());
        const std::vector<bool> theirs =
            freetype_word(c.word, cx - pixlen(c.word) * c.scale / 2,
                          cy + pixheight(c.word) * c.scale / 2, c.scale);
        long both = 0, either = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            both += ours[i] && theirs[i];
            either += ours[i] || theirs[i];
        }
        ASSERT_GT(either, 0);
        EXPECT_GE(static_cast<double>(both) / static_cast<double>(either), 0.9)
            << both << " of " << either << " pixels in common";
    }
}

TEST_F(Text, TextIsCentredOnItsPointToAPixel) {
    // The ink's margins are the box's, less the first glyph's left bearing and the last one's
    // right bearing, which the table gives.
    for (const char* text : {"HOH", "Level 5", "PLAY!"}) {
        SCOPED_TRACE(text);
        const std::string s = text;
        constexpr double scale = 50.0;
        pixel_frame();
        vectorText2DAt2d4f(s, window_w / 2.0, window_h / 2.0, scale, 1, 1, 1, 1, 90.0f);
        const box b = ink_box(ink(read_back()), window_w);
        const glyph_extent first = table_extent(s.front());
        const glyph_extent last = table_extent(s.back());
        const double half = pixlen(s) * scale / 2;
        const double left_margin = window_w / 2.0 - half + first.min_x * scale / 100;
        const double right_margin = window_w / 2.0 - half +
                                    (pixlen(s) - f3dWidth(s.back())) * scale +
                                    last.max_x * scale / 100;
        EXPECT_NEAR(b.left, left_margin, 1.0);
        EXPECT_NEAR(b.right + 1, right_margin, 1.0);
        // The box's top edge lies scale × height / 2 above the point.
        const double top = window_h / 2.0 + pixheight(s) * scale / 2;
        double min_z = 1e9;
        for (const char c : s) {
            min_z = std::min(min_z, table_extent(c).min_z);
        }
        EXPECT_NEAR(b.top + 1, top - min_z * scale / 100, 1.0);
    }
}

// Text that stands upright facing +z, seen from its left end: the depth of the glyphs shows
// as the width of their picture.
image side_view(const std::function<void()>& draw) {
    pixel_frame();
    glTranslated(window_w / 2.0, 0, 0);
    glRotated(90, 0, 1, 0);  // the text's +z now points to screen +x, its +x away
    draw();
    return read_back();
}

TEST_F(Text, SolidGlyphsHaveWallsAQuarterUnitDeepAndFlatOnesNone) {
    constexpr double scale = 80.0;
    const image solid =
        side_view([] { vectorText3DAt2d4f("IHI", 0, window_h / 2.0, scale, 1, 1, 1, 1, 90.0f); });
    const box b = ink_box(ink(solid), window_w);
    ASSERT_GT(b.count, 0) << "no walls seen from the side";
    EXPECT_NEAR(b.right - b.left + 1, glyph_depth * scale, 1.0);
    EXPECT_NEAR(b.right + 1, window_w / 2.0, 1.0);  // the face in front, the walls behind it
    const image flat =
        side_view([] { vectorText2DAt2d4f("IHI", 0, window_h / 2.0, scale, 1, 1, 1, 1, 90.0f); });
    EXPECT_LE(ink_box(ink(flat), window_w).count, window_h);  // at most an edge-on line
}

TEST_F(Text, BackFacesShowFromBehindOnlyWhenAskedFor) {
    long seen[2] = {0, 0};
    for (const bool back : {false, true}) {
        pixel_frame();
        glTranslated(window_w / 2.0, window_h / 2.0, 0);
        glRotated(180, 0, 1, 0);  // seen from behind
        vectorText3DAt2d4f("HOH", 0, 0, 60.0, 1, 1, 1, 1, 90.0f, back);
        seen[back] = ink_box(ink(read_back()), window_w).count;
    }
    EXPECT_LT(seen[false], seen[true] / 20);
    EXPECT_GT(seen[true], 2000);
}

TEST_F(Text, EmptyTextsAndCodesWithoutGlyphsDrawNothing) {
    for (const std::string& text : {std::string(), std::string("\x01\x1f\x8a\xff", 4)}) {
        EXPECT_EQ(pixlen(text), 0.0);
        EXPECT_EQ(pixheight(text), 0.0);
        pixel_frame();
        GLint depth_before = 0, depth_after = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_before);
        vectorText3DAt2d4f(text, window_w / 2.0, window_h / 2.0, 50.0, 1, 1, 1, 1, 90.0f, true);
        vectorText2DAt2d4f(text, window_w / 2.0, window_h / 2.0, 50.0, 1, 1, 1, 1, 90.0f);
        outlineTextAt2d4f(text, window_w / 2.0, window_h / 2.0, 50.0, 1, 1, 1, 1, 90.0f, true);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_after);
        EXPECT_EQ(depth_after, depth_before);
        EXPECT_EQ(ink_box(ink(read_back()), window_w).count, 0);
        EXPECT_FALSE(glIsEnabled(GL_LINE_SMOOTH));
    }
    // A space moves the pen and draws nothing.
    EXPECT_DOUBLE_EQ(f3dWidth(' '), 0.89);
    EXPECT_EQ(f3dWidth(0x8a), 0.0);
}

TEST(Glyphs, ATessellatorErrorIsReportedAndTheGlyphKeepsItsMetrics) {
    glyph_record record;
    record.width = 1.5;
    record.height = 2.84;
    // Beyond what GLU accepts as a coordinate.
    record.contours.push_back({{{0, 0, 0}}, {{1e200, 0, 0}}, {{0, 0, 50}}, {{0, 0, 0}}});
    testing::internal::CaptureStderr();
    const glCharacter glyph = createCharacter(200, record);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.rfind("kulimbara: cannot build glyph 200: ", 0), 0u) << message;
    EXPECT_NE(message.find(reinterpret_cast<const char*>(gluErrorString(GLU_TESS_COORD_TOO_LARGE))),
              std::string::npos)
        << message;
    EXPECT_EQ(glyph.width, 1.5);
    EXPECT_EQ(glyph.height, 2.84);
}

// The camera of the game at the aspect of a wide screen.
void game_frame() {
    glViewport(0, 0, window_w, window_h);
    set_projection(window_w, window_h);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    load_camera(0, 0, 0);
}

struct colour_count {
    long red = 0, green = 0, yellow = 0, white = 0;
};

colour_count count_colours(const image& shot) {
    colour_count n;
    for (int y = 0; y < shot.h; ++y) {
        for (int x = 0; x < shot.w; ++x) {
            const int r = shot.at(x, y)[0], g = shot.at(x, y)[1], b = shot.at(x, y)[2];
            // The end screen stays fogged, so its colours are dim.
            n.red += r > 60 && g < r / 4 && b < r / 4;
            n.green += g > 60 && r < g / 4 && b < g / 4;
            n.yellow += r > 60 && g > 60 && std::abs(r - g) < r / 4 && b < r / 3;
            n.white += r > 60 && std::abs(r - g) < 20 && std::abs(r - b) < 20;
        }
    }
    return n;
}

class Screens : public Text {
  protected:
    quality_cfg_t quality = quality_cfg_init();
    tt_state texts;
    scene renderer;
    std::unique_ptr<level_t> level = load_level(5);

    void SetUp() override { renderer.init_scene(*level, quality, texts); }

    image draw(int state, const final_screen_t& screen, const std::string& name) {
        level->scene_step = state;
        level->total_time = screen.total_time;
        game_frame();
        renderer.draw_scene(screen);
        const image shot = read_back();
        save(shot, name);
        return shot;
    }
};

// At this time the blinking lines are at their brightest.
constexpr double bright_time = 3.14159265358979 / 16;

TEST_F(Screens, LevelCompletedShowsItsRedBannerAndWhitePrompt) {
    final_screen_t none;
    none.total_time = bright_time;
    const colour_count banner = count_colours(draw(state_level_completed, none, "level_completed"));
    const colour_count play = count_colours(draw(state_play, none, "play"));
    EXPECT_GT(banner.red, play.red + 5000);
    EXPECT_GT(banner.white, play.white + 1000);
}

TEST_F(Screens, BothEndScreensShowTheScoreTheNameAndTheirLines) {
    final_screen_t typing{true, false, 1230, "ada_", bright_time};
    final_screen_t posted{false, true, 1230, "ada", bright_time};
    final_screen_t failed{false, false, 1230, "ada", bright_time};
    final_screen_t empty{true, false, 1230, "_", bright_time};
    const colour_count n_typing = count_colours(draw(state_name_entry, typing, "name_entry"));
    const colour_count n_posted = count_colours(draw(state_score_posted, posted, "posted"));
    const colour_count n_failed = count_colours(draw(state_score_posted, failed, "post_failed"));
    const colour_count n_empty = count_colours(draw(state_name_entry, empty, "name_entry_empty"));
    for (const colour_count& n : {n_typing, n_posted, n_failed}) {
        EXPECT_GT(n.red, 10000);    // "Game over!"
        EXPECT_GT(n.yellow, 3000);  // the score
        EXPECT_GT(n.green, 3000);   // the name
        EXPECT_GT(n.white, 300);    // the prompt
    }
    EXPECT_GT(n_typing.green, n_empty.green * 2);       // the name, not the cursor alone
    EXPECT_GT(n_typing.white, n_posted.white);          // the two-line prompt
    EXPECT_GT(n_posted.yellow, n_failed.yellow + 200);  // the longer line of success
    EXPECT_GT(n_failed.yellow, n_typing.yellow + 200);  // a result line at all
}

// Mesa unloads its driver at exit, before a leak checker looks at the context that GLUT never
// tears down; kept loaded, the driver's allocations can be told apart (tests/lsan_gl.supp).
void keep_gl_driver_loaded() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("_dri.so") != std::string::npos) {
                dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string folder = std::filesystem::temp_directory_path() / "kulimbara-text-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    scratch = folder;
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(window_w, window_h);
    glutCreateWindow("text tests");
    init_gl_state();
    fontInit();
    keep_gl_driver_loaded();
    const int result = RUN_ALL_TESTS();
    if (std::getenv("KULIMBARA_KEEP_SHOTS") != nullptr) {
        std::printf("pictures kept in %s\n", scratch.c_str());
    } else {
        std::filesystem::remove_all(scratch);
    }
    return result;
}
