// SPDX-License-Identifier: MIT
// The drawing read back on a virtual display: the desk, the balls, the shadows, the texts against
// FreeType's, and the text screens.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "font.h"
#include "font_table.h"
#include "gl.h"
#include "glyphs.h"
#include "level.h"
#include "levels.h"
#include "math_constants.h"
#include "physics.h"
#include "quality_cfg.h"
#include "scene.h"
#include "shell.h"
#include "text.h"

namespace {

constexpr int window_w = 1024;
constexpr int window_h = 576;

// The font of every drawing test; the tests' main builds it once the window exists.
glyph_set& test_glyphs() {
    static glyph_set glyphs;
    return glyphs;
}

// A block of the back buffer, bottom row first; a pixel is lit when a channel passes half.
struct image {
    int width = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int i) const { return &rgb[static_cast<std::size_t>(i) * 3]; }
    const unsigned char* at(int x, int y) const { return at(y * width + x); }
    int size() const { return static_cast<int>(rgb.size() / 3); }
    bool lit(int i) const { return std::max({at(i)[0], at(i)[1], at(i)[2]}) > 127; }
};

image read_back(int x = 0, int y = 0, int w = window_w, int h = window_h) {
    image shot{w, std::vector<unsigned char>(static_cast<std::size_t>(w) * h * 3)};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, shot.rgb.data());
    return shot;
}

// Straight down at the desk, `pixels_per_unit` to a unit from the bottom left; unlit, unculled.
void view_from_above(const level_t& level, int pixels_per_unit) {
    glViewport(0, 0, static_cast<int>(level.width) * pixels_per_unit,
               static_cast<int>(level.height) * pixels_per_unit);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-level.width / 2, level.width / 2, -level.height / 2, level.height / 2, -20, 20);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotated(90, 1, 0, 0);  // GL y up becomes the view direction; GL z runs down the screen
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// The game's camera over the whole window, before the first pass of a frame.
void game_view() {
    begin_frame(window_w, window_h);
    load_camera(0, 0, 0);
}

// A flat blue desk with nothing on it.
level_t plain_level(float width, float height) {
    level_t level;
    level.width = width;
    level.height = height;
    level.depth = 0.6f;
    level.desk_color = {0.24, 0.4, 0.84};
    level.gate_height = 2.0;
    return level;
}

// A scene to draw with; every test leaves the state it found and no OpenGL error.
class Render : public ::testing::Test {
  protected:
    quality_cfg_t quality = quality_cfg_init();
    tt_state texts;
    scene renderer{test_glyphs()};

