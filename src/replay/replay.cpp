// SPDX-License-Identifier: MIT
#include "replay.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <string>

#include "game.h"
#include "levels.h"
#include "physics.h"

namespace {

constexpr std::string_view magic = "KBREPLAY";
constexpr int max_claimed_score = 10'000'000;

constexpr std::uint64_t flag_finished = 1;
constexpr std::uint64_t flag_space_held = 2;
constexpr std::uint64_t flag_paused = 4;
constexpr std::uint64_t known_flags = 7;

// FNV-1a, 64 bits: identities and digests, not secrets.
class fnv64 {
  public:
    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= p[i];
            hash_ *= 1099511628211ull;
        }
    }
    void add(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) {
            const auto byte = static_cast<unsigned char>(value >> (8 * i));
            bytes(&byte, 1);
        }
    }
    void add(double value) { add(std::bit_cast<std::uint64_t>(value)); }
    void add(float value) { add(static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(value))); }
    void add(int value) { add(static_cast<std::uint64_t>(static_cast<std::int64_t>(value))); }
    void add(std::string_view text) {
        add(static_cast<std::uint64_t>(text.size()));
        bytes(text.data(), text.size());
    }
    void add(const point2D_t& p) {
        add(p.x);
        add(p.y);
    }
    void add(const point3D_t& p) {
        add(p.x);
        add(p.y);
        add(p.z);
    }
    void add(const RGB_t& c) {
        add(c.r);
        add(c.g);
        add(c.b);
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 14695981039346656037ull;
};

// Every number of a level, its tables and its state of play alike.
void add_level(fnv64& h, const level_t& level) {
    h.add(level.width);
    h.add(level.height);
    h.add(level.depth);
    h.add(level.rotation);
    h.add(level.holes_count());
    for (const hole_t& hole : level.holes) {
        h.add(hole.pos);
        h.add(hole.size);
    }
    h.add(level.balls_count());
    for (const ball_t& ball : level.balls) {
        h.add(static_cast<int>(ball.active));
        h.add(ball.pos);
        h.add(ball.size);
        h.add(ball.v);
        h.add(ball.a);
        for (const double m : ball.rotation_matrix) {
            h.add(m);
        }
        h.add(ball.rotation_speed);
        h.add(ball.bounce);
        h.add(ball.color);
        h.add(ball.old_pos);
        h.add(ball.safe_pos);
        h.add(ball.inhibition);
        h.add(ball.last_gate_time);
    }
    h.add(level.active_balls_count);
    h.add(level.blocks_count());
    for (const block_t& block : level.blocks) {
        h.add(block.pos);
        h.add(block.size);
        h.add(block.bounce);
        h.add(block.color);
    }
    h.add(level.gates_count());
    for (const gate_t& gate : level.gates) {
        h.add(gate.pos);
        h.add(gate.size);
        h.add(gate.score);
        h.add(gate.color);
    }
    h.add(level.gate_alpha);
    h.add(level.gate_height);
    h.add(level.ball_activation_interval);
    h.add(level.ball_activation_timer);
    h.add(level.ball_activation_iterator);
    h.add(level.desk_color);
    h.add(level.total_time);
    h.add(level.depth_z);
    for (const float c : level.score_rgb) {
        h.add(c);
    }
}

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}
std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

