#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Under tests/with_display.sh: `--windowed --debug` keeps the 640 x 480 window that the game
# asks for instead of switching to the full screen, and ESCAPE still ends the game with 0.
# Then a machine without a sound device: the game plays silently, ends with 0 on ESCAPE, and
# says so in at most one line, with none of the audio libraries' own messages.
# Usage: window_test.sh GAME
set -u
game=$1
scratch=$(mktemp -d)
game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; [ -s "$scratch/game.log" ] && cat "$scratch/game.log"; exit 1; }
export XDG_DATA_HOME=$scratch/data

start_game() {  # starts the game with stderr in game.err, and waits for its window
    "$game" --max-fps 0 --windowed --debug </dev/null >"$scratch/game.log" 2>"$scratch/game.err" &
    game_pid=$!
    win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
    [ -n "$win" ] || fail "no visible window named Kulimbara within 10 s"
}
quit_game() {  # ESCAPE must end it with 0
    timeout 5 xdotool windowfocus --sync "$win" && xdotool key Escape || fail "could not press ESCAPE"
    timeout 5 tail -s 0.05 --pid="$game_pid" -f /dev/null || fail "the game still runs 5 s after ESCAPE"
    wait "$game_pid"
    status=$? game_pid=
    [ "$status" -eq 0 ] || fail "exit status after ESCAPE is $status, wanted 0"
}

start_game
# The full screen would have come with the first turns of the main loop; give it a second.
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
[ "$WIDTH x $HEIGHT" = "640 x 480" ] || fail "window is $WIDTH x $HEIGHT, wanted 640 x 480"
quit_game
echo "windowed: 640 x 480, ESCAPE ends it with 0"

# Only ALSA, with no card configured: OpenAL finds no device, and both libraries would complain.
printf 'drivers = alsa\n' >"$scratch/alsoft.conf"
: >"$scratch/asound.conf"
ALSOFT_CONF=$scratch/alsoft.conf ALSA_CONFIG_PATH=$scratch/asound.conf start_game
sleep 1
quit_game
cat "$scratch/game.err"
[ "$(wc -l <"$scratch/game.err")" -le 1 ] || fail "more than one line on standard error"
grep -q 'AL lib\|ALSA' "$scratch/game.err" && fail "the audio libraries' messages reached the terminal"
echo "no sound device: silent, ESCAPE ends it with 0, at most one line on standard error"
