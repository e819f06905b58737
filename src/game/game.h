// The game's flow: the states of a game, the keys that move it from one to the next, and
// the per-frame work of the frame loop. Everything here runs without a window; what only
// the shell can do reaches it through game_shell.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "level.h"
#include "physics.h"
#include "quality_cfg.h"
#include "tt.h"

// Keys as the window system delivers them.
constexpr int key_backspace = 8;
constexpr int key_enter = 13;
constexpr int key_escape = 27;
constexpr int key_space = 32;

constexpr int player_name_max = 16;

class game_shell {
  public:
    virtual ~game_shell() = default;
    // Compile the level's static geometry for drawing (scene constants, desk and block lists).
    virtual void build_level(level_t& level, const quality_cfg_t& quality_cfg) = 0;
    // Recompute the shadow constants and rebuild the desk after a quality drop.
    virtual void rebuild_for_quality(const quality_cfg_t& quality_cfg) = 0;
    // Start posting the score away from the game's thread; returns at once.
    virtual void start_score_post(const std::string& name, int score) = 0;
    // The started post's result once the attempt is over (true when the score was accepted),
    // nothing while it is under way.
    virtual std::optional<bool> poll_score_post() = 0;
    virtual void post_redisplay() = 0;
    // Release everything and end the process with status 0.
    virtual void end_process() = 0;
};

// What the end-of-game screen shows in a frame, handed to the renderer as a plain value.
struct final_screen_t {
    bool highscore = false;          // true while the name is typed, false once it was posted
    bool highscore_success = false;  // whether the post succeeded; read when highscore is false
    int score = 0;
    std::string player_name;  // while typed, ends with the cursor '_'
    double total_time = 0.0;  // seconds on the screen, which drive its motion
};

// Resets a level's clocks, score and release state for play, as the scene set-up does.
// The first ball then comes on the first physics step.
void reset_level_for_play(level_t& level);

// The frame loop's ball walk at the start of a play frame: recounts the balls in play and
// moves the level to "completed" once every ball is lost. Returns true when it did.
bool update_play_state(level_t& level);

// The countdown, advanced while a frame is drawn: at most one step per frame, each starting
// its floating text ("3", "2", "1", "PLAY!").
void advance_countdown(level_t& level, tt_state& texts);

// The countdown's zoom of the scene at time t: tilt and turn in degrees, uniform scale.
struct countdown_zoom {
    double x_degrees;
    double y_degrees;
    double scale;
};
countdown_zoom countdown_zoom_at(double t);

class game {
  public:
    explicit game(game_shell& shell) : shell_(shell) {}

    std::unique_ptr<level_t> level;
    physics_cfg_t physics_cfg;
    quality_cfg_t quality_cfg;
    tt_state tt;
    int current_level = 0;
    int game_key = 0;
    int pause_flag = 0;
    int quit = 0;
    double lastTime = 0.0;
    // The name being typed; while typing it ends with the cursor '_'.
    std::string player_name = "_";
    int player_name_len = 0;
    // From ENTER on a name until the post's result is known; the name is fixed meanwhile.
    bool score_post_under_way = false;

    // Start-up's part of the game, once per process: the random seed, quality, level 0 and its
    // set-up, physics, score colour.
    void Init();
    // Makes `level` current for play and drawing.
    void init_scene();

    void onKeyboardDown(int key);
    void onKeyboardUp(int key);
    // One frame at `currentTime` seconds on the game clock.
    void timeTick(double currentTime);

    // The end-of-game screen as it stands (meaningful in the two end-of-game states).
    final_screen_t final_screen() const;

  private:
    void advance_level();
    void edit_name(unsigned char key);
    void poll_score_post();

    game_shell& shell_;
};