void put_varint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void put_fixed(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

// Reads the file front to back; the first failure sticks, and every later read gives 0.
class reader {
  public:
    explicit reader(std::string_view bytes) : bytes_(bytes) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    void fail(std::string why) {
        if (error_.empty()) {
            error_ = std::move(why);
        }
    }
    std::size_t left() const { return bytes_.size() - pos_; }

    std::string_view take(std::size_t n) {
        if (failed() || left() < n) {
            fail("truncated");
            return {};
        }
        const std::string_view part = bytes_.substr(pos_, n);
        pos_ += n;
        return part;
    }
    std::uint64_t fixed(int n) {
        const std::string_view part = take(static_cast<std::size_t>(n));
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < part.size(); ++i) {
            value |= static_cast<std::uint64_t>(static_cast<unsigned char>(part[i])) << (8 * i);
        }
        return value;
    }
    std::uint64_t varint() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::string_view part = take(1);
            if (part.empty()) {
                return 0;
            }
            const auto byte = static_cast<unsigned char>(part[0]);
            if (shift == 63 && byte > 1) {
                break;
            }
            value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        fail("a number runs over 64 bits");
        return 0;
    }
    // A number from 0 to `high`; `what` names it when it is out of bounds.
    std::uint64_t bounded(std::uint64_t high, const char* what) {
        const std::uint64_t value = varint();
        if (value > high) {
            fail(std::string(what) + " " + std::to_string(value) + " is out of bounds (at most " +
                 std::to_string(high) + ")");
            return 0;
        }
        return value;
    }

  private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
    std::string error_;
};

std::string hex(std::uint64_t value) {
    char text[17];
    for (int i = 15; i >= 0; --i) {
        text[i] = "0123456789abcdef"[value & 0xf];
        value >>= 4;
    }
    return std::string(text, 16);
}

std::int64_t system_utc_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

level_claim claim_of(const game& g, int score) {
    fnv64 h;
    h.add(g.session.current_level);
    h.add(g.session.total_score);
    add_level(h, *g.level);
    return {score, h.value()};
}

}  // namespace

std::uint64_t rules_hash() {
    // The tables are built into the program: hashed once, on first use (from any thread).
    static const std::uint64_t hash = [] {
        fnv64 h;
        h.add(std::string_view("kulimbara rules"));
        h.add(static_cast<std::uint64_t>(replay_format_version));
        h.add(static_cast<std::uint64_t>(replay_rules_revision));
        const physics_cfg_t cfg = load_physics_cfg();
        for (const double c : {cfg.max_rotation_angle, cfg.rotation_step, cfg.simulation_box_size,
                               cfg.rotation_inhibition, cfg.ball_collision_inhibition, cfg.gravity,
                               max_step_seconds}) {
            h.add(c);
        }
        for (int n = 0; n < levels_count; ++n) {
            add_level(h, *load_level(n));
        }
        return h.value();
    }();
    return hash;
}

frame_input replay::input(std::size_t i) const {
    frame_input in;
    in.deltaT = seconds(frames[i].micros);
    const std::uint32_t first = i == 0 ? 0 : frames[i - 1].keys_end;
    in.keys.assign(keys.begin() + first, keys.begin() + frames[i].keys_end);
    return in;
}

double replay::seconds(std::uint32_t micros) {
    return micros / 1e6;
}

std::optional<std::uint32_t> replay::micros_of(double deltaT) {
    if (!(deltaT >= 0.0) || deltaT > seconds(replay_max_frame_micros)) {
        return std::nullopt;
    }
    const auto micros = static_cast<std::uint32_t>(std::llround(deltaT * 1e6));
    if (seconds(micros) != deltaT) {
        return std::nullopt;
    }
    return micros;
}

double replay::duration() const {
    std::uint64_t micros = 0;
    for (const replay_frame& f : frames) {
        micros += f.micros;
    }
    return static_cast<double>(micros) / 1e6;
}

