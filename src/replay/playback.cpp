// SPDX-License-Identifier: MIT
#include "playback.h"

#include <algorithm>

replay_pacer::replay_pacer(const replay& r) {
    std::uint64_t end = 0;
    frame_ends_.reserve(r.frames.size());
    for (const replay_frame& frame : r.frames) {
        end += frame.micros;
        frame_ends_.push_back(end);
    }
}

void replay_pacer::advance(std::int64_t now_micros) {
    if (started_ && !paused_ && now_micros > last_wall_micros_) {
        const auto wall = static_cast<std::uint64_t>(now_micros - last_wall_micros_);
        playback_micros_ += fast_ ? wall * fast_factor : wall;
    }
    // A clock that went back counts as no time.
    if (!started_ || now_micros > last_wall_micros_) {
        last_wall_micros_ = now_micros;
    }
    started_ = true;
}

std::size_t replay_pacer::due(std::int64_t now_micros) {
    advance(now_micros);
    return static_cast<std::size_t>(
        std::upper_bound(frame_ends_.begin(), frame_ends_.end(), playback_micros_) -
        frame_ends_.begin());
}

void replay_pacer::set_paused(std::int64_t now_micros, bool paused) {
    advance(now_micros);
    paused_ = paused;
}

void replay_pacer::set_fast(std::int64_t now_micros, bool fast) {
    advance(now_micros);
    fast_ = fast;
}
