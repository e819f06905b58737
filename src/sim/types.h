// SPDX-License-Identifier: MIT
// Geometric types shared by the whole game.
#pragma once

struct point3D_t {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};
using vector3D_t = point3D_t;

struct point2D_t {
    double x = 0.0;
    double y = 0.0;
};
using vector2D_t = point2D_t;

struct RGB_t {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};
