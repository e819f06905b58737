// SPDX-License-Identifier: MIT
#include "quality_cfg.h"

namespace {

void set_segments(quality_cfg_t& q, int shadow, int ball_a, int ball_b, int hole) {
    q.shadow_quality = shadow;
    q.ball_quality_a = ball_a;
    q.ball_quality_b = ball_b;
    q.hole_quality = hole;
}

}  // namespace

quality_cfg_t quality_cfg_init() {
    quality_cfg_t q;
    set_quality_decrease_level(q, 0);
    q.low_fps_time = 0;
    return q;
}

void set_quality_decrease_level(quality_cfg_t& q, int value, const quality_rebuild_hook& rebuild) {
    switch (value) {
        case 0:
            q.antialiasing = 1;
            q.shadows = 1;
            q.outlines = 1;
            q.gate_score = 1;
            // The scene set-up builds from these, so no rebuild here.
            set_segments(q, 24, 24, 15, 36);
            break;
        case 1:
            set_segments(q, 12, 12, 7, 18);
            if (rebuild) {
                rebuild(q);
            }
            break;
        case 2:
            set_segments(q, 8, 8, 5, 12);
            if (rebuild) {
                rebuild(q);
            }
            break;
        case 3:
            q.antialiasing = 0;
            break;
        case 4:
            q.shadows = 0;
            break;
        case 5:
            q.outlines = 0;
            break;
        default:
            break;
    }
    q.current_quality_level = value;
}

void automatic_quality_config(quality_cfg_t& q, double fps, double deltaT,
                              const quality_rebuild_hook& rebuild) {
    if (fps < low_fps_threshold) {
        q.low_fps_time += deltaT;
        if (q.low_fps_time > low_fps_patience) {
            q.low_fps_time = 0;
            q.current_quality_level += 1;
            set_quality_decrease_level(q, q.current_quality_level, rebuild);
        }
    } else {
        q.low_fps_time = 0;
    }
}
