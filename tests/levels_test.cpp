// SPDX-License-Identifier: MIT
// The built-in levels: what the game relies on, and geometry that the desk builder can cut.
// The recorded whole-game results (golden_test.sh) pin the rest of the data.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "levels.h"
#include "session.h"

namespace {

// What would keep a level from being built or played: holes that cross each other (they may
// touch, as level 0's row of small holes does) or the desk's edge, gates and blocks past the
// edge, balls that start off the desk or over a hole. A hole's rim at any quality is a polygon
// inside its circle, so circles that keep apart are safe at every quality.
std::vector<std::string> level_problems(const level_t& level) {
    std::vector<std::string> problems;
    const auto on_desk = [&](const std::string& what, double x, double y, double hx, double hy) {
        if (!(std::abs(x) + hx < level.width / 2.0 && std::abs(y) + hy < level.height / 2.0)) {
            problems.push_back(what + " is off the desk");
        }
    };
    const auto over = [](const hole_t& h, double x, double y, double reach) {
        return std::hypot(x - h.pos.x, y - h.pos.y) < h.size / 2 + reach;
    };
    for (std::size_t i = 0; i < level.holes.size(); ++i) {
        const hole_t& h = level.holes[i];
        on_desk("hole " + std::to_string(i), h.pos.x, h.pos.y, h.size / 2, h.size / 2);
        for (std::size_t j = i + 1; j < level.holes.size(); ++j) {
            if (over(level.holes[j], h.pos.x, h.pos.y, h.size / 2 - 1e-9)) {
                problems.push_back("holes " + std::to_string(i) + " and " + std::to_string(j));
            }
        }
    }
    for (const gate_t& g : level.gates) {
        on_desk("gate " + std::to_string(g.score), g.pos.x, g.pos.y, g.size / 2 - 1e-9, -1e-9);
    }
    for (const block_t& b : level.blocks) {
        on_desk("block", b.pos.x, b.pos.y, b.size.x / 2 - 1e-9, b.size.y / 2 - 1e-9);
    }
    for (std::size_t i = 0; i < level.balls.size(); ++i) {
        const point3D_t& p = level.balls[i].pos;
        on_desk("ball " + std::to_string(i), p.x, p.y, 0.0, 0.0);
        for (const hole_t& h : level.holes) {
            if (over(h, p.x, p.y, 0.0)) {
                problems.push_back("ball " + std::to_string(i) + " starts over a hole");
            }
        }
    }
    return problems;
}

TEST(Levels, EveryLevelCanBeBuiltAndPlayedAndItsBallsWaitWithASafePosition) {
    for (int n = 0; n < levels_count; ++n) {
        SCOPED_TRACE(n);
        const auto level = load_level(n);
        ASSERT_TRUE(level);
        EXPECT_EQ(level_problems(*level), std::vector<std::string>{});
        for (const ball_t& b : level->balls) {
            EXPECT_EQ(b.active, ball_waiting);
            // The block stage needs a defined safe position from the first step.
            EXPECT_EQ(std::pair(b.safe_pos.x, b.safe_pos.y), std::pair(b.pos.x, b.pos.y));
        }
        // Setting a level up again gives every ball the neutral orientation.
        level->balls.back().rotation_matrix[1] = 0.5;
        init_balls(*level);
        EXPECT_EQ(level->balls.back().rotation_matrix, identity_matrix);
    }
    EXPECT_FALSE(load_level(levels_count));
    EXPECT_FALSE(load_level(-1));
}

// Every number of a level as loaded, one line per element, each number in its shortest exact
// form.
std::string describe(int n, const level_t& level) {
    std::string text;
    auto put = [&](const std::string& label, std::initializer_list<double> numbers) {
        text += label;
        for (const double x : numbers) {
            char buffer[32];
            text += ' ';
            text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, x).ptr);
        }
        text += '\n';
    };
    const RGB_t& d = level.desk_color;
    const auto& s = level.score_rgb;
    put("level " + std::to_string(n),
        {level.width, level.height, level.depth, level.rotation.x, level.rotation.y,
         level.ball_activation_interval, static_cast<double>(opening_screen(n)), level.gate_alpha,
         level.gate_height, d.r, d.g, d.b, s[0], s[1], s[2]});
    for (const hole_t& h : level.holes) {
        put("hole", {h.pos.x, h.pos.y, h.size});
    }
    for (const ball_t& b : level.balls) {
        put("ball", {b.pos.x, b.pos.y, b.pos.z, b.size, b.a.z, b.bounce, b.inhibition, b.color.r,
                     b.color.g, b.color.b});
    }
    for (const block_t& b : level.blocks) {
        put("block", {b.pos.x, b.pos.y, b.size.x, b.size.y, b.size.z, b.bounce, b.color.r,
                      b.color.g, b.color.b});
    }
    for (const gate_t& g : level.gates) {
        put("gate", {g.pos.x, g.pos.y, g.size, static_cast<double>(g.score), g.color.r, g.color.g,
                     g.color.b});
    }
    return text;
}

// tests/golden/levels.txt records the six levels; `make golden` writes it anew after an
// intended change (KULIMBARA_RECORD_GOLDEN=1), and its diff shows what moved.
TEST(Levels, MatchTheRecordedLayouts) {
    std::string text;
    for (int n = 0; n < levels_count; ++n) {
        text += describe(n, *load_level(n));
    }
    const std::string path = KULIMBARA_SOURCE_DIR "/tests/golden/levels.txt";
    if (std::getenv("KULIMBARA_RECORD_GOLDEN") != nullptr) {
        std::ofstream(path) << text;
        GTEST_SKIP() << "recorded " << path;
    }
    std::stringstream recorded;
    recorded << std::ifstream(path).rdbuf();
    EXPECT_EQ(text, recorded.str()) << "run 'make golden' if the levels changed on purpose";
}

}  // namespace
