// SPDX-License-Identifier: MIT
// How fast the frame loop may go. At rest (the title, the pause, the end screens) nothing
// moves that needs more than 60 frames a second, and where the display cannot hold the loop
// to its vertical blank, an unlimited loop only burns the processor; a frame then waits out
// the rest of its 1/60 s, asleep. --max-fps N holds every screen to N instead, 0 to none.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

inline constexpr int default_frame_cap = 60;

// The frames a second that the loop is held to now, 0 for no limit.
constexpr int frame_cap(std::optional<int> max_fps, bool vsync, bool at_rest) {
    if (max_fps) {
        return *max_fps;
    }
    return !vsync || at_rest ? default_frame_cap : 0;
}

// Spaces the frames' starts by 1/cap s. A frame that starts late does not make the next ones
// come sooner: the spacing counts from the late start.
class frame_pacer {
  public:
    using clock = std::chrono::steady_clock;

    // When the frame that would start at `now` should start instead: `now` itself when the
    // cap is 0 or the previous frame started at least 1/cap s ago.
    clock::time_point start_at(clock::time_point now, int cap) {
        clock::time_point start = now;
        if (cap > 0 && last_start_) {
            const auto period = std::chrono::duration_cast<clock::duration>(
                std::chrono::duration<double>(1.0 / cap));
            start = std::max(now, *last_start_ + period);
        }
        last_start_ = start;
        return start;
    }

  private:
    std::optional<clock::time_point> last_start_;
};