    void TearDown() override {
        glEnable(GL_LIGHTING);
        glEnable(GL_CULL_FACE);
        glViewport(0, 0, window_w, window_h);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
};

TEST_F(Render, DeskTopCoversTheDeskLessItsHoles) {
    constexpr int ppu = 8;  // level 0 is 72 units long
    for (int num = 0; num < levels_count; ++num) {
        SCOPED_TRACE(num);
        auto level = load_level(num);
        renderer.init_scene(*level, quality);
        view_from_above(*level, ppu);
        glCallList(renderer.desk_list());
        GLboolean edge_flag = GL_FALSE;  // the outlines that follow need every edge
        glGetBooleanv(GL_EDGE_FLAG, &edge_flag);
        EXPECT_TRUE(edge_flag);

        const image shot = read_back(0, 0, level->width * ppu, level->height * ppu);
        long covered = 0;
        for (int i = 0; i < shot.size(); ++i) {
            covered += shot.at(i)[2] > 100;
        }
        double expected = level->width * level->height;
        for (const hole_t& hole : level->holes) {
            expected -= pi * hole.size * hole.size / 4;
            EXPECT_EQ(shot.at((hole.pos.x + level->width / 2) * ppu,  // desk y runs down
                              (level->height / 2 - hole.pos.y) * ppu)[2],
                      0)
                << hole.pos.x;
        }
        EXPECT_NEAR(covered, expected * ppu * ppu, expected * ppu * ppu * 0.01);
    }
}

// The triangles that a list sends, counted through feedback mode (which splits polygons).
int triangles(GLuint list) {
    std::vector<GLfloat> buffer(1 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glCallList(list);
    const GLint used = glRenderMode(GL_RENDER);
    int count = 0;
    GLint i = 0;
    while (i < used && buffer[i] == GL_POLYGON_TOKEN) {
        const auto n = static_cast<int>(buffer[i + 1]);
        count += n - 2;
        i += 2 + 3 * n;
    }
    EXPECT_EQ(i, used) << "the list sends more than polygons";
    return count;
}

TEST_F(Render, AQualityDropRebuildsTheHolesWithFewerSegments) {
    auto level = load_level(1);
    renderer.init_scene(*level, quality);
    view_from_above(*level, 5);
    const int quads = 5 * 2;  // four sides and the top, and one polygon per hole rim
    EXPECT_EQ(triangles(renderer.desk_outline_list()), quads + level->holes_count() * (36 - 2));
    set_quality_decrease_level(quality, 1, [&](const quality_cfg_t&) {
        renderer.scene_update_constants();
        renderer.desk_calllist_create();
    });
    EXPECT_EQ(triangles(renderer.desk_outline_list()), quads + level->holes_count() * (18 - 2));
}

TEST_F(Render, WaitingBallsAreTranslucentAndLostOnesAreNotDrawn) {
    level_t level = plain_level(30, 10);
    const ball_state states[] = {ball_in_play, ball_waiting, ball_lost};
    const int reds[] = {255, 64, 0};
    for (int i = 0; i < 3; ++i) {
        level.balls.emplace_back().active = states[i];
        level.balls[i].pos = {-10.0 + 10.0 * i, 0.0, 1.0};
        level.balls[i].size = 2.0;
        level.balls[i].color = {1.0, 0.0, 0.0};
    }
    renderer.init_scene(level, quality);
    constexpr int ppu = 10;
    view_from_above(level, ppu);
    glEnable(GL_CULL_FACE);  // as in the game: only the near half of a ball blends
    renderer.draw_balls();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(read_back((5 + 10 * i) * ppu, 5 * ppu, 1, 1).at(0)[0], reds[i], 1) << i;
    }
}

TEST_F(Render, BlocksAndBallsCastStencilShadowsAwayFromTheLight) {
    level_t level = plain_level(40, 40);
    level.blocks.push_back({{0.0, 10.0}, {2.0, 2.0, 1.2}, 0.25, {1.0, 1.0, 0.0}});
    level.balls.emplace_back().active = ball_in_play;
    level.balls[0].pos = {-10.0, 10.0, 2.0};
    level.balls[0].size = 0.6;
    renderer.init_scene(level, quality);
    game_view();
    renderer.set_shadow_mask();

    // From the light 20 above the centre, the block's top edge (y = 11) falls on the desk top
    // (0.3 high) at 11 × 19.7 / 18.5 ≈ 11.71, the ball's centre at 19.7 / 18 of its place.
    const double points[][3] = {{0.0, 11.35, 1}, {0.0, 0.0, 0},   {0.0, 8.5, 0},
                                {0.0, 12.2, 0},  {3.0, 11.35, 0}, {-10.94, 10.94, 1},
                                {-10.94, 9.0, 0}};
    GLdouble model[16], projection[16], x = 0, y = 0, z = 0;
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (const auto& p : points) {
        gluProject(p[0], 0.3, p[1], model, projection, viewport, &x, &y, &z);  // GL y is up
        GLubyte stencil = 0;
        glReadPixels(std::lround(x), std::lround(y), 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE,
                     &stencil);
        EXPECT_EQ(stencil > 0, p[2] > 0) << p[0] << ", " << p[1];
    }
}

// Holes that cross each other or the desk's edge would need a combine callback, which the
// desk's tessellation does not offer.
TEST_F(Render, AnUncuttableDeskIsReportedWithGlusReasonAndNoListLeftOpen) {
    const std::string expected =
        std::string("cannot build the desk's holes: ") +
        reinterpret_cast<const char*>(gluErrorString(GLU_TESS_NEED_COMBINE_CALLBACK));
    const std::vector<hole_t> crossing = {{{0.0, 0.0}, 4.0}, {{1.0, 0.0}, 4.0}};
    const std::vector<hole_t> over_the_edge = {{{9.0, 0.0}, 4.0}};
    for (const std::vector<hole_t>& holes : {crossing, over_the_edge}) {
        level_t level = plain_level(20, 20);
        level.holes = holes;
        try {
            renderer.init_scene(level, quality);
            ADD_FAILURE() << "the desk was built";
        } catch (const desk_build_error& error) {
            EXPECT_EQ(error.what(), expected);
        }
        GLint open_list = -1;
        glGetIntegerv(GL_LIST_INDEX, &open_list);
        EXPECT_EQ(open_list, 0);
        // What was compiled is whole: the walls and sides, and the outline, which needs no
        // tessellation (the fixture checks that they raise no error).
        view_from_above(level, 8);
        glCallList(renderer.desk_list());
        glCallList(renderer.desk_outline_list());
    }
}

// Texts leave fog off and outlines lighting; a window shrunk to no height has no aspect.
TEST_F(Render, EveryFrameBeginsWithFogAndLightingOnAndAFiniteProjection) {
    glDisable(GL_FOG);
    glDisable(GL_LIGHTING);
    begin_frame(window_w, 0);
    EXPECT_TRUE(glIsEnabled(GL_FOG) && glIsEnabled(GL_LIGHTING));
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_TRUE(std::ranges::all_of(projection, [](GLdouble m) { return std::isfinite(m); }));
}

// At 4:3 and wider a frame keeps the plain 45° projection; narrower windows, portrait ones too,
// see as much across as a 4:3 window of their width, and every level's desk stays in the frame
// at either end of the player's tilt.
TEST_F(Render, NarrowWindowsSeeAsMuchAcrossAsAFourByThreeOne) {
    const auto projection_at = [](int w, int h) {
        begin_frame(w, h);
        std::array<GLdouble, 16> m{};
        glGetDoublev(GL_PROJECTION_MATRIX, m.data());
        return m;
    };
    for (const auto& [w, h] : {std::pair{1920, 1080}, {1024, 768}, {2560, 1080}}) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(45.0, static_cast<double>(w) / h, 1.0, 1000.0);
        std::array<GLdouble, 16> plain{};
        glGetDoublev(GL_PROJECTION_MATRIX, plain.data());
        EXPECT_EQ(projection_at(w, h), plain) << w << "x" << h;
    }
    const double across = projection_at(1024, 768)[0];  // the horizontal half-angle's cotangent
    for (const auto& [w, h] : {std::pair{1280, 1024}, {1024, 1280}, {600, 1000}}) {
        EXPECT_NEAR(projection_at(w, h)[0], across, 1e-12) << w << "x" << h;
    }
    for (const auto& [w, h] : {std::pair{1280, 1024}, {1024, 1280}}) {
        for (int num = 0; num < levels_count; ++num) {
            const auto level = load_level(num);
            for (const double tilt :
                 {-physics_cfg_t{}.max_rotation_angle, physics_cfg_t{}.max_rotation_angle}) {
                begin_frame(w, h);
                load_camera(0, 0, 0);
                glRotated(level->rotation.x, 1, 0, 0);
                glRotated(tilt, 0, 0, 1);
                GLdouble model[16], projection[16];
                glGetDoublev(GL_MODELVIEW_MATRIX, model);
                glGetDoublev(GL_PROJECTION_MATRIX, projection);
                const GLint viewport[4] = {0, 0, w, h};
                for (const double sx : {-0.5, 0.5}) {
                    for (const double sz : {-0.5, 0.5}) {
                        GLdouble x = 0, y = 0, z = 0;
                        gluProject(sx * level->width, level->depth / 2.0, sz * level->height, model,
                                   projection, viewport, &x, &y, &z);
                        EXPECT_TRUE(x > 0 && x < w && y > 0 && y < h)
                            << w << "x" << h << " level " << num << " corner " << sx << ", " << sz
                            << " at " << x << ", " << y;
                    }
                }
            }
        }
    }
    glViewport(0, 0, window_w, window_h);
}

