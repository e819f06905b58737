// SPDX-License-Identifier: MIT
#include "scene.h"

#include <cmath>
#include <string>

#include "game.h"
#include "math_constants.h"
#include "text.h"

namespace {

constexpr double block_lift = 0.025;  // blocks and gates float this far above the desk top

// One box: (x, y) its plane centre, z the height of its centre; no bottom face.
void prepare_block(double x, double y, double z, double width, double height, double depth) {
    const double w = width / 2;
    const double h = height / 2;
    const double d = depth / 2;
    glBegin(GL_QUADS);
    glNormal3d(0, 1, 0);
    glVertex3d(x + w, z + d, y - h);
    glVertex3d(x - w, z + d, y - h);
    glVertex3d(x - w, z + d, y + h);
    glVertex3d(x + w, z + d, y + h);
    glNormal3d(0, 0, 1);
    glVertex3d(x + w, z + d, y + h);
    glVertex3d(x - w, z + d, y + h);
    glVertex3d(x - w, z - d, y + h);
    glVertex3d(x + w, z - d, y + h);
    glNormal3d(0, 0, -1);
    glVertex3d(x + w, z - d, y - h);
    glVertex3d(x - w, z - d, y - h);
    glVertex3d(x - w, z + d, y - h);
    glVertex3d(x + w, z + d, y - h);
    glNormal3d(-1, 0, 0);
    glVertex3d(x - w, z - d, y - h);
    glVertex3d(x - w, z - d, y + h);
    glVertex3d(x - w, z + d, y + h);
    glVertex3d(x - w, z + d, y - h);
    glNormal3d(1, 0, 0);
    glVertex3d(x + w, z + d, y - h);
    glVertex3d(x + w, z + d, y + h);
    glVertex3d(x + w, z - d, y + h);
    glVertex3d(x + w, z - d, y - h);
    glEnd();
}

void prepare_blocks(const level_t& level, int countours) {
    const double half_depth = static_cast<double>(level.depth) / 2;
    for (const block_t& block : level.blocks) {
        if (countours == 1) {
            glColor3d(0, 0, 0);
        } else {
            glColor3d(block.color.r, block.color.g, block.color.b);
        }
        prepare_block(block.pos.x, block.pos.y, half_depth + block.size.z / 2, block.size.x,
                      block.size.y, block.size.z);
    }
}

// A fresh display list compiled from `emit`; the one it replaces is deleted.
template <typename Emit>
GLuint compile_list(GLuint old, Emit emit) {
    if (old != 0) {
        glDeleteLists(old, 1);
    }
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    emit();
    glEndList();
    return list;
}

// Outlines are the filled lists drawn as lines, pulled toward the viewer.
void begin_outline(double line_width) {
    glEnable(GL_POLYGON_OFFSET_LINE);
    glPolygonOffset(-1.0f, -1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDisable(GL_LIGHTING);
    glLineWidth(static_cast<GLfloat>(line_width));
}

void end_outline() {
    glEnable(GL_LIGHTING);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_POLYGON_OFFSET_LINE);
}

}  // namespace

void scene::init_scene(const level_t& lvl, const quality_cfg_t& qcfg) {
    level = &lvl;
    quality_cfg = &qcfg;
    scene_update_constants();
    desk_calllist_create();
    blocks = compile_list(blocks, [&] { prepare_blocks(lvl, 0); });
    blocks_outline = compile_list(blocks_outline, [&] { prepare_blocks(lvl, 1); });
}

void scene::scene_update_constants() {
    shadow_sina = std::sin(two_pi / static_cast<double>(quality_cfg->shadow_quality));
    shadow_cosa = std::cos(two_pi / static_cast<double>(quality_cfg->shadow_quality));
}

void scene::desk_calllist_create() {
    holes = hole_drawer(quality_cfg->hole_quality);
    std::optional<std::string> failure;
    desk = compile_list(desk, [&] { failure = holes.prepare_level(*level, 0); });
    desk_outline = compile_list(desk_outline, [&] { holes.prepare_level(*level, 1); });
    // Thrown only here, with no list left open: GLU's callbacks cannot unwind through GLU.
    if (failure) {
        throw desk_build_error("cannot build the desk's holes: " + *failure);
    }
}