std::string encode_replay(const replay& r) {
    std::string out(magic);
    put_fixed(out, replay_format_version, 2);
    put_fixed(out, r.rules, 8);
    put_varint(out, (r.finished ? flag_finished : 0) |
                        (r.space_held_at_start ? flag_space_held : 0) |
                        (r.paused_at_start ? flag_paused : 0));
    put_varint(out, zigzag(r.start_utc));
    put_varint(out, r.player_name.size());
    out += r.player_name;
    put_varint(out, r.levels.size());
    for (const level_claim& level : r.levels) {
        put_varint(out, static_cast<std::uint64_t>(level.score));
        put_fixed(out, level.digest, 8);
    }
    put_varint(out, static_cast<std::uint64_t>(r.total_score));
    put_varint(out, r.frames.size());
    std::uint32_t micros = 0;
    std::uint32_t key = 0;
    for (const replay_frame& f : r.frames) {
        const std::int64_t change = static_cast<std::int64_t>(f.micros) - micros;
        const std::uint32_t count = f.keys_end - key;
        put_varint(out, zigzag(change) << 1 | (count > 0 ? 1 : 0));
        if (count > 0) {
            put_varint(out, count);
            for (; key < f.keys_end; ++key) {
                const key_event& k = r.keys[key];
                put_varint(out, static_cast<std::uint64_t>(k.key & 0xff) << 1 | (k.down ? 1 : 0));
            }
        }
        micros = f.micros;
    }
    return out;
}

replay_read decode_replay(std::string_view bytes) {
    reader in(bytes);
    replay r;
    if (in.take(magic.size()) != magic) {
        return {std::nullopt, in.failed() ? "truncated" : "not a replay: wrong magic"};
    }
    const auto version = static_cast<std::uint16_t>(in.fixed(2));
    if (!in.failed() && version != replay_format_version) {
        return {std::nullopt, "format version " + std::to_string(version) +
                                  " is not known (this game reads version " +
                                  std::to_string(replay_format_version) + ")"};
    }
    r.rules = in.fixed(8);
    if (!in.failed() && r.rules != rules_hash()) {
        return {std::nullopt, "made under other rules (" + hex(r.rules) + ", this game's are " +
                                  hex(rules_hash()) + ")"};
    }
    const std::uint64_t flags = in.bounded(known_flags, "the flags");
    r.finished = (flags & flag_finished) != 0;
    r.space_held_at_start = (flags & flag_space_held) != 0;
    r.paused_at_start = (flags & flag_paused) != 0;
    r.start_utc = unzigzag(in.varint());
    r.player_name = in.take(in.bounded(player_name_max, "the name's length"));
    for (const char c : r.player_name) {
        if (!is_name_character(c)) {
            in.fail("the name holds a character no player can type");
        }
    }
    const auto level_count = in.bounded(levels_count, "the count of levels");
    for (std::uint64_t i = 0; i < level_count && !in.failed(); ++i) {
        level_claim level;
        level.score = static_cast<int>(in.bounded(max_claimed_score, "a level's score"));
        level.digest = in.fixed(8);
        r.levels.push_back(level);
    }
    r.total_score = static_cast<int>(in.bounded(max_claimed_score, "the total score"));
    const auto frame_count = in.bounded(replay_max_frames, "the count of frames");
    // Every frame takes a byte at least: a count beyond the bytes left is a cut file.
    if (!in.failed() && frame_count > in.left()) {
        in.fail("truncated");
    }
    r.frames.reserve(in.failed() ? 0 : frame_count);
    std::int64_t micros = 0;
    for (std::uint64_t i = 0; i < frame_count && !in.failed(); ++i) {
        const std::uint64_t word = in.varint();
        micros += unzigzag(word >> 1);
        if (!in.failed() && (micros < 0 || micros > replay_max_frame_micros)) {
            in.fail("frame " + std::to_string(i) + " lasts " + std::to_string(micros) +
                    " µs: not a frame time (0 to " + std::to_string(replay_max_frame_micros) +
                    " µs)");
        }
        if ((word & 1) != 0) {
            const auto count = in.bounded(replay_max_keys_per_frame, "a frame's count of keys");
            if (count == 0) {
                in.fail("a frame marked with keys has none");
            }
            for (std::uint64_t k = 0; k < count && !in.failed(); ++k) {
                const auto key = in.bounded(0x1ff, "a key");
                r.keys.push_back({(key & 1) != 0, static_cast<int>(key >> 1)});
            }
        }
        r.frames.push_back(
            {static_cast<std::uint32_t>(micros), static_cast<std::uint32_t>(r.keys.size())});
    }
    if (!in.failed() && in.left() > 0) {
        in.fail(std::to_string(in.left()) + " bytes after the last frame");
    }
    if (in.failed()) {
        return {std::nullopt, in.error()};
    }
    return {std::move(r), ""};
}

