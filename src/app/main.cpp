// SPDX-License-Identifier: MIT
// The game's shell: the window, the frame loop and the input, wired to the game and the
// renderer; the replays of the games played, saved beside the game; a recorded game watched.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "camera.h"
#include "clock.h"
#include "command_line.h"
#include "frame.h"
#include "frame_pace.h"
#include "gl.h"
#include "openal_sink.h"
#include "playback.h"
#include "shell.h"
#include "store.h"
#include "swap_control.h"
#include "text.h"

namespace {

// Declared before the game, so that the game's voices have somewhere to go to its end; the
// device closes when the process ends.
sound_output sound;
drawn_game shell;
frame_micros_clock frame_times;
// The keys that came since the last frame, for the next one.
std::vector<key_event> pending_keys;

// The game's replay is saved on a worker; at ESCAPE the process waits this long for a save
// under way.
replay_save_trigger save_trigger;
replay_saver saver;
constexpr std::chrono::milliseconds save_wait_at_exit{2000};

// KULIMBARA_FRAME_TIMES=FILE: the length of every frame of play in microseconds and the quality
// level it was drawn at, one frame a line, written when the game ends; for the benchmark that
// measures the real game.
struct frame_record {
    std::int64_t micros = 0;
    int quality_level = 0;
};
std::vector<frame_record> frame_times_in_play;
const char* frame_times_path = nullptr;

void write_frame_times() {
    if (frame_times_path == nullptr) {
        return;
    }
    if (std::FILE* out = std::fopen(frame_times_path, "w")) {
        for (const frame_record& frame : frame_times_in_play) {
            std::fprintf(out, "%lld %d\n", static_cast<long long>(frame.micros),
                         frame.quality_level);
        }
        std::fclose(out);
    } else {
        std::fprintf(stderr, "kulimbara: cannot write the frame times to %s\n", frame_times_path);
    }
}

// The frame loop's pace: --max-fps, and whether the swap waits for the vertical blank.
std::optional<int> max_fps;
bool vsync = false;
frame_pacer frame_pace;

// Sleeps off what is left of the frame's share of a second under the cap, before the frame's
// time is measured: the frame then simply lasts longer, and the tick computes what it would
// for any frame of that length.
void pace_frame(bool at_rest) {
    const int cap = frame_cap(max_fps, vsync, at_rest);
    std::this_thread::sleep_until(frame_pace.start_at(std::chrono::steady_clock::now(), cap));
}

// The title, the pause and the end screens, where nothing needs a fast frame rate.
bool at_rest(bool paused) {
    const game_screen screen = shell.state().session.screen;
    return paused || is_intro(screen) || is_end_screen(screen);
}

// The recorded game watched with --replay, its pace, and the next of its frames to play.
std::optional<replay> watched;
std::unique_ptr<replay_pacer> pacer;
std::size_t watched_next = 0;

// A level that cannot be drawn ends the game, wherever it is built: at start-up, on ENTER or
// after a quality drop.
template <typename Step>
void exit_on_failure(Step step) {
    try {
        step();
    } catch (const desk_build_error& error) {
        std::fprintf(stderr, "kulimbara: level %d: %s\n", shell.state().session.current_level,
                     error.what());
        std::exit(EXIT_FAILURE);
    }
}
debug_camera camera;
int debug = 0;
int WindowWidth = 0;
int WindowHeight = 0;

// The size is taken up by the next frame, which GLUT asks for after every reshape.
void onReshape(int w, int h) {
    WindowWidth = w;
    WindowHeight = h;
}

void onDisplay() {
    begin_frame(WindowWidth, WindowHeight);
    load_camera(camera.xnew, camera.ynew, camera.znew);
    shell.draw();
    if (shell.state().pause_flag || (pacer && pacer->paused())) {
        draw_pause_banner(shell.glyphs, shell.state().level->total_time);
    }
    glFlush();
    glutSwapBuffers();
}

void report_save(const replay_save_result& result) {
    if (result.saved) {
        std::printf("replay saved: %s\n", result.path.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "kulimbara: %s\n", result.error.c_str());
    }
}

// The frame loop: one frame of the game with the keys that came since the last, then a
// redisplay; the replay's save started when the game asks for it and its result reported when
// it is over; ESCAPE ends the process at the frame after it, once a save under way is over.
void timeTick() {
    pace_frame(at_rest(shell.state().pause_flag));
    sound.poll();
    frame_input input;
    input.deltaT = frame_times.next(clock_micros());
    if (frame_times_path != nullptr && is_play(shell.state().session.screen)) {
        frame_times_in_play.push_back(
            {std::llround(input.deltaT * 1e6), shell.state().quality_cfg.current_quality_level});
    }
    input.keys.swap(pending_keys);
    input.post_result = shell.poll_score_post();
    const std::vector<frame_event>* events = nullptr;
    exit_on_failure([&] { events = &shell.frame(input); });
    if (std::optional<replay> r =
            save_trigger.after_frame(shell.recorder(), shell.state(), *events)) {
        saver.start(replay_folder(), std::move(*r));
    }
    if (std::optional<replay_save_result> result = saver.poll()) {
        report_save(*result);
    }
    if (shell.state().quit) {
        if (saver.under_way()) {
            if (std::optional<replay_save_result> result = saver.wait(save_wait_at_exit)) {
                report_save(*result);
            } else {
                std::fprintf(stderr, "kulimbara: the replay was not saved within %lld ms\n",
                             static_cast<long long>(save_wait_at_exit.count()));
            }
        }
        write_frame_times();
        std::exit(EXIT_SUCCESS);
    }
    glutPostRedisplay();
}

// The frame loop of a recorded game watched: the recorded frames that the pace makes due, until
// the game reaches its end screen or quits. The end screen then moves on with the wall clock;
// a game that was quit holds its last picture.
void watchTick() {
    pace_frame(at_rest(shell.state().pause_flag || pacer->paused()));
    sound.poll();
    const std::int64_t now = clock_micros();
    const double wall_deltaT = frame_times.next(now);
    const std::size_t due = pacer->due(now);
    auto on_end_screen = [] { return is_end_screen(shell.state().session.screen); };
    while (watched_next < due && !shell.state().quit && !on_end_screen()) {
        const frame_input input = watched->input(watched_next++);
        exit_on_failure([&] { shell.frame(input); });
    }
    if (on_end_screen() && !pacer->paused()) {
        frame_input input;
        input.deltaT = wall_deltaT;
        exit_on_failure([&] { shell.frame(input); });
    }
    glutPostRedisplay();
}

void onKeyboardDown(unsigned char key, int, int) {
    if (!watched) {
        pending_keys.push_back({true, key});
        return;
    }
    // Watching, the keys steer the playback; the game hears only its recorded ones.
    const std::int64_t now = clock_micros();
    switch (std::tolower(key)) {
        case key_escape:
            std::exit(EXIT_SUCCESS);
        case 'p':
            pacer->set_paused(now, !pacer->paused());
            break;
        case 'f':
            pacer->set_fast(now, !pacer->fast());
            break;
        case 'm':
            shell.toggle_watcher_sound();
            break;
        default:
            break;
    }
}
void onKeyboardUp(unsigned char key, int, int) {
    if (!watched) {
        pending_keys.push_back({false, key});
    }
}

void onMouseClick(int button, int state, int x, int y) {
    if (debug != 0) {
        camera.onMouseClick(button, state, x, y);
    }
    glutPostRedisplay();
}

void onMouseMotion(int x, int y) {
    if (debug != 0 && camera.onMouseMotion(x, y)) {
        glutPostRedisplay();
    }
}

int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}