void scene::desk_transform() const {
    glRotated(level->rotation.x, 1, 0, 0);
    glRotated(level->rotation.y, 0, 0, 1);
}

void scene::draw_desk() const {
    glPushMatrix();
    desk_transform();
    glCallList(desk);
    glPopMatrix();
}

void scene::draw_desk_outline(double line_width) const {
    begin_outline(line_width);
    glColor3d(0, 0, 0);
    glPushMatrix();
    desk_transform();
    glCallList(desk_outline);
    glPopMatrix();
    end_outline();
}

void scene::draw_blocks() const {
    glPushMatrix();
    desk_transform();
    glTranslated(0, block_lift, 0);
    glCallList(blocks);
    glPopMatrix();
}

void scene::draw_blocks_outline(double line_width) const {
    begin_outline(line_width);
    glPushMatrix();
    // Lifted along the scene's vertical before the tilt, unlike the filled blocks.
    glTranslated(0, block_lift, 0);
    desk_transform();
    glCallList(blocks_outline);
    glPopMatrix();
    end_outline();
}

void scene::draw_balls(bool waiting_too) const {
    glPushMatrix();
    desk_transform();
    for (const ball_t& ball : level->balls) {
        if (is_lost(ball) || (is_waiting(ball) && !waiting_too)) {
            continue;
        }
        glPushMatrix();
        glTranslated(ball.pos.x, ball.pos.z, ball.pos.y);
        glMultMatrixd(ball.rotation_matrix.data());
        // A ball waiting for release is drawn translucent.
        const double alpha = is_in_play(ball) ? 1.0 : 0.25;
        glColor4d(ball.color.r, ball.color.g, ball.color.b, alpha);
        draw_sphere(ball.size);
        glPopMatrix();
    }
    glPopMatrix();
}

void scene::draw_sphere(double radius) const {
    const int slices = quality_cfg->ball_quality_a;
    const int stacks = quality_cfg->ball_quality_b;
    if (sphere == 0 || radius != sphere_radius || slices != sphere_slices ||
        stacks != sphere_stacks) {
        sphere = compile_list(sphere, [&] { glutSolidSphere(radius, slices, stacks); });
        sphere_radius = radius;
        sphere_slices = slices;
        sphere_stacks = stacks;
    }
    glCallList(sphere);
}

void scene::draw_gates() const {
    glPushMatrix();
    desk_transform();
    glDisable(GL_CULL_FACE);  // gates are seen from both sides
    glTranslated(0, static_cast<double>(level->depth) / 2 + block_lift, 0);
    const double gate_height = level->gate_height;
    for (const gate_t& gate : level->gates) {
        glPushMatrix();
        glColor4d(gate.color.r, gate.color.g, gate.color.b, level->gate_alpha);
        glTranslated(gate.pos.x, 0, gate.pos.y);
        // A flat vertical rectangle standing on the desk across x; it sets no normal.
        const auto panel = [half = gate.size / 2, gate_height] {
            glBegin(GL_QUADS);
            glVertex3d(-half, 0, 0);
            glVertex3d(half, 0, 0);
            glVertex3d(half, gate_height, 0);
            glVertex3d(-half, gate_height, 0);
            glEnd();
        };
        panel();
        if (quality_cfg->outlines != 0) {
            if (quality_cfg->antialiasing != 0) {
                glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
                glEnable(GL_LINE_SMOOTH);
            }
            begin_outline(1.5);
            glColor4d(gate.color.r, gate.color.g, gate.color.b, level->gate_alpha + 0.25);
            panel();
            if (quality_cfg->antialiasing != 0) {
                glDisable(GL_LINE_SMOOTH);
            }
            end_outline();
        }
        // The label stands upright in the gate's plane, halfway up.
        glPushMatrix();
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(-1.0f, -1.0f);
        glTranslated(0, gate_height / 2, 0);
        vectorText2DAt2d4f(
            glyphs, std::to_string(gate.score), 0, 0, 0.7, static_cast<float>(gate.color.r * 0.5),
            static_cast<float>(gate.color.g * 0.5), static_cast<float>(gate.color.b * 0.5),
            static_cast<float>(level->gate_alpha + 0.25), 90.0f);
        glDisable(GL_POLYGON_OFFSET_FILL);
        glPopMatrix();
        glPopMatrix();
    }
    glEnable(GL_CULL_FACE);
    glPopMatrix();
}

