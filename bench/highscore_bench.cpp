// SPDX-License-Identifier: MIT
// Accepted score posts per second from 16 concurrent clients on loopback, and the latency of
// one post (50th and 99th percentile). Each client posts through the game's own client code,
// one connection per post as the game does. The per-address post limit is off: every client
// comes from 127.0.0.1. Then the latency of a post handled in-process while 50,000 distinct
// addresses post within the minute, with the limit on. Then replays: the time the service takes
// to verify and store a whole game, in-process, and replay posts per second from 16 concurrent
// clients over loopback with their latency, every replay a distinct game.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client.h"
#include "highscore_service.h"
#include "protocol.h"
#include "random.h"
#include "replay.h"
#include "simulator.h"

namespace {

using steady = std::chrono::steady_clock;

constexpr int clients = 16;
constexpr int posts_per_client = 200;
constexpr int distinct_addresses = 50000;
constexpr int replays_verified_in_process = 16;
constexpr int replays_per_client = 8;

double ms_since(steady::time_point start) {
    return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

// The p-th quantile of sorted values.
double quantile(const std::vector<double>& sorted, double p) {
    return sorted[static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1))];
}

// `count` whole finished games, each other play: the simulator's player with SPACE toggled
// every N frames, N and the frame time varied. A name alone would not make them distinct.
std::vector<std::string> record_distinct_games(int count) {
    std::vector<std::string> files;
    for (long period = 37; static_cast<int>(files.size()) < count && period < 400; ++period) {
        for (const double dt : {1.0 / 60.0, 1.0 / 50.0}) {
            sim_options options;
            options.dt = dt;
            options.keys = {key_pattern::kind::toggle, period};
            const replay game = play_recorded_game(options, "bench");
            if (game.finished && static_cast<int>(files.size()) < count) {
                files.push_back(encode_replay(game));
            }
        }
    }
    return files;
}

// The service's own time for a whole game: decoding, playing it again, judging and storing.
void bench_verification(const std::string& scratch, const std::vector<std::string>& games) {
    service_config config;
    config.db_path = scratch + "/verify.sqlite";
    config.log_requests = false;
    config.posts_per_minute = 0;
    highscore_service service(config);
    std::vector<double> ms;
    int stored = 0;
    std::size_t frames = 0;
    for (const std::string& game : games) {
        frames += decode_replay(game).result->frames.size();
        const steady::time_point start = steady::now();
        stored += service.answer_replay(game, "127.0.0.1").status == 201 ? 1 : 0;
        ms.push_back(ms_since(start));
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "verification of a whole game in-process (%zu games of %zu frames on average, %d "
        "stored): p50 %.1f ms, max %.1f ms (goal: 50 ms)\n",
        games.size(), frames / games.size(), stored, quantile(ms, 0.5), ms.back());
}

// Replay posts over loopback, one connection each, from `clients` threads at once.
bool bench_replay_posts(const std::string& scratch, const std::vector<std::string>& games) {
    service_config config;
    config.db_path = scratch + "/replays.sqlite";
    config.log_requests = false;
    config.posts_per_minute = 0;
    highscore_service service(config);
    const int port = service.bind("127.0.0.1", 0);
    if (port < 0) {
        std::fprintf(stderr, "kulimbara-highscore-bench: cannot bind to loopback\n");
        return false;
    }
    std::thread serving([&] { service.listen(); });
    service.wait_until_ready();
    std::mutex results_mutex;
    std::vector<double> latencies_ms;
    int ranked = 0;
    const steady::time_point start = steady::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::vector<double> mine;
            int created = 0;
            for (std::size_t i = c; i < games.size(); i += clients) {
                const steady::time_point sent = steady::now();
                httplib::Client client("127.0.0.1", port);
                const httplib::Result answer =
                    client.Post("/replays", games[i], "application/octet-stream");
                mine.push_back(ms_since(sent));
                created += answer && answer->status == 201 ? 1 : 0;
            }
            const std::lock_guard lock(results_mutex);
            latencies_ms.insert(latencies_ms.end(), mine.begin(), mine.end());
            ranked += created;
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const double seconds = std::chrono::duration<double>(steady::now() - start).count();
    service.stop();
    serving.join();
    std::sort(latencies_ms.begin(), latencies_ms.end());
    std::printf("replay posts: %d clients, %zu distinct games, %d ranked (201) in %.2f s\n",
                clients, games.size(), ranked, seconds);
    std::printf("replay posts per second: %.1f\n", ranked / seconds);
    std::printf("latency per replay post: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                quantile(latencies_ms, 0.5), quantile(latencies_ms, 0.99), latencies_ms.back());
    if (ranked != static_cast<int>(games.size())) {
        std::fprintf(stderr, "kulimbara-highscore-bench: %d replays were not ranked\n",
                     static_cast<int>(games.size()) - ranked);
        return false;
    }
    return true;
}

// p50 and p99 of answer_post, in-process, while `addresses` distinct client addresses post within
// the minute: each address posts once, valid and stored, with the per-address limit on.
void bench_many_addresses(const std::string& scratch, int addresses) {
    service_config config;
    config.db_path = scratch + "/addresses.sqlite";
    config.log_requests = false;
    config.max_score = 1000000;
    highscore_service service(config);
    seed_random(2);
    std::vector<std::string> targets;
    targets.reserve(static_cast<std::size_t>(addresses));
    for (int i = 0; i < addresses; ++i) {
        targets.push_back("/highscore.php?" + generate_params("many", i, next_random));
    }
    std::vector<double> latencies_ms;
    latencies_ms.reserve(targets.size());
    int accepted = 0;
    for (int i = 0; i < addresses; ++i) {
        const std::string address = "10." + std::to_string(i >> 16) + "." +
                                    std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255);
        const steady::time_point sent = steady::now();
        accepted +=
            service.answer_post(targets[static_cast<std::size_t>(i)], address).status == 200;
        latencies_ms.push_back(
            std::chrono::duration<double, std::milli>(steady::now() - sent).count());
    }
    std::sort(latencies_ms.begin(), latencies_ms.end());
    std::printf(
        "answer_post from %d distinct addresses in the minute (%d stored): p50 %.3f ms, "
        "p99 %.3f ms, max %.3f ms\n",
        addresses, accepted, latencies_ms[latencies_ms.size() / 2],
        latencies_ms[latencies_ms.size() * 99 / 100], latencies_ms.back());
}
}  // namespace

