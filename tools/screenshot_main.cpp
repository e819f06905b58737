// SPDX-License-Identifier: MIT
// screenshots: plays one whole game at a fixed 60 frames a second through the game's own
// keys and frame work, and writes three frames as the game draws them: the intro, a moment of
// play and the end screen with a name typed. The frames between are worked as the game works
// them, without being drawn, so all six levels take seconds. Run on a display
// (scripts/screenshots.sh provides a virtual one).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock.h"
#include "frame.h"
#include "gl.h"
#include "levels.h"
#include "option_parser.h"
#include "protocol.h"
#include "random.h"
#include "shell.h"

namespace {

const option_parser parser(
    "screenshots",
    "usage: screenshots OUTDIR [--size WxH] [--intro-at S] [--play-level N] [--play-at S]\n"
    "                   [--any-frame] [--name NAME] [--end-at S]\n"
    "       screenshots --help | --version\n",
    "Draws the README's pictures of the title, level play and the end screen into OUTDIR, as\n"
    "PNG files, from the game's own tick at a fixed 60 frames a second.\n");

struct command_line {
    std::string out_dir;
    int width = 1280;
    int height = 720;
    double intro_at = 4.12;  // seconds on the intro screen
    int play_level = 1;
    double play_at = 24.5;  // earliest second of play in that level for its shot
    // Shoot the first frame of play from play_at on with a ball in play, gate points or not (the
    // picture budget of a drawing change compares such frames).
    bool any_frame = false;
    std::string name = "ada";
    double end_at = 1.77;  // seconds on the end screen
};

// An option's value in seconds, from 0 to an hour, into `target`.
command_option seconds_option(std::string_view option, double& target) {
    return {option, true, [option, &target](const std::string& text) -> std::string {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                if (text.empty() || *end != '\0' || !(value >= 0.0 && value < 3600.0)) {
                    return std::string(option) + " '" + text + "' is not a number of seconds";
                }
                target = value;
                return "";
            }};
}

command_line parse(int argc, char** argv) {
    command_line cmd;
    parser.parse(argc, argv,
                 {{"--size", true,
                   [&](const std::string& text) -> std::string {
                       if (std::sscanf(text.c_str(), "%dx%d", &cmd.width, &cmd.height) != 2 ||
                           cmd.width < 64 || cmd.height < 64 || cmd.width > 8192 ||
                           cmd.height > 8192) {
                           return "--size '" + text + "' is not WIDTHxHEIGHT from 64 to 8192";
                       }
                       return "";
                   }},
                  seconds_option("--intro-at", cmd.intro_at),
                  {"--play-level", true,
                   [&](const std::string& text) -> std::string {
                       if (text.size() != 1 || text[0] < '0' || text[0] >= '0' + levels_count) {
                           return "no level '" + text + "': levels are 0 to 5";
                       }
                       cmd.play_level = text[0] - '0';
                       return "";
                   }},
                  seconds_option("--play-at", cmd.play_at),
                  {"--any-frame", false,
                   [&](const std::string&) -> std::string {
                       cmd.any_frame = true;
                       return "";
                   }},
                  {"--name", true,
                   [&](const std::string& text) -> std::string {
                       // The name as the game would take it: 1 to 16 of its characters.
                       if (!is_valid_player_name(text)) {
                           return "--name needs 1 to 16 of a-z, 0-9, space and _";
                       }
                       cmd.name = text;
                       return "";
                   }},
                  seconds_option("--end-at", cmd.end_at)},
                 [&](const std::string& arg) -> std::string {
                     if (!arg.empty() && cmd.out_dir.empty()) {
                         cmd.out_dir = arg;
                         return "";
                     }
                     return "unexpected argument '" + arg + "'";
                 });
    if (cmd.out_dir.empty()) {
        parser.fail("no output folder");
    }
    return cmd;
}

// The game never leaves the name entry here, so nothing is posted.
drawn_game shell;
const game& the_game = shell.state();

constexpr double frame_seconds = 1.0 / 60.0;
// The pattern of SPACE in every level: released for this many frames, held as many, and so
// on from the start of play. It finishes all six levels, and scores in most of them.
constexpr int key_toggle_frames = 45;
// On the level shot, until the shot, a slower pattern that has two balls roll down the
// middle of level 1 together; the usual pattern then ends the level.
constexpr int shot_level_toggle_frames = 75;
// A player's pause before ENTER on the "Level completed!" banner.
constexpr int frames_before_continue = 60;
// Every level is over long before this; more means the game no longer ends as it did.
constexpr int max_play_frames = 600 * 60;

// The game's clock, in whole frames from one second on (the game's first frame is "no time
// yet").
long frame_number = 60;
frame_clock frame_times;
// The keys pressed since the last frame, for the next one.
std::vector<key_event> pending_keys;

void press(int key) {
    pending_keys.push_back({true, key});
    pending_keys.push_back({false, key});
}

void draw_frame(int width, int height) {
    begin_frame(width, height);
    load_camera(0, 0, 0);
    shell.draw();
    glFlush();
}

// One frame of the game with the keys since the last, drawn when asked.
void run_frame(bool draw, int width, int height) {
    frame_number += 1;
    frame_input input;
    input.deltaT = frame_times.next(static_cast<double>(frame_number) * frame_seconds);
    input.keys.swap(pending_keys);
    shell.frame(input);
    if (draw) {
        draw_frame(width, height);
    }
}

int balls_in_play() {
    int in_play = 0;
    for (const ball_t& ball : the_game.level->balls) {
        in_play += is_in_play(ball) ? 1 : 0;
    }
    return in_play;
}

// A gate's points that float up large enough to read and still nearly opaque: an
// announcement of a number (it grows from scale 3 to 25) in the first quarter of its life.
// The countdown's last number can still float early in play; the shot comes later.
const timedText* fresh_gate_points() {
    for (const timedText& text : the_game.tt.tt1) {
        const bool points = !text.text.empty() && std::isdigit(text.text[0]) != 0;
        if (points && text.active != 0 && text.scale1 == 3.0 && text.scale2 == 25.0 &&
            text.rt >= 0.08 * text.secs && text.rt <= 0.25 * text.secs) {
            return &text;
        }
    }
    return nullptr;
}

// The frame just drawn, from the back buffer, as a binary PPM (top row first).
bool write_frame(const std::string& path, int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glutSwapBuffers();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(("screenshots: cannot write " + path).c_str());
        return false;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    bool written = true;
    for (int y = height - 1; y >= 0; --y) {
        written = written && std::fwrite(&rgb[row * y], 1, row, file) == row;
    }
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", path.c_str());
    }
    return written;
}

