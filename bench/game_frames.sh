#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real game's frame times on level 0: full screen on the current display, ENTER, 20 s of
# play from the end of the countdown with SPACE held and released every 1.5 s, ESCAPE. Prints
# the frames' median and 99th percentile, from the times the game itself measured, and the
# quality levels it drew them at.
# Usage: game_frames.sh GAME [SECONDS]
set -u
game=$1 seconds=${2:-20}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-frames-XXXXXX") || exit 1
game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$scratch"' EXIT

XDG_DATA_HOME=$scratch/data KULIMBARA_FRAME_TIMES=$scratch/frames "$game" --max-fps 0 </dev/null \
    >"$scratch/game.log" 2>&1 &
game_pid=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || { echo "game_frames: no game window"; exit 1; }
timeout 5 xdotool windowfocus --sync "$win"
sleep 1
xdotool key Return
sleep 3.5  # the countdown
end=$((SECONDS + seconds))
space=keydown
while [ "$SECONDS" -lt "$end" ]; do
    xdotool "$space" space
    [ "$space" = keydown ] && space=keyup || space=keydown
    sleep 1.5
done
xdotool keyup space key Escape
timeout 5 tail -s 0.1 --pid="$game_pid" -f /dev/null
game_pid=
read -r width height < <(xdotool getdisplaygeometry)
sort -n "$scratch/frames" | awk -v w="$width" -v h="$height" '
    { t[NR] = $1; sum += $1 }
    END {
        if (NR == 0) { print "game_frames: no frame of play was measured"; exit 1 }
        median = t[int((NR + 1) / 2)]; p99 = t[int(NR * 0.99 + 0.999)]
        printf "%dx%d  the real game, level 0, quality as it chose: %d frames, %.1f fps; frame time median %.1f ms, p99 %.1f ms\n",
            w, h, NR, NR / (sum / 1e6), median / 1000, p99 / 1000
    }'
# The quality controller's steps, in the order of play: where it began, where it settled and how
# far into play its last step came.
awk 'NR == 1 { first = $2; q = $2 }
     $2 != q { steps++; at = t; q = $2 }
     { t += $1 }
     END { printf "quality level %d at the start, %d at the end, %d steps, the last %.1f s into play\n",
               first, q, steps, at / 1e6 }' "$scratch/frames"
