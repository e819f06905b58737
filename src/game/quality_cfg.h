// SPDX-License-Identifier: MIT
// Rendering quality settings, lowered one level at a time while the frame rate stays low.
#pragma once

#include <functional>

struct quality_cfg_t {
    int antialiasing = 0;    // smoothed outlines
    int shadows = 0;         // stencil shadows
    int outlines = 0;        // black outlines of desk, blocks and gates
    int gate_score = 0;      // unused
    int shadow_quality = 0;  // sides of a ball's shadow cone
    int ball_quality_a = 0;  // slices of a ball
    int ball_quality_b = 0;  // stacks of a ball
    int hole_quality = 0;    // segments of a hole's circle
    int current_quality_level = 0;
    double low_fps_time = 0.0;  // seconds of uninterrupted low frame rate
    int display_FPS = 0;        // unused
};

// Called after a level change that alters hole or shadow segment counts: the renderer
// recomputes its shadow constants and rebuilds the desk's display lists.
using quality_rebuild_hook = std::function<void(const quality_cfg_t&)>;

constexpr double low_fps_threshold = 25.0;
constexpr double low_fps_patience = 1.5;  // seconds
constexpr int lowest_quality_level = 5;   // the last level that changes anything

quality_cfg_t quality_cfg_init();

// Applies the changes of level `value` on top of the current settings and records `value`.
void set_quality_decrease_level(quality_cfg_t& quality_cfg, int value,
                                const quality_rebuild_hook& rebuild = {});

// Once per frame, in every state: drops a level after more than 1.5 s of frames below
// 25 frames per second.
void automatic_quality_config(quality_cfg_t& quality_cfg, double fps, double deltaT,
                              const quality_rebuild_hook& rebuild = {});
