// SPDX-License-Identifier: MIT
#include "text.h"

#include <cmath>
#include <string>
#include <vector>

#include "font.h"
#include "gl.h"
#include "glyphs.h"

namespace {

constexpr float hud_tilt = 45.0f;  // degrees: the head-up texts lean back toward the camera

// The common part of the three looks: colour, the centring frame, then the glyphs.
template <typename DrawText>
void draw_string(std::string_view text, double x, double y, double scale, float r, float g, float b,
                 float alpha, float x_rotation, DrawText draw_text) {
    glColor4f(r, g, b, alpha);
    glPushMatrix();
    glTranslated(x, y, 0.0);
    glScaled(scale, scale, scale);
    glTranslatef(static_cast<float>(-pixlen(text) / 2), static_cast<float>(pixheight(text) / 2),
                 0.0f);
    glRotatef(x_rotation, 1.0f, 0.0f, 0.0f);
    draw_text(text);
    glPopMatrix();
}

// The screen frame of the banners and the end-of-game screen: 5 up, 20 toward the camera.
void enter_banner_frame() {
    glPushMatrix();
    glTranslated(0.0, 5.0, 20.0);
}

// A red solid headline 12 above the banner frame that swings about the vertical and breathes.
void draw_headline(const glyph_set& glyphs, std::string_view text, double t) {
    const double sin_time = std::sin(t);
    const double sin_time2 = std::sin(2 * t);
    glPushMatrix();
    glTranslated(0.0, 12.0, 0.0);
    glRotated(sin_time * 10, 0.0, 1.0, 0.0);
    vectorText3DAt2d4f(glyphs, text, 0.0, 0.0, sin_time2 * 0.2 + 1.9, 1.0f, 0.0f, 0.0f,
                       static_cast<float>(sin_time2 * 0.1 + 0.9), 45.0f);
    glPopMatrix();
}

}  // namespace

void ttInit() {
    glDisable(GL_FOG);
}

void vectorText2DAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                        double scale, float r, float g, float b, float alpha, float x_rotation) {
    draw_string(text, x, y, scale, r, g, b, alpha, x_rotation,
                [&glyphs](std::string_view run) { glyphs.f2dText(run); });
}

void vectorText3DAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                        double scale, float r, float g, float b, float alpha, float x_rotation,
                        bool back) {
    draw_string(text, x, y, scale, r, g, b, alpha, x_rotation,
                [&glyphs, back](std::string_view run) {
                    if (!back) {
                        glyphs.f3dText(run);
                        return;
                    }
                    for (const char c : run) {
                        glyphs.f3dChar(static_cast<unsigned char>(c), true);
                    }
                });
}

void outlineTextAt2d4f(const glyph_set& glyphs, std::string_view text, double x, double y,
                       double scale, float r, float g, float b, float alpha, float x_rotation,
                       bool smooth) {
    if (smooth) {
        glEnable(GL_LINE_SMOOTH);
    }
    draw_string(text, x, y, scale, r, g, b, alpha, x_rotation, [&glyphs](std::string_view run) {
        for (const char c : run) {
            glyphs.fOutlineChar(static_cast<unsigned char>(c));
        }
    });
    if (smooth) {
        glDisable(GL_LINE_SMOOTH);
    }
}

void vectorChar3DAt2d4f(const glyph_set& glyphs, unsigned char ch, double x, double y, double scale,
                        float r, float g, float b, float alpha, float x_rotation, bool back) {
    glColor4f(r, g, b, alpha);
    glPushMatrix();
    glTranslated(x, y, 0.0);
    glScaled(scale, scale, scale);
    glRotatef(x_rotation, 1.0f, 0.0f, 0.0f);
    // Along the glyph's depth axis, after the turn.
    glTranslated(0.0, f3dHeight(ch) / 2, 0.0);
    glyphs.f3dChar(ch, back);
    glPopMatrix();
}

void showScore(const glyph_set& glyphs, const tt_state& tt, unsigned long score) {
    const score_view view = tt.score_at(score);
    vectorText3DAt2d4f(glyphs, view.number, view.x, view.y, score_scale, view.r, view.g, view.b,
                       1.0f, hud_tilt);
}

