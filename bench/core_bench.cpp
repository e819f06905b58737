// SPDX-License-Identifier: MIT
// Speed of the physics step, the headless simulator and a replay's verification, and the
// size of a whole game's replay; the time that making the sounds takes and the most
// voices that sound at once in level 4.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "director.h"
#include "game.h"
#include "levels.h"
#include "physics.h"
#include "replay.h"
#include "simulator.h"

#ifdef KULIMBARA_HAVE_ZSTD
#include <zstd.h>
#endif

namespace {

// Level `num` with every ball in play, resting on the desk, spread across its far half.
level_t level_in_play(int num) {
    level_t level = *load_level(num);
    const int n = level.balls_count();
    for (int i = 0; i < n; ++i) {
        ball_t& ball = level.balls[i];
        ball.active = ball_in_play;
        ball.pos.x = -level.width / 2 + (i + 1) * level.width / (n + 1);
        ball.pos.y = -level.height / 4 + (i % 2) * 2.0;
        ball.pos.z = level.depth * 0.5 + ball.size;
        ball.safe_pos = ball.pos;
        ball.last_gate_time = 1.0;
    }
    level.ball_activation_iterator = n;
    level.active_balls_count = n;
    return level;
}

// Nanoseconds per step with all of a level's balls in play. The level is restored every
// 60 steps so that balls lost to holes and edges do not thin the work.
void BM_simulation_step(benchmark::State& state) {
    const int num = static_cast<int>(state.range(0));
    const level_t start = level_in_play(num);
    const physics_cfg_t cfg = load_physics_cfg();
    level_t level = start;
    long steps = 0;
    for (auto _ : state) {
        simulation_step(1.0 / 60.0, level, cfg, (steps / 30) % 2 == 1);
        if (++steps % 60 == 0) {
            state.PauseTiming();
            level = start;
            state.ResumeTiming();
        }
    }
    state.SetLabel(std::to_string(start.balls_count()) + " balls, " +
                   std::to_string(start.blocks_count()) + " blocks, " +
                   std::to_string(start.holes_count()) + " holes");
}
BENCHMARK(BM_simulation_step)->DenseRange(0, levels_count - 1)->Unit(benchmark::kNanosecond);

// Simulated seconds per wall-clock second of `kulimbara-sim --all --keys toggle:30`.
void BM_simulator_all_levels(benchmark::State& state) {
    sim_options options;
    options.keys = *key_pattern::parse("toggle:30");
    double simulated = 0.0;
    for (auto _ : state) {
        int score = 0;
        for (int n = 0; n < levels_count; ++n) {
            const level_report report = run_level(n, score, options);
            score = report.score;
            simulated += report.time;
        }
        benchmark::DoNotOptimize(score);
    }
    state.counters["simulated_s_per_s"] =
        benchmark::Counter(simulated, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_simulator_all_levels)->Unit(benchmark::kMillisecond);

// A whole six-level game, recorded as the game records it: frames of `micros`, SPACE toggled
// every `toggle` frames.
replay whole_game(std::uint32_t micros, int toggle) {
    sim_options options;
    options.dt = replay::seconds(micros);
    options.keys = *key_pattern::parse("toggle:" + std::to_string(toggle));
    options.max_time = 400.0;
    return play_recorded_game(options, "bench");
}

// The same frames with a frame loop's jitter: uniform within +-jitter_micros, from a fixed seed.
replay jittered(replay r, int jitter_micros) {
    std::uint32_t state = 12345;
    for (replay_frame& f : r.frames) {
        state = state * 1103515245u + 12345u;
        const int offset = static_cast<int>((state >> 8) % (2 * jitter_micros + 1)) - jitter_micros;
        f.micros = static_cast<std::uint32_t>(static_cast<int>(f.micros) + offset);
    }
    return r;
}

// The frames as plain records: each frame's seconds as an 8-byte double, its key count and keys.
std::string plain_frames(const replay& r) {
    std::string out;
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        const frame_input in = r.input(i);
        out.append(reinterpret_cast<const char*>(&in.deltaT), sizeof in.deltaT);
        out.push_back(static_cast<char>(in.keys.size()));
        for (const key_event& k : in.keys) {
            out.push_back(static_cast<char>(k.key));
            out.push_back(k.down ? 1 : 0);
        }
    }
    return out;
}

#ifdef KULIMBARA_HAVE_ZSTD
std::size_t zstd_size(const std::string& bytes) {
    std::string out(ZSTD_compressBound(bytes.size()), '\0');
    return ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), 19);
}
#endif

