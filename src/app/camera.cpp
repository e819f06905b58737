// SPDX-License-Identifier: MIT
#include "camera.h"

void debug_camera::onMouseClick(int button, int state, int x, int y) {
    if (button == mouse_left) {
        if (state == mouse_pressed) {
            stav = 1;
            xx1 = x;
            yy1 = y;
        } else {
            stav = 0;
            xold = xnew;
            yold = ynew;
        }
    } else if (button == mouse_right) {
        if (state == mouse_pressed) {
            stav = 2;
            zz1 = y;
        } else {
            stav = 0;
            zold = znew;
        }
    }
}

bool debug_camera::onMouseMotion(int x, int y) {
    if (stav == 1) {
        xnew = x + xold - xx1;
        ynew = y + yold - yy1;
        return true;
    }
    if (stav == 2) {
        znew = y + zold - zz1;
        return true;
    }
    return false;
}
