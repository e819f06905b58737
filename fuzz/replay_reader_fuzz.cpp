// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as a replay. The reader must refuse what is no replay without
// crashing, and a replay it reads must encode back to a file that reads the same; played
// again, a replay is judged to hold only when every recomputed claim equals the file's.
//
// The rules' identity (8 bytes after the magic and the version) is overwritten with this
// build's, so that the corpus goes on reaching the frames after a change of rules.
#include <cstddef>
#include <cstdint>
#include <string>

#include "replay.h"
#include "require.h"

namespace {

constexpr std::size_t rules_offset = 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.size() >= rules_offset + 8) {
        const std::uint64_t rules = rules_hash();
        for (int i = 0; i < 8; ++i) {
            bytes[rules_offset + i] = static_cast<char>(rules >> (8 * i));
        }
    }
    const replay_read read = decode_replay(bytes);
    REQUIRE(read.result.has_value() == read.error.empty());
    if (!read.result) {
        return 0;
    }
    const replay& r = *read.result;
    const std::string again = encode_replay(r);
    REQUIRE(again.size() <= bytes.size());
    const replay_read reread = decode_replay(again);
    REQUIRE(reread.result && encode_replay(*reread.result) == again);
    REQUIRE(frames_hash(*reread.result) == frames_hash(r));

    const replay_outcome outcome = replay_game(r);
    REQUIRE(outcome.frames_played <= r.frames.size());
    const replay_verdict verdict = judge_replay(r, outcome);
    if (verdict.holds) {
        REQUIRE(outcome.problem.empty());
        REQUIRE(outcome.frames_played == r.frames.size());
        REQUIRE(outcome.levels.size() == r.levels.size());
        for (std::size_t i = 0; i < r.levels.size(); ++i) {
            REQUIRE(outcome.levels[i].claim == r.levels[i]);
        }
        REQUIRE(outcome.total_score == r.total_score && outcome.finished == r.finished);
    } else {
        REQUIRE(!verdict.reason.empty());
    }
    return 0;
}