// The replay file's size for whole games, against the plain frames and zstd.
void print_replay_sizes() {
    std::printf("Replay size of a whole six-level game (bytes; zstd at level 19)\n");
    std::printf("%-34s %7s %6s %10s %9s %10s\n", "game", "frames", "B/fr", "replay", "plain",
                "zstd");
    struct game_case {
        const char* name;
        std::uint32_t micros;
        int toggle;
        int jitter;
    };
    const game_case cases[] = {
        {"60 fps, steady", 16667, 45, 0},
        {"60 fps, jitter +-50 us", 16667, 45, 50},
        {"60 fps, jitter +-500 us", 16667, 45, 500},
        {"144 fps, steady", 6944, 108, 0},
        {"144 fps, jitter +-50 us", 6944, 108, 50},
        {"144 fps, jitter +-500 us", 6944, 108, 500},
    };
    for (const game_case& c : cases) {
        const replay game = whole_game(c.micros, c.toggle);
        const replay r = c.jitter > 0 ? jittered(game, c.jitter) : game;
        const std::string file = encode_replay(r);
        const std::string plain = plain_frames(r);
        char zstd_text[64] = "n/a";
#ifdef KULIMBARA_HAVE_ZSTD
        std::snprintf(zstd_text, sizeof zstd_text, "%zu/%zu", zstd_size(plain), zstd_size(file));
#endif
        std::printf("%-34s %7zu %6.2f %10zu %9zu %10s\n", c.name, r.frames.size(),
                    static_cast<double>(file.size()) / static_cast<double>(r.frames.size()),
                    file.size(), plain.size(), zstd_text);
    }
    std::printf("(zstd: of the plain frames / of the replay file)\n\n");
}

// Reading and replaying a whole game of 60 frames a second, as a service verifies a post.
void BM_replay_verify_whole_game(benchmark::State& state) {
    const std::string file = encode_replay(jittered(whole_game(16667, 45), 0));
    for (auto _ : state) {
        const replay_read read = decode_replay(file);
        const replay_verdict verdict = judge_replay(*read.result, replay_game(*read.result));
        benchmark::DoNotOptimize(verdict.holds);
    }
    state.SetLabel(std::to_string(file.size()) + " bytes");
}
BENCHMARK(BM_replay_verify_whole_game)->Unit(benchmark::kMillisecond);

// The game's sounds made at start-up, as the game makes them before its device opens.
void BM_synthesize_sounds(benchmark::State& state) {
    for (auto _ : state) {
        const sound_bank bank = synthesize_sounds();
        benchmark::DoNotOptimize(bank.sounds[0].data());
    }
}
BENCHMARK(BM_synthesize_sounds)->Unit(benchmark::kMillisecond);

// Counts the voices sounding, each one-shot for the length of its sound.
struct counting_sink : voice_sink {
    const sound_bank& bank;
    double now = 0.0;
    std::vector<double> ends;  // of the one-shots sounding
    std::vector<float> rolling_gains;

    explicit counting_sink(const sound_bank& b) : bank(b) {}
    void play(sound_id id, int variant, float, std::optional<voice_position>) override {
        ends.push_back(now + static_cast<double>(bank.get(id, variant).size()) / sound_sample_rate);
    }
    void roll(int ball, float gain, float, voice_position) override {
        if (ball >= static_cast<int>(rolling_gains.size())) {
            rolling_gains.resize(ball + 1);
        }
        rolling_gains[ball] = gain;
    }
    void stop_roll(int ball) override { rolling_gains.at(ball) = 0.0f; }
    void pause_play(bool) override {}
    void set_muted(bool) override {}

    int one_shots() {
        std::erase_if(ends, [this](double end) { return end <= now; });
        return static_cast<int>(ends.size());
    }
    int rolling() const {
        return static_cast<int>(
            std::ranges::count_if(rolling_gains, [](float g) { return g > 0; }));
    }
};

// The most voices that sound at once in level 4, played from its countdown to its end at 60
// frames a second with SPACE in a few rhythms.
void print_busiest_sound() {
    const sound_bank bank = synthesize_sounds();
    int most = 0;
    int most_one_shots = 0;
    int most_rolling = 0;
    double most_at = 0.0;
    const char* most_keys = "";
    for (const char* keys : {"up", "down", "toggle:30", "toggle:90"}) {
        counting_sink sink(bank);
        sound_director director(sink);
        game g;
        g.Init(4);
        director.after_frame(g, g.events(), true);
        const key_pattern pattern = *key_pattern::parse(keys);
        frame_input input;
        input.deltaT = 1.0 / 60.0;
        input.keys = {{true, key_enter}};
        for (long frame = 0; frame < 60L * 600 && !is_level_completed(g.session.screen); ++frame) {
            const bool space = pattern.key_at(frame) != 0;
            if (space != g.game_key) {
                input.keys.push_back({space, key_space});
            }
            director.after_frame(g, g.tick(input), true);
            input.keys.clear();
            sink.now += input.deltaT;
            const int one_shots = sink.one_shots();
            const int rolling = sink.rolling();
            if (one_shots + rolling > most) {
                most = one_shots + rolling;
                most_one_shots = one_shots;
                most_rolling = rolling;
                most_at = g.level->total_time;
                most_keys = keys;
            }
        }
    }
    std::printf(
        "Sound voices at the busiest moment of level 4: %d (%d one-shots, %d rolling), "
        "%.1f s into the level with SPACE %s\n\n",
        most, most_one_shots, most_rolling, most_at, most_keys);
}

}  // namespace

int main(int argc, char** argv) {
    print_replay_sizes();
    print_busiest_sound();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
