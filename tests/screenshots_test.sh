#!/usr/bin/env bash
# Runs scripts/screenshots.sh with a built screenshots program into a scratch folder and
# judges the three pictures by their size and colour classes (shot_stats.cpp): each shows
# its screen, not a black or cut-off frame.
# Usage: screenshots_test.sh SCREENSHOTS SHOT_STATS
set -u
tool=$1 stats=$2
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-screenshots-test-XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

KULIMBARA_SCREENSHOTS_TOOL=$tool "$root/scripts/screenshots.sh" "$out" || fail "screenshots.sh"

# NAME, then CLASS OP LIMIT triples: the fraction of the picture in a colour class.
judge() {
    local name=$1 class op limit value
    shift
    [ -s "$out/$name.png" ] || { fail "$name.png missing"; return; }
    local size
    size=$(identify -format %wx%h "$out/$name.png")
    [ "$size" = 1280x720 ] || fail "$name.png is $size, not 1280x720"
    convert "$out/$name.png" "ppm:$out/$name.ppm" && "$stats" "$out/$name.ppm" >"$out/$name.stats" ||
        { fail "$name: no colour statistics"; return; }
    echo "$name: $(tr '\n' ' ' <"$out/$name.stats")"
    while [ $# -ge 3 ]; do
        class=$1 op=$2 limit=$3
        shift 3
        value=$(awk -v c="$class" '$1 == c { print $2 }' "$out/$name.stats")
        awk -v v="$value" -v op="$op" -v l="$limit" 'BEGIN { exit !(op == "<" ? v < l : v > l) }' ||
            fail "$name: $class $value, wanted $op $limit"
    done
}

# The intro: the blue title and yellow name on black, no desk.
judge intro black '>' 0.8 blue '>' 0.02 blue '<' 0.15 yellow '>' 0.003
# Play: the desk, its yellow blocks and the score, red balls, a gate's points in blue-green.
judge play blue '>' 0.12 yellow '>' 0.01 red '>' 0.0002 cyan '>' 0.005
# The end screen: "Game over!" in red over the score, no desk.
judge end black '>' 0.85 red '>' 0.01 yellow '>' 0.002 blue '<' 0.005

echo "$failures failed"
exit $((failures > 0))
