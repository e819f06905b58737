// The OpenGL, GLU and GLUT headers, in one place.
#pragma once

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>
