// SPDX-License-Identifier: MIT
#include "game.h"

#include <cmath>
#include <iterator>

#include "clock.h"
#include "levels.h"
#include "random.h"

namespace {

constexpr double countdown_seconds = 3.5;

// The countdown: on the first frame that finds the level clock at `threshold` or later, the
// screen moves on and the floating text starts.
struct countdown_row {
    game_screen from;
    double threshold;  // seconds since the countdown started
    const char* text;
    game_screen to;
};
constexpr countdown_row countdown[] = {
    {game_screen::countdown, 0.5, "3", game_screen::countdown_3},
    {game_screen::countdown_3, 1.5, "2", game_screen::countdown_2},
    {game_screen::countdown_2, 2.5, "1", game_screen::countdown_1},
    {game_screen::countdown_1, 3.5, "PLAY!", game_screen::play},
};

unsigned char lower_case(int key) {
    auto c = static_cast<unsigned char>(key);
    if (c >= 'A' && c <= 'Z') {
        c = static_cast<unsigned char>(c - 'A' + 'a');
    }
    return c;
}

frame_event event_of(frame_event::kind what) {
    frame_event event;
    event.what = what;
    return event;
}

}  // namespace

frame_event frame_event::from(const physics_event& event) {
    // In the order of physics_event::kind.
    constexpr kind kinds[] = {kind::ball_released, kind::ball_landed, kind::ball_contact,
                              kind::block_contact, kind::gate_scored, kind::ball_fell,
                              kind::ball_lost};
    static_assert(std::size(kinds) == static_cast<std::size_t>(physics_event::kind::lost) + 1);
    frame_event e;
    e.what = kinds[static_cast<int>(event.what)];
    e.ball = event.ball;
    e.other = event.other;
    e.speed = event.speed;
    e.points = event.points;
    e.position = event.position;
    e.over_hole = event.over_hole;
    return e;
}

void reset_level_for_play(level_t& level) {
    level.total_time = 0.0;
    level.ball_activation_iterator = 0;
    level.ball_activation_timer = level.ball_activation_interval - 0.1;
}

bool all_balls_lost(level_t& level) {
    bool game_over = true;
    level.active_balls_count = 0;
    // Balls are released in index order, so every ball past the first one not lost is
    // still waiting.
    for (const ball_t& ball : level.balls) {
        if (is_in_play(ball)) {
            level.active_balls_count += 1;
        }
        if (!is_lost(ball)) {
            game_over = false;
            break;
        }
    }
    return game_over;
}

countdown_zoom countdown_zoom_at(double t) {
    return {45 - t * 45 / countdown_seconds, 180 - t * 180 / countdown_seconds,
            t * 0.9 / countdown_seconds + 0.1};
}

void game::Init(int first_level) {
    Init(load_level(first_level), first_level);
}

void game::Init(std::unique_ptr<level_t> first_level, int level_number) {
    events_.clear();
    seed_random(clock_seed());
    quality_cfg = quality_cfg_init();
    begin(std::move(first_level), level_number);
}

void game::begin(std::unique_ptr<level_t> first_level, int level_number) {
    session = game_session{};
    session.current_level = level_number;
    session.screen = opening_screen(level_number);
    level = std::move(first_level);
    init_scene();
    physics_cfg = load_physics_cfg();
    tt.setScoreColor(level->score_rgb.data());
}

void game::start_new_game() {
    tt.restart();
    begin(load_level(0), 0);
}

void game::init_scene() {
    reset_level_for_play(*level);
    init_balls(*level);
    emit(event_of(frame_event::kind::level_set_up));
}

void game::emit(frame_event event) {
    tt.consume(event);
    events_.push_back(std::move(event));
}

void game::advance_level() {
    session.current_level += 1;
    std::unique_ptr<level_t> new_level = load_level(session.current_level);
    if (new_level) {
        level = std::move(new_level);
        session.screen = opening_screen(session.current_level);
    } else {
        // The finished level stays current for the end-of-game screens, its clock restarted.
        session.screen = game_screen::name_entry;
        session.hiscore_success = false;
        emit(event_of(frame_event::kind::game_over));
    }
    init_scene();
    physics_cfg = load_physics_cfg();
}

void game::edit_name(unsigned char key) {
    const int length_before = session.player_name_len;
    const bool typed =
        is_name_character(static_cast<char>(key)) && session.player_name_len < player_name_max;
    if (typed) {
        session.player_name.resize(session.player_name_len);
        session.player_name.push_back(static_cast<char>(key));
        session.player_name_len += 1;
    } else if (key == key_backspace && session.player_name_len > 0) {
        session.player_name_len -= 1;
    }
    session.player_name.resize(session.player_name_len);
    if (typed || session.player_name_len != length_before) {
        frame_event edited = event_of(frame_event::kind::name_edited);
        edited.text = session.player_name;
        emit(std::move(edited));
    }
    session.player_name.push_back('_');
}

