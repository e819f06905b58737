// SPDX-License-Identifier: MIT
#include "level.h"

void init_balls(level_t& level) {
    for (ball_t& ball : level.balls) {
        ball.rotation_matrix = identity_matrix;
    }
}
