#!/usr/bin/env bash
# Plays the start of level 0 on the real game under tests/with_display.sh: intro, ENTER, the
# countdown with a pause, play, SPACE held then released, ESCAPE; judges each screenshot by its
# colour classes (shot_stats.cpp). KULIMBARA_KEEP_SHOTS keeps the shots' scratch folder.
# Usage: e2e_test.sh GAME SHOT_STATS
set -u
game=$1 stats=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-e2e-XXXXXX") || exit 1
# The game saves its replay at ESCAPE: into the scratch folder, not the home folder.
export XDG_DATA_HOME=$out/data
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
    [ "$failures" -eq 0 ] || { echo "game output:"; cat "$out/game.log"; }
    echo "$passes passed, $failures failed"
    exit $((failures > 0))
}
shot() {  # NAME: screenshot of the whole screen; its colour fractions in NAME_CLASS variables
    local class fraction
    import -depth 8 -window root "ppm:$out/$1.ppm" && "$stats" "$out/$1.ppm" >"$out/$1.stats" ||
        { fail "screenshot $1"; : >"$out/$1.stats"; }
    for class in blue shadow yellow red white cyan black; do printf -v "$1_$class" ''; done
    while read -r class fraction; do printf -v "$1_$class" %s "$fraction"; done <"$out/$1.stats"
    echo "$1: $(tr '\n' ' ' <"$out/$1.stats")"
}
differ() { "$stats" --diff "$out/$1.ppm" "$out/$2.ppm" | awk '{ print $2 }'; }  # SHOT SHOT
at() {  # SECONDS: sleep until that long after ENTER
    sleep "$(awk -v d="$1" -v t="$enter" -v n="$(date +%s.%N)" 'BEGIN { print (t + d > n ? t + d - n : 0) }')"
}
press() { check "xdotool $*" xdotool "$@"; }  # keys go to the focused game window

"$game" </dev/null >"$out/game.log" 2>&1 &
game_pid=$!
win=$(timeout 10 xdotool search --sync --onlyvisible --name '^Kulimbara$' | head -1)
[ -n "$win" ] || { fail "no visible window named Kulimbara on display $DISPLAY within 10 s"; finish; }

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
# With no window manager the keys reach the window only once it has the focus.
timeout 5 xdotool windowfocus --sync "$win" || { fail "could not focus the game window"; finish; }

sleep 0.5
shot intro
expect "intro draws no desk, so the screen stays mostly black" "$intro_black" ">" 0.7
expect "intro: the title's blue letters" "$intro_blue" ">" 0.02
expect "intro: the yellow romanised title" "$intro_yellow" ">" 0.003

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
expect "countdown: the growing blue-green 3" "$countdown_cyan" ">" 0.01
expect "countdown: the ball counter's white label" "$countdown_white" ">" 0.0005
expect "paused: the white PAUSE banner" "$paused_white - $countdown_white" ">" 0.01
# Play starts 3.5 s after ENTER, the first ball landing within a second; look once "PLAY!"
# (1.5 s from then) has faded, before slow frames may make the quality control drop shadows.
at 5.1
shot play
expect "play: desk blue fills much of the screen" "$play_blue" ">" 0.3
expect "play: yellow blocks" "$play_yellow" ">" 0.1
# Without shadows only the holes and the far end count (0.01 of the screen, 0.04 with them).
expect "play: shadows darken the desk" "$play_shadow" ">" 0.025
expect "play: little black background is left" "$play_black" "<" 0.6
expect "play: the ball counter's white label" "$play_white" ">" 0.0005
expect "countdown: the desk has appeared" "$countdown_blue" ">" 0.005
expect "countdown: the desk is still zooming in, smaller than in play" \
    "$countdown_blue / $play_blue" "<" 0.6

# The desk tilts at 15 degrees a second between -5 (SPACE up) and +5 (SPACE held).
press keydown space
at 7.0
shot held
press keyup space
at 9.0
shot released
expect "held: the desk is still in view" "$held_blue" ">" 0.3
expect "holding SPACE tilts the desk: play and held differ" "$(differ play held)" ">" 0.15
expect "releasing SPACE tilts it back: held and released differ" "$(differ held released)" ">" 0.15
# Back at the tilt of play only the ball, the pulsing gates and dropped shadows (0.04) differ.
expect "released: the desk is back at the tilt of play" "$(differ play released)" "<" 0.12
# The ball lands behind a wall of the maze and rolls out of its cover within a few seconds.
expect "a red ball (about 150 pixels) in play, held or released" \
    "$(printf '%s\n' "$play_red" "$held_red" "$released_red" | sort -g | tail -1)" ">" 0.00008

check "the game ended before ESCAPE" kill -0 "$game_pid"
press key Escape
if ! timeout 1 tail -s 0.05 --pid="$game_pid" -f /dev/null; then
    fail "the game still runs 1 s after ESCAPE"
else
    wait "$game_pid"
    status=$? game_pid=
    check "exit status after ESCAPE is $status, wanted 0" [ "$status" -eq 0 ]
fi
finish
