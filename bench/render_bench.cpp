// SPDX-License-Identifier: MIT
// Frames per second of a level in play, for each quality level and an empty frame, at two
// window sizes; at 1920x1080 and full quality also play with and without the head-up
// display, play with and without sound, the intro screen, the end screen and every level;
// and the time from start to the first swapped frame, beside the time that building the font
// adds. Run on a display (make bench provides a virtual one when there is none).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "clock.h"
#include "frame.h"
#include "gl.h"
#include "levels.h"
#include "openal_sink.h"
#include "shell.h"

namespace {

drawn_game shell;
const game& the_game = shell.state();

// A frame of the game as the view shows it, which may differ from the game's own.
void draw_view(const frame_view& view, int w, int h) {
    begin_frame(w, h);
    load_camera(0, 0, 0);
    shell.renderer.draw_scene(view);
    glFlush();
    glutSwapBuffers();
}

void draw_frame(int w, int h) {
    draw_view(the_game.view(), w, h);
}

void empty_frame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFlush();
    glutSwapBuffers();
}

// Processor seconds of the whole process, every thread of the renderer included: unlike the
// wall clock, hardly swayed by other programs that share the machine.
double process_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Frames of `frame` over about `seconds` of wall clock, after a few frames of warm-up, with
// the wall and processor seconds they took.
struct frame_run {
    int frames = 0;
    double wall = 0.0;
    double processor = 0.0;
};

template <typename Frame>
frame_run run_frames(Frame frame, double seconds) {
    for (int i = 0; i < 3; ++i) {
        frame();
    }
    glFinish();
    frame_run run;
    const double start = getTime();
    const double processor_start = process_seconds();
    do {
        frame();
        ++run.frames;
        glFinish();
        run.wall = getTime() - start;
    } while (run.wall < seconds);
    run.processor = process_seconds() - processor_start;
    return run;
}

template <typename Frame>
double frames_per_second(Frame frame, double seconds) {
    const frame_run run = run_frames(frame, seconds);
    return run.frames / run.wall;
}

constexpr double frame_seconds = 1.0 / 60.0;

// One frame of the game at 60 frames a second, SPACE as given.
void game_frame(bool space) {
    frame_input input;
    input.deltaT = frame_seconds;
    if (space != the_game.game_key) {
        input.keys.push_back({space, key_space});
    }
    shell.frame(input);
}

// Puts level 4 into play with five balls on the desk: with SPACE released they gather
// against the walls rather than fall, about a minute into the level.
void play_a_while() {
    shell.Init(4);
    for (int frame = 0; frame < 600 * 60; ++frame) {
        game_frame(false);
        int in_play = 0;
        for (const ball_t& b : the_game.level->balls) {
            in_play += is_in_play(b) ? 1 : 0;
        }
        if (in_play >= 5) {
            break;
        }
    }
}

// The quality settings of level q, set up for drawing.
quality_cfg_t quality_at(int q) {
    quality_cfg_t quality = quality_cfg_init();
    for (int level = 1; level <= q; ++level) {
        set_quality_decrease_level(quality, level);
    }
    shell.renderer.init_scene(*the_game.level, quality);
    return quality;
}

// The frame the game stands at, drawn at the given quality (which must outlive the view).
frame_view play_view(const quality_cfg_t& quality) {
    return {*the_game.level,
            the_game.tt,
            quality,
            the_game.session.screen,
            the_game.session.total_score,
            false,
            the_game.final_screen()};
}

// The cost of a part of the frame: short runs with it (`use(true)`) and without alternate
// `rounds` times, so that a neighbour's load on the machine weighs on both alike. Returns the
// part's share of the frame's wall time and of its processor time, and the frame rates.
struct part_cost {
    double with_fps = 0.0;
    double without_fps = 0.0;
    double wall_share = 0.0;       // per cent
    double processor_share = 0.0;  // per cent
};

template <typename Use, typename Frame>
part_cost measure_part(Use use, Frame frame, int rounds, double seconds) {
    frame_run runs[2];
    for (int round = 0; round < rounds; ++round) {
        for (const bool with : {true, false}) {
            use(with);
            const frame_run run = run_frames([&] { frame(with); }, seconds);
            runs[with].frames += run.frames;
            runs[with].wall += run.wall;
            runs[with].processor += run.processor;
        }
    }
    const double with_wall = runs[1].wall / runs[1].frames;
    const double without_wall = runs[0].wall / runs[0].frames;
    const double with_processor = runs[1].processor / runs[1].frames;
    const double without_processor = runs[0].processor / runs[0].frames;
    return {1.0 / with_wall, 1.0 / without_wall, (with_wall - without_wall) / with_wall * 100.0,
            (with_processor - without_processor) / with_processor * 100.0};
}