// Frames of `seconds`, the last one drawn and written to `path`.
bool shoot_after(double seconds, const std::string& path, const command_line& cmd) {
    const long frames = std::lround(seconds / frame_seconds);
    for (long i = 1; i < frames; ++i) {
        run_frame(false, cmd.width, cmd.height);
    }
    run_frame(true, cmd.width, cmd.height);
    return write_frame(path, cmd.width, cmd.height);
}

// Plays the current level from its countdown to its end with the key pattern, and presses
// ENTER on the banner a second later (the next frame takes it). On the level asked for, the play
// frame is shot: the first frame from the time asked for on which at least two balls roll and a
// gate's points float. Returns false when the level does not end.
bool play_level(const command_line& cmd, bool& shot_ok) {
    // The ENTER that ends the previous screen comes with the countdown's first frame.
    while (!pending_keys.empty() || is_countdown(the_game.session.screen)) {
        run_frame(false, cmd.width, cmd.height);
    }
    const int level_number = the_game.session.current_level;
    const long earliest_shot = std::lround(cmd.play_at / frame_seconds);
    bool shot_taken = false;
    for (long frame = 0; frame < max_play_frames; ++frame) {
        const bool quick = level_number == cmd.play_level && !shot_taken;
        const bool held = (frame / (quick ? shot_level_toggle_frames : key_toggle_frames)) % 2 == 1;
        if (held != the_game.game_key) {
            pending_keys.push_back({held, key_space});
        }
        run_frame(false, cmd.width, cmd.height);
        const timedText* points = fresh_gate_points();
        if (level_number == cmd.play_level && !shot_taken && frame >= earliest_shot &&
            is_play(the_game.session.screen) &&
            (cmd.any_frame ? balls_in_play() >= 1 : balls_in_play() >= 2 && points != nullptr)) {
            draw_frame(cmd.width, cmd.height);
            shot_ok = write_frame(cmd.out_dir + "/play.ppm", cmd.width, cmd.height);
            shot_taken = true;
            std::printf(
                "play: level %d after %.2f s, %d balls in play, gate points %s, "
                "score %d\n",
                level_number, static_cast<double>(frame) * frame_seconds, balls_in_play(),
                points != nullptr ? points->text.c_str() : "none", the_game.session.total_score);
        }
        if (is_level_completed(the_game.session.screen)) {
            pending_keys.push_back({false, key_space});
            for (int i = 0; i < frames_before_continue; ++i) {
                run_frame(false, cmd.width, cmd.height);
            }
            if (level_number == cmd.play_level && !shot_taken) {
                std::fprintf(stderr,
                             "screenshots: level %d ended after %.2f s of play without a frame "
                             "to shoot from %.2f s on\n",
                             level_number, static_cast<double>(frame) * frame_seconds, cmd.play_at);
                shot_ok = false;
            }
            press(key_enter);  // the next level's countdown, or the name entry after the last
            return true;
        }
    }
    std::fprintf(stderr, "screenshots: level %d did not end within %d s\n", level_number,
                 max_play_frames / 60);
    return false;
}

}  // namespace

