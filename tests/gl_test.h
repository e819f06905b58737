// What the drawing tests share: a window on a virtual display, read back, and views of a desk.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "gl.h"
#include "glyphs.h"
#include "level.h"
#include "quality_cfg.h"
#include "scene.h"

constexpr int window_w = 1024;
constexpr int window_h = 576;

// The font of every drawing test; the tests' main builds it once the window exists.
inline glyph_set& test_glyphs() {
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

inline image read_back(int x = 0, int y = 0, int w = window_w, int h = window_h) {
    image shot{w, std::vector<unsigned char>(static_cast<std::size_t>(w) * h * 3)};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, shot.rgb.data());
    return shot;
}

// Straight down at the desk, `pixels_per_unit` to a unit from the bottom left; unlit, unculled.
inline void view_from_above(const level_t& level, int pixels_per_unit) {
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
inline void game_view() {
    begin_frame(window_w, window_h);
    load_camera(0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// Window position of the desk plane point (x, y) at height h, with the current matrices.
inline std::pair<int, int> project(double x, double y, double h) {
    GLdouble model[16], projection[16], window_x = 0, window_y = 0, window_z = 0;
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    gluProject(x, h, y, model, projection, viewport, &window_x, &window_y, &window_z);
    return {static_cast<int>(std::lround(window_x)), static_cast<int>(std::lround(window_y))};
}

// A flat blue desk with nothing on it.
inline level_t plain_level(float width, float height) {
    level_t level;
    level.width = width;
    level.height = height;
    level.depth = 0.6f;
    level.desk_color = {0.24, 0.4, 0.84};
    level.gate_height = 2.0;
    return level;
}

// A scene to draw with; every test leaves the state it found and no OpenGL error.
class Drawing : public ::testing::Test {
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
