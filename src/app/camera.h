// SPDX-License-Identifier: MIT
// The mouse-driven camera of debug mode: dragging with the left button turns the view by a
// degree per pixel, dragging with the right button lifts the scene by a unit per pixel, and
// each drag continues from where the previous one ended.
#pragma once

constexpr int mouse_left = 0;
constexpr int mouse_right = 2;
constexpr int mouse_pressed = 0;

struct debug_camera {
    int stav = 0;  // 0 no drag, 1 turning (left button), 2 lifting (right button)
    int xnew = 0;  // degrees about the vertical axis
    int ynew = 0;  // degrees about the horizontal axis
    int znew = 0;  // vertical offset
    int xold = 0, yold = 0, zold = 0;  // committed when the last drag ended
    int xx1 = 0, yy1 = 0, zz1 = 0;     // where the current drag began

    void onMouseClick(int button, int state, int x, int y);
    // True when a drag moved the view.
    bool onMouseMotion(int x, int y);
};
