// SPDX-License-Identifier: MIT
// What the game sounds like from frame to frame: the voices that each frame's events start,
// the rolling voice of every ball on the desk, and where they sit around the listener. It only
// reads the game; the voices go to a voice_sink, which the game backs with OpenAL and tests
// with a stand-in that records what it is asked.
#pragma once

#include <optional>
#include <vector>

#include "frame.h"
#include "game.h"
#include "synth.h"

// A place in the listener's frame: the camera at the origin looking down -z, x to the right,
// y up; world units.
struct voice_position {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

class voice_sink {
  public:
    virtual ~voice_sink() = default;
    // A one-shot voice. A voice of play sits at `at` and holds while play is paused; one
    // without a place (the countdown, the name, the post) sits at the listener and never holds.
    virtual void play(sound_id id, int variant, float gain, std::optional<voice_position> at) = 0;
    // The looping rolling voice of `ball`, started on its first call and moved on the next.
    virtual void roll(int ball, float gain, float pitch, voice_position at) = 0;
    virtual void stop_roll(int ball) = 0;
    // P: every voice of play holds, or goes on.
    virtual void pause_play(bool paused) = 0;
    // M: everything silent, or heard again.
    virtual void set_muted(bool muted) = 0;
};

// Where a point in desk coordinates sounds from: placed as the scene draws it (the desk's slope
// and tilt, then the camera), with the depth squeezed so that the desk spans the stereo field
// rather than a narrow angle in front of the listener.
voice_position desk_to_listener(const level_t& level, const point3D_t& desk_point);

class sound_director {
  public:
    // Landings, contacts and rolling are heard from these speeds up (world units a second) and
    // are at full gain from the second. A ball resting on the desk meets it each step at
    // gravity times the step, at most about 3.6 units a second; that is not a landing.
    static constexpr double landing_quiet_speed = 5.0;
    static constexpr double landing_full_speed = 40.0;
    static constexpr double ball_contact_quiet_speed = 0.5;
    static constexpr double ball_contact_full_speed = 8.0;
    static constexpr double block_contact_quiet_speed = 1.0;
    static constexpr double block_contact_full_speed = 12.0;
    static constexpr double rolling_full_speed = 12.0;
    // At most this many contact voices start in one frame, the loudest first; a ball knocks
    // again only after contact_rest_seconds, so that one rattling along a wall is one knock.
    static constexpr int contact_voices_per_frame = 3;
    static constexpr double contact_rest_seconds = 0.06;

    explicit sound_director(voice_sink& sink) : sink_(sink) {}

    // After each frame of the game: the voices that its events start, the rolling voices
    // moved, started and stopped. `sound_on` is the player's choice as it stands (the game's
    // own, or the watcher's while a recorded game is watched).
    void after_frame(const game& g, const std::vector<frame_event>& events, bool sound_on);

    // The balls whose rolling voice is on, for tests and figures.
    int rolling_voices() const;

  private:
    void start(const game& g, const frame_event& event);
    void contacts(const game& g, const std::vector<frame_event>& events);
    void rolling(const game& g, const std::vector<frame_event>& events);
    void stop_rolling();

    voice_sink& sink_;
    std::vector<bool> rolling_;              // per ball: its rolling voice is on
    std::vector<double> last_contact_time_;  // per ball: the level time of its last knock
    std::vector<double> last_landed_time_;   // per ball: the level time it last met the desk
    bool muted_ = false;
    bool paused_ = false;
};
