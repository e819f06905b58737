// SPDX-License-Identifier: MIT
// Stencil shadow volumes from the point light, counted by the depth-pass method.
#include <cmath>

#include "math_constants.h"
#include "scene.h"

namespace {

constexpr double light_x = lt_position[0];
constexpr double light_y = lt_position[1];  // the light's height
constexpr double light_z = lt_position[2];

// One quad: the edge from plane point (x1, y1) at height z1 to (x2, y2) at height z2, each
// end pushed away from the light by `size` times its offset from it.
void draw_shadow_volume_edge(double x1, double y1, double z1, double x2, double y2, double z2,
                             double size) {
    glVertex3d(x1, z1, y1);
    glVertex3d(x1 + (x1 - light_x) * size, z1 + (z1 - light_y) * size, y1 + (y1 - light_z) * size);
    glVertex3d(x2 + (x2 - light_x) * size, z2 + (z2 - light_y) * size, y2 + (y2 - light_z) * size);
    glVertex3d(x2, z2, y2);
}

// The eight extruded edges of a block whose top is at height z.
void draw_block_shadow_mask(const block_t& block, double z, double size) {
    const double w = block.size.x / 2;
    const double h = block.size.y / 2;
    const double px = block.pos.x;
    const double py = block.pos.y;
    const double zb = z - block.size.z;
    glBegin(GL_QUADS);
    draw_shadow_volume_edge(px + w, py - h, z, px - w, py - h, z, size);
    draw_shadow_volume_edge(px - w, py + h, z, px + w, py + h, z, size);
    draw_shadow_volume_edge(px - w, py - h, z, px - w, py + h, z, size);
    draw_shadow_volume_edge(px + w, py + h, z, px + w, py - h, z, size);
    draw_shadow_volume_edge(px + w, py - h, zb, px + w, py - h, z, size);
    draw_shadow_volume_edge(px - w, py - h, z, px - w, py - h, zb, size);
    draw_shadow_volume_edge(px + w, py + h, z, px + w, py + h, zb, size);
    draw_shadow_volume_edge(px - w, py + h, zb, px - w, py + h, z, size);
    glEnd();
}

}  // namespace

void scene::set_shadow_mask() const {
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    draw_desk();
    draw_blocks();
    // Not the translucent waiting balls: the passes that keep this depth draw the desk behind
    // them.
    draw_balls(false);
    glDepthMask(GL_FALSE);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_ALWAYS, 0, 0);

    // The balls' volumes in one pass, both sides at once: their front faces count up and their
    // back faces down. Wrapping, the counts come out as the two one-sided passes left them,
    // whatever order the faces arrive in.
    glDisable(GL_CULL_FACE);
    glStencilOpSeparate(GL_FRONT, GL_KEEP, GL_KEEP, GL_INCR_WRAP);
    glStencilOpSeparate(GL_BACK, GL_KEEP, GL_KEEP, GL_DECR_WRAP);
    draw_balls_shadows();
    glEnable(GL_CULL_FACE);

    // Block volumes count their front faces alone.
    glStencilOp(GL_KEEP, GL_KEEP, GL_INCR);
    glCullFace(GL_BACK);
    draw_block_shadows();

    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDisable(GL_STENCIL_TEST);
    glCullFace(GL_BACK);
}

void scene::draw_balls_shadows() const {
    glPushMatrix();
    desk_transform();
    glDisable(GL_LIGHTING);
    for (const ball_t& ball : level->balls) {
        if (is_waiting(ball)) {
            continue;
        }
        const point3D_t& pos = ball.pos;
        const double dist = std::sqrt(pos.x * pos.x + pos.y * pos.y);
        const double alpha = std::atan(dist / (light_y - pos.z)) * 180 / pi;
        const double dist_from_light = std::sqrt((pos.x - light_x) * (pos.x - light_x) +
                                                 (pos.y - light_z) * (pos.y - light_z) +
                                                 (pos.z - light_y) * (pos.z - light_y));
        const double length = light_y * 1.5;
        const double size = length / dist_from_light * ball.size;
        glPushMatrix();
        glTranslated(pos.x, pos.z, pos.y);
        // Straight above the desk centre the cone has no tilt and no axis: leave it vertical.
        if (dist > 0) {
            glRotated(alpha, -pos.y / dist, 0, pos.x / dist);
        }
        draw_shadow_mask(2 * ball.size, 2 * size, length);
        glPopMatrix();
    }
    glEnable(GL_LIGHTING);
    glPopMatrix();
}

// An open frustum along the local -y axis: the near rim, the ball's great circle, at y = 0,
// the far rim at y = -length.
void scene::draw_shadow_mask(double size1, double size2, double length) const {
    double ax = size1 / 2;
    double az = 0.0;
    double bx = size2 / 2;
    double bz = 0.0;
    glBegin(GL_QUADS);
    for (int i = 0; i < quality_cfg->shadow_quality; ++i) {
        const double nax = ax * shadow_cosa - az * shadow_sina;
        const double naz = ax * shadow_sina + az * shadow_cosa;
        const double nbx = bx * shadow_cosa - bz * shadow_sina;
        const double nbz = bx * shadow_sina + bz * shadow_cosa;
        glVertex3d(ax, 0, az);
        glVertex3d(nax, 0, naz);
        glVertex3d(nbx, -length, nbz);
        glVertex3d(bx, -length, bz);
        ax = nax;
        az = naz;
        bx = nbx;
        bz = nbz;
    }
    glEnd();
}

void scene::draw_block_shadows() const {
    glPushMatrix();
    // Pushed slightly away from the viewer so that a block's own face wins against a
    // volume face lying on it.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    desk_transform();
    const double half_depth = static_cast<double>(level->depth) / 2;
    for (const block_t& block : level->blocks) {
        draw_block_shadow_mask(block, half_depth + block.size.z, 0.5);
    }
    glDisable(GL_POLYGON_OFFSET_FILL);
    glPopMatrix();
}