std::uint64_t frames_hash(const replay& r) {
    fnv64 h;
    std::uint32_t key = 0;
    for (const replay_frame& f : r.frames) {
        h.add(static_cast<std::uint64_t>(f.micros));
        h.add(static_cast<std::uint64_t>(f.keys_end - key));
        for (; key < f.keys_end; ++key) {
            h.add(static_cast<std::uint64_t>(r.keys[key].key) << 1 | (r.keys[key].down ? 1 : 0));
        }
    }
    return h.value();
}

replay_recorder::replay_recorder(std::function<std::int64_t()> utc_now)
    : utc_now_(utc_now ? std::move(utc_now) : system_utc_now) {}

replay_recorder::state replay_recorder::observe(const frame_input& input, const game& after,
                                                const std::vector<frame_event>& events) {
    if (on_intro_ && !is_intro(after.session.screen)) {
        start(space_held_, paused_);
    }
    if (state_ == state::recording) {
        record(input, after, events);
    }
    on_intro_ = is_intro(after.session.screen);
    space_held_ = after.game_key;
    paused_ = after.pause_flag;
    return state_;
}

void replay_recorder::start(bool space_held, bool paused) {
    replay_ = replay{};
    replay_.rules = rules_hash();
    replay_.start_utc = utc_now_();
    replay_.space_held_at_start = space_held;
    replay_.paused_at_start = paused;
    level_score_ = 0;
    claimed_level_ = -1;
    state_ = state::recording;
}

replay_recorder::state replay_recorder::record(const frame_input& input, const game& after,
                                               const std::vector<frame_event>& events) {
    if (state_ != state::recording) {
        return state_;
    }
    const std::optional<std::uint32_t> micros = replay::micros_of(input.deltaT);
    if (!micros || replay_.frames.size() >= replay_max_frames ||
        input.keys.size() > replay_max_keys_per_frame) {
        // A frame that the file cannot hold: this game goes unrecorded.
        state_ = state::idle;
        return state_;
    }
    replay_.keys.insert(replay_.keys.end(), input.keys.begin(), input.keys.end());
    replay_.frames.push_back({*micros, static_cast<std::uint32_t>(replay_.keys.size())});

    for (const frame_event& event : events) {
        if (event.what == frame_event::kind::gate_scored) {
            level_score_ += event.points;
        }
    }
    for (const frame_event& event : events) {
        if (event.what == frame_event::kind::level_completed) {
            claim_level(after);
        } else if (event.what == frame_event::kind::game_over) {
            state_ = state::finished;
        }
    }
    if (state_ == state::recording && after.quit) {
        if (claimed_level_ < after.session.current_level) {
            claim_level(after);
        }
        state_ = state::unfinished;
    }
    replay_.finished = state_ == state::finished;
    replay_.total_score = after.session.total_score;
    return state_;
}

void replay_recorder::claim_level(const game& after) {
    replay_.levels.push_back(claim_of(after, level_score_));
    claimed_level_ = after.session.current_level;
    level_score_ = 0;
}

std::uint64_t replay_outcome::outcome_hash() const {
    fnv64 h;
    for (const replay_level_result& level : levels) {
        h.add(level.claim.score);
        h.add(level.claim.digest);
    }
    h.add(total_score);
    return h.value();
}