struct box {
    int left = window_w, right = -1;
    long count = 0;
};

box ink(const image& shot) {
    box b;
    for (int i = 0; i < shot.size(); ++i) {
        if (shot.lit(i)) {
            b.left = std::min(b.left, i % window_w);
            b.right = std::max(b.right, i % window_w);
            ++b.count;
        }
    }
    return b;
}

// One unit a pixel from the bottom left, unlit; culled, so a face wound wrongly vanishes.
void pixel_frame() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, window_w, 0, window_h, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

using Text = Render;

// Intersection over union of the lit pixels of `ours` and FreeType's `word` in the source
// font, laid out as ours: `scale` pixels to a unit from `left`, sized by the table's advances,
// the baseline at the foot of its 'H' below the box's top `top`.
double overlap_with_freetype(const image& ours, const std::string& word, double left, double top,
                             double scale) {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, KULIMBARA_FONT, 0, &face) != 0) {
        ADD_FAILURE() << "cannot open " << KULIMBARA_FONT;
        return 0.0;
    }
    double font_units = 0.0;
    for (const char c : word) {
        FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_NO_SCALE);
        font_units += static_cast<double>(face->glyph->advance.x);
    }
    const double pixels_per_font_unit = pixlen(word) * scale / font_units;
    FT_Set_Char_Size(face, 0, std::lround(face->units_per_EM * pixels_per_font_unit * 64), 72, 72);
    double foot_of_h = 0.0;  // table units
    walk_font_table({acme_chartable, acme_chartable_size}, [&](int c, int, const glyph_record& r) {
        for (const auto& contour : r.contours) {
            for (const point& p : contour) {
                foot_of_h = c == 'H' ? std::max(foot_of_h, p.xyz[2]) : foot_of_h;
            }
        }
    });
    const long baseline = std::lround(top - foot_of_h * scale / 100.0);
    std::vector<bool> theirs(ours.size());
    double pen = left;
    for (const char c : word) {
        FT_Load_Char(face, static_cast<unsigned char>(c), FT_LOAD_RENDER | FT_LOAD_NO_HINTING);
        const FT_GlyphSlot g = face->glyph;
        for (unsigned row = 0; row < g->bitmap.rows; ++row) {
            for (unsigned col = 0; col < g->bitmap.width; ++col) {
                const long x = std::lround(pen) + g->bitmap_left + col;
                const long y = baseline + g->bitmap_top - 1 - row;
                if (x >= 0 && x < window_w && y >= 0 && y < window_h &&
                    g->bitmap.buffer[row * g->bitmap.pitch + col] > 127) {
                    theirs[y * window_w + x] = true;
                }
            }
        }
        pen += static_cast<double>(g->linearHoriAdvance) / 65536.0;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    long both = 0, either = 0;
    for (int i = 0; i < ours.size(); ++i) {
        both += ours.lit(i) && theirs[i];
        either += ours.lit(i) || theirs[i];
    }
    return static_cast<double>(both) / static_cast<double>(std::max(either, 1L));
}