void game::onKeyboardDown(int k) {
    const unsigned char key = lower_case(k);
    if (key == 'p') {
        pause_flag = !pause_flag;
        frame_event toggled = event_of(frame_event::kind::pause_toggled);
        toggled.paused = pause_flag;
        emit(std::move(toggled));
    }
    if (key == key_space) {
        game_key = true;
    }
    if (key == key_escape) {
        quit = true;
    }
    const game_screen screen = session.screen;
    if (key == 'm' && screen != game_screen::name_entry) {
        sound_on = !sound_on;
        frame_event toggled = event_of(frame_event::kind::sound_toggled);
        toggled.success = sound_on;
        emit(std::move(toggled));
    }
    if (is_level_completed(screen) && key == key_enter) {
        advance_level();
    } else if (is_intro(screen) && key == key_enter) {
        session.screen = game_screen::countdown;
        level->total_time = 0.0;
    } else if (screen == game_screen::name_entry && session.score_post_under_way) {
        // ENTER and the name keys wait for the post's result.
    } else if (screen == game_screen::name_entry && key == key_enter &&
               is_postable_name(
                   std::string_view(session.player_name)
                       .substr(0, static_cast<std::size_t>(session.player_name_len)))) {
        session.player_name.resize(session.player_name_len);  // drops the cursor
        start_score_post();
    } else if (screen == game_screen::name_entry) {
        edit_name(key);
    } else if (screen == game_screen::score_posted && !session.score_post_under_way) {
        // A failed post that may go through another time is tried again; otherwise ENTER,
        // and N in either case, begin a new game.
        const bool retry = !session.hiscore_success && session.hiscore_retryable;
        if (key == key_enter && retry) {
            start_score_post();
        } else if (key == key_enter || key == 'n') {
            start_new_game();
        }
    }
}

void game::start_score_post() {
    session.score_post_under_way = true;
    frame_event started = event_of(frame_event::kind::post_started);
    started.text = session.player_name;
    started.score = session.total_score;
    emit(std::move(started));
}

void game::onKeyboardUp(int key) {
    if (lower_case(key) == key_space) {
        game_key = false;
    }
}

void game::poll_score_post(const frame_input& input) {
    if (!session.score_post_under_way || !input.post_result) {
        return;
    }
    session.hiscore_success = input.post_result->success;
    session.hiscore_rank = input.post_result->success ? input.post_result->rank : 0;
    session.hiscore_reason = input.post_result->success ? "" : input.post_result->reason;
    session.board_address = input.post_result->board;
    session.hiscore_retryable = !input.post_result->success && input.post_result->retryable;
    session.no_board = !input.post_result->success && input.post_result->no_board;
    session.screen = game_screen::score_posted;
    session.score_post_under_way = false;
    frame_event finished = event_of(frame_event::kind::post_finished);
    finished.success = session.hiscore_success;
    finished.points = session.hiscore_rank;
    emit(std::move(finished));
}

void game::update_play_state() {
    if (all_balls_lost(*level)) {
        session.screen = game_screen::level_completed;
        frame_event completed = event_of(frame_event::kind::level_completed);
        completed.level = session.current_level;
        emit(std::move(completed));
    }
}

void game::physics_step(double deltaT) {
    physics_events_.clear();
    simulation_step(deltaT, *level, physics_cfg, game_key, &physics_events_);
    for (const physics_event& event : physics_events_) {
        if (event.what == physics_event::kind::gate_scored) {
            session.total_score += event.points;
        }
        emit(frame_event::from(event));
    }
}

void game::advance_countdown() {
    for (const countdown_row& row : countdown) {
        if (row.from == session.screen) {
            if (level->total_time >= row.threshold) {
                session.screen = row.to;
                frame_event step = event_of(frame_event::kind::countdown_step);
                step.text = row.text;
                emit(std::move(step));
            }
            return;
        }
    }
}

const std::vector<frame_event>& game::tick(const frame_input& input) {
    events_.clear();
    for (const key_event& key : input.keys) {
        if (key.down) {
            onKeyboardDown(key.key);
        } else {
            onKeyboardUp(key.key);
        }
    }
    if (quit) {
        return events_;
    }

    const double deltaT = input.deltaT;
    level->total_time += deltaT;
    level->gate_alpha = std::sin(level->total_time * 10.0) * 0.125 + 0.25;
    poll_score_post(input);

    if (is_intro(session.screen)) {
        tt.intro.menu_animation_step(deltaT);
    } else if (is_play(session.screen)) {
        update_play_state();
        // Runs once more in the frame that completes the level: only the tilt then moves.
        if (!pause_flag) {
            physics_step(deltaT);
        }
    }
    if (!is_intro(session.screen)) {
        tt.moveScore(deltaT);
    }
    tt.countFps(deltaT);
    tt.countTimedTexts(deltaT);
    automatic_quality_config(quality_cfg, tt.getFps(), deltaT, [this](const quality_cfg_t&) {
        emit(event_of(frame_event::kind::quality_changed));
    });

    // Last, as the frame is about to be drawn: the countdown's step and the score's copy
    // start their texts after the texts have aged, so these begin their life on this frame.
    advance_countdown();
    if (shows_desk(session.screen)) {
        tt.follow_score(static_cast<unsigned long>(session.total_score));
    }
    return events_;
}

frame_view game::view() const {
    return {*level,        tt, quality_cfg, session.screen, session.total_score, pause_flag,
            final_screen()};
}

final_screen_t game::final_screen() const {
    final_screen_t screen;
    screen.highscore = session.screen == game_screen::name_entry;
    screen.highscore_success = session.hiscore_success;
    screen.score = session.total_score;
    screen.player_name = session.player_name;
    screen.total_time = level->total_time;
    screen.rank = session.hiscore_rank;
    screen.post_words = session.hiscore_reason;
    screen.board_address = session.board_address;
    screen.retryable = session.hiscore_retryable;
    screen.no_board = session.no_board;
    screen.post_under_way = session.score_post_under_way;
    return screen;
}
