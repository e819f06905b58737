// SPDX-License-Identifier: MIT
// The high-score service: receives the game's score posts, verifies their check value with
// the game's own check code, or receives a game's replay and plays it again to prove its score,
// keeps the scores (and the replays that proved them) in SQLite and serves the leaderboard.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A post whose query passed every test.
struct score_post {
    std::string name;
    int score = 0;
};

// The verdict on a query: the post when it is valid, otherwise a one-line reason.
struct query_verdict {
    std::optional<score_post> post;
    std::string reason;
};

// Checks a raw (undecoded) query "name=…&score=…&check=…": exactly those three parameters,
// once each; a name of 1 to 16 characters a-z, 0-9, space (sent as %20, the only escape
// accepted) and _ with a letter or digit among them, the post carrying it without its leading
// and trailing spaces; a decimal score from 0 to max_score without leading zeros; a check field
// of digits at even and lower-case hex at odd positions whose digits are the post's check.
query_verdict validate_score_query(std::string_view query, int max_score);

// The status of an answer to a post and its one line of text.
struct post_answer {
    int status = 0;
    std::string line;
};

struct score_entry {
    std::string name;
    int score = 0;
    std::string posted_utc;  // ISO 8601, "2026-12-06T12:00:00Z"
    // The replay that proved the score: 16 lower-case hex digits, served at /replays/ID; empty
    // for a score posted by GET.
    std::string replay_id;
};

struct service_config {
    std::string db_path = "highscores.sqlite";
    int max_score = 100000;
    // Posts per minute from one client address (an IPv6 address by its /64) before it is
    // answered 429; 0 for no limit.
    int posts_per_minute = 10;
    // One line per request on standard error.
    bool log_requests = true;
    // Proxies, besides any loopback address, whose X-Real-IP header names the client.
    std::vector<std::string> trusted_proxies{};
    // Days a stored post keeps its client address; older addresses are erased.
    int keep_addresses_days = 30;
    // Client addresses that the post limit counts one by one; beyond them the rest share one
    // allowance of posts_per_minute.
    std::size_t max_tracked_addresses = 100000;
    // Ranks replays alone: the GET post is refused 403, and the board lists only the scores
    // that a replay proved.
    bool require_replay = false;
    // The game's home page, linked from the board's page; none when empty.
    std::string homepage{};
};

class highscore_service {
  public:
    // Opens (or creates) the database and erases the client addresses past their days; throws
    // std::runtime_error with the reason when it cannot, or when a trusted proxy is no address.
    explicit highscore_service(const service_config& config);
    ~highscore_service();
    highscore_service(const highscore_service&) = delete;
    highscore_service& operator=(const highscore_service&) = delete;

    // Binds to host:port, port 0 picking a free one; returns the port, or -1 on failure.
    int bind(const std::string& host, int port);
    // Serves on the bound socket until stop(); false when serving failed.
    bool listen();
    // Ends listen() from any thread; safe before listen() has started.
    void stop();
    // Blocks until listen() accepts connections, or stop() was called.
    void wait_until_ready() const;

    // Answers a score post, as GET does for it: the raw request target "/highscore.php?…"
    // from the client address (after the request target's length check); stores the post
    // when it is valid.
    post_answer answer_post(std::string_view target, const std::string& address);

    // Answers a replay posted from the client address, as POST /replays does for its body:
    // verifies it, and stores its name and recomputed score with its bytes when it holds. A
    // 201's line is its JSON body, {"rank":R,"id":"ID"}.
    post_answer answer_replay(std::string_view bytes, const std::string& address);

    // The best `count` scores on the board, best first; equal scores in the order they were
    // posted. Under require_replay, the verified ones alone.
    std::vector<score_entry> top(int count) const;

    // Erases the client addresses of the posts stored before `days` days ago, in small
    // batches; returns how many. The service does this hourly on its own thread.
    int erase_addresses_older_than(int days);

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};