TEST_F(Text, AFlatWordCoversWhatFreeTypeDrawsOfTheSourceFont) {
    for (const auto& [word, scale] :
         {std::pair{"Kulimbara", 60.0}, {"Balls left: 80", 40.0}, {"Q&A @ gate 90%", 36.0}}) {
        SCOPED_TRACE(word);
        pixel_frame();
        const double x = window_w / 2.0, y = window_h / 2.0;
        vectorText2DAt2d4f(test_glyphs(), word, x, y, scale, 1, 1, 1, 1, 90.0f);
        EXPECT_GE(overlap_with_freetype(read_back(), word, x - pixlen(word) * scale / 2,
                                        y + pixheight(word) * scale / 2, scale),
                  0.9);
    }
}

TEST_F(Text, TextIsCentredOnItsPointToAPixel) {
    for (const char* text : {"IOI", "OXO"}) {  // ink in the middle of the advance boxes
        SCOPED_TRACE(text);
        pixel_frame();
        vectorText2DAt2d4f(test_glyphs(), text, window_w / 2.0, window_h / 2.0, 50.0, 1, 1, 1, 1,
                           90.0f);
        const box b = ink(read_back());
        EXPECT_NEAR(b.left, window_w - 1 - b.right, 1.0);
        EXPECT_GT(b.count, 1000);
    }
}