// True when a window manager runs on the display's default screen: the ICCCM selection
// WM_S<screen> has an owner, or the EWMH check window that the root names names itself
// (a manager that died leaves the root's property behind, naming a window that is gone).
bool window_manager_runs(Display* display) {
    // An atom that the server does not know yet was never set by anyone.
    const std::string selection = "WM_S" + std::to_string(DefaultScreen(display));
    const Atom owned = XInternAtom(display, selection.c_str(), True);
    if (owned != None && XGetSelectionOwner(display, owned) != None) {
        return true;
    }
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None) {
        return false;
    }
    auto check_window_of = [&](Window window) -> Window {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long left = 0;
        unsigned char* data = nullptr;
        Window named = None;
        if (XGetWindowProperty(display, window, check, 0, 1, False, XA_WINDOW, &type, &format,
                               &count, &left, &data) == Success &&
            type == XA_WINDOW && format == 32 && count == 1) {
            named = *reinterpret_cast<Window*>(data);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return named;
    };
    const Window named = check_window_of(DefaultRootWindow(display));
    if (named == None) {
        return false;
    }
    // Reading a window that is gone raises BadWindow, which would end the process.
    XSync(display, False);
    const auto previous_handler = XSetErrorHandler(ignore_x_error);
    const bool alive = check_window_of(named) == named;
    XSync(display, False);
    XSetErrorHandler(previous_handler);
    return alive;
}

}  // namespace

