// SPDX-License-Identifier: MIT
// Head-up display state: the pool of floating texts, the score's place, colour and shiver,
// the frame-rate meter and the intro's title animation. Drawing lives in the renderer; this
// is what it draws from.
#pragma once

#include <array>
#include <string>

#include "frame.h"

struct timedText {
    std::string text;  // at most 255 characters
    double y = 0.0;    // centre, in the caller's frame
    double x = 0.0;    // centre; centred_x marks a text centred on x = 0
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    double secs = 0.0;    // lifetime
    double rt = 0.0;      // running time since the start
    double scale1 = 0.0;  // scale at the start
    double scale2 = 0.0;  // scale at the end of the lifetime
    int active = 0;

    // Scale and opacity at the current running time: linear from scale1 to scale2 and
    // from 1 to 0 over the lifetime.
    double scaler() const { return scale1 - (scale1 - scale2) * rt / secs; }
    float alpha() const { return static_cast<float>(1 - rt / secs); }
};

constexpr double centred_x = -1.0;
constexpr int timed_texts_count = 8;
constexpr int fps_frames = 12;
constexpr std::size_t timed_text_max_length = 255;

// The score rests with its right edge on x = 30 and its centre on y = 14 of the camera frame.
constexpr double score_base_x = 30.0;
constexpr double score_base_y = 14.0;
constexpr double score_scale = 2.2;

// What the score looks like in one frame: the number centred on (x, y) at score_scale.
struct score_view {
    std::string number;
    double x = 0.0;
    double y = 0.0;
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
};

// The intro's title: eleven title glyphs that bob up and down in a triangle wave, one of them
// tumbling at a time, and the sway of the romanised title under it.
constexpr int game_name_length = 11;

class intro_animation {
  public:
    // The title as title-glyph codes; glyph 134 stands both 7th and 11th.
    static constexpr std::array<unsigned char, game_name_length> game_name = {
        128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 134};

    std::array<double, game_name_length> game_name_letter_offset{};    // vertical, model units
    std::array<double, game_name_length> game_name_letter_rotation{};  // tumble, 0 to 360 degrees
    double totaltime = 2.0;     // phase of the bobbing, 0 to 8 seconds
    double localtime = 0.0;     // seconds spent on the intro screen, reset only by a new game
    int rotation_index = -1;    // the tumbling letter; -1 between two tumbles
    double latin_angle = 0.0;   // sway of the romanised title about the vertical, degrees
    double latin_angle2 = 0.0;  // swing of its tilt, degrees

    // Advances the bobbing, the tumble and the sway by one frame of `deltaT` seconds.
    void menu_animation_step(double deltaT);
    // The title as a string of its codes, for measuring.
    static std::string game_name_text();
};

class tt_state {
  public:
    std::array<timedText, timed_texts_count> tt1{};
    double score_x = score_base_x;  // right edge of the score
    double score_y = score_base_y;  // centre of the score
    unsigned long old_score = 0;
    float score_r = 0.0f;
    float score_g = 0.0f;
    float score_b = 0.0f;
    std::array<double, fps_frames> history{};  // the last twelve frame times (ring)
    double tt_fps_sum = 0.0;
    int index = 0;
    double stime = 0.0;  // seconds since the score last moved
    intro_animation intro;

    void setScoreColor(const float* rgb);
    // A new game: no floating texts, the score at rest at 0, the intro from its start. The
    // frame-rate meter carries on, so that the quality control does not see a drop.
    void restart();

    // Starts a text centred on x = 0 in the lowest free slot and returns the slot, or -1
    // (and drops the text) when all are busy. Longer texts are cut to 255 characters.
    int timedVectorTextAt1d3f(const std::string& text, double y, float r, float g, float b,
                              double scale1, double scale2, double secs);
    // An announcement centred on x = 0 (a countdown number, a gate's points): it grows from
    // scale 3 to 25 in the game's blue-green while it fades.
    int announce(const std::string& text, double secs);
    // The same, centred on `x`.
    void timedVectorTextAt2d3f(const std::string& text, double x, double y, float r, float g,
                               float b, double scale1, double scale2, double secs);
    // Ages every slot and frees those whose time is up.
    void countTimedTexts(double deltaT);

    // The shiver, once per frame outside the intro: every tenth of a second the score leaves a
    // briefly swelling copy of itself where it stood and jumps to a random point near its
    // resting place, the nearer the slower the frames.
    void moveScore(double td);
    // Once per frame while the desk is shown, after the frame's work: a growing copy of the
    // score starts whenever it differs from the last score seen.
    void follow_score(unsigned long score);
    // Where and how the score is drawn in this frame.
    score_view score_at(unsigned long score) const;

    // The floating texts that the frame's events start: a gate's points, a countdown step.
    void consume(const frame_event& event);

    void countFps(double deltaT);
    // Mean frame rate over the last twelve frames (infinite before any time has passed).
    double getFps() const;
};
