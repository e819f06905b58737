#include "text.h"

#include "gl.h"

void ttInit() {
    glDisable(GL_FOG);
}

void vectorText2DAt2d4f(const std::string&, double, double, double, float, float, float, float,
                        float) {}
void vectorText3DAt2d4f(const std::string&, double, double, double, float, float, float, float,
                        float) {}
void showScore(const tt_state&, unsigned long) {}
void showRemainingBalls(unsigned char) {}
void showTimedTexts(const tt_state&) {}
void draw_intro() {}
void draw_final_screen(bool, bool) {}
