// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>

#include "director.h"
#include "game.h"
#include "levels.h"

namespace {

struct played {
    sound_id id;
    int variant;
    float gain;
    std::optional<voice_position> at;
};

// Records what the director asks of the sound device.
struct recording_sink : voice_sink {
    std::vector<played> plays;
    std::map<int, int> roll_calls;  // per ball, its calls since its last stop
    std::vector<float> roll_gains;
    std::vector<float> roll_pitches;
    std::vector<int> stops;
    std::vector<bool> pauses;
    std::vector<bool> mutes;

    void play(sound_id id, int variant, float gain, std::optional<voice_position> at) override {
        plays.push_back({id, variant, gain, at});
    }
    void roll(int ball, float gain, float pitch, voice_position) override {
        ++roll_calls[ball];
        roll_gains.push_back(gain);
        roll_pitches.push_back(pitch);
    }
    void stop_roll(int ball) override {
        EXPECT_TRUE(roll_calls.contains(ball)) << "ball " << ball << " stopped without rolling";
        roll_calls.erase(ball);
        stops.push_back(ball);
    }
    void pause_play(bool paused) override { pauses.push_back(paused); }
    void set_muted(bool muted) override { mutes.push_back(muted); }

    std::vector<played> of(sound_id id) const {
        std::vector<played> found;
        std::ranges::copy_if(plays, std::back_inserter(found),
                             [id](const played& p) { return p.id == id; });
        return found;
    }
};

frame_event event(frame_event::kind what, int ball, double speed = 0.0) {
    frame_event e;
    e.what = what;
    e.ball = ball;
    e.speed = speed;
    return e;
}

// A game of level `n` on its intro, its set-up already seen by the director.
struct director_on_level {
    game g;
    recording_sink sink;
    sound_director director{sink};

