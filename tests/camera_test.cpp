// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <tuple>

#include "camera.h"

namespace {

TEST(DebugCamera, DragsTurnAndLiftAndContinueFromTheLastOne) {
    debug_camera camera;
    camera.onMouseClick(mouse_left, mouse_pressed, 100, 100);
    EXPECT_TRUE(camera.onMouseMotion(130, 90));
    EXPECT_EQ(std::tuple(camera.xnew, camera.ynew), std::tuple(30, -10));
    camera.onMouseClick(mouse_left, 1, 130, 90);
    EXPECT_FALSE(camera.onMouseMotion(500, 500));  // no button held: nothing moves

    camera.onMouseClick(mouse_left, mouse_pressed, 0, 0);
    camera.onMouseMotion(5, 5);
    EXPECT_EQ(std::tuple(camera.xnew, camera.ynew), std::tuple(35, -5));  // from the last drag

    // Releasing the left button during a right drag commits the turn and ends the drag.
    camera.onMouseClick(mouse_right, mouse_pressed, 0, 200);
    camera.onMouseMotion(0, 190);
    EXPECT_EQ(camera.znew, -10);
    camera.onMouseClick(mouse_left, 1, 0, 190);
    EXPECT_EQ(std::tuple(camera.stav, camera.xold, camera.zold), std::tuple(0, 35, 0));
    camera.onMouseClick(1, mouse_pressed, 0, 0);  // the middle button does nothing
    EXPECT_EQ(camera.stav, 0);
}

}  // namespace
