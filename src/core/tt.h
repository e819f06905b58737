// Head-up display state: the pool of floating texts, the score's place and colour, and
// the frame-rate meter. Drawing lives in the renderer; this is what it draws from.
#pragma once

#include <array>
#include <string>

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

class tt_state {
  public:
    std::array<timedText, timed_texts_count> tt1{};
    double score_x = 30.0;  // right edge of the score
    double score_y = 14.0;  // centre of the score
    unsigned long old_score = 0;
    float score_r = 0.0f;
    float score_g = 0.0f;
    float score_b = 0.0f;
    std::array<double, fps_frames> history{};  // the last twelve frame times (ring)
    double tt_fps_sum = 0.0;
    int index = 0;
    double stime = 0.0;  // seconds since the score last moved

    void setScoreColor(const float* rgb);

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

    void countFps(double deltaT);
    // Mean frame rate over the last twelve frames (infinite before any time has passed).
    double getFps() const;
};