    explicit director_on_level(int n) {
        g.Init(n);
        director.after_frame(g, g.events(), true);
    }
    void frame(const std::vector<frame_event>& events, bool sound_on = true) {
        director.after_frame(g, events, sound_on);
    }
    // A frame of the real game, keys as given.
    void tick(std::vector<key_event> keys = {}, double deltaT = 1.0 / 60.0) {
        frame_input input;
        input.deltaT = deltaT;
        input.keys = std::move(keys);
        const std::vector<frame_event>& events = g.tick(input);
        director.after_frame(g, events, g.sound_on);
    }
};

TEST(SoundDirector, GainsFollowSpeedsAndRestingIsSilent) {
    director_on_level d(3);
    using k = frame_event::kind;
    // A ball resting on the desk meets it every step at gravity times the step: no thud, even
    // at the longest step.
    d.frame({event(k::ball_landed, 0, 1.2), event(k::ball_landed, 1, 3.6)});
    EXPECT_TRUE(d.sink.of(sound_id::thud).empty());
    d.frame({event(k::ball_landed, 0, 10.0), event(k::ball_landed, 1, 20.0),
             event(k::ball_landed, 2, 80.0)});
    const auto thuds = d.sink.of(sound_id::thud);
    ASSERT_EQ(thuds.size(), 3u);
    EXPECT_LT(thuds[0].gain, thuds[1].gain);
    EXPECT_FLOAT_EQ(thuds[2].gain, 1.0f);
    for (const k contact : {k::ball_contact, k::block_contact}) {
        director_on_level c(3);
        c.frame({event(contact, 0, 0.03), event(contact, 1, 3.0), event(contact, 2, 6.0)});
        ASSERT_EQ(c.sink.plays.size(), 2u) << "a resting contact is silent";
        EXPECT_GT(c.sink.plays[0].gain, c.sink.plays[1].gain) << "the loudest first";
        EXPECT_EQ(c.sink.plays[0].id,
                  contact == k::ball_contact ? sound_id::click : sound_id::knock);
    }
}

TEST(SoundDirector, ContactVoicesAreCappedPerFrameAndPerBall) {
    director_on_level d(3);  // eight balls
    std::vector<frame_event> knocks;
    for (int ball = 0; ball < 8; ++ball) {
        knocks.push_back(event(frame_event::kind::block_contact, ball, 2.0 + ball));
    }
    knocks.push_back(event(frame_event::kind::ball_contact, 7, 8.0));  // the same ball again
    d.frame(knocks);
    ASSERT_EQ(d.sink.plays.size(), std::size_t{sound_director::contact_voices_per_frame});
    std::set<float> gains;
    for (const played& p : d.sink.plays) {
        gains.insert(p.gain);
    }
    EXPECT_EQ(gains.size(), d.sink.plays.size()) << "one voice per ball";
    EXPECT_FLOAT_EQ(*gains.begin(), std::sqrt(7.0f / 12.0f))
        << "the three loudest: 7 (its click), 6 and 5";
    // Ball 7 rattling on in the next frames is not heard again until it has rested.
    d.sink.plays.clear();
    d.frame({event(frame_event::kind::block_contact, 7, 9.0)});
    EXPECT_TRUE(d.sink.plays.empty());
    d.g.level->total_time += sound_director::contact_rest_seconds;
    d.frame({event(frame_event::kind::block_contact, 7, 9.0)});
    EXPECT_EQ(d.sink.plays.size(), 1u);
}

TEST(SoundDirector, VoicesSitWhereTheBallsAreAndInterfaceSoundsAtTheListener) {
    director_on_level d(0);
    level_t& level = *d.g.level;
    level.balls[0].pos = {-18.0, 0.0, level.depth / 2.0 + 1.0};
    level.balls[1].pos = {18.0, 0.0, level.depth / 2.0 + 1.0};
    frame_event gate = event(frame_event::kind::gate_scored, 2);
    gate.points = 100;
    frame_event go = event(frame_event::kind::countdown_step, -1);
    go.text = "PLAY!";
    d.frame({event(frame_event::kind::ball_landed, 0, 40.0),
             event(frame_event::kind::ball_landed, 1, 40.0), gate, go});
    ASSERT_EQ(d.sink.plays.size(), 4u);
    const voice_position left = *d.sink.plays[0].at;
    const voice_position right = *d.sink.plays[1].at;
    EXPECT_LT(left.x, -5.0f);
    EXPECT_GT(right.x, 5.0f);
    // In front of the listener, and within 45 degrees of straight ahead or wider.
    EXPECT_LT(left.z, 0.0f);
    EXPECT_GT(-left.x, -left.z);
    EXPECT_EQ(d.sink.plays[2].id, sound_id::chime);
    EXPECT_EQ(d.sink.plays[2].variant, chime_variants - 1);
    EXPECT_EQ(d.sink.plays[3].id, sound_id::go);
    EXPECT_FALSE(d.sink.plays[3].at.has_value());
}

TEST(SoundDirector, RollingVoicesLiveWithTheirBallsThroughALevel) {
    director_on_level d(0);
    d.tick({{true, key_enter}});
    int most_rolling = 0;
    bool rolled_loud = false;
    for (int frame = 0; frame < 60 * 300 && !is_level_completed(d.g.session.screen); ++frame) {
        std::vector<key_event> keys;
        if (frame % 45 == 0) {
            keys.push_back({(frame / 45) % 2 == 0, key_space});
        }
        d.tick(keys);
        // Every voice that rolls belongs to a ball in play.
        for (const auto& [ball, calls] : d.sink.roll_calls) {
            ASSERT_TRUE(is_in_play(d.g.level->balls[ball])) << "ball " << ball;
        }
        most_rolling = std::max(most_rolling, d.director.rolling_voices());
        rolled_loud =
            rolled_loud || std::ranges::any_of(d.sink.roll_gains, [](float g) { return g > 0.3f; });
    }
    ASSERT_TRUE(is_level_completed(d.g.session.screen));
    EXPECT_GE(most_rolling, 2);
    EXPECT_TRUE(rolled_loud);
    EXPECT_EQ(d.director.rolling_voices(), 0);
    EXPECT_TRUE(d.sink.roll_calls.empty());
    EXPECT_EQ(d.sink.stops.size(), d.g.level->balls.size()) << "each ball stopped once";
    EXPECT_EQ(d.sink.of(sound_id::drop).size(), d.g.level->balls.size());
    EXPECT_EQ(d.sink.of(sound_id::level_done).size(), 1u);
    EXPECT_EQ(d.sink.of(sound_id::beep).size(), 3u);
    EXPECT_EQ(d.sink.of(sound_id::go).size(), 1u);
    EXPECT_EQ(d.sink.of(sound_id::plunk).size() + d.sink.of(sound_id::whoosh).size(),
              d.g.level->balls.size());
}

TEST(SoundDirector, PauseHoldsThePlayAndMuteSilencesEverything) {
    director_on_level d(0);
    d.tick({{true, key_enter}});
    for (int frame = 0; frame < 60 * 6; ++frame) {
        d.tick();
    }
    ASSERT_GT(d.director.rolling_voices(), 0);
    d.tick({{true, 'p'}});
    EXPECT_EQ(d.sink.pauses, std::vector<bool>{true});
    const std::size_t calls = d.sink.roll_gains.size();
    const std::size_t plays = d.sink.plays.size();
    for (int frame = 0; frame < 60; ++frame) {
        d.tick();
    }
    EXPECT_EQ(d.sink.roll_gains.size(), calls) << "the rolling voices hold";
    EXPECT_EQ(d.sink.plays.size(), plays);
    d.tick({{true, 'P'}});
    EXPECT_EQ(d.sink.pauses, (std::vector<bool>{true, false}));
    EXPECT_GT(d.sink.roll_gains.size(), calls);

    // M: the game turns its sound off with a floating text, and the director mutes.
    d.tick({{true, 'm'}});
    EXPECT_FALSE(d.g.sound_on);
    EXPECT_TRUE(std::ranges::any_of(
        d.g.tt.tt1, [](const timedText& t) { return t.active != 0 && t.text == "Sound off"; }));
    EXPECT_EQ(d.sink.mutes, std::vector<bool>{true});
    const std::size_t muted_plays = d.sink.plays.size();
    d.frame({event(frame_event::kind::ball_landed, 0, 40.0)}, false);
    EXPECT_EQ(d.sink.plays.size(), muted_plays);
    d.tick({{true, 'M'}});
    EXPECT_TRUE(d.g.sound_on);
    EXPECT_EQ(d.sink.mutes, (std::vector<bool>{true, false}));
}

TEST(SoundDirector, MIsALetterWhileANameIsTyped) {
    game g;
    g.Init(0);
    g.session.screen = game_screen::name_entry;
    g.session.player_name = "_";
    g.session.player_name_len = 0;
    frame_input input;
    input.deltaT = 1.0 / 60.0;
    input.keys = {{true, 'm'}};
    const auto& events = g.tick(input);
    EXPECT_TRUE(g.sound_on);
    EXPECT_TRUE(std::ranges::none_of(
        events, [](const frame_event& e) { return e.what == frame_event::kind::sound_toggled; }));
    EXPECT_EQ(g.session.player_name.substr(0, 1), "m");
}

}  // namespace

