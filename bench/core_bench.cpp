// Speed of the physics step and of the headless simulator.
#include <benchmark/benchmark.h>

#include "levels.h"
#include "physics.h"
#include "simulator.h"

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

}  // namespace

BENCHMARK_MAIN();