int main() {
    const char* tmp = std::getenv("TMPDIR");
    std::string scratch =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kulimbara-bench-XXXXXX";
    if (::mkdtemp(scratch.data()) == nullptr) {
        std::perror("kulimbara-highscore-bench: mkdtemp");
        return EXIT_FAILURE;
    }
    service_config config;
    config.db_path = scratch + "/scores.sqlite";
    config.posts_per_minute = 0;
    config.log_requests = false;
    config.max_score = 1000000;
    int exit_status = EXIT_SUCCESS;
    {
        highscore_service service(config);
        const int port = service.bind("127.0.0.1", 0);
        if (port < 0) {
            std::fprintf(stderr, "kulimbara-highscore-bench: cannot bind to loopback\n");
            return EXIT_FAILURE;
        }
        std::thread serving([&] { service.listen(); });
        service.wait_until_ready();

        // The queries are made up front: the game's generator is not for several threads.
        seed_random(1);
        std::vector<std::vector<std::string>> queries(clients);
        for (int c = 0; c < clients; ++c) {
            for (int i = 0; i < posts_per_client; ++i) {
                queries[c].push_back(generate_params("bench_" + std::to_string(c),
                                                     c * posts_per_client + i, next_random));
            }
        }

        std::mutex latencies_mutex;
        std::vector<double> latencies_ms;
        int accepted = 0;
        const steady::time_point start = steady::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                std::vector<double> mine;
                int ok = 0;
                for (const std::string& query : queries[c]) {
                    const steady::time_point sent = steady::now();
                    const post_result result =
                        send_data(query, {"127.0.0.1", port}, sent + post_time_bound);
                    mine.push_back(
                        std::chrono::duration<double, std::milli>(steady::now() - sent).count());
                    ok += result.success ? 1 : 0;
                }
                const std::lock_guard lock(latencies_mutex);
                latencies_ms.insert(latencies_ms.end(), mine.begin(), mine.end());
                accepted += ok;
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        const double seconds = std::chrono::duration<double>(steady::now() - start).count();
        service.stop();
        serving.join();

        std::sort(latencies_ms.begin(), latencies_ms.end());
        const auto percentile = [&](double p) {
            return latencies_ms[static_cast<std::size_t>(p * (latencies_ms.size() - 1))];
        };
        std::printf("score posts: %d clients x %d posts, %d accepted in %.2f s\n", clients,
                    posts_per_client, accepted, seconds);
        std::printf("accepted posts per second: %.0f\n", accepted / seconds);
        std::printf("latency per post: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", percentile(0.5),
                    percentile(0.99), latencies_ms.back());
        if (accepted != clients * posts_per_client) {
            std::fprintf(stderr, "kulimbara-highscore-bench: %d posts were not accepted\n",
                         clients * posts_per_client - accepted);
            exit_status = EXIT_FAILURE;
        }
    }
    bench_many_addresses(scratch, distinct_addresses);

    const steady::time_point recording = steady::now();
    const std::vector<std::string> games =
        record_distinct_games(replays_verified_in_process + clients * replays_per_client);
    std::printf("recorded %zu distinct whole games in %.1f s\n", games.size(),
                ms_since(recording) / 1000);
    const auto split =
        games.begin() + std::min<std::ptrdiff_t>(replays_verified_in_process,
                                                 static_cast<std::ptrdiff_t>(games.size()));
    bench_verification(scratch, {games.begin(), split});
    if (!bench_replay_posts(scratch, {split, games.end()})) {
        exit_status = EXIT_FAILURE;
    }
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return exit_status;
}