namespace {

// The scene's placing, worked out by hand: the desk's tilt about its length, then its slope
// and the camera's 40 degrees about x, the camera 70 units away and 10 below, then the depth
// squeezed to a quarter.
voice_position placed_by_hand(const level_t& level, double x, double y, double z) {
    const double tilt = level.rotation.y * std::numbers::pi / 180.0;
    const double slope = (40.0 + level.rotation.x) * std::numbers::pi / 180.0;
    const double gl_x = x * std::cos(tilt) - z * std::sin(tilt);
    const double gl_y = x * std::sin(tilt) + z * std::cos(tilt);
    const double eye_y = gl_y * std::cos(slope) - y * std::sin(slope);
    const double eye_z = gl_y * std::sin(slope) + y * std::cos(slope);
    return {static_cast<float>(gl_x), static_cast<float>(eye_y + 10.0),
            static_cast<float>((eye_z - 70.0) / 4.0)};
}

TEST(SoundDirector, VoicesArePlacedAsTheSceneDrawsTheDesk) {
    level_t level = *load_level(0);
    for (const double tilt : {0.0, -5.0, 5.0}) {
        level.rotation.y = tilt;
        for (const point3D_t p :
             {point3D_t{0.0, 0.0, 0.0}, point3D_t{12.0, 30.0, 0.8}, point3D_t{-20.0, -35.0, 1.8}}) {
            const voice_position got = desk_to_listener(level, p);
            const voice_position want = placed_by_hand(level, p.x, p.y, p.z);
            EXPECT_NEAR(got.x, want.x, 1e-4) << tilt << " " << p.x;
            EXPECT_NEAR(got.y, want.y, 1e-4) << tilt << " " << p.y;
            EXPECT_NEAR(got.z, want.z, 1e-4) << tilt << " " << p.z;
        }
    }
}

TEST(SoundDirector, RollingPitchRisesWithSpeedAndTheEndOfAGameIsHeard) {
    director_on_level d(0);
    using k = frame_event::kind;
    ball_t& ball = d.g.level->balls[0];
    ball.active = ball_in_play;
    for (const double speed : {0.0, 3.0, 6.0, 24.0}) {
        ball.v = {speed * 0.6, speed * 0.8, 0.0};
        d.frame({event(k::ball_landed, 0, 1.2)});
    }
    ASSERT_EQ(d.sink.roll_pitches.size(), 4u);
    EXPECT_EQ(d.sink.roll_gains.front(), 0.0f);
    EXPECT_FLOAT_EQ(d.sink.roll_gains.back(), 1.0f);
    EXPECT_TRUE(std::ranges::is_sorted(d.sink.roll_gains));
    EXPECT_TRUE(std::ranges::is_sorted(d.sink.roll_pitches));
    EXPECT_LT(d.sink.roll_pitches.front(), d.sink.roll_pitches[1]);
    EXPECT_FLOAT_EQ(d.sink.roll_pitches.front(), 0.8f);
    EXPECT_FLOAT_EQ(d.sink.roll_pitches.back(), 1.4f);

    frame_event accepted = event(k::post_finished, -1);
    accepted.success = true;
    d.frame({event(k::game_over, -1), event(k::name_edited, -1), accepted,
             event(k::post_finished, -1)});
    const std::vector<sound_id> tail = {sound_id::game_over, sound_id::key, sound_id::post_accepted,
                                        sound_id::post_refused};
    ASSERT_EQ(d.sink.plays.size(), tail.size());
    for (std::size_t i = 0; i < tail.size(); ++i) {
        EXPECT_EQ(d.sink.plays[i].id, tail[i]);
        EXPECT_FALSE(d.sink.plays[i].at.has_value());
    }
}

}  // namespace