replay_outcome replay_game(const replay& r) {
    replay_outcome outcome;
    game g;
    g.Init(0);
    g.game_key = r.space_held_at_start;
    g.pause_flag = r.paused_at_start;
    replay_recorder recorder([&r] { return r.start_utc; });
    recorder.start(r.space_held_at_start, r.paused_at_start);
    long level_frames = 0;
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        if (recorder.current() != replay_recorder::state::recording) {
            outcome.problem = "the game ended at frame " + std::to_string(i) + " of " +
                              std::to_string(r.frames.size());
            break;
        }
        const frame_input input = r.input(i);
        const std::size_t claimed = recorder.recording().levels.size();
        const std::vector<frame_event>& events = g.tick(input);
        recorder.record(input, g, events);
        outcome.frames_played = i + 1;
        level_frames += 1;
        if (i == 0 && is_intro(g.session.screen)) {
            outcome.problem = "the first frame does not start the game";
            break;
        }
        if (recorder.recording().levels.size() > claimed) {
            replay_level_result level;
            level.level = static_cast<int>(claimed);
            level.claim = recorder.recording().levels.back();
            level.completed = recorder.current() != replay_recorder::state::unfinished;
            level.frames = level_frames;
            level.seconds = g.level->total_time;
            outcome.levels.push_back(level);
            level_frames = 0;
        }
    }
    if (outcome.problem.empty() && recorder.current() == replay_recorder::state::recording) {
        outcome.problem = "the frames stop in the middle of the game";
    }
    outcome.finished = recorder.current() == replay_recorder::state::finished;
    outcome.total_score = g.session.total_score;
    return outcome;
}

replay_verdict judge_replay(const replay& claimed, const replay_outcome& outcome) {
    auto refuse = [](int level, std::string reason) {
        return replay_verdict{false, level, std::move(reason)};
    };
    const std::size_t levels = std::max(claimed.levels.size(), outcome.levels.size());
    for (std::size_t i = 0; i < levels; ++i) {
        const int n = static_cast<int>(i);
        const std::string name = "level " + std::to_string(n);
        if (i >= outcome.levels.size()) {
            return refuse(n, name + " is claimed but was not played" +
                                 (outcome.problem.empty() ? "" : ": " + outcome.problem));
        }
        const level_claim& recomputed = outcome.levels[i].claim;
        if (i >= claimed.levels.size()) {
            return refuse(n, name + " was played but is not claimed");
        }
        if (claimed.levels[i].score != recomputed.score) {
            return refuse(n, name + ": claimed score " + std::to_string(claimed.levels[i].score) +
                                 ", recomputed " + std::to_string(recomputed.score));
        }
        if (claimed.levels[i].digest != recomputed.digest) {
            return refuse(n, name + ": the score matches, but the play ended otherwise");
        }
    }
    if (!outcome.problem.empty()) {
        return refuse(-1, outcome.problem);
    }
    if (claimed.finished != outcome.finished) {
        return refuse(-1, claimed.finished ? "claimed finished, but the game was not"
                                           : "claimed unfinished, but the game was finished");
    }
    if (claimed.total_score != outcome.total_score) {
        return refuse(-1, "claimed total " + std::to_string(claimed.total_score) + ", recomputed " +
                              std::to_string(outcome.total_score));
    }
    return {true, -1, ""};
}

std::string implausibility(const replay& r) {
    if (!r.finished) {
        return "the game was not finished";
    }
    if (r.duration() > replay_max_game_seconds) {
        return "the game lasts longer than " +
               std::to_string(static_cast<int>(replay_max_game_seconds / 3600)) + " hours";
    }
    std::size_t short_frames = 0;
    for (std::size_t i = 1; i < r.frames.size(); ++i) {
        if (r.frames[i].micros < replay_min_frame_micros) {
            short_frames += 1;
        }
    }
    if (short_frames * 100 > r.frames.size()) {
        return std::to_string(short_frames) + " of " + std::to_string(r.frames.size()) +
               " frames are shorter than " + std::to_string(replay_min_frame_micros / 1000) + " ms";
    }
    return "";
}
