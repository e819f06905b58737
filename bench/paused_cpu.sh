#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the game costs at rest: full screen on the current display, ENTER, then P once the
# countdown is over; prints the processor time (user and system, every thread) that the paused
# game takes over SECONDS of wall time, as a share of one core.
# Usage: paused_cpu.sh GAME [SECONDS] [GAME OPTIONS...]
set -u
game=$1 seconds=${2:-10}
shift $(($# < 2 ? $# : 2))
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-paused-XXXXXX") || exit 1
game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$scratch"' EXIT

XDG_DATA_HOME=$scratch/data KULIMBARA_FRAME_TIMES=$scratch/frames "$game" "$@" </dev/null >"$scratch/game.log" 2>&1 &
game_pid=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || { echo "paused_cpu: no game window"; cat "$scratch/game.log"; exit 1; }
timeout 5 xdotool windowfocus --sync "$win"
sleep 1
xdotool key Return
sleep 4.5  # the countdown
xdotool key p
sleep 1
ticks() {  # utime + stime of the whole process, in clock ticks
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$game_pid/stat"
}
before=$(ticks) start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks) end=$(date +%s.%N)
xdotool key Escape
timeout 5 tail -s 0.1 --pid="$game_pid" -f /dev/null
game_pid=
awk -v b="$before" -v a="$after" -v s="$start" -v e="$end" -v hz="$(getconf CLK_TCK)" \
    -v args="$*" 'BEGIN {
        printf "paused%s%s: %.0f %% of one core (%.2f s of processor time in %.2f s)\n",
            args == "" ? "" : " with ", args, 100 * (a - b) / hz / (e - s), (a - b) / hz, e - s }'
# The frames of the last SECONDS of play, the pause: the game wrote their lengths at its end.
awk -v s="$seconds" '{ t[NR] = $1 }
    END { for (i = NR; i > 0 && sum + t[i] <= s * 1e6; i--) { sum += t[i]; n++ }
          if (n > 0) printf "%d frames in the last %.2f s of the pause: %.1f a second\n", n, sum / 1e6, n / (sum / 1e6) }' \
    "$scratch/frames"
