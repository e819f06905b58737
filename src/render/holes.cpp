// SPDX-License-Identifier: MIT
#include "holes.h"

#include <array>
#include <cmath>
#include <vector>

#include "desk_top.h"
#include "gl.h"
#include "math_constants.h"

namespace {

// The wall quads of one hole, through the whole slab, normals toward its axis.
void draw_hole(const hole_drawer& drawer, const hole_t& hole, double hd) {
    const double r = hole.size / 2;
    const double px = hole.pos.x;
    const double py = hole.pos.y;
    double x1 = r;
    double y1 = 0.0;
    for (int i = 0; i < drawer.segments(); ++i) {
        double x2 = x1;
        double y2 = y1;
        drawer.step(x2, y2);
        glNormal3d(-x1, 0, -y1);
        glVertex3d(px + x1, hd, py + y1);
        glVertex3d(px + x1, -hd, py + y1);
        glNormal3d(-x2, 0, -y2);
        glVertex3d(px + x2, -hd, py + y2);
        glVertex3d(px + x2, hd, py + y2);
        x1 = x2;
        y1 = y2;
    }
}

// A hole's rim as one polygon, front-facing when seen from above.
void draw_circle(const hole_drawer& drawer, const point3D_t& pos, double size) {
    const double r = size / 2;
    double x = r;
    double y = 0.0;
    glFrontFace(GL_CW);
    glBegin(GL_POLYGON);
    for (int i = 0; i < drawer.segments(); ++i) {
        drawer.step(x, y);
        glVertex3d(pos.x + x, pos.z, pos.y + y);
    }
    glEnd();
    glFrontFace(GL_CCW);
}

using coord_t = std::array<GLdouble, 3>;

// The rim of a hole as a contour: from angle 0, without repeating the first point.
void tess_hole(const hole_drawer& drawer, const hole_t& hole, double hd, coord_t* coords) {
    const double r = hole.size / 2;
    const double px = hole.pos.x;
    const double py = hole.pos.y;
    coords[0] = {px + r, hd, py + 0};
    double x = r;
    double y = 0.0;
    for (int i = 1; i < drawer.segments(); ++i) {
        drawer.step(x, y);
        coords[i] = {px + x, hd, py + y};
    }
}

void GLAPIENTRY callback_begin(GLenum which) {
    glBegin(which);
}
void GLAPIENTRY callback_end() {
    glEnd();
}

// GLU reports a failure through this callback, from inside its own calls; the first reason is
// kept for the caller to report once GLU has returned.
void GLAPIENTRY callback_error(GLenum error, void* polygon_data) {
    auto& reason = *static_cast<std::optional<std::string>*>(polygon_data);
    if (!reason) {
        reason = reinterpret_cast<const char*>(gluErrorString(error));
    }
}

// The desk's top face, cut into cells (desk_top.h). The cells without holes are triangulated
// directly, in one batch. GLU cuts each cell with holes: its edge, seen from above, runs
// clockwise and every hole counterclockwise, and the odd winding rule keeps the desk and drops
// the holes. Holes that cross each other or the desk's edge would need a combine callback: GLU
// then draws no top for their cell and reports why.
std::optional<std::string> holes_layer(const hole_drawer& drawer, const level_t& level,
                                       const std::vector<desk_cell>& cells, int countours) {
    const double w = static_cast<double>(level.width) / 2;
    const double h = static_cast<double>(level.height) / 2;
    const double d = static_cast<double>(level.depth) / 2;
    if (countours == 1) {
        glBegin(GL_QUADS);
        glVertex3d(w, d, -h);
        glVertex3d(-w, d, -h);
        glVertex3d(-w, d, h);
        glVertex3d(w, d, h);
        glEnd();
        for (const hole_t& hole : level.holes) {
            draw_circle(drawer, {hole.pos.x, hole.pos.y, d}, hole.size);
        }
        return std::nullopt;
    }

    glBegin(GL_TRIANGLES);
    for (const desk_cell& cell : cells) {
        if (cell.holes.empty()) {
            for (const desk_triangle& triangle : triangulate_convex(cell.boundary)) {
                for (const point2D_t& p : triangle) {
                    glVertex3d(p.x, d, p.y);
                }
            }
        }
    }
    glEnd();

    GLUtesselator* tess = gluNewTess();
    if (tess == nullptr) {
        return "cannot create a GLU tessellator";
    }
    std::optional<std::string> failure;
    gluTessCallback(tess, GLU_TESS_VERTEX, reinterpret_cast<_GLUfuncptr>(glVertex3dv));
    gluTessCallback(tess, GLU_TESS_BEGIN, reinterpret_cast<_GLUfuncptr>(callback_begin));
    gluTessCallback(tess, GLU_TESS_END, reinterpret_cast<_GLUfuncptr>(callback_end));
    gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<_GLUfuncptr>(callback_error));
    // With an edge-flag callback GLU sends one list of triangles per cell instead of many
    // fans and strips, the same pixels. The flags only matter to outlines, and the flag is
    // set back afterwards.
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG, reinterpret_cast<_GLUfuncptr>(glEdgeFlag));
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_ODD);
    gluTessProperty(tess, GLU_TESS_BOUNDARY_ONLY, GL_FALSE);

    const auto segments = static_cast<std::size_t>(drawer.segments());
    for (const desk_cell& cell : cells) {
        if (cell.holes.empty() || failure) {
            continue;
        }
        // Every point stays in place until the polygon is finished: GLU keeps pointers to them.
        const std::size_t edge = cell.boundary.size();
        std::vector<coord_t> coords(edge + cell.holes.size() * segments);
        for (std::size_t i = 0; i < edge; ++i) {
            coords[i] = {cell.boundary[i].x, d, cell.boundary[i].y};
        }
        for (std::size_t i = 0; i < cell.holes.size(); ++i) {
            tess_hole(drawer, level.holes[cell.holes[i]], d, &coords[edge + i * segments]);
        }
        gluTessBeginPolygon(tess, &failure);
        gluTessBeginContour(tess);
        for (std::size_t i = 0; i < edge; ++i) {
            gluTessVertex(tess, coords[i].data(), coords[i].data());
        }
        gluTessEndContour(tess);
        for (std::size_t i = 0; i < cell.holes.size(); ++i) {
            gluTessBeginContour(tess);
            for (std::size_t k = 0; k < segments; ++k) {
                coord_t& c = coords[edge + i * segments + k];
                gluTessVertex(tess, c.data(), c.data());
            }
            gluTessEndContour(tess);
        }
        gluTessEndPolygon(tess);
    }
    gluDeleteTess(tess);
    glEdgeFlag(GL_TRUE);
    return failure;
}

}  // namespace