void showRemainingBalls(const glyph_set& glyphs, unsigned char balls) {
    glPushMatrix();
    vectorText2DAt2d4f(glyphs, "Balls left:", -25.0, 15.0, 0.8, 1.0f, 1.0f, 1.0f, 1.0f, hud_tilt);
    vectorText2DAt2d4f(glyphs, std::to_string(balls), -14.0, 15.0, 0.8, 1.0f, 0.0f, 0.0f, 1.0f,
                       hud_tilt);
    glPopMatrix();
}

void showTimedTexts(const glyph_set& glyphs, const tt_state& tt) {
    glPushMatrix();
    // Floating texts cover the scene; a later slot covers an earlier one.
    glDisable(GL_DEPTH_TEST);
    for (const timedText& slot : tt.tt1) {
        if (slot.active != 1) {
            continue;
        }
        const double x = slot.x == centred_x ? 0.0 : slot.x;
        vectorText3DAt2d4f(glyphs, slot.text, x, slot.y, slot.scaler(), slot.r, slot.g, slot.b,
                           slot.alpha(), hud_tilt);
    }
    glEnable(GL_DEPTH_TEST);
    glPopMatrix();
}

void draw_intro(const glyph_set& glyphs, const intro_animation& intro) {
    ttInit();
    // The title row, centred on x = 0; each letter bobs and tumbles about its own pen position.
    constexpr double title_scale = 3.6;
    const std::string title = intro_animation::game_name_text();
    double pen = -pixlen(title) * title_scale / 2.0;
    for (int i = 0; i < game_name_length; ++i) {
        const unsigned char letter = intro_animation::game_name[i];
        vectorChar3DAt2d4f(glyphs, letter, pen, intro.game_name_letter_offset[i] + 9.0, title_scale,
                           0.2f, 0.3f, 1.0f, 1.0f,
                           static_cast<float>(intro.game_name_letter_rotation[i] + 45.0), true);
        pen += f3dWidth(letter) * title_scale;
    }

    // The romanised title and the subtitle sway together about the vertical.
    glPushMatrix();
    glRotated(intro.latin_angle, 0.0, 1.0, 0.0);
    vectorText3DAt2d4f(glyphs, "Kulimbara", 0.0, -5.0, 2.0, 1.0f, 1.0f, 0.0f, 1.0f,
                       static_cast<float>(intro.latin_angle2 + 60.0));
    // A red above 1 saturates to a glowing red-orange.
    vectorText2DAt2d4f(glyphs, "Steer the rolling balls through the gates", 0.0, -12.0, 1.0, 8.0f,
                       0.4f, 0.0f, 1.0f, 22.5f);
    glPopMatrix();

    const double localtime = intro.localtime;
    vectorText3DAt2d4f(glyphs, "Your goal is to balance the desk by", 0.0, -30.0, 1.5, 0.33f, 0.66f,
                       1.0f, static_cast<float>(std::cos(8 * localtime) * 0.2 + 0.8), 5.0f);
    vectorText3DAt2d4f(glyphs, "pressing or releasing the SPACEBAR", 0.0, -40.0, 1.5, 0.33f, 0.66f,
                       1.0f, static_cast<float>(std::sin(8 * localtime) * 0.2 + 0.8), 5.0f);
    vectorText2DAt2d4f(glyphs, "Press ENTER to start!", 37.0, -65.0, 1.0, 1.0f, 1.0f, 1.0f,
                       static_cast<float>(std::sin(8 * localtime) * 0.6 + 0.6), 45.0f);
}

