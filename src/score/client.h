// The game's side of the online score post: where posts go, the HTTP request that carries a
// query to the high-score service, and the worker that keeps the game drawing while it goes.
// The query itself is the protocol's (protocol.h).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct highscore_endpoint {
    std::string host;
    int port = 80;
};

// "http://HOST[:PORT][/]" (the scheme may be left out); nullopt for anything else.
std::optional<highscore_endpoint> parse_highscore_url(std::string_view url);

// Where posts go: KULIMBARA_HIGHSCORE_URL when set, otherwise the host chosen at build time
// on port 80. nullopt when the variable is set but is no such URL.
std::optional<highscore_endpoint> configured_endpoint();

struct post_result {
    bool success = false;
    // The answer's status line (with the reason the service gave for a refusal), or what
    // failed.
    std::string detail;
    int status = 0;  // the answer's status, 0 when there was none
    int rank = 0;    // the board's rank for a replay it accepted, 0 when it gave none
};

// Resolve, connect, send and read together never take longer than this.
constexpr std::chrono::milliseconds post_time_bound{5000};

// Sends the GET request for the query `url` to the endpoint (IPv4) and reads the answer:
// success only for a 2xx status; a refusal's one-line reason is added to the detail. Every
// step gives up at `deadline`, except the name resolution, which the platform bounds.
post_result send_data(const std::string& url, const highscore_endpoint& endpoint,
                      std::chrono::steady_clock::time_point deadline);

// Sends `replay_bytes` as `POST /replays` (application/octet-stream) and reads the whole
// answer: success only for a 2xx status, the rank from a JSON body's "rank" member; a refusal's
// one-line reason is added to the detail. Bounded as send_data.
post_result send_replay(std::string_view replay_bytes, const highscore_endpoint& endpoint,
                        std::chrono::steady_clock::time_point deadline);

// Statuses by which a board refuses the POST without judging the replay: one that predates
// replays answers 404 or 405, or refuses any body (413 from the service, 403 from its web
// server); a replay too large for the board also gets 413. The post is then made again as the
// GET of the name and score, which the board lists unverified, or refuses when it asks for
// replays.
constexpr bool is_replays_unknown_status(int status) {
    return status == 403 || status == 404 || status == 405 || status == 413;
}

// One score post on a worker thread, driven from one thread (the game's). The query is built
// on that thread, with the generator the worker was given (the game's is not for other
// threads). The worker owns a share of the state it reports into, so this object, or the
// whole process, may end while a post is under way.
class score_post_worker {
  public:
    // `random` gives the query's random characters (uniform integers from 0 to 32767).
    explicit score_post_worker(std::function<int()> random,
                               std::chrono::milliseconds bound = post_time_bound);

    // Starts posting; returns at once. A post already under way is abandoned. With
    // `replay_bytes`, the replay is posted, and the name and score by GET only when the board
    // does not know replays (within the same bound); without, the name and score alone.
    void start(std::string_view name, int score, const highscore_endpoint& endpoint,
               std::optional<std::string> replay_bytes = std::nullopt);
    // Starts posting to configured_endpoint(); a malformed KULIMBARA_HIGHSCORE_URL gives a
    // failed result at once.
    void start(std::string_view name, int score,
               std::optional<std::string> replay_bytes = std::nullopt);
    // The result once the attempt is over, including a post that ran out of time.
    std::optional<post_result> poll();
    // Blocks until the result is known.
    post_result wait();

  private:
    struct shared_state;
    std::function<int()> random_;
    std::shared_ptr<shared_state> state_;
    std::chrono::milliseconds bound_;
    std::chrono::steady_clock::time_point deadline_;
};

// Posts the score and waits for the result, within post_time_bound.
post_result send_score_online(std::string_view name, int score, std::function<int()> random);
