// Drives the game's flow with arbitrary input: key presses and releases of any byte, frames
// of any length, played-through stretches of a level, the score post's answers. After every
// event the flow's invariants must hold; a broken one ends the run with a trap, which the
// fuzzer reports with the input that caused it.
//
// The input is a start byte (the level to begin at, 0 to 5), a seed byte for the game's
// random generator, then events of one operation byte and its operands:
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

#include "game.h"
#include "levels.h"
#include "random.h"

namespace {

#define REQUIRE(condition)    \
    do {                      \
        if (!(condition)) {   \
            __builtin_trap(); \
        }                     \
    } while (false)

constexpr double play_frame_seconds = 0.05;
// Frames one input may play, so that every input runs in well under a second.
constexpr long frame_budget = 40000;

bool is_name_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '_';
}

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

// Stands in for the renderer and the network: draws nothing, and the score post is answered
// by the input, never sent.
class fuzz_shell : public game_shell {
  public:
    game* the_game = nullptr;
    bool post_open = false;
    std::optional<bool> answer;
    bool ended = false;

    void build_level(level_t&, const quality_cfg_t&) override {}
    void rebuild_for_quality(const quality_cfg_t&) override {}
    void start_score_post(const std::string& name, int score) override {
        REQUIRE(!post_open);
        REQUIRE(!name.empty() && name.size() <= static_cast<std::size_t>(player_name_max));
        REQUIRE(is_valid_name(name, name.size()));
        REQUIRE(score >= 0);
        post_open = true;
    }
    std::optional<bool> poll_score_post() override {
        REQUIRE(post_open);
        if (answer) {
            post_open = false;
        }
        return answer;
    }
    // What drawing a frame does to the game: the countdown advances while the desk is shown.
    void post_redisplay() override {
        level_t& level = *the_game->level;
        if (is_end_screen(level.scene_step)) {
            const final_screen_t screen = the_game->final_screen();
            REQUIRE(screen.highscore == (level.scene_step == state_name_entry));
        } else if (!is_intro(level.scene_step)) {
            advance_countdown(level, the_game->tt);
        }
    }
    void end_process() override { ended = true; }
};

bool is_valid_state(int step) {
    return is_end_screen(step) || is_intro(step) || is_countdown(step) || is_play(step) ||
           is_level_completed(step);
}

void check_invariants(const game& g, const fuzz_shell& shell) {
    REQUIRE(g.level != nullptr);
    const int step = g.level->scene_step;
    REQUIRE(is_valid_state(step));
    REQUIRE(g.player_name_len >= 0 && g.player_name_len <= player_name_max);
    const auto length = static_cast<std::size_t>(g.player_name_len);
    REQUIRE(is_valid_name(g.player_name, length));
    REQUIRE(g.score_post_under_way == shell.post_open);
    if (g.score_post_under_way) {
        REQUIRE(step == state_name_entry);
    }
    if (g.score_post_under_way || step == state_score_posted) {
        // From ENTER on, the name is fixed and shown without the cursor.
        REQUIRE(g.player_name.size() == length && length > 0);
    } else {
        REQUIRE(g.player_name.size() == length + 1 && g.player_name.back() == '_');
    }
    REQUIRE(g.current_level >= 0 && g.current_level <= levels_count);
    REQUIRE(g.pause_flag == 0 || g.pause_flag == 1);
    REQUIRE(g.game_key == 0 || g.game_key == 1);
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
    fuzz_shell shell;
    game g(shell);
    shell.the_game = &g;
    g.current_level = in.byte() % levels_count;
    g.Init();
    seed_random(in.byte());
    double clock = 1.0;
    long frames_left = frame_budget;
    auto frame = [&](double seconds) {
        clock += seconds;
        g.timeTick(clock);
        frames_left -= 1;
        check_invariants(g, shell);
    };
    check_invariants(g, shell);

    while (!in.empty() && !shell.ended && frames_left > 0) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
            case 0:
                g.onKeyboardDown(in.byte());
                break;
            case 1:
                g.onKeyboardUp(in.byte());
                break;
            case 2: {
                const std::uint8_t key = in.byte();
                g.onKeyboardDown(key);
                check_invariants(g, shell);
                g.onKeyboardUp(key);
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
                for (long i = 0; i < frames && frames_left > 0 && !shell.ended; ++i) {
                    if (i % period == 0) {
                        if (g.game_key != 0) {
                            g.onKeyboardUp(key_space);
                        } else {
                            g.onKeyboardDown(key_space);
                        }
                    }
                    frame(play_frame_seconds);
                    if (!is_play(g.level->scene_step) && !is_countdown(g.level->scene_step)) {
                        break;
                    }
                }
                break;
            }
            case 6: {
                const int choice = in.byte() % 3;
                shell.answer = choice == 0 ? std::nullopt : std::optional<bool>(choice == 1);
                break;
            }
            default:
                for (ball_t& ball : g.level->balls) {
                    ball.active = ball_lost;
                }
                break;
        }
        check_invariants(g, shell);
    }
    return 0;
}