void scene::scene_pass() const {
    draw_desk();
    draw_blocks();
    draw_balls();
    draw_gates();
}

// The outlines come last, once for the whole frame: they are unlit, so the lit and the shadowed
// pass would draw them alike, each where its own stencil lets it. Only behind a translucent
// gate do they now go unseen.
void scene::outlines() const {
    if (quality_cfg->outlines != 0) {
        draw_desk_outline(1.0);
        draw_blocks_outline(1.0);
    }
    if (quality_cfg->antialiasing != 0) {
        glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
        glEnable(GL_LINE_SMOOTH);
        draw_desk_outline(1.5);
        draw_blocks_outline(1.5);
        glDisable(GL_LINE_SMOOTH);
    }
}

void scene::draw_scene(const frame_view& view) {
    level = &view.level;
    quality_cfg = &view.quality_cfg;
    const game_screen screen = view.screen;
    const double t = level->total_time;
    glPushMatrix();
    if (is_end_screen(screen)) {
        draw_final_screen(glyphs, view.final_screen);
    } else if (is_intro(screen)) {
        draw_intro(glyphs, view.texts.intro);
    }
    // The frame on which "PLAY!" starts is already drawn without the zoom.
    if (is_countdown(screen)) {
        const countdown_zoom zoom = countdown_zoom_at(t);
        glRotated(zoom.x_degrees, 1, 0, 0);
        glRotated(zoom.y_degrees, 0, 1, 0);
        glScaled(zoom.scale, zoom.scale, zoom.scale);
    }
    // The lights turn and shrink with the zooming scene.
    glLightfv(GL_LIGHT0, GL_POSITION, lt_position.data());
    glLightfv(GL_LIGHT1, GL_POSITION, lt_position.data());

    if (!shows_desk(screen)) {
        glPopMatrix();
    } else {
        const bool shadows = quality_cfg->shadows != 0;
        if (shadows) {
            set_shadow_mask();  // the frame began with the stencil cleared
            // The mask left the depth of the desk, the blocks and the balls in play, which the
            // passes draw again at the very same depths: kept, it spares the renderer a clear
            // and the shading of every hidden fragment.
            glDepthFunc(GL_LEQUAL);
            glEnable(GL_STENCIL_TEST);
            glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
            glStencilFunc(GL_EQUAL, 0, 0xFFFFFFFF);
        }
        scene_pass();  // lit where no shadow falls
        if (shadows) {
            glStencilFunc(GL_NOTEQUAL, 0, 0xFFFFFFFF);
            glDisable(GL_LIGHT0);
            glEnable(GL_LIGHT1);
            scene_pass();  // the dim light in the shadows
            glEnable(GL_LIGHT0);
            glDisable(GL_LIGHT1);
            glDisable(GL_STENCIL_TEST);
        }
        outlines();
        glDepthFunc(GL_LESS);
        glPopMatrix();
        if (hud) {
            ttInit();
            showScore(glyphs, view.texts, static_cast<unsigned long>(view.total_score));
            showRemainingBalls(glyphs, static_cast<unsigned char>(level->balls_count() -
                                                                  level->ball_activation_iterator));
        }
    }

    if (hud && !is_end_screen(screen)) {
        showTimedTexts(glyphs, view.texts);
    }
    if (is_level_completed(screen)) {
        draw_level_completed(glyphs, t);
    }
    glEnable(GL_FOG);
}