void draw_final_screen(const glyph_set& glyphs, const final_screen_t& screen) {
    const double t = screen.total_time;
    const double sin_time = std::sin(t);
    const double sin_time2 = std::sin(2 * t);
    const double sin_time8 = std::sin(8 * t);
    const auto breathing_alpha = static_cast<float>(sin_time2 * 0.1 + 0.9);
    const auto blinking_alpha = static_cast<float>(sin_time8 * 0.4 + 0.4);

    enter_banner_frame();
    draw_headline(glyphs, "Game over!", t);

    // The score nods about the horizontal.
    glPushMatrix();
    glTranslated(0.0, 6.0, 0.0);
    glRotated(sin_time * 15 - 20, 1.0, 0.0, 0.0);
    vectorText3DAt2d4f(glyphs, std::to_string(screen.score), 0.0, 0.0, 1.5, 1.0f, 1.0f, 0.0f,
                       breathing_alpha, 45.0f);
    glPopMatrix();

    // The name pulses in size and stretch.
    glPushMatrix();
    glTranslated(0.0, -4.0, 0.0);
    glRotated(-30.0, 1.0, 0.0, 0.0);
    glScaled(1.0, sin_time8 * 0.2 + 1.1, 1.0);
    vectorText3DAt2d4f(glyphs, screen.player_name, 0.0, 0.0, sin_time8 * 0.2 + 1.9, 0.0f, 1.0f,
                       0.0f, breathing_alpha, 45.0f);
    glPopMatrix();

    if (!screen.highscore && !screen.watched_replay) {
        // The result, then why a post failed, then where it went.
        std::vector<std::string> lines;
        if (screen.post_under_way) {
            lines.push_back("Trying again...");
        } else if (screen.highscore_success) {
            lines.push_back(screen.rank > 0
                                ? "High score posted: Rank " + std::to_string(screen.rank)
                                : "High score successfully posted!");
        } else if (screen.no_board) {
            lines.push_back("No high-score board is set up");
        } else {
            lines.push_back("High score post failed!");
            if (!screen.post_words.empty()) {
                lines.push_back(screen.post_words);
            }
        }
        if (!screen.board_address.empty()) {
            lines.push_back("High-score board: " + screen.board_address);
        }
        glPushMatrix();
        glTranslated(0.0, -10.0, 0.0);
        double y = 0.0;
        for (const std::string& line : lines) {
            vectorText2DAt2d4f(glyphs, line, 0.0, y, 0.5, 1.0f, 1.0f, 0.0f, blinking_alpha, 45.0f);
            y -= 2.0;
        }
        glPopMatrix();
    }

    glPushMatrix();
    glTranslated(0.0, -16.0, 0.0);
    if (screen.watched_replay) {
        vectorText2DAt2d4f(glyphs, "A recorded game: press ESCAPE to exit...", 0.0, 0.0, 0.5, 1.0f,
                           1.0f, 1.0f, blinking_alpha, 45.0f);
    } else if (screen.highscore) {
        vectorText2DAt2d4f(glyphs, "Type your name and press ENTER to post your score online", 0.0,
                           0.0, 0.5, 1.0f, 1.0f, 1.0f, blinking_alpha, 45.0f);
        vectorText2DAt2d4f(glyphs, "or ESCAPE to exit...", 0.0, -2.0, 0.5, 1.0f, 1.0f, 1.0f,
                           blinking_alpha, 45.0f);
    } else {
        vectorText2DAt2d4f(glyphs, "Press ESCAPE to exit...", 0.0, 0.0, 0.5, 1.0f, 1.0f, 1.0f,
                           blinking_alpha, 45.0f);
        if (!screen.post_under_way) {
            const bool retry = !screen.highscore_success && screen.retryable;
            vectorText2DAt2d4f(glyphs,
                               retry ? "Press ENTER to try again or N for a new game"
                                     : "Press ENTER for a new game",
                               0.0, -2.0, 0.5, 1.0f, 1.0f, 1.0f, blinking_alpha, 45.0f);
        }
    }
    glPopMatrix();
    glPopMatrix();
}

void draw_level_completed(const glyph_set& glyphs, double total_time) {
    const double sin_time8 = std::sin(8 * total_time);
    enter_banner_frame();
    draw_headline(glyphs, "Level completed!", total_time);
    glPushMatrix();
    glTranslated(0.0, 4.0, 0.0);
    vectorText2DAt2d4f(glyphs, "Press ENTER to continue...", 0.0, 0.0, 0.75, 1.0f, 1.0f, 1.0f,
                       static_cast<float>(sin_time8 * 0.4 + 0.4), 45.0f);
    glPopMatrix();
    glPopMatrix();
}

void draw_pause_banner(const glyph_set& glyphs, double total_time) {
    const double alpha = std::sin(total_time) * 0.5 + 0.5;
    vectorText2DAt2d4f(glyphs, "PAUSE", 0.0, 3.0, 5.0, 1.0f, 1.0f, 1.0f, static_cast<float>(alpha),
                       30.0f);
}
