// SPDX-License-Identifier: MIT
// Client addresses as the service trusts and counts them, and the per-address post limit.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The one text of an IPv4 or IPv6 address: "0::1" is "::1", and an IPv4-mapped IPv6 address
// ("::ffff:1.2.3.4") is the IPv4 address. nullopt when the text is not an address.
std::optional<std::string> canonical_address(std::string_view text);

// 127.0.0.0/8 or ::1, given a canonical address.
bool is_loopback(std::string_view canonical);

// What the post limit counts, given a canonical address: an IPv4 address alone, an IPv6
// address by its /64 ("2001:db8:1:2::/64"), since a single host commonly holds a whole /64.
std::string limit_key(std::string_view canonical);

// Posts per key over the last minute, in shards with a mutex each. At most `max_tracked` keys
// are counted one by one; while that many are, every further key shares one overflow
// allowance of the same posts per minute. Keys with no post in the last minute stay until a
// sweep, which the service runs on its own thread, not on a post's.
class post_limiter {
  public:
    using clock = std::chrono::steady_clock;

    // per_minute 0: no limit, nothing tracked.
    post_limiter(int per_minute, std::size_t max_tracked);

    // True when the key may post at `now`; the post is then counted.
    bool admit(const std::string& key, clock::time_point now);
    // Forgets the keys without a post in the minute before `now`; returns how many it forgot.
    std::size_t sweep(clock::time_point now);
    // Keys counted one by one.
    std::size_t tracked() const { return tracked_; }

  private:
    // The times of a key's last posts, at most per_minute of them, oldest at `next` once full.
    struct window {
        std::vector<clock::time_point> times;
        std::size_t next = 0;
        clock::time_point last;
    };
    struct shard {
        std::mutex mutex;
        std::unordered_map<std::string, window> windows;
    };
    static constexpr std::size_t shard_count = 64;

    bool admit_into(window& w, clock::time_point now) const;

    std::size_t per_minute_;
    std::size_t max_tracked_;
    std::atomic<std::size_t> tracked_{0};
    std::array<shard, shard_count> shards_;
    std::mutex overflow_mutex_;
    window overflow_;
};
