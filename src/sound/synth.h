// SPDX-License-Identifier: MIT
// The game's sounds, synthesized in code at start-up so that the game needs no data files:
// mono, sound_sample_rate samples a second, floats in [-1, 1].
#pragma once

#include <array>
#include <vector>

constexpr int sound_sample_rate = 44100;

enum class sound_id : int {
    drop,           // a ball released: a soft drop
    thud,           // a ball landing on the desk
    roll,           // a ball rolling: a loop that joins seamlessly, played with a gain and pitch
    click,          // ball against ball
    knock,          // ball against block
    chime,          // a gate scored; its pitch rises with the points (see chime_variant)
    plunk,          // a ball falling into a hole
    whoosh,         // a ball falling over the desk's edge
    beep,           // the countdown's "3", "2" and "1"
    go,             // the countdown's "PLAY!", higher
    level_done,     // a level completed
    game_over,      // the last level done
    key,            // a key typed into the name
    post_accepted,  // the score posted
    post_refused,   // the score not posted
};
constexpr int sound_count = 15;

// Gates score 10 to 100 points; a chime is synthesized for each ten, and other points take the
// nearest one.
constexpr int chime_variants = 10;
constexpr int chime_variant(int points) {
    const int tens = (points + 5) / 10;
    return tens < 1 ? 0 : tens > chime_variants ? chime_variants - 1 : tens - 1;
}

using samples_t = std::vector<float>;

// One sound; for sound_id::chime, `variant` is chime_variant(points), else 0.
samples_t synthesize(sound_id id, int variant = 0);

// Every sound, as the game plays them.
struct sound_bank {
    std::array<samples_t, sound_count> sounds;  // the chime's slot holds variant 0
    std::array<samples_t, chime_variants> chimes;

    const samples_t& get(sound_id id, int variant = 0) const {
        return id == sound_id::chime ? chimes.at(variant) : sounds.at(static_cast<int>(id));
    }
};
sound_bank synthesize_sounds();

// The sound's name, for logs and tests: "drop", "thud", ...
const char* sound_name(sound_id id);
