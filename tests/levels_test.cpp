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

namespace {

bool on_desk(const level_t& level, double x, double y) {
    return std::abs(x) < level.width / 2.0 && std::abs(y) < level.height / 2.0;
}

// What would keep a level from being built or played: holes that cross each other or the
// desk's edge, gates and blocks off the desk, balls that start off it or over a hole. A hole's
// rim at any quality is a polygon inside its circle, so circles that stay apart (they may
// touch, as level 0's row of small holes does) and inside the desk are safe at every quality.
std::vector<std::string> level_problems(const level_t& level) {
    std::vector<std::string> problems;
    const auto& holes = level.holes;
    for (std::size_t i = 0; i < holes.size(); ++i) {
        const double r = holes[i].size / 2;
        if (!on_desk(level, std::abs(holes[i].pos.x) + r, std::abs(holes[i].pos.y) + r)) {
            problems.push_back("hole " + std::to_string(i) + " leaves the desk");
        }
        for (std::size_t j = i + 1; j < holes.size(); ++j) {
            const double apart =
                std::hypot(holes[i].pos.x - holes[j].pos.x, holes[i].pos.y - holes[j].pos.y);
            if (apart < r + holes[j].size / 2 - 1e-9) {
                problems.push_back("holes " + std::to_string(i) + " and " + std::to_string(j) +
                                   " cross");
            }
        }
    }
    for (const gate_t& g : level.gates) {
        // A gate's line may lie on the desk's edge.
        if (!on_desk(level, std::abs(g.pos.x) + g.size / 2 - 1e-9, std::abs(g.pos.y) - 1e-9)) {
            problems.push_back("a gate at " + std::to_string(g.pos.x) + " is off the desk");
        }
    }
    for (const block_t& b : level.blocks) {
        if (!on_desk(level, std::abs(b.pos.x) + b.size.x / 2 - 1e-9,
                     std::abs(b.pos.y) + b.size.y / 2 - 1e-9)) {
            problems.push_back("a block at " + std::to_string(b.pos.x) + ", " +
                               std::to_string(b.pos.y) + " is off the desk");
        }
    }
    for (const ball_t& ball : level.balls) {
        bool over_hole = false;
        for (const hole_t& hole : level.holes) {
            over_hole |=
                std::hypot(ball.pos.x - hole.pos.x, ball.pos.y - hole.pos.y) < hole.size / 2;
        }
        if (!on_desk(level, ball.pos.x, ball.pos.y) || over_hole) {
            problems.push_back("a ball starts off the desk or over a hole");
        }
    }
    return problems;
}

TEST(Levels, EveryLevelCanBeBuiltAndPlayed) {
    for (int n = 0; n < levels_count; ++n) {
        SCOPED_TRACE(n);
        const auto level = load_level(n);
        ASSERT_TRUE(level);
        EXPECT_GT(level->balls_count(), 0);
        EXPECT_EQ(level_problems(*level), std::vector<std::string>{});
    }
}

TEST(Levels, TheCheckFindsWhatWouldBreakALevel) {
    level_t level;
    level.width = 20.0f;
    level.height = 20.0f;
    level.holes = {{{0.0, 0.0}, 4.0}, {{3.9, 0.0}, 4.0}, {{0.0, 4.0}, 4.0}, {{8.0, 8.0}, 4.0}};
    level.gates.push_back({{8.0, 0.0}, 4.1, 10, {}});
    level.blocks.push_back({{-9.5, 0.0}, {1.0, 20.5, 1.2}, 0.25, {}});
    ball_t ball;
    ball.pos = {0.0, 4.5, 10.0};
    level.balls.push_back(ball);
    // Holes 0 and 1 overlap by a tenth; hole 3 reaches the edge; 0 and 2 just touch.
    const std::vector<std::string> expected = {"holes 0 and 1 cross", "hole 3 leaves the desk",
                                               "a gate at 8.000000 is off the desk",
                                               "a block at -9.500000, 0.000000 is off the desk",
                                               "a ball starts off the desk or over a hole"};
    EXPECT_EQ(level_problems(level), expected);
}

// Every number of a level as loaded, one line per element, each number in its shortest exact
// form.
std::string describe(int n, const level_t& level) {
    std::string text;
    auto put = [&](std::initializer_list<double> numbers) {
        for (const double x : numbers) {
            char buffer[32];
            text += ' ';
            text.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, x).ptr);
        }
        text += '\n';
    };
    const RGB_t& d = level.desk_color;
    const auto& s = level.score_rgb;
    text += "level " + std::to_string(n);
    put({level.width, level.height, level.depth, level.rotation.x, level.rotation.y,
         level.ball_activation_interval, static_cast<double>(level.scene_step), level.gate_alpha,
         level.gate_height, d.r, d.g, d.b, s[0], s[1], s[2]});
    for (const hole_t& h : level.holes) {
        text += "hole";
        put({h.pos.x, h.pos.y, h.size});
    }
    for (const ball_t& b : level.balls) {
        text += "ball";
        put({b.pos.x, b.pos.y, b.pos.z, b.size, b.a.z, b.bounce, b.inhibition, b.color.r, b.color.g,
             b.color.b});
    }
    for (const block_t& b : level.blocks) {
        text += "block";
        put({b.pos.x, b.pos.y, b.size.x, b.size.y, b.size.z, b.bounce, b.color.r, b.color.g,
             b.color.b});
    }
    for (const gate_t& g : level.gates) {
        text += "gate";
        put({g.pos.x, g.pos.y, g.size, static_cast<double>(g.score), g.color.r, g.color.g,
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

TEST(Levels, BallsWaitAtTheFarEndWithASafePosition) {
    for (int n = 0; n < levels_count; ++n) {
        SCOPED_TRACE(n);
        const auto level = load_level(n);
        EXPECT_EQ(level->scene_step, n == 0 ? state_intro : state_countdown);
        for (const ball_t& b : level->balls) {
            EXPECT_EQ(b.active, ball_waiting);
            EXPECT_EQ(b.pos.z, 10.0);
            EXPECT_LT(b.pos.y, 0.0);
            // The block stage needs a defined safe position from the first step.
            EXPECT_EQ(b.safe_pos.x, b.pos.x);
            EXPECT_EQ(b.safe_pos.y, b.pos.y);
        }
    }
    // Setting a level up again gives every ball the neutral orientation.
    const auto level = load_level(0);
    level->balls[0].rotation_matrix[1] = 0.5;
    init_balls(*level);
    EXPECT_EQ(level->balls[0].rotation_matrix, identity_matrix);
    EXPECT_FALSE(load_level(levels_count));
    EXPECT_FALSE(load_level(-1));
}

}  // namespace