TEST_F(Text, SolidGlyphsAreAQuarterUnitDeepAndFlatOnesHaveNoDepth) {
    constexpr double scale = 80.0;
    // Text facing +z seen from its left end: its depth is the picture's width.
    const auto from_the_side = [](auto draw) {
        pixel_frame();
        glTranslated(window_w / 2.0, window_h / 2.0, 0);
        glRotated(90, 0, 1, 0);
        draw("IHI", 0, 0, scale, 1, 1, 1, 1, 90.0f);
        return ink(read_back());
    };
    const box b = from_the_side([](auto... a) { vectorText3DAt2d4f(test_glyphs(), a...); });
    EXPECT_NEAR(b.right - b.left + 1, glyph_depth * scale, 1.0);
    EXPECT_NEAR(b.right + 1, window_w / 2.0, 1.0);  // the face in front, walls behind
    // Flat text is at most an edge-on line.
    EXPECT_LE(from_the_side([](auto... a) { vectorText2DAt2d4f(test_glyphs(), a...); }).count,
              window_h);
}

TEST_F(Text, NothingIsDrawnOfEmptyTextsCodesWithoutGlyphsOrAFontNotYetBuilt) {
    const glyph_set unbuilt;
    EXPECT_EQ(unbuilt.built_glyph('K'), nullptr);
    for (const auto& [glyphs, text] : {std::pair<const glyph_set*, std::string>{&test_glyphs(), ""},
                                       {&test_glyphs(), std::string("\x01\x1f\x8a\xff", 4)},
                                       {&unbuilt, "Kulimbara"}}) {
        pixel_frame();
        vectorText3DAt2d4f(*glyphs, text, 500, 300, 50.0, 1, 1, 1, 1, 90.0f, true);
        vectorText2DAt2d4f(*glyphs, text, 500, 300, 50.0, 1, 1, 1, 1, 90.0f);
        outlineTextAt2d4f(*glyphs, text, 500, 300, 50.0, 1, 1, 1, 1, 90.0f, true);
        GLint depth = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        EXPECT_EQ(depth, 1);
        EXPECT_EQ(ink(read_back()).count, 0);
        EXPECT_FALSE(glIsEnabled(GL_LINE_SMOOTH));
    }
    // Building twice keeps the lists.
    const std::array<GLuint, 3> lists = test_glyphs().built_glyph('K')->displayList;
    EXPECT_NE(lists[0], 0u);
    test_glyphs().fontInit();
    EXPECT_EQ(test_glyphs().built_glyph('K')->displayList, lists);
}

TEST(Glyphs, ATessellatorErrorIsReportedAndTheGlyphKeepsItsMetrics) {
    glyph_record record{1.5, 2.84, {}};
    record.contours.push_back({{{0, 0, 0}}, {{1e200, 0, 0}}, {{0, 0, 50}}, {{0, 0, 0}}});
    testing::internal::CaptureStderr();
    const glCharacter glyph = createCharacter(200, record);
    const std::string message = testing::internal::GetCapturedStderr();
    const auto* reason = reinterpret_cast<const char*>(gluErrorString(GLU_TESS_COORD_TOO_LARGE));
    EXPECT_EQ(message, std::string("kulimbara: cannot build glyph 200: ") + reason + "\n");
    EXPECT_EQ(glyph.width, 1.5);
    EXPECT_EQ(glyph.height, 2.84);
}

