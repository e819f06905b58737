#include "synth.h"

samples_t synthesize(sound_id, int) {
    return samples_t(4410, 0.0f);
}

sound_bank synthesize_sounds() {
    sound_bank bank;
    for (int i = 0; i < sound_count; ++i) {
        bank.sounds[i] = synthesize(static_cast<sound_id>(i));
    }
    for (int v = 0; v < chime_variants; ++v) {
        bank.chimes[v] = synthesize(sound_id::chime, v);
    }
    return bank;
}

const char* sound_name(sound_id id) {
    static constexpr const char* names[sound_count] = {
        "drop", "thud",  "roll",       "click",     "knock", "chime",         "plunk",       "whoosh",
        "beep", "go",    "level_done", "game_over", "key",   "post_accepted", "post_refused"};
    return names[static_cast<int>(id)];
}
