#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Plays the real game under valgrind's memcheck on the display of tests/with_display.sh: the
# intro, ENTER, level 0 to its end with SPACE held, ENTER into level 1's countdown, ESCAPE. Each
# step waits for what the screen shows (shot_stats.cpp's colour classes). Any memory error or
# definite or possible leak outside the graphics libraries (SUPPRESSIONS) fails the test.
# Usage: memcheck_test.sh GAME SHOT_STATS SUPPRESSIONS
set -u
game=$1 stats=$2 suppressions=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-memcheck-XXXXXX") || exit 1
# The game saves its replay at ESCAPE: into the scratch folder, not the home folder.
export XDG_DATA_HOME=$out/data
game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$out"' EXIT
start=$(date +%s)
fail() {
    echo "FAIL: $*"
    [ -s "$out/valgrind.log" ] && cat "$out/valgrind.log"
    cat "$out/game.log"
    exit 1
}
wait_for() {  # WHAT SECONDS CONDITION: screenshots until the awk CONDITION on the fractions holds
    local deadline=$(($(date +%s) + $2)) class fraction
    while [ "$(date +%s)" -lt "$deadline" ]; do
        blue= red= white= cyan= black=
        import -depth 8 -window root "ppm:$out/shot.ppm" && "$stats" "$out/shot.ppm" >"$out/stats" &&
            while read -r class fraction; do printf -v "$class" %s "$fraction"; done <"$out/stats"
        if [ -n "$blue" ] && awk "BEGIN { exit !($(eval echo "\"$3\"")) }"; then
            echo "$(($(date +%s) - start)) s: $1"
            return
        fi
        sleep 1
    done
    fail "$1: not on screen within $2 s"
}

# The software renderer draws on the game's own thread: valgrind runs one thread at a time.
export LP_NUM_THREADS=${LP_NUM_THREADS:-0}
valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,possible \
    --errors-for-leak-kinds=definite,possible --keep-debuginfo=yes --num-callers=40 \
    --suppressions="$suppressions" --log-file="$out/valgrind.log" \
    "$game" --max-fps 0 </dev/null >"$out/game.log" 2>&1 &
game_pid=$!
win=$(timeout 180 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
# With no window manager the keys reach the window only once it has the focus.
[ -n "$win" ] && timeout 60 xdotool windowfocus --sync "$win" || fail "no game window to focus"
wait_for "intro" 120 '$black > 0.7 && $blue > 0.02'
xdotool key Return
wait_for "play" 240 '$blue > 0.3 && $cyan < 0.001'
# Under valgrind the physics moves at most 0.05 s a frame; level 0 ends in 16 s of play.
xdotool keydown space
wait_for "level 0 completed" 1200 '$red > 0.02'
xdotool keyup space key Return
wait_for "level 1's countdown" 120 '$red < 0.01 && $cyan > 0.002'
kill -0 "$game_pid" 2>/dev/null || fail "the game ended before ESCAPE"
xdotool key Escape
# The leak check runs after the game's exit and takes a while.
timeout 600 tail -s 0.5 --pid="$game_pid" -f /dev/null || fail "the game still runs 600 s after ESCAPE"
wait "$game_pid"
status=$? game_pid=
sed -n -e '/HEAP SUMMARY/,/ERROR SUMMARY/p' "$out/valgrind.log" | grep -v 'rerun with'
[ "$status" -eq 99 ] && fail "valgrind found errors in the game"
[ "$status" -eq 0 ] || fail "exit status after ESCAPE is $status, wanted 0"
echo "memcheck run took $(($(date +%s) - start)) s"
