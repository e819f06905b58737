// SPDX-License-Identifier: MIT
#include "glyphs.h"

#include <cstdio>
#include <deque>
#include <vector>

#include "font_table.h"

namespace {

constexpr double table_unit = 0.01;  // model units per table unit

using coord_t = std::array<GLdouble, 3>;

// What the tessellator callbacks of one glyph share: the glyph's code for messages, and the
// vertices made where contours cross, which GLU holds pointers to until the polygon ends.
struct tess_context {
    int code = 0;
    std::deque<coord_t> combined;  // a deque never moves what it already holds
};

void report(int code, GLenum error) {
    std::fprintf(stderr, "kulimbara: cannot build glyph %d: %s\n", code,
                 reinterpret_cast<const char*>(gluErrorString(error)));
}

void GLAPIENTRY callBackBegin(GLenum which) {
    glBegin(which);
}
void GLAPIENTRY callBackEnd() {
    glEnd();
}
void GLAPIENTRY callBackVertex(const GLdouble* coords) {
    glVertex3dv(coords);
}
void GLAPIENTRY callBackError(GLenum err, void* polygon_data) {
    report(static_cast<tess_context*>(polygon_data)->code, err);
}
void GLAPIENTRY callBackCombine(GLdouble coords[3], void* /*vertex_data*/[4], GLfloat /*weight*/[4],
                                void** dataOut, void* polygon_data) {
    auto* context = static_cast<tess_context*>(polygon_data);
    context->combined.push_back({coords[0], coords[1], coords[2]});
    *dataOut = context->combined.back().data();
}

// A glyph without contours has no lists, and list 0 is no list at all.
void call(GLuint list) {
    if (list != 0) {
        glCallList(list);
    }
}

GLuint begin_list() {
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    return list;
}

// The face: the contours tessellated by the odd winding rule, so that holes stay open. The
// edge-flag callback makes GLU send plain triangles, one batch per glyph.
GLuint compile_face(GLUtesselator* tess, int code, const glyph_record& record) {
    std::vector<std::vector<coord_t>> contours;  // model units; GLU keeps pointers into them
    contours.reserve(record.contours.size());
    for (const std::vector<point>& contour : record.contours) {
        std::vector<coord_t>& coords = contours.emplace_back();
        coords.reserve(contour.size());
        for (const point& p : contour) {
            coords.push_back({p.xyz[0] * table_unit, 0.0, p.xyz[2] * table_unit});
        }
    }
    tess_context context{code, {}};
    gluTessCallback(tess, GLU_TESS_BEGIN, reinterpret_cast<_GLUfuncptr>(callBackBegin));
    gluTessCallback(tess, GLU_TESS_END, reinterpret_cast<_GLUfuncptr>(callBackEnd));
    gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<_GLUfuncptr>(callBackError));
    gluTessCallback(tess, GLU_TESS_VERTEX, reinterpret_cast<_GLUfuncptr>(callBackVertex));
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<_GLUfuncptr>(callBackCombine));
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG, reinterpret_cast<_GLUfuncptr>(glEdgeFlag));

    const GLuint list = begin_list();
    gluTessBeginPolygon(tess, &context);
    for (std::vector<coord_t>& coords : contours) {
        gluTessBeginContour(tess);
        for (coord_t& c : coords) {
            gluTessVertex(tess, c.data(), c.data());
        }
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    glEdgeFlag(GL_TRUE);
    glEndList();
    return list;  // the combined vertices go with the context, after the list is closed
}

// The side walls: one quad per contour edge, 0.25 deep along +y, its normal (-dz, 0, dx)
// following the contour's direction.
GLuint compile_walls(const glyph_record& record) {
    const auto depth = static_cast<GLfloat>(glyph_depth);
    const GLuint list = begin_list();
    glBegin(GL_QUADS);
    for (const std::vector<point>& contour : record.contours) {
        for (std::size_t k = 0; k + 1 < contour.size(); ++k) {
            const double x0 = contour[k].xyz[0];
            const double z0 = contour[k].xyz[2];
            const double x1 = contour[k + 1].xyz[0];
            const double z1 = contour[k + 1].xyz[2];
            if (x0 == x1 && z0 == z1) {
                continue;  // the repeated closing point: a wall of no area
            }
            const auto ax = static_cast<GLfloat>(x0 * table_unit);
            const auto az = static_cast<GLfloat>(z0 * table_unit);
            const auto bx = static_cast<GLfloat>(x1 * table_unit);
            const auto bz = static_cast<GLfloat>(z1 * table_unit);
            glNormal3f(static_cast<GLfloat>(-(z1 - z0)), 0.0f, static_cast<GLfloat>(x1 - x0));
            glVertex3f(ax, 0.0f, az);
            glVertex3f(bx, 0.0f, bz);
            glVertex3f(bx, depth, bz);
            glVertex3f(ax, depth, az);
        }
    }
    glEnd();
    glEndList();
    return list;
}

