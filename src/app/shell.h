// A game drawn in a window: the game, the scene that draws it and the score post's worker,
// with what the game's events ask of them done between a frame's work and its drawing. The
// game itself, every tool that draws it and its tests advance it through frame().
#pragma once

#include <optional>
#include <vector>

#include "client.h"
#include "frame.h"
#include "game.h"
#include "random.h"
#include "scene.h"

class drawn_game {
  public:
    // Start-up: the game's first level on its opening screen, set up for drawing. Needs the
    // OpenGL context. This and frame() throw desk_build_error for a level that cannot be drawn.
    void Init(int first_level = 0);

    // One frame of the game, then what its events ask for: a level's geometry built, the
    // desk rebuilt after a quality drop, the score post started.
    const std::vector<frame_event>& frame(const frame_input& input);

    // The score post's result for the next frame's input: set once the attempt under way is
    // over (a failure is also told on standard error).
    std::optional<bool> poll_score_post();

    // Draws the game as it stands after its last frame.
    void draw() { renderer.draw_scene(the_game.view()); }

    const game& state() const { return the_game; }
    glyph_set glyphs;  // built by glyphs.fontInit() once the window is open
    scene renderer{glyphs};

  private:
    void handle(const std::vector<frame_event>& events);

    game the_game;
    // The query's random characters come from the game's generator.
    score_post_worker score_post{next_random};
};
