// SPDX-License-Identifier: MIT
#include "matrix.h"

#include <cmath>

#include "math_constants.h"

matrix4_t rotation_matrix_about(double degrees, double x, double y, double z) {
    const double radians = degrees * pi / 180.0;
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    const double t = 1.0 - c;
    // Element (row r, column c) lives at [c * 4 + r].
    return {
        x * x * t + c,
        y * x * t + z * s,
        x * z * t - y * s,
        0.0,  // column 0
        x * y * t - z * s,
        y * y * t + c,
        y * z * t + x * s,
        0.0,  // column 1
        x * z * t + y * s,
        y * z * t - x * s,
        z * z * t + c,
        0.0,  // column 2
        0.0,
        0.0,
        0.0,
        1.0,  // column 3
    };
}

matrix4_t multiply(const matrix4_t& left, const matrix4_t& right) {
    matrix4_t product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = left[0 * 4 + row] * right[column * 4 + 0];
            for (int k = 1; k < 4; ++k) {
                sum = sum + left[k * 4 + row] * right[column * 4 + k];
            }
            product[column * 4 + row] = sum;
        }
    }
    return product;
}