int main(int argc, char** argv) {
    const game_command_line options = parse_game_command_line(
        std::vector<std::string_view>(argv + (argc > 0 ? 1 : 0), argv + argc));
    game_option_parser().answer(options.reading);
    max_fps = options.max_fps;
    if (!options.replay_path.empty()) {
        replay_read read = load_replay(options.replay_path);
        if (!read.result) {
            std::fprintf(stderr, "kulimbara: %s\n", read.error.c_str());
            return 2;
        }
        watched = std::move(read.result);
    }
    debug = options.debug ? 1 : 0;
    frame_times_path = std::getenv("KULIMBARA_FRAME_TIMES");
    // GLUT ends the process with its own message when there is no display; say it plainly.
    // The probe stays connected until GLUT has connected: a server whose only client leaves
    // resets, and could refuse GLUT meanwhile.
    Display* probe = XOpenDisplay(nullptr);
    if (probe == nullptr) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "kulimbara: no display%s%s: the game needs a graphical desktop to run in\n",
                     name != nullptr && *name != '\0' ? " at " : "", name != nullptr ? name : "");
        return EXIT_FAILURE;
    }
    const bool managed = window_manager_runs(probe);
    keep_frame_memory();
    // GLUT sees the program's name only: the options are ours, and X options such as
    // -display are not offered.
    char program_name[] = "kulimbara";
    char* glut_argv[] = {argc > 0 ? argv[0] : program_name, nullptr};
    int glut_argc = 1;
    glutInit(&glut_argc, glut_argv);
    XCloseDisplay(probe);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    glutInitWindowSize(640, 480);
    glutInitWindowPosition(10, 10);
    glutCreateWindow("Kulimbara");
    vsync = request_vsync() != nullptr;
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutIgnoreKeyRepeat(1);
    glutKeyboardFunc(onKeyboardDown);
    glutKeyboardUpFunc(onKeyboardUp);
    glutMouseFunc(onMouseClick);
    glutMotionFunc(onMouseMotion);
    glutIdleFunc(watched ? watchTick : timeTick);

    // The sounds are made and the device opened on a worker while the window opens.
    sound.start();
    shell.sound_to(sound);
    if (options.mute) {
        shell.start_muted();
    }
    init_gl_state();
    exit_on_failure([] { shell.Init(); });
    if (watched) {
        shell.watch(*watched);
        pacer = std::make_unique<replay_pacer>(*watched);
    }
    shell.glyphs.fontInit();

    if (!options.windowed) {
        if (managed) {
            glutFullScreen();
        } else {
            // Without a window manager, GLUT's own full screen moves the window by its offset
            // from its parent, which is then the root: the window created at (10, 10) lands at
            // (-10, -10), leaving a black strip at the right and the bottom. Nothing frames or
            // moves a window there, so placing it over the whole screen is the full screen.
            glutPositionWindow(0, 0);
            glutReshapeWindow(glutGet(GLUT_SCREEN_WIDTH), glutGet(GLUT_SCREEN_HEIGHT));
        }
    }
    glutMainLoop();
    return EXIT_SUCCESS;
}
