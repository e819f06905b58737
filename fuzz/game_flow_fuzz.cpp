// SPDX-License-Identifier: MIT
// Drives the game's flow with arbitrary input: key presses and releases of any byte, frames
// of any length, played-through stretches of a level, the score post's answers. After every
// event the flow's invariants must hold; a broken one ends the run with a trap, which the
// fuzzer reports with the input that caused it.
//
// The input is a start byte (the level to begin at, 0 to 5), a seed byte for the game's
// random generator, then events of one operation byte and its operands. Keys reach the game
// with the next frame, as they do in the game.
//   op % 8 = 0  key down (operand: the key)        4  a frame of a chosen odd length (below)
//            1  key up (operand: the key)          5  play on: 8 to 2048 frames of 0.05 s
//            2  key down and up (operand)             with SPACE toggled every 1 to 64 frames
//            3  a frame of 0 to 0.1 s (operand)    6  the post's answer from now on: none yet,
//            7  every ball lost (the level ends)      accepted or refused
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "frame.h"
#include "game.h"
#include "levels.h"
#include "protocol.h"
#include "random.h"
#include "require.h"

namespace {

constexpr double play_frame_seconds = 0.05;
// Frames one input may play, so that every input runs in well under a second.
constexpr long frame_budget = 40000;

bool is_valid_name(const std::string& name, std::size_t length) {
    if (name.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (!is_name_character(name[i])) {
            return false;
        }
    }
    return true;
}

// What the frames reported of the score post: at most one is under way, and each starts with
// a name of the game's characters and a score of none below zero.
struct post_watch {
    bool post_open = false;

    void read(const std::vector<frame_event>& events) {
        for (const frame_event& event : events) {
            if (event.what == frame_event::kind::post_started) {
                REQUIRE(!post_open);
                REQUIRE(is_valid_player_name(event.text));
                REQUIRE(event.score >= 0);
                post_open = true;
            } else if (event.what == frame_event::kind::post_finished) {
                REQUIRE(post_open);
                post_open = false;
            }
        }
    }
};

void check_invariants(const game& g, const post_watch& posts) {
    REQUIRE(g.level != nullptr);
    const game_session& session = g.session;
    REQUIRE(is_valid_screen(session.screen));
    REQUIRE(session.player_name_len >= 0 && session.player_name_len <= player_name_max);
    const auto length = static_cast<std::size_t>(session.player_name_len);
    REQUIRE(is_valid_name(session.player_name, length));
    REQUIRE(session.score_post_under_way == posts.post_open);
    if (session.score_post_under_way) {
        // The first post from the name, another from a failed one's result.
        REQUIRE(is_end_screen(session.screen));
    }
    if (session.score_post_under_way || session.screen == game_screen::score_posted) {
        // From ENTER on, the name is fixed and shown without the cursor.
        REQUIRE(session.player_name.size() == length && length > 0);
    } else {
        REQUIRE(session.player_name.size() == length + 1 && session.player_name.back() == '_');
    }
    REQUIRE(session.current_level >= 0 && session.current_level <= levels_count);
    const final_screen_t screen = g.final_screen();
    REQUIRE(screen.highscore == (session.screen == game_screen::name_entry));
}

class input_reader {
  public:
    input_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    double raw_double() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = bits << 8 | byte();
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A frame length from the ends of the range: none, tiny, long pauses, an arbitrary double.
double odd_frame_seconds(input_reader& in) {
    switch (in.byte() % 6) {
        case 0:
            return 0.0;
        case 1:
            return 1e-9;
        case 2:
            return 3600.0;
        case 3:
            return 1e9;
        case 4:
            return 1e15;
        default: {
            // The clock never runs backwards and is always finite.
            const double seconds = std::fabs(in.raw_double());
            return std::isfinite(seconds) && seconds < 1e15 ? seconds : 0.0;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    input_reader in(data, size);
    game g;
    g.Init(in.byte() % levels_count);
    seed_random(in.byte());
    post_watch posts;
    std::vector<key_event> pending;
    std::optional<bool> answer;
    long frames_left = frame_budget;
    auto frame = [&](double seconds) {
        frame_input input;
        input.deltaT = seconds;
        input.keys.swap(pending);
        input.post_result = answer;
        posts.read(g.tick(input));
        frames_left -= 1;
        check_invariants(g, posts);
    };
    check_invariants(g, posts);

    while (!in.empty() && !g.quit && frames_left > 0) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
            case 0:
                pending.push_back({true, in.byte()});
                break;
            case 1:
                pending.push_back({false, in.byte()});
                break;
            case 2: {
                const std::uint8_t key = in.byte();
                pending.push_back({true, key});
                pending.push_back({false, key});
                break;
            }
            case 3:
                frame(in.byte() / 2560.0);
                break;
            case 4:
                frame(odd_frame_seconds(in));
                break;
            case 5: {
                const long frames = (in.byte() + 1L) * 8;
                const long period = in.byte() % 64 + 1;
                bool held = g.game_key;
                for (long i = 0; i < frames && frames_left > 0 && !g.quit; ++i) {
                    if (i % period == 0) {
                        held = !held;
                        pending.push_back({held, key_space});
                    }
                    frame(play_frame_seconds);
                    if (!is_play(g.session.screen) && !is_countdown(g.session.screen)) {
                        break;
                    }
                }
                break;
            }
            case 6: {
                const int choice = in.byte() % 3;
                answer = choice == 0 ? std::nullopt : std::optional<bool>(choice == 1);
                break;
            }
            default:
                for (ball_t& ball : g.level->balls) {
                    ball.active = ball_lost;
                }
                break;
        }
        check_invariants(g, posts);
    }
    return 0;
}
