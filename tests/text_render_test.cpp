// Text drawn and read back: shapes against FreeType's, centring, depth, the text screens.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <string>

#include "font.h"
#include "font_table.h"
#include "gl_test.h"
#include "glyphs.h"
#include "levels.h"
#include "text.h"

namespace {

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

using Text = Drawing;

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

class Screens : public Drawing {
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

TEST_F(Screens, EveryStateLeavesTheStandingState) {
    for (const int state : {-3, -2, -1, 0, 2, 4, 5}) {
        SCOPED_TRACE(state);
        draw(static_cast<game_screen>(state));
    }
}

TEST_F(Screens, LevelCompletedShowsItsRedBannerAndWhitePrompt) {
    const colours banner = draw(game_screen::level_completed);
    const colours play = draw(game_screen::play);
    EXPECT_GT(banner.red, play.red + 5000);
    EXPECT_GT(banner.white, play.white + 1000);
}

TEST_F(Screens, BothEndScreensShowTheScoreTheNameAndTheirLines) {
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
    EXPECT_GT(typing.white, posted.white * 3);      // the two-line prompt
    EXPECT_GT(posted.yellow, failed.yellow + 200);  // success has the longer line
    EXPECT_GT(failed.yellow, typing.yellow + 200);  // only the posted screen has one
}

}  // namespace
