#include "tt.h"

void tt_state::setScoreColor(const float* rgb) {
    score_r = rgb[0];
    score_g = rgb[1];
    score_b = rgb[2];
}

int tt_state::timedVectorTextAt1d3f(const std::string& text, double y, float r, float g, float b,
                                    double scale1, double scale2, double secs) {
    for (int i = 0; i < timed_texts_count; ++i) {
        timedText& slot = tt1[i];
        if (slot.active != 0) {
            continue;
        }
        slot.text = text.substr(0, timed_text_max_length);
        slot.y = y;
        slot.x = centred_x;
        slot.r = r;
        slot.g = g;
        slot.b = b;
        slot.secs = secs;
        slot.rt = 0.0;
        slot.scale1 = scale1;
        slot.scale2 = scale2;
        slot.active = 1;
        return i;
    }
    return -1;
}

int tt_state::announce(const std::string& text, double secs) {
    return timedVectorTextAt1d3f(text, 0.0, 0.3f, 0.6f, 0.7f, 3.0, 25.0, secs);
}

void tt_state::timedVectorTextAt2d3f(const std::string& text, double x, double y, float r, float g,
                                     float b, double scale1, double scale2, double secs) {
    const int i = timedVectorTextAt1d3f(text, y, r, g, b, scale1, scale2, secs);
    if (i >= 0) {
        tt1[i].x = x;
    }
}

void tt_state::countTimedTexts(double deltaT) {
    for (timedText& slot : tt1) {
        slot.rt += deltaT;
        if (slot.rt >= slot.secs) {
            slot.active = 0;
        }
    }
}

void tt_state::countFps(double deltaT) {
    if (index > fps_frames - 1) {
        index = 0;
    }
    tt_fps_sum -= history[index];
    history[index] = deltaT;
    index += 1;
    tt_fps_sum += deltaT;
}

double tt_state::getFps() const {
    return 12.0 / tt_fps_sum;
}
