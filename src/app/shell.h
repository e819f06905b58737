// SPDX-License-Identifier: MIT
// A game drawn in a window: the game, the scene that draws it, its replay as it is recorded
// and the score post's worker, with what the game's events ask of them done between a frame's
// work and its drawing. The game itself, every tool that draws it and its tests advance it
// through frame().
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "client.h"
#include "director.h"
#include "frame.h"
#include "game.h"
#include "random.h"
#include "replay.h"
#include "scene.h"

class drawn_game {
  public:
    // Start-up: the game's first level on its opening screen, set up for drawing. Needs the
    // OpenGL context. This and frame() throw desk_build_error for a level that cannot be drawn.
    void Init(int first_level = 0);

    // One frame of the game, recorded, then what its events ask for: a level's geometry built,
    // the desk rebuilt after a quality drop, the score post started (with the game's replay,
    // named, when it was recorded whole).
    const std::vector<frame_event>& frame(const frame_input& input);

    // The score post's result for the next frame's input: set once the attempt under way is
    // over (a failure is also told on standard error).
    std::optional<post_outcome> poll_score_post();

    // Sets the game, still on its intro, to be driven by the frames of `r`, as the replay's
    // player found it: SPACE held and the pause as they stood. Its end screen then shows the
    // recorded name, and no prompt.
    void watch(const replay& r);

    // Where the game's voices go, from the next frame on; without one, the game is silent.
    // Set before Init() to hear the first level's set-up.
    void sound_to(voice_sink& sink);
    // --mute: the game starts with its sound off (M turns it on).
    void start_muted();
    // M while a recorded game is watched: the watcher's own choice, which the recorded game's
    // M presses do not change.
    void toggle_watcher_sound() { watcher_sound_on_ = !watcher_sound_on_; }

    // Draws the game as it stands after its last frame.
    void draw();

    const game& state() const { return the_game; }
    const replay_recorder& recorder() const { return recorder_; }
    glyph_set glyphs;  // built by glyphs.fontInit() once the window is open
    scene renderer{glyphs};

  private:
    void handle(const std::vector<frame_event>& events);
    bool sound_on() const;

    game the_game;
    replay_recorder recorder_;
    std::optional<std::string> watched_name_;  // the name of the replay watched
    std::unique_ptr<sound_director> sound_;
    bool watcher_sound_on_ = true;
    // The query's random characters come from the game's generator.
    score_post_worker score_post{next_random};
};
