// Text on screen. The vector font is not built yet: these draw nothing for now, so that the
// scene calls them where the texts belong.
#pragma once

#include <string>

#include "tt.h"

// Text is never fogged; the scene switches fog back on at the end of its frame.
void ttInit();

// Flat and solid text centred at (x, y) of the current matrix, tilted by x_rotation degrees.
void vectorText2DAt2d4f(const std::string& text, double x, double y, double scale, float r, float g,
                        float b, float alpha, float x_rotation);
void vectorText3DAt2d4f(const std::string& text, double x, double y, double scale, float r, float g,
                        float b, float alpha, float x_rotation);

void showScore(const tt_state& tt, unsigned long score);
void showRemainingBalls(unsigned char balls);
void showTimedTexts(const tt_state& tt);
void draw_intro();
void draw_final_screen(bool highscore, bool highscore_success);
