#!/usr/bin/env bash
# The real game's replays under tests/with_display.sh: level 0 played to its end with SPACE held
# and released in a rhythm, ENTER into level 1, ESCAPE; the replay it saves (in a scratch
# XDG_DATA_HOME) must verify headless with the score the game named, and must play back in the
# window. A bad file is refused before any window opens.
# Usage: replay_e2e_test.sh GAME SIM SHOT_STATS
set -u
game=$1 sim=$2 stats=$3
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-replay-e2e-XXXXXX") || exit 1
export XDG_DATA_HOME=$out/data HOME=$out
replays=$XDG_DATA_HOME/kulimbara/replays
passes=0 failures=0 game_pid=
trap '[ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null; rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if "${@:2}"; then passes=$((passes + 1)); else fail "$1"; fi; }  # WHAT COMMAND...
finish() {
    [ "$failures" -eq 0 ] || { echo "game output:"; cat "$out"/*.log; }
    echo "$passes passed, $failures failed"
    exit $((failures > 0))
}
start_game() {  # ARGS...: starts the game, waits for its window and focuses it
    "$game" "$@" </dev/null >"$out/game.log" 2>"$out/game.err" &
    game_pid=$!
    local win
    win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
    [ -n "$win" ] || { fail "no game window within 10 s"; finish; }
    timeout 5 xdotool windowfocus --sync "$win" || { fail "could not focus the game window"; finish; }
}
quit_game() {  # ESCAPE; the game must end with status 0 within 3 s (a save may take 2)
    xdotool key Escape
    if timeout 3 tail -s 0.05 --pid="$game_pid" -f /dev/null; then
        wait "$game_pid"
        check "exit status after ESCAPE is 0" [ $? -eq 0 ]
    else
        fail "the game still runs 3 s after ESCAPE"
    fi
    game_pid=
}

printf 'KBREPLAY' >"$out/bad.replay"
"$game" --replay "$out/bad.replay" </dev/null >"$out/bad.log" 2>&1
check "a bad replay: status 2" [ $? -eq 2 ]
check "a bad replay: one line naming the file and the fault" \
    grep -qx "kulimbara: $out/bad.replay: truncated" "$out/bad.log"

start_game
sleep 0.5
xdotool key Return
# Play starts 3.5 s after ENTER. SPACE held and released every 1.5 s ends level 0 in 35 to 40 s
# of play at 25 to 60 frames a second; 52 s leaves room for slow frames.
sleep 3.5
for _ in $(seq 17); do
    xdotool keydown space
    sleep 1.5
    xdotool keyup space
    sleep 1.5
done
xdotool key Return  # level 1's countdown
sleep 1
quit_game

saved=$(sed -n 's/^replay saved: //p' "$out/game.log")
check "the game named one saved replay: '$saved'" [ -f "$saved" ] && [ "$(wc -l <<<"$saved")" -eq 1 ]
name=$(basename "$saved")
check "the replay is in the data folder: $saved" [ "$saved" = "$replays/$name" ]
check "the folder holds the replay alone: $(ls -A "$replays" | tr '\n' ' ')" \
    [ "$(ls -A "$replays")" = "$name" ]
shown=$(sed -n 's/^[0-9-]\{10\}_[0-9-]\{8\}_\([0-9]*\)-unfinished\.replay$/\1/p' <<<"$name")
check "an unfinished game's name with its score: $name" [ -n "$shown" ]

json=$("$sim" --replay "$saved" --json)
check "kulimbara-sim verifies the replay" [ $? -eq 0 ]
echo "$json"
check "level 0 was completed" grep -q '"level":0,"completed":true' <<<"$json"
check "level 1 was reached" grep -q '"level":1,' <<<"$json"
check "the score the game named, $shown, is the score the replay proves" \
    grep -q "\"total_score\":$shown,\"claimed_total\":$shown,\"verified\":true" <<<"$json"
frames=$(grep -o '"frames":[0-9]*' <<<"$json" | awk -F: '{ n += $2 } END { print n }')
echo "replay: $(stat -c %s "$saved") bytes, $frames frames"

# Watched at four times the pace, the desk is in play within a few seconds.
start_game --replay "$saved"
xdotool key f
sleep 4
import -depth 8 -window root "ppm:$out/watch.ppm" && "$stats" "$out/watch.ppm" >"$out/watch.stats"
blue=$(awk '$1 == "blue" { print $2 }' "$out/watch.stats")
check "watching: the desk fills the screen (blue $blue)" awk "BEGIN { exit !(${blue:-0} > 0.3) }"
check "watching saves no replay" [ "$(ls -A "$replays")" = "$name" ]
quit_game
finish
