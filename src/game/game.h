// SPDX-License-Identifier: MIT
// The game: its flow from the intro through six levels to the posted score, advanced one
// frame at a time by `tick`. Everything here runs without a window; what the frame asks of
// the outside (drawing a level, posting the score, ending the process) it reports as events,
// and the outside answers through the next frame's input.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame.h"
#include "level.h"
#include "physics.h"
#include "quality_cfg.h"
#include "session.h"
#include "tt.h"

// What the end-of-game screen shows in a frame, handed to the renderer as a plain value.
struct final_screen_t {
    bool highscore = false;          // true while the name is typed, false once it was posted
    bool highscore_success = false;  // whether the post succeeded; read when highscore is false
    int score = 0;
    std::string player_name;      // while typed, ends with the cursor '_'
    double total_time = 0.0;      // seconds on the screen, which drive its motion
    int rank = 0;                 // the board's rank for the posted game, 0 when none was given
    std::string post_words{};     // a failed post in a few words, or that no board is set up
    std::string board_address{};  // where the post went; empty when no board is set up
    bool retryable = false;       // a failed post that ENTER tries again
    bool no_board = false;        // the post found no board set up
    bool post_under_way = false;  // ENTER was pressed and the result is not known yet
    // A recorded game watched: the recorded name, no prompt and no post.
    bool watched_replay = false;
};

// Everything a frame draws from, read-only.
struct frame_view {
    const level_t& level;
    const tt_state& texts;
    const quality_cfg_t& quality_cfg;
    game_screen screen;
    int total_score;
    bool paused;
    final_screen_t final_screen;
};

// Resets a level's clocks and release state for play, as the scene set-up does. The first
// ball then comes on the first physics step.
void reset_level_for_play(level_t& level);

// The ball walk at the start of a play frame: recounts the balls in play and tells whether
// every ball is lost.
bool all_balls_lost(level_t& level);

// The countdown's zoom of the scene at time t: tilt and turn in degrees, uniform scale.
struct countdown_zoom {
    double x_degrees;
    double y_degrees;
    double scale;
};
countdown_zoom countdown_zoom_at(double t);

class game {
  public:
    std::unique_ptr<level_t> level;
    physics_cfg_t physics_cfg;
    quality_cfg_t quality_cfg;
    tt_state tt;
    game_session session;
    bool game_key = false;    // SPACE is held
    bool pause_flag = false;  // P stops the physics; everything else runs on
    // M turns the sound off and on again (not while a name is typed, where M is a letter).
    bool sound_on = true;
    bool quit = false;  // ESCAPE: the process ends; the game does no more frames

    // Start-up's part of the game, once per process: the random seed, quality, the first
    // level (0 but for tests and tools) on the intro, physics, score colour. Reports the
    // level's set-up in events().
    void Init(int first_level = 0);
    // The same with a level of the caller's, numbered `level_number`.
    void Init(std::unique_ptr<level_t> first_level, int level_number);

    // One frame: the input's keys in order, then the frame's work. Returns what happened, which
    // stays readable in events() until the next frame.
    const std::vector<frame_event>& tick(const frame_input& input);
    const std::vector<frame_event>& events() const { return events_; }

    // What to draw, as the game stands after its last frame.
    frame_view view() const;
    // The end-of-game screen as it stands (meaningful on the two end-of-game screens).
    final_screen_t final_screen() const;

  private:
    void onKeyboardDown(int key);
    void onKeyboardUp(int key);
    void init_scene();
    void advance_level();
    // The game's own part of starting: its first level on its opening screen, the score and
    // the name cleared.
    void begin(std::unique_ptr<level_t> first_level, int level_number);
    // ENTER (or N) on the posted score's screen: a new game from the intro, through the same
    // set-up as the first; the sound, the pause, quality and the frame-rate meter carry on.
    void start_new_game();
    void start_score_post();
    void edit_name(unsigned char key);
    void poll_score_post(const frame_input& input);
    void update_play_state();
    void physics_step(double deltaT);
    void advance_countdown();
    void emit(frame_event event);

    std::vector<frame_event> events_;
    std::vector<physics_event> physics_events_;
};