int main(int argc, char** argv) try {
    const command_line cmd = parse(argc, argv);
    glutInit(&argc, argv);
    keep_frame_memory();
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(cmd.width, cmd.height);
    glutInitWindowPosition(0, 0);
    glutCreateWindow("Kulimbara screenshots");
    glutDisplayFunc([] {});
    const double asked = getTime();
    while ((glutGet(GLUT_WINDOW_WIDTH) != cmd.width || glutGet(GLUT_WINDOW_HEIGHT) != cmd.height) &&
           getTime() - asked < 5.0) {
        glutMainLoopEvent();
    }
    if (glutGet(GLUT_WINDOW_WIDTH) != cmd.width || glutGet(GLUT_WINDOW_HEIGHT) != cmd.height) {
        std::fprintf(stderr, "screenshots: the window stays %dx%d, not %dx%d\n",
                     glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT), cmd.width,
                     cmd.height);
        return 1;
    }
    init_gl_state();
    shell.Init();
    shell.glyphs.fontInit();
    seed_random(1);  // the title's tumbling letters and the score's shiver, the same each run

    bool ok = shoot_after(cmd.intro_at, cmd.out_dir + "/intro.ppm", cmd);
    press(key_enter);
    bool play_ok = false;
    for (int level = 0; level < levels_count; ++level) {
        if (!play_level(cmd, play_ok)) {
            return 1;
        }
    }
    std::printf("final score %d\n", the_game.session.total_score);
    for (const char c : cmd.name) {
        press(static_cast<unsigned char>(c));
    }
    ok = shoot_after(cmd.end_at, cmd.out_dir + "/end.ppm", cmd) && ok;
    return ok && play_ok ? 0 : 1;
} catch (const desk_build_error& error) {
    std::fprintf(stderr, "screenshots: level %d: %s\n", the_game.session.current_level,
                 error.what());
    return 1;
}
