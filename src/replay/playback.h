// SPDX-License-Identifier: MIT
// A replay watched at the pace it was played: the replay's own clock is the sum of its frames'
// micros, and a frame is due once the playback clock, which follows the wall clock (four times
// as fast when asked, not at all while paused), has reached the end of that frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "replay.h"

class replay_pacer {
  public:
    static constexpr int fast_factor = 4;

    explicit replay_pacer(const replay& r);

    // The count of frames due at the wall clock's reading `now_micros`: frames 0 to the result
    // minus one. The first reading starts the playback clock at 0.
    std::size_t due(std::int64_t now_micros);

    // The wall time before `now_micros` runs at the old setting, the time after at the new.
    void set_paused(std::int64_t now_micros, bool paused);
    void set_fast(std::int64_t now_micros, bool fast);
    bool paused() const { return paused_; }
    bool fast() const { return fast_; }

    std::size_t frame_count() const { return frame_ends_.size(); }

  private:
    void advance(std::int64_t now_micros);

    std::vector<std::uint64_t> frame_ends_;  // the replay clock at each frame's end, µs
    std::uint64_t playback_micros_ = 0;
    std::int64_t last_wall_micros_ = 0;
    bool started_ = false;
    bool paused_ = false;
    bool fast_ = false;
};