// Play with and without the texts, the intro and the end screen, at full quality. The game
// plays on, so that its texts move as in a game.
void text_figures(int w, int h, double seconds) {
    const quality_cfg_t quality = quality_at(0);
    auto view = [&](game_screen screen) {
        // Four digits of score, and a name typed.
        return frame_view{*the_game.level,
                          the_game.tt,
                          quality,
                          screen,
                          1230,
                          false,
                          final_screen_t{true, false, 1230, "ada_", the_game.level->total_time}};
    };
    auto animated_frame = [&](game_screen screen) {
        game_frame(false);
        draw_view(view(screen), w, h);
    };
    const part_cost hud =
        measure_part([](bool with) { shell.renderer.hud = with; },
                     [&](bool) { animated_frame(game_screen::play); }, 4, seconds / 4);
    shell.renderer.hud = true;
    std::printf(
        "%dx%d  play, quality 0: %.1f fps with the head-up display, %.1f fps without; the display"
        " takes %.1f%% of the frame's time and %.1f%% of its processor time\n",
        w, h, hud.with_fps, hud.without_fps, hud.wall_share, hud.processor_share);

    std::printf("%dx%d  intro screen: %.1f fps\n", w, h,
                frames_per_second([&] { animated_frame(game_screen::intro); }, seconds));
    std::printf("%dx%d  end screen, name entry: %.1f fps\n", w, h,
                frames_per_second([&] { animated_frame(game_screen::name_entry); }, seconds));
}

// Voices that go nowhere: the game with its director but no device.
struct silent_sink : voice_sink {
    void play(sound_id, int, float, std::optional<voice_position>) override {}
    void roll(int, float, float, voice_position) override {}
    void stop_roll(int) override {}
    void pause_play(bool) override {}
    void set_muted(bool) override {}
};

// Play at full quality with and without sound. With it, the voices go to OpenAL, which writes
// what it mixes into /dev/null at the pace of a sound card, so that its mixing weighs on the
// processor as a device's would; without it, the game has no device. Alternating short runs
// share a neighbour's load alike.
void sound_figures(int w, int h, double seconds) {
    char folder[] = "/tmp/kulimbara-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::printf("%dx%d  sound: no scratch folder\n", w, h);
        return;
    }
    const std::string conf = std::string(folder) + "/alsoft.conf";
    if (std::FILE* f = std::fopen(conf.c_str(), "w")) {
        std::fputs("drivers = wave\n[wave]\nfile = /dev/null\n", f);
        std::fclose(f);
    }
    setenv("ALSOFT_CONF", conf.c_str(), 1);
    const sound_bank bank = synthesize_sounds();
    std::string why;
    std::unique_ptr<openal_sink> device = openal_sink::open(bank, why);
    std::remove(conf.c_str());
    rmdir(folder);
    if (!device) {
        std::printf("%dx%d  sound: skipped, %s\n", w, h, why.c_str());
        return;
    }
    silent_sink silent;
    quality_at(0);
    int most_voices = 0;
    // SPACE changes every 45 frames, so that the balls roll and knock.
    long frame = 0;
    const part_cost sound = measure_part(
        [&](bool with) { shell.sound_to(with ? static_cast<voice_sink&>(*device) : silent); },
        [&](bool with) {
            game_frame(frame++ / 45 % 2 == 1);
            draw_frame(w, h);
            if (with) {
                most_voices = std::max(most_voices, device->voices_in_use());
            }
        },
        8, seconds / 4);
    shell.sound_to(silent);
    std::printf(
        "%dx%d  play, quality 0: %.1f fps with sound, %.1f fps without; sound takes %.1f%% of the "
        "frame's time and %.1f%% of its processor time (at most %d voices)\n",
        w, h, sound.with_fps, sound.without_fps, sound.wall_share, sound.processor_share,
        most_voices);
}

