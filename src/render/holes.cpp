#include "holes.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gl.h"
#include "math_constants.h"

namespace {

int quality = 0;
double sina = 0.0;
double cosa = 0.0;

// One step of the circle walk: rotate (x, y) by 2π / quality.
void step(double& x, double& y) {
    const double nx = x * cosa - y * sina;
    const double ny = x * sina + y * cosa;
    x = nx;
    y = ny;
}

// The wall quads of one hole, through the whole slab, normals toward its axis.
void draw_hole(const hole_t& hole, double hd) {
    const double r = hole.size / 2;
    const double px = hole.pos.x;
    const double py = hole.pos.y;
    double x1 = r;
    double y1 = 0.0;
    for (int i = 0; i < quality; ++i) {
        double x2 = x1;
        double y2 = y1;
        step(x2, y2);
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
void draw_circle(const point3D_t& pos, double size) {
    const double r = size / 2;
    double x = r;
    double y = 0.0;
    glFrontFace(GL_CW);
    glBegin(GL_POLYGON);
    for (int i = 0; i < quality; ++i) {
        step(x, y);
        glVertex3d(pos.x + x, pos.z, pos.y + y);
    }
    glEnd();
    glFrontFace(GL_CCW);
}

using coord_t = std::array<GLdouble, 3>;

// The rim of a hole as a contour: from angle 0, without repeating the first point.
void tess_hole(const hole_t& hole, double hd, coord_t* coords) {
    const double r = hole.size / 2;
    const double px = hole.pos.x;
    const double py = hole.pos.y;
    coords[0] = {px + r, hd, py + 0};
    double x = r;
    double y = 0.0;
    for (int i = 1; i < quality; ++i) {
        step(x, y);
        coords[i] = {px + x, hd, py + y};
    }
}

void GLAPIENTRY callback_begin(GLenum which) {
    glBegin(which);
}
void GLAPIENTRY callback_end() {
    glEnd();
}

// Holes that cross each other or the desk's edge cannot be cut without a combine callback:
// the level is unplayable, so say so and stop.
void GLAPIENTRY callback_error(GLenum errorCode) {
    std::fprintf(stderr, "kulimbara: cannot build the desk's holes: %s\n",
                 reinterpret_cast<const char*>(gluErrorString(errorCode)));
    std::exit(EXIT_FAILURE);
}

// The desk's top face. Seen from above the outer contour runs clockwise and every hole
// counterclockwise; the odd winding rule keeps the desk and drops the holes.
void holes_layer(const level_t& level, int countours) {
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
            draw_circle({hole.pos.x, hole.pos.y, d}, hole.size);
        }
        return;
    }

    // Every point stays in place until the polygon is finished: GLU keeps pointers to them.
    std::vector<coord_t> coords(4 + level.holes.size() * quality);
    coords[0] = {w, d, -h};
    coords[1] = {-w, d, -h};
    coords[2] = {-w, d, h};
    coords[3] = {w, d, h};
    for (std::size_t i = 0; i < level.holes.size(); ++i) {
        tess_hole(level.holes[i], d, &coords[4 + i * quality]);
    }

    GLUtesselator* tess = gluNewTess();
    if (tess == nullptr) {
        std::fprintf(stderr, "kulimbara: cannot create a GLU tessellator\n");
        std::exit(EXIT_FAILURE);
    }
    gluTessCallback(tess, GLU_TESS_VERTEX, reinterpret_cast<_GLUfuncptr>(glVertex3dv));
    gluTessCallback(tess, GLU_TESS_BEGIN, reinterpret_cast<_GLUfuncptr>(callback_begin));
    gluTessCallback(tess, GLU_TESS_END, reinterpret_cast<_GLUfuncptr>(callback_end));
    gluTessCallback(tess, GLU_TESS_ERROR, reinterpret_cast<_GLUfuncptr>(callback_error));
    // With an edge-flag callback GLU sends the same triangles as one list instead of many
    // fans and strips: one draw instead of hundreds for the software renderer, the same
    // pixels. The flags only matter to outlines, and the flag is set back afterwards.
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG, reinterpret_cast<_GLUfuncptr>(glEdgeFlag));
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_ODD);
    gluTessProperty(tess, GLU_TESS_BOUNDARY_ONLY, GL_FALSE);

    gluTessBeginPolygon(tess, nullptr);
    gluTessBeginContour(tess);
    for (int i = 0; i < 4; ++i) {
        gluTessVertex(tess, coords[i].data(), coords[i].data());
    }
    gluTessEndContour(tess);
    for (std::size_t i = 0; i < level.holes.size(); ++i) {
        gluTessBeginContour(tess);
        for (int k = 0; k < quality; ++k) {
            coord_t& c = coords[4 + i * quality + k];
            gluTessVertex(tess, c.data(), c.data());
        }
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    gluDeleteTess(tess);
    glEdgeFlag(GL_TRUE);
}

}  // namespace

void init_hole_drawer(int quality_) {
    quality = quality_;
    sina = std::sin(two_pi / static_cast<double>(quality));
    cosa = std::cos(two_pi / static_cast<double>(quality));
}

int hole_drawer_quality() {
    return quality;
}

void prepare_level(const level_t& level, int countours) {
    const double w = static_cast<double>(level.width) / 2;
    const double h = static_cast<double>(level.height) / 2;
    const double d = static_cast<double>(level.depth) / 2;
    const RGB_t& c = level.desk_color;
    if (countours == 0) {
        glBegin(GL_QUADS);
        glColor3d(c.r, c.g, c.b);
        for (const hole_t& hole : level.holes) {
            draw_hole(hole, d);
        }
        glEnd();
    }
    if (countours == 1) {
        glColor3d(0, 0, 0);
    } else {
        glColor3d(c.r, c.g, c.b);
    }
    // The four sides; the slab has no bottom face.
    glBegin(GL_QUADS);
    glNormal3d(0, 0, 1);
    glVertex3d(w, d, h);
    glVertex3d(-w, d, h);
    glVertex3d(-w, -d, h);
    glVertex3d(w, -d, h);
    glNormal3d(0, 0, -1);
    glVertex3d(w, -d, -h);
    glVertex3d(-w, -d, -h);
    glVertex3d(-w, d, -h);
    glVertex3d(w, d, -h);
    glNormal3d(-1, 0, 0);
    glVertex3d(-w, d, h);
    glVertex3d(-w, d, -h);
    glVertex3d(-w, -d, -h);
    glVertex3d(-w, -d, h);
    glNormal3d(1, 0, 0);
    glVertex3d(w, -d, h);
    glVertex3d(w, -d, -h);
    glVertex3d(w, d, -h);
    glVertex3d(w, d, h);
    glEnd();
    glNormal3d(0, 1, 0);
    holes_layer(level, countours);
}