// The outline: a line loop per contour, its closing repeat left to the loop.
GLuint compile_outline(const glyph_record& record) {
    const GLuint list = begin_list();
    for (const std::vector<point>& contour : record.contours) {
        glBegin(GL_LINE_LOOP);
        for (std::size_t k = 0; k + 1 < contour.size(); ++k) {
            glVertex3f(static_cast<GLfloat>(contour[k].xyz[0] * table_unit), 0.0f,
                       static_cast<GLfloat>(contour[k].xyz[2] * table_unit));
        }
        glEnd();
    }
    glEndList();
    return list;
}

}  // namespace

glCharacter createCharacter(int code, const glyph_record& record) {
    glCharacter glyph;
    glyph.width = record.width;
    glyph.height = record.height;
    if (record.contours.empty()) {
        return glyph;  // the space: metrics only
    }
    GLUtesselator* tess = gluNewTess();
    if (tess == nullptr) {
        report(code, GLU_OUT_OF_MEMORY);
        return glyph;
    }
    glyph.displayList[0] = compile_face(tess, code, record);
    gluDeleteTess(tess);
    glyph.displayList[1] = compile_walls(record);
    glyph.displayList[2] = compile_outline(record);
    return glyph;
}

void createFontCLs(std::span<glCharacter> gl_table, std::span<const std::int32_t> font_table) {
    walk_font_table(font_table, [&](int code, int polygons, const glyph_record& record) {
        if (polygons != -1 && static_cast<std::size_t>(code) < gl_table.size()) {
            gl_table[code] = createCharacter(code, record);
        }
    });
}

void glyph_set::fontInit() {
    if (font_built) {
        return;
    }
    createFontCLs(acme_gl, {acme_chartable, acme_chartable_size});
    font_built = true;
}

const glCharacter* glyph_set::built_glyph(unsigned char ch) const {
    if (!font_built || ch < first_glyph_code || ch > last_glyph_code) {
        return nullptr;
    }
    return &acme_gl[ch];
}

namespace {

// The solid glyph in the winding that the caller has set: the face at y = 0, the walls
// behind it. Leaves a matrix pushed and moved 0.25 back, where f3dChar draws the back face;
// the caller pops it.
void solid_glyph(const glCharacter& glyph) {
    glPushMatrix();
    glNormal3f(0.0f, 0.0f, -1.0f);
    call(glyph.displayList[0]);
    glTranslated(0.0, -glyph_depth, 0.0);
    call(glyph.displayList[1]);
}

void flat_glyph(const glCharacter& glyph) {
    glNormal3f(0.0f, 0.0f, -1.0f);
    call(glyph.displayList[0]);
    glTranslated(glyph.width, 0.0, 0.0);
}

}  // namespace

void glyph_set::f3dChar(unsigned char ch, bool back) const {
    const glCharacter* glyph = built_glyph(ch);
    if (glyph == nullptr) {
        return;
    }
    // The tessellated face runs clockwise when seen from its reading side.
    glFrontFace(GL_CW);
    solid_glyph(*glyph);
    glFrontFace(GL_CCW);
    if (back) {
        // The same face 0.25 behind, front-facing from the other side.
        glNormal3f(0.0f, 0.0f, 1.0f);
        call(glyph->displayList[0]);
    }
    glPopMatrix();
    glTranslated(glyph->width, 0.0, 0.0);
}

void glyph_set::f2dChar(unsigned char ch) const {
    const glCharacter* glyph = built_glyph(ch);
    if (glyph == nullptr) {
        return;
    }
    glFrontFace(GL_CW);
    flat_glyph(*glyph);
    glFrontFace(GL_CCW);
}

void glyph_set::f3dText(std::string_view text) const {
    glFrontFace(GL_CW);
    for (const char c : text) {
        if (const glCharacter* glyph = built_glyph(static_cast<unsigned char>(c))) {
            solid_glyph(*glyph);
            glPopMatrix();
            glTranslated(glyph->width, 0.0, 0.0);
        }
    }
    glFrontFace(GL_CCW);
}

void glyph_set::f2dText(std::string_view text) const {
    glFrontFace(GL_CW);
    for (const char c : text) {
        if (const glCharacter* glyph = built_glyph(static_cast<unsigned char>(c))) {
            flat_glyph(*glyph);
        }
    }
    glFrontFace(GL_CCW);
}

void glyph_set::fOutlineChar(unsigned char ch) const {
    const glCharacter* glyph = built_glyph(ch);
    if (glyph == nullptr) {
        return;
    }
    glNormal3d(0.0, 0.0, -1.0);
    call(glyph->displayList[2]);
    glTranslated(glyph->width, 0.0, 0.0);
}
