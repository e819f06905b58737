#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole game's results, recorded: all six levels in a row under a few key patterns, 300 s
# each at most, as the simulator's --json reports them. Any change to the levels, the physics
# or the scoring that alters how a game plays out changes them. When that is the intent,
# `make golden` records the new results; review the diff of the file before committing it.
# Usage: golden_test.sh SIMULATOR GOLDEN_FILE [--write]
set -euo pipefail
sim=$1 golden=$2 write=${3:-}
patterns=(up down toggle:10 toggle:30 toggle:45 toggle:90)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for keys in "${patterns[@]}"; do
    "$sim" --all --keys "$keys" --max-time 300 --json >"$scratch/run.json"
    jq -S --arg keys "$keys" '{($keys): .}' "$scratch/run.json" >"$scratch/$keys.json"
done
(cd "$scratch" && jq -S -s add "${patterns[@]/%/.json}" >all.json)

if [ "$write" = "--write" ]; then
    cp "$scratch/all.json" "$golden"
    echo "recorded $(jq 'length' "$golden") key patterns in $golden"
    exit 0
fi
if diff -u "$golden" "$scratch/all.json" >"$scratch/diff"; then
    echo "${#patterns[@]} passed, 0 failed"
else
    head -60 "$scratch/diff"
    echo "The game plays differently from the recorded results. If that is intended, run"
    echo "'make golden' and commit tests/golden/sim.json with the change."
    echo "0 passed, 1 failed"
    exit 1
fi