hole_drawer::hole_drawer(int segments)
    : segments_(segments),
      sina_(std::sin(two_pi / static_cast<double>(segments))),
      cosa_(std::cos(two_pi / static_cast<double>(segments))) {}

std::optional<std::string> hole_drawer::prepare_level(const level_t& level, int countours) const {
    const double w = static_cast<double>(level.width) / 2;
    const double h = static_cast<double>(level.height) / 2;
    const double d = static_cast<double>(level.depth) / 2;
    const RGB_t& c = level.desk_color;
    if (countours == 0) {
        glBegin(GL_QUADS);
        glColor3d(c.r, c.g, c.b);
        for (const hole_t& hole : level.holes) {
            draw_hole(*this, hole, d);
        }
        glEnd();
    }
    if (countours == 1) {
        glColor3d(0, 0, 0);
    } else {
        glColor3d(c.r, c.g, c.b);
    }
    // The four sides; the slab has no bottom face. Filled, each side is cut where the top's
    // cells meet the edge, so that the two share every vertex there and leave no crack along
    // the rim.
    std::vector<desk_cell> cells;
    if (countours == 0) {
        cells = desk_top_cells(level);
    }
    const auto side = [&](double nx, double nz, point2D_t from, point2D_t to) {
        const std::vector<point2D_t> top =
            countours == 0 ? desk_edge_points(cells, from, to) : std::vector<point2D_t>{from, to};
        glNormal3d(nx, 0, nz);
        for (std::size_t i = 0; i + 1 < top.size(); ++i) {
            glVertex3d(top[i].x, d, top[i].y);
            glVertex3d(top[i + 1].x, d, top[i + 1].y);
            glVertex3d(top[i + 1].x, -d, top[i + 1].y);
            glVertex3d(top[i].x, -d, top[i].y);
        }
    };
    glBegin(GL_QUADS);
    side(0, 1, {w, h}, {-w, h});
    side(0, -1, {-w, -h}, {w, -h});
    side(-1, 0, {-w, h}, {-w, -h});
    side(1, 0, {w, -h}, {w, h});
    glEnd();
    glNormal3d(0, 1, 0);
    return holes_layer(*this, level, cells, countours);
}
