#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Draws the README's pictures: the intro, a moment of play on level 1 and the end screen with
# a name typed, as PNG files in OUTDIR (default docs/screenshots). The game is drawn at
# 1920x1080 on a virtual display with Mesa's software renderer and scaled down to 1280x720,
# which smooths its edges. KULIMBARA_SCREENSHOTS_TOOL names a screenshots program already
# built; without it the script builds build/screenshots first.
# Usage: scripts/screenshots.sh [OUTDIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshots}
tool=${KULIMBARA_SCREENSHOTS_TOOL:-}
if [ -z "$tool" ]; then
    [ -f "$root/build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" --target screenshots -j "$(nproc 2>/dev/null || echo 2)"
    tool=$root/build/screenshots
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kulimbara-screenshots-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
KULIMBARA_SCREEN=1920x1080x24 "$root/tests/with_display.sh" "$tool" "$scratch" --size 1920x1080

mkdir -p "$out"
for name in intro play end; do
    convert "$scratch/$name.ppm" -resize 1280x720 -strip -define png:compression-level=9 \
        "$scratch/$name.png"
    mv "$scratch/$name.png" "$out/$name.png"
    echo "$out/$name.png: $(stat -c %s "$out/$name.png") bytes"
done
