// Drawing tests in a real OpenGL context (run under a virtual display), reading pixels back.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gl.h"
#include "holes.h"
#include "levels.h"
#include "math_constants.h"
#include "quality_cfg.h"
#include "scene.h"

namespace {

constexpr int window_size = 800;

struct rgb {
    int r, g, b;
};

std::vector<unsigned char> read_colour(int x, int y, int w, int h) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

rgb pixel(int x, int y) {
    const auto p = read_colour(x, y, 1, 1);
    return {p[0], p[1], p[2]};
}

int stencil_at(int x, int y) {
    GLubyte value = 0;
    glReadPixels(x, y, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &value);
    return value;
}

// Looking straight down at the desk plane, `pixels_per_unit` to a unit, unlit and unculled.
void view_from_above(const level_t& level, int pixels_per_unit) {
    const int w = static_cast<int>(level.width) * pixels_per_unit;
    const int h = static_cast<int>(level.height) * pixels_per_unit;
    glViewport(0, 0, w, h);
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

void restore_state() {
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glViewport(0, 0, window_size, window_size);
}

// Window position of a level plane point (x, y) at height h, with the current matrices.
void project(double x, double y, double h, int& wx, int& wy) {
    GLdouble model[16], proj[16];
    GLint view[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, proj);
    glGetIntegerv(GL_VIEWPORT, view);
    GLdouble sx = 0, sy = 0, sz = 0;
    gluProject(x, h, y, model, proj, view, &sx, &sy, &sz);
    wx = static_cast<int>(std::lround(sx));
    wy = static_cast<int>(std::lround(sy));
}

level_t plain_level(float width, float height) {
    level_t level;
    level.width = width;
    level.height = height;
    level.depth = 0.6f;
    level.desk_color = {0.24, 0.4, 0.84};
    level.gate_height = 2.0;
    return level;
}

class Render : public ::testing::Test {
  protected:
    quality_cfg_t quality = quality_cfg_init();
    tt_state texts;
    scene renderer;

    void TearDown() override {
        restore_state();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
};

TEST_F(Render, DeskTopCoversTheDeskLessItsHoles) {
    for (const int num : {0, 5}) {
        SCOPED_TRACE(num);
        auto level = load_level(num);
        renderer.init_scene(*level, quality, texts);
        constexpr int ppu = 10;
        view_from_above(*level, ppu);
        glCallList(renderer.desk_list());
        // The outlines that follow need every edge drawn.
        GLboolean edge_flag = GL_FALSE;
        glGetBooleanv(GL_EDGE_FLAG, &edge_flag);
        EXPECT_TRUE(edge_flag);

        const int w = static_cast<int>(level->width) * ppu;
        const int h = static_cast<int>(level->height) * ppu;
        const auto pixels = read_colour(0, 0, w, h);
        long covered = 0;
        for (std::size_t i = 0; i < pixels.size(); i += 3) {
            covered += pixels[i + 2] > 100 ? 1 : 0;
        }
        double holes_area = 0;
        for (const hole_t& hole : level->holes) {
            holes_area += pi * hole.size * hole.size / 4;
        }
        const double expected = (level->width * level->height - holes_area) * ppu * ppu;
        EXPECT_NEAR(covered, expected, expected * 0.01);

        for (const hole_t& hole : level->holes) {
            // Desk x runs right, desk y down the screen.
            const int x = static_cast<int>((hole.pos.x + level->width / 2) * ppu);
            const int y = static_cast<int>((level->height / 2 - hole.pos.y) * ppu);
            EXPECT_EQ(pixel(x, y).b, 0) << "hole at " << hole.pos.x << ", " << hole.pos.y;
        }
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
    for (GLint i = 0; i < used;) {
        const auto token = static_cast<GLint>(buffer[i]);
        if (token == GL_POLYGON_TOKEN) {
            const auto n = static_cast<int>(buffer[i + 1]);
            count += n - 2;
            i += 2 + 3 * n;
        } else {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
    }
    return count;
}

TEST_F(Render, AQualityDropRebuildsTheHolesWithFewerSegments) {
    auto level = load_level(1);
    renderer.init_scene(*level, quality, texts);
    view_from_above(*level, 5);
    // The outline holds four sides and the top as quads, and one polygon per hole rim.
    const int quads = 5 * 2;
    EXPECT_EQ(triangles(renderer.desk_outline_list()), quads + level->holes_count() * (36 - 2));

    set_quality_decrease_level(quality, 1, [&](const quality_cfg_t&) {
        renderer.scene_update_constants();
        renderer.desk_calllist_create();
    });
    EXPECT_EQ(hole_drawer_quality(), 18);
    EXPECT_EQ(triangles(renderer.desk_outline_list()), quads + level->holes_count() * (18 - 2));
}

TEST_F(Render, WaitingBallsAreTranslucentAndLostOnesAreNotDrawn) {
    level_t level = plain_level(30, 10);
    const char states[] = {ball_in_play, ball_waiting, ball_lost};
    for (int i = 0; i < 3; ++i) {
        ball_t ball;
        ball.active = states[i];
        ball.pos = {-10.0 + 10.0 * i, 0.0, 1.0};
        ball.size = 2.0;
        ball.color = {1.0, 0.0, 0.0};
        level.balls.push_back(ball);
    }
    renderer.init_scene(level, quality, texts);
    constexpr int ppu = 10;
    view_from_above(level, ppu);
    glEnable(GL_CULL_FACE);  // as in the game: only the near half of a ball blends
    renderer.draw_balls();
    const int y = 5 * ppu;
    EXPECT_EQ(pixel(5 * ppu, y).r, 255);       // in play, opaque
    EXPECT_NEAR(pixel(15 * ppu, y).r, 64, 1);  // waiting, a quarter
    EXPECT_EQ(pixel(25 * ppu, y).r, 0);        // lost
}

TEST_F(Render, BlocksCastStencilShadowsAwayFromTheLight) {
    level_t level = plain_level(40, 40);
    level.blocks.push_back({{0.0, 10.0}, {2.0, 2.0, 1.2}, 0.25, {1.0, 1.0, 0.0}});
    renderer.init_scene(level, quality, texts);
    set_projection(window_size, window_size);
    load_camera(0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    renderer.set_shadow_mask();

    // The top edge at y = 11 falls on the desk at y = 11 × 19.7 / 18.5 ≈ 11.71.
    const double top = 0.3;
    const struct {
        double x, y;
        bool shadowed;
    } points[] = {{0.0, 11.35, true},
                  {0.0, 0.0, false},
                  {0.0, 8.5, false},
                  {0.0, 12.2, false},
                  {3.0, 11.35, false}};
    for (const auto& p : points) {
        int wx = 0, wy = 0;
        project(p.x, p.y, top, wx, wy);
        if (p.shadowed) {
            EXPECT_GT(stencil_at(wx, wy), 0) << p.x << ", " << p.y;
        } else {
            EXPECT_EQ(stencil_at(wx, wy), 0) << p.x << ", " << p.y;
        }
    }
    GLboolean mask[4];
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    EXPECT_TRUE(mask[0] && mask[3]);
    EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
}

TEST_F(Render, ABallCastsAShadowConeOnTheDesk) {
    level_t level = plain_level(40, 40);
    ball_t ball;
    ball.active = ball_in_play;
    ball.pos = {0.0, 10.0, 2.0};
    ball.size = 0.6;
    level.balls.push_back(ball);
    renderer.init_scene(level, quality, texts);
    set_projection(window_size, window_size);
    load_camera(0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    renderer.set_shadow_mask();
    // The centre's shadow: 10 × 19.7 / 18 ≈ 10.94 along y.
    int wx = 0, wy = 0;
    project(0.0, 10.94, 0.3, wx, wy);
    EXPECT_GT(stencil_at(wx, wy), 0);
    project(0.0, 9.0, 0.3, wx, wy);
    EXPECT_EQ(stencil_at(wx, wy), 0);
}

TEST_F(Render, EveryStateLeavesTheStandingState) {
    auto level = load_level(2);
    renderer.init_scene(*level, quality, texts);
    for (const int state : {-3, -2, -1, 0, 2, 4, 5}) {
        SCOPED_TRACE(state);
        level->scene_step = state;
        level->total_time = 1.0;
        set_projection(window_size, window_size);
        load_camera(0, 0, 0);
        GLint depth_before = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_before);
        renderer.draw_scene(final_screen_t{});
        GLint depth_after = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth_after);
        EXPECT_EQ(depth_after, depth_before);
        EXPECT_TRUE(glIsEnabled(GL_FOG));
        EXPECT_FALSE(glIsEnabled(GL_STENCIL_TEST));
        EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
        EXPECT_FALSE(glIsEnabled(GL_LIGHT1));
        EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    }
    EXPECT_EQ(level->scene_step, 5);
}

TEST(RenderFailure, CrossingHolesEndTheProcessWithGlusError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            level_t level = plain_level(20, 20);
            level.holes.push_back({{0.0, 0.0}, 4.0});
            level.holes.push_back({{1.0, 0.0}, 4.0});
            quality_cfg_t quality = quality_cfg_init();
            tt_state texts;
            scene renderer;
            renderer.init_scene(level, quality, texts);
        },
        ::testing::ExitedWithCode(1), "kulimbara: cannot build the desk's holes: .+");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(window_size, window_size);
    const int window = glutCreateWindow("render tests");
    init_gl_state();
    const int status = RUN_ALL_TESTS();
    glutDestroyWindow(window);
    return status;
}
