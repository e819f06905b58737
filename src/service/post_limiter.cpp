// SPDX-License-Identifier: MIT
#include "post_limiter.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <functional>

std::optional<std::string> canonical_address(std::string_view text) {
    if (text.size() >= INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    char out[INET6_ADDRSTRLEN];
    in_addr v4{};
    if (inet_pton(AF_INET, terminated.c_str(), &v4) == 1) {
        return inet_ntop(AF_INET, &v4, out, sizeof out);
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, terminated.c_str(), &v6) != 1) {
        return std::nullopt;
    }
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::copy_n(v6.s6_addr + 12, 4, reinterpret_cast<unsigned char*>(&v4));
        return inet_ntop(AF_INET, &v4, out, sizeof out);
    }
    return inet_ntop(AF_INET6, &v6, out, sizeof out);
}

bool is_loopback(std::string_view canonical) {
    return canonical.starts_with("127.") || canonical == "::1";
}

std::string limit_key(std::string_view canonical) {
    in6_addr v6{};
    const std::string terminated(canonical);
    if (inet_pton(AF_INET6, terminated.c_str(), &v6) != 1) {
        return terminated;
    }
    std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
    char out[INET6_ADDRSTRLEN];
    return std::string(inet_ntop(AF_INET6, &v6, out, sizeof out)) + "/64";
}

post_limiter::post_limiter(int per_minute, std::size_t max_tracked)
    : per_minute_(static_cast<std::size_t>(std::max(per_minute, 0))), max_tracked_(max_tracked) {}

bool post_limiter::admit_into(window& w, clock::time_point now) const {
    if (w.times.size() < per_minute_) {
        w.times.push_back(now);
    } else if (w.times[w.next] > now - std::chrono::minutes(1)) {
        return false;
    } else {
        w.times[w.next] = now;
        w.next = (w.next + 1) % per_minute_;
    }
    w.last = now;
    return true;
}

bool post_limiter::admit(const std::string& key, clock::time_point now) {
    if (per_minute_ == 0) {
        return true;
    }
    shard& s = shards_[std::hash<std::string>{}(key) % shard_count];
    {
        const std::lock_guard lock(s.mutex);
        const auto found = s.windows.find(key);
        if (found != s.windows.end()) {
            return admit_into(found->second, now);
        }
        if (tracked_.fetch_add(1) < max_tracked_) {
            return admit_into(s.windows[key], now);
        }
        tracked_.fetch_sub(1);
    }
    const std::lock_guard lock(overflow_mutex_);
    return admit_into(overflow_, now);
}

std::size_t post_limiter::sweep(clock::time_point now) {
    const clock::time_point window_start = now - std::chrono::minutes(1);
    std::size_t forgotten = 0;
    for (shard& s : shards_) {
        const std::lock_guard lock(s.mutex);
        forgotten += std::erase_if(
            s.windows, [&](const auto& entry) { return entry.second.last <= window_start; });
    }
    tracked_ -= forgotten;
    return forgotten;
}
