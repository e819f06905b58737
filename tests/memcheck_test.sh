#!/usr/bin/env bash
# Plays the real game under valgrind's memcheck on the display of tests/with_display.sh:
# intro, ENTER, the countdown, a pause and its end in play, level 0 played to its end with
# SPACE held, ENTER to level 1's countdown, ESCAPE. Frames are slow under valgrind, so each
# step waits for what the screen shows (shot_stats.cpp's colour classes), within a generous
# bound. Any memory error, and any leak valgrind calls definite or possible, outside the
# graphics libraries' own code (SUPPRESSIONS) fails the test. Prints how long each part took
# and valgrind's summaries. KULIMBARA_KEEP_SHOTS keeps the scratch folder.
# Usage: memcheck_test.sh GAME SHOT_STATS SUPPRESSIONS
set -u
game=$1 stats=$2 suppressions=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-memcheck-XXXXXX") || exit 1
# The game saves its replay at ESCAPE: into the scratch folder, not the home folder.
export XDG_DATA_HOME=$out/data
passes=0 failures=0 game_pid=
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null && wait "$game_pid" 2>/dev/null
    [ -n "${KULIMBARA_KEEP_SHOTS:-}" ] && echo "scratch folder kept: $out" || rm -rf "$out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }
start=$(date +%s)
elapsed() { echo $(($(date +%s) - start)); }
finish() {
    if [ -s "$out/valgrind.log" ]; then
        echo "valgrind's summaries:"
        sed -n -e '/HEAP SUMMARY/,/ERROR SUMMARY/p' "$out/valgrind.log" | grep -v 'rerun with'
        [ "$failures" -eq 0 ] || { echo "valgrind's report:"; cat "$out/valgrind.log"; }
    fi
    [ "$failures" -eq 0 ] || { echo "game output:"; cat "$out/game.log"; }
    echo "memcheck run took $(elapsed) s"
    echo "$passes passed, $failures failed"
    exit $((failures > 0))
}
shots=0
shot() {  # the screen's colour fractions in the variables blue, red, white, cyan, black...
    local class fraction
    shots=$((shots + 1))
    import -depth 8 -window root "ppm:$out/shot.ppm" && "$stats" "$out/shot.ppm" >"$out/shot.stats" ||
        : >"$out/shot.stats"
    [ -n "${KULIMBARA_KEEP_SHOTS:-}" ] && cp "$out/shot.ppm" "$out/shot-$shots.ppm"
    [ -n "${KULIMBARA_KEEP_SHOTS:-}" ] && echo "shot $shots at $(elapsed) s: $(tr "\n" " " <"$out/shot.stats")"
    blue= shadow= yellow= red= white= cyan= black=
    while read -r class fraction; do printf -v "$class" %s "$fraction"; done <"$out/shot.stats"
}
holds() { awk "BEGIN { exit !($1) }" 2>/dev/null; }  # an awk condition on the fractions
wait_for() {  # WHAT SECONDS CONDITION: screenshots until CONDITION holds or SECONDS pass
    local what=$1 deadline=$(($(date +%s) + $2)) condition=$3
    while :; do
        shot
        if [ -n "$blue" ] && holds "$(eval echo "\"$condition\"")"; then
            echo "$(elapsed) s: $what"
            pass
            return 0
        fi
        [ "$(date +%s)" -lt "$deadline" ] || break
        sleep 1
    done
    fail "$what: not on screen within $2 s (last shot: $(tr '\n' ' ' <"$out/shot.stats"))"
    return 1
}
press() { xdotool "$@" || fail "xdotool $*"; }  # keys go to the focused game window

# The software renderer draws on the game's own thread: valgrind runs one thread at a time.
export LP_NUM_THREADS=${LP_NUM_THREADS:-0}
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,possible \
    --errors-for-leak-kinds=definite,possible --keep-debuginfo=yes --num-callers=40 \
    --suppressions="$suppressions" --log-file="$out/valgrind.log" \
    "$game" </dev/null >"$out/game.log" 2>&1 &
game_pid=$!
win=$(timeout 180 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || { fail "no visible window named Kulimbara within 180 s"; finish; }
echo "$(elapsed) s: the window is up"
# With no window manager the keys reach the window only once it has the focus.
timeout 60 xdotool windowfocus --sync "$win" || { fail "could not focus the game window"; finish; }

# The intro is black but for the title; the countdown zooms the desk in; the pause banner
# adds white, which pulses, so the wait sees it at its brightest within a few seconds.
wait_for "intro" 120 '$black > 0.7 && $blue > 0.02' || finish
press key Return
wait_for "countdown" 120 '$blue > 0.005 && $cyan > 0.002' || finish
wait_for "play" 120 '$blue > 0.3 && $cyan < 0.001' || finish
play_white=$white
press key p
wait_for "paused" 120 "\$white > $play_white + 0.01" || finish
press key p
# SPACE held through the whole of level 0 ends it in 16 s of play; under valgrind the physics
# moves at most 0.05 s a frame. The red "Level completed!" headline ends the wait.
press keydown space
wait_for "level 0 completed" 1200 '$red > 0.02' || finish
press keyup space
press key Return
wait_for "level 1's countdown" 120 '$red < 0.01 && $cyan > 0.002' || finish

kill -0 "$game_pid" 2>/dev/null && pass || fail "the game ended before ESCAPE"
press key Escape
# The leak check runs after the game's exit and takes a while.
if ! timeout 600 tail -s 0.5 --pid="$game_pid" -f /dev/null; then
    fail "the game still runs 600 s after ESCAPE"
else
    wait "$game_pid"
    status=$? game_pid=
    echo "$(elapsed) s: the game and valgrind have exited"
    if [ "$status" -eq 0 ]; then
        pass
    elif [ "$status" -eq 99 ]; then
        fail "valgrind found errors in the game"
    else
        fail "exit status after ESCAPE is $status, wanted 0"
    fi
fi
finish
