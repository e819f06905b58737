// SPDX-License-Identifier: MIT
// The OpenGL, GLU and GLUT headers, in one place.
#pragma once

// The OpenGL 2 functions (two-sided stencil) are declared only when asked for.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
