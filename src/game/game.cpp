#include "game.h"

#include <cmath>

#include "clock.h"
#include "levels.h"
#include "random.h"

namespace {

constexpr double countdown_text_secs = 1.5;
constexpr double countdown_seconds = 3.5;
constexpr double gate_text_secs = 0.5;  // how long a gate's points float

struct countdown_row {
    double threshold;  // seconds since the countdown started
    const char* text;
};
constexpr countdown_row countdown[] = {{0.5, "3"}, {1.5, "2"}, {2.5, "1"}, {3.5, "PLAY!"}};

bool is_name_character(unsigned char key) {
    return (key >= 'a' && key <= 'z') || (key >= '0' && key <= '9') || key == ' ' || key == '_';
}

unsigned char lower_case(int key) {
    auto c = static_cast<unsigned char>(key);
    if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c - 'A' + 'a');
    }
    return c;
}

}  // namespace

void reset_level_for_play(level_t& level) {
    level.total_time = 0.0;
    level.total_score = 0;
    level.ball_activation_iterator = 0;
    level.ball_activation_timer = level.ball_activation_interval - 0.1;
}

bool update_play_state(level_t& level) {
    bool game_over = true;
    level.active_balls_count = 0;
    // Balls are released in index order, so every ball past the first one not lost is
    // still waiting.
    for (const ball_t& ball : level.balls) {
        if ((ball.active & ball_in_play) != 0) {
            level.active_balls_count += 1;
        }
        if ((ball.active & ball_lost) == 0) {
            game_over = false;
            break;
        }
    }
    if (game_over) {
        level.scene_step = state_level_completed;
    }
    return game_over;
}

void advance_countdown(level_t& level, tt_state& texts) {
    if (!is_countdown(level.scene_step)) {
        return;
    }
    const countdown_row& row = countdown[level.scene_step];
    if (level.total_time >= row.threshold) {
        texts.announce(row.text, countdown_text_secs);
        level.scene_step += 1;
    }
}

countdown_zoom countdown_zoom_at(double t) {
    return {45 - t * 45 / countdown_seconds, 180 - t * 180 / countdown_seconds,
            t * 0.9 / countdown_seconds + 0.1};
}

void game::Init() {
    seed_random(clock_seed());
    quality_cfg = quality_cfg_init();
    level = load_level(current_level);
    init_scene();
    physics_cfg = load_physics_cfg();
    tt.setScoreColor(level->score_rgb.data());
}

void game::init_scene() {
    reset_level_for_play(*level);
    shell_.build_level(*level, quality_cfg);
    init_balls(*level);
}

void game::advance_level() {
    const int previous_level_score = level->total_score;
    current_level += 1;
    std::unique_ptr<level_t> new_level = load_level(current_level);
    if (new_level) {
        level = std::move(new_level);
    } else {
        // The finished level stays current for the end-of-game screens.
        level->scene_step = state_name_entry;
        level->hiscore_success = 0;
    }
    init_scene();
    physics_cfg = load_physics_cfg();
    level->total_score = previous_level_score;
}

void game::edit_name(unsigned char key) {
    if (is_name_character(key)) {
        if (player_name_len < player_name_max) {
            player_name.resize(player_name_len);
            player_name.push_back(static_cast<char>(key));
            player_name_len += 1;
        }
    } else if (key == key_backspace && player_name_len > 0) {
        player_name_len -= 1;
    }
    player_name.resize(player_name_len);
    player_name.push_back('_');
}

void game::onKeyboardDown(int k) {
    const unsigned char key = lower_case(k);
    if (key == 'p') {
        pause_flag = 1 - pause_flag;
    }
    if (key == key_space) {
        game_key = 1;
    }
    if (key == key_escape) {
        quit = 1;
    }
    const int step = level->scene_step;
    if (is_level_completed(step) && key == key_enter) {
        advance_level();
    } else if (is_intro(step) && key == key_enter) {
        level->scene_step = state_countdown;
        level->total_time = 0.0;
    } else if (step == state_name_entry && score_post_under_way) {
        // ENTER and the name keys wait for the post's result.
    } else if (step == state_name_entry && key == key_enter && player_name_len > 0) {
        player_name.resize(player_name_len);  // drops the cursor
        shell_.start_score_post(player_name, level->total_score);
        score_post_under_way = true;
    } else if (step == state_name_entry) {
        edit_name(key);
    }
}

void game::poll_score_post() {
    if (const std::optional<bool> posted = shell_.poll_score_post()) {
        level->hiscore_success = *posted ? 1 : 0;
        level->scene_step = state_score_posted;
        score_post_under_way = false;
    }
}

void game::onKeyboardUp(int key) {
    if (lower_case(key) == key_space) {
        game_key = 0;
    }
}

void game::timeTick(double currentTime) {
    if (quit != 0) {
        shell_.end_process();
        return;
    }
    double deltaT = 0;
    if (lastTime == 0.0) {
        lastTime = currentTime;
    } else {
        deltaT = currentTime - lastTime;
        lastTime = currentTime;
    }
    level->total_time += deltaT;
    level->gate_alpha = std::sin(level->total_time * 10.0) * 0.125 + 0.25;
    if (score_post_under_way) {
        poll_score_post();
    }

    if (is_intro(level->scene_step)) {
        tt.intro.menu_animation_step(deltaT);
    } else if (is_play(level->scene_step)) {
        update_play_state(*level);
        // Runs once more in the frame that completes the level: only the tilt then moves.
        if (pause_flag == 0) {
            std::vector<physics_event> events;
            simulation_step(deltaT, *level, physics_cfg, game_key != 0, &events);
            for (const physics_event& event : events) {
                if (event.what == physics_event::kind::gate_scored) {
                    tt.announce(std::to_string(event.points), gate_text_secs);
                }
            }
        }
    }
    if (!is_intro(level->scene_step)) {
        tt.moveScore(deltaT);
    }
    tt.countFps(deltaT);
    tt.countTimedTexts(deltaT);
    automatic_quality_config(quality_cfg, tt.getFps(), deltaT,
                             [this](const quality_cfg_t& q) { shell_.rebuild_for_quality(q); });
    shell_.post_redisplay();
}

final_screen_t game::final_screen() const {
    return {level->scene_step == state_name_entry, level->hiscore_success != 0, level->total_score,
            player_name, level->total_time};
}
