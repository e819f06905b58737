// SPDX-License-Identifier: MIT
// Text on screen: strings of the vector font placed in the scene, the head-up display, the
// intro screen, the end-of-game screen and the banners.
//
// A string is drawn centred on (x, y) of the caller's current frame, scaled, and tilted by
// x_rotation degrees about the x axis: at 90 it stands upright facing +z, at smaller angles
// it leans back with its top edge kept on the line y + scale × height / 2. Each call sets the
// current colour and normal and leaves the matrix as it found it. The glyphs come from the
// font that the caller hands in; with an unbuilt one nothing is drawn.
#pragma once

#include <string_view>

#include "game.h"
#include "tt.h"

class glyph_set;

// Text is never fogged; the scene switches fog back on at the end of its frame.
void ttInit();

// Flat: the glyphs' faces only.
void vectorText2DAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                        double scale, float r, float g, float b, float alpha, float x_rotation);
// Solid: faces and walls 0.25 deep, and with `back` the back faces too.
void vectorText3DAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                        double scale, float r, float g, float b, float alpha, float x_rotation,
                        bool back = false);
// Outlines; smoothed when `smooth` (the quality setting's antialiasing).
void outlineTextAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                       double scale, float r, float g, float b, float alpha, float x_rotation,
                       bool smooth);
// One solid character, not centred: its pen origin on the rotation axis through (x, y), its
// top edge on that axis and the glyph hanging from it.
void vectorChar3DAt2d4f(const glyph_set& glyphs, unsigned char ch, double x, double y, double scale,
                        float r, float g, float b, float alpha, float x_rotation, bool back);

// The head-up display, in the camera frame.
void showScore(const glyph_set& glyphs, const tt_state& tt, unsigned long score);
void showRemainingBalls(const glyph_set& glyphs, unsigned char balls);
void showTimedTexts(const glyph_set& glyphs, const tt_state& tt);

// The intro screen: the tumbling title, the romanised title, the instructions.
void draw_intro(const glyph_set& glyphs, const intro_animation& intro);
// The end-of-game screen, in both of its variants.
void draw_final_screen(const glyph_set& glyphs, const final_screen_t& screen);
// "Level completed!" and its prompt, over the desk.
void draw_level_completed(const glyph_set& glyphs, double total_time);
// "PAUSE", drawn over every screen while the game is paused.
void draw_pause_banner(const glyph_set& glyphs, double total_time);
