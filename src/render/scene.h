// SPDX-License-Identifier: MIT
// Drawing a frame: the desk with its holes, blocks, balls and gates, their shadows, the
// countdown's zoom and the head-up texts, by game state.
#pragma once

#include <array>
#include <stdexcept>

#include "game.h"
#include "gl.h"
#include "glyphs.h"
#include "holes.h"
#include "level.h"
#include "quality_cfg.h"

// Keeps the large blocks that the software renderer allocates and frees on every frame in the
// process, instead of returning them to the system and faulting their pages in again. Call
// once at start-up, before the first frame.
void keep_frame_memory();

// The fixed OpenGL state of the game: lights, material, fog, blending, culling.
void init_gl_state();

// The vertical field of view for a window of this width to height: 45 degrees at 4:3 and wider;
// narrower windows, portrait ones too, open it so that they show as much across as a 4:3 window
// of their width, or the title, the head-up display and the desk would run off their sides.
double vertical_fov(double aspect);

// The start of every frame: viewport and perspective for a window of w × h pixels, the
// modelview matrix current, fog and lighting on (a frame's texts may leave them off), and the
// colour, depth and stencil buffers cleared together, which costs the software renderer one
// pass over the frame where a separate stencil clear would cost another.
void begin_frame(int w, int h);

// The camera of a frame: the view from above and in front, turned by the debug camera.
void load_camera(int xnew, int ynew, int znew);

// Both lights stand 20 units above the desk centre.
constexpr std::array<GLfloat, 4> lt_position = {0.0f, 20.0f, 0.0f, 1.0f};

// A level whose desk GLU cannot cut: its holes cross each other or the desk's edge. The
// message says what failed and why.
class desk_build_error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class scene {
  public:
    // Texts are drawn with `glyphs`, which must outlive the scene.
    explicit scene(const glyph_set& glyphs) : glyphs(glyphs) {}

    // Makes `level` current for drawing and compiles its static geometry. The level and the
    // quality settings must outlive their use here. Throws desk_build_error when the desk
    // cannot be cut; the scene must then not be drawn before a level is built.
    void init_scene(const level_t& level, const quality_cfg_t& quality_cfg);
    // The step of the ball shadow cones, after a change of shadow quality.
    void scene_update_constants();
    // Compiles the desk and its outline again at the current hole quality; throws
    // desk_build_error as init_scene does.
    void desk_calllist_create();

    // Draws what the game's screen calls for into the current modelview matrix. Leaves the
    // matrix stack as it was and fog on.
    void draw_scene(const frame_view& view);

    // The painters of one scene pass, each inside its own desk transform.
    void draw_desk() const;
    void draw_desk_outline(double line_width) const;
    void draw_blocks() const;
    void draw_blocks_outline(double line_width) const;
    // The balls on the desk, and unless told otherwise the translucent ones waiting for release.
    void draw_balls(bool waiting_too = true) const;
    void draw_gates() const;

    // The stencil mask: non-zero where a shadow volume covers the visible surface.
    void set_shadow_mask() const;

    // The head-up display and the floating texts; the benchmark switches them off to weigh
    // their cost.
    bool hud = true;

    GLuint desk_list() const { return desk; }
    GLuint desk_outline_list() const { return desk_outline; }

  private:
    void scene_pass() const;
    void outlines() const;
    void desk_transform() const;
    void draw_balls_shadows() const;
    void draw_shadow_mask(double size1, double size2, double length) const;
    void draw_block_shadows() const;
    void draw_sphere(double radius) const;

    const glyph_set& glyphs;
    hole_drawer holes;
    const level_t* level = nullptr;
    const quality_cfg_t* quality_cfg = nullptr;
    GLuint desk = 0;
    GLuint desk_outline = 0;
    GLuint blocks = 0;
    GLuint blocks_outline = 0;
    double shadow_sina = 0.0;
    double shadow_cosa = 0.0;
    // The balls' sphere, compiled once per radius and tessellation rather than generated
    // afresh for every ball of every pass.
    mutable GLuint sphere = 0;
    mutable double sphere_radius = 0.0;
    mutable int sphere_slices = 0;
    mutable int sphere_stacks = 0;
};
