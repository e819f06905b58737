// SPDX-License-Identifier: MIT
// The matrix products that the rolling balls need, on the CPU.
#pragma once

#include "level.h"

// The rotation matrix that glRotated builds: `degrees` about the unit axis (x, y, z),
// column-major. The axis is used as given; callers pass a unit vector.
matrix4_t rotation_matrix_about(double degrees, double x, double y, double z);

// left × right, both column-major, each element summed over k = 0..3 in order.
matrix4_t multiply(const matrix4_t& left, const matrix4_t& right);
