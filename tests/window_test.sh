#!/usr/bin/env bash
# Under tests/with_display.sh: `--windowed --debug` keeps the 640 x 480 window that the game
# asks for instead of switching to the full screen, and ESCAPE still ends the game with 0.
# Usage: window_test.sh GAME
set -u
game=$1
scratch=$(mktemp -d)
game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; [ -s "$scratch/game.log" ] && cat "$scratch/game.log"; exit 1; }

"$game" --windowed --debug </dev/null >"$scratch/game.log" 2>&1 &
game_pid=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || fail "no visible window named Kulimbara within 10 s"
# The full screen would have come with the first turns of the main loop; give it a second.
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
[ "$WIDTH x $HEIGHT" = "640 x 480" ] || fail "window is $WIDTH x $HEIGHT, wanted 640 x 480"
timeout 5 xdotool windowfocus --sync "$win" && xdotool key Escape || fail "could not press ESCAPE"
timeout 5 tail -s 0.05 --pid="$game_pid" -f /dev/null || fail "the game still runs 5 s after ESCAPE"
wait "$game_pid"
status=$? game_pid=
[ "$status" -eq 0 ] || fail "exit status after ESCAPE is $status, wanted 0"
echo "windowed: 640 x 480, ESCAPE ends it with 0"