// Every level at full quality, drawn as it stands with two of its balls in play, or one where
// the level never has two at once with SPACE released.
void level_figures(int w, int h, double seconds) {
    auto balls_in_play = [] {
        return static_cast<int>(std::ranges::count_if(
            the_game.level->balls, [](const ball_t& b) { return is_in_play(b); }));
    };
    for (int n = 0; n < levels_count; ++n) {
        int in_play = 0;
        for (const int want : {2, 1}) {
            in_play = 0;
            shell.Init(n);
            frame_input enter;
            enter.keys.push_back({true, key_enter});
            shell.frame(enter);  // the intro of level 0
            for (int frame = 0;
                 frame < 600 * 60 && in_play < want && !is_level_completed(the_game.session.screen);
                 ++frame) {
                game_frame(false);
                in_play = balls_in_play();
            }
            if (in_play >= want) {
                break;
            }
        }
        const quality_cfg_t quality = quality_at(0);
        const frame_view view = play_view(quality);
        const double fps = frames_per_second([&] { draw_view(view, w, h); }, seconds);
        std::printf("%dx%d  level %d, quality 0: %.1f fps (%d balls in play)\n", w, h, n, fps,
                    in_play);
    }
}

}  // namespace

int main(int argc, char** argv) try {
    const double start = getTime();
    keep_frame_memory();
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(1280, 720);
    glutInitWindowPosition(0, 0);
    glutCreateWindow("Kulimbara render bench");
    glutDisplayFunc([] {});
    init_gl_state();
    shell.Init();
    draw_frame(1280, 720);
    glFinish();
    const double without_font = getTime() - start;
    const double font_start = getTime();
    shell.glyphs.fontInit();
    glFinish();
    // The game builds the font before its first frame; here it comes after, to weigh it.
    const double with_font = without_font + (getTime() - font_start);
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("start to first swapped frame: %.1f ms with the font, %.1f ms without it\n",
                with_font * 1000.0, without_font * 1000.0);

    play_a_while();
    int in_play = 0;
    for (const ball_t& b : the_game.level->balls) {
        in_play += is_in_play(b) ? 1 : 0;
    }
    std::printf("level 4, %d balls in play, %d blocks, %d holes\n", in_play,
                the_game.level->blocks_count(), the_game.level->holes_count());

    // --levels [SECONDS]: the empty frame and every level at 1920x1080 alone, for comparing two
    // builds side by side (bench/compare_render.sh).
    const bool levels_only = argc > 1 && std::string_view(argv[1]) == "--levels";
    const int seconds_arg = levels_only ? 2 : 1;
    const double seconds = argc > seconds_arg ? std::stod(argv[seconds_arg]) : 2.0;
    const int sizes[][2] = {{1280, 720}, {1920, 1080}};
    for (const auto& size : sizes) {
        const int w = size[0];
        const int h = size[1];
        if (levels_only && w != 1920) {
            continue;
        }
        glutReshapeWindow(w, h);
        // The window system takes its time; measure only at the size asked for.
        const double asked = getTime();
        while ((glutGet(GLUT_WINDOW_WIDTH) != w || glutGet(GLUT_WINDOW_HEIGHT) != h) &&
               getTime() - asked < 5.0) {
            glutMainLoopEvent();
        }
        if (glutGet(GLUT_WINDOW_WIDTH) != w || glutGet(GLUT_WINDOW_HEIGHT) != h) {
            std::printf("%dx%d  skipped: the window stays %dx%d (is the screen large enough?)\n", w,
                        h, glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
            continue;
        }
        std::printf("%dx%d  empty frame: %.1f fps\n", w, h,
                    frames_per_second(empty_frame, seconds));
        if (levels_only) {
            level_figures(w, h, seconds);
            continue;
        }
        for (int q = 0; q <= lowest_quality_level; ++q) {
            const quality_cfg_t quality = quality_at(q);
            const frame_view view = play_view(quality);
            const double fps = frames_per_second([&] { draw_view(view, w, h); }, seconds);
            std::printf("%dx%d  quality %d: %.1f fps\n", w, h, q, fps);
        }
        if (w == 1920) {
            text_figures(w, h, seconds);
            sound_figures(w, h, seconds);
            level_figures(w, h, seconds);
        }
    }
    return 0;
} catch (const desk_build_error& error) {
    std::fprintf(stderr, "kulimbara-render-bench: %s\n", error.what());
    return 1;
}
