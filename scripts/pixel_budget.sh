#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The picture budget of a drawing change: the screenshot tool of the old build and of the new
# one draw the same frames of play (a fixed 60 frames a second, so the same game) at 1920x1080,
# five moments in each level, and at most 0.5 % of a frame's pixels may differ by more than
# 8/255 in any channel. Prints the worst frame of each level, and writes the worst frame of
# all side by side (old, new, the differing pixels in red) to OUT/worst.png.
# Runs on the current display (wrap it in tests/with_display.sh where there is none).
# Usage: pixel_budget.sh OLD_SCREENSHOTS NEW_SCREENSHOTS SHOT_STATS OUT
set -eu
old=$1 new=$2 stats=$3 out=$4
mkdir -p "$out"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-budget-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
budget=0.005 worst_all=-1 worst_frame= failed=0
for level in 0 1 2 3 4 5; do
    worst=-1 worst_at=
    for at in 3 6 9 12 15; do
        for which in old new; do
            mkdir -p "$scratch/$which"
            "${!which}" "$scratch/$which" --size 1920x1080 --play-level "$level" --play-at "$at" --any-frame \
                >/dev/null
        done
        differ=$("$stats" --diff "$scratch/old/play.ppm" "$scratch/new/play.ppm" 8 | awk '{ print $2 }')
        if awk -v d="$differ" -v w="$worst" 'BEGIN { exit !(d > w) }'; then
            worst=$differ worst_at=$at
        fi
        if awk -v d="$differ" -v w="$worst_all" 'BEGIN { exit !(d > w) }'; then
            worst_all=$differ worst_frame="level $level at $at s"
            cp "$scratch/old/play.ppm" "$scratch/worst-old.ppm"
            cp "$scratch/new/play.ppm" "$scratch/worst-new.ppm"
        fi
    done
    verdict=held
    awk -v d="$worst" -v b="$budget" 'BEGIN { exit !(d > b) }' && verdict=OVER failed=1
    printf 'level %d: worst %.4f %% of pixels differ by more than 8/255 (at %s s of play): %s\n' \
        "$level" "$(awk -v d="$worst" 'BEGIN { print d * 100 }')" "$worst_at" "$verdict"
done
compare "$scratch/worst-old.ppm" "$scratch/worst-new.ppm" -fuzz 3.2% -highlight-color red \
    -lowlight-color black "$scratch/mask.png" 2>/dev/null || true
convert "$scratch/worst-old.ppm" "$scratch/worst-new.ppm" "$scratch/mask.png" +append \
    -resize 2880x540 "$out/worst.png"
echo "worst frame: $worst_frame, side by side in $out/worst.png (old, new, differing pixels)"
exit "$failed"
