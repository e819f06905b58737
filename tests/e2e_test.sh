#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real game under tests/with_display.sh, in one run: intro, ENTER, the countdown with a
# pause, play, SPACE held then released, then held and released in a rhythm to the end of level
# 0, ENTER into level 1, ESCAPE. The screenshots are judged by their colour classes
# (shot_stats.cpp) once the game has ended, so that judging them slows no frame. The replay the
# game saves (in a scratch XDG_DATA_HOME) must verify headless with the score the game named and
# play back in the window; a bad file is refused before any window opens.
# The game's sound goes to a WAV file through OpenAL's wave writer; it must be heard, never clip,
# and every landing, gate chime, countdown beep and tune that the game logged must begin a loud
# onset in it.
# KULIMBARA_KEEP_SHOTS keeps the scratch folder. Usage: e2e_test.sh GAME SIM SHOT_STATS WAV_STATS
set -u
game=$1 sim=$2 stats=$3 wav_stats=$4
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-e2e-XXXXXX") || exit 1
export XDG_DATA_HOME=$out/data HOME=$out
replays=$XDG_DATA_HOME/kulimbara/replays
passes=0 failures=0 game_pid=
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null
    [ -n "${KULIMBARA_KEEP_SHOTS:-}" ] || { rm -rf "$out"; return; }
    for ppm in "$out"/*.ppm; do [ -e "$ppm" ] && /usr/bin/convert "$ppm" "${ppm%.ppm}.png"; done
    echo "screenshots kept in $out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { if "${@:2}"; then passes=$((passes + 1)); else fail "$1"; fi; }  # WHAT COMMAND...
expect() {  # WHAT VALUE OP LIMIT: VALUE an awk expression, OP < or >; a missing value fails
    check "$1: measured $2, wanted $3 $4" awk "BEGIN { v = $2; exit !(\"$3\" == \"<\" ? v < $4 : v > $4) }"
}
finish() {
    [ "$failures" -eq 0 ] || { echo "game output:"; cat "$out"/*.log; }
    echo "$passes passed, $failures failed"
    exit $((failures > 0))
}
shot() { import -depth 8 -window root "ppm:$out/$1.ppm" || fail "screenshot $1"; }  # NAME
measure() {  # NAME...: each shot's colour fractions in NAME_CLASS variables
    local name class fraction
    for name; do
        "$stats" "$out/$name.ppm" >"$out/$name.stats" || : >"$out/$name.stats"
        for class in blue shadow yellow red white cyan black; do printf -v "${name}_$class" ''; done
        while read -r class fraction; do printf -v "${name}_$class" %s "$fraction"; done <"$out/$name.stats"
        echo "$name: $(tr '\n' ' ' <"$out/$name.stats")"
    done
}
differ() { "$stats" --diff "$out/$1.ppm" "$out/$2.ppm" | awk '{ print $2 }'; }  # SHOT SHOT
at() {  # SECONDS: sleep until that long after ENTER
    sleep "$(awk -v d="$1" -v t="$enter" -v n="$(date +%s.%N)" 'BEGIN { print (t + d > n ? t + d - n : 0) }')"
}
press() { check "xdotool $*" xdotool "$@"; }  # keys go to the focused game window
start_game() {  # ARGS...: starts the game, waits for its window and focuses it (sets win)
    "$game" --max-fps 0 "$@" </dev/null >"$out/game.log" 2>&1 &
    game_pid=$!
    win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
    [ -n "$win" ] || { fail "no visible window named Kulimbara on display $DISPLAY within 10 s"; finish; }
    # With no window manager the keys reach the window only once it has the focus.
    timeout 5 xdotool windowfocus --sync "$win" || { fail "could not focus the game window"; finish; }
}
quit_game() {  # ESCAPE; the game must end with status 0 within 3 s (a save may take 2)
    check "the game ended before ESCAPE" kill -0 "$game_pid"
    press key Escape
    if timeout 3 tail -s 0.05 --pid="$game_pid" -f /dev/null; then
        wait "$game_pid"
        local status=$?
        check "exit status after ESCAPE is $status, wanted 0" [ "$status" -eq 0 ]
    else
        fail "the game still runs 3 s after ESCAPE"
    fi
    game_pid=
}

printf 'KBREPLAY' >"$out/bad.replay"
"$game" --max-fps 0 --replay "$out/bad.replay" </dev/null >"$out/bad.log" 2>&1
check "a bad replay: status 2" [ $? -eq 2 ]
check "a bad replay: one line naming the file and the fault" \
    grep -qx "kulimbara: $out/bad.replay: truncated" "$out/bad.log"

# OpenAL writes what it would play to a file, mixing at the pace of the wall clock.
wave_output() {  # NAME: an OpenAL configuration that writes NAME.wav
    printf 'drivers = wave\nperiod_size = 256\n[wave]\nfile = %s\n' "$out/$1.wav" >"$out/$1.conf"
    echo "$out/$1.conf"
}

ALSOFT_CONF=$(wave_output game) KULIMBARA_SOUND_LOG=$out/voices.log start_game
# Full screen: the window moves to the top left corner and grows to the size of the screen
# soon after it appears (the display has no window manager).
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
X='' Y='' WIDTH=0 HEIGHT=0
for _ in $(seq 30); do
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [ "$X,$Y $WIDTH x $HEIGHT" = "0,0 $screen_w x $screen_h" ] && break || sleep 0.1
done
check "full screen: window is $WIDTH x $HEIGHT at $X,$Y, screen $screen_w x $screen_h" \
    [ "$X,$Y $WIDTH x $HEIGHT" = "0,0 $screen_w x $screen_h" ]

sleep 0.5
shot intro
press key Return
enter=$(date +%s.%N)
at 1.0
shot countdown
# The pause banner is brightest 1.6 s after ENTER, nearly so at 2 s (time for slow frames);
# the countdown runs on while paused, so the pause is lifted again before play begins.
press key p
at 2.0
shot paused
press key p
# Play starts 3.5 s after ENTER, the first ball landing within a second. SPACE is held and
# released every 1.5 s from then on, which ends level 0 in 30 to 45 s of play at 25 to 60
# frames a second; the desk tilts at 15 degrees a second between -5 (SPACE up) and +5 (held),
# so it rests 0.7 s after each change. Look once "PLAY!" (1.5 s from the start) has faded,
# before slow frames may make the quality control drop shadows.
at 3.5
press keydown space
at 5.0
press keyup space
at 6.0
shot play
at 6.5
press keydown space
at 7.5
shot held
at 8.0
press keyup space
at 9.0
shot released
# The end of level 0 shows its red banner, usually 30 to 50 s after ENTER; a ball caught in a
# corner of the maze can take longer, and 100 s after ENTER is given up.
for k in $(seq 0 30); do
    at "$((3 * k + 9)).5"
    xdotool keydown space
    at "$((3 * k + 11))"
    xdotool keyup space
    shot now
    measure now
    awk "BEGIN { exit !(${now_red:-0} > 0.003) }" && break
done
press key Return  # level 1's countdown
sleep 1
quit_game

measure intro countdown paused play held released
expect "intro draws no desk, so the screen stays mostly black" "$intro_black" ">" 0.7
expect "intro: the title's blue letters" "$intro_blue" ">" 0.02
expect "intro: the yellow romanised title" "$intro_yellow" ">" 0.003
expect "countdown: the growing blue-green 3" "$countdown_cyan" ">" 0.01
expect "countdown: the ball counter's white label" "$countdown_white" ">" 0.0005
expect "countdown: the desk has appeared" "$countdown_blue" ">" 0.005
expect "countdown: the desk is still zooming in, smaller than in play" \
    "$countdown_blue / $play_blue" "<" 0.6
expect "paused: the white PAUSE banner" "$paused_white - $countdown_white" ">" 0.01
expect "play: desk blue fills much of the screen" "$play_blue" ">" 0.3
expect "play: yellow blocks" "$play_yellow" ">" 0.1
# Without shadows only the holes and the far end count (0.01 of the screen, 0.04 with them).
expect "play: shadows darken the desk" "$play_shadow" ">" 0.025
expect "play: little black background is left" "$play_black" "<" 0.6
expect "play: the ball counter's white label" "$play_white" ">" 0.0005
expect "held: the desk is still in view" "$held_blue" ">" 0.3
expect "holding SPACE tilts the desk: play and held differ" "$(differ play held)" ">" 0.15
expect "releasing SPACE tilts it back: held and released differ" "$(differ held released)" ">" 0.15
# Back at the tilt of play only the ball, the pulsing gates and dropped shadows (0.04) differ.
expect "released: the desk is back at the tilt of play" "$(differ play released)" "<" 0.12
# The ball lands behind a wall of the maze and rolls out of its cover within a few seconds.
expect "a red ball (about 150 pixels) in play, held or released" \
    "$(printf '%s\n' "$play_red" "$held_red" "$released_red" | sort -g | tail -1)" ">" 0.00008

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

# The sound of the game played: heard, never clipped, and each landing, gate chime, countdown
# beep and tune at its time. (No key rhythm scores a gate in level 0's maze; the chimes' pitches
# and the gates' voices are tested headless.)
sound=$("$wav_stats" "$out/game.wav" "$out/voices.log" thud chime beep go level_done)
echo "$sound"
figure() { awk -v f="$1" -v n="${2:-2}" '$1 == f { print $n }' <<<"$sound"; }  # NAME [FIELD]
expect "the game's sound is heard: peak dBFS" "$(figure peak)" ">" -20
expect "the game's sound is heard: RMS dBFS" "$(figure rms)" ">" -60
check "the game's sound never clips: $(figure clipped) samples at full scale" [ "$(figure clipped)" = 0 ]
expect "landings, beeps and tunes logged" "$(figure onsets 3)" ">" 6
check "a landing was logged" grep -q " thud " "$out/voices.log"
check "each logged voice begins an onset within 50 ms: $(figure onsets 2) of $(figure onsets 3)" \
    [ "$(figure onsets 2)" = "$(figure onsets 3)" ]

# Watched at four times the pace, the desk is in play within a few seconds.
ALSOFT_CONF=$(wave_output watch) start_game --replay "$saved"
press key f
sleep 4
shot watch
quit_game
measure watch
expect "watching: the desk fills the screen" "$watch_blue" ">" 0.3
check "watching saves no replay, not even at ESCAPE" [ "$(ls -A "$replays")" = "$name" ]
finish