// Pixels of a screen by colour; the end screen stays fogged, so its colours are dim.
struct colours {
    long red = 0, green = 0, yellow = 0, white = 0;
};

class Screens : public Render {
  protected:
    std::unique_ptr<level_t> level = load_level(5);

    void SetUp() override { renderer.init_scene(*level, quality); }

    // A state drawn as the game draws it, at the moment its blinking lines are brightest; the
    // frame leaves the matrix stack as it found it and the standing state of the game.
    colours draw(game_screen state, final_screen_t screen = {}) {
        level->total_time = screen.total_time = 3.14159265358979 / 16;
        game_view();
        GLint depth_before = 0, depth_after = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_before);
        renderer.draw_scene({*level, texts, quality, state, screen.score, false, screen});
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_after);
        EXPECT_EQ(depth_after, depth_before);
        EXPECT_TRUE(glIsEnabled(GL_FOG) && glIsEnabled(GL_LIGHT0) && glIsEnabled(GL_CULL_FACE));
        EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST) || glIsEnabled(GL_LIGHT1));
        const image shot = read_back();
        colours n;
        for (int i = 0; i < shot.size(); ++i) {
            const int r = shot.at(i)[0], g = shot.at(i)[1], b = shot.at(i)[2];
            n.red += r > 60 && g < r / 4 && b < r / 4;
            n.green += g > 60 && r < g / 4 && b < g / 4;
            n.yellow += r > 60 && g > 60 && std::abs(r - g) < r / 4 && b < r / 3;
            n.white += r > 60 && std::abs(r - g) < 20 && std::abs(r - b) < 20;
        }
        return n;
    }
};

TEST_F(Screens, EveryStateLeavesTheStandingStateAndTheBannersShowTheirLines) {
    for (const int state : {-3, -2, -1, 0, 2, 4, 5}) {
        SCOPED_TRACE(state);
        draw(static_cast<game_screen>(state));
    }
    const colours banner = draw(game_screen::level_completed);
    const colours play = draw(game_screen::play);
    EXPECT_GT(banner.red, play.red + 5000);
    EXPECT_GT(banner.white, play.white + 1000);

    const colours typing = draw(game_screen::name_entry, {true, false, 1230, "ada_"});
    const colours posted = draw(game_screen::score_posted, {false, true, 1230, "ada"});
    const colours failed = draw(game_screen::score_posted, {false, false, 1230, "ada"});
    const colours empty = draw(game_screen::name_entry, {true, false, 1230, "_"});
    for (const colours& n : {typing, posted, failed}) {
        EXPECT_GT(n.red, 10000);    // "Game over!"
        EXPECT_GT(n.yellow, 3000);  // the score
        EXPECT_GT(n.green, 3000);   // the name
        EXPECT_GT(n.white, 300);    // the prompt
    }
    EXPECT_GT(typing.green, empty.green * 2);       // the name, not the cursor alone
    EXPECT_GT(typing.white * 4, posted.white * 5);  // the longer two-line prompt
    EXPECT_GT(posted.yellow, failed.yellow + 200);  // success has the longer line
    EXPECT_GT(failed.yellow, typing.yellow + 200);  // only the posted screen has one
}

