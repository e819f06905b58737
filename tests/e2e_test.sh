#!/usr/bin/env bash
# Plays the start of level 0 on the real game, on the display that tests/with_display.sh made:
# intro, ENTER, the countdown with a pause, play, SPACE held then released, ESCAPE. Each
# screenshot is judged by the fractions of its pixels in the game's colour classes (see
# shot_stats.cpp). The shots go to a scratch folder of the test's own, removed at the end
# unless KULIMBARA_KEEP_SHOTS is set.
# Usage: e2e_test.sh GAME SHOT_STATS
set -u
game=$1 stats=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-e2e-XXXXXX") || exit 1
passes=0 failures=0 game_pid=
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null
    if [ -n "${KULIMBARA_KEEP_SHOTS:-}" ]; then echo "screenshots kept in $out"; else rm -rf "$out"; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # WHAT COMMAND...: passes when the command succeeds
    local what=$1
    shift
    if "$@"; then passes=$((passes + 1)); else fail "$what"; fi
}
expect() {  # WHAT VALUE OP LIMIT, OP being < or >
    check "$1: measured ${2:-nothing}, wanted $3 $4" \
        awk -v v="${2:-x}" -v op="$3" -v l="$4" \
        'BEGIN { exit !(v != "x" && (op == "<" ? v + 0 < l : v + 0 > l)) }'
}
finish() {
    if [ -n "${KULIMBARA_KEEP_SHOTS:-}" ]; then
        for ppm in "$out"/*.ppm; do [ -e "$ppm" ] && /usr/bin/convert "$ppm" "${ppm%.ppm}.png"; done
    fi
    [ "$failures" -eq 0 ] || { echo "game output:"; cat "$out/game.log"; }
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
    exit
}
shot() {  # NAME: screenshot of the whole screen and its colour fractions in NAME.stats
    if ! import -depth 8 -window root "ppm:$out/$1.ppm" || ! "$stats" "$out/$1.ppm" >"$out/$1.stats"
    then fail "screenshot $1"; : >"$out/$1.stats"; fi
    echo "$1: $(tr '\n' ' ' <"$out/$1.stats")"
}
fraction() { awk -v c="$2" '$1 == c { print $2 }' "$out/$1.stats"; }  # SHOT CLASS
differ() { "$stats" --diff "$out/$1.ppm" "$out/$2.ppm" | awk '{ print $2 }'; }  # SHOT SHOT
now() { date +%s.%N; }
after() { awk -v t="$1" -v d="$2" 'BEGIN { printf "%.3f", t + d }'; }  # TIME SECONDS
before() { awk -v t="$1" -v n="$(now)" 'BEGIN { exit !(n < t) }'; }
sleep_until() { sleep "$(awk -v t="$1" -v n="$(now)" 'BEGIN { print (t > n ? t - n : 0) }')"; }
press() { check "xdotool $*" xdotool "$@"; }  # keys go to the focused game window

"$game" </dev/null >"$out/game.log" 2>&1 &
game_pid=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || { fail "no visible window named Kulimbara on display $DISPLAY within 10 s"; finish; }

# Full screen: the window grows to the size of the screen soon after it appears.
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
WIDTH=0 HEIGHT=0
for _ in $(seq 30); do
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [ "$WIDTH x $HEIGHT" = "$screen_w x $screen_h" ] && break
    sleep 0.1
done
check "full screen: window is $WIDTH x $HEIGHT, screen $screen_w x $screen_h" \
    [ "$WIDTH x $HEIGHT" = "$screen_w x $screen_h" ]
# With no window manager the keys reach the window only once it has the focus.
timeout 5 xdotool windowfocus --sync "$win" || { fail "could not focus the game window"; finish; }

sleep 0.5
shot intro
expect "intro draws no desk, so the screen stays mostly black" "$(fraction intro black)" ">" 0.7
expect "intro: the title's blue letters" "$(fraction intro blue)" ">" 0.02
expect "intro: the yellow romanised title" "$(fraction intro yellow)" ">" 0.003

press key Return
enter=$(now)
sleep_until "$(after "$enter" 1.0)"
shot countdown
# The pause shows over every state; its white banner is at its brightest 1.6 s after ENTER
# and still nearly so at 2 s, which leaves slow frames time to show it. The countdown runs on
# while paused, so the pause is lifted again before play begins.
press key p
sleep_until "$(after "$enter" 2.0)"
shot paused
press key p
expect "countdown: the growing blue-green 3" "$(fraction countdown cyan)" ">" 0.01
expect "countdown: the ball counter's white label" "$(fraction countdown white)" ">" 0.0005
expect "paused: the white PAUSE banner" \
    "$(awk -v p="$(fraction paused white)" -v c="$(fraction countdown white)" 'BEGIN { print p - c }')" \
    ">" 0.01
# Play starts 3.5 s after ENTER; the first ball falls onto the far end and lands within a second.
# The automatic quality control may give up shadows after 6 s of slow frames, so look now,
# once the growing "PLAY!" (1.5 s from 3.5 s on) has faded.
sleep_until "$(after "$enter" 5.1)"
shot play
expect "play: desk blue fills much of the screen" "$(fraction play blue)" ">" 0.3
expect "play: yellow blocks" "$(fraction play yellow)" ">" 0.1
# Block and ball shadows halve the desk's brightness; without them only the holes and the
# desk's far end count here (about 0.01 of the screen, against 0.04 with shadows).
expect "play: shadows darken the desk" "$(fraction play shadow)" ">" 0.025
expect "play: little black background is left" "$(fraction play black)" "<" 0.6
expect "play: the ball counter's white label" "$(fraction play white)" ">" 0.0005
expect "countdown: the desk has appeared" "$(fraction countdown blue)" ">" 0.005
expect "countdown: the desk is still zooming in, smaller than in play" \
    "$(awk -v c="$(fraction countdown blue)" -v p="$(fraction play blue)" 'BEGIN { print c / p }')" \
    "<" 0.6

# The desk tilts at 15 degrees a second between -5 (SPACE up) and +5 (SPACE held).
press keydown space
sleep_until "$(after "$enter" 7.0)"
shot held
press keyup space
sleep_until "$(after "$enter" 9.0)"
shot released
expect "held: the desk is still in view" "$(fraction held blue)" ">" 0.3
play_held=$(differ play held) held_released=$(differ held released)
play_released=$(differ play released)
echo "changed pixels: play-held $play_held held-released $held_released play-released $play_released"
expect "holding SPACE tilts the desk: play and held differ" "$play_held" ">" 0.15
expect "releasing SPACE tilts it back: held and released differ" "$held_released" ">" 0.15
# Back at the tilt of play only the ball, the pulsing gates and, on a slow machine, shadows
# given up by the quality control (0.04 of the screen) differ.
expect "released: the desk is back at the tilt of play" "$play_released" "<" 0.12
# The ball lands behind a wall of the maze and rolls out of its cover within a few seconds.
expect "a red ball (about 150 pixels) in play, held or released" \
    "$(for s in play held released; do fraction $s red; done | sort -g | tail -1)" ">" 0.00008

check "the game ended before ESCAPE" kill -0 "$game_pid"
press key Escape
escape=$(now)
while kill -0 "$game_pid" 2>/dev/null && before "$(after "$escape" 1.0)"; do sleep 0.05; done
if kill -0 "$game_pid" 2>/dev/null; then
    fail "the game still runs 1 s after ESCAPE"
else
    wait "$game_pid"
    status=$?
    game_pid=
    check "exit status after ESCAPE is $status, wanted 0" [ "$status" -eq 0 ]
fi
finish
