// The online score post: the query with its check value, the HTTP request that carries it to
// the high-score service, and the worker that keeps the game drawing while it goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// `value` with its bits a and b (0 to 7) exchanged.
unsigned char bit_swap(unsigned char value, int a, int b);

// One byte of a message mixed by the key material, the key and the byte's index.
unsigned char bit_mix(unsigned char value, int key, int idx);

// CRC-32/BZIP2 (polynomial 0x04C11DB7, register from all ones, unreflected, complemented).
std::uint32_t crc32_bzip2(std::string_view message);

// The CRC-32/BZIP2 of the message's bytes after bit_mix, byte i mixed with index i.
std::uint32_t check_code(std::string_view message, int key);

// The decimal check value of a post: check_code of "<score><name><~score>" (both numbers
// unsigned 32-bit decimals, the name as typed) keyed by the score.
std::string check_digits(std::string_view name, int score);

// The query "name=…&score=…&check=…": spaces in the name become %20, and every check digit
// is followed by one random hexadecimal character drawn from the game's generator.
std::string generate_params(std::string_view name, int score);

// A plain decimal of one to ten digits, from 0 to `high`; nullopt for anything else (signs,
// spaces, exponents, more digits).
std::optional<long long> parse_decimal(std::string_view text, long long high);

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
    // The answer's status line, or what failed.
    std::string detail;
};

// Resolve, connect, send and read together never take longer than this.
constexpr std::chrono::milliseconds post_time_bound{5000};

// Sends the GET request for the query `url` to the endpoint (IPv4) and reads the status line
// of the answer: success only for a 2xx status. Every step gives up at `deadline`, except the
// name resolution, which the platform bounds.
post_result send_data(const std::string& url, const highscore_endpoint& endpoint,
                      std::chrono::steady_clock::time_point deadline);

// One score post on a worker thread, driven from one thread (the game's). The query is built
// by the caller's thread, since the random generator belongs to the game. The worker owns a
// share of the state it reports into, so this object, or the whole process, may end while a
// post is under way.
class score_post_worker {
  public:
    explicit score_post_worker(std::chrono::milliseconds bound = post_time_bound) : bound_(bound) {}

    // Starts posting; returns at once. A post already under way is abandoned.
    void start(std::string_view name, int score, const highscore_endpoint& endpoint);
    // Starts posting to configured_endpoint(); a malformed KULIMBARA_HIGHSCORE_URL gives a
    // failed result at once.
    void start(std::string_view name, int score);
    // The result once the attempt is over, including a post that ran out of time.
    std::optional<post_result> poll();
    // Blocks until the result is known.
    post_result wait();

  private:
    struct shared_state;
    std::shared_ptr<shared_state> state_;
    std::chrono::milliseconds bound_;
    std::chrono::steady_clock::time_point deadline_;
};

// Posts the score and waits for the result, within post_time_bound.
post_result send_score_online(std::string_view name, int score);