// After a post: why it failed and where it went in yellow, and a line that says what ENTER
// does, which is gone while a post is tried again.
TEST_F(Screens, TheResultSaysWhyWhereAndWhatEnterDoes) {
    final_screen_t screen{false, false, 1230, "ada"};
    screen.retryable = true;
    const colours bare = draw(game_screen::score_posted, screen);
    screen.post_words = "could not connect";
    screen.board_address = "http://[::1]:8080";
    const colours told = draw(game_screen::score_posted, screen);
    screen.retryable = false;
    const colours final_failure = draw(game_screen::score_posted, screen);
    screen.post_under_way = true;
    const colours trying = draw(game_screen::score_posted, screen);
    EXPECT_GT(told.yellow, bare.yellow + 800);           // two more lines
    EXPECT_GT(told.white, final_failure.white + 200);    // "... try again or N ..."
    EXPECT_GT(final_failure.white, trying.white + 300);  // no ENTER line meanwhile
    EXPECT_LT(trying.yellow + 200, told.yellow);         // "Trying again..." alone

    final_screen_t nowhere{false, false, 1230, "ada"};
    nowhere.no_board = true;
    nowhere.post_words = "No high-score board is set up";
    const colours no_board = draw(game_screen::score_posted, nowhere);
    EXPECT_GT(no_board.yellow, bare.yellow + 100);  // the one line, longer than "failed"
    EXPECT_LT(no_board.yellow, told.yellow - 500);  // and no reason or address under it
}

// The window's post through the shell: a failure told with the board's address, ENTER
// posting again on the worker, one post at a time, then N to a new game that records anew.
TEST(Shell, AFailedPostIsToldTriedAgainAndLeftForANewGame) {
    ::setenv("KULIMBARA_HIGHSCORE_URL", "http://127.0.0.1:1", 1);  // nothing listens there
    drawn_game shell;
    shell.Init(levels_count - 1);
    auto frame = [&](std::vector<key_event> keys = {}) {
        frame_input input;
        input.deltaT = 0.016667;  // whole microseconds, which a replay holds
        input.keys = std::move(keys);
        input.post_result = shell.poll_score_post();
        return shell.frame(input);
    };
    auto wait_for_result = [&] {
        for (int i = 0; i < 700 && shell.state().session.score_post_under_way; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            frame();
        }
        return !shell.state().session.score_post_under_way;
    };
    const game_session& session = shell.state().session;
    // SPACE held and released every 45 frames ends the last level in about two minutes.
    for (int i = 0; i < 40000 && !is_level_completed(session.screen); ++i) {
        frame(i % 45 == 0 ? std::vector<key_event>{{(i / 45) % 2 == 0, key_space}}
                          : std::vector<key_event>{});
    }
    ASSERT_TRUE(is_level_completed(session.screen))
        << static_cast<int>(session.screen) << " at " << shell.state().level->total_time;
    frame({{true, key_enter}});
    frame({{true, 'a'}, {true, 'd'}, {true, 'a'}, {true, key_enter}});
    ASSERT_TRUE(session.score_post_under_way);
    ASSERT_TRUE(wait_for_result());
    final_screen_t screen = shell.state().final_screen();
    EXPECT_EQ(std::tuple(screen.post_words, screen.board_address, screen.retryable),
              std::tuple("could not connect", "http://127.0.0.1:1", true));
    EXPECT_EQ(shell.recorder().current(), replay_recorder::state::finished);

    int posts = 0;
    for (const frame_event& e : frame({{true, key_enter}, {true, key_enter}})) {
        posts += e.what == frame_event::kind::post_started;
    }
    EXPECT_EQ(posts, 1);
    EXPECT_TRUE(shell.state().final_screen().post_under_way);
    ASSERT_TRUE(wait_for_result());
    EXPECT_EQ(shell.state().final_screen().post_words, "could not connect");

    frame({{true, 'n'}});
    EXPECT_EQ(std::tuple(session.screen, session.total_score, session.current_level),
              std::tuple(game_screen::intro, 0, 0));
    frame({{true, key_enter}});
    EXPECT_EQ(shell.recorder().current(), replay_recorder::state::recording);
    EXPECT_EQ(shell.recorder().recording().frames.size(), 1u);
    ::unsetenv("KULIMBARA_HIGHSCORE_URL");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(window_w, window_h);
    const int window = glutCreateWindow("drawing tests");
    init_gl_state();
    test_glyphs().fontInit();
    const int status = RUN_ALL_TESTS();
    glutDestroyWindow(window);
    return status;
}
