// SPDX-License-Identifier: MIT
#include <malloc.h>

#include <cmath>

#include "gl.h"
#include "math_constants.h"
#include "scene.h"

namespace {

constexpr GLfloat global_ambient[] = {0.25f, 0.25f, 0.25f, 1.0f};
constexpr GLfloat lt_ambient[] = {0.4f, 0.4f, 0.4f, 1.0f};
constexpr GLfloat lt_diffuse[] = {0.85f, 0.85f, 0.85f, 1.0f};
constexpr GLfloat lt_specular[] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr GLfloat lt_ambient1[] = {0.2f, 0.2f, 0.2f, 1.0f};
constexpr GLfloat lt_diffuse1[] = {0.3f, 0.3f, 0.3f, 1.0f};
constexpr GLfloat lt_specular1[] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr GLfloat mat_ambient[] = {0.64f, 0.1875f, 0.0f, 1.0f};
constexpr GLfloat mat_diffuse[] = {0.64f, 0.1875f, 0.0f, 1.0f};
constexpr GLfloat mat_specular[] = {0.0f, 0.0f, 0.0f, 0.0f};
constexpr GLfloat fogColor[] = {0.0f, 0.0f, 0.0f, 1.0f};

constexpr float fov = 45.0f;
constexpr float near_plane = 1.0f;
constexpr float far_plane = 1000.0f;

}  // namespace

double vertical_fov(double aspect) {
    constexpr double widest = 4.0 / 3.0;
    if (aspect >= widest) {
        return fov;
    }
    const double half = static_cast<double>(fov) / 2 * pi / 180;
    return 2 * std::atan(std::tan(half) * widest / aspect) * 180 / pi;
}

void keep_frame_memory() {
    // Blocks up to 64 MiB come from the heap rather than from fresh mappings, and up to
    // 512 MiB of free heap stay in the process.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}

void init_gl_state() {
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_COLOR_MATERIAL);
    glDepthFunc(GL_LESS);
    glEnable(GL_NORMALIZE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glCullFace(GL_BACK);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);

    glLightfv(GL_LIGHT0, GL_AMBIENT, lt_ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, lt_diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, lt_specular);
    glLightfv(GL_LIGHT1, GL_AMBIENT, lt_ambient1);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, lt_diffuse1);
    glLightfv(GL_LIGHT1, GL_SPECULAR, lt_specular1);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, mat_ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, mat_diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, mat_specular);

    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global_ambient);
    glShadeModel(GL_SMOOTH);

    glFogi(GL_FOG_MODE, GL_EXP);
    glFogfv(GL_FOG_COLOR, fogColor);
    glFogf(GL_FOG_DENSITY, 0.015f);
    glHint(GL_FOG_HINT, GL_DONT_CARE);
    glFogf(GL_FOG_START, 50.0f);
    glFogf(GL_FOG_END, 100.0f);
}

void begin_frame(int w, int h) {
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // A window shrunk to no height would give an infinite aspect.
    const int height = h > 0 ? h : 1;
    const double aspect = static_cast<double>(w) / static_cast<double>(height);
    gluPerspective(vertical_fov(aspect), aspect, near_plane, far_plane);
    glMatrixMode(GL_MODELVIEW);
    // Texts switch fog off and outlines lighting; every frame starts with both on again.
    glEnable(GL_FOG);
    glEnable(GL_LIGHTING);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void load_camera(int xnew, int ynew, int znew) {
    glLoadIdentity();
    glTranslated(0, 10, -70);
    glRotated(40, 1, 0, 0);
    glTranslated(0, znew, 0);
    glRotated(ynew, 1, 0, 0);
    glRotated(xnew, 0, 1, 0);
}
