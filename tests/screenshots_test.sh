#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs scripts/screenshots.sh with a built screenshots program into a scratch folder and judges
# the three pictures by size and colour classes (shot_stats.cpp): each shows its screen. Then
# draws them in windows narrower than 4:3 and checks that nothing runs off the sides.
# Usage: screenshots_test.sh SCREENSHOTS SHOT_STATS
set -u
tool=$1 stats=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-screenshots-test-XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
KULIMBARA_SCREENSHOTS_TOOL=$tool "$(dirname "$0")/../scripts/screenshots.sh" "$out" ||
    fail "screenshots.sh"

judge() {  # NAME CONDITION: an awk condition on the picture's colour fractions
    [ "$(identify -format %wx%h "$out/$1.png")" = 1280x720 ] || fail "$1.png is not 1280x720"
    convert "$out/$1.png" "ppm:$out/$1.ppm" && "$stats" "$out/$1.ppm" >"$out/$1.stats" ||
        { fail "$1: no colour statistics"; return; }
    echo "$1: $(tr '\n' ' ' <"$out/$1.stats")"
    awk "{ v[\$1] = \$2 } END { exit !($2) }" "$out/$1.stats" || fail "$1: wanted $2"
}
# The intro: the blue title and yellow name on black, no desk.
judge intro 'v["black"] > 0.8 && v["blue"] > 0.02 && v["blue"] < 0.15 && v["yellow"] > 0.003'
# Play: the desk, its yellow blocks and the score, red balls, a gate's points in blue-green.
judge play 'v["blue"] > 0.12 && v["yellow"] > 0.01 && v["red"] > 0.0002 && v["cyan"] > 0.005'
# The end screen: "Game over!" in red over the score, no desk.
judge end 'v["black"] > 0.85 && v["red"] > 0.01 && v["yellow"] > 0.002 && v["blue"] < 0.005'
# Windows narrower than 4:3, landscape and portrait, show as much across as a 4:3 window of their
# width: the title, the head-up display, the desk and the end screen keep clear of both sides.
for size in 1280x1024 1024x1280; do
    mkdir -p "$out/$size"
    KULIMBARA_SCREEN=1280x1280x24 "$(dirname "$0")/with_display.sh" "$tool" "$out/$size" \
        --size "$size" >/dev/null || { fail "screenshots at $size"; continue; }
    for shot in intro play end; do
        read -r _ left right width < <("$stats" --ink "$out/$size/$shot.ppm")
        echo "$size $shot: ink from column $left to $right of $width"
        margin=$((width / 100))
        [ "$left" -ge "$margin" ] && [ $((width - 1 - right)) -ge "$margin" ] ||
            fail "$size $shot: ink within 1 % of a side"
    done
done
echo "$failures failed"
[ "$failures" -eq 0 ]
