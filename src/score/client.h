// SPDX-License-Identifier: MIT
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
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = 80;
};

// "http://HOST[:PORT][/]", HOST a name, an IPv4 address or an IPv6 address in brackets
// ("http://[::1]:8080"); nullopt for anything else, a value without the scheme included.
std::optional<highscore_endpoint> parse_highscore_url(std::string_view url);

// The board as a player reads it: "http://HOST[:PORT]", the port left out when it is 80.
std::string board_address(const highscore_endpoint& endpoint);

// Where posts go: KULIMBARA_HIGHSCORE_URL when set, otherwise the board named at build time
// (KULIMBARA_HIGHSCORE_HOST, "HOST[:PORT]", port 80 by default), otherwise nowhere.
struct configured_board {
    enum class setting {
        set,        // endpoint holds the board
        none,       // neither the variable nor the build names a board
        malformed,  // the variable or the build's host is no such address; problem says which
    };
    setting what = setting::none;
    highscore_endpoint endpoint;
    std::string problem;
};
configured_board configured_endpoint();

// Why a post failed, by what the player can do about it.
enum class post_failure {
    none,               // accepted
    no_board,           // no board is set up: there is nowhere to post
    bad_address,        // KULIMBARA_HIGHSCORE_URL (or the build's host) is malformed
    could_not_connect,  // the name did not resolve, or no address took the connection
    no_answer,          // the time bound ran out
    refused,            // the board answered with a status other than 2xx
    bad_answer,         // the board answered something that is no HTTP answer
};

struct post_result {
    bool success = false;
    // The answer's status line (with the reason the service gave for a refusal), or what
    // failed.
    std::string detail;
    int status = 0;  // the answer's status, 0 when there was none
    int rank = 0;    // the board's rank for a replay it accepted, 0 when it gave none
    post_failure failure = post_failure::none;
    // For a refusal: the service's one-line reason, or else the status line's reason phrase.
    std::string reason;
};

// A failed post in a few words for the end screen ("could not connect", "refused: REASON",
// "no answer in 5 s"); empty for an accepted one. `bound` is the post's time bound.
std::string post_failure_words(const post_result& result, std::chrono::milliseconds bound);

// Resolve, connect, send and read together never take longer than this.
constexpr std::chrono::milliseconds post_time_bound{5000};

// Sends the GET request for the query `url` to the endpoint (each of its addresses in turn,
// IPv4 or IPv6) and reads the status line of the answer, and a refusal's reason: success
// only for a 2xx status. Every step gives up at `deadline`, except the name resolution,
// which the platform bounds.
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
    // Starts posting to configured_endpoint(); without a board, or with a malformed address,
    // the result is a failure at once (no_board, bad_address).
    void start(std::string_view name, int score,
               std::optional<std::string> replay_bytes = std::nullopt);
    // The result once the attempt is over, including a post that ran out of time.
    std::optional<post_result> poll();
    // Blocks until the result is known.
    post_result wait();
    // The address of the board that the last post went to; empty when it had none.
    const std::string& board() const { return board_; }
    std::chrono::milliseconds bound() const { return bound_; }

  private:
    void finish_at_once(post_result result);

    struct shared_state;
    std::function<int()> random_;
    std::shared_ptr<shared_state> state_;
    std::chrono::milliseconds bound_;
    std::chrono::steady_clock::time_point deadline_;
    std::string board_;
};

// Posts the score and waits for the result, within post_time_bound.
post_result send_score_online(std::string_view name, int score, std::function<int()> random);
