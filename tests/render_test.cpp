// The desk, the balls and the shadows drawn and read back; the main of all drawing tests.
#include <cmath>
#include <string>
#include <vector>

#include "gl_test.h"
#include "levels.h"
#include "math_constants.h"

namespace {

using Render = Drawing;

TEST_F(Render, DeskTopCoversTheDeskLessItsHoles) {
    constexpr int ppu = 8;  // level 0 is 72 units long
    for (const int num : {0, 5}) {
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
    for (const auto& p : points) {
        const auto [x, y] = project(p[0], p[1], 0.3);
        GLubyte stencil = 0;
        glReadPixels(x, y, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
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
    auto level = load_level(0);
    EXPECT_NO_THROW(renderer.init_scene(*level, quality));
}

TEST_F(Render, EveryFrameBeginsWithFogAndLightingOnOverTheWholeWindow) {
    glDisable(GL_FOG);  // as a frame's texts and outlines leave them
    glDisable(GL_LIGHTING);
    glMatrixMode(GL_PROJECTION);
    begin_frame(window_w, 0);  // a window shrunk to no height
    EXPECT_TRUE(glIsEnabled(GL_FOG) && glIsEnabled(GL_LIGHTING));
    GLint viewport[4] = {}, mode = 0;
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(viewport[2], window_w);
    EXPECT_EQ(viewport[3], 0);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    for (const GLdouble m : projection) {
        EXPECT_TRUE(std::isfinite(m));
    }
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
