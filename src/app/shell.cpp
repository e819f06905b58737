// SPDX-License-Identifier: MIT
#include "shell.h"

#include <cstdio>

#include "random.h"

void drawn_game::Init(int first_level) {
    the_game.Init(first_level);
    handle(the_game.events());
    if (sound_) {
        sound_->after_frame(the_game, the_game.events(), sound_on());
    }
}

const std::vector<frame_event>& drawn_game::frame(const frame_input& input) {
    const std::vector<frame_event>& events = the_game.tick(input);
    recorder_.observe(input, the_game, events);
    handle(events);
    if (sound_) {
        sound_->after_frame(the_game, events, sound_on());
    }
    return events;
}

void drawn_game::handle(const std::vector<frame_event>& events) {
    for (const frame_event& event : events) {
        switch (event.what) {
            case frame_event::kind::level_set_up:
                renderer.init_scene(*the_game.level, the_game.quality_cfg);
                break;
            case frame_event::kind::quality_changed:
                renderer.scene_update_constants();
                renderer.desk_calllist_create();
                break;
            case frame_event::kind::post_started:
                if (recorder_.current() == replay_recorder::state::finished) {
                    recorder_.recording().player_name = event.text;
                    score_post.start(event.text, event.score, encode_replay(recorder_.recording()));
                } else {
                    score_post.start(event.text, event.score);
                }
                break;
            default:
                break;
        }
    }
}

void drawn_game::sound_to(voice_sink& sink) {
    sound_ = std::make_unique<sound_director>(sink);
}

void drawn_game::start_muted() {
    the_game.sound_on = false;
    watcher_sound_on_ = false;
}

bool drawn_game::sound_on() const {
    return watched_name_ ? watcher_sound_on_ : the_game.sound_on;
}

void drawn_game::watch(const replay& r) {
    the_game.game_key = r.space_held_at_start;
    the_game.pause_flag = r.paused_at_start;
    watched_name_ = r.player_name;
}

void drawn_game::draw() {
    frame_view view = the_game.view();
    if (watched_name_ && is_end_screen(view.screen)) {
        view.final_screen.player_name = *watched_name_;
        view.final_screen.highscore = false;
        view.final_screen.watched_replay = true;
    }
    renderer.draw_scene(view);
}

std::optional<post_outcome> drawn_game::poll_score_post() {
    if (!the_game.session.score_post_under_way) {
        return std::nullopt;
    }
    const std::optional<post_result> result = score_post.poll();
    if (!result) {
        return std::nullopt;
    }
    if (!result->success) {
        std::fprintf(stderr, "kulimbara: score not posted: %s\n", result->detail.c_str());
    }
    post_outcome outcome(result->success, result->rank);
    outcome.reason = post_failure_words(*result, score_post.bound());
    outcome.board = score_post.board();
    outcome.no_board = result->failure == post_failure::no_board;
    // Without a board, or with a malformed address, the same post fails the same way.
    outcome.retryable =
        result->failure != post_failure::no_board && result->failure != post_failure::bad_address;
    return outcome;
}
