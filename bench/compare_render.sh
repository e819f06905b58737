#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Two builds of the render benchmark side by side: each level's frames per second at 1920x1080
# and full quality, the two binaries alternated ROUNDS times in one run so that the machine's
# moods weigh on both alike, then the median of each. Runs on the current display.
# Usage: compare_render.sh OLD_BENCH NEW_BENCH [ROUNDS] [SECONDS]
set -eu
old=$1 new=$2 rounds=${3:-3} seconds=${4:-2}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-compare-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
for round in $(seq "$rounds"); do
    for which in old new; do
        "${!which}" --levels "$seconds" | sed -n 's/^1920x1080  \(.*\): \([0-9.]*\) fps.*/\1\t\2/p' \
            >>"$scratch/$which"
    done
done
median() {  # NAME FILE
    awk -F'\t' -v n="$1" '$1 == n { print $2 }' "$2" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
printf '%-24s %8s %8s %7s\n' "1920x1080, median of $rounds" old new change
cut -f1 "$scratch/old" | awk '!seen[$0]++' | while read -r name; do
    o=$(median "$name" "$scratch/old") n=$(median "$name" "$scratch/new")
    printf '%-24s %8.1f %8.1f %+6.1f%%\n' "$name" "$o" "$n" "$(awk -v o="$o" -v n="$n" 'BEGIN { print (n - o) / o * 100 }')"
done
